#pragma once
// The version a sample-text template carries: its archive comment is ini
// text, and [Region] Version is the version. Read the same way by the
// updater (the installed template) and by the publishing program.
#include <string>

// [Region] Version of the comment of the archive at `path` (ANSI), blanks
// and tabs around it removed; empty when the file, the comment or the key is
// missing, or the file is no zip archive. Never raises.
std::string ReadTemplateVersionText(const std::string& path);
