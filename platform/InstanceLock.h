#pragma once
// One updater per working folder: an exclusive lock that a process holds
// for its whole run. The system releases it when the process ends, also when
// it is killed, so a crash never leaves the folder locked.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace platform {

class TInstanceLock {
public:
  // Takes the lock named by `lockFile` (ANSI) without waiting. Linux: flock
  // on that file, created (mode 0600) when missing; a symbolic link in its
  // place is refused. Windows: a named mutex of the session whose name is
  // derived from the path; no file is made.
  //
  // Returns nullptr when another holder has it: another process, or another
  // TInstanceLock of this process. Raises Exception when the lock cannot be
  // made at all. On Windows the thread that takes the lock releases it.
  static std::unique_ptr<TInstanceLock> TryAcquire(const std::string& lockFile);

  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

private:
  TInstanceLock(intptr_t handle, std::string name) : handle_(handle), name_(std::move(name)) {}

  // The lock file's descriptor (POSIX) or the mutex handle (Windows).
  intptr_t handle_;
  std::string name_;
};

} // namespace platform
