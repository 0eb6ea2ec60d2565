#pragma once
// Runs a command line of the Windows system's own tools (reg, cmd) for a
// test and waits for it; Windows only.
#include <windows.h>

#include <string>

namespace testsupport {

// The exit code of `commandLine` (ANSI), or -1 when it could not be started.
inline long RunCommand(const std::string& commandLine) {
  std::string line = commandLine;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &info))
    return -1;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<long>(code);
}

} // namespace testsupport
