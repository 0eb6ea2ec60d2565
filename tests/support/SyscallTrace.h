#pragma once
// What this process asks of the kernel to make file contents durable and to
// give them a name: write, fsync and rename as the code under test makes
// them, seen from outside it. The library updater_syscall_trace defines
// these functions in front of the C library's (a test program links it, so
// that it comes before libc in the symbol search, as LD_PRELOAD would put
// it), records each call while a trace runs and passes it on.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct SyscallEvent {
  // "write", "fsync" (also for fdatasync) or "rename" (also renameat and
  // renameat2).
  std::string call;
  // The file of the descriptor as the kernel names it at the call, or the
  // old name of a rename as the caller gave it.
  std::string path;
  // The new name of a rename; empty for the other calls.
  std::string to;
  // Bytes written; 0 for the other calls.
  int64_t bytes = 0;
};

// Starts recording the calls whose path (or either name of a rename)
// contains `marker`, a folder name unique to the test. Calls that fail are
// recorded too: the order of the attempts is what matters.
void StartSyscallTrace(const std::string& marker);

// Stops recording and hands over what was recorded, in the order of the
// calls.
std::vector<SyscallEvent> StopSyscallTrace();

} // namespace testsupport
