// Processes on Windows: the ToolHelp snapshot, OpenProcess and
// TerminateProcess, and CreateProcessA with a wait in rounds of 50 ms. A
// batch file is started like any program: the system hands it to its
// command interpreter.
#include "platform/Process.h"

#include <windows.h>

#include <tlhelp32.h>

namespace platform {
namespace {

constexpr DWORD kWaitRoundMs = 50;

// The creation time of the process, which tells it apart from a later one
// with the same id; 0 when it cannot be learnt.
uint64_t CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

uint64_t CreationTimeOf(DWORD id) {
  const HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (h == nullptr) return 0;
  const uint64_t time = CreationTime(h);
  CloseHandle(h);
  return time;
}

bool IsLeadByte(char c) {
  return IsDBCSLeadByte(static_cast<BYTE>(c)) != 0;
}

// The folder of `path` without its trailing delimiter, or empty when the
// path names none.
std::string FolderOf(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(path[i]) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (path[i] == '\\' || path[i] == '/') last = i;
  }
  if (last == std::string::npos) return std::string();
  // The root keeps its delimiter: "C:\".
  return path.substr(0, last == 2 && path[1] == ':' ? 3 : last);
}

} // namespace

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

std::vector<TProcessEntry> TakeProcessSnapshot() {
  std::vector<TProcessEntry> processes;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    TProcessEntry process;
    process.id = entry.th32ProcessID;
    process.exeName = entry.szExeFile;
    process.startTime = CreationTimeOf(entry.th32ProcessID);
    processes.push_back(std::move(process));
  }
  CloseHandle(snapshot);
  return processes;
}

bool TerminateProcess(const TProcessEntry& process, uint32_t exitCode) {
  const HANDLE h = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                               FALSE, process.id);
  if (h == nullptr) return false;
  // The handle holds on to the process that has the id now; it is the one of
  // the snapshot when it was created at the same time. A time the snapshot
  // could not learn is not compared.
  // A process that has ended is gone, even while a handle keeps its object.
  bool ended = false;
  if ((process.startTime == 0 || CreationTime(h) == process.startTime) &&
      WaitForSingleObject(h, 0) == WAIT_TIMEOUT)
    ended = ::TerminateProcess(h, exitCode) != 0;
  CloseHandle(h);
  return ended;
}

std::optional<uint32_t> TryRunAndWait(const std::string& path, int32_t showWindow) {
  // The command line is the path alone, quoted so that blanks in it stay
  // part of it. CreateProcessA may write into the command line.
  std::string commandLine = "\"" + path + "\"";
  const std::string folder = FolderOf(path);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
  startup.wShowWindow = static_cast<WORD>(showWindow);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                      nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    return std::nullopt;
  while (WaitForSingleObject(info.hProcess, kWaitRoundMs) == WAIT_TIMEOUT) {
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(info.hProcess, &code)) code = 0;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

uint32_t RunAndWait(const std::string& path, int32_t showWindow) {
  return TryRunAndWait(path, showWindow).value_or(0);
}

} // namespace platform
