// The portable part of the atomic replacement: the names of its temporary
// files, "<prefix><name>.tmp<process id>-<counter>" beside the target (the
// prefix is "." on POSIX, "~" on Windows).
#include "AtomicFile.h"

#include "Paths.h"

namespace platform {
namespace {

constexpr char kTemporaryPrefix = PathDelim == '/' ? '.' : '~';

bool AllDigits(const std::string& s, size_t begin, size_t end) {
  if (begin >= end) return false;
  for (size_t i = begin; i < end; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

} // namespace

std::optional<std::string> ReplacementLeftoverTarget(const std::string& fileName) {
  if (fileName.size() < 2 || fileName[0] != kTemporaryPrefix) return std::nullopt;
  const size_t dash = fileName.rfind('-');
  const size_t tmp = fileName.rfind(".tmp", dash);
  if (dash == std::string::npos || tmp == std::string::npos || tmp < 2 ||
      !AllDigits(fileName, tmp + 4, dash) || !AllDigits(fileName, dash + 1, fileName.size()))
    return std::nullopt;
  return fileName.substr(1, tmp - 1);
}

} // namespace platform
