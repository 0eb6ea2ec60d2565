#pragma once
// How a run of the publishing program ends, as the exit status tells a
// script, and the errors that carry a status of their own. The numbers are
// the updater's where the meaning is the same.
#include "platform/Exception.h"

enum class TPublishStatus : int {
  // Published, or the checked tree has no problem.
  Ok = 0,
  // An error of the file system or the network, or the checker found
  // problems.
  Error = 1,
  // The publish was refused; nothing was written.
  Refused = 2,
  // The command line cannot be used.
  InvalidArguments = 4,
};

class EPublishRefused : public Exception {
public:
  using Exception::Exception;
};

class EUsageError : public Exception {
public:
  using Exception::Exception;
};
