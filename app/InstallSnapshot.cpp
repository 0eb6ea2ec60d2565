#include "app/InstallSnapshot.h"

#include "common/ZorvaFileUtils.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/HardLink.h"
#include "platform/Paths.h"

#include <map>
#include <set>
#include <utility>

namespace {

bool IsReadOnly(uint32_t attributes) {
  return (attributes & platform::faReadOnly) != 0;
}

// Windows compares file names ignoring the case of letters.
bool SamePath(const std::string& a, const std::string& b) {
  if (platform::PathDelim == '/') return a == b;
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca >= 0x81 && ca <= 0xFE && i + 1 < a.size()) {
      if (ca != cb || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    const auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    if (fold(ca) != fold(cb)) return false;
  }
  return true;
}

} // namespace

TInstallSnapshot::TInstallSnapshot(std::string folder, std::string installFolder,
                                   std::string startMenuFolder, std::vector<std::string> excluded)
    : folder_(std::move(folder)), excluded_(std::move(excluded)) {
  if (!installFolder.empty())
    roots_.push_back({std::move(installFolder), folder_ + "Install" + platform::PathDelim});
  if (!startMenuFolder.empty())
    roots_.push_back({std::move(startMenuFolder), folder_ + "StartMenu" + platform::PathDelim});
}

std::vector<TInstallSnapshot::TFile> TInstallSnapshot::ListTree(const std::string& root) const {
  std::vector<TFile> files;
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    const std::string below = std::move(pending.back());
    pending.pop_back();
    platform::FileFinder finder;
    platform::TSearchRec rec;
    // Hidden and system entries too: an uninstaller removes them as well.
    for (bool found = finder.First(root + below + "*.*", platform::faAnyFile, rec); found;
         found = finder.Next(rec)) {
      if (rec.Name.empty() || IsDotEntry(rec.Name)) continue;
      // A link to a folder is listed as a file and never entered.
      if ((rec.Attr & platform::faDirectory) != 0)
        pending.push_back(below + rec.Name + platform::PathDelim);
      else if (!IsExcluded(root + below + rec.Name))
        files.push_back({below, rec.Name, rec.Attr, rec.Size});
    }
  }
  return files;
}

bool TInstallSnapshot::IsExcluded(const std::string& path) const {
  for (const std::string& excluded : excluded_)
    if (SamePath(path, excluded)) return true;
  return false;
}

bool TInstallSnapshot::CanLink(const TRoot& root, const std::vector<TFile>& files) const {
  for (const TFile& file : files) {
    if (IsReadOnly(file.attributes)) continue;
    const std::string trial = folder_ + "trial.~link";
    platform::DeleteFile(trial);
    const bool linked = platform::CreateHardLink(root.source + file.folder + file.name, trial);
    platform::DeleteFile(trial);
    return linked;
  }
  return false;
}

int64_t TInstallSnapshot::BytesToCopy() {
  platform::ForceDirectories(folder_);
  int64_t bytes = 0;
  for (const TRoot& root : roots_) {
    const std::vector<TFile> files = ListTree(root.source);
    const bool links = CanLink(root, files);
    for (const TFile& file : files)
      if (!links || IsReadOnly(file.attributes)) bytes += file.size;
  }
  return bytes;
}

bool TInstallSnapshot::Take(TSnapshotCounts& counts, std::string& failedFile) {
  counts = {};
  linked_.clear();
  if (!Discard() || !platform::ForceDirectories(folder_)) {
    failedFile = folder_;
    return false;
  }
  for (const TRoot& root : roots_) {
    for (const TFile& file : ListTree(root.source)) {
      const std::string source = root.source + file.folder + file.name;
      const std::string target = root.copy + file.folder + file.name;
      const auto placed =
          platform::ForceDirectories(root.copy + file.folder)
              ? platform::LinkOrCopyFile(source, target, !IsReadOnly(file.attributes))
              : std::nullopt;
      if (!placed) {
        failedFile = source;
        return false;
      }
      ++counts.files;
      counts.bytes += file.size;
      if (*placed == platform::TPlacement::Linked) {
        ++counts.linked;
        linked_.push_back(target);
        continue;
      }
      // A copy takes the attributes of the original (Windows gives a new
      // file the plain ones).
      platform::SetFileAttributes(target, file.attributes);
      ++counts.copied;
      counts.copiedBytes += file.size;
    }
  }
  return true;
}

bool TInstallSnapshot::Separate(TSnapshotCounts& counts, std::string& failedFile) {
  counts = {};
  // The copy is made beside the trees and then moved over the link: an
  // interrupted copy leaves its remains there, not among the files that
  // Restore puts back.
  const std::string scratch = folder_ + "Scratch" + platform::PathDelim;
  const std::string separated = scratch + "separated";
  if (!linked_.empty() && !platform::ForceDirectories(scratch)) {
    failedFile = scratch;
    return false;
  }
  for (const TRoot& root : roots_) {
    for (const std::string& copy : linked_) {
      if (copy.compare(0, root.copy.size(), root.copy) != 0) continue;
      const std::string original = root.source + copy.substr(root.copy.size());
      if (!platform::FileExists(original)) continue;
      // Copied from the snapshot's own name, which is the old version's file
      // whatever has become of the original's name.
      if (!platform::CopyFileOverwrite(copy, separated) || !platform::RenameFile(separated, copy)) {
        failedFile = copy;
        return false;
      }
      ++counts.files;
      ++counts.copied;
      counts.copiedBytes += platform::FileSize(copy);
    }
  }
  linked_.clear();
  return true;
}

bool TInstallSnapshot::Restore(TSnapshotCounts& counts, std::string& failedFile) {
  counts = {};
  bool whole = true;
  // The names put back, by folder, for the sweep of what an interrupted
  // earlier restore left beside them.
  std::map<std::string, std::set<std::string>> placed;
  for (const TRoot& root : roots_) {
    for (const TFile& file : ListTree(root.copy)) {
      const std::string source = root.copy + file.folder + file.name;
      const std::string folder = root.source + file.folder;
      const std::string target = folder + file.name;
      // A read-only file that the installer left in the way is replaced all
      // the same.
      const uint32_t present = platform::GetFileAttributes(target);
      if (present != platform::InvalidFileAttributes && IsReadOnly(present))
        platform::SetFileAttributes(target, present & ~uint32_t{platform::faReadOnly});
      const auto placement =
          platform::ForceDirectories(folder)
              ? platform::LinkOrCopyFile(source, target, !IsReadOnly(file.attributes))
              : std::nullopt;
      if (!placement) {
        if (whole) failedFile = target;
        whole = false;
        continue;
      }
      if (*placement == platform::TPlacement::Copied)
        platform::SetFileAttributes(target, file.attributes);
      placed[folder].insert(file.name);
      ++counts.files;
      counts.bytes += file.size;
      if (*placement == platform::TPlacement::Linked) {
        ++counts.linked;
      } else {
        ++counts.copied;
        counts.copiedBytes += file.size;
      }
    }
  }
  for (const auto& [folder, names] : placed)
    RemoveReplacementLeftovers(folder, names);
  return whole;
}

bool TInstallSnapshot::Discard() {
  return DeleteFolderTree(folder_);
}

void RemoveReplacementLeftovers(const std::string& folder, const std::set<std::string>& names) {
  std::vector<std::string> leftovers;
  {
    platform::FileFinder finder;
    platform::TSearchRec rec;
    for (bool found = finder.First(folder + "*.*", platform::faAnyFile, rec); found;
         found = finder.Next(rec)) {
      const auto target = platform::ReplacementLeftoverTarget(rec.Name);
      if ((rec.Attr & platform::faDirectory) == 0 && target && names.count(*target) != 0)
        leftovers.push_back(folder + rec.Name);
    }
  }
  for (const std::string& leftover : leftovers)
    platform::DeleteFile(leftover);
}
