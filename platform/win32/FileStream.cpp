// TFileStream over a Windows file handle.
#include "platform/PlatformTexts.h"
#include "platform/Stream.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/win32/SystemError.h"

#include <windows.h>

#include <utility>

namespace {

HANDLE Handle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}
} // namespace

TFileStream::TFileStream(const std::string& ansiPath, uint32_t mode) : fileName_(ansiPath) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode == fmCreate) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else if ((mode & 3) == fmOpenWrite) {
    access = GENERIC_WRITE;
  } else if ((mode & 3) == fmOpenReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
  }
  const std::string& what =
      mode == fmCreate ? platform::texts::kCannotCreate.str() : platform::texts::kCannotOpen.str();
  // Others may read and write meanwhile, as with the POSIX descriptor; a
  // folder does not open without FILE_FLAG_BACKUP_SEMANTICS.
  const HANDLE h =
      CreateFileA(ansiPath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw EFOpenError(what + " \"" + ansiPath + "\" " +
                      platform::win32::SystemErrorText(GetLastError()));
  // A pipe, a console or a device would be read as endless or foreign data.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    throw EFOpenError(what + " \"" + ansiPath + "\" " + platform::texts::kNotRegularFile.str());
  }
  handle_ = reinterpret_cast<intptr_t>(h);
}

TFileStream::TFileStream(intptr_t handle, std::string fileName)
    : fileName_(std::move(fileName)), handle_(handle) {}

TFileStream::~TFileStream() {
  if (handle_ != -1) CloseHandle(Handle(handle_));
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  DWORD n = 0;
  if (!ReadFile(Handle(handle_), buffer, static_cast<DWORD>(count), &n, nullptr)) return 0;
  return static_cast<int32_t>(n);
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  DWORD n = 0;
  if (!WriteFile(Handle(handle_), buffer, static_cast<DWORD>(count), &n, nullptr)) return 0;
  return static_cast<int32_t>(n);
}

int64_t TFileStream::Seek64(int64_t offset, TSeekOrigin origin) {
  const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER position{};
  if (!SetFilePointerEx(Handle(handle_), distance, &position, method))
    throw EStreamError(platform::texts::kSeekFailed.str() + fileName_);
  return position.QuadPart;
}

void TFileStream::SetSize64(int64_t newSize) {
  const int64_t position = GetPosition();
  // SetEndOfFile cuts or extends the file at the file pointer.
  Seek64(newSize, TSeekOrigin::soBeginning);
  const bool ok = SetEndOfFile(Handle(handle_)) != 0;
  Seek64(position < newSize ? position : newSize, TSeekOrigin::soBeginning);
  if (!ok) throw EStreamError(platform::texts::kResizeFailed.str() + fileName_);
}
