// Files and folders on Windows, through the ANSI functions of the system.
//
// A reparse point (a junction or a symbolic link) is reported as a file, as
// the POSIX side reports a symbolic link, and is removed itself: walking into
// one while deleting a folder tree would delete files outside the tree.
#include "platform/FileSystem.h"

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/FileMask.h"
#include "platform/PlatformTexts.h"
#include "platform/TextFormat.h"
#include "platform/win32/SystemError.h"

#include <windows.h>
#undef DeleteFile
#undef RemoveDirectory
#undef GetFileAttributes
#undef SetFileAttributes

#include <algorithm>
#include <vector>

namespace platform {
namespace {

bool IsDelimiter(char c) {
  return c == '\\' || c == '/';
}

// Positions of the folder delimiters of `path`, skipping double-byte
// characters, whose trail byte may be 0x5C, the backslash.
std::vector<size_t> Delimiters(const std::string& path) {
  std::vector<size_t> at;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (IsDelimiter(path[i])) at.push_back(i);
  }
  return at;
}

// The path without trailing delimiters, except after a drive ("C:\").
std::string WithoutTrailingDelimiter(std::string path) {
  std::vector<size_t> at = Delimiters(path);
  while (!at.empty() && at.back() == path.size() - 1 && path.size() > 1 &&
         !(path.size() == 3 && path[1] == ':')) {
    path.pop_back();
    at.pop_back();
  }
  return path;
}

constexpr DWORD kLinkOrSpecial = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

uint32_t AttributesOf(DWORD attributes) {
  uint32_t attr = attributes & (faReadOnly | faHidden | faSysFile | faArchive);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    attr |= faArchive; // a link is a file of its own, whatever it leads to
  else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    attr |= faDirectory;
  return attr;
}

// The attributes of the entry itself, or INVALID_FILE_ATTRIBUTES.
DWORD RawAttributes(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesA(WithoutTrailingDelimiter(path).c_str());
}

// Whether the folder a path names through links exists.
bool IsFolderBehindLinks(const std::string& path) {
  const HANDLE h = CreateFileA(WithoutTrailingDelimiter(path).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool folder = GetFileInformationByHandle(h, &info) != 0 &&
                      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  CloseHandle(h);
  return folder;
}

bool CreateOneFolder(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace

bool FileExists(const std::string& path) {
  const DWORD attributes = RawAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return !IsFolderBehindLinks(path);
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = RawAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return IsFolderBehindLinks(path);
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  const std::string bare = WithoutTrailingDelimiter(path);
  for (size_t at : Delimiters(bare)) {
    // "C:\" and the "\\server\share\" of a network path are no folders to make.
    if (at == 0 || (at == 2 && bare[1] == ':') || (at == 1 && IsDelimiter(bare[0]))) continue;
    CreateOneFolder(bare.substr(0, at));
  }
  CreateOneFolder(bare);
  return DirectoryExists(bare);
}

bool CopyFileOverwrite(const std::string& source, const std::string& target) {
  const DWORD targetAttributes = RawAttributes(target);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES &&
      (targetAttributes & FILE_ATTRIBUTE_READONLY) != 0)
    return false;
  const HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileType(in) == FILE_TYPE_DISK;
  // The replacement is atomic, so an interrupted copy never leaves a
  // truncated template or installer behind.
  ok = ok && ReplaceFileContents(target, [in](const TWriteChunk& write) {
         static thread_local char buffer[65536];
         for (;;) {
           DWORD n = 0;
           if (!ReadFile(in, buffer, sizeof buffer, &n, nullptr)) return false;
           if (n == 0) return true;
           if (!write(std::string_view(buffer, n))) return false;
         }
       });
  CloseHandle(in);
  return ok;
}

bool DeleteFile(const std::string& path) {
  const DWORD attributes = RawAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const std::string bare = WithoutTrailingDelimiter(path);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // The link goes, never what it leads to; a link to a folder is removed
    // as a folder.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return RemoveDirectoryA(bare.c_str()) != 0;
    return DeleteFileA(bare.c_str()) != 0;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  return DeleteFileA(bare.c_str()) != 0;
}

bool RemoveDirectory(const std::string& path) {
  const DWORD attributes = RawAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return false;
  return RemoveDirectoryA(WithoutTrailingDelimiter(path).c_str()) != 0;
}

bool AppendToFile(const std::string& path, std::string_view bytes) {
  if (path.empty() || bytes.size() > MAXDWORD) return false;
  // FILE_APPEND_DATA alone: every write goes to the end, also when another
  // process appends at the same time.
  const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      GetFileType(file) == FILE_TYPE_DISK &&
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
      written == bytes.size();
  return CloseHandle(file) != 0 && ok;
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool RenameFile(const std::string& source, const std::string& target) {
  return !source.empty() && !target.empty() &&
         MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

uint32_t GetFileAttributes(const std::string& path) {
  const DWORD attributes = RawAttributes(path);
  return attributes == INVALID_FILE_ATTRIBUTES ? InvalidFileAttributes : AttributesOf(attributes);
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  const DWORD settable = faReadOnly | faHidden | faSysFile | faArchive;
  DWORD value = attributes & settable;
  if (value == 0) value = FILE_ATTRIBUTE_NORMAL;
  return !path.empty() && SetFileAttributesA(WithoutTrailingDelimiter(path).c_str(), value) != 0;
}

void ForcePrivateDirectory(const std::string& path) {
  // The folder lies in the user's own temporary folder, which only the user
  // may enter; what must not happen is that a link or a junction put in its
  // place leads the updater's files elsewhere.
  if (path.empty())
    throw Exception(
        FormatText(texts::kFolderNotCreated, path, win32::SystemErrorText(ERROR_PATH_NOT_FOUND)));
  const std::string bare = WithoutTrailingDelimiter(path);
  const std::vector<size_t> at = Delimiters(bare);
  if (!at.empty() && at.back() > 0 && !ForceDirectories(bare.substr(0, at.back())))
    throw Exception(
        FormatText(texts::kFolderNotCreated, path, win32::SystemErrorText(GetLastError())));
  if (!CreateOneFolder(bare))
    throw Exception(
        FormatText(texts::kFolderNotCreated, path, win32::SystemErrorText(GetLastError())));

  // Checked on the opened folder itself, not on a name that could change.
  const HANDLE h = CreateFileA(
      bare.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw Exception(
        FormatText(texts::kFolderNotCreated, path, win32::SystemErrorText(GetLastError())));
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (!ok)
    throw Exception(FormatText(texts::kFolderNotCreated, path, win32::SystemErrorText(error)));
  if ((info.dwFileAttributes & kLinkOrSpecial) != 0)
    throw Exception(FormatText(texts::kFolderIsLinkOrJunction, path));
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    throw Exception(FormatText(texts::kFolderNotFolder, path));
}

bool FileFinder::First(const std::string& pattern, uint32_t mask, TSearchRec& found) {
  Close();
  const std::vector<size_t> at = Delimiters(pattern);
  const size_t split = at.empty() ? std::string::npos : at.back();
  const std::string folder = split == std::string::npos ? "" : pattern.substr(0, split + 1);
  const std::string fileMask = split == std::string::npos ? pattern : pattern.substr(split + 1);

  // Every name is listed and matched here, so that the system's own matching
  // (short names, its "*.*" rules) cannot add entries.
  WIN32_FIND_DATAA data{};
  const HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  std::vector<TSearchRec> entries;
  std::vector<TSearchRec> dots;
  do {
    const std::string name = data.cFileName;
    if (!MatchesFileMask(fileMask, name)) continue;
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = AttributesOf(data.dwFileAttributes);
    if ((rec.Attr & faDirectory) == 0)
      rec.Size = static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    const uint32_t special = rec.Attr & (faHidden | faSysFile | faDirectory);
    if ((special & ~mask) != 0) continue;
    (name == "." || name == ".." ? dots : entries).push_back(std::move(rec));
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(dots.begin(), dots.end(),
            [](const TSearchRec& a, const TSearchRec& b) { return a.Name < b.Name; });
  entries.insert(entries.begin(), dots.begin(), dots.end());
  entries_ = std::move(entries);
  return Next(found);
}

} // namespace platform
