#include "platform/CodePage.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using platform::MapDrivePath;
using platform::TempPath;
using platform::Utf8ToAnsi;

namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

} // namespace

TEST(Paths, ExecutableIsTheRunningTestProgram) {
  const std::string exe = platform::ExecutableFileName();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), '/');
  EXPECT_NE(exe.find("platform_paths_test"), std::string::npos) << exe;
  EXPECT_EQ(::access(exe.c_str(), X_OK), 0);
}

TEST(Paths, TempPathAlwaysEndsWithOneDelimiter) {
  {
    ScopedEnv env("TMPDIR", nullptr);
    EXPECT_EQ(TempPath(), "/tmp/");
  }
  {
    ScopedEnv env("TMPDIR", "");
    EXPECT_EQ(TempPath(), "/tmp/");
  }
  {
    ScopedEnv env("TMPDIR", "/var/临时/");
    EXPECT_EQ(TempPath(), Utf8ToAnsi("/var/临时/"));
  }
  {
    ScopedEnv env("TMPDIR", "/scratch");
    EXPECT_EQ(TempPath(), "/scratch/");
  }
  {
    ScopedEnv env("TMPDIR", "/bad\xFF");
    EXPECT_EQ(TempPath(), "");
  }
}

TEST(Paths, DrivePathsMapOntoFolders) {
  const std::string startMenu =
      Utf8ToAnsi("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\招标工具");
  {
    ScopedEnv env("UPDATE_DRIVE_C", nullptr);
    EXPECT_EQ(MapDrivePath(startMenu),
              Utf8ToAnsi("/ProgramData/Microsoft/Windows/Start Menu/Programs/招标工具"));
    EXPECT_EQ(MapDrivePath("c:\\"), "/");
    EXPECT_EQ(MapDrivePath("C:"), "/");
  }
  {
    ScopedEnv env("UPDATE_DRIVE_C", "/srv/drive_c/");
    EXPECT_EQ(MapDrivePath("C:\\\\a\\b\\"), "/srv/drive_c/a/b/");
    EXPECT_EQ(MapDrivePath("c:a"), "/srv/drive_c/a");
  }
  {
    ScopedEnv env("UPDATE_DRIVE_D", "/mnt/d");
    EXPECT_EQ(MapDrivePath("D:\\x"), "/mnt/d/x");
  }
  ScopedEnv env("UPDATE_DRIVE_E", nullptr);
  EXPECT_EQ(MapDrivePath("e:\\x/y"), "/x/y");
  // Anything that is not a drive path is left alone.
  for (const char* p : {"", "C", "/usr/bin", "relative\\path", "1:\\x", "\\\\server\\share"})
    EXPECT_EQ(MapDrivePath(p), p);
}

TEST(Paths, GbkTrailByteThatLooksLikeBackslashIsKept) {
  // 0x955C is one character whose second byte is the backslash code.
  const std::string path = "C:\\a\x95\x5C"
                           "b";
  ScopedEnv env("UPDATE_DRIVE_C", nullptr);
  EXPECT_EQ(MapDrivePath(path), "/a\x95\x5C"
                                "b");
}
