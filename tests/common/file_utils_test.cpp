#include "common/ZorvaFileUtils.h"
#include "platform/Exception.h"
#include "platform/StringList.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include "tests/support/ScopedEnv.h"

#include <windows.h>
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using platform::Utf8ToAnsi;

namespace {

// Takes the write permission away, which Windows shows as the read-only
// attribute.
void MakeReadOnly(const testsupport::TempFolder& dir, const std::string& utf8Name) {
  std::filesystem::permissions(testsupport::FsPath(dir.Utf8(utf8Name)),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
}

#ifndef _WIN32
// Sets or clears the immutable flag, which even root cannot delete past.
bool SetImmutable(const std::string& utf8Path, bool on) {
  const int fd = ::open(utf8Path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return ok;
}
#endif

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

} // namespace

TEST(DotEntry, OnlyTheTwoDotNamesAreDotEntries) {
  EXPECT_TRUE(IsDotEntry("."));
  EXPECT_TRUE(IsDotEntry(".."));
  for (const char* name : {"...", ".hidden", "", "a.", ". "})
    EXPECT_FALSE(IsDotEntry(name)) << name;
}

#ifdef _WIN32
TEST(SystemFolders, ExeFolderAndTempFolder) {
  const std::string exe = GetExeFolder();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.back(), '\\');
  EXPECT_EQ(GetFileAttributesA((exe + "common_file_utils_test.exe").c_str()) &
                FILE_ATTRIBUTE_DIRECTORY,
            0u);

  // GetTempPathA takes the folder from TMP.
  testsupport::ScopedEnv tmp("TMP", Utf8ToAnsi("C:\\临时\\"));
  EXPECT_EQ(GetTempFolder(), Utf8ToAnsi("C:\\临时"));
}

#else
TEST(SystemFolders, ExeFolderAndTempFolder) {
  const std::string exe = GetExeFolder();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.back(), '/');
  EXPECT_EQ(exe.find("//"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(exe + "common_file_utils_test"));

  const char* old = std::getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TMPDIR", "/var/临时/", 1);
  EXPECT_EQ(GetTempFolder(), Utf8ToAnsi("/var/临时"));
  ::setenv("TMPDIR", "\xFF", 1);
  EXPECT_EQ(GetTempFolder(), "");
  if (old != nullptr)
    ::setenv("TMPDIR", saved.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}
#endif

TEST(DeleteFolderTree, MissingFolderIsAlreadyGone) {
  testsupport::TempFolder dir;
  EXPECT_TRUE(DeleteFolderTree(dir.Ansi("absent")));
  EXPECT_TRUE(DeleteFolderTree(dir.Ansi("absent/deeper/")));
  EXPECT_FALSE(dir.Exists("absent"));
}

TEST(DeleteFolderTree, RemovesReadOnlyAndHiddenFilesAndFolders) {
  testsupport::TempFolder dir;
  dir.Write("MQTUpdate/招标工具.exe", "MZ");
  dir.Write("MQTUpdate/.hidden", "h");
  dir.Write("MQTUpdate/Version.xml", "<x/>");
  dir.Write("MQTUpdate/.cache/deep/只读.txt", "r");
  dir.MakeFolder("MQTUpdate/empty");
  MakeReadOnly(dir, "MQTUpdate/Version.xml");
  MakeReadOnly(dir, "MQTUpdate/.cache/deep/只读.txt");
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(dir.Utf8("MQTUpdate/pipe").c_str(), 0600), 0);
#endif
  EXPECT_TRUE(DeleteFolderTree(dir.Ansi("MQTUpdate/")));
  EXPECT_FALSE(dir.Exists("MQTUpdate"));

  dir.Write("second/a", "");
  EXPECT_TRUE(DeleteFolderTree(dir.Ansi("second")));
  EXPECT_FALSE(dir.Exists("second"));
}

TEST(DeleteFolderTree, FileWithoutAnsiNameStaysWithItsParentsAndFails) {
  testsupport::TempFolder dir;
  // A name with no GBK form cannot be named through an ANSI path, so it
  // cannot be deleted, by root or anyone else.
  dir.Write("w/keep/deeper/\U0001F600.txt", "x");
  dir.Write("w/keep/deeper/other.txt", "x");
  dir.Write("w/keep/sibling.txt", "x");
  dir.Write("w/top.txt", "x");
  dir.Write("w/full/a.txt", "x");
  dir.MakeFolder("w/keep/empty");
  EXPECT_FALSE(DeleteFolderTree(dir.Ansi("w")));
  EXPECT_TRUE(dir.Exists("w/keep/deeper/\U0001F600.txt"));
  EXPECT_FALSE(dir.Exists("w/keep/deeper/other.txt"));
  EXPECT_FALSE(dir.Exists("w/keep/sibling.txt"));
  EXPECT_FALSE(dir.Exists("w/keep/empty"));
  EXPECT_FALSE(dir.Exists("w/top.txt"));
  EXPECT_FALSE(dir.Exists("w/full"));
}

#ifndef _WIN32
// Immutable files and symbolic links are Linux matters; Windows links are in
// the platform tests.
TEST(DeleteFolderTree, ImmutableFileStaysWithItsParentsAndFails) {
  testsupport::TempFolder dir;
  dir.Write("w/locked/setup.exe", "x");
  dir.Write("w/locked/other.txt", "x");
  dir.Write("w/free/a.txt", "x");
  if (!SetImmutable(dir.Utf8("w/locked/setup.exe"), true))
    GTEST_SKIP() << "this file system or user cannot set the immutable flag";
  const bool result = DeleteFolderTree(dir.Ansi("w/"));
  const bool lockedKept = dir.Exists("w/locked/setup.exe");
  SetImmutable(dir.Utf8("w/locked/setup.exe"), false);
  EXPECT_FALSE(result);
  EXPECT_TRUE(lockedKept);
  EXPECT_FALSE(dir.Exists("w/locked/other.txt"));
  EXPECT_FALSE(dir.Exists("w/free"));
}

TEST(DeleteFolderTree, SymbolicLinksAreRemovedNotFollowed) {
  testsupport::TempFolder dir;
  dir.Write("precious/project.zbf", "data");
  dir.Write("precious/sub/more.zbf", "data");
  ASSERT_EQ(::chmod(dir.Utf8("precious/project.zbf").c_str(), 0444), 0);
  dir.MakeFolder("w");
  ASSERT_EQ(::symlink(dir.Utf8("precious").c_str(), dir.Utf8("w/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Utf8("precious/project.zbf").c_str(), dir.Utf8("w/filelink").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", dir.Utf8("w/dangling").c_str()), 0);
  EXPECT_TRUE(DeleteFolderTree(dir.Ansi("w")));
  EXPECT_FALSE(dir.Exists("w"));
  EXPECT_EQ(dir.Read("precious/project.zbf"), "data");
  EXPECT_EQ(dir.Read("precious/sub/more.zbf"), "data");
  // The read-only bit of the file behind a link was not touched.
  struct stat st {};
  ASSERT_EQ(::stat(dir.Utf8("precious/project.zbf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);

  // A link given as the folder itself is removed, its target kept.
  ASSERT_EQ(::symlink(dir.Utf8("precious").c_str(), dir.Utf8("MQTUpdate").c_str()), 0);
  EXPECT_TRUE(DeleteFolderTree(dir.Ansi("MQTUpdate/")));
  EXPECT_FALSE(dir.Exists("MQTUpdate"));
  EXPECT_TRUE(dir.Exists("precious/sub/more.zbf"));
}

#endif

class ListFiles : public testing::Test {
protected:
  void SetUp() override {
    dir_.Write("menu/卸载 招标工具.lnk", "");
    dir_.Write("menu/招标工具.lnk", "");
    dir_.Write("menu/卸载 帮助", "");
    dir_.Write("menu/.隐藏", "");
    dir_.Write("menu/工具/卸载 投标工具.lnk", "");
    dir_.Write("menu/工具/深/卸载 深.lnk", "");
    dir_.Write("menu/.hidden/卸载 不列出.lnk", "");
    dir_.MakeFolder("menu/空");
#ifdef _WIN32
    // Hidden is an attribute on Windows, not a name.
    SetFileAttributesA(dir_.Ansi("menu/.hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
#else
    // A link back to the top must not send the search in a circle.
    ::symlink(dir_.Utf8("menu").c_str(), dir_.Utf8("menu/工具/loop").c_str());
#endif
  }
  std::string Path(const char* utf8Name) const {
    return dir_.Ansi(utf8Name);
  }

  testsupport::TempFolder dir_;
};

TEST_F(ListFiles, PatternSelectsFilesOfTheTreeFolderByFolder) {
  TStringList list;
  list.Add("kept");
  ListFilesRecursive(Utf8ToAnsi("卸载 *.*"), dir_.Ansi("menu"), &list);
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list[0], "kept");
  // The matching files of a folder come before those of its sub-folders.
  EXPECT_EQ(Sorted({list[1], list[2]}),
            Sorted({Path("menu/卸载 招标工具.lnk"), Path("menu/卸载 帮助")}));
  EXPECT_EQ(list[3], Path("menu/工具/卸载 投标工具.lnk"));
  EXPECT_EQ(list[4], Path("menu/工具/深/卸载 深.lnk"));
}

TEST_F(ListFiles, EmptyPatternListsEveryFileOutsideHiddenFolders) {
  TStringList list;
  ListFilesRecursive("", dir_.Ansi("menu/"), &list);
  std::vector<std::string> expected{Path("menu/卸载 招标工具.lnk"),
                                    Path("menu/招标工具.lnk"),
                                    Path("menu/卸载 帮助"),
                                    Path("menu/.隐藏"),
                                    Path("menu/工具/卸载 投标工具.lnk"),
                                    Path("menu/工具/深/卸载 深.lnk")};
#ifndef _WIN32
  expected.push_back(Path("menu/工具/loop"));
#endif
  EXPECT_EQ(Sorted(list.Items()), Sorted(expected));
}

TEST_F(ListFiles, MissingFolderAddsNothingAndMissingListIsAnError) {
  TStringList list;
  ListFilesRecursive("*.*", dir_.Ansi("absent"), &list);
  ListFilesRecursive("*.*", dir_.Ansi("menu/招标工具.lnk"), &list);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_THROW(ListFilesRecursive("*.*", dir_.Ansi("menu"), nullptr), EAssertionFailed);
}
