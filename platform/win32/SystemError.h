#pragma once
// Windows' own text for an error code, for the messages of the win32 units.
#include <cstdint>
#include <string>

namespace platform::win32 {

// The system's ANSI text for `error` (a GetLastError() or WinINet code),
// without the line end the system appends; "error <n>" when it has none.
std::string SystemErrorText(uint32_t error);

// Owns a HANDLE-like value and closes it with `Close` on destruction.
template <typename Handle, auto Close, Handle Invalid> class UniqueHandle {
public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Invalid && handle_ != Handle{}; }
  Handle release() {
    Handle h = handle_;
    handle_ = Invalid;
    return h;
  }
  void reset(Handle handle = Invalid) {
    if (*this) Close(handle_);
    handle_ = handle;
  }

private:
  Handle handle_ = Invalid;
};

} // namespace platform::win32
