#pragma once
// A snapshot of what an old version's uninstaller removes, so that the old
// version can be put back when the new one does not install: the files of
// the install folder and of the product's Start-menu folder. (The registry
// value that names the install folder is kept in the reinstall record.)
//
// The snapshot folder holds
//   Install/...     the install folder's files, sub-folders included
//   StartMenu/...   the Start-menu folder's files
// as hard links where the snapshot and the folder share a volume: the
// uninstaller deletes names, and the data stays with the snapshot's name.
// A copy is made where no link can be: another volume, a file system
// without links, and read-only files, whose attributes every name shares.
//
// A link is the same file as the original, so an installer that writes a
// file in place would write into the snapshot too. After the uninstall,
// Separate copies every linked file that is still in its folder over its
// link.
//
// Restore puts every file back, each in one step (again as a link where it
// can), and leaves the snapshot whole, so an interrupted restore can be done
// again from the start. Files that are not in the snapshot (what a failed
// installer added) are left where they are.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct TSnapshotCounts {
  int files = 0;
  int linked = 0;
  int copied = 0;
  // Of all files, and of the copies.
  int64_t bytes = 0;
  int64_t copiedBytes = 0;
};

class TInstallSnapshot {
public:
  // `folder` is the snapshot's own folder; `installFolder` and
  // `startMenuFolder` are the folders it keeps, an empty one is skipped. All
  // with trailing delimiter. Files named in `excluded` (the run log, which
  // must keep what the reinstall wrote) are neither taken nor put back.
  TInstallSnapshot(std::string folder, std::string installFolder, std::string startMenuFolder,
                   std::vector<std::string> excluded = {});

  // The bytes that Take writes as copies: every file where a trial link into
  // the snapshot folder cannot be made, else the read-only ones.
  int64_t BytesToCopy();
  // Takes the snapshot into a fresh folder. False when a file can be neither
  // linked nor copied; `failedFile` then names it and the snapshot is
  // incomplete (Discard it).
  bool Take(TSnapshotCounts& counts, std::string& failedFile);
  // After the uninstall: replaces the link of every file that is still in
  // its folder with a copy. False (naming the file) when a copy cannot be
  // written; the snapshot then still holds every file.
  bool Separate(TSnapshotCounts& counts, std::string& failedFile);
  // Puts every file of the snapshot back into its folder, replacing what is
  // there. False (naming the file it could not write) when one cannot be
  // placed; the rest are placed all the same.
  bool Restore(TSnapshotCounts& counts, std::string& failedFile);
  // Removes the snapshot folder; true when it is gone.
  bool Discard();

private:
  struct TRoot {
    std::string source; // the folder the snapshot keeps
    std::string copy;   // its place in the snapshot
  };
  struct TFile {
    // The folder below the root (with trailing delimiter, or empty), and
    // the file name.
    std::string folder;
    std::string name;
    uint32_t attributes = 0;
    int64_t size = 0;
  };

  std::vector<TFile> ListTree(const std::string& root) const;
  bool IsExcluded(const std::string& path) const;
  bool CanLink(const TRoot& root, const std::vector<TFile>& files) const;

  std::string folder_;
  std::vector<TRoot> roots_;
  std::vector<std::string> excluded_;
  // The snapshot files that Take linked, which Separate looks at.
  std::vector<std::string> linked_;
};

// Deletes the temporary files that an interrupted replacement of one of the
// files `names` left in `folder` (with trailing delimiter).
void RemoveReplacementLeftovers(const std::string& folder, const std::set<std::string>& names);
