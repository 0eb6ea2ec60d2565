// The undoable reinstall of the install step, and the recovery at the next
// start of a reinstall that a crash interrupted.
#include "app/Reinstall.h"

#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "common/ZorvaFileUtils.h"
#include "platform/DiskSpace.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/TextFormat.h"

namespace {

namespace tx = updatetexts;

// Room kept free beyond the snapshot's copies: the folders and links of the
// snapshot and the record need some, and a disk filled to the last byte
// would fail the installer.
constexpr int64_t kSpaceReserve = 16 << 20;

const char* const kRecentProjects = "RecentProject.log";

// Whether `path` ends in the folder delimiter. The second byte of a
// double-byte character may be 0x5C, the Windows delimiter, and is none.
bool EndsWithDelimiter(const std::string& path) {
  bool delimiter = false;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    delimiter = path[i] == platform::PathDelim;
    if (c >= 0x81 && c <= 0xFE && i + 1 < path.size()) ++i;
  }
  return delimiter;
}

std::string WithDelimiter(const std::string& folder) {
  return EndsWithDelimiter(folder) ? folder : folder + platform::PathDelim;
}

// Known, and not the root of the file system.
bool IsUsableFolder(const std::string& folder) {
  return folder.find_first_not_of(platform::PathDelim) != std::string::npos;
}

// Whether the user may create and delete a file in `folder`, as the restore
// would have to.
bool CanWriteFolder(const std::string& folder) {
  const std::string probe = folder + "~update-rights.tmp";
  if (!platform::AppendToFile(probe, "")) return false;
  return platform::DeleteFile(probe);
}

std::string SnapshotCountsText(const TSnapshotCounts& c) {
  return platform::FormatText("files=%d linked=%d copied=%d bytes=%lld copied_bytes=%lld", c.files,
                              c.linked, c.copied, static_cast<long long>(c.bytes),
                              static_cast<long long>(c.copiedBytes));
}

// The snapshot of `record`, kept in the working folder. The run log is left
// out: it must keep what the reinstall wrote into it.
std::unique_ptr<TInstallSnapshot> SnapshotOf(const TUpdateForm& form,
                                             const TReinstallRecord& record) {
  std::vector<std::string> excluded;
  if (const std::string log = form.runLog.File(); !log.empty()) {
    excluded.push_back(log);
    excluded.push_back(log + ".1");
  }
  return std::make_unique<TInstallSnapshot>(SnapshotFolderOf(form.GetWorkingFolder()),
                                            record.installFolder, record.startMenuFolder,
                                            std::move(excluded));
}

} // namespace

std::string CurrentInstallFolder(const TReinstallRecord& record) {
  const auto value = platform::ReadRegistryString(record.registryKey, record.registryValueName);
  if (!value || value->empty()) return {};
  return WithDelimiter(platform::MapDrivePath(*value));
}

bool ProductInPlace(const TReinstallRecord& record) {
  const std::string folder = CurrentInstallFolder(record);
  return IsUsableFolder(folder) && !record.exeName.empty() &&
         platform::FileExists(folder + record.exeName);
}

TReinstall::TReinstall(TUpdateForm& form)
    : form_(form), recordFile_(ReinstallRecordFile(form.GetWorkingFolder())) {}

TReinstall::TReinstall(TUpdateForm& form, TReinstallRecord record)
    : form_(form), recordFile_(ReinstallRecordFile(form.GetWorkingFolder())),
      record_(std::move(record)), snapshot_(SnapshotOf(form, *record_)) {}

TReinstall::~TReinstall() = default;

TReinstall::TBegin TReinstall::Begin() {
  TReinstallRecord record;
  record.productKind = form_.GetProductKind();
  record.exeName = form_.GetProductExeName();
  record.installFolder = form_.GetInstallFolder();
  record.registryKey = tx::kInstallKey;
  record.registryValueName = form_.GetInstallValueName();
  if (!IsUsableFolder(record.installFolder) || record.exeName.empty()) {
    form_.Log(record.exeName.empty() ? "snapshot skipped reason=unknown-product"
                                     : "snapshot skipped reason=no-install-folder");
    return TBegin::NoSnapshot;
  }
  record.registryData =
      platform::ReadRegistryString(record.registryKey, record.registryValueName).value_or("");
  record.startMenuFolder = WithDelimiter(
      platform::MapDrivePath(platform::FormatText(tx::kStartMenuFolder, record.productKind)));

  // What the restore would have to write, tried before anything is taken.
  std::string denied;
  if (!CanWriteFolder(record.installFolder))
    denied = record.installFolder;
  else if (platform::DirectoryExists(record.startMenuFolder) &&
           !CanWriteFolder(record.startMenuFolder))
    denied = record.startMenuFolder;
  else if (!platform::CanWriteRegistryKey(record.registryKey))
    denied = record.registryKey;
  if (!denied.empty()) {
    form_.Log("snapshot skipped reason=rights path=" + denied);
    return TBegin::NoSnapshot;
  }

  std::unique_ptr<TInstallSnapshot> snapshot = SnapshotOf(form_, record);
  const std::string folder = SnapshotFolderOf(form_.GetWorkingFolder());
  const int64_t needed = snapshot->BytesToCopy() + kSpaceReserve;
  const auto refuseForSpace = [&] {
    const int64_t free = form_.FreeDiskSpace(folder);
    if (free < 0 || free >= needed) return false;
    snapshot->Discard();
    form_.Log(platform::FormatText("snapshot refused reason=space needed=%lld free=%lld",
                                   static_cast<long long>(needed), static_cast<long long>(free)));
    return true;
  };
  if (refuseForSpace()) return TBegin::NoSpace;

  TSnapshotCounts counts;
  std::string failed;
  if (!snapshot->Take(counts, failed)) {
    // The disk may have filled meanwhile; otherwise a file could not be
    // read, which an administrator's install folder may hold.
    if (refuseForSpace()) return TBegin::NoSpace;
    snapshot->Discard();
    form_.Log("snapshot skipped reason=unreadable path=" + failed);
    return TBegin::NoSnapshot;
  }
  record.phase = TReinstallPhase::Uninstall;
  if (!WriteReinstallRecord(recordFile_, record)) {
    snapshot->Discard();
    form_.Log("snapshot skipped reason=record path=" + recordFile_);
    return TBegin::NoSnapshot;
  }
  form_.Log("snapshot taken " + SnapshotCountsText(counts) + " install=" + record.installFolder +
            " startmenu=" + record.startMenuFolder);
  record_ = std::move(record);
  snapshot_ = std::move(snapshot);
  return TBegin::Snapshot;
}

bool TReinstall::EnterInstall() {
  if (!record_) return true;
  TSnapshotCounts counts;
  std::string failed;
  if (!snapshot_->Separate(counts, failed)) {
    form_.Log("snapshot separate failed path=" + failed);
    return false;
  }
  form_.Log(platform::FormatText("snapshot separated files=%d bytes=%lld", counts.files,
                                 static_cast<long long>(counts.copiedBytes)));
  record_->phase = TReinstallPhase::Install;
  return WriteReinstallPhase(recordFile_, record_->phase);
}

void TReinstall::MarkInstalled() {
  if (!record_) return;
  record_->phase = TReinstallPhase::Installed;
  WriteReinstallPhase(recordFile_, record_->phase);
}

void TReinstall::Finish() {
  if (!record_) return;
  // The record goes first: a snapshot without one is a leftover that the
  // next start removes, a record without its snapshot would restore nothing.
  platform::DeleteFile(recordFile_);
  snapshot_->Discard();
  record_.reset();
}

bool TReinstall::Undo(std::string& failedFile) {
  if (!record_) return true;
  record_->phase = TReinstallPhase::Restore;
  WriteReinstallPhase(recordFile_, record_->phase);
  TSnapshotCounts counts;
  const bool files = snapshot_->Restore(counts, failedFile);
  const bool registry = platform::WriteRegistryString(
      record_->registryKey, record_->registryValueName, record_->registryData);
  if (!registry && files) failedFile = record_->registryKey;
  const bool whole = files && registry;
  form_.Log("restore " + SnapshotCountsText(counts) + " registry=" + (registry ? "1" : "0") +
            " result=" + (whole ? "ok" : "failed path=" + failedFile));
  if (whole) Finish();
  return whole;
}

std::string TUpdateForm::GetWorkingFolderLock() const {
  // Beside the working folder, not in it: the lock must be taken before the
  // folder is made or looked at, and outlives its deletion.
  return WorkingFolderName() + ".lock";
}

void TUpdateForm::RecoverInterruptedReinstall() {
  // No reinstall was begun where there is no working folder, and looking
  // must not make one.
  if (!platform::DirectoryExists(WorkingFolderName())) return;
  const std::string working = GetWorkingFolder();
  const std::string recordFile = ReinstallRecordFile(working);
  const std::optional<TReinstallRecord> record = ReadReinstallRecord(recordFile);
  if (!record) {
    if (!platform::FileExists(recordFile) && platform::DirectoryExists(SnapshotFolderOf(working))) {
      DeleteFolderTree(SnapshotFolderOf(working));
      Log("recover action=discard-snapshot");
    }
    return;
  }

  const bool newVersion = record->phase == TReinstallPhase::Installed ||
                          (record->phase == TReinstallPhase::Install && ProductInPlace(*record));
  if (!newVersion) {
    Log(platform::FormatText("recover phase=%s action=restore", ReinstallPhaseName(record->phase)));
    TReinstall reinstall(*this, *record);
    std::string failed;
    if (!reinstall.Undo(failed)) throw Exception(platform::FormatText(tx::kRestoreFailed, failed));
    return;
  }

  // The new version is in place: what the install step had left to do.
  const std::string folder = CurrentInstallFolder(*record);
  if (IsUsableFolder(folder)) {
    platform::CopyFileOverwrite(ExeFolder() + kRecentProjects, folder + kRecentProjects);
    RemoveReplacementLeftovers(folder, {kRecentProjects});
  }
  platform::DeleteFile(recordFile);
  RemoveWorkingFolder();
  Log(platform::FormatText("recover phase=%s action=finish folder=%s",
                           ReinstallPhaseName(record->phase), folder));
}

int64_t TUpdateForm::FreeDiskSpace(const std::string& folder) const {
  return platform::FreeDiskSpace(folder);
}
