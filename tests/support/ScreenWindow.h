#pragma once
// Top-level windows on a virtual display: found by their caption, pictured,
// clicked and typed at. xdotool's search does not see the UTF-8 titles that
// FLTK sets, so windows are found in the tree that xwininfo lists.
#include "tests/support/ChildProcess.h"
#include "tests/support/VirtualDisplay.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace testsupport {

struct WindowPlace {
  int width, height, left, top;
};

// The top-level window whose name is `caption`, as xwininfo lists it:
//   0x200003 "在线升级": ("FLTK" "FLTK")  424x640+428+192  +428+192
inline std::optional<WindowPlace> FindWindow(const VirtualDisplay& display,
                                             const std::string& caption,
                                             std::chrono::milliseconds limit) {
  const std::string name = "\"" + caption + "\":";
  auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    std::istringstream tree(display.Run("xwininfo -root -tree"));
    for (std::string line; std::getline(tree, line);) {
      if (line.find(name) == std::string::npos) continue;
      std::istringstream words(line.substr(line.find(name) + name.size()));
      for (std::string word; words >> word;) {
        WindowPlace p{};
        int used = 0;
        if (std::sscanf(word.c_str(), "%dx%d%d%d%n", &p.width, &p.height, &p.left, &p.top, &used) ==
                4 &&
            used == static_cast<int>(word.size()))
          return p;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

// Saves a PNG picture of `place` once the window has finished drawing: two
// pictures in a row are equal. Returns the number of colours in it (0 when no
// picture could be taken).
inline int TakeScreenshot(const VirtualDisplay& display, const WindowPlace& place,
                          const std::string& file) {
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  const std::string geometry = std::to_string(place.width) + "x" + std::to_string(place.height) +
                               "+" + std::to_string(place.left) + "+" + std::to_string(place.top);
  std::string previous;
  for (int attempt = 0; attempt < 50; ++attempt) {
    display.Run("import -window root -crop " + geometry + " -strip png:'" + file + "'");
    std::string picture = ReadFile(file);
    if (!picture.empty() && picture == previous) {
      std::string colours = display.Run("identify -format %k '" + file + "'");
      return std::atoi(colours.c_str());
    }
    previous = std::move(picture);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

// Moves the pointer to (x, y) of the screen and clicks there.
inline void ClickAt(const VirtualDisplay& display, int x, int y) {
  display.Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

// Presses a key in the window under (x, y): without a window manager the
// keyboard follows the pointer.
inline void KeyAt(const VirtualDisplay& display, int x, int y, const std::string& key) {
  display.Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " key " + key);
}

} // namespace testsupport
