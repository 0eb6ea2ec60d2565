#pragma once
// The folder tree of a static update server, as the publishing program
// writes and checks it.
//
// A client asks for <kind>/<VersionPath>/<file> with the GBK bytes of the
// names, and a static server on Linux looks those bytes up as they are. So
// below the tree's root, names are stored as their GBK bytes on Linux, not
// converted to UTF-8 as every other path of the system is; on Windows they
// are ANSI names like any other. The root is an ordinary ANSI path. Paths
// below it ("relative" below) are ANSI names joined by '/'.
//
// New contents go to a temporary file beside their name, which is flushed to
// disk before it is renamed into place; the folder is flushed after the
// rename (Linux). So a crash leaves every file old or new, and a file put
// in place before another is on the disk before it.
#include "platform/Stream.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class TServerTreeFile;

class TServerTree {
public:
  explicit TServerTree(std::string rootAnsi);

  const std::string& Root() const { return root_; }
  // The file's path as the user names it, for messages (ANSI).
  std::string DisplayPath(const std::string& relative) const;

  bool RootExists() const;
  // The size of the regular file; -1 when there is none (or a folder).
  int64_t FileSize(const std::string& relative) const;
  // Opens the file for reading; raises EFOpenError when it cannot.
  std::unique_ptr<TFileStream> OpenRead(const std::string& relative) const;
  // The whole file; nullopt when there is none. Raises EFOpenError when it
  // exists but cannot be read, and EStreamError when it is larger than
  // `maxSize`.
  std::optional<std::string> ReadSmallFile(const std::string& relative, int64_t maxSize) const;
  // Creates the folder and the missing ones above it, each flushed into its
  // parent. Raises EFOpenError when one cannot be made.
  void ForceFolders(const std::string& relative) const;
  // A new, empty temporary file that becomes `relative` when committed. Its
  // folder must exist. Raises EFOpenError when it cannot be made.
  std::unique_ptr<TServerTreeFile> NewFile(const std::string& relative) const;

private:
  std::string NativePath(const std::string& relative) const;

  std::string root_;
};

// The new contents of one file of the tree, readable and writable through
// Stream() until committed. A file that is never committed is removed.
class TServerTreeFile {
public:
  // Takes over `handle`, open for reading and writing on the temporary
  // file `tempPath` (native paths, as TServerTree makes them).
  TServerTreeFile(intptr_t handle, std::string tempPath, std::string target, std::string display);
  ~TServerTreeFile();
  TServerTreeFile(const TServerTreeFile&) = delete;
  TServerTreeFile& operator=(const TServerTreeFile&) = delete;

  TStream& Stream() { return *stream_; }

  // Flushes the contents to disk and gives the file its name, replacing an
  // existing file when `replace` is set. Without it, an existing file stays
  // as it is and the result is false. Raises EStreamError when a step fails
  // (the temporary file is then removed).
  bool Commit(bool replace);

private:
  intptr_t handle_;
  std::unique_ptr<TFileStream> stream_;
  std::string tempPath_; // native
  std::string target_;   // native
  std::string display_;
};

} // namespace platform
