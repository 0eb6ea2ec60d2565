#pragma once
// Folders and paths for tests on both systems. std::filesystem takes a
// narrow string in the system's narrow encoding, which the MinGW runtime
// reads byte by byte; UTF-8 names go through FsPath instead.
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace testsupport {

// The path of the UTF-8 text `utf8`.
inline std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The UTF-8 text of `path`.
inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string u8 = path.u8string();
  return std::string(u8.begin(), u8.end());
}

// Creates a new folder named `prefix` plus a random suffix in the system's
// temporary folder; returns its UTF-8 path, without a trailing delimiter.
inline std::string MakeUniqueTempFolder(const std::string& prefix) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = temp / (prefix + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(candidate)) return Utf8Of(candidate);
  }
  throw std::runtime_error("no temporary folder could be made");
}

} // namespace testsupport
