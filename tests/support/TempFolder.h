#pragma once
// A fresh folder in the temporary folder for one test, removed with everything
// in it when the test ends. Paths are handed out as ANSI text with a trailing
// delimiter of the platform.
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "tests/support/UniqueFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace testsupport {

class TempFolder {
public:
  TempFolder() : utf8_(MakeUniqueTempFolder("updater-test-") + platform::PathDelim) {}
  ~TempFolder() {
    std::error_code ec;
    // Restore write permission everywhere, so that removal cannot fail.
    for (auto it = std::filesystem::recursive_directory_iterator(FsPath(utf8_), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(FsPath(utf8_), ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder in ANSI, with a trailing delimiter.
  std::string Ansi() const { return platform::Utf8ToAnsi(utf8_); }
  // The UTF-8 path of `utf8Name` inside the folder; a '/' in the name is the
  // platform's delimiter.
  std::string Utf8(const std::string& utf8Name = {}) const { return utf8_ + Native(utf8Name); }
  // The ANSI path of `utf8Name` inside the folder.
  std::string Ansi(const std::string& utf8Name) const {
    return platform::Utf8ToAnsi(utf8_ + Native(utf8Name));
  }

  // Creates a file (and its folders) with the given bytes; names are UTF-8.
  void Write(const std::string& utf8Name, const std::string& bytes) const {
    const std::filesystem::path path = FsPath(utf8_ + utf8Name);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  void MakeFolder(const std::string& utf8Name) const {
    std::filesystem::create_directories(FsPath(utf8_ + utf8Name));
  }
  bool Exists(const std::string& utf8Name) const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(FsPath(utf8_ + utf8Name), ec));
  }
  std::string Read(const std::string& utf8Name) const {
    std::ifstream in(FsPath(utf8_ + utf8Name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

private:
  static std::string Native(std::string utf8Name) {
    for (char& c : utf8Name)
      if (c == '/') c = platform::PathDelim;
    return utf8Name;
  }

  std::string utf8_;
};

} // namespace testsupport
