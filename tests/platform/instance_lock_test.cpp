// The instance lock: one holder at a time, in this process or another, and
// released when its holder ends, also by a kill.
#include "platform/Exception.h"
#include "platform/InstanceLock.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#endif

namespace {

using platform::TInstanceLock;

TEST(InstanceLock, OneHolderAtATimeAndFreeAgainWhenReleased) {
  testsupport::TempFolder dir;
  const std::string file = dir.Ansi("MQTUpdate.lock");
  auto first = TInstanceLock::TryAcquire(file);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TInstanceLock::TryAcquire(file), nullptr);
  // Another thread of this process is refused as well.
  bool otherThreadGotIt = true;
  std::thread([&] { otherThreadGotIt = TInstanceLock::TryAcquire(file) != nullptr; }).join();
  EXPECT_FALSE(otherThreadGotIt);
  // Another name is another lock.
  EXPECT_NE(TInstanceLock::TryAcquire(dir.Ansi("other.lock")), nullptr);
  first.reset();
  EXPECT_NE(TInstanceLock::TryAcquire(file), nullptr);
}

#ifndef _WIN32
TEST(InstanceLock, AnotherProcessIsRefusedUntilItsHolderIsKilled) {
  testsupport::TempFolder dir;
  const std::string file = dir.Ansi("MQTUpdate.lock");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const auto lock = TInstanceLock::TryAcquire(file);
    const char got = lock ? '1' : '0';
    (void)!::write(ready[1], &got, 1);
    ::pause();
    ::_exit(0);
  }
  char got = 0;
  ASSERT_EQ(::read(ready[0], &got, 1), 1);
  EXPECT_EQ(got, '1');
  EXPECT_EQ(TInstanceLock::TryAcquire(file), nullptr);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_NE(TInstanceLock::TryAcquire(file), nullptr);
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(InstanceLock, ALinkInThePlaceOfTheFileOrAMissingFolderCannotBeLocked) {
  testsupport::TempFolder dir;
  dir.Write("elsewhere", "not a lock");
  std::filesystem::create_symlink(dir.Utf8("elsewhere"), dir.Utf8("MQTUpdate.lock"));
  EXPECT_THROW(TInstanceLock::TryAcquire(dir.Ansi("MQTUpdate.lock")), Exception);
  EXPECT_THROW(TInstanceLock::TryAcquire(dir.Ansi("missing/MQTUpdate.lock")), Exception);
  EXPECT_EQ(dir.Read("elsewhere"), "not a lock");
}
#endif

} // namespace
