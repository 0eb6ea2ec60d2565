// The update window on Linux: an FLTK window whose widgets mirror the form's
// control model, drawn again at once where the form asks for a repaint.
#include "app/UpdateWindow.h"

#include "app/Pictures.h"
#include "app/UpdateForm.h"
#include "app/UpdateFormTexts.h"
#include "platform/ChineseFont.h"
#include "platform/CodePage.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_JPEG_Image.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <array>
#include <memory>

namespace {

// FLTK draws a label a few pixels in from its box's edges.
constexpr double kLabelMargin = 8.0;

Fl_Color Colour(uint32_t rgb) {
  return fl_rgb_color(static_cast<uchar>(rgb >> 16), static_cast<uchar>(rgb >> 8),
                      static_cast<uchar>(rgb));
}

// A picture that reports a click through its callback.
class TPictureBox : public Fl_Box {
public:
  using Fl_Box::Fl_Box;
  int handle(int event) override {
    if (event == FL_PUSH) {
      do_callback();
      return 1;
    }
    return Fl_Box::handle(event);
  }
};

// Maps the fonts the widgets draw with to one that covers Chinese. Done once,
// before the first text is measured.
void UseChineseFont() {
  static std::string fontName; // FLTK keeps the pointer
  if (!fontName.empty()) return;
  std::string family = platform::FindChineseFontFamily();
  if (family.empty()) return; // the texts then show as boxes, but the window still works
  fontName = " " + family;    // a leading blank marks the plain style
  Fl::set_font(FL_HELVETICA, fontName.c_str());
}

std::unique_ptr<Fl_JPEG_Image> LoadPicture(const char* name, const TEmbeddedFile& file) {
  auto image = std::make_unique<Fl_JPEG_Image>(name, file.data);
  if (image->fail() || image->w() <= 0) return nullptr;
  return image;
}

class TUpdateWindow : public TFormView {
public:
  explicit TUpdateWindow(TUpdateForm& form);
  ~TUpdateWindow() override;

  void Show();
  void Repaint(std::optional<ControlId> control) override;
  void CloseWindow() override;

private:
  Fl_Widget* CreateWidget(const TControlDef& def);
  void Refresh();
  void SyncWidget(ControlId id);
  // Runs a handler of the form; an error that reaches it is shown in the
  // application's error box and leaves the window as the handler left it.
  template <class Handler> void Run(Handler handler);
  static void OnButton(Fl_Widget* widget, void* self);
  static void OnTimer(void* self);

  TUpdateForm& form_;
  std::unique_ptr<Fl_Double_Window> window_;
  std::array<Fl_Widget*, kControlCount> widgets_{};
  std::array<std::string, kControlCount> shownCaptions_; // UTF-8; FLTK keeps pointers
  std::unique_ptr<Fl_Text_Buffer> memoText_;
  std::string shownMemo_; // UTF-8, what memoText_ holds
  std::unique_ptr<Fl_JPEG_Image> titleBand_;
  std::unique_ptr<Fl_JPEG_Image> closeGlyph_;
};

TUpdateWindow::TUpdateWindow(TUpdateForm& form) : form_(form) {
  const TFormControls& c = form_.controls;
  titleBand_ = LoadPicture("title_band.jpg", kTitleBandJpeg);
  closeGlyph_ = LoadPicture("close_glyph.jpg", kCloseGlyphJpeg);
  memoText_ = std::make_unique<Fl_Text_Buffer>();

  Fl_Group::current(nullptr);
  window_ = std::make_unique<Fl_Double_Window>(c.clientWidth, c.clientHeight);
  window_->end();
  window_->copy_label(platform::AnsiToUtf8(c.caption).c_str());
  window_->border(0);
  window_->color(Colour(kColourButtonFace));
  window_->callback(
      [](Fl_Widget*, void* self) {
        // A borderless window has no close button; Escape must not close it
        // either. A close request from the window manager closes it.
        if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
        static_cast<TUpdateWindow*>(self)->form_.Close();
      },
      this);

  for (const TControlDef& def : ControlTable()) {
    Fl_Widget* w = CreateWidget(def);
    widgets_[static_cast<int>(def.id)] = w;
    Fl_Group* parent =
        def.parent ? widgets_[static_cast<int>(*def.parent)]->as_group() : window_.get();
    parent->add(w);
  }
  Refresh();
}

TUpdateWindow::~TUpdateWindow() {
  Fl::remove_timeout(&TUpdateWindow::OnTimer, this);
  form_.AttachView(nullptr);
  window_.reset(); // the widgets refer to the buffer and the pictures
}

Fl_Widget* TUpdateWindow::CreateWidget(const TControlDef& def) {
  Fl_Widget* w = nullptr;
  switch (def.kind) {
  case TControlKind::ckPanel: {
    auto* g = new Fl_Group(0, 0, def.width, def.height);
    g->end();
    g->box(FL_THIN_UP_BOX);
    g->align(FL_ALIGN_CENTER | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    w = g;
    break;
  }
  case TControlKind::ckLabel: {
    auto* b = new Fl_Box(0, 0, def.width, def.height);
    // The caption label sits on the title picture and draws no background.
    b->box(def.parent == ControlId::pnlTop ? FL_NO_BOX : FL_FLAT_BOX);
    b->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | (def.wordWrap ? FL_ALIGN_WRAP : 0));
    w = b;
    break;
  }
  case TControlKind::ckButton:
    w = new Fl_Button(0, 0, def.width, def.height);
    w->callback(&TUpdateWindow::OnButton, this);
    break;
  case TControlKind::ckPicture: {
    auto* p = new TPictureBox(0, 0, def.width, def.height);
    p->box(FL_NO_BOX);
    if (def.id == ControlId::imgTop && titleBand_) p->image(titleBand_.get());
    if (def.id == ControlId::imgClose && closeGlyph_) {
      p->image(closeGlyph_.get());
      p->callback(
          [](Fl_Widget*, void* self) {
            auto* view = static_cast<TUpdateWindow*>(self);
            view->Run([view] { view->form_.imgCloseClick(); });
          },
          this);
    }
    w = p;
    break;
  }
  case TControlKind::ckMemo: {
    auto* m = new Fl_Text_Display(0, 0, def.width, def.height);
    m->end();
    m->buffer(memoText_.get());
    m->textcolor(Colour(def.textColour));
    m->textsize(def.fontHeight);
    m->scrollbar_align(FL_ALIGN_RIGHT);
    w = m;
    break;
  }
  case TControlKind::ckProgressBar: {
    auto* p = new Fl_Progress(0, 0, def.width, def.height);
    p->minimum(0);
    p->maximum(100);
    p->selection_color(Colour(0x06B025));
    w = p;
    break;
  }
  }
  w->color(Colour(def.colour));
  w->labelcolor(Colour(def.textColour));
  w->labelsize(def.fontHeight);
  return w;
}

void TUpdateWindow::SyncWidget(ControlId id) {
  const TFormControls& model = form_.controls;
  const TControl& c = model[id];
  Fl_Widget* w = widgets_[static_cast<int>(id)];
  TRect r = model.Bounds(id);

  std::string caption;
  switch (c.def->kind) {
  case TControlKind::ckPanel:
    if (model.CaptionShows(id)) caption = platform::AnsiToUtf8(c.caption);
    break;
  case TControlKind::ckLabel:
    // Labels that do not wrap grow to their text, as the form's labels size
    // themselves: the speed text is wider than the design text it replaces.
    if (!c.def->wordWrap) {
      fl_font(w->labelfont(), w->labelsize());
      r.width =
          std::max(r.width, static_cast<int>(fl_width(platform::AnsiToUtf8(c.caption).c_str()) +
                                             kLabelMargin));
    }
    caption = platform::AnsiToUtf8(c.caption);
    break;
  case TControlKind::ckButton:
    caption = platform::AnsiToUtf8(c.caption);
    break;
  case TControlKind::ckMemo: {
    std::string text;
    for (const std::string& line : c.lines)
      text += platform::AnsiToUtf8(line) + "\n";
    if (text != shownMemo_) {
      shownMemo_ = text;
      memoText_->text(text.c_str());
    }
    break;
  }
  case TControlKind::ckProgressBar:
    static_cast<Fl_Progress*>(w)->value(static_cast<float>(c.position));
    break;
  case TControlKind::ckPicture:
    break;
  }
  w->resize(r.left, r.top, r.width, r.height);
  int index = static_cast<int>(id);
  if (caption != shownCaptions_[index] || !w->label()) {
    shownCaptions_[index] = caption;
    w->copy_label(caption.c_str());
  }

  if (c.visible)
    w->show();
  else
    w->hide();
  if (c.enabled)
    w->activate();
  else
    w->deactivate();
}

void TUpdateWindow::Refresh() {
  const TFormControls& model = form_.controls;
  if (window_->w() != model.clientWidth || window_->h() != model.clientHeight)
    window_->size(model.clientWidth, model.clientHeight);
  for (const TControlDef& def : ControlTable())
    SyncWidget(def.id);
}

void TUpdateWindow::Show() {
  int sx, sy, sw, sh;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  window_->position(sx + (sw - window_->w()) / 2, sy + (sh - window_->h()) / 2);
  window_->show();
  const TTimer& timer = form_.controls.tmUpdate;
  if (timer.enabled) Fl::add_timeout(timer.intervalMs / 1000.0, &TUpdateWindow::OnTimer, this);
}

template <class Handler> void TUpdateWindow::Run(Handler handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    form_.ReportError(e);
  }
  if (!window_->shown()) return;
  Refresh();
  window_->redraw();
}

void TUpdateWindow::OnButton(Fl_Widget* widget, void* self) {
  auto* view = static_cast<TUpdateWindow*>(self);
  for (const TControlDef& def : ControlTable()) {
    if (view->widgets_[static_cast<int>(def.id)] != widget) continue;
    const ActionId action = view->form_.controls[def.id].action;
    view->Run([view, action] { view->form_.ExecuteAction(action); });
    return;
  }
}

void TUpdateWindow::OnTimer(void* self) {
  auto* view = static_cast<TUpdateWindow*>(self);
  view->Run([view] { view->form_.tmUpdateTimer(); });
  const TTimer& timer = view->form_.controls.tmUpdate;
  if (timer.enabled && view->window_->shown())
    Fl::repeat_timeout(timer.intervalMs / 1000.0, &TUpdateWindow::OnTimer, view);
}

void TUpdateWindow::Repaint(std::optional<ControlId> control) {
  Refresh();
  if (control)
    widgets_[static_cast<int>(*control)]->redraw();
  else
    window_->redraw();
  Fl::flush();
}

void TUpdateWindow::CloseWindow() {
  window_->hide();
}

} // namespace

void RunUpdateWindow(TUpdateForm& form) {
  UseChineseFont();
  Fl::scheme("gtk+");

  TUpdateWindow view(form);
  form.AttachView(&view);
  // A close or end request made while an error box was up still counts.
  if (form.Closed() || form.EndRequested()) return;
  view.Show();
  Fl::run();
}
