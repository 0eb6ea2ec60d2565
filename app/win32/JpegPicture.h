#pragma once
// A picture of the window decoded from JPEG bytes by the system's imaging
// component (WIC) into a bitmap that GDI draws. Windows only.
#include "app/Pictures.h"

#include <windows.h>

class TJpegPicture {
public:
  // Decodes `file`. COM must be initialised on this thread. A file that the
  // system cannot decode gives an empty picture, which draws nothing: the
  // window works without its decoration.
  explicit TJpegPicture(const TEmbeddedFile& file);
  ~TJpegPicture();
  TJpegPicture(const TJpegPicture&) = delete;
  TJpegPicture& operator=(const TJpegPicture&) = delete;

  bool Empty() const { return bitmap_ == nullptr; }
  // Draws the picture stretched over `place` of `dc`.
  void Draw(HDC dc, const RECT& place) const;

private:
  HBITMAP bitmap_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};
