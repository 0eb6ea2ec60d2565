#include "platform/Exception.h"
#include "platform/FileMask.h"
#include "platform/FileSystem.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

// Every entry the finder returns for `pattern`, by name, with its attributes.
std::map<std::string, uint32_t> FindAll(const std::string& pattern, uint32_t mask) {
  std::map<std::string, uint32_t> found;
  FileFinder finder;
  TSearchRec rec;
  for (bool ok = finder.First(pattern, mask, rec); ok; ok = finder.Next(rec))
    EXPECT_TRUE(found.emplace(rec.Name, rec.Attr).second) << "twice: " << rec.Name;
  return found;
}

std::vector<std::string> Names(const std::map<std::string, uint32_t>& found) {
  std::vector<std::string> names;
  for (const auto& [name, attr] : found)
    names.push_back(name);
  return names;
}

mode_t ModeOf(const std::string& utf8Path) {
  struct stat st {};
  EXPECT_EQ(::lstat(utf8Path.c_str(), &st), 0);
  return st.st_mode;
}

} // namespace

TEST(FileMask, StarAndQuestionMarkIgnoringAsciiCase) {
  struct Case {
    const char* mask;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.*", "VersionCfg.ini", true},
      {"*.*", "noextension", true},
      {"*.*", ".hidden", true},
      {"*.*", ".", true},
      {"*", "anything", true},
      {"*.ini", "A.INI", true},
      {"*.ini", "a.ini.bak", false},
      {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"MQT6.exe", "mqt6.EXE", true},
      {"x.*", "x", true},
      {"x.*", "xy", false},
      {"", "a", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchesFileMask(c.mask, c.name), c.matches) << c.mask << " ~ " << c.name;

  const std::string uninstall = Utf8ToAnsi("卸载 *.*");
  EXPECT_TRUE(MatchesFileMask(uninstall, Utf8ToAnsi("卸载 招标工具.lnk")));
  EXPECT_TRUE(MatchesFileMask(uninstall, Utf8ToAnsi("卸载 招标工具")));
  EXPECT_FALSE(MatchesFileMask(uninstall, Utf8ToAnsi("招标工具.lnk")));
  // '?' stands for one whole double-byte character.
  EXPECT_TRUE(MatchesFileMask(Utf8ToAnsi("?标.ini"), Utf8ToAnsi("招标.ini")));
  EXPECT_FALSE(MatchesFileMask(Utf8ToAnsi("??标.ini"), Utf8ToAnsi("招标.ini")));
  // Letters only fold when they are whole characters, not GBK trail bytes.
  EXPECT_FALSE(MatchesFileMask("\x81\x41", "\x81\x61"));
  // Many stars against a long name finish quickly.
  EXPECT_FALSE(MatchesFileMask("*a*a*a*a*a*a*a*a*a*a*b", std::string(250, 'a')));
}

TEST(FileFinder, MaskDecidesWhichSpecialEntriesAreReturned) {
  testsupport::TempFolder dir;
  dir.Write("plain.txt", "12345");
  dir.Write(".hidden", "");
  dir.MakeFolder("sub");
  dir.MakeFolder(".hiddensub");
  ASSERT_EQ(::mkfifo(dir.Utf8("pipe").c_str(), 0600), 0);
  const std::string all = dir.Ansi("*.*");

  EXPECT_EQ(
      Names(FindAll(all, faAnyFile)),
      (std::vector<std::string>{".", "..", ".hidden", ".hiddensub", "pipe", "plain.txt", "sub"}));
  EXPECT_EQ(Names(FindAll(all, faAnyFile & ~uint32_t{faDirectory})),
            (std::vector<std::string>{".hidden", "pipe", "plain.txt"}));
  EXPECT_EQ(Names(FindAll(all, faDirectory)),
            (std::vector<std::string>{".", "..", "plain.txt", "sub"}));
  EXPECT_EQ(Names(FindAll(all, 0)), std::vector<std::string>{"plain.txt"});

  const auto found = FindAll(all, faAnyFile);
  EXPECT_EQ(found.at("sub"), uint32_t{faDirectory});
  EXPECT_EQ(found.at(".hiddensub"), uint32_t{faDirectory | faHidden});
  EXPECT_EQ(found.at(".hidden") & faHidden, uint32_t{faHidden});
  EXPECT_EQ(found.at("pipe") & faSysFile, uint32_t{faSysFile});
  EXPECT_EQ(found.at("..") & faHidden, 0u);
}

TEST(FileFinder, DotEntriesComeFirstAndSizesAreReported) {
  testsupport::TempFolder dir;
  dir.Write("a.bin", std::string(1234, 'x'));
  FileFinder finder;
  TSearchRec rec;
  ASSERT_TRUE(finder.First(dir.Ansi("*.*"), faAnyFile, rec));
  EXPECT_EQ(rec.Name, ".");
  ASSERT_TRUE(finder.Next(rec));
  EXPECT_EQ(rec.Name, "..");
  ASSERT_TRUE(finder.Next(rec));
  EXPECT_EQ(rec.Name, "a.bin");
  EXPECT_EQ(rec.Size, 1234);
  EXPECT_FALSE(finder.Next(rec));
  finder.Close();
  EXPECT_FALSE(finder.Next(rec));
}

TEST(FileFinder, MissingFolderOrNoMatchFindsNothing) {
  testsupport::TempFolder dir;
  dir.Write("a.txt", "");
  FileFinder finder;
  TSearchRec rec;
  EXPECT_FALSE(finder.First(dir.Ansi("absent/*.*"), faAnyFile, rec));
  EXPECT_FALSE(finder.First(dir.Ansi("*.ini"), faAnyFile, rec));
  EXPECT_FALSE(finder.First(dir.Ansi("a.txt/*.*"), faAnyFile, rec));
}

TEST(FileFinder, SymbolicLinkToFolderIsReportedAsFile) {
  testsupport::TempFolder dir;
  dir.MakeFolder("target");
  ASSERT_EQ(::symlink(dir.Utf8("target").c_str(), dir.Utf8("link").c_str()), 0);
  const auto found = FindAll(dir.Ansi("*.*"), faAnyFile);
  EXPECT_EQ(found.at("link") & faDirectory, 0u);
  EXPECT_EQ(GetFileAttributes(dir.Ansi("link")) & faDirectory, 0u);
  EXPECT_EQ(GetFileAttributes(dir.Ansi("link/")) & faDirectory, 0u);
  EXPECT_TRUE(DirectoryExists(dir.Ansi("link")));
  EXPECT_FALSE(RemoveDirectory(dir.Ansi("link")));
  EXPECT_TRUE(DeleteFile(dir.Ansi("link")));
  EXPECT_TRUE(dir.Exists("target"));
}

TEST(FileSystem, ExistenceAndAttributesOfGbkNamedEntries) {
  testsupport::TempFolder dir;
  dir.Write("招标工具.exe", "MZ");
  dir.MakeFolder("示范文本");
  const std::string file = dir.Ansi("招标工具.exe");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_TRUE(DirectoryExists(dir.Ansi("示范文本")));
  EXPECT_FALSE(FileExists(dir.Ansi("示范文本")));
  EXPECT_FALSE(FileExists(dir.Ansi("absent")));
  EXPECT_FALSE(FileExists(""));
  EXPECT_EQ(GetFileAttributes(dir.Ansi("absent")), InvalidFileAttributes);

  EXPECT_EQ(GetFileAttributes(file) & faReadOnly, 0u);
  ASSERT_TRUE(SetFileAttributes(file, faReadOnly));
  EXPECT_EQ(ModeOf(dir.Utf8("招标工具.exe")) & S_IWUSR, 0u);
  EXPECT_EQ(GetFileAttributes(file) & faReadOnly, uint32_t{faReadOnly});
  // Like Windows, a read-only file is not deleted until the attribute is cleared.
  EXPECT_FALSE(DeleteFile(file));
  ASSERT_TRUE(SetFileAttributes(file, 0));
  EXPECT_EQ(GetFileAttributes(file) & faReadOnly, 0u);
  EXPECT_TRUE(DeleteFile(file));
  EXPECT_FALSE(dir.Exists("招标工具.exe"));
  EXPECT_FALSE(DeleteFile(dir.Ansi("示范文本")));
  EXPECT_TRUE(RemoveDirectory(dir.Ansi("示范文本/")));
}

TEST(FileSystem, ForceDirectoriesCreatesParents) {
  testsupport::TempFolder dir;
  EXPECT_TRUE(ForceDirectories(dir.Ansi("一/二/三/")));
  EXPECT_TRUE(dir.Exists("一/二/三"));
  EXPECT_TRUE(ForceDirectories(dir.Ansi("一/二")));
  dir.Write("file", "");
  EXPECT_FALSE(ForceDirectories(dir.Ansi("file/sub")));
  EXPECT_FALSE(ForceDirectories(""));
}

TEST(FileSystem, CopyOverwritesAndKeepsTheSourceMode) {
  testsupport::TempFolder dir;
  dir.Write("src.sfwb", "new contents");
  ASSERT_EQ(::chmod(dir.Utf8("src.sfwb").c_str(), 0750), 0);
  EXPECT_TRUE(CopyFileOverwrite(dir.Ansi("src.sfwb"), dir.Ansi("招标.sfwb")));
  EXPECT_EQ(dir.Read("招标.sfwb"), "new contents");
  EXPECT_EQ(ModeOf(dir.Utf8("招标.sfwb")) & 0777, 0750u);

  dir.Write("old.sfwb", "a much longer old content that must vanish");
  EXPECT_TRUE(CopyFileOverwrite(dir.Ansi("src.sfwb"), dir.Ansi("old.sfwb")));
  EXPECT_EQ(dir.Read("old.sfwb"), "new contents");
  EXPECT_TRUE(CopyFileOverwrite(dir.Ansi("old.sfwb"), dir.Ansi("old.sfwb")));
  EXPECT_EQ(dir.Read("old.sfwb"), "new contents");

  EXPECT_FALSE(CopyFileOverwrite(dir.Ansi("absent"), dir.Ansi("x")));
  EXPECT_FALSE(dir.Exists("x"));
  EXPECT_FALSE(CopyFileOverwrite(dir.Ansi("src.sfwb"), dir.Ansi("nofolder/x")));
  ASSERT_TRUE(SetFileAttributes(dir.Ansi("old.sfwb"), faReadOnly));
  EXPECT_FALSE(CopyFileOverwrite(dir.Ansi("src.sfwb"), dir.Ansi("old.sfwb")));
}

TEST(ForcePrivateDirectory, CreatesFolderOnlyItsOwnerMayEnter) {
  testsupport::TempFolder dir;
  ForcePrivateDirectory(dir.Ansi("parent/MQTUpdate/"));
  EXPECT_EQ(ModeOf(dir.Utf8("parent/MQTUpdate")) & 07777, 0700u);
  // An existing folder of ours is tightened, and a second call is harmless.
  ASSERT_EQ(::chmod(dir.Utf8("parent/MQTUpdate").c_str(), 0777), 0);
  ForcePrivateDirectory(dir.Ansi("parent/MQTUpdate"));
  EXPECT_EQ(ModeOf(dir.Utf8("parent/MQTUpdate")) & 07777, 0700u);
}

TEST(ForcePrivateDirectory, RefusesSymbolicLinkAndFile) {
  testsupport::TempFolder dir;
  dir.MakeFolder("elsewhere");
  ASSERT_EQ(::chmod(dir.Utf8("elsewhere").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(dir.Utf8("elsewhere").c_str(), dir.Utf8("MQTUpdate").c_str()), 0);
  EXPECT_THROW(ForcePrivateDirectory(dir.Ansi("MQTUpdate")), Exception);
  EXPECT_THROW(ForcePrivateDirectory(dir.Ansi("MQTUpdate/")), Exception);
  // The folder behind the link was left as it was.
  EXPECT_EQ(ModeOf(dir.Utf8("elsewhere")) & 07777, 0755u);
  dir.Write("file", "");
  EXPECT_THROW(ForcePrivateDirectory(dir.Ansi("file")), Exception);
  // The message names the folder exactly, even one whose name looks like a
  // format placeholder.
  ASSERT_EQ(::symlink("elsewhere", dir.Utf8("%s%d").c_str()), 0);
  try {
    ForcePrivateDirectory(dir.Ansi("%s%d"));
    FAIL() << "accepted a symbolic link";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), Utf8ToAnsi("文件夹“") + dir.Ansi("%s%d") +
                                         Utf8ToAnsi("”是一个符号链接，出于安全考虑拒绝使用。"));
  }
}

TEST(ForcePrivateDirectory, RefusesFolderOfAnotherUser) {
  testsupport::TempFolder dir;
  std::string folder = "/"; // belongs to root, another user for everyone else
  if (::geteuid() == 0) {
    dir.MakeFolder("MQTUpdate");
    ASSERT_EQ(::chown(dir.Utf8("MQTUpdate").c_str(), 12345, 12345), 0);
    folder = dir.Ansi("MQTUpdate");
  }
  try {
    ForcePrivateDirectory(folder);
    FAIL() << "accepted a folder of another user";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find(Utf8ToAnsi("其他用户")), std::string::npos);
  }
}
