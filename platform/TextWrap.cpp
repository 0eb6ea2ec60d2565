#include "TextWrap.h"

namespace platform {
namespace {

// Length of the UTF-8 character at `s[i]`; a broken sequence counts as one
// byte, so that every byte is consumed.
size_t CharLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  const size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  if (i + n > s.size()) return 1;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return n;
}

// Characters from the CJK radicals (U+2E80) on: ideographs, kana, hangul and
// the full-width forms. A line may break before and after each of them.
bool IsWide(std::string_view ch) {
  if (ch.size() < 3) return false;
  const auto b0 = static_cast<unsigned char>(ch[0]), b1 = static_cast<unsigned char>(ch[1]);
  return b0 > 0xE2 || (b0 == 0xE2 && b1 >= 0xBA);
}

bool IsBlank(std::string_view ch) {
  return ch == " " || ch == "\t";
}

bool IsIn(std::string_view ch, std::string_view set) {
  for (size_t i = 0; i < set.size(); i += CharLength(set, i))
    if (set.substr(i, CharLength(set, i)) == ch) return true;
  return false;
}

constexpr std::string_view kClosing = "，。、；：？！）」』】》〉”’…％,.;:?!)]}";
constexpr std::string_view kOpening = "（「『【《〈“‘([{";

bool MayBreakBetween(std::string_view before, std::string_view after) {
  if (IsBlank(after) || IsIn(after, kClosing) || IsIn(before, kOpening)) return false;
  return IsBlank(before) || IsWide(before) || IsWide(after);
}

// The pieces of a paragraph that stay on one line: a word with the blanks
// after it, or one wide character, with the punctuation bound to it.
std::vector<std::string> Pieces(std::string_view para) {
  std::vector<std::string> pieces(1);
  std::string_view before;
  for (size_t i = 0; i < para.size();) {
    const std::string_view ch = para.substr(i, CharLength(para, i));
    i += ch.size();
    if (!before.empty() && MayBreakBetween(before, ch)) pieces.emplace_back();
    pieces.back() += ch;
    before = ch;
  }
  return pieces;
}

std::string TrimEnd(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.pop_back();
  return s;
}

void WrapParagraph(std::string_view para, double maxWidth,
                   const std::function<double(std::string_view)>& width,
                   std::vector<std::string>& lines) {
  std::string line;
  for (const std::string& piece : Pieces(para)) {
    if (!line.empty() && width(TrimEnd(line + piece)) > maxWidth) {
      lines.push_back(TrimEnd(line));
      line.clear();
    }
    line += piece;
    // A piece too wide for a line of its own is cut between characters,
    // keeping at least one character on each line.
    while (width(TrimEnd(line)) > maxWidth) {
      size_t fit = CharLength(line, 0);
      while (fit < line.size()) {
        const size_t next = fit + CharLength(line, fit);
        if (width(std::string_view(line).substr(0, next)) > maxWidth) break;
        fit = next;
      }
      if (fit >= line.size()) break;
      lines.push_back(line.substr(0, fit));
      line.erase(0, fit);
    }
  }
  lines.push_back(TrimEnd(line));
}

} // namespace

std::vector<std::string> WrapText(std::string_view text, double maxWidth,
                                  const std::function<double(std::string_view)>& width) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find_first_of("\r\n", start);
    WrapParagraph(text.substr(start, end == std::string_view::npos ? end : end - start), maxWidth,
                  width, lines);
    if (end == std::string_view::npos) break;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

} // namespace platform
