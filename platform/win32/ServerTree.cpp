// The update server's tree on Windows: names are ANSI names as everywhere
// else, and MoveFileEx with write-through puts a flushed file in place.
#include "platform/ServerTree.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/TextFormat.h"
#include "platform/win32/SystemError.h"

#include <windows.h>

#include <atomic>
#include <utility>

namespace platform {
namespace {

const AnsiText kCannotRead{"无法读取文件“%s”：%s"};
const AnsiText kTooLarge{"文件“%s”超过 %lld 字节"};
const AnsiText kCannotMakeFolder{"无法创建文件夹“%s”：%s"};
const AnsiText kCannotCreate{"无法创建文件“%s”：%s"};
const AnsiText kCannotPlace{"无法写入文件“%s”：%s"};

std::string Reason(DWORD error) {
  return win32::SystemErrorText(error);
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

TServerTree::TServerTree(std::string rootAnsi) : root_(std::move(rootAnsi)) {
  while (root_.size() > 3 && (root_.back() == '\\' || root_.back() == '/'))
    root_.pop_back();
}

std::string TServerTree::NativePath(const std::string& relative) const {
  std::string path = root_ + "\\" + relative;
  // A trail byte of GBK is never '/' (0x2F), so this touches no character.
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string TServerTree::DisplayPath(const std::string& relative) const {
  return NativePath(relative);
}

bool TServerTree::RootExists() const {
  return IsFolder(root_);
}

int64_t TServerTree::FileSize(const std::string& relative) const {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(NativePath(relative).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return -1;
  return static_cast<int64_t>((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

std::unique_ptr<TFileStream> TServerTree::OpenRead(const std::string& relative) const {
  const HANDLE h = CreateFileA(NativePath(relative).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw EFOpenError(FormatText(kCannotRead, DisplayPath(relative), Reason(GetLastError())));
  return std::make_unique<TFileStream>(reinterpret_cast<intptr_t>(h), DisplayPath(relative));
}

std::optional<std::string> TServerTree::ReadSmallFile(const std::string& relative,
                                                      int64_t maxSize) const {
  if (GetFileAttributesA(NativePath(relative).c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
  }
  std::unique_ptr<TFileStream> file = OpenRead(relative);
  const int64_t size = file->GetSize();
  if (size > maxSize)
    throw EStreamError(
        FormatText(kTooLarge, DisplayPath(relative), static_cast<long long>(maxSize)));
  std::string bytes(static_cast<size_t>(size), '\0');
  file->ReadBuffer(bytes.data(), size);
  return bytes;
}

void TServerTree::ForceFolders(const std::string& relative) const {
  std::string path = root_;
  size_t from = 0;
  while (from <= relative.size()) {
    size_t slash = relative.find('/', from);
    if (slash == std::string::npos) slash = relative.size();
    const std::string name = relative.substr(from, slash - from);
    from = slash + 1;
    if (name.empty()) continue;
    path += "\\" + name;
    if (IsFolder(path)) continue;
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      throw EFOpenError(FormatText(kCannotMakeFolder, DisplayPath(relative.substr(0, slash)),
                                   Reason(GetLastError())));
  }
}

std::unique_ptr<TServerTreeFile> TServerTree::NewFile(const std::string& relative) const {
  static std::atomic<unsigned> counter{0};
  const std::string target = NativePath(relative);
  const size_t slash = target.rfind('\\');
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = target.substr(0, slash + 1) + "." + target.substr(slash + 1) +
                             ".publish" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter.fetch_add(1));
    const HANDLE h = CreateFileA(temp.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE)
      return std::make_unique<TServerTreeFile>(reinterpret_cast<intptr_t>(h), temp, target,
                                               DisplayPath(relative));
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS) break;
  }
  throw EFOpenError(FormatText(kCannotCreate, DisplayPath(relative), Reason(error)));
}

TServerTreeFile::TServerTreeFile(intptr_t handle, std::string tempPath, std::string target,
                                 std::string display)
    : handle_(handle), stream_(std::make_unique<TFileStream>(handle, display)),
      tempPath_(std::move(tempPath)), target_(std::move(target)), display_(std::move(display)) {}

TServerTreeFile::~TServerTreeFile() {
  stream_.reset();
  if (!tempPath_.empty()) DeleteFileA(tempPath_.c_str());
}

bool TServerTreeFile::Commit(bool replace) {
  const auto fail = [this](DWORD error) {
    return EStreamError(FormatText(kCannotPlace, display_, Reason(error)));
  };
  if (!FlushFileBuffers(reinterpret_cast<HANDLE>(handle_))) throw fail(GetLastError());
  stream_.reset();
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!MoveFileExA(tempPath_.c_str(), target_.c_str(), flags)) {
    const DWORD error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) return false;
    throw fail(error);
  }
  tempPath_.clear();
  return true;
}

} // namespace platform
