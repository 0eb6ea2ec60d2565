// A stand-in Windows program for the tests that drive the updater under Wine:
// the installer, the old version's uninstaller and the running product. It
// appends a line with its own file name and its arguments (UTF-8) to the file
// that the environment variable RECORD_ARGS_LOG names, then ends with code 0;
// with the single argument "--stay" it stays until it is ended.
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

std::string ToUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                      nullptr, nullptr);
  return text;
}

void Record(const std::wstring& line) {
  wchar_t log[4096];
  const DWORD n = GetEnvironmentVariableW(L"RECORD_ARGS_LOG", log, 4096);
  if (n == 0 || n >= 4096) return;
  HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string bytes = ToUtf8(line) + "\n";
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

} // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  wchar_t path[4096];
  const DWORD length = GetModuleFileNameW(nullptr, path, 4096);
  std::wstring line(path, length < 4096 ? length : 0);
  line = line.substr(line.find_last_of(L"\\/") + 1);
  for (int i = 1; argv != nullptr && i < argc; ++i)
    line += L" " + std::wstring(argv[i]);
  Record(line);
  const bool stay = argv != nullptr && argc == 2 && std::wstring(argv[1]) == L"--stay";
  LocalFree(argv);
  if (stay) Sleep(INFINITE);
  return 0;
}
