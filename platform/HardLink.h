#pragma once
// Second names for files: a hard link costs no data, so a snapshot of a large
// folder on the same volume is cheap, and deleting the original name leaves
// the data to the other one. Paths are ANSI.
#include <optional>
#include <string>

namespace platform {

// Makes `link` a second name of the file `existing`. False when the system
// cannot: another volume, a file system without hard links, no rights, or
// `link` exists already.
bool CreateHardLink(const std::string& existing, const std::string& link);

enum class TPlacement { Linked, Copied };

// Puts the contents of the file `source` at `target`, replacing a file that
// is there in one step: a hard link where one can be made, else a copy.
// nullopt when neither works; `target` is then as it was. A link shares
// everything with the source, its data and its attributes, so a writer of
// one name changes the other; `allowLink` false asks for a copy.
std::optional<TPlacement> LinkOrCopyFile(const std::string& source, const std::string& target,
                                         bool allowLink = true);

} // namespace platform
