// Loading a UTF-8 document while it is converted, piece by piece, must give
// what converting the whole text first and parsing it then gives.
#include "common/XMLCodeConversion.h"
#include "common/XMLMessages.h"
#include "common/ZorvaXMLDoc.h"
#include "platform/CodePage.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

// A memory stream that hands out at most `piece` bytes per read, so that
// every byte boundary of a text can fall between two pieces.
class TPieceStream : public TMemoryStream {
public:
  TPieceStream(const std::string& bytes, int32_t piece) : piece_(piece) {
    WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    SetPosition(0);
  }
  int32_t Read(void* buffer, int32_t count) override {
    return TMemoryStream::Read(buffer, std::min(count, piece_));
  }

private:
  int32_t piece_;
};

// What a load leaves: the error text (empty for none), the document as text
// (declaration, version and encoding included) and the stream's position.
struct TOutcome {
  std::string error;
  std::string xml;
  std::string encoding;
  int64_t position = 0;
};

TOutcome Load(TStream& stream) {
  IXMLDocumentRef document = NewXmlDocument(true, false);
  TOutcome outcome;
  try {
    document->LoadFromStream(&stream);
  } catch (const EXMLException& e) {
    outcome.error = e.what();
  }
  outcome.xml = document->GetXML();
  outcome.encoding = document->GetEncoding();
  outcome.position = stream.GetPosition();
  return outcome;
}

// The whole text converted first, then parsed, as a document loads a text
// that claims UTF-8 (or has no declaration) when nothing is streamed.
TOutcome Expected(const std::string& bytes) {
  IXMLDocumentRef document = NewXmlDocument(true, false);
  auto* own = static_cast<TXMLDocument*>(document.get());
  const TXMLEncodingInfo info = DetectXMLEncoding(bytes);
  TOutcome outcome;
  try {
    if (info.found && !info.encoding.empty() && !XMLSameName(info.encoding, "utf-8")) {
      own->SetEncoding(info.encoding);
      own->ParseText(bytes, 1);
    } else if (info.byteOrderMark) {
      const std::string rest = XMLUtf8ToAnsi(std::string_view(bytes).substr(3));
      own->ParseText(rest.empty() ? "" : "?" + rest, rest.empty() ? 1 : 2);
    } else {
      own->ParseText(XMLUtf8ToAnsi(bytes), 1);
    }
  } catch (const EXMLException& e) {
    outcome.error = e.what();
  }
  outcome.xml = document->GetXML();
  outcome.encoding = document->GetEncoding();
  outcome.position = static_cast<int64_t>(bytes.size());
  return outcome;
}

// A character whose GBK form ends in ']': before "]>" it closes a CDATA
// section in the converted text, which the UTF-8 text would not.
std::string CharacterWithTrailBracket() {
  for (uint32_t cp = 0x4E00; cp < 0x9FA5; ++cp) {
    std::string utf8;
    utf8 += static_cast<char>(0xE0 | (cp >> 12));
    utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    const std::string gbk = platform::Utf8ToAnsi(utf8);
    if (gbk.size() == 2 && gbk[1] == ']') return utf8;
  }
  return {};
}

TEST(XmlDocumentLoad, StreamedLoadMatchesConvertingTheWholeText) {
  const std::string bracket = CharacterWithTrailBracket();
  ASSERT_FALSE(bracket.empty());
  const std::string body = "<r a=\"中文值\" b='x'>文本 &lt; 说明<!-- 注释 > -- 仍是注释 -->"
                           "<![CDATA[ <原样> ]] ]]><c 名=\"\xF0\x9F\x98\x80\"/><!DOCTYPE x>尾</r>";
  // Long enough that markup falls on the 64 KiB steps of a plain stream.
  std::string big = kDeclaration + "<list>";
  for (int i = 0; big.size() < 200000; ++i)
    big += "<item n=\"" + std::to_string(i) + "\" 值=\"第" + std::to_string(i) + "项\">说明</item>";
  const std::string bigEnd = big + "</list>";
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"declared", kDeclaration + body},
      {"byte-order mark", kBom + kDeclaration + body},
      {"no declaration", body},
      {"converted bracket ends the section", "<r><![CDATA[x" + bracket + "]>y]]></r>"},
      {"large", bigEnd},
      {"error far in", big + "<>"},
      {"error position after a mark", kBom + big + "<>"},
      {"attribute error after a mark", kBom + big + "<bad x=1>"},
      {"error, then not UTF-8", kDeclaration + "<r><></r>" + std::string(70000, ' ') + "\xC3("},
      {"not UTF-8 far in", big + "\xFF</list>"},
      {"cut off inside a character", kDeclaration + "<r>中\xE6\x96"},
      {"only a mark", kBom},
      {"blanks only", " \r\n\t "},
      {"empty", ""},
      {"encoding far behind the declaration",
       "<?xml version=\"1.0\"?><r>" + std::string(70000, 'x') + "</r><e encoding=\"GBK\"/>"},
      {"long blanks before the declaration",
       std::string(70000, ' ') + "<?xml version=\"1.0\" encoding=\"GBK\"?><r>\xD6\xD0</r>"},
      {"encoding across the first piece",
       "<?xml version=\"1.0\"" + std::string(65536 - 27, ' ') + "encoding=\"utf-8\"?><r>中</r>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TOutcome expected = Expected(c.bytes);
    for (int32_t piece : {1, 2, 3, 5, 7, 1 << 30}) {
      SCOPED_TRACE(piece);
      TPieceStream stream(c.bytes, piece);
      const TOutcome got = Load(stream);
      EXPECT_EQ(expected.error, got.error);
      EXPECT_EQ(expected.xml, got.xml);
      EXPECT_EQ(expected.encoding, got.encoding);
      EXPECT_EQ(expected.position, got.position);
    }
  }
}

// The parts of a UTF-8 text that every other test converts whole.
TEST(XmlDocumentLoad, ConverterCompletesCharactersSplitBetweenPieces) {
  const std::string text = "a中文\xF0\x9F\x98\x80"
                           "é€z";
  const std::string whole = XMLUtf8ToAnsi(text);
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    TXMLUtf8Converter converter;
    std::string out;
    EXPECT_TRUE(converter.Convert(std::string_view(text).substr(0, cut), out));
    EXPECT_EQ(cut == 1 || cut == 4 || cut == 7 || cut == 11 || cut == 13 || cut == 16 ||
                  cut == text.size() || cut == 0,
              converter.Finish())
        << cut;
    EXPECT_TRUE(converter.Convert(std::string_view(text).substr(cut), out));
    EXPECT_TRUE(converter.Finish());
    EXPECT_EQ(whole, out) << cut;
  }
  // Every character of the basic plane between ASCII runs of every length,
  // in pieces of assorted sizes, against the platform's conversion.
  std::string all;
  for (uint32_t cp = 0x80, k = 0; cp < 0x10000; ++cp, ++k) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    all.append(k % 19, 'a');
    if (cp < 0x800) {
      all += static_cast<char>(0xC0 | (cp >> 6));
    } else {
      all += static_cast<char>(0xE0 | (cp >> 12));
      all += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    all += static_cast<char>(0x80 | (cp & 0x3F));
  }
  const std::string expected = platform::Utf8ToAnsi(all);
  ASSERT_FALSE(expected.empty());
  for (size_t piece : {1u, 5u, 64u, 4099u, 65536u}) {
    TXMLUtf8Converter converter;
    std::string out;
    for (size_t at = 0; at < all.size(); at += piece)
      ASSERT_TRUE(converter.Convert(std::string_view(all).substr(at, piece), out));
    EXPECT_TRUE(converter.Finish());
    EXPECT_EQ(expected, out) << piece;
  }

  TXMLUtf8Converter bad;
  std::string out;
  EXPECT_TRUE(bad.Convert("\xE4\xB8", out));
  EXPECT_FALSE(bad.Convert("x", out));
  EXPECT_FALSE(bad.Convert("abc", out));
  EXPECT_FALSE(bad.Finish());
}

// For every prefix of each sample, a decided result is the final one.
TEST(XmlDocumentLoad, EncodingDetectionOnAPrefixDecidesOnlyWhatTheRestCannotChange) {
  const std::string samples[] = {
      kBom + "<r/>",
      "\xEF\xBB",
      " \t\r\n<?xml version=\"1.0\" encoding=\"GBK\"?><r/>",
      "<?xml version='1.0' encoding='GBK'?><r/>",
      "<?xml version=\"1.0\"?><r encoding=\"big5\"/>",
      "<?xml version=\"1.0\" encoding=\"x",
      "<?xml?><r/>",
      "<?xm",
      "<r encoding=\"GBK\"/>",
      "  ",
      "",
  };
  for (const std::string& sample : samples) {
    const TXMLEncodingInfo whole = DetectXMLEncoding(sample);
    for (size_t k = 0; k <= sample.size(); ++k) {
      const auto prefix = DetectXMLEncodingPrefix(sample.substr(0, k), k == sample.size());
      if (k == sample.size()) {
        ASSERT_TRUE(prefix.has_value());
      }
      if (!prefix) continue;
      EXPECT_EQ(whole.found, prefix->found) << sample << " / " << k;
      EXPECT_EQ(whole.byteOrderMark, prefix->byteOrderMark) << sample << " / " << k;
      EXPECT_EQ(whole.encoding, prefix->encoding) << sample << " / " << k;
    }
  }
}

} // namespace
