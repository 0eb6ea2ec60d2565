#pragma once
// The run log for administrators: one line per event of a run (start, the
// manifest and its offer, each download, each check of a package, each
// install step, every error, the end with the exit status), so that what
// happened on a machine nobody watches can be told afterwards.
//
// Each line is UTF-8: local time to the millisecond, the process id in
// brackets, then the event. A line is appended in one write, so two
// updaters that run at once do not tear each other's lines. When the file
// reaches 1 MiB it becomes "<file>.1" (replacing an older one) and a new
// file starts.
//
// The log never fails the run: when its file cannot be written, the next
// candidate is tried (the temporary folder), and when none can be, lines are
// dropped.
#include <cstdint>
#include <string>
#include <vector>

class TRunLog {
public:
  static constexpr int64_t kRotateSize = 1 << 20;

  // The files to write to, in order of preference (ANSI paths; empty ones
  // are skipped). Nothing is written yet.
  void Open(std::vector<std::string> candidates);

  // Appends one line; `ansiText` is ANSI text, line breaks in it become
  // blanks. Never raises.
  void Write(const std::string& ansiText) noexcept;

  // The file lines go to; empty before Open and when none can be written.
  std::string File() const;

private:
  bool Append(const std::string& file, const std::string& line);

  std::vector<std::string> candidates_;
  size_t current_ = 0;
};

// `url` without user name and password, which must never reach the log.
std::string UrlForLog(const std::string& url);
