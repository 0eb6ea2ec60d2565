// The calls of SyscallTrace.h, defined here in front of the C library's.
// Each definition passes the call on to the next definition in the symbol
// search (the C library's, or a sanitizer's interceptor that in turn comes
// back to the C library), so the program behaves as it would without us.
#include "tests/support/SyscallTrace.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> tracing{false};
std::mutex lock;
std::string marker;
std::vector<testsupport::SyscallEvent> events;

template <class Function> Function* Next(const char* name) {
  return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

std::string PathOfDescriptor(int fd) {
  char buffer[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string PathAt(int dirfd, const char* path) {
  if (path == nullptr) return {};
  if (path[0] == '/' || dirfd == AT_FDCWD) return path;
  return PathOfDescriptor(dirfd) + "/" + path;
}

void Record(testsupport::SyscallEvent event) {
  std::lock_guard<std::mutex> guard(lock);
  if (!tracing) return;
  if (event.path.find(marker) == std::string::npos && event.to.find(marker) == std::string::npos)
    return;
  events.push_back(std::move(event));
}

void RecordOnDescriptor(const char* call, int fd, int64_t bytes) {
  if (tracing) Record({call, PathOfDescriptor(fd), {}, bytes});
}

void RecordRename(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
  if (tracing) Record({"rename", PathAt(olddirfd, oldpath), PathAt(newdirfd, newpath), 0});
}

} // namespace

namespace testsupport {

void StartSyscallTrace(const std::string& folderMarker) {
  std::lock_guard<std::mutex> guard(lock);
  marker = folderMarker;
  events.clear();
  tracing = true;
}

std::vector<SyscallEvent> StopSyscallTrace() {
  std::lock_guard<std::mutex> guard(lock);
  tracing = false;
  return std::move(events);
}

} // namespace testsupport

extern "C" {

ssize_t write(int fd, const void* buffer, size_t count) {
  static auto* const next = Next<ssize_t(int, const void*, size_t)>("write");
  const ssize_t written = next(fd, buffer, count);
  if (written > 0) RecordOnDescriptor("write", fd, written);
  return written;
}

// The sync is recorded before it runs: what counts is that it was asked for
// before the rename, whatever it returned.
int fsync(int fd) {
  static auto* const next = Next<int(int)>("fsync");
  RecordOnDescriptor("fsync", fd, 0);
  return next(fd);
}

int fdatasync(int fd) {
  static auto* const next = Next<int(int)>("fdatasync");
  RecordOnDescriptor("fsync", fd, 0);
  return next(fd);
}

int rename(const char* oldpath, const char* newpath) noexcept {
  static auto* const next = Next<int(const char*, const char*)>("rename");
  RecordRename(AT_FDCWD, oldpath, AT_FDCWD, newpath);
  return next(oldpath, newpath);
}

int renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) noexcept {
  static auto* const next = Next<int(int, const char*, int, const char*)>("renameat");
  RecordRename(olddirfd, oldpath, newdirfd, newpath);
  return next(olddirfd, oldpath, newdirfd, newpath);
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
              unsigned int flags) noexcept {
  static auto* const next = Next<int(int, const char*, int, const char*, unsigned)>("renameat2");
  RecordRename(olddirfd, oldpath, newdirfd, newpath);
  return next(olddirfd, oldpath, newdirfd, newpath, flags);
}

} // extern "C"
