#pragma once
// The reinstall of the install step made undoable: before the old version's
// uninstaller runs, a snapshot of what it removes (InstallSnapshot.h) and a
// record of the reinstall (ReinstallRecord.h) in the working folder; after a
// failed installer, the old version put back. The record's phase follows the
// steps, so that the next start can finish or undo a reinstall that a crash
// interrupted (TUpdateForm::RecoverInterruptedReinstall).
//
// No snapshot is taken (and the install step goes on as it always did) when
// the registry names no install folder, the product is not one of the two,
// or the user may not write the install folder, the Start-menu folder or the
// registry value: the old version could not be put back anyway.
#include "app/InstallSnapshot.h"
#include "app/ReinstallRecord.h"

#include <memory>
#include <optional>
#include <string>

class TUpdateForm;

class TReinstall {
public:
  explicit TReinstall(TUpdateForm& form);
  // The reinstall of a record found at the start of a run, to be undone.
  TReinstall(TUpdateForm& form, TReinstallRecord record);
  ~TReinstall();
  TReinstall(const TReinstall&) = delete;
  TReinstall& operator=(const TReinstall&) = delete;

  enum class TBegin {
    Snapshot,   // the snapshot is whole and the record written
    NoSnapshot, // the reinstall goes on without one
    NoSpace,    // the disk cannot hold the copies: nothing may be uninstalled
  };
  // Takes the snapshot, after checking the rights and the free space, and
  // writes the record with the phase "uninstall". Logged.
  TBegin Begin();
  bool HasSnapshot() const { return record_.has_value(); }

  // After the uninstall: the linked files that are still in place become
  // copies, and the phase becomes "install". False when the copies cannot be
  // written (the disk is full); Undo then puts the old version back.
  bool EnterInstall();
  // The installer succeeded: the phase becomes "installed".
  void MarkInstalled();
  // The reinstall is over: the record and the snapshot go.
  void Finish();
  // The installer failed: the phase becomes "restore" and the snapshot is
  // put back (files, shortcuts, registry value), then Finish. False, naming
  // the file that could not be written, when it cannot be put back whole;
  // the record then stays for the next start.
  bool Undo(std::string& failedFile);

private:
  TUpdateForm& form_;
  std::string recordFile_;
  std::optional<TReinstallRecord> record_;
  std::unique_ptr<TInstallSnapshot> snapshot_;
};

// The install folder that the registry value of `record` names now, with
// trailing delimiter; empty when the key or the value is missing.
std::string CurrentInstallFolder(const TReinstallRecord& record);

// Whether the product's program lies in the install folder that the
// registry names now: a version of the product is in place.
bool ProductInPlace(const TReinstallRecord& record);
