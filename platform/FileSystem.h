#pragma once
// File operations on ANSI paths; each path is converted to the UTF-8 name the
// file system uses. None of them raises unless said otherwise.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Directory-entry attribute bits, as the Windows find functions report them.
enum : uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeId = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faAnyFile = 0x3F,
};
inline constexpr uint32_t InvalidFileAttributes = 0xFFFFFFFFu;

bool FileExists(const std::string& path);      // a file (not a folder)
bool DirectoryExists(const std::string& path); // a folder (a link to one counts)
// Creates the folder and its missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);
// Copies, replacing an existing target atomically (an interrupted copy leaves
// the old target); a new target gets the source's mode. False on any failure,
// also when the target is read-only, as on Windows.
bool CopyFileOverwrite(const std::string& source, const std::string& target);
// Removes a file or a link (a symbolic link; on Windows also a junction),
// never what it points to. As on Windows, a read-only file is not removed:
// clear the attribute first.
bool DeleteFile(const std::string& path);
bool RemoveDirectory(const std::string& path); // removes an empty folder
// Appends `bytes` at the end of the file, creating it when missing (Linux:
// mode 0666 less the umask). One call is one write, so that lines appended
// by two processes at once do not interleave. False on any failure.
bool AppendToFile(const std::string& path, std::string_view bytes);
// The size of the file in bytes; -1 when there is none, or it is a folder.
int64_t FileSize(const std::string& path);
// Renames a file, replacing `target` when it exists. False on any failure.
bool RenameFile(const std::string& source, const std::string& target);
// Attributes of the entry (a link is reported as a file), or
// InvalidFileAttributes when it does not exist. Linux: a name beginning with
// '.' is hidden; an entry its owner may not write is read-only.
uint32_t GetFileAttributes(const std::string& path);
// Windows sets the read-only, hidden, system and archive bits as given. On
// Linux only the read-only bit has an effect: it clears or sets the owner's
// write bit.
bool SetFileAttributes(const std::string& path, uint32_t attributes);

// Creates `path` (and its parents) as a folder only the current user may
// enter: mode 0700 on Linux; on Windows it lies in the user's own temporary
// folder. Raises Exception when it exists as a link (on Windows also a
// junction) or as a file, belongs to another user (Linux), or cannot be
// created.
void ForcePrivateDirectory(const std::string& path);

struct TSearchRec {
  std::string Name; // ANSI file name without folder
  uint32_t Attr = 0;
  int64_t Size = 0;
};

// The find-first / find-next enumeration. The pattern is a folder plus a file
// mask with '*' and '?' (matched ignoring ASCII case, "*.*" matches every
// name). An entry that carries a special attribute (hidden, system,
// directory) that is not in the mask is skipped. "." and ".." are returned
// first when the mask includes directories. Closes itself on destruction.
class FileFinder {
public:
  FileFinder() = default;
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;

  // False when nothing matches or the folder cannot be read.
  bool First(const std::string& pattern, uint32_t mask, TSearchRec& found);
  bool Next(TSearchRec& found) {
    if (next_ >= entries_.size()) return false;
    found = entries_[next_++];
    return true;
  }
  void Close() {
    entries_.clear();
    next_ = 0;
  }

private:
  // The whole listing is read by First, so a folder changing meanwhile
  // cannot disturb the enumeration.
  std::vector<TSearchRec> entries_;
  size_t next_ = 0;
};

} // namespace platform
