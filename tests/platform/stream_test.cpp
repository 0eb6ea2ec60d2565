#include "platform/Exception.h"
#include "platform/Stream.h"
#include "platform/StringList.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <functional>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using platform::Utf8ToAnsi;

TEST(FileStream, GbkFileNameIsStoredUnderItsUtf8Name) {
  testsupport::TempFolder dir;
  const std::string path = dir.Ansi("下载文件.tmp");
  {
    TFileStream out(path, fmCreate);
    out.WriteBuffer("abcdef", 6);
  }
  EXPECT_EQ(dir.Read("下载文件.tmp"), "abcdef");
  TFileStream in(path, fmOpenRead);
  EXPECT_EQ(in.GetSize(), 6);
  char buffer[8] = {};
  EXPECT_EQ(in.Read(buffer, 8), 6);
  EXPECT_EQ(std::string(buffer), "abcdef");
  EXPECT_EQ(in.Read(buffer, 8), 0);
}

TEST(FileStream, MissingFileRaisesOpenErrorNamingTheFile) {
  testsupport::TempFolder dir;
  const std::string path = dir.Ansi("缺少.ini");
  try {
    TFileStream in(path, fmOpenRead);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
  }
}

namespace {

// Every way of opening `path` raises EFOpenError naming it.
void ExpectEveryOpeningRefused(const std::string& path) {
  const std::vector<std::pair<const char*, std::function<void()>>> openings = {
      {"read", [&] { TFileStream file(path, fmOpenRead); }},
      {"read-write", [&] { TFileStream file(path, fmOpenReadWrite); }},
      {"write", [&] { TFileStream file(path, fmOpenWrite); }},
      {"create", [&] { TFileStream file(path, fmCreate); }},
      {"load", [&] { TMemoryStream().LoadFromFile(path); }},
  };
  for (const auto& [name, open] : openings) {
    try {
      open();
      ADD_FAILURE() << path << " " << name << ": opened";
    } catch (const EFOpenError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    } catch (const Exception& e) {
      ADD_FAILURE() << path << " " << name << ": " << e.what();
    }
  }
}

} // namespace

#ifdef _WIN32
TEST(FileStream, OnlyDiskFilesAreOpened) {
  testsupport::TempFolder dir;
  dir.MakeFolder("folder");
  // "NUL" names the null device in every folder.
  for (const std::string& path : {dir.Ansi("NUL"), dir.Ansi("folder")})
    ExpectEveryOpeningRefused(path);
}
#else
TEST(FileStream, OnlyRegularFilesAreOpened) {
  testsupport::TempFolder dir;
  ASSERT_EQ(::mkfifo(dir.Utf8("idle").c_str(), 0600), 0);
  // A FIFO whose writer is there and has written: its bytes are no file's.
  ASSERT_EQ(::mkfifo(dir.Utf8("fed").c_str(), 0600), 0);
  const int writer = ::open(dir.Utf8("fed").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "PK\x03\x04", 4), 4);
  dir.MakeFolder("folder");

  // Without a writer, opening "idle" for reading would wait forever.
  for (const std::string& path :
       {dir.Ansi("fed"), std::string("/dev/zero"), dir.Ansi("folder"), dir.Ansi("idle")})
    ExpectEveryOpeningRefused(path);
  ::close(writer);
}
#endif

TEST(StringList, SplitsAtEveryKindOfLineEnd) {
  TStringList list;
  list.SetText("one\r\ntwo\nthree\rfour");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[3], "four");
  list.SetText("a\r\n\r\nb\r\n");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[1], "");
  EXPECT_EQ(list[2], "b");
  // CR LF is one line end, LF CR two.
  list.SetText("x\n\ry");
  EXPECT_EQ(list.Count(), 3);
}

TEST(StringList, WritesCrLfAfterEveryLineAndReadsItBack) {
  testsupport::TempFolder dir;
  TStringList list;
  list.Add("@echo off");
  list.Add(Utf8ToAnsi("\"卸载 招标工具.exe\" /quiet"));
  list.Add("");
  EXPECT_EQ(list.GetText(), "@echo off\r\n" + list[1] + "\r\n\r\n");
  const std::string file = dir.Ansi("安装.bat");
  list.SaveToFile(file);
  TStringList loaded;
  loaded.LoadFromFile(file);
  EXPECT_EQ(loaded.Items(), list.Items());
}
