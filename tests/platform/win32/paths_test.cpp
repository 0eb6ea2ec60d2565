// Paths on Windows: the module, the temporary folder, and drive paths, which
// need no mapping here.
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

TEST(Paths, ExecutableIsThisTestProgram) {
  const std::string exe = platform::ExecutableFileName();
  ASSERT_GT(exe.size(), 4u);
  EXPECT_EQ(exe.substr(exe.size() - 4), ".exe");
  EXPECT_EQ(exe.find('/'), std::string::npos);
  const DWORD attributes = GetFileAttributesA(exe.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(Paths, TempPathComesFromTheSystemWithOneTrailingBackslash) {
  for (const char* given : {"C:\\临时", "C:\\临时\\"}) {
    SCOPED_TRACE(given);
    testsupport::ScopedEnv tmp("TMP", platform::Utf8ToAnsi(given));
    EXPECT_EQ(platform::TempPath(), platform::Utf8ToAnsi("C:\\临时\\"));
  }
}

TEST(Paths, DrivePathsAreRealPaths) {
  for (const std::string& path : {std::string("C:\\ProgramData\\Microsoft\\Windows\\Start Menu"),
                                  platform::Utf8ToAnsi("d:\\招标\\"), std::string("relative")})
    EXPECT_EQ(platform::MapDrivePath(path), path);
  EXPECT_EQ(platform::PathDelim, '\\');
}

} // namespace
