// The stored text form of floats: the general format with 15 significant
// digits and "." as separator, whatever the user's locale says.
//
// Neither direction goes through the C library's locale-dependent printf or
// strtod: to_chars and from_chars always use "." (MinGW reads through strtold,
// see ReadCanonical). The captured separator of
// the user's locale matters only on reading, where a text written with it
// (by hand, or by a program that honoured the locale) is still understood.
#include "common/ZorvaXMLUtils.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale>
#include <system_error>

namespace {

constexpr int kPrecision = 15;
constexpr int kNotCaptured = -1;

std::atomic<int> gDecimalSeparator{kNotCaptured};

char SeparatorOfUserLocale() {
  try {
    const std::locale user("");
    return std::use_facet<std::numpunct<char>>(user).decimal_point();
  } catch (const std::exception&) {
    // The environment names a locale that is not installed.
    return '.';
  }
}

bool IsBlank(char c) {
  return c == ' ';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool EqualsIgnoringCase(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c =
        (text[i] >= 'a' && text[i] <= 'z') ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
    if (c != upper[i]) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// The parts of a number text after validation, in the form from_chars reads.
struct NumberText {
  std::string canonical; // [-]digits[.digits][e[-]digits]
  bool negative = false;
  bool nonZero = false;    // some digit of the mantissa is not 0
  long long magnitude = 0; // decimal exponent of the first non-zero digit, roughly
};

// Validates `text` (separator already swapped) with `separator` as decimal
// point; false when it is not a number.
bool ScanNumber(std::string_view text, char separator, NumberText& number) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    number.negative = text[i] == '-';
    ++i;
  }
  if (number.negative) number.canonical += '-';

  std::size_t digits = 0;
  long long integerDigits = 0;
  long long leadingFractionZeros = 0;
  bool seenNonZero = false;
  for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) {
    number.canonical += text[i];
    if (text[i] != '0') seenNonZero = true;
    if (seenNonZero) ++integerDigits;
  }
  if (i < text.size() && text[i] == separator) {
    number.canonical += '.';
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits) {
      number.canonical += text[i];
      if (text[i] != '0') seenNonZero = true;
      if (!seenNonZero) ++leadingFractionZeros;
    }
  }
  if (digits == 0) return false;

  long long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      ++i;
    }
    const std::size_t exponentStart = i;
    for (; i < text.size() && IsDigit(text[i]); ++i)
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
    if (i == exponentStart) return false;
    if (negativeExponent) exponent = -exponent;
    number.canonical += 'e';
    number.canonical += std::to_string(exponent);
  }
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  if (i != text.size()) return false;

  number.nonZero = seenNonZero;
  number.magnitude = (integerDigits > 0 ? integerDigits : -leadingFractionZeros) + exponent;
  return true;
}

// Reads the canonical number text whole into `value`. MinGW's libstdc++ reads
// a long double by way of double and loses eleven bits of the mantissa; its C
// library's strtold keeps them, given the C locale's decimal point.
std::errc ReadCanonical(const std::string& canonical, long double& value) {
#ifdef __MINGW32__
  std::string text = canonical;
  const char point = *std::localeconv()->decimal_point;
  for (char& c : text)
    if (c == '.') c = point;
  char* end = nullptr;
  errno = 0;
  value = std::strtold(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return std::errc::invalid_argument;
  return errno == ERANGE ? std::errc::result_out_of_range : std::errc();
#else
  const char* first = canonical.data();
  const char* last = first + canonical.size();
  const auto parsed = std::from_chars(first, last, value, std::chars_format::general);
  if (parsed.ec == std::errc() && parsed.ptr != last) return std::errc::invalid_argument;
  return parsed.ec;
#endif
}

} // namespace

char GetXmlDecimalSeparator() {
  int separator = gDecimalSeparator.load(std::memory_order_acquire);
  if (separator == kNotCaptured) separator = CaptureXmlDecimalSeparator();
  return static_cast<char>(separator);
}

char CaptureXmlDecimalSeparator() {
  const char separator = SeparatorOfUserLocale();
  gDecimalSeparator.store(static_cast<unsigned char>(separator), std::memory_order_release);
  return separator;
}

void SetXmlDecimalSeparator(char separator) {
  gDecimalSeparator.store(static_cast<unsigned char>(separator), std::memory_order_release);
}

std::string FloatToXmlText(long double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";

  // d.dddddddddddddde±x: 15 significant digits, correctly rounded.
  char buffer[64];
  const auto converted = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::scientific, kPrecision - 1);
  const std::string_view scientific(buffer, static_cast<std::size_t>(converted.ptr - buffer));

  std::string_view body = scientific;
  const bool negative = body.front() == '-';
  if (negative) body.remove_prefix(1);
  const std::size_t e = body.find('e');
  std::string digits;
  for (char c : body.substr(0, e))
    if (c != '.') digits += c;
  while (digits.size() > 1 && digits.back() == '0')
    digits.pop_back();
  const int exponent10 = std::atoi(std::string(body.substr(e + 1)).c_str());
  // The value is 0.d1d2... times ten to `point`: `point` integer digits.
  const int point = exponent10 + 1;
  const int count = static_cast<int>(digits.size());

  std::string result;
  if (negative) result += '-';
  if (point >= -4 && point <= kPrecision) {
    if (point <= 0) {
      result += "0.";
      result.append(static_cast<std::size_t>(-point), '0');
      result += digits;
    } else if (count <= point) {
      result += digits;
      result.append(static_cast<std::size_t>(point - count), '0');
    } else {
      result.append(digits, 0, static_cast<std::size_t>(point));
      result += '.';
      result.append(digits, static_cast<std::size_t>(point));
    }
  } else {
    result += digits[0];
    if (count > 1) {
      result += '.';
      result.append(digits, 1);
    }
    result += 'E';
    result += std::to_string(exponent10);
  }
  return result;
}

long double XmlTextToFloat(std::string_view text) {
  if (text.empty()) return 0;

  const std::string_view trimmed = TrimBlanks(text);
  if (EqualsIgnoringCase(trimmed, "NAN")) return std::numeric_limits<long double>::quiet_NaN();
  if (EqualsIgnoringCase(trimmed, "INF") || EqualsIgnoringCase(trimmed, "+INF"))
    return std::numeric_limits<long double>::infinity();
  if (EqualsIgnoringCase(trimmed, "-INF")) return -std::numeric_limits<long double>::infinity();

  const char separator = GetXmlDecimalSeparator();
  std::string swapped(text);
  if (separator != '.') {
    const std::size_t dot = swapped.find('.');
    if (dot != std::string::npos) swapped[dot] = separator;
  }

  NumberText number;
  if (!ScanNumber(swapped, separator, number)) return 0;
  if (!number.nonZero) return number.negative ? -0.0L : 0.0L;

  long double value = 0;
  const std::errc error = ReadCanonical(number.canonical, value);
  if (error == std::errc::result_out_of_range) {
    const long double limit =
        number.magnitude > 0 ? std::numeric_limits<long double>::infinity() : 0.0L;
    return number.negative ? -limit : limit;
  }
  if (error != std::errc()) return 0;
  return value;
}
