#include "app/RunLog.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "platform/Process.h"

#include <algorithm>
#include <exception>
#include <utility>

void TRunLog::Open(std::vector<std::string> candidates) {
  candidates.erase(std::remove(candidates.begin(), candidates.end(), std::string()),
                   candidates.end());
  candidates_ = std::move(candidates);
  current_ = 0;
}

std::string TRunLog::File() const {
  return current_ < candidates_.size() ? candidates_[current_] : std::string();
}

bool TRunLog::Append(const std::string& file, const std::string& line) {
  const int64_t size = platform::FileSize(file);
  if (size > 0 && size + static_cast<int64_t>(line.size()) > kRotateSize)
    platform::RenameFile(file, file + ".1");
  return platform::AppendToFile(file, line);
}

void TRunLog::Write(const std::string& ansiText) noexcept {
  try {
    std::string text = ansiText;
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    const std::string line = platform::LocalTimeStamp() + " [" +
                             std::to_string(platform::CurrentProcessId()) + "] " +
                             platform::AnsiToUtf8(text) + "\n";
    while (current_ < candidates_.size() && !Append(candidates_[current_], line))
      ++current_;
  } catch (const std::exception&) {
    // A log that cannot be written is skipped.
  }
}

std::string UrlForLog(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t hostEnd = std::min(url.find_first_of("/?#", hostStart), url.size());
  if (hostEnd <= hostStart) return url;
  const size_t at = url.rfind('@', hostEnd - 1);
  if (at == std::string::npos || at < hostStart) return url;
  return url.substr(0, hostStart) + url.substr(at + 1);
}
