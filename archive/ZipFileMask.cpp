#include "archive/ZipFileMask.h"

#include "platform/FileMask.h"

namespace {

std::string WithSlashes(std::string text) {
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

} // namespace

bool ZipMaskMatches(const std::string& name, const std::string& mask) {
  if (mask.empty()) return false;
  if (mask.find_first_of("/\\") != std::string::npos)
    return platform::MatchesFileMask(WithSlashes(mask), WithSlashes(name));
  const size_t cut = name.find_last_of("/\\");
  return platform::MatchesFileMask(mask, cut == std::string::npos ? name : name.substr(cut + 1));
}
