#include "common/ZorvaFileUtils.h"

#include "platform/Assert.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/StringList.h"

namespace {

using platform::PathDelim;

bool IsLeadByte(char c) {
  return static_cast<unsigned char>(c) >= 0x81 && static_cast<unsigned char>(c) <= 0xFE;
}

// Position of the last delimiter of `path`, or npos. The second byte of a
// double-byte character may be 0x5C, the Windows delimiter, and is none.
size_t LastDelimiter(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(path[i]) && i + 1 < path.size())
      ++i;
    else if (path[i] == PathDelim)
      last = i;
  }
  return last;
}

bool EndsWithDelimiter(const std::string& path) {
  return !path.empty() && LastDelimiter(path) == path.size() - 1;
}

std::string IncludeTrailingDelimiter(const std::string& folder) {
  if (EndsWithDelimiter(folder)) return folder;
  return folder + PathDelim;
}

std::string ExcludeTrailingDelimiter(const std::string& folder) {
  if (EndsWithDelimiter(folder)) return folder.substr(0, folder.size() - 1);
  return folder;
}

} // namespace

std::string GetExeFolder() {
  const std::string exe = platform::ExecutableFileName();
  const auto slash = LastDelimiter(exe);
  return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

std::string GetTempFolder() {
  const std::string temp = platform::TempPath();
  if (temp.empty()) return temp;
  return ExcludeTrailingDelimiter(temp);
}

bool IsDotEntry(const std::string& name) {
  return name == "." || name == "..";
}

bool DeleteFolderTree(const std::string& folder) {
  const std::string bare = ExcludeTrailingDelimiter(folder);
  if (!platform::DirectoryExists(bare)) return true;
  // A link to a folder is removed itself: following it would delete files
  // outside the tree.
  if ((platform::GetFileAttributes(bare) & platform::faDirectory) == 0)
    return platform::DeleteFile(bare);

  const std::string base = IncludeTrailingDelimiter(folder);
  bool failed = false;
  {
    platform::FileFinder finder;
    platform::TSearchRec rec;
    for (bool found = finder.First(base + "*.*", platform::faAnyFile, rec); found;
         found = finder.Next(rec)) {
      if (rec.Name.empty() || IsDotEntry(rec.Name)) continue;
      const std::string path = base + rec.Name;
      if ((rec.Attr & platform::faDirectory) != 0) {
        if (!DeleteFolderTree(path)) failed = true;
        continue;
      }
      if ((rec.Attr & platform::faReadOnly) != 0)
        platform::SetFileAttributes(path, rec.Attr & ~uint32_t{platform::faReadOnly});
      if (!platform::DeleteFile(path)) failed = true;
    }
  }
  if (failed) return false;
  return platform::RemoveDirectory(bare);
}

void ListFilesRecursive(const std::string& pattern, const std::string& folder, TStringList* list) {
  ZORVA_ASSERT(list != nullptr);
  const std::string base = IncludeTrailingDelimiter(folder);
  const std::string mask = pattern.empty() ? std::string("*.*") : pattern;

  platform::TSearchRec rec;
  {
    platform::FileFinder finder;
    for (bool found =
             finder.First(base + mask, platform::faAnyFile & ~uint32_t{platform::faDirectory}, rec);
         found; found = finder.Next(rec)) {
      if (!rec.Name.empty()) list->Add(base + rec.Name);
    }
  }
  platform::FileFinder finder;
  for (bool found = finder.First(base + "*.*", platform::faDirectory, rec); found;
       found = finder.Next(rec)) {
    // Only real folders are entered: a search inside a file finds nothing,
    // and a symbolic link (reported as a file) could lead in a circle.
    if (rec.Name.empty() || IsDotEntry(rec.Name) || (rec.Attr & platform::faDirectory) == 0)
      continue;
    ListFilesRecursive(pattern, base + rec.Name, list);
  }
}
