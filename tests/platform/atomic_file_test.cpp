// The atomic replacement seen from outside, at the system calls it makes:
// a crash leaves the old file whole only when the new contents are on disk
// before they take the file's name.
#include "platform/AtomicFile.h"
#include "platform/Profile.h"
#include "tests/support/SyscallTrace.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

using testsupport::SyscallEvent;

std::string NameOf(const std::filesystem::path& path) {
  return path.filename().string();
}

std::string Describe(const std::vector<SyscallEvent>& events) {
  std::ostringstream out;
  for (const SyscallEvent& e : events)
    out << "\n  " << e.call << " " << NameOf(e.path) << (e.to.empty() ? "" : " -> " + NameOf(e.to))
        << (e.bytes ? " (" + std::to_string(e.bytes) + " bytes)" : "");
  return out.str();
}

} // namespace

TEST(AtomicFile, NewContentsAreSyncedBeforeTheyTakeTheFilesName) {
  const std::string old = "[HTTP]\r\nURLUseCDN=http://cdn.example/\r\nDoneSize=100\r\n";
  const std::string config = "[HTTP]\r\nURLUseCDN=http://cdn.example/\r\nDoneSize=123456\r\n";
  const std::string large(300000, 'x');
  using Writer = std::function<bool(const std::string& ansiPath)>;
  struct Case {
    const char* what;
    std::optional<std::string> before; // the file's contents before, if any
    Writer write;
    std::string after;
    bool throughLink = false; // the name is a symbolic link to real.ini
  } cases[] = {
      {"DoneSize of an existing VersionCfg.ini", old,
       [](const std::string& file) {
         return platform::WriteProfileString(file, "HTTP", "DoneSize", "123456");
       },
       config},
      {"new file", std::nullopt,
       [](const std::string& file) {
         return platform::WriteFileAtomically(file, "[A]\r\nk=1\r\n");
       },
       "[A]\r\nk=1\r\n"},
      {"contents handed over in pieces", old,
       [&](const std::string& file) {
         return platform::ReplaceFileContents(file, [&](const platform::TWriteChunk& write) {
           return write(large.substr(0, 1)) && write(large.substr(1, 65536)) &&
                  write(large.substr(65537));
         });
       },
       large},
      {"through a symbolic link", old,
       [](const std::string& file) {
         return platform::WriteProfileString(file, "HTTP", "DoneSize", "123456");
       },
       config, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TempFolder dir;
    const std::string real = c.throughLink ? "real.ini" : "VersionCfg.ini";
    if (c.before) dir.Write(real, *c.before);
    if (c.throughLink) {
      ASSERT_EQ(::symlink("real.ini", dir.Utf8("VersionCfg.ini").c_str()), 0);
    }

    testsupport::StartSyscallTrace(NameOf(std::filesystem::path(dir.Utf8()).parent_path()));
    const bool written = c.write(dir.Ansi("VersionCfg.ini"));
    const std::vector<SyscallEvent> events = testsupport::StopSyscallTrace();
    ASSERT_TRUE(written);
    EXPECT_TRUE(dir.Read(real) == c.after);

    // One rename gives the new contents the file's name; until then they
    // lie in a file of another name, which every write went to.
    size_t renameAt = events.size();
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i].call == "rename") {
        EXPECT_EQ(renameAt, events.size()) << "renamed twice" << Describe(events);
        renameAt = i;
      }
    ASSERT_LT(renameAt, events.size()) << "never renamed" << Describe(events);
    const std::string temporary = NameOf(events[renameAt].path);
    EXPECT_EQ(NameOf(events[renameAt].to), real) << Describe(events);
    EXPECT_NE(temporary, real);

    int64_t writtenBefore = 0;
    std::optional<size_t> lastWrite, syncAfterLastWrite;
    for (size_t i = 0; i < events.size(); ++i) {
      const SyscallEvent& e = events[i];
      if (e.call == "write") {
        EXPECT_LT(i, renameAt) << "written after the rename" << Describe(events);
        EXPECT_EQ(NameOf(e.path), temporary) << "written in place" << Describe(events);
        writtenBefore += e.bytes;
        lastWrite = i;
        syncAfterLastWrite.reset();
      } else if (e.call == "fsync" && NameOf(e.path) == temporary && i < renameAt) {
        syncAfterLastWrite = i;
      }
    }
    EXPECT_EQ(writtenBefore, static_cast<int64_t>(c.after.size())) << Describe(events);
    EXPECT_TRUE(lastWrite && syncAfterLastWrite)
        << "the rename came before the written bytes were synced" << Describe(events);
  }
}
