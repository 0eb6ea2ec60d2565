#pragma once
// The pictures of the window's title band, compiled into the program so that
// a copy of the executable runs in any folder. The bytes are JPEG files; the
// build generates their definitions from app/pictures/.
#include <cstddef>

struct TEmbeddedFile {
  const unsigned char* data;
  std::size_t size;
};

extern const TEmbeddedFile kTitleBandJpeg;  // 422 x 35, background of the band
extern const TEmbeddedFile kCloseGlyphJpeg; // 9 x 11, the close glyph
