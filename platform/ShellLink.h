#pragma once
// Shortcut files: the program or file a shortcut leads to. Texts are ANSI.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The target of the shortcut file `path`. Windows reads the shell link with
// the shell's own link object. Linux takes a Windows shell link (.lnk), a
// freedesktop desktop entry (the program of its Exec line), or a symbolic
// link (the file it leads to), and the result goes through MapDrivePath, so
// the drive path of a shell link names a folder of this system. Raises
// Exception naming the file when it cannot be read or is none of these.
std::string ReadShortcutTarget(const std::string& path);

// The local target of the shell link held in `bytes`: the LinkInfo's local
// base path followed by its common path suffix, from their Unicode forms
// where the link has them, else from the ANSI forms. nullopt when the bytes
// are no shell link, name no local target, or hold an offset or size that
// lies outside them.
std::optional<std::string> ParseShellLinkTarget(std::string_view bytes);

// The program (ANSI) of the Exec key in the [Desktop Entry] group of the
// desktop entry `utf8Text`, with its quoting and escapes undone. nullopt when
// the text is no desktop entry or has no program there.
std::optional<std::string> ParseDesktopEntryProgram(std::string_view utf8Text);

} // namespace platform
