// The instance lock on POSIX: flock on a lock file. The lock belongs to the
// open file description, so a second open of the same file, in this process
// or another, does not get it while the first is open; no descriptor of ours
// reaches the programs the updater starts (they are spawned with every
// descriptor above 2 closed), so a leftover child never holds it.
#include "platform/InstanceLock.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/PlatformTexts.h"
#include "platform/TextFormat.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {
std::unique_ptr<TInstanceLock> TInstanceLock::TryAcquire(const std::string& lockFile) {
  const int fd = ::open(AnsiToUtf8(lockFile).c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0)
    throw Exception(FormatText(texts::kLockNotMade, lockFile, Utf8ToAnsi(std::strerror(errno))));
  int rc;
  do
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc == 0) return std::unique_ptr<TInstanceLock>(new TInstanceLock(fd, lockFile));
  const int error = errno;
  ::close(fd);
  if (error == EWOULDBLOCK) return nullptr;
  throw Exception(FormatText(texts::kLockNotMade, lockFile, Utf8ToAnsi(std::strerror(error))));
}

TInstanceLock::~TInstanceLock() {
  // Closing the descriptor releases the lock. The file stays: removing it
  // would let a third updater lock a new file while a second still waits on
  // the old one.
  ::close(static_cast<int>(handle_));
}

} // namespace platform
