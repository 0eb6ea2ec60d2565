// The update window on Windows: the system's own controls mirroring the
// form's control model, as the FLTK view does on Linux.
//
// The model's windowed controls (panels, buttons, the memo, the progress bar)
// are child windows in the model's parent-child order. Labels and pictures
// are no windows: the panel they sit on draws them, as a form draws its
// graphic controls, so that the caption label stays transparent over the
// title-band picture. The title band answers hit tests as a caption does, so
// the system moves the borderless window when it is dragged there.
//
// The check, the transfer and the installation run on this thread and block
// it. Repaint therefore draws at once (RedrawWindow with RDW_UPDATENOW)
// instead of waiting for the message loop.
#include "app/UpdateWindow.h"

#include "app/Pictures.h"
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "app/win32/JpegPicture.h"
#include "platform/CodePage.h"
#include "platform/TextWrap.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr wchar_t kFormClass[] = L"ZorvaUpdateForm";
constexpr wchar_t kPanelClass[] = L"ZorvaUpdatePanel";
constexpr UINT_PTR kUpdateTimer = 1;
// Child-window ids: the control's place in the table, past the ids that
// dialogs give their own meaning (IDOK ... IDCLOSE).
constexpr int kFirstChildId = 100;

std::wstring FromAnsi(std::string_view ansi) {
  return platform::win32::AnsiToWide(ansi);
}
std::wstring FromUtf8(std::string_view utf8) {
  return platform::win32::ToWide(utf8, CP_UTF8);
}

COLORREF Colour(uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

RECT ToRect(const TRect& r) {
  return {r.left, r.top, r.left + r.width, r.top + r.height};
}

bool IsWindowed(TControlKind kind) {
  switch (kind) {
  case TControlKind::ckPanel:
  case TControlKind::ckButton:
  case TControlKind::ckMemo:
  case TControlKind::ckProgressBar:
    return true;
  case TControlKind::ckLabel:
  case TControlKind::ckPicture:
    return false;
  }
  return false;
}

struct TGdiDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using TGdiHandle = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, TGdiDeleter>;

// COM for the imaging component, for the life of the window.
class TComScope {
public:
  TComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~TComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  TComScope(const TComScope&) = delete;
  TComScope& operator=(const TComScope&) = delete;

private:
  HRESULT result_;
};

// A window class of this program, registered once.
void RegisterClassOnce(const wchar_t* name, WNDPROC procedure, HBRUSH background) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &wc)) return;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

// What a label or picture showed when its panel last drew it.
struct TDrawnState {
  bool visible = false;
  RECT place{};
  std::wstring text;
  bool operator==(const TDrawnState& o) const {
    return visible == o.visible && EqualRect(&place, &o.place) && text == o.text;
  }
};

class TUpdateWindow : public TFormView {
public:
  explicit TUpdateWindow(TUpdateForm& form);
  ~TUpdateWindow() override;
  TUpdateWindow(const TUpdateWindow&) = delete;
  TUpdateWindow& operator=(const TUpdateWindow&) = delete;

  // Shows the window, starts the timer when the model has it enabled and runs
  // the message loop until the window closes.
  void Run();
  void Repaint(std::optional<ControlId> control) override;
  void CloseWindow() override;

private:
  static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT OnFormMessage(UINT message, WPARAM w, LPARAM l);
  LRESULT OnPanelMessage(ControlId panel, HWND window, UINT message, WPARAM w, LPARAM l);

  void CreateControl(const TControlDef& def);
  HFONT Font(const TControlDef& def);
  // The place of a control inside its parent's client area. Labels that do
  // not wrap grow to their text, as the form's labels size themselves.
  RECT PlaceInParent(ControlId id);
  int TextWidth(const TControlDef& def, const std::wstring& text);
  TDrawnState DrawnState(ControlId id);
  void Refresh();
  void SyncControl(ControlId id);
  void PaintPanel(ControlId panel, HWND window, HDC dc);
  void DrawLabel(const TControl& label, HDC dc, const RECT& place);
  // Runs a handler of the form; an error that reaches it is shown in the
  // application's error box and leaves the window as the handler left it.
  template <class Handler> void RunHandler(Handler handler);
  std::optional<ControlId> PictureAt(ControlId panel, POINT p);

  TUpdateForm& form_;
  HWND window_ = nullptr;
  std::array<HWND, kControlCount> handles_{}; // null for labels and pictures
  std::array<std::wstring, kControlCount> shownTexts_;
  std::array<TDrawnState, kControlCount> drawn_;
  std::array<bool, kControlCount> captionShown_{};
  std::array<int, kControlCount> shownPosition_{};
  std::map<std::pair<std::wstring, int>, TGdiHandle> fonts_;
  TGdiHandle faceBrush_;
  TGdiHandle contentBrush_;
  TJpegPicture titleBand_{kTitleBandJpeg};
  TJpegPicture closeGlyph_{kCloseGlyphJpeg};
  bool closed_ = false;
};

TUpdateWindow::TUpdateWindow(TUpdateForm& form)
    : form_(form), faceBrush_(CreateSolidBrush(Colour(kColourButtonFace))),
      contentBrush_(CreateSolidBrush(Colour(kColourContent))) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterClassOnce(kFormClass, &TUpdateWindow::FormProc, nullptr);
  RegisterClassOnce(kPanelClass, &TUpdateWindow::PanelProc, nullptr);

  // Centred on the screen, as the form's position says.
  const TFormControls& model = form_.controls;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - model.clientWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - model.clientHeight) / 2;
  window_ = CreateWindowExW(WS_EX_APPWINDOW, kFormClass, FromAnsi(model.caption).c_str(),
                            WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX, left, top,
                            model.clientWidth, model.clientHeight, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
  if (!window_) throw std::runtime_error("CreateWindowExW failed");
  for (const TControlDef& def : ControlTable())
    CreateControl(def);
  Refresh();
}

TUpdateWindow::~TUpdateWindow() {
  form_.AttachView(nullptr);
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_); // and its children
  }
}

HFONT TUpdateWindow::Font(const TControlDef& def) {
  std::pair<std::wstring, int> key{FromUtf8(def.fontFaceUtf8), def.fontHeight};
  auto found = fonts_.find(key);
  if (found != fonts_.end()) return static_cast<HFONT>(found->second.get());
  // A negative height asks for the character height, without the leading.
  HFONT font = CreateFontW(-def.fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, key.first.c_str());
  fonts_.emplace(std::move(key), TGdiHandle(font));
  return font;
}

void TUpdateWindow::CreateControl(const TControlDef& def) {
  if (!IsWindowed(def.kind)) return;
  HWND parent = def.parent ? handles_[static_cast<int>(*def.parent)] : window_;
  const int index = static_cast<int>(def.id);
  const HMENU childId = reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstChildId + index));
  const DWORD child = WS_CHILD | WS_CLIPSIBLINGS;
  HWND handle = nullptr;
  switch (def.kind) {
  case TControlKind::ckPanel:
    handle = CreateWindowExW(0, kPanelClass, L"", child | WS_CLIPCHILDREN, 0, 0, def.width,
                             def.height, parent, childId, GetModuleHandleW(nullptr), this);
    break;
  case TControlKind::ckButton:
    handle =
        CreateWindowExW(0, WC_BUTTONW, L"", child | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, def.width,
                        def.height, parent, childId, GetModuleHandleW(nullptr), nullptr);
    break;
  case TControlKind::ckMemo:
    handle =
        CreateWindowExW(WS_EX_CLIENTEDGE, WC_EDITW, L"",
                        child | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0,
                        def.width, def.height, parent, childId, GetModuleHandleW(nullptr), nullptr);
    break;
  case TControlKind::ckProgressBar:
    handle = CreateWindowExW(0, PROGRESS_CLASSW, L"", child, 0, 0, def.width, def.height, parent,
                             childId, GetModuleHandleW(nullptr), nullptr);
    if (handle) SendMessageW(handle, PBM_SETRANGE32, 0, 100);
    break;
  case TControlKind::ckLabel:
  case TControlKind::ckPicture:
    return;
  }
  if (!handle) throw std::runtime_error("CreateWindowExW failed for a control");
  SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(Font(def)), FALSE);
  handles_[index] = handle;
}

int TUpdateWindow::TextWidth(const TControlDef& def, const std::wstring& text) {
  if (text.empty()) return 0;
  HDC dc = GetDC(window_);
  HGDIOBJ old = SelectObject(dc, Font(def));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(window_, dc);
  return size.cx;
}

RECT TUpdateWindow::PlaceInParent(ControlId id) {
  const TFormControls& model = form_.controls;
  const TControl& c = model[id];
  TRect r = model.Bounds(id);
  if (c.def->kind == TControlKind::ckLabel && !c.def->wordWrap)
    r.width = std::max(r.width, TextWidth(*c.def, FromAnsi(c.caption)));
  if (c.def->parent) {
    const TRect origin = model.Bounds(*c.def->parent);
    r.left -= origin.left;
    r.top -= origin.top;
  }
  return ToRect(r);
}

TDrawnState TUpdateWindow::DrawnState(ControlId id) {
  const TControl& c = form_.controls[id];
  TDrawnState state{c.visible, PlaceInParent(id), {}};
  if (c.def->kind == TControlKind::ckLabel) state.text = FromAnsi(c.caption);
  return state;
}

void TUpdateWindow::SyncControl(ControlId id) {
  const TFormControls& model = form_.controls;
  const TControl& c = model[id];
  const int index = static_cast<int>(id);
  HWND handle = handles_[index];

  if (!handle) {
    // A label or a picture: its panel draws it again where it changed.
    TDrawnState now = DrawnState(id);
    if (now == drawn_[index]) return;
    HWND panel = handles_[static_cast<int>(*c.def->parent)];
    InvalidateRect(panel, &drawn_[index].place, FALSE);
    InvalidateRect(panel, &now.place, FALSE);
    drawn_[index] = std::move(now);
    return;
  }

  const RECT place = PlaceInParent(id);
  RECT current{};
  GetWindowRect(handle, &current);
  MapWindowPoints(HWND_DESKTOP, GetParent(handle), reinterpret_cast<POINT*>(&current), 2);
  if (!EqualRect(&current, &place))
    SetWindowPos(handle, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);

  switch (c.def->kind) {
  case TControlKind::ckPanel: {
    const bool shows = model.CaptionShows(id);
    if (shows != captionShown_[index] || (shows && FromAnsi(c.caption) != shownTexts_[index])) {
      captionShown_[index] = shows;
      shownTexts_[index] = FromAnsi(c.caption);
      InvalidateRect(handle, nullptr, FALSE);
    }
    break;
  }
  case TControlKind::ckButton: {
    std::wstring text = FromAnsi(c.caption);
    if (text != shownTexts_[index]) {
      SetWindowTextW(handle, text.c_str());
      shownTexts_[index] = std::move(text);
    }
    break;
  }
  case TControlKind::ckMemo: {
    std::string lines;
    for (const std::string& line : c.lines)
      lines += line + "\r\n";
    std::wstring text = FromAnsi(lines);
    if (text != shownTexts_[index]) {
      SetWindowTextW(handle, text.c_str());
      shownTexts_[index] = std::move(text);
    }
    break;
  }
  case TControlKind::ckProgressBar:
    if (c.position != shownPosition_[index]) {
      SendMessageW(handle, PBM_SETPOS, static_cast<WPARAM>(c.position), 0);
      shownPosition_[index] = c.position;
    }
    break;
  case TControlKind::ckLabel:
  case TControlKind::ckPicture:
    break;
  }

  const bool shown = (GetWindowLongW(handle, GWL_STYLE) & WS_VISIBLE) != 0;
  if (shown != c.visible) ShowWindow(handle, c.visible ? SW_SHOWNA : SW_HIDE);
  if ((IsWindowEnabled(handle) != FALSE) != c.enabled) EnableWindow(handle, c.enabled);
}

void TUpdateWindow::Refresh() {
  const TFormControls& model = form_.controls;
  RECT client{};
  GetClientRect(window_, &client);
  if (client.right != model.clientWidth || client.bottom != model.clientHeight)
    SetWindowPos(window_, nullptr, 0, 0, model.clientWidth, model.clientHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (const TControlDef& def : ControlTable())
    SyncControl(def.id);
}

void TUpdateWindow::DrawLabel(const TControl& label, HDC dc, const RECT& place) {
  const TControlDef& def = *label.def;
  // The caption label sits on the title picture and draws no background.
  if (def.parent != ControlId::pnlTop) {
    TGdiHandle brush(CreateSolidBrush(Colour(def.colour)));
    FillRect(dc, &place, static_cast<HBRUSH>(brush.get()));
  }
  HGDIOBJ old = SelectObject(dc, Font(def));
  SetTextColor(dc, Colour(def.textColour));
  SetBkMode(dc, TRANSPARENT);
  RECT r = place;
  if (!def.wordWrap) {
    std::wstring text = FromAnsi(label.caption);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
  } else {
    // Chinese has no blanks to break at: the lines are broken here, as the
    // dialogs break theirs, and clipped to the label's fixed size.
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const auto lines = platform::WrapText(
        platform::AnsiToUtf8(label.caption), place.right - place.left, [dc](std::string_view utf8) {
          const std::wstring piece = FromUtf8(utf8);
          SIZE size{};
          GetTextExtentPoint32W(dc, piece.c_str(), static_cast<int>(piece.size()), &size);
          return static_cast<double>(size.cx);
        });
    for (const std::string& line : lines) {
      const std::wstring text = FromUtf8(line);
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
      r.top += metrics.tmHeight;
      if (r.top >= r.bottom) break;
    }
  }
  SelectObject(dc, old);
}

void TUpdateWindow::PaintPanel(ControlId panel, HWND window, HDC target) {
  RECT client{};
  GetClientRect(window, &client);
  // Drawn off screen first, so that repaints during the transfer never flicker.
  HDC dc = CreateCompatibleDC(target);
  TGdiHandle buffer(CreateCompatibleBitmap(target, client.right, client.bottom));
  HGDIOBJ oldBitmap = SelectObject(dc, buffer.get());

  const TControl& self = form_.controls[panel];
  TGdiHandle background(CreateSolidBrush(Colour(self.def->colour)));
  FillRect(dc, &client, static_cast<HBRUSH>(background.get()));
  RECT edge = client;
  DrawEdge(dc, &edge, BDR_RAISEDINNER, BF_RECT);

  if (form_.controls.CaptionShows(panel)) {
    HGDIOBJ old = SelectObject(dc, Font(*self.def));
    SetTextColor(dc, Colour(self.def->textColour));
    SetBkMode(dc, TRANSPARENT);
    std::wstring text = FromAnsi(self.caption);
    RECT r = client;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
  }

  // The graphic controls on this panel, in table order: later ones on top.
  for (const TControlDef& def : ControlTable()) {
    if (def.parent != panel || IsWindowed(def.kind)) continue;
    const TControl& c = form_.controls[def.id];
    if (!c.visible) continue;
    const RECT place = PlaceInParent(def.id);
    if (def.kind == TControlKind::ckLabel) {
      DrawLabel(c, dc, place);
    } else if (def.id == ControlId::imgTop) {
      titleBand_.Draw(dc, place);
    } else if (def.id == ControlId::imgClose) {
      closeGlyph_.Draw(dc, place);
    }
  }

  BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldBitmap);
  DeleteDC(dc);
}

std::optional<ControlId> TUpdateWindow::PictureAt(ControlId panel, POINT p) {
  for (const TControlDef& def : ControlTable()) {
    if (def.parent != panel || def.kind != TControlKind::ckPicture) continue;
    if (def.id != ControlId::imgClose || !form_.controls[def.id].visible) continue;
    const RECT place = PlaceInParent(def.id);
    if (PtInRect(&place, p)) return def.id;
  }
  return std::nullopt;
}

template <class Handler> void TUpdateWindow::RunHandler(Handler handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    form_.ReportError(e);
  }
  if (closed_) return;
  Refresh();
  UpdateWindow(window_);
}

LRESULT CALLBACK TUpdateWindow::FormProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* view = reinterpret_cast<TUpdateWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr || view->window_ != window) return DefWindowProcW(window, message, w, l);
  return view->OnFormMessage(message, w, l);
}

LRESULT TUpdateWindow::OnFormMessage(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
  case WM_ERASEBKGND: {
    RECT client{};
    GetClientRect(window_, &client);
    FillRect(reinterpret_cast<HDC>(w), &client, static_cast<HBRUSH>(faceBrush_.get()));
    return 1;
  }
  case WM_NCHITTEST: {
    // The title band moves the window; the close glyph answers as a client
    // area of its own panel before this is asked.
    POINT p{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
    ScreenToClient(window_, &p);
    const TRect band = form_.controls.Bounds(ControlId::pnlTop);
    if (form_.controls[ControlId::pnlTop].visible && p.y >= band.top &&
        p.y < band.top + band.height)
      return HTCAPTION;
    return HTCLIENT;
  }
  case WM_TIMER:
    if (w == kUpdateTimer) {
      KillTimer(window_, kUpdateTimer);
      RunHandler([this] { form_.tmUpdateTimer(); });
      const TTimer& timer = form_.controls.tmUpdate;
      if (timer.enabled && !closed_)
        SetTimer(window_, kUpdateTimer, static_cast<UINT>(timer.intervalMs), nullptr);
    }
    return 0;
  case WM_CLOSE:
    // Alt+F4 or the taskbar: the form's close operation, as the glyph does.
    RunHandler([this] { form_.imgCloseClick(); });
    return 0;
  default:
    return DefWindowProcW(window_, message, w, l);
  }
}

LRESULT CALLBACK TUpdateWindow::PanelProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* view = reinterpret_cast<TUpdateWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  const int index = GetDlgCtrlID(window) - kFirstChildId;
  if (view == nullptr || index < 0 || index >= kControlCount)
    return DefWindowProcW(window, message, w, l);
  return view->OnPanelMessage(static_cast<ControlId>(index), window, message, w, l);
}

LRESULT TUpdateWindow::OnPanelMessage(ControlId panel, HWND window, UINT message, WPARAM w,
                                      LPARAM l) {
  switch (message) {
  case WM_ERASEBKGND:
    return 1; // WM_PAINT covers everything
  case WM_PRINTCLIENT:
    // Themed buttons ask their parent for the background behind their corners.
    PaintPanel(panel, window, reinterpret_cast<HDC>(w));
    return 0;
  case WM_PAINT: {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    PaintPanel(panel, window, dc);
    EndPaint(window, &ps);
    return 0;
  }
  case WM_NCHITTEST: {
    // Outside its pictures the title band lets the window below answer, which
    // makes it a caption.
    if (panel != ControlId::pnlTop) break;
    POINT p{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
    ScreenToClient(window, &p);
    return PictureAt(panel, p) ? HTCLIENT : HTTRANSPARENT;
  }
  case WM_LBUTTONUP: {
    POINT p{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
    if (PictureAt(panel, p) == ControlId::imgClose) RunHandler([this] { form_.imgCloseClick(); });
    return 0;
  }
  case WM_COMMAND: {
    const int index = LOWORD(w) - kFirstChildId;
    if (HIWORD(w) != BN_CLICKED || index < 0 || index >= kControlCount) break;
    const ActionId action = form_.controls[static_cast<ControlId>(index)].action;
    RunHandler([this, action] { form_.ExecuteAction(action); });
    return 0;
  }
  case WM_CTLCOLORSTATIC: {
    // The read-only memo: red text on the content colour.
    const int index = GetDlgCtrlID(reinterpret_cast<HWND>(l)) - kFirstChildId;
    if (index < 0 || index >= kControlCount) break;
    const TControlDef& def = *form_.controls[static_cast<ControlId>(index)].def;
    HDC dc = reinterpret_cast<HDC>(w);
    SetTextColor(dc, Colour(def.textColour));
    SetBkColor(dc, Colour(def.colour));
    return reinterpret_cast<LRESULT>(contentBrush_.get());
  }
  default:
    break;
  }
  return DefWindowProcW(window, message, w, l);
}

void TUpdateWindow::Run() {
  const TFormControls& model = form_.controls;
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  if (model.tmUpdate.enabled)
    SetTimer(window_, kUpdateTimer, static_cast<UINT>(model.tmUpdate.intervalMs), nullptr);

  MSG msg;
  while (!closed_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void TUpdateWindow::Repaint(std::optional<ControlId> control) {
  Refresh();
  if (!control) {
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return;
  }
  const int index = static_cast<int>(*control);
  if (HWND handle = handles_[index]) {
    RedrawWindow(handle, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  } else {
    HWND panel = handles_[static_cast<int>(*form_.controls[*control].def->parent)];
    RedrawWindow(panel, &drawn_[index].place, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
  // The transfer holds this thread away from the message loop: flush the
  // batched drawing now, and look at the queue (without taking anything from
  // it) so that the system still counts the window as responding. Wine also
  // puts the window's drawing on screen only when its queue is looked at.
  GdiFlush();
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD);
}

void TUpdateWindow::CloseWindow() {
  if (closed_) return;
  closed_ = true;
  KillTimer(window_, kUpdateTimer);
  ShowWindow(window_, SW_HIDE);
  PostQuitMessage(0);
}

} // namespace

void RunUpdateWindow(TUpdateForm& form) {
  TComScope com;
  TUpdateWindow view(form);
  form.AttachView(&view);
  // A close or end request made while an error box was up still counts.
  if (form.Closed() || form.EndRequested()) return;
  view.Run();
}
