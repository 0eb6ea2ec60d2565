#include "app/win32/JpegPicture.h"

#include <objbase.h>
#include <wincodec.h>

#include <climits>

namespace {

// Holds one COM interface and releases it.
template <class T> class TComRef {
public:
  TComRef() = default;
  ~TComRef() {
    if (p_) p_->Release();
  }
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;

  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** put() { return &p_; }
  void** put_void() { return reinterpret_cast<void**>(&p_); }

private:
  T* p_ = nullptr;
};

} // namespace

TJpegPicture::TJpegPicture(const TEmbeddedFile& file) {
  if (file.size == 0 || file.size > UINT_MAX) return;
  TComRef<IWICImagingFactory> factory;
  TComRef<IWICStream> stream;
  TComRef<IWICBitmapDecoder> decoder;
  TComRef<IWICBitmapFrameDecode> frame;
  TComRef<IWICFormatConverter> converter;
  UINT width = 0, height = 0;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, factory.put_void())) ||
      FAILED(factory->CreateStream(stream.put())) ||
      // The stream only reads the bytes, which live as long as the program.
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(file.data),
                                          static_cast<DWORD>(file.size))) ||
      FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              decoder.put())) ||
      FAILED(decoder->GetFrame(0, frame.put())) ||
      FAILED(factory->CreateFormatConverter(converter.put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0 || width > 4096 ||
      height > 4096)
    return;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height); // rows top down, as WIC gives them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return;
  const UINT stride = width * 4;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits)))) {
    DeleteObject(bitmap);
    return;
  }
  bitmap_ = bitmap;
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
}

TJpegPicture::~TJpegPicture() {
  if (bitmap_) DeleteObject(bitmap_);
}

void TJpegPicture::Draw(HDC dc, const RECT& place) const {
  if (!bitmap_) return;
  HDC source = CreateCompatibleDC(dc);
  if (!source) return;
  HGDIOBJ old = SelectObject(source, bitmap_);
  const int w = place.right - place.left, h = place.bottom - place.top;
  if (w == width_ && h == height_) {
    BitBlt(dc, place.left, place.top, w, h, source, 0, 0, SRCCOPY);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, place.left, place.top, w, h, source, 0, 0, width_, height_, SRCCOPY);
  }
  SelectObject(source, old);
  DeleteDC(source);
}
