#pragma once
// The updater's file-system operations beyond plain file access: its own
// folder, the temporary folder, recursive deletion and recursive listing of a
// folder tree. Paths are ANSI; a "folder with delimiter" ends in exactly one
// platform::PathDelim.
#include <string>

class TStringList;

// Folder of the running executable, with delimiter.
std::string GetExeFolder();

// The system's temporary folder without its trailing delimiter; empty text
// when the system names none.
std::string GetTempFolder();

// True when `name` is exactly "." or "..".
bool IsDotEntry(const std::string& name);

// Deletes the folder and everything in it; read-only files are made writable
// first. A symbolic link inside the tree is removed itself, never followed.
// Deletes whatever it can even after a failure. Returns true when the whole
// tree is gone (also when the folder did not exist); never raises.
bool DeleteFolderTree(const std::string& folder);

// Appends the full paths of the files matching `pattern` (empty means "*.*")
// in `folder` and, depth first, in its sub-folders that are neither hidden nor
// system. The pattern applies to file names only. `list` must not be null
// (EAssertionFailed otherwise). A missing or unreadable folder adds nothing.
// Symbolic links are listed as files when they match and are never entered.
void ListFilesRecursive(const std::string& pattern, const std::string& folder, TStringList* list);
