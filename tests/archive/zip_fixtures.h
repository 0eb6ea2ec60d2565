#pragma once
// Archives for the zip reader's tests: a scratch folder, zip files built byte
// by byte (so that every field can be bent) and archives made by the `zip`
// tool.
#include "tests/support/UniqueFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ziptest {

class ScratchDir {
public:
  ScratchDir() : root_(testsupport::MakeUniqueTempFolder("updater-zip-")) {}
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string Path(const std::string& name) const { return root_ + "/" + name; }

  std::string Write(const std::string& name, const std::string& bytes) const {
    std::filesystem::path path(Path(name));
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

private:
  std::string root_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
inline void Put64(std::string& s, uint64_t v) {
  Put32(s, static_cast<uint32_t>(v));
  Put32(s, static_cast<uint32_t>(v >> 32));
}

struct Member {
  std::string name;
  std::string data;
};

struct ZipLayout {
  std::string bytes;
  uint64_t directoryOffset = 0; // as stored, relative to the archive's start
  uint64_t endRecordOffset = 0;
};

// A zip archive of stored members. `commentLength` overrides the length in
// the end record (-1: the comment's real length); `directorySize` likewise.
// With `zip64` the archive carries a Zip64 end record and locator, and the
// 22-byte record saturated fields.
inline ZipLayout BuildZip(const std::vector<Member>& members, const std::string& comment,
                          bool zip64 = false, int64_t commentLength = -1,
                          int64_t directorySize = -1) {
  ZipLayout out;
  std::string& s = out.bytes;
  std::vector<uint32_t> offsets;
  for (const Member& m : members) {
    offsets.push_back(static_cast<uint32_t>(s.size()));
    s += "PK\x03\x04";
    Put16(s, 10); // version needed
    Put16(s, 0);  // flags
    Put16(s, 0);  // stored
    Put32(s, 0);  // time, date
    Put32(s, 0);  // crc: the reader never checks it
    Put32(s, static_cast<uint32_t>(m.data.size()));
    Put32(s, static_cast<uint32_t>(m.data.size()));
    Put16(s, static_cast<uint32_t>(m.name.size()));
    Put16(s, 0);
    s += m.name;
    s += m.data;
  }
  out.directoryOffset = s.size();
  for (size_t i = 0; i < members.size(); ++i) {
    const Member& m = members[i];
    s += "PK\x01\x02";
    Put16(s, 20);
    Put16(s, 10);
    Put16(s, 0);
    Put16(s, 0);
    Put32(s, 0);
    Put32(s, 0);
    Put32(s, static_cast<uint32_t>(m.data.size()));
    Put32(s, static_cast<uint32_t>(m.data.size()));
    Put16(s, static_cast<uint32_t>(m.name.size()));
    Put16(s, 0); // extra
    Put16(s, 0); // comment
    Put16(s, 0); // disk
    Put16(s, 0); // internal attributes
    Put32(s, 0); // external attributes
    Put32(s, offsets[i]);
    s += m.name;
  }
  const uint64_t size = s.size() - out.directoryOffset;
  if (zip64) {
    const uint64_t zip64EndOffset = s.size();
    s += "PK\x06\x06";
    Put64(s, 44);
    Put16(s, 45);
    Put16(s, 45);
    Put32(s, 0);
    Put32(s, 0);
    Put64(s, members.size());
    Put64(s, members.size());
    Put64(s, size);
    Put64(s, out.directoryOffset);
    s += "PK\x06\x07";
    Put32(s, 0);
    Put64(s, zip64EndOffset);
    Put32(s, 1);
  }
  out.endRecordOffset = s.size();
  s += "PK\x05\x06";
  Put16(s, 0);
  Put16(s, 0);
  Put16(s, zip64 ? 0xFFFF : static_cast<uint32_t>(members.size()));
  Put16(s, zip64 ? 0xFFFF : static_cast<uint32_t>(members.size()));
  Put32(s, zip64 ? 0xFFFFFFFFu
                 : static_cast<uint32_t>(directorySize >= 0 ? directorySize : int64_t(size)));
  Put32(s, zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(out.directoryOffset));
  Put16(s, static_cast<uint32_t>(commentLength >= 0 ? commentLength : int64_t(comment.size())));
  s += comment;
  return out;
}

inline std::vector<Member> TwoMembers() {
  return {{"readme.txt", "hello, world\n"}, {"data/values.ini", "[a]\nb=1\n"}};
}

// The `zip` tool and the POSIX shell that Shell() uses are Linux matters; a
// test that needs them starts with this.
#ifdef _WIN32
#define ZIPTEST_NEEDS_ZIP_TOOL() GTEST_SKIP() << "the zip tool and a POSIX shell are Linux tools"
#else
#define ZIPTEST_NEEDS_ZIP_TOOL() static_cast<void>(0)
#endif

// Runs a shell command in `dir`; the test fails when it does not succeed.
inline void Shell(const ScratchDir& dir, const std::string& command) {
  const std::string line = "cd '" + dir.Path("") + "' && " + command;
  ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

// Makes `zipName` in `dir` with the `zip` tool from two small files, with
// `comment` fed to `zip -z` (which turns each LF into CR LF).
inline std::string ZipWithTool(const ScratchDir& dir, const std::string& zipName,
                               const std::string& comment) {
  dir.Write("src/readme.txt", "hello, world\n");
  dir.Write("src/data/values.ini", "[a]\nb=1\n");
  dir.Write("comment.txt", comment);
  Shell(dir, "cd src && zip -q -X -r -z '../" + zipName + "' readme.txt data < ../comment.txt");
  return dir.Path(zipName);
}

} // namespace ziptest
