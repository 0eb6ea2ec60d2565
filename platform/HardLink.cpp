// The portable part of the hard links: a link made under a temporary name
// and moved over the target, so that the target is replaced in one step, and
// the copy where no link can be made.
#include "HardLink.h"

#include "FileSystem.h"

namespace platform {

std::optional<TPlacement> LinkOrCopyFile(const std::string& source, const std::string& target,
                                         bool allowLink) {
  if (allowLink) {
    const std::string temporary = target + ".~link";
    DeleteFile(temporary); // left by an earlier run that was interrupted
    if (CreateHardLink(source, temporary)) {
      const bool moved = RenameFile(temporary, target);
      // A rename between two names of one file does nothing and succeeds
      // (the target was a link of the source already): the temporary name
      // is still there.
      DeleteFile(temporary);
      if (moved) return TPlacement::Linked;
    }
  }
  if (CopyFileOverwrite(source, target)) return TPlacement::Copied;
  return std::nullopt;
}

} // namespace platform
