// The portable part of the process unit: the words of a batch line.
#include "Process.h"

namespace platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

} // namespace

std::vector<std::string> SplitBatchLine(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    std::string word;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      const char c = line[i];
      if (!quoted && IsBlank(c)) break;
      if (c == '%' && i + 1 < line.size() && line[i + 1] == '%') {
        word.push_back(c);
        ++i;
      } else if (c != '"') {
        word.push_back(c);
      } else if (!quoted) {
        quoted = true;
      } else if (i + 1 == line.size() || IsBlank(line[i + 1])) {
        quoted = false;
      } else {
        word.push_back(c);
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string EscapeBatchText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  // GBK trail bytes are never 0x25, so every '%' byte is the character.
  for (char c : text) {
    out.push_back(c);
    if (c == '%') out.push_back('%');
  }
  return out;
}

} // namespace platform
