#pragma once
// The record of a reinstall under way: written into the working folder once
// the snapshot of the old version is whole and before its uninstaller runs,
// it names the product, the places the snapshot keeps and the registry value
// that names the install folder, and how far the reinstall got. The next
// start of the updater reads it before anything else (UpdateFormReinstall):
//
//   phase      what the next start does
//   uninstall  restores the snapshot: the new installer has not run yet
//   install    the product's program in the install folder that the
//              registry names: the new version is in place, it finishes;
//              else it restores the snapshot
//   installed  finishes: the recent-project list back, the snapshot removed
//   restore    restores again: the snapshot stays whole until the record is
//              removed, so an interrupted restore is done again from it
//
// The record goes once its reinstall has ended either way; a snapshot left
// without a record was never finished and is removed. Every write replaces
// the file in one step, so a crash leaves the previous phase or the next.
#include <optional>
#include <string>

enum class TReinstallPhase { Uninstall, Install, Installed, Restore };

struct TReinstallRecord {
  TReinstallPhase phase = TReinstallPhase::Uninstall;
  std::string productKind;
  // The product's program, which tells that a version is in place.
  std::string exeName;
  // Both with trailing delimiter, as the file system names them here.
  std::string installFolder;
  std::string startMenuFolder;
  std::string registryKey;
  // Empty for the key's unnamed value.
  std::string registryValueName;
  // The value's text before the uninstall.
  std::string registryData;
};

// "uninstall", "install", "installed", "restore": the word of the record
// and the log.
const char* ReinstallPhaseName(TReinstallPhase phase);

// Where the record and the snapshot lie in the working folder (given with
// its trailing delimiter): "Reinstall.ini" and "Snapshot" with a delimiter.
std::string ReinstallRecordFile(const std::string& workingFolder);
std::string SnapshotFolderOf(const std::string& workingFolder);

// Writes the whole record (ANSI profile text). False when it cannot be
// written, or a text holds a line break, which the file cannot keep.
bool WriteReinstallRecord(const std::string& file, const TReinstallRecord& record);
// Rewrites the phase only; false when it cannot be written.
bool WriteReinstallPhase(const std::string& file, TReinstallPhase phase);
// The record in `file`; nullopt when there is none, or when it is not one
// (an unknown phase, no install folder).
std::optional<TReinstallRecord> ReadReinstallRecord(const std::string& file);
