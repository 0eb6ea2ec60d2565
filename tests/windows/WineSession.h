#pragma once
// Running Windows programs under wine64 for the tests: the prefix of the run
// (WINEPREFIX, as tools/test-windows sets it), the folders inside it that the
// programs see, and a start with a Chinese system code page.
#include "tests/support/ChildProcess.h"
#include "tests/support/ScreenWindow.h"
#include "tests/support/VirtualDisplay.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace winetest {

inline const char* const kWine = "/usr/lib/wine/wine64";
inline const char* const kWineServer = "/usr/lib/wine/wineserver";

inline std::string WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
    return prefix;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.wine";
}

// The folder that GetTempPathA gives: Wine takes it from the prefix, not
// from the environment.
inline std::string TempFolder() {
  const passwd* user = ::getpwuid(::getuid());
  return WinePrefix() + "/drive_c/users/" + (user != nullptr ? user->pw_name : "root") + "/Temp/";
}

inline std::string WorkingFolder() {
  return TempFolder() + "MQTUpdate";
}

// The Unix path `path` as the programs under Wine name it (drive Z:).
inline std::string WinePath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

// Starts `args` (a Windows program and its arguments) under wine64 with a
// Chinese system code page; output goes to `outputFile`. `display` empty:
// no display at all. `env` adds variables.
inline std::unique_ptr<testsupport::ChildProcess>
StartWine(const std::vector<std::string>& args, const std::optional<std::string>& display,
          const std::string& outputFile,
          std::map<std::string, std::optional<std::string>> env = {}) {
  std::vector<std::string> argv{kWine};
  argv.insert(argv.end(), args.begin(), args.end());
  env["DISPLAY"] = display;
  env["WAYLAND_DISPLAY"] = std::nullopt;
  env["LC_ALL"] = "zh_CN.UTF-8";
  env["WINEDEBUG"] = "-all";
  env["WINEPREFIX"] = WinePrefix();
  return std::make_unique<testsupport::ChildProcess>(argv, env, outputFile);
}

// Waits until the prefix's Wine server has ended by itself, which it does a
// few seconds after its last program. The server's desktop keeps the display
// (or none) of the program that started it, so a test with a display of its
// own starts from no server and leaves none behind.
inline bool WaitForWineServerEnd(const std::string& outputFile,
                                 std::chrono::seconds limit = std::chrono::seconds(60)) {
  testsupport::ChildProcess wait({kWineServer, "-w"}, {{"WINEPREFIX", WinePrefix()}}, outputFile);
  return wait.WaitFor(limit).has_value();
}

// The top-level window named `caption` once it has settled: Wine lists a
// window as soon as it creates it, before a dialog has been given its size
// and place, so the window counts when two looks 300 ms apart agree.
inline std::optional<testsupport::WindowPlace>
FindSettledWindow(const testsupport::VirtualDisplay& display, const std::string& caption,
                  std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  auto place = testsupport::FindWindow(display, caption, limit);
  while (place) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto again = testsupport::FindWindow(display, caption, std::chrono::milliseconds(0));
    if (again && again->width == place->width && again->height == place->height &&
        again->left == place->left && again->top == place->top)
      return again;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    place = again;
  }
  return std::nullopt;
}

} // namespace winetest
