// Hard links, the link-or-copy that snapshots and restores use, and the free
// space of a volume.
#include "platform/DiskSpace.h"
#include "platform/FileSystem.h"
#include "platform/HardLink.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace {

using platform::TPlacement;
using testsupport::FsPath;

// A folder on another volume than the temporary folder, when the machine
// has one: tmpfs on Linux, the same seen through Wine's drive Z:.
std::optional<std::string> OtherVolumeFolder() {
#ifdef _WIN32
  const std::string shm = "Z:\\dev\\shm\\";
#else
  const std::string shm = "/dev/shm/";
#endif
  if (!platform::DirectoryExists(shm)) return std::nullopt;
  testsupport::TempFolder probe;
  probe.Write("a", "a");
  const std::string trial = shm + "updater-link-trial";
  platform::DeleteFile(trial);
  if (platform::CreateHardLink(probe.Ansi("a"), trial)) {
    platform::DeleteFile(trial);
    return std::nullopt; // the same volume after all
  }
  return shm;
}

TEST(HardLink, ASecondNameSharesTheDataAndOutlivesTheFirst) {
  testsupport::TempFolder dir;
  dir.Write("原件.dat", "old");
  ASSERT_TRUE(platform::CreateHardLink(dir.Ansi("原件.dat"), dir.Ansi("快照.dat")));
  // A writer of one name writes the other.
  platform::AppendToFile(dir.Ansi("原件.dat"), "+");
  EXPECT_EQ(dir.Read("快照.dat"), "old+");
  // Deleting a name leaves the data to the other.
  ASSERT_TRUE(platform::DeleteFile(dir.Ansi("原件.dat")));
  EXPECT_EQ(dir.Read("快照.dat"), "old+");
  // No link over an existing name, none of a missing file.
  dir.Write("other.dat", "other");
  EXPECT_FALSE(platform::CreateHardLink(dir.Ansi("快照.dat"), dir.Ansi("other.dat")));
  EXPECT_EQ(dir.Read("other.dat"), "other");
  EXPECT_FALSE(platform::CreateHardLink(dir.Ansi("missing.dat"), dir.Ansi("new.dat")));
}

TEST(HardLink, LinkOrCopyReplacesTheTargetAndCopiesWhenAskedOrAcrossVolumes) {
  testsupport::TempFolder dir;
  dir.Write("source.dat", "new contents");
  dir.Write("target.dat", "old contents");
  EXPECT_EQ(platform::LinkOrCopyFile(dir.Ansi("source.dat"), dir.Ansi("target.dat")),
            TPlacement::Linked);
  EXPECT_EQ(dir.Read("target.dat"), "new contents");
  platform::AppendToFile(dir.Ansi("target.dat"), "!");
  EXPECT_EQ(dir.Read("source.dat"), "new contents!") << "the target is no second name";
  // The target already a link of the source: nothing changes, and no
  // temporary name is left behind.
  EXPECT_EQ(platform::LinkOrCopyFile(dir.Ansi("source.dat"), dir.Ansi("target.dat")),
            TPlacement::Linked);
  EXPECT_FALSE(dir.Exists("target.dat.~link"));

  EXPECT_EQ(platform::LinkOrCopyFile(dir.Ansi("source.dat"), dir.Ansi("copy.dat"), false),
            TPlacement::Copied);
  platform::AppendToFile(dir.Ansi("source.dat"), "+");
  EXPECT_EQ(dir.Read("copy.dat"), "new contents!");
  EXPECT_EQ(platform::LinkOrCopyFile(dir.Ansi("missing.dat"), dir.Ansi("copy.dat")), std::nullopt);
  EXPECT_EQ(dir.Read("copy.dat"), "new contents!");

  const std::optional<std::string> other = OtherVolumeFolder();
  if (!other) GTEST_SKIP() << "no second volume here";
  const std::string across = *other + "updater-hard-link-test.dat";
  EXPECT_EQ(platform::LinkOrCopyFile(dir.Ansi("source.dat"), across), TPlacement::Copied);
  EXPECT_EQ(platform::FileSize(across), 14);
  platform::DeleteFile(across);
}

TEST(DiskSpace, TellsTheRoomOfAFoldersVolume) {
  testsupport::TempFolder dir;
  const int64_t free = platform::FreeDiskSpace(dir.Ansi());
  EXPECT_GT(free, 0);
  const std::filesystem::space_info space = std::filesystem::space(FsPath(dir.Utf8()));
  EXPECT_LE(free, static_cast<int64_t>(space.capacity));
  EXPECT_EQ(platform::FreeDiskSpace(dir.Ansi("missing/")), -1);
}

} // namespace
