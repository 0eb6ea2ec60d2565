// Atomic replacement on Windows: a temporary file in the same folder, flushed,
// then moved over the target with MoveFileExA and write-through, which
// replaces the directory entry in one step.
#include "platform/AtomicFile.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

// Closes the handle and removes the temporary file unless released.
class TempFile {
public:
  TempFile(std::string path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
  ~TempFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  HANDLE handle() const { return handle_; }
  const std::string& path() const { return path_; }
  bool Close() {
    const HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }
  void Release() { path_.clear(); }

private:
  std::string path_;
  HANDLE handle_;
};

bool IsLeadByte(char c) {
  return IsDBCSLeadByte(static_cast<BYTE>(c)) != 0;
}

// Position of the last folder delimiter; a trail byte of a double-byte
// character may be 0x5C, the backslash, and is none.
size_t LastDelimiter(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(path[i]) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') last = i;
  }
  return last;
}

bool WriteAll(HANDLE h, std::string_view data) {
  while (!data.empty()) {
    const DWORD chunk = data.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(data.size());
    DWORD n = 0;
    if (!WriteFile(h, data.data(), chunk, &n, nullptr) || n == 0) return false;
    data.remove_prefix(n);
  }
  return true;
}

} // namespace

bool ReplaceFileContents(const std::string& ansiPath,
                         const std::function<bool(const TWriteChunk& write)>& fill,
                         int /*newFileMode*/) {
  if (ansiPath.empty()) return false;
  const size_t delimiter = LastDelimiter(ansiPath);
  const std::string folder =
      delimiter == std::string::npos ? "" : ansiPath.substr(0, delimiter + 1);
  const std::string name =
      delimiter == std::string::npos ? ansiPath : ansiPath.substr(delimiter + 1);
  if (name.empty()) return false;

  const DWORD old = GetFileAttributesA(ansiPath.c_str());
  if (old != INVALID_FILE_ATTRIBUTES) {
    // Only a plain file is replaced; a read-only one is refused, as a write
    // in place would be.
    if ((old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) !=
        0)
      return false;
    if ((old & FILE_ATTRIBUTE_READONLY) != 0) return false;
  }

  static std::atomic<unsigned> counter{0};
  HANDLE h = INVALID_HANDLE_VALUE;
  std::string tempPath;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    tempPath = folder + "~" + name + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(counter.fetch_add(1));
    // Hidden, so that a listing of the folder does not show it meanwhile.
    h = CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  TempFile temp(tempPath, h);

  if (!fill([h](std::string_view bytes) { return WriteAll(h, bytes); })) return false;
  if (!FlushFileBuffers(temp.handle())) return false;
  if (!temp.Close()) return false;
  // The new file takes the old one's attributes, or the plain ones.
  SetFileAttributesA(tempPath.c_str(), old != INVALID_FILE_ATTRIBUTES
                                           ? old & ~FILE_ATTRIBUTE_TEMPORARY
                                           : FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExA(tempPath.c_str(), ansiPath.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return false;
  temp.Release();
  return true;
}

bool WriteFileAtomically(const std::string& ansiPath, std::string_view data) {
  return ReplaceFileContents(ansiPath, [data](const TWriteChunk& write) { return write(data); });
}

} // namespace platform
