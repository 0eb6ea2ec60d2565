// The manifest that the Windows programs carry, read back from the built
// files: the system reads resource 1 of type RT_MANIFEST when it starts the
// process, so what matters is what lies in the file's resource section, not
// the source the resource compiler was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kManifestType = 24;   // RT_MANIFEST
constexpr uint32_t kProcessManifest = 1; // CREATEPROCESS_MANIFEST_RESOURCE_ID

// The resource section of a PE file, just far enough to find one resource.
class PeResources {
public:
  explicit PeResources(std::string bytes) : bytes_(std::move(bytes)) {
    if (bytes_.compare(0, 2, "MZ") != 0) throw std::runtime_error("no MZ header");
    const uint32_t pe = U32(0x3C);
    if (bytes_.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
      throw std::runtime_error("no PE header");
    machine_ = U16(pe + 4);
    const uint16_t sections = U16(pe + 6);
    const uint32_t optional = pe + 24;
    const uint16_t magic = U16(optional);
    if (magic != 0x10B && magic != 0x20B) throw std::runtime_error("unknown optional header");
    const uint32_t directories = optional + (magic == 0x20B ? 112 : 96);
    const uint32_t count = U32(directories - 4);
    if (count < 3) throw std::runtime_error("no resource directory");
    sectionTable_ = optional + U16(pe + 20);
    sections_ = sections;
    resourceBase_ = Offset(U32(directories + 2 * 8));
  }

  // IMAGE_FILE_HEADER.Machine: 0x8664 for x86_64, 0x14C for i386.
  uint16_t Machine() const { return machine_; }

  // The IDs of the entries of type `type`, in their order.
  std::vector<uint32_t> NamesOf(uint32_t type) const {
    std::vector<uint32_t> ids;
    const uint32_t names = Subdirectory(resourceBase_, type);
    ForEachEntry(names, [&](uint32_t id, uint32_t) { ids.push_back(id); });
    return ids;
  }

  // The bytes of resource `name` of type `type`, in its first language.
  std::string Resource(uint32_t type, uint32_t name) const {
    const uint32_t languages = Subdirectory(Subdirectory(resourceBase_, type), name);
    uint32_t data = 0;
    ForEachEntry(languages, [&](uint32_t, uint32_t target) {
      if (data == 0 && (target & 0x80000000u) == 0) data = resourceBase_ + target;
    });
    if (data == 0) throw std::runtime_error("resource has no data");
    const uint32_t at = Offset(U32(data));
    const uint32_t size = U32(data + 4);
    if (static_cast<uint64_t>(at) + size > bytes_.size())
      throw std::runtime_error("resource outside the file");
    return bytes_.substr(at, size);
  }

private:
  uint32_t U16(uint64_t at) const { return Read(at, 2); }
  uint32_t U32(uint64_t at) const { return Read(at, 4); }
  uint32_t Read(uint64_t at, int size) const {
    if (at + size > bytes_.size()) throw std::runtime_error("read outside the file");
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
      value = value << 8 | static_cast<unsigned char>(bytes_[at + i]);
    return value;
  }

  // The file offset of a relative virtual address.
  uint32_t Offset(uint32_t rva) const {
    for (uint32_t i = 0; i < sections_; ++i) {
      const uint32_t header = sectionTable_ + 40 * i;
      const uint32_t address = U32(header + 12);
      const uint32_t size = std::max(U32(header + 8), U32(header + 16));
      if (rva >= address && rva < address + size) return rva - address + U32(header + 20);
    }
    throw std::runtime_error("address in no section");
  }

  // Calls `f(id, target)` for each entry of the directory at file offset
  // `directory`; `target` is relative to the resource section, its high bit
  // marking a subdirectory.
  template <typename F> void ForEachEntry(uint32_t directory, F f) const {
    const uint32_t entries = U16(directory + 12) + U16(directory + 14);
    for (uint32_t i = 0; i < entries; ++i)
      f(U32(directory + 16 + 8 * i), U32(directory + 20 + 8 * i));
  }

  // The file offset of the subdirectory that entry `id` of `directory` leads to.
  uint32_t Subdirectory(uint32_t directory, uint32_t id) const {
    uint32_t found = 0;
    ForEachEntry(directory, [&](uint32_t entry, uint32_t target) {
      if (entry == id && (target & 0x80000000u) != 0)
        found = resourceBase_ + (target & 0x7FFFFFFFu);
    });
    if (found == 0) throw std::runtime_error("no resource " + std::to_string(id));
    return found;
  }

  std::string bytes_;
  uint16_t machine_ = 0;
  uint32_t sections_ = 0;
  uint32_t sectionTable_ = 0;
  uint32_t resourceBase_ = 0;
};

std::string ReadBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read ") + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Program {
  const char* path;
  uint16_t machine;
};

TEST(WindowsProgramManifest, AsksForAdministratorRightsCommonControlsAndDpiAwareness) {
  const Program programs[] = {{UPDATER_WINDOWS_PROGRAM, 0x8664},
                              {UPDATER_WINDOWS_PROGRAM_X86, 0x14C}};
  for (const Program& program : programs) {
    SCOPED_TRACE(program.path);
    if (*program.path == '\0') continue; // a build without that program
    const PeResources file(ReadBytes(program.path));
    EXPECT_EQ(file.Machine(), program.machine);
    // One manifest, the one the system reads at the start of a process.
    ASSERT_EQ(file.NamesOf(kManifestType), std::vector<uint32_t>{kProcessManifest});
    const std::string manifest = file.Resource(kManifestType, kProcessManifest);
    EXPECT_TRUE(std::regex_search(
        manifest, std::regex(R"(<requestedExecutionLevel\s+level="requireAdministrator"\s+)"
                             R"(uiAccess="false"\s*/>)")))
        << manifest;
    EXPECT_TRUE(std::regex_search(
        manifest,
        std::regex(R"(name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0")")))
        << manifest;
    EXPECT_TRUE(std::regex_search(manifest, std::regex(R"(<dpiAware[^>]*>true</dpiAware>)")))
        << manifest;
  }
}

} // namespace
