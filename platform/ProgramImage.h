#pragma once
// Whether a file is a program that this system can start. A downloaded
// installer is checked before anything is removed to make room for it: a
// server that answers the package's URL with an HTML page must not cost the
// user the installed version.
#include <optional>
#include <string>

namespace platform {

enum class TProgramFormat {
  PeX86,  // a Windows image for x86 (machine 0x014C)
  PeX64,  // a Windows image for x64 (machine 0x8664)
  Elf,    // an ELF image
  Script, // a text that names its interpreter on its first line ("#!")
};

// The format of the file `path` (ANSI): "MZ", then "PE\0\0" at the offset
// the MZ header names, for a Windows image, whose machine must be x86 or
// x64; "\x7F" "ELF" for an ELF image; "#!" for a script. nullopt when it is
// none of these (an HTML page, a truncated image, a Windows image for
// another machine) or when the file cannot be read.
std::optional<TProgramFormat> ReadProgramFormat(const std::string& path);

// Whether this system starts a program of `format`: a Windows image on
// Windows; an ELF image or a script on Linux.
bool IsNativeProgramFormat(TProgramFormat format);

// ReadProgramFormat and IsNativeProgramFormat together.
bool IsStartableProgram(const std::string& path);

// A name for the log: "pe-x86", "pe-x64", "elf", "script".
const char* ProgramFormatName(TProgramFormat format);

} // namespace platform
