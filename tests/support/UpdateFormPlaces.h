#pragma once
// Centres of the update window's controls from its top left corner, for tests
// that click the real window: the content panels sit at (1, 38) inside the
// main panel, below the 37-pixel title band.
namespace testsupport {

struct Point {
  int x, y;
};
constexpr Point kUpdateButton{1 + 229 + 77 / 2, 38 + 61 + 26 / 2};
constexpr Point kLaterButton{1 + 327 + 77 / 2, 38 + 61 + 26 / 2};
constexpr Point kOkButton{1 + 233 + 75 / 2, 38 + 136 + 33 / 2};
constexpr Point kCloseGlyph{405 + 4, 7 + 5};

} // namespace testsupport
