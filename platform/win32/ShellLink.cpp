// Shortcuts on Windows: the shell's own link object reads the file
// (CoCreateInstance of CLSID_ShellLink, IShellLinkA, IPersistFile).
#include "platform/ShellLink.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/PlatformTexts.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>
#include <shobjidl.h>

namespace platform {
namespace {

std::string Unreadable(const std::string& path) {
  std::string text = texts::kShortcutUnreadable;
  text.replace(text.find("%s"), 2, path);
  return text;
}

// COM on this thread for one call. A thread that has COM already, in either
// model, keeps it as it is.
class ComScope {
public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
  HRESULT result_;
};

// Releases the interface on destruction.
template <typename T> class ComRef {
public:
  ComRef() = default;
  ~ComRef() {
    if (p_) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

private:
  T* p_ = nullptr;
};

} // namespace

std::string ReadShortcutTarget(const std::string& path) {
  ComScope com;
  if (!com.Usable() || path.empty()) throw Exception(Unreadable(path));
  ComRef<IShellLinkA> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              link.out())))
    throw Exception(Unreadable(path));
  ComRef<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.out()))) throw Exception(Unreadable(path));
  const std::wstring widePath = win32::AnsiToWide(path);
  if (widePath.empty() || FAILED(file->Load(widePath.c_str(), STGM_READ)))
    throw Exception(Unreadable(path));
  char target[MAX_PATH + 1] = "";
  WIN32_FIND_DATAA data{};
  // The path as stored; the link is not resolved, which could search for a
  // moved target, show a dialog and pick another program.
  if (link->GetPath(target, MAX_PATH, &data, 0) != S_OK) throw Exception(Unreadable(path));
  return target;
}

} // namespace platform
