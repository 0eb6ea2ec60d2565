#include "platform/Profile.h"
#include "platform/ProfileText.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#undef WriteProfileString
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using platform::ReadProfileInt;
using platform::ReadProfileString;
using platform::ReadProfileStringFromText;
using platform::Utf8ToAnsi;
using platform::WriteProfileString;

namespace {

const char* const kConfig = "; written by the installer\r\n"
                            "[Version]\r\n"
                            "TenderKind = 招标工具 \r\n"
                            "CurVersion=6012\r\n"
                            "\r\n"
                            "[HTTP]\r\n"
                            "URLUseCDN=http://cdn.example/\r\n"
                            "DoneSize=0\r\n"
                            "[上海]\r\n"
                            "CurVersion=7\r\n";

std::string Read(const std::string& text, const char* section, const char* key,
                 const char* def = "?") {
  return ReadProfileStringFromText(text, Utf8ToAnsi(section), Utf8ToAnsi(key), def);
}

} // namespace

TEST(ProfileRead, NamesIgnoreAsciiCaseAndBlanksAreTrimmed) {
  const std::string text = Utf8ToAnsi(kConfig);
  EXPECT_EQ(Read(text, "version", "TENDERKIND"), Utf8ToAnsi("招标工具"));
  EXPECT_EQ(Read(text, "  HTTP ", " urlusecdn"), "http://cdn.example/");
  EXPECT_EQ(Read(text, "上海", "curversion"), "7");
  // Tabs are blanks too.
  EXPECT_EQ(Read("\t[\tS\t]\t\r\n\tkey\t=\tvalue\t\r\n", "S", "KEY"), "value");
}

TEST(ProfileRead, MissingSectionOrKeyGivesDefault) {
  const std::string text = Utf8ToAnsi(kConfig);
  EXPECT_EQ(Read(text, "Region", "Region", "0"), "0");
  EXPECT_EQ(Read(text, "HTTP", "URLWithnotCDN", ""), "");
  // Keys of one section are not found through another.
  EXPECT_EQ(Read(text, "HTTP", "CurVersion", "none"), "none");
  EXPECT_EQ(Read("", "Version", "CurVersion", "d"), "d");
  // The comment line is no key.
  EXPECT_EQ(Read(text, "Version", "; written by the installer", "d"), "d");
}

TEST(ProfileRead, FirstSectionAndFirstKeyWin) {
  const std::string text = "[A]\nk=1\nk=2\n[a]\nk=3\nj=4\n";
  EXPECT_EQ(Read(text, "A", "k"), "1");
  // Only the first section of a name is searched, as on Windows.
  EXPECT_EQ(Read(text, "a", "j"), "?");
}

TEST(ProfileRead, SurroundingQuotesAreRemovedOnce) {
  const std::string text = "[S]\na=\"quoted\"\nb='single'\nc=\"\"x\"\"\nd=\"open\ne=\"\n";
  EXPECT_EQ(Read(text, "S", "a"), "quoted");
  EXPECT_EQ(Read(text, "S", "b"), "single");
  EXPECT_EQ(Read(text, "S", "c"), "\"x\"");
  EXPECT_EQ(Read(text, "S", "d"), "\"open");
  EXPECT_EQ(Read(text, "S", "e"), "\"");
}

TEST(ProfileRead, GbkTrailBytesAreNotFoldedLikeLetters) {
  // 0x81 0x41 and 0x81 0x61 are two different characters whose trail bytes
  // happen to be 'A' and 'a'.
  const std::string text = "[\x81\x41]\nk=upper\n[\x81\x61]\nk=lower\n";
  EXPECT_EQ(ReadProfileStringFromText(text, "\x81\x61", "k", "?"), "lower");
  EXPECT_EQ(ReadProfileStringFromText(text, "\x81\x41", "K", "?"), "upper");
  // 0x815D ends in the code of ']' and does not close the section name.
  const std::string bracket = "[\x81\x5D\x81\x40]\nk=v\n";
  EXPECT_EQ(ReadProfileStringFromText(bracket, "\x81\x5D\x81\x40", "k", "?"), "v");
}

TEST(ProfileRead, FileValuesAndIntegers) {
  testsupport::TempFolder dir;
  const std::string file = dir.Ansi("VersionCfg.ini");
  dir.Write("VersionCfg.ini", Utf8ToAnsi(kConfig) + "[N]\nneg=-42\nplus=+5\ntail=12abc\nword=abc\n"
                                                    "huge=99999999999\nempty=\n");
  EXPECT_EQ(ReadProfileString(file, "Version", "TenderKind", ""), Utf8ToAnsi("招标工具"));
  EXPECT_EQ(ReadProfileInt(file, "Version", "CurVersion", 0), 6012);
  EXPECT_EQ(ReadProfileInt(file, "N", "neg", 0), -42);
  EXPECT_EQ(ReadProfileInt(file, "N", "plus", 0), 5);
  EXPECT_EQ(ReadProfileInt(file, "N", "tail", 0), 12);
  EXPECT_EQ(ReadProfileInt(file, "N", "word", -1), -1);
  EXPECT_EQ(ReadProfileInt(file, "N", "huge", -1), -1);
  EXPECT_EQ(ReadProfileInt(file, "N", "empty", 3), 3);
  EXPECT_EQ(ReadProfileInt(file, "N", "missing", 9), 9);
  EXPECT_EQ(ReadProfileInt(dir.Ansi("absent.ini"), "N", "neg", 9), 9);
  EXPECT_EQ(ReadProfileString(dir.Ansi(""), "N", "neg", "dir"), "dir");
}

TEST(ProfileWrite, ReplacesOneValueAndKeepsEveryOtherLine) {
  testsupport::TempFolder dir;
  const std::string file = dir.Ansi("配置.ini");
  const std::string original = Utf8ToAnsi(kConfig);
  dir.Write("配置.ini", original);
  ASSERT_TRUE(WriteProfileString(file, "http", "donesize", "123456"));
  std::string expected = original;
  expected.replace(expected.find("DoneSize=0"), 10, "DoneSize=123456");
  EXPECT_EQ(dir.Read("配置.ini"), expected);
}

TEST(ProfileWrite, AddsMissingKeyToItsSectionAndMissingSectionAtTheEnd) {
  testsupport::TempFolder dir;
  const std::string file = dir.Ansi("a.ini");
  dir.Write("a.ini", "[Version]\nCurVersion=1\n\n[HTTP]\nx=1");
  ASSERT_TRUE(WriteProfileString(file, "Version", "TenderKind", "t"));
  ASSERT_TRUE(WriteProfileString(file, "HTTP", "DoneSize", "5"));
  ASSERT_TRUE(WriteProfileString(file, "Region", "Region", "r"));
  EXPECT_EQ(
      dir.Read("a.ini"),
      "[Version]\nCurVersion=1\nTenderKind=t\n\n[HTTP]\nx=1\nDoneSize=5\n[Region]\nRegion=r\n");
}

TEST(ProfileWrite, ChineseSectionsKeysAndValuesRoundTrip) {
  testsupport::TempFolder dir;
  const std::string file = dir.Ansi("区域/Region.ini");
  dir.MakeFolder("区域");
  const std::string section = Utf8ToAnsi("上海"), key = Utf8ToAnsi("版本"),
                    value = Utf8ToAnsi("招标示范文本 V2");
  ASSERT_TRUE(WriteProfileString(file, section, key, value));
  ASSERT_TRUE(WriteProfileString(file, "Region", "Region", section));
  ASSERT_TRUE(WriteProfileString(file, "\x81\x5D", "k", "v"));
  EXPECT_EQ(ReadProfileString(file, "\x81\x5D", "K", ""), "v");
  EXPECT_EQ(ReadProfileString(file, section, key, ""), value);
  EXPECT_EQ(ReadProfileString(file, "REGION", "region", ""), section);
  // A new file uses CR LF line ends.
  EXPECT_EQ(dir.Read("区域/Region.ini"), Utf8ToAnsi("[上海]\r\n版本=招标示范文本 V2\r\n"
                                                    "[Region]\r\nRegion=上海\r\n") +
                                             "[\x81\x5D]\r\nk=v\r\n");
}

TEST(ProfileWrite, RefusesTextThatWouldAddLines) {
  testsupport::TempFolder dir;
  const std::string file = dir.Ansi("a.ini");
  dir.Write("a.ini", "[HTTP]\nDoneSize=1\n");
  EXPECT_FALSE(WriteProfileString(file, "HTTP", "DoneSize", "2\n[Evil]\nx=1"));
  EXPECT_FALSE(WriteProfileString(file, "HTTP", "a=b", "1"));
  EXPECT_FALSE(WriteProfileString(file, "HT]TP", "a", "1"));
  EXPECT_FALSE(WriteProfileString(file, "HTTP", "  ", "1"));
  EXPECT_EQ(dir.Read("a.ini"), "[HTTP]\nDoneSize=1\n");
}

TEST(ProfileWrite, WhatIsWrittenCanBeReadBackOrIsRefused) {
  struct Case {
    std::string section, key;
    bool written;
  };
  // A name ending in a lone lead byte would make one character of that byte and
  // the ']' or '=' written after it.
  const Case cases[] = {
      {"\xA3", ":", false},           {"\xA3 ", "k", false},
      {"S", "k\xA3", false},          {"a\x81\x81\x81", "k", false},
      {"\xA3\xA1", "\xA3\xA1", true}, {"\x81\x81", "k", true},
      {"\xA3]x", "k", true},          {"S", "k", true},
  };
  for (const Case& c : cases) {
    for (const std::string text : {"", "[S]\r\nk=1\r\n"}) {
      const auto updated = platform::SetProfileValue(text, c.section, c.key, "v");
      ASSERT_EQ(updated.has_value(), c.written) << c.section << " " << c.key;
      if (updated) {
        EXPECT_EQ(platform::FindProfileValue(*updated, c.section, c.key), "v")
            << c.section << " " << c.key;
      }
    }
  }
}

#ifdef _WIN32
namespace {

std::vector<std::string> Entries(const testsupport::TempFolder& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(testsupport::FsPath(dir.Utf8())))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Holds a file open the way another program may: readable by others, but
// neither writable nor replaceable meanwhile.
class HeldFile {
public:
  explicit HeldFile(const std::string& ansiPath)
      : h_(CreateFileA(ansiPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool Held() const { return h_ != INVALID_HANDLE_VALUE; }

private:
  HANDLE h_;
};

} // namespace

TEST(ProfileWrite, FailedReplacementLeavesOldFileWholeAndNoTemporary) {
  testsupport::TempFolder dir;
  const std::string old = "[HTTP]\r\nURLUseCDN=http://cdn.example/\r\nDoneSize=100\r\n";
  dir.Write("VersionCfg.ini", old);
  {
    HeldFile held(dir.Ansi("VersionCfg.ini"));
    ASSERT_TRUE(held.Held());
    EXPECT_FALSE(WriteProfileString(dir.Ansi("VersionCfg.ini"), "HTTP", "DoneSize", "200"));
  }
  EXPECT_EQ(dir.Read("VersionCfg.ini"), old);
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"VersionCfg.ini"});

  // A read-only file and a folder in place of the file are not replaced.
  ASSERT_TRUE(SetFileAttributesA(dir.Ansi("VersionCfg.ini").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WriteProfileString(dir.Ansi("VersionCfg.ini"), "HTTP", "DoneSize", "200"));
  SetFileAttributesA(dir.Ansi("VersionCfg.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(dir.Read("VersionCfg.ini"), old);
  dir.MakeFolder("Folder.ini/inner");
  EXPECT_FALSE(WriteProfileString(dir.Ansi("Folder.ini"), "A", "k", "v"));
  EXPECT_TRUE(dir.Exists("Folder.ini/inner"));
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"Folder.ini", "VersionCfg.ini"}));

  // Once the file is free again the write goes through, and keeps the file's
  // attributes.
  ASSERT_TRUE(SetFileAttributesA(dir.Ansi("VersionCfg.ini").c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(WriteProfileString(dir.Ansi("VersionCfg.ini"), "HTTP", "DoneSize", "200"));
  EXPECT_EQ(ReadProfileInt(dir.Ansi("VersionCfg.ini"), "HTTP", "DoneSize", 0), 200);
  EXPECT_NE(GetFileAttributesA(dir.Ansi("VersionCfg.ini").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"Folder.ini", "VersionCfg.ini"}));
}

TEST(ProfileWrite, DeviceIsNeitherReadNorReplaced) {
  testsupport::TempFolder dir;
  // "NUL" names the null device in every folder.
  EXPECT_EQ(ReadProfileString(dir.Ansi("NUL"), "A", "k", "d"), "d");
  EXPECT_FALSE(WriteProfileString(dir.Ansi("NUL"), "A", "k", "v"));
  EXPECT_TRUE(Entries(dir).empty());
}

#else
TEST(ProfileWrite, KeepsModeAndReplacesThroughSymbolicLink) {
  testsupport::TempFolder dir;
  dir.Write("real.ini", "[A]\nk=1\n");
  ASSERT_EQ(::chmod(dir.Utf8("real.ini").c_str(), 0640), 0);
  ASSERT_EQ(::symlink("real.ini", dir.Utf8("link.ini").c_str()), 0);
  ASSERT_TRUE(WriteProfileString(dir.Ansi("link.ini"), "A", "k", "2"));
  struct stat st {};
  ASSERT_EQ(::lstat(dir.Utf8("link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(dir.Utf8("real.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.Read("real.ini"), "[A]\nk=2\n");
}

namespace {

// Caps the size of files this process may write, as a full disk would.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};

std::vector<std::string> Entries(const testsupport::TempFolder& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Utf8()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace

TEST(ProfileWrite, FailedWriteLeavesOldFileWholeAndNoTemporary) {
  testsupport::TempFolder dir;
  const std::string old = "[HTTP]\r\nURLUseCDN=http://cdn.example/\r\nDoneSize=100\r\n";
  dir.Write("VersionCfg.ini", old);
  {
    FileSizeLimit limit(old.size() + 4);
    EXPECT_FALSE(
        WriteProfileString(dir.Ansi("VersionCfg.ini"), "HTTP", "DoneSize", std::string(200, '9')));
  }
  EXPECT_EQ(dir.Read("VersionCfg.ini"), old);
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"VersionCfg.ini"});
  // A folder in place of the file cannot be replaced either.
  dir.MakeFolder("Folder.ini/inner");
  EXPECT_FALSE(WriteProfileString(dir.Ansi("Folder.ini"), "A", "k", "v"));
  EXPECT_TRUE(dir.Exists("Folder.ini/inner"));
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"Folder.ini", "VersionCfg.ini"}));
}

TEST(ProfileWrite, CrashDuringWriteLeavesOldFileWhole) {
  testsupport::TempFolder dir;
  const std::string old = "[HTTP]\r\nDoneSize=100\r\n";
  dir.Write("VersionCfg.ini", old);
  const std::string file = dir.Ansi("VersionCfg.ini");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The default action of SIGXFSZ ends the process in the middle of the
    // write, like a crash.
    std::signal(SIGXFSZ, SIG_DFL);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 16;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    WriteProfileString(file, "HTTP", "DoneSize", std::string(100, '7'));
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(dir.Read("VersionCfg.ini"), old);
  EXPECT_EQ(ReadProfileInt(file, "HTTP", "DoneSize", 0), 100);
}

TEST(ProfileWrite, SpecialFileIsNeitherWaitedForNorReplaced) {
  testsupport::TempFolder dir;
  // Opening a pipe for reading would wait for a writer forever.
  ASSERT_EQ(::mkfifo(dir.Utf8("pipe.ini").c_str(), 0600), 0);
  EXPECT_EQ(ReadProfileString(dir.Ansi("pipe.ini"), "A", "k", "d"), "d");
  EXPECT_FALSE(WriteProfileString(dir.Ansi("pipe.ini"), "A", "k", "v"));
  struct stat st {};
  ASSERT_EQ(::lstat(dir.Utf8("pipe.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
#endif
