#include "app/ExitStatus.h"

TExitStatus ExitStatusOf(const std::exception& error) {
  if (dynamic_cast<const EPackageRefused*>(&error)) return TExitStatus::Refused;
  if (dynamic_cast<const EUpdaterBusy*>(&error)) return TExitStatus::Busy;
  if (dynamic_cast<const EInvalidArgument*>(&error)) return TExitStatus::InvalidArguments;
  return TExitStatus::Error;
}
