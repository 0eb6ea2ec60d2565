// Escaping, search and the text forms of booleans and integers. Floats live in
// XMLFloatText.cpp, Base64 in XMLBase64.cpp.
#include "common/ZorvaXMLUtils.h"

#include "platform/Assert.h"

#include <array>
#include <cstddef>

namespace {

struct Entity {
  std::string_view text;
  char character;
};

// The order is the decoding order; the last two take part only when line
// breaks are escaped.
constexpr std::array<Entity, 7> kEntities{{
    {"&lt;", '<'},
    {"&gt;", '>'},
    {"&amp;", '&'},
    {"&apos;", '\''},
    {"&quot;", '"'},
    {"&#xA;", '\n'},
    {"&#xD;", '\r'},
}};
constexpr std::size_t kMarkupEntities = 5;

// Length of the escaped form of one byte.
std::size_t EscapedLength(char c, bool escapeLineBreaks) {
  switch (c) {
  case '<':
  case '>':
    return 4;
  case '&':
    return 5;
  case '"':
  case '\'':
    return 6;
  case '\n':
  case '\r':
    return escapeLineBreaks ? 5 : 1;
  default:
    return 1;
  }
}

bool IsBlank(char c) {
  return c == ' ';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string EscapeXmlText(std::string_view text, bool escapeLineBreaks) {
  std::size_t length = 0;
  for (char c : text)
    length += EscapedLength(c, escapeLineBreaks);
  if (length == text.size()) return std::string(text);

  std::string result;
  result.reserve(length);
  for (char c : text) {
    switch (c) {
    case '<':
      result += "&lt;";
      break;
    case '>':
      result += "&gt;";
      break;
    case '&':
      result += "&amp;";
      break;
    case '\'':
      result += "&apos;";
      break;
    case '"':
      result += "&quot;";
      break;
    case '\n':
      if (escapeLineBreaks)
        result += "&#xA;";
      else
        result += c;
      break;
    case '\r':
      if (escapeLineBreaks)
        result += "&#xD;";
      else
        result += c;
      break;
    default:
      result += c;
      break;
    }
  }
  return result;
}

// Entities cannot overlap (each holds a single '&', at its start), so decoding
// every listed entity once in one left-to-right pass over the original bytes
// gives what replacing them entity by entity would: a decoded '&' is never the
// start of another entity, and a NUL inside an entity keeps it from matching.
std::string UnescapeXmlText(std::string_view text, bool unescapeLineBreaks) {
  if (text.empty()) return {};
  if (text.find('&') == std::string_view::npos && text.find('\0') == std::string_view::npos)
    return std::string(text);

  const std::size_t entityCount = unescapeLineBreaks ? kEntities.size() : kMarkupEntities;
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '&') {
      const std::string_view rest = text.substr(i);
      bool decoded = false;
      for (std::size_t e = 0; e < entityCount; ++e) {
        if (rest.starts_with(kEntities[e].text)) {
          result += kEntities[e].character;
          i += kEntities[e].text.size();
          decoded = true;
          break;
        }
      }
      if (decoded) continue;
    }
    if (c != '\0') result += c;
    ++i;
  }
  return result;
}

int FindTextFrom(std::string_view pattern, std::string_view text, int start) {
  ZORVA_ASSERT(start >= 1);
  if (pattern.empty()) return 0;
  const std::size_t from = static_cast<std::size_t>(start) - 1;
  if (pattern.size() + from > text.size()) return 0;
  // find() tries every candidate position in turn, so a match that begins
  // inside a partial match ("--->") is found.
  const std::size_t found = text.find(pattern, from);
  return found == std::string_view::npos ? 0 : static_cast<int>(found + 1);
}

std::string BoolToXmlText(bool value) {
  return value ? "True" : "False";
}

bool XmlTextToBool(std::string_view text) {
  constexpr std::string_view kTrue = "true";
  if (text.size() != kTrue.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (AsciiLower(text[i]) != kTrue[i]) return false;
  return true;
}

std::string Int64ToXmlText(int64_t value) {
  return std::to_string(value);
}

int64_t XmlTextToInt64(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }

  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }

  // The magnitude is gathered unsigned; the sign is applied at the end so that
  // INT64_MIN, whose magnitude has no positive form, reads back exactly.
  uint64_t magnitude = 0;
  if (hex) {
    bool overflow = false;
    for (; i < text.size(); ++i) {
      const int digit = HexDigitValue(text[i]);
      if (digit < 0) break;
      if (magnitude >> 60 != 0) overflow = true;
      magnitude = (magnitude << 4) | static_cast<uint64_t>(digit);
    }
    if (overflow) magnitude = UINT64_MAX;
    const uint64_t pattern = negative ? 0 - magnitude : magnitude;
    return static_cast<int64_t>(pattern);
  }

  const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<int64_t>(magnitude);
  return magnitude == (uint64_t{1} << 63) ? INT64_MIN : -static_cast<int64_t>(magnitude);
}
