#include "app/ReinstallRecord.h"

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/ProfileText.h"
#include "platform/RegularFile.h"

#include <array>
#include <utility>

namespace {

constexpr const char* kSection = "Reinstall";

struct TPhaseWord {
  TReinstallPhase phase;
  const char* word;
};
constexpr std::array<TPhaseWord, 4> kPhases{{{TReinstallPhase::Uninstall, "uninstall"},
                                             {TReinstallPhase::Install, "install"},
                                             {TReinstallPhase::Installed, "installed"},
                                             {TReinstallPhase::Restore, "restore"}}};

// Every text goes in quotes, which the profile rules take off again: a path
// that begins or ends with a blank reads back as it was.
std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

} // namespace

const char* ReinstallPhaseName(TReinstallPhase phase) {
  for (const TPhaseWord& p : kPhases)
    if (p.phase == phase) return p.word;
  return "";
}

std::string ReinstallRecordFile(const std::string& workingFolder) {
  return workingFolder + "Reinstall.ini";
}

std::string SnapshotFolderOf(const std::string& workingFolder) {
  return workingFolder + "Snapshot" + platform::PathDelim;
}

bool WriteReinstallRecord(const std::string& file, const TReinstallRecord& record) {
  const std::pair<const char*, std::string> entries[] = {
      {"Phase", ReinstallPhaseName(record.phase)},
      {"ProductKind", Quoted(record.productKind)},
      {"ExeName", Quoted(record.exeName)},
      {"InstallFolder", Quoted(record.installFolder)},
      {"StartMenuFolder", Quoted(record.startMenuFolder)},
      {"RegistryKey", Quoted(record.registryKey)},
      {"RegistryValueName", Quoted(record.registryValueName)},
      {"RegistryData", Quoted(record.registryData)},
  };
  std::string text;
  for (const auto& [key, value] : entries) {
    auto updated = platform::SetProfileValue(text, kSection, key, value);
    if (!updated) return false;
    text = std::move(*updated);
  }
  return platform::WriteFileAtomically(file, text);
}

bool WriteReinstallPhase(const std::string& file, TReinstallPhase phase) {
  return platform::WriteProfileString(file, kSection, "Phase", ReinstallPhaseName(phase));
}

std::optional<TReinstallRecord> ReadReinstallRecord(const std::string& file) {
  std::string text;
  if (platform::ReadRegularFile(file, text) != platform::TReadResult::Ok) return std::nullopt;
  const auto value = [&text](const char* key) {
    return platform::ReadProfileStringFromText(text, kSection, key, "");
  };
  TReinstallRecord record;
  const std::string phase = value("Phase");
  bool known = false;
  for (const TPhaseWord& p : kPhases) {
    if (phase == p.word) {
      record.phase = p.phase;
      known = true;
    }
  }
  record.productKind = value("ProductKind");
  record.exeName = value("ExeName");
  record.installFolder = value("InstallFolder");
  record.startMenuFolder = value("StartMenuFolder");
  record.registryKey = value("RegistryKey");
  record.registryValueName = value("RegistryValueName");
  record.registryData = value("RegistryData");
  if (!known || record.installFolder.empty()) return std::nullopt;
  return record;
}
