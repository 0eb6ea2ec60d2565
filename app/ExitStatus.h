#pragma once
// How a run of the updater ends, as the exit status tells a script or a
// scheduled task, and the errors that carry a status of their own.
#include "platform/Exception.h"

#include <exception>

enum class TExitStatus : int {
  // The run ended as it should: nothing new, updated, refreshed, or the user
  // chose later, closed the window or declined a slow transfer.
  Ok = 0,
  // An error of the network, the server or the file system.
  Error = 1,
  // A download was refused: checksum, signature, not a template, not a
  // program.
  Refused = 2,
  // Another updater holds the working folder.
  Busy = 3,
  // The command line was refused (a template name, say).
  InvalidArguments = 4,
};

// A downloaded package failed a check and has been deleted; the text says
// which, for the user.
class EPackageRefused : public Exception {
public:
  using Exception::Exception;
};

// Another updater runs on the same working folder.
class EUpdaterBusy : public Exception {
public:
  using Exception::Exception;
};

// An argument of the command line cannot be used.
class EInvalidArgument : public Exception {
public:
  using Exception::Exception;
};

// The status of a run that ends with `error`.
TExitStatus ExitStatusOf(const std::exception& error);
