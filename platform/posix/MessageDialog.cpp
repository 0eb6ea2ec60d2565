// The dialogs on X11: one small modal FLTK window of our own serves as the
// task dialog and as the message box, since fl_choice offers three buttons
// and the button sets go up to six.
//
// Traps:
// - FLTK's fl_open_display() ends the process when the display cannot be
//   opened. The display is therefore opened here with Xlib first, once per
//   process, and handed to FLTK; without one every dialog answers idNone
//   and its text goes to standard error.
// - The dialog may be shown from inside a running FLTK loop (a window's
//   handler, a transfer's progress event), so it waits in a nested loop of
//   Fl::wait(), never in Fl::run().
// - FLTK's Xft back end does not fall back per character and wraps only at
//   blanks: the font is mapped to a Chinese one and the text is broken into
//   lines here.
#include "platform/MessageDialog.h"

#include "platform/ChineseFont.h"
#include "platform/CodePage.h"
#include "platform/TextWrap.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace platform {
namespace {

enum class TGlyph { gNone, gInformation, gWarning, gError, gQuestion };

struct TButtonDef {
  int32_t id;
  const char* caption; // UTF-8
};

constexpr TButtonDef kOk{idOk, "确定"};
constexpr TButtonDef kCancel{idCancel, "取消"};
constexpr TButtonDef kAbort{idAbort, "中止"};
constexpr TButtonDef kRetry{idRetry, "重试"};
constexpr TButtonDef kIgnore{idIgnore, "忽略"};
constexpr TButtonDef kYes{idYes, "是"};
constexpr TButtonDef kNo{idNo, "否"};
constexpr TButtonDef kClose{idClose, "关闭"};

struct TDialogRequest {
  std::string text;    // UTF-8
  std::string caption; // UTF-8
  TGlyph glyph = TGlyph::gNone;
  std::vector<TButtonDef> buttons;
  size_t defaultIndex = 0;
};

constexpr int kFontSize = 14;
constexpr int kMargin = 20; // around the icon and the text
constexpr int kIconSize = 32;
constexpr int kIconGap = 14; // between the icon and the text
constexpr int kMaxTextWidth = 400;
constexpr int kMinWidth = 280;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;
constexpr int kBandPadding = 12; // around the buttons in their band
constexpr int kLineSpacing = 3;  // Chinese needs a little air between lines

// True when a display can be used. Tested once per process; a display that
// opens is kept and handed to FLTK, which would end the process otherwise.
bool OpenDisplay() {
  if (fl_display != nullptr) return true;
  static const bool opened = [] {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return false;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    fl_open_display(display);
    return true;
  }();
  return opened;
}

void UseChineseFont() {
  static const std::string fontName = [] {
    const std::string family = FindChineseFontFamily();
    return family.empty() ? family : " " + family; // a leading blank marks the plain style
  }();
  // FLTK keeps the pointer; the string lives as long as the process.
  if (!fontName.empty() && fontName != Fl::get_font(FL_HELVETICA))
    Fl::set_font(FL_HELVETICA, fontName.c_str());
}

// The answer when the dialog is closed without a button.
int32_t CloseAnswer(const std::vector<TButtonDef>& buttons) {
  auto offers = [&](int32_t id) {
    return std::any_of(buttons.begin(), buttons.end(),
                       [id](const TButtonDef& b) { return b.id == id; });
  };
  if (offers(idCancel)) return idCancel;
  if (offers(idClose)) return idClose;
  if (buttons.size() == 1 && buttons[0].id == idOk) return idOk;
  return idNone;
}

class TGlyphBox : public Fl_Widget {
public:
  TGlyphBox(int x, int y, int size, TGlyph glyph) : Fl_Widget(x, y, size, size), glyph_(glyph) {}

  void draw() override {
    const int X = x(), Y = y(), S = w();
    switch (glyph_) {
    case TGlyph::gNone:
      return;
    case TGlyph::gWarning:
      fl_color(fl_rgb_color(0xF2, 0xB7, 0x05));
      fl_polygon(X + S / 2, Y + 1, X + S - 1, Y + S - 3, X, Y + S - 3);
      DrawMark("!", FL_BLACK, 4);
      return;
    case TGlyph::gError:
      fl_color(fl_rgb_color(0xD9, 0x30, 0x25));
      fl_pie(X, Y, S, S, 0, 360);
      fl_color(FL_WHITE);
      fl_line_style(FL_SOLID | FL_CAP_ROUND, 3);
      fl_line(X + 10, Y + 10, X + S - 11, Y + S - 11);
      fl_line(X + S - 11, Y + 10, X + 10, Y + S - 11);
      fl_line_style(0);
      return;
    case TGlyph::gInformation:
    case TGlyph::gQuestion:
      fl_color(fl_rgb_color(0x1E, 0x6C, 0xD2));
      fl_pie(X, Y, S, S, 0, 360);
      DrawMark(glyph_ == TGlyph::gInformation ? "i" : "?", FL_WHITE, 0);
      return;
    }
  }

private:
  void DrawMark(const char* mark, Fl_Color colour, int dy) {
    fl_color(colour);
    fl_font(FL_HELVETICA_BOLD, 22);
    const int width = static_cast<int>(fl_width(mark));
    const int baseline = y() + (h() + fl_height()) / 2 - fl_descent() + dy;
    fl_draw(mark, x() + (w() - width) / 2, baseline);
  }

  TGlyph glyph_;
};

// The text, drawn line by line as it was broken: FLTK's label drawing would
// read '@' and '&' as symbols and shortcuts.
class TTextLines : public Fl_Widget {
public:
  TTextLines(int x, int y, int w, int h, std::vector<std::string> lines, int lineHeight)
      : Fl_Widget(x, y, w, h), lines_(std::move(lines)), lineHeight_(lineHeight) {}

  void draw() override {
    fl_font(FL_HELVETICA, kFontSize);
    fl_color(FL_BLACK);
    for (size_t i = 0; i < lines_.size(); ++i)
      fl_draw(lines_[i].c_str(), x(),
              y() + static_cast<int>(i) * lineHeight_ + lineHeight_ - fl_descent() -
                  kLineSpacing / 2);
  }

private:
  std::vector<std::string> lines_;
  int lineHeight_;
};

class TDialogButton : public Fl_Button {
public:
  TDialogButton(int x, int y, const TButtonDef& def)
      : Fl_Button(x, y, kButtonWidth, kButtonHeight, def.caption), id_(def.id) {
    labelsize(kFontSize);
  }
  int32_t Id() const { return id_; }

private:
  int32_t id_;
};

class TDialogWindow : public Fl_Double_Window {
public:
  TDialogWindow(int w, int h, const TDialogRequest& request)
      : Fl_Double_Window(w, h), closeAnswer_(CloseAnswer(request.buttons)) {}

  void AddButton(TDialogButton* button, bool isDefault) {
    add(button);
    buttons_.push_back(button);
    if (isDefault) default_ = button;
    button->callback([](Fl_Widget* w, void*) {
      auto* b = static_cast<TDialogButton*>(w);
      static_cast<TDialogWindow*>(b->window())->Answer(b->Id());
    });
  }

  // Shows the window and waits until it is answered.
  int32_t Run() {
    set_modal();
    callback([](Fl_Widget* w, void*) { static_cast<TDialogWindow*>(w)->CloseRequested(); });
    show();
    if (default_) default_->take_focus();
    while (shown())
      Fl::wait();
    return answer_;
  }

  int handle(int event) override {
    // Return presses the button that has the focus, as on Windows, and the
    // default button when the focus is elsewhere.
    if (event == FL_SHORTCUT && (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
      auto focused = std::find(buttons_.begin(), buttons_.end(), Fl::focus());
      TDialogButton* target = focused != buttons_.end() ? *focused : default_;
      if (target) Answer(target->Id());
      return 1;
    }
    return Fl_Double_Window::handle(event);
  }

private:
  void Answer(int32_t id) {
    answer_ = id;
    hide();
  }

  void CloseRequested() {
    // Escape, like the close box, only closes a dialog that has an answer
    // for it; a Yes/No question stays until it is answered.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape && closeAnswer_ == idNone)
      return;
    Answer(closeAnswer_);
  }

  int32_t closeAnswer_;
  int32_t answer_ = idNone;
  std::vector<TDialogButton*> buttons_;
  TDialogButton* default_ = nullptr;
};

int32_t RunDialog(const TDialogRequest& request) {
  if (!OpenDisplay()) {
    // A run from a cron job or an SSH session would lose the text; standard
    // error is where such a run's messages are read.
    std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
    return idNone;
  }
  UseChineseFont();
  if (Fl::scheme() == nullptr) Fl::scheme("gtk+");

  fl_font(FL_HELVETICA, kFontSize);
  const int lineHeight = fl_height() + kLineSpacing;
  std::vector<std::string> lines = WrapText(request.text, kMaxTextWidth, [](std::string_view s) {
    return fl_width(s.data(), static_cast<int>(s.size()));
  });
  int textWidth = 0;
  for (const std::string& line : lines)
    textWidth = std::max(textWidth, static_cast<int>(fl_width(line.c_str())) + 1);
  const int textHeight = static_cast<int>(lines.size()) * lineHeight;

  const bool hasIcon = request.glyph != TGlyph::gNone;
  const int textLeft = kMargin + (hasIcon ? kIconSize + kIconGap : 0);
  const int contentHeight = std::max(hasIcon ? kIconSize : 0, textHeight) + 2 * kMargin;
  const int buttonCount = static_cast<int>(request.buttons.size());
  const int buttonsWidth = buttonCount * kButtonWidth + (buttonCount - 1) * kButtonGap;
  const int bandHeight = kButtonHeight + 2 * kBandPadding;
  const int width =
      std::max({textLeft + textWidth + kMargin, buttonsWidth + 2 * kBandPadding, kMinWidth});
  const int height = contentHeight + bandHeight;

  Fl_Group::current(nullptr);
  auto window = std::make_unique<TDialogWindow>(width, height, request);
  window->end();
  window->copy_label(request.caption.c_str());
  window->color(FL_WHITE);
  if (hasIcon) window->add(new TGlyphBox(kMargin, kMargin, kIconSize, request.glyph));
  const int textTop = kMargin + std::max(0, (kIconSize - textHeight) / 2);
  window->add(
      new TTextLines(textLeft, textTop, textWidth, textHeight, std::move(lines), lineHeight));
  auto* band = new Fl_Box(0, contentHeight, width, bandHeight);
  band->box(FL_FLAT_BOX);
  band->color(fl_rgb_color(0xF0, 0xF0, 0xF0));
  window->add(band);
  int left = width - kBandPadding - buttonsWidth;
  for (size_t i = 0; i < request.buttons.size(); ++i) {
    window->AddButton(new TDialogButton(left, contentHeight + kBandPadding, request.buttons[i]),
                      i == request.defaultIndex);
    left += kButtonWidth + kButtonGap;
  }

  // Centred on the screen of the application's window, if one is shown.
  int sx, sy, sw, sh;
  if (Fl_Window* owner = Fl::first_window())
    Fl::screen_xywh(sx, sy, sw, sh, owner->x() + owner->w() / 2, owner->y() + owner->h() / 2);
  else
    Fl::screen_xywh(sx, sy, sw, sh, 0);
  window->position(sx + (sw - width) / 2, sy + (sh - height) / 2);
  return window->Run();
}

TGlyph GlyphOfIconId(int32_t iconId) {
  switch (iconId) {
  case 81:
  case 106:
    return TGlyph::gInformation;
  case 84:
  case 107:
    return TGlyph::gWarning;
  case 98:
  case 105:
    return TGlyph::gError;
  case 99:
  case 104:
    return TGlyph::gQuestion;
  default:
    return TGlyph::gNone;
  }
}

TGlyph GlyphOfStyle(uint32_t style) {
  switch (style & 0xF0) {
  case mbIconError:
    return TGlyph::gError;
  case mbIconQuestion:
    return TGlyph::gQuestion;
  case mbIconWarning:
    return TGlyph::gWarning;
  case mbIconInformation:
    return TGlyph::gInformation;
  default:
    return TGlyph::gNone;
  }
}

std::vector<TButtonDef> ButtonsOfStyle(uint32_t style) {
  switch (style & 0xF) {
  case mbOkCancel:
    return {kOk, kCancel};
  case mbAbortRetryIgnore:
    return {kAbort, kRetry, kIgnore};
  case mbYesNoCancel:
    return {kYes, kNo, kCancel};
  case mbYesNo:
    return {kYes, kNo};
  case mbRetryCancel:
    return {kRetry, kCancel};
  default:
    return {kOk};
  }
}

} // namespace

bool DisplayAvailable() {
  return OpenDisplay();
}

std::optional<int32_t> ShowTaskDialog(const std::string& text, const std::string& caption,
                                      int32_t iconId, int32_t buttons) {
  // Our own dialog shows every button set, so this system always has the
  // task dialog.
  TDialogRequest request{AnsiToUtf8(text), AnsiToUtf8(caption), GlyphOfIconId(iconId), {}, 0};
  const std::pair<int32_t, TButtonDef> order[] = {{tdcbOk, kOk},         {tdcbYes, kYes},
                                                  {tdcbNo, kNo},         {tdcbRetry, kRetry},
                                                  {tdcbCancel, kCancel}, {tdcbClose, kClose}};
  for (const auto& [flag, def] : order)
    if ((buttons & flag) != 0) request.buttons.push_back(def);
  if (request.buttons.empty()) request.buttons.push_back(kOk);
  return RunDialog(request);
}

int32_t ShowMessageDialog(const std::string& text, const std::string& caption, uint32_t style) {
  TDialogRequest request{AnsiToUtf8(text), AnsiToUtf8(caption), GlyphOfStyle(style),
                         ButtonsOfStyle(style), 0};
  // A default button beyond the last leaves the first one the default.
  const size_t defaultIndex = (style >> 8) & 0xF;
  if (defaultIndex < request.buttons.size()) request.defaultIndex = defaultIndex;
  return RunDialog(request);
}

} // namespace platform
