// The program check of a download: Windows images by their MZ and PE
// headers and machine, ELF images and scripts by their first bytes; and
// which of them this system starts.
#include "platform/Paths.h"
#include "platform/ProgramImage.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

using platform::TProgramFormat;

// A Windows image header: "MZ", the PE header's offset at 0x3C, and
// "PE\0\0" with the machine there.
std::string PeImage(uint32_t peOffset, uint16_t machine, size_t size) {
  std::string image(size, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  for (int i = 0; i < 4; ++i)
    image[0x3C + i] = static_cast<char>(peOffset >> (8 * i));
  if (uint64_t{peOffset} + 6 <= size) {
    image.replace(peOffset, 4, std::string("PE\0\0", 4));
    image[peOffset + 4] = static_cast<char>(machine);
    image[peOffset + 5] = static_cast<char>(machine >> 8);
  }
  return image;
}

TEST(ProgramImage, TellsTheFormatFromTheHeadersAndRefusesEverythingElse) {
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<TProgramFormat> format;
  } cases[] = {
      {"x86 image", PeImage(0x80, 0x014C, 512), TProgramFormat::PeX86},
      {"x64 image", PeImage(0x80, 0x8664, 512), TProgramFormat::PeX64},
      // The PE header may lie far into the file, and right at its end.
      {"late PE header", PeImage(4000, 0x8664, 4006), TProgramFormat::PeX64},
      {"ARM64 image", PeImage(0x80, 0xAA64, 512), std::nullopt},
      {"PE header past the end", PeImage(600, 0x014C, 512), std::nullopt},
      {"PE header cut short", PeImage(0x80, 0x014C, 0x84), std::nullopt},
      {"PE offset near 4 GiB", PeImage(0xFFFFFFFA, 0x014C, 512), std::nullopt},
      {"MZ alone", "MZ", std::nullopt},
      {"MZ without PE", "MZ" + std::string(200, 'x'), std::nullopt},
      {"ELF image",
       std::string("\x7F"
                   "ELF\x02\x01\x01",
                   7) +
           std::string(60, '\0'),
       TProgramFormat::Elf},
      {"script", "#!/bin/sh\necho hi\n", TProgramFormat::Script},
      {"HTML page", "<!DOCTYPE html>\n<html><body>404 Not Found</body></html>\n", std::nullopt},
      {"empty file", "", std::nullopt},
      {"one byte", "#", std::nullopt},
  };
  testsupport::TempFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.Write("招标工具.exe", c.bytes);
    EXPECT_EQ(platform::ReadProgramFormat(dir.Ansi("招标工具.exe")), c.format);
  }
  EXPECT_EQ(platform::ReadProgramFormat(dir.Ansi("missing.exe")), std::nullopt);
  dir.MakeFolder("folder.exe");
  EXPECT_EQ(platform::ReadProgramFormat(dir.Ansi("folder.exe")), std::nullopt);
}

TEST(ProgramImage, ThisSystemStartsItsOwnFormatsOnly) {
#ifdef _WIN32
  const bool windows = true;
#else
  const bool windows = false;
#endif
  EXPECT_EQ(platform::IsNativeProgramFormat(TProgramFormat::PeX86), windows);
  EXPECT_EQ(platform::IsNativeProgramFormat(TProgramFormat::PeX64), windows);
  EXPECT_EQ(platform::IsNativeProgramFormat(TProgramFormat::Elf), !windows);
  EXPECT_EQ(platform::IsNativeProgramFormat(TProgramFormat::Script), !windows);
  // The test program itself is the system's own kind of program.
  EXPECT_TRUE(platform::IsStartableProgram(platform::ExecutableFileName()));
  testsupport::TempFolder dir;
  dir.Write("page.exe", "<html></html>");
  EXPECT_FALSE(platform::IsStartableProgram(dir.Ansi("page.exe")));
}

} // namespace
