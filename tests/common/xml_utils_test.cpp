#include "common/ZorvaXMLUtils.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace std::string_literals;

namespace {

// Plays a locale with another decimal separator for one test.
class DecimalSeparatorScope {
public:
  explicit DecimalSeparatorScope(char separator) : saved_(GetXmlDecimalSeparator()) {
    SetXmlDecimalSeparator(separator);
  }
  ~DecimalSeparatorScope() { SetXmlDecimalSeparator(saved_); }
  DecimalSeparatorScope(const DecimalSeparatorScope&) = delete;
  DecimalSeparatorScope& operator=(const DecimalSeparatorScope&) = delete;

private:
  char saved_;
};

std::string ReadAll(TMemoryStream& stream) {
  return std::string(stream.Memory(), static_cast<std::size_t>(stream.GetSize()));
}

TMemoryStream StreamOf(const std::string& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

// A stream that hands out at most two bytes per read, as a pipe or a socket
// may: short reads before the end must not be taken for the end.
class TrickleStream : public TMemoryStream {
public:
  int32_t Read(void* buffer, int32_t count) override {
    return TMemoryStream::Read(buffer, count < 2 ? count : 2);
  }
};

} // namespace

TEST(XmlEscape, MarkupCharactersBecomeEntities) {
  EXPECT_EQ(EscapeXmlText("a<b&c'd", false), "a&lt;b&amp;c&apos;d");
  EXPECT_EQ(EscapeXmlText("\"x\">", false), "&quot;x&quot;&gt;");
  EXPECT_EQ(EscapeXmlText("", false), "");
}

TEST(XmlEscape, LineBreaksFollowTheFlagAndOtherBytesPass) {
  EXPECT_EQ(EscapeXmlText("a\r\nb\tc", false), "a\r\nb\tc");
  EXPECT_EQ(EscapeXmlText("a\r\nb\tc", true), "a&#xD;&#xA;b\tc");
  // GBK trail bytes start at 0x40, above every markup character.
  const std::string chinese = platform::Utf8ToAnsi("升级说明");
  EXPECT_EQ(EscapeXmlText(chinese, true), chinese);
}

TEST(XmlUnescape, EachEntityIsDecodedOnceLeftToRight) {
  EXPECT_EQ(UnescapeXmlText("&amp;lt;", false), "&lt;");
  EXPECT_EQ(UnescapeXmlText("&&lt;", false), "&<");
  EXPECT_EQ(UnescapeXmlText("&lt;&gt;&amp;&apos;&quot;", false), "<>&'\"");
  EXPECT_EQ(UnescapeXmlText("&amp;amp;amp;", false), "&amp;amp;");
  EXPECT_EQ(UnescapeXmlText("x&lt", false), "x&lt");
}

TEST(XmlUnescape, UnknownAndMiscasedReferencesStay) {
  for (const char* text : {"&LT;", "&#xa;", "&#60;", "&#x3C;", "&nbsp;", "a & b", "&"})
    EXPECT_EQ(UnescapeXmlText(text, true), text) << text;
}

TEST(XmlUnescape, LineBreakReferencesFollowTheFlag) {
  EXPECT_EQ(UnescapeXmlText("a&#xA;b&#xD;", false), "a&#xA;b&#xD;");
  EXPECT_EQ(UnescapeXmlText("a&#xA;b&#xD;", true), "a\nb\r");
  EXPECT_EQ(UnescapeXmlText("&amp;#xA;", true), "&#xA;");
}

TEST(XmlUnescape, NulBytesAreDropped) {
  EXPECT_EQ(UnescapeXmlText("a\0b"s, false), "ab");
  EXPECT_EQ(UnescapeXmlText("\0"s, false), "");
  // A NUL inside an entity keeps it from matching; the entity's letters stay.
  EXPECT_EQ(UnescapeXmlText("&am\0p;&lt;"s, false), "&amp;<");
}

TEST(XmlUnescape, EscapeThenUnescapeGivesTheInputBack) {
  std::mt19937 random(7);
  const std::string alphabet = "<>&'\";#xAD\r\n\t la\x81\xA1";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i)
      text += alphabet[random() % alphabet.size()];
    for (bool lineBreaks : {false, true})
      ASSERT_EQ(UnescapeXmlText(EscapeXmlText(text, lineBreaks), lineBreaks), text)
          << "text=" << text << " lineBreaks=" << lineBreaks;
  }
}

TEST(XmlFindTextFrom, FindsMatchesStartingInsidePartialOnes) {
  // "<!-- a --->": the comment's end is found at the second hyphen.
  EXPECT_EQ(FindTextFrom("-->", "<!-- a --->", 5), 9);
  EXPECT_EQ(FindTextFrom("]]>", "x]]]]>", 1), 4);
  EXPECT_EQ(FindTextFrom("ab", "abab", 2), 3);
  EXPECT_EQ(FindTextFrom("ab", "abab", 3), 3);
}

TEST(XmlFindTextFrom, ReturnsZeroWhenNothingCanMatch) {
  EXPECT_EQ(FindTextFrom("", "abc", 1), 0);
  EXPECT_EQ(FindTextFrom("ab", "abab", 4), 0);
  EXPECT_EQ(FindTextFrom("ab", "abab", 50), 0);
  EXPECT_EQ(FindTextFrom("abc", "ab", 1), 0);
  EXPECT_EQ(FindTextFrom("B", "abc", 1), 0);
  EXPECT_THROW(FindTextFrom("a", "a", 0), EAssertionFailed);
}

TEST(XmlBoolText, OnlyTrueInAnyCaseReadsAsTrue) {
  EXPECT_EQ(BoolToXmlText(true), "True");
  EXPECT_EQ(BoolToXmlText(false), "False");
  for (const char* text : {"True", "true", "TRUE", "tRuE"})
    EXPECT_TRUE(XmlTextToBool(text)) << text;
  for (const char* text : {"False", "", " True", "True ", "1", "yes", "Truex", "Tru"})
    EXPECT_FALSE(XmlTextToBool(text)) << text;
}

TEST(XmlFloatText, GeneralFormWithFifteenDigits) {
  EXPECT_EQ(FloatToXmlText(1.5L), "1.5");
  EXPECT_EQ(FloatToXmlText(-2.25L), "-2.25");
  EXPECT_EQ(FloatToXmlText(100.0L), "100");
  EXPECT_EQ(FloatToXmlText(0.0L), "0");
  EXPECT_EQ(FloatToXmlText(1.5e20L), "1.5E20");
  EXPECT_EQ(FloatToXmlText(1e15L), "1E15");
  EXPECT_EQ(FloatToXmlText(999999999999999.0L), "999999999999999");
  EXPECT_EQ(FloatToXmlText(0.00001L), "0.00001");
  EXPECT_EQ(FloatToXmlText(0.000001L), "1E-6");
  EXPECT_EQ(FloatToXmlText(-1.25e-7L), "-1.25E-7");
  EXPECT_EQ(FloatToXmlText(1.0L / 3.0L), "0.333333333333333");
  EXPECT_EQ(FloatToXmlText(2.0L / 3.0L), "0.666666666666667");
  // Rounding to 15 digits can carry into a new digit.
  EXPECT_EQ(FloatToXmlText(9.9999999999999999L), "10");
  EXPECT_EQ(FloatToXmlText(0.1L), "0.1");
}

TEST(XmlFloatText, ReadsTheGeneralFormAndRejectsOtherText) {
  DecimalSeparatorScope point('.');
  EXPECT_EQ(XmlTextToFloat("1.5"), 1.5L);
  EXPECT_EQ(XmlTextToFloat(" -2.5E3 "), -2500.0L);
  EXPECT_EQ(XmlTextToFloat("1.5E20"), 1.5e20L);
  EXPECT_EQ(XmlTextToFloat("+.5"), 0.5L);
  EXPECT_EQ(XmlTextToFloat("7e-2"), 0.07L);
  for (const char* text : {"", "abc", "1.5x", "1E", "-", ".", "1 5", "1,5"})
    EXPECT_EQ(XmlTextToFloat(text), 0.0L) << text;
  EXPECT_TRUE(std::isinf(XmlTextToFloat("1E99999")));
  EXPECT_LT(XmlTextToFloat("-1E99999"), 0.0L);
  EXPECT_EQ(XmlTextToFloat("1E-99999"), 0.0L);
}

TEST(XmlFloatText, RoundTripsAtFifteenDigitsAndNonFiniteValues) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int i = 0; i < 500; ++i) {
    const long double value = mantissa(random) * std::pow(10.0L, exponent(random));
    const std::string text = FloatToXmlText(value);
    const long double back = XmlTextToFloat(text);
    ASSERT_NEAR(static_cast<double>(back / value), 1.0, 1e-14) << text;
    ASSERT_EQ(FloatToXmlText(back), text);
  }
  EXPECT_TRUE(
      std::isnan(XmlTextToFloat(FloatToXmlText(std::numeric_limits<long double>::quiet_NaN()))));
  EXPECT_EQ(XmlTextToFloat(FloatToXmlText(-std::numeric_limits<long double>::infinity())),
            -std::numeric_limits<long double>::infinity());
}

TEST(XmlFloatText, CommaLocaleStillWritesAndReadsAPoint) {
  DecimalSeparatorScope comma(',');
  EXPECT_EQ(FloatToXmlText(1.5L), "1.5");
  EXPECT_EQ(FloatToXmlText(-1234.0625L), "-1234.0625");
  EXPECT_EQ(XmlTextToFloat("1.5"), 1.5L);
  // A text that honoured the locale is understood as well.
  EXPECT_EQ(XmlTextToFloat("1,5"), 1.5L);
  EXPECT_EQ(XmlTextToFloat("1.5.2"), 0.0L);
}

TEST(XmlInt64Text, StopsAtTheFirstNonDigit) {
  EXPECT_EQ(XmlTextToInt64(""), 0);
  EXPECT_EQ(XmlTextToInt64("  -17"), -17);
  EXPECT_EQ(XmlTextToInt64("+8"), 8);
  EXPECT_EQ(XmlTextToInt64("12ab"), 12);
  EXPECT_EQ(XmlTextToInt64("3.9"), 3);
  EXPECT_EQ(XmlTextToInt64("abc"), 0);
  EXPECT_EQ(XmlTextToInt64("- 5"), 0);
  EXPECT_EQ(XmlTextToInt64("0"), 0);
  EXPECT_EQ(XmlTextToInt64("007"), 7);
}

TEST(XmlInt64Text, ReadsHexadecimalPrefixes) {
  EXPECT_EQ(XmlTextToInt64("$1F"), 31);
  EXPECT_EQ(XmlTextToInt64("x1f"), 31);
  EXPECT_EQ(XmlTextToInt64("X10"), 16);
  EXPECT_EQ(XmlTextToInt64("0x7fZ"), 127);
  EXPECT_EQ(XmlTextToInt64("0XaB"), 171);
  EXPECT_EQ(XmlTextToInt64("-$10"), -16);
  EXPECT_EQ(XmlTextToInt64("0x"), 0);
  EXPECT_EQ(XmlTextToInt64("$G"), 0);
  EXPECT_EQ(XmlTextToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(XmlTextToInt64("$7FFFFFFFFFFFFFFF"), INT64_MAX);
  EXPECT_EQ(XmlTextToInt64("0x0000000000000000001"), 1);
}

TEST(XmlInt64Text, OutOfRangeDecimalSaturates) {
  EXPECT_EQ(XmlTextToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(XmlTextToInt64("9223372036854775808"), INT64_MAX);
  EXPECT_EQ(XmlTextToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(XmlTextToInt64("-99999999999999999999999"), INT64_MIN);
  EXPECT_EQ(Int64ToXmlText(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(XmlTextToInt64(Int64ToXmlText(INT64_MIN)), INT64_MIN);
}

TEST(XmlBase64, EncodingPadsTheLastGroup) {
  const auto encode = [](const std::string& bytes) {
    TMemoryStream source = StreamOf(bytes);
    return StreamToBase64Text(source);
  };
  EXPECT_EQ(encode(""), "");
  EXPECT_EQ(encode("A"), "QQ==");
  EXPECT_EQ(encode("AB"), "QUI=");
  EXPECT_EQ(encode("ABC"), "QUJD");
  EXPECT_EQ(encode("\xFB\xFF"), "+/8=");

  // Encoding starts at the source's position and writes at the target's.
  TMemoryStream source = StreamOf("xxABC");
  source.SetPosition(2);
  TMemoryStream target = StreamOf(">");
  target.SetPosition(1);
  Base64EncodeStream(source, target);
  EXPECT_EQ(ReadAll(target), ">QUJD");
}

TEST(XmlBase64, ShortReadsAreNotTheEndOfTheSource) {
  TrickleStream bytes;
  bytes.WriteBuffer("ABCDEFG", 7);
  bytes.SetPosition(0);
  EXPECT_EQ(StreamToBase64Text(bytes), "QUJDREVGRw==");

  TrickleStream text;
  text.WriteBuffer("QUJDREVGRw==", 12);
  text.SetPosition(0);
  TMemoryStream decoded;
  EXPECT_TRUE(Base64DecodeStream(text, decoded));
  EXPECT_EQ(ReadAll(decoded), "ABCDEFG");
}

TEST(XmlBase64, DecodingReadsPaddedGroupsAndSkipsOtherBytes) {
  const auto decode = [](const std::string& text, bool expected) {
    TMemoryStream target;
    EXPECT_EQ(Base64TextToStream(text, target), expected) << text;
    return ReadAll(target);
  };
  EXPECT_EQ(decode("QQ==", true), "A");
  EXPECT_EQ(decode("QUI=", true), "AB");
  EXPECT_EQ(decode("QU\r\nJD QQ==", true), "ABCA");
  // Five data characters: the first group, then a lone character.
  EXPECT_EQ(decode("QUJDR", false), "ABC");
  EXPECT_EQ(decode("Q", false), "");
  // Unpadded final groups decode as if padded; stray padding does nothing.
  EXPECT_EQ(decode("QQ", true), "A");
  EXPECT_EQ(decode("QUI", true), "AB");
  EXPECT_EQ(decode("QUJD=", true), "ABC");
  EXPECT_EQ(decode("QQ==QUI=", true), "AAB");
}

TEST(XmlBase64, StreamAndBytesRoundTripAcrossChunkBoundaries) {
  std::mt19937 random(3);
  for (std::size_t size : {0u, 1u, 2u, 3u, 49151u, 49152u, 49153u, 100000u}) {
    std::string bytes(size, '\0');
    for (char& c : bytes)
      c = static_cast<char>(random());
    TMemoryStream source = StreamOf(bytes);
    TMemoryStream text;
    Base64EncodeStream(source, text);
    EXPECT_EQ(static_cast<std::size_t>(text.GetSize()), (size + 2) / 3 * 4);
    text.SetPosition(0);
    TMemoryStream decoded;
    EXPECT_TRUE(Base64DecodeStream(text, decoded));
    EXPECT_EQ(ReadAll(decoded), bytes) << size;

    TXMLBinary value = std::vector<uint8_t>(bytes.begin(), bytes.end());
    std::string encoded;
    BytesToBase64Text(value, encoded);
    TXMLBinary back;
    EXPECT_TRUE(Base64TextToBytes(encoded, back));
    EXPECT_EQ(back, size == 0 ? std::nullopt : value);
  }
}

TEST(XmlBase64, BinaryValueNullAndFailure) {
  TXMLBinary value = std::vector<uint8_t>{1, 2};
  EXPECT_TRUE(Base64TextToBytes("", value));
  EXPECT_FALSE(value.has_value());

  value = std::vector<uint8_t>{1};
  EXPECT_TRUE(Base64TextToBytes("\r\n", value));
  EXPECT_FALSE(value.has_value());

  value = std::vector<uint8_t>{1};
  EXPECT_FALSE(Base64TextToBytes("QUJDR", value));
  EXPECT_FALSE(value.has_value());

  ASSERT_TRUE(Base64TextToBytes("AP8=", value));
  EXPECT_EQ(value, (std::vector<uint8_t>{0x00, 0xFF}));

  std::string text = "stale";
  BytesToBase64Text(std::nullopt, text);
  EXPECT_EQ(text, "");
}
