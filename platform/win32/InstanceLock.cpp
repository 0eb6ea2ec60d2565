// The instance lock on Windows: a named mutex of the session, named after
// the lock file's path (letter case folded, as the file system folds it).
// The system hands a mutex whose owner ended without releasing it to the
// next waiter as abandoned, which counts as taken.
//
// A mutex may be taken again by the thread that owns it, which a file lock
// may not; the names this process holds are kept, so that a second lock of
// the same name in this process is refused as on Linux.
#include "platform/InstanceLock.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/PlatformTexts.h"
#include "platform/TextFormat.h"
#include "platform/win32/SystemError.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <set>

namespace platform {
namespace {

std::mutex heldGuard;
std::set<std::string>& HeldNames() {
  static std::set<std::string> names;
  return names;
}

// "Local\ZorvaUpdate-<64-bit FNV-1a of the path>": a mutex name may hold no
// backslash after its namespace and is limited in length, a path is not.
std::string MutexName(const std::string& lockFile) {
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < lockFile.size(); ++i) {
    auto c = static_cast<unsigned char>(lockFile[i]);
    if (IsDBCSLeadByte(c) && i + 1 < lockFile.size()) {
      hash = (hash ^ c) * 1099511628211ull;
      c = static_cast<unsigned char>(lockFile[++i]);
    } else if (c >= 'a' && c <= 'z') {
      c = static_cast<unsigned char>(c - 'a' + 'A');
    } else if (c == '/') {
      c = '\\';
    }
    hash = (hash ^ c) * 1099511628211ull;
  }
  char name[64];
  std::snprintf(name, sizeof name, "Local\\ZorvaUpdate-%016llx",
                static_cast<unsigned long long>(hash));
  return name;
}

} // namespace

std::unique_ptr<TInstanceLock> TInstanceLock::TryAcquire(const std::string& lockFile) {
  const std::string name = MutexName(lockFile);
  std::lock_guard<std::mutex> guard(heldGuard);
  if (HeldNames().count(name) != 0) return nullptr;
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr)
    throw Exception(
        FormatText(texts::kLockNotMade, lockFile, win32::SystemErrorText(GetLastError())));
  const DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    HeldNames().insert(name);
    return std::unique_ptr<TInstanceLock>(
        new TInstanceLock(reinterpret_cast<intptr_t>(mutex), name));
  }
  const DWORD error = GetLastError();
  CloseHandle(mutex);
  if (wait == WAIT_TIMEOUT) return nullptr;
  throw Exception(FormatText(texts::kLockNotMade, lockFile, win32::SystemErrorText(error)));
}

TInstanceLock::~TInstanceLock() {
  const auto mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  std::lock_guard<std::mutex> guard(heldGuard);
  HeldNames().erase(name_);
}

} // namespace platform
