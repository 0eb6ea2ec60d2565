// Files and folders on Windows: attributes, the search, copies, and folders
// whose name ends in a double-byte character with a backslash as its second
// byte. Links need a system that makes them (Wine 8 does not).
#include "common/ZorvaFileUtils.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>
#undef DeleteFile
#undef RemoveDirectory
#undef GetFileAttributes
#undef SetFileAttributes

#include <string>
#include <vector>

namespace {

using namespace platform;

// "乗" ends in the byte 0x5C, the backslash.
const std::string kTrailBackslash = Utf8ToAnsi("乗");

std::vector<std::string> Names(const std::string& pattern, uint32_t mask) {
  std::vector<std::string> names;
  FileFinder finder;
  TSearchRec rec;
  for (bool found = finder.First(pattern, mask, rec); found; found = finder.Next(rec))
    names.push_back(rec.Name);
  return names;
}

TEST(FileSystem, FoldersEndingInABackslashTrailByteAreMadeFoundAndRemoved) {
  testsupport::TempFolder dir;
  const std::string folder = dir.Ansi() + kTrailBackslash;
  EXPECT_TRUE(ForceDirectories(folder + "\\sub\\" + kTrailBackslash));
  EXPECT_TRUE(DirectoryExists(folder + "\\sub\\" + kTrailBackslash));
  EXPECT_TRUE(DirectoryExists(folder));
  EXPECT_FALSE(FileExists(folder));
  ForcePrivateDirectory(folder);
  ForcePrivateDirectory(folder + "\\");
  EXPECT_EQ(Names(folder + "\\*.*", faAnyFile), (std::vector<std::string>{".", "..", "sub"}));
  EXPECT_EQ(Names(folder + "\\sub\\*", faAnyFile & ~uint32_t{faDirectory}),
            std::vector<std::string>{});
  EXPECT_TRUE(DeleteFolderTree(folder));
  EXPECT_FALSE(DirectoryExists(folder));
}

TEST(FileSystem, AttributesDecideWhatTheSearchShowsAndWhatMayBeDeleted) {
  testsupport::TempFolder dir;
  dir.Write("visible.txt", "12345");
  dir.Write("hidden.txt", "h");
  dir.Write("readonly.txt", "r");
  dir.MakeFolder("folder");
  ASSERT_TRUE(SetFileAttributesA(dir.Ansi("hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributes(dir.Ansi("readonly.txt"), faReadOnly));

  EXPECT_EQ(GetFileAttributes(dir.Ansi("hidden.txt")) & faHidden, uint32_t{faHidden});
  EXPECT_EQ(GetFileAttributes(dir.Ansi("folder")) & faDirectory, uint32_t{faDirectory});
  EXPECT_EQ(GetFileAttributes(dir.Ansi("absent")), InvalidFileAttributes);
  EXPECT_EQ(Names(dir.Ansi("*.txt"), faReadOnly | faArchive),
            (std::vector<std::string>{"readonly.txt", "visible.txt"}));
  EXPECT_EQ(Names(dir.Ansi("*"), faAnyFile & ~uint32_t{faDirectory}),
            (std::vector<std::string>{"hidden.txt", "readonly.txt", "visible.txt"}));
  FileFinder finder;
  TSearchRec rec;
  ASSERT_TRUE(finder.First(dir.Ansi("VISIBLE.*"), faArchive, rec));
  EXPECT_EQ(rec.Size, 5);

  EXPECT_FALSE(DeleteFile(dir.Ansi("readonly.txt")));
  EXPECT_FALSE(DeleteFile(dir.Ansi("folder")));
  EXPECT_TRUE(SetFileAttributes(dir.Ansi("readonly.txt"), 0));
  EXPECT_TRUE(DeleteFile(dir.Ansi("readonly.txt")));
  EXPECT_FALSE(RemoveDirectory(dir.Ansi("absent")));
  EXPECT_TRUE(RemoveDirectory(dir.Ansi("folder\\")));
}

TEST(FileSystem, CopiesReplaceWholeFilesAndRefuseReadOnlyTargetsAndFolders) {
  testsupport::TempFolder dir;
  dir.Write("new.sfwb", std::string(300000, 'n'));
  dir.Write("installed.sfwb", "old");
  EXPECT_TRUE(CopyFileOverwrite(dir.Ansi("new.sfwb"), dir.Ansi("installed.sfwb")));
  EXPECT_EQ(dir.Read("installed.sfwb"), std::string(300000, 'n'));
  EXPECT_TRUE(CopyFileOverwrite(dir.Ansi("new.sfwb"), dir.Ansi("fresh.sfwb")));

  dir.Write("locked.sfwb", "old");
  ASSERT_TRUE(SetFileAttributes(dir.Ansi("locked.sfwb"), faReadOnly));
  EXPECT_FALSE(CopyFileOverwrite(dir.Ansi("new.sfwb"), dir.Ansi("locked.sfwb")));
  EXPECT_EQ(dir.Read("locked.sfwb"), "old");
  SetFileAttributes(dir.Ansi("locked.sfwb"), 0);
  dir.MakeFolder("folder");
  EXPECT_FALSE(CopyFileOverwrite(dir.Ansi("folder"), dir.Ansi("x.sfwb")));
  EXPECT_FALSE(CopyFileOverwrite(dir.Ansi("absent"), dir.Ansi("x.sfwb")));
  EXPECT_EQ(Names(dir.Ansi("*"), faAnyFile),
            (std::vector<std::string>{".", "..", "folder", "fresh.sfwb", "installed.sfwb",
                                      "locked.sfwb", "new.sfwb"}));
}

TEST(FileSystem, WorkingFolderInPlaceOfAFileOrALinkIsRefused) {
  testsupport::TempFolder dir;
  dir.Write("MQTUpdate", "a file");
  EXPECT_THROW(ForcePrivateDirectory(dir.Ansi("MQTUpdate")), Exception);

  dir.MakeFolder("elsewhere");
  dir.Write("elsewhere/project.zbf", "data");
  if (!CreateSymbolicLinkA(dir.Ansi("link").c_str(), dir.Ansi("elsewhere").c_str(),
                           SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* unprivileged */) ||
      (GetFileAttributesA(dir.Ansi("link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
      GetFileAttributesA(dir.Ansi("link").c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "this system makes no links to folders";
  EXPECT_THROW(ForcePrivateDirectory(dir.Ansi("link")), Exception);
  EXPECT_TRUE(DirectoryExists(dir.Ansi("link")));
  EXPECT_EQ(GetFileAttributes(dir.Ansi("link")) & faDirectory, 0u);
  // A link is removed itself, never what it leads to.
  EXPECT_TRUE(DeleteFolderTree(dir.Ansi("link")));
  EXPECT_EQ(dir.Read("elsewhere/project.zbf"), "data");
}

} // namespace
