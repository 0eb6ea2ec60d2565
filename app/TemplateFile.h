#pragma once
// What a sample-text template must be before the updater touches the file
// system or the network for it: its name a plain file name, its file a zip
// archive that says which version it is.
#include <cstdint>
#include <optional>
#include <string>

// Raises EInvalidArgument "模板名称无效：<name>" unless `name` (ANSI) can be
// used as a file name in any folder on Linux and Windows: not empty after
// trimming blanks and control characters; no '\', '/', ':', '*', '?', '"',
// '<', '>', '|' or control character; not "." or ".."; not a Windows device
// name (CON, NUL, COM1, ...), also with an extension, as Windows reads
// "NUL.sfwb" as the device; and whole GBK characters (the trail byte of a
// double-byte character may be 0x5C or 0x7C, which then are no '\' or '|').
void CheckTemplateName(const std::string& name);

// The [Region] Version in the archive comment of the template at `path`;
// nullopt when the file is no zip archive that the archive reader reads, has
// no comment, or the comment holds no integer version.
std::optional<int32_t> ReadTemplateVersion(const std::string& path);
