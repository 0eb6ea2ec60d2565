// A stand-in for a product's uninstaller and installer on Windows, for the
// install-step tests under Wine. Named unins*.exe it uninstalls: it deletes
// the install folder's files (not itself, which runs), the Start-menu folder
// and the registry value ZBPath, as uninstallers do. Under any other name it
// installs: it waits, writes the new library over the old one, and, when
// asked, places the product's program and registers the install folder.
//
//   FAKE_LOG               a line per run: "uninstall /quiet", "install
//                          /quiet", and "install done" at the installer's end
//   FAKE_INSTALL_FOLDER    the install folder, with trailing backslash
//   FAKE_START_MENU        the product's Start-menu folder
//   FAKE_INSTALL_EXIT      the installer's exit code (default 0)
//   FAKE_INSTALL_PLACES    "1": the installer places MQT6.exe and registers
//   FAKE_INSTALL_DELAY_MS  the installer's wait before it writes
#include "common/ZorvaFileUtils.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void Record(const std::string& line) {
  platform::AppendToFile(Env("FAKE_LOG"), line + "\r\n");
}

void Write(const std::string& path, const std::string& bytes) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

} // namespace

int main(int argc, char** argv) {
  char exe[MAX_PATH];
  const std::string self(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH));
  const std::string name = self.substr(self.find_last_of('\\') + 1);
  std::string args;
  for (int i = 1; i < argc; ++i)
    args += std::string(" ") + argv[i];
  const std::string key = platform::Utf8ToAnsi("SOFTWARE\\Zorva编标工具\\6.0");
  const std::string folder = Env("FAKE_INSTALL_FOLDER");

  if (name.rfind("unins", 0) == 0) {
    Record("uninstall" + args);
    DeleteFolderTree(folder);
    DeleteFolderTree(Env("FAKE_START_MENU"));
    platform::DeleteRegistryValue(key, "ZBPath");
    return 1; // as uninstallers often do
  }

  Record("install" + args);
  Sleep(static_cast<DWORD>(std::atoi(Env("FAKE_INSTALL_DELAY_MS").c_str())));
  platform::ForceDirectories(folder + "bin");
  Write(folder + platform::Utf8ToAnsi("bin\\组件.dll"), "V7 library");
  if (Env("FAKE_INSTALL_PLACES") == "1") {
    platform::WriteRegistryString(key, "ZBPath", folder.substr(0, folder.size() - 1));
    Write(folder + "MQT6.exe", "V7 program");
  }
  Record("install done");
  return std::atoi(Env("FAKE_INSTALL_EXIT").c_str());
}
