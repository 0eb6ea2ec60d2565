// A program for the process tests on Windows. It writes its current folder
// to cwd.txt beside itself, then sleeps PROBE_SLEEP_MS milliseconds (when
// set) and ends with the exit code PROBE_EXIT_CODE (default 42).
#include <windows.h>

#include <cstdlib>
#include <string>

int main() {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string file(exe, n);
  file = file.substr(0, file.find_last_of('\\') + 1) + "cwd.txt";
  char cwd[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, cwd);
  const HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(h, cwd, length, &written, nullptr);
    CloseHandle(h);
  }
  if (const char* sleep = std::getenv("PROBE_SLEEP_MS")) Sleep(std::strtoul(sleep, nullptr, 10));
  const char* code = std::getenv("PROBE_EXIT_CODE");
  return code != nullptr ? std::atoi(code) : 42;
}
