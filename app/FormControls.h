#pragma once
// The controls of the update window as plain data: what each control shows,
// where it sits, whether it is visible or enabled, and which action a button
// runs. Handlers change this model; the on-screen view only mirrors it, so
// everything the window does can be checked without a display.
//
// The controls are declared once, in kControlTable (FormControls.cpp), in
// their parent-child order. Captions are held in the ANSI code page like every
// other text of the program; the table itself is written in UTF-8.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class TControlKind { ckPanel, ckLabel, ckButton, ckPicture, ckMemo, ckProgressBar };

// How a control is placed inside its parent's client area. alNone keeps its
// own left/top; the others stack the visible siblings as the form layout does.
enum class TAlign { alNone, alTop, alBottom, alClient };

// One value per control, in the order of the control table.
enum class ControlId : int {
  pnlTop,
  imgTop,
  lblFormCaption,
  imgClose,
  imgTitle,
  pnlMain,
  pnl1,
  lblPrompt1,
  btnUpdate,
  btnLater,
  mmo1,
  pnl2,
  lblPrompt2,
  lblShow,
  pbUpdate,
  pnl3,
  lblPrompt3,
  btnOK,
};
inline constexpr int kControlCount = 18;

enum class ActionId { None, acUpdate, acLater, acClose, acInstall };
inline constexpr int kActionCount = 4;

// Colours as 0xRRGGBB.
inline constexpr uint32_t kColourButtonFace = 0xF0F0F0;
inline constexpr uint32_t kColourContent = 0xE8F5FE; // 16709096 as a Windows BGR value
inline constexpr uint32_t kColourText = 0x000000;
inline constexpr uint32_t kColourRed = 0xFF0000;
inline constexpr uint32_t kColourHighlightText = 0xFFFFFF;

// A row of the control table: the control as the form resource declares it.
struct TControlDef {
  ControlId id;
  const char* name;
  TControlKind kind;
  std::optional<ControlId> parent; // empty: the window itself
  TAlign align;
  int left, top, width, height;
  const char* captionUtf8; // design-time caption, or memo text
  bool visible;
  ActionId action;
  int fontHeight;  // character height in pixels
  uint32_t colour; // background
  uint32_t textColour;
  bool wordWrap; // labels: wrap inside a fixed size
  // The font's face name, UTF-8. Systems that lack it draw with a font of
  // their own that covers Chinese.
  const char* fontFaceUtf8;
};

struct TActionDef {
  ActionId id;
  const char* name;
  const char* captionUtf8;
};

const std::array<TControlDef, kControlCount>& ControlTable();
const std::array<TActionDef, kActionCount>& ActionTable();

struct TRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const TRect&) const = default;
};

// The run-time state of one control, seeded from its table row.
struct TControl {
  const TControlDef* def = nullptr;
  std::string caption; // ANSI
  bool visible = false;
  bool enabled = true;
  std::vector<std::string> lines; // memo lines, ANSI
  ActionId action = ActionId::None;
  int position = 0; // progress bars: 0..100
};

struct TTimer {
  const char* name = "tmUpdate";
  int intervalMs = 2000;
  bool enabled = false;
};

// The window and all its controls.
class TFormControls {
public:
  static constexpr int kDesignWidth = 424;
  static constexpr int kDesignHeight = 640;

  TFormControls();

  TControl& operator[](ControlId id) { return controls_[static_cast<int>(id)]; }
  const TControl& operator[](ControlId id) const { return controls_[static_cast<int>(id)]; }
  // The control of that name; nullptr when there is none.
  const TControl* Find(const std::string& name) const;

  // Binds a button to an action; the button then carries the action's caption.
  void BindAction(ControlId button, ActionId action);
  // The caption of an action, ANSI; empty for ActionId::None.
  static std::string ActionCaption(ActionId action);

  // Place of a control in the window's client area, laid out for the current
  // client size and visibility: aligned siblings that are hidden take no room.
  TRect Bounds(ControlId id) const;
  // A panel's caption shows only while none of its child panels is visible.
  bool CaptionShows(ControlId id) const;

  std::string caption; // the window caption, ANSI
  int clientWidth = kDesignWidth;
  int clientHeight = kDesignHeight;
  TTimer tmUpdate;

private:
  TRect ClientRect(std::optional<ControlId> parent) const;

  std::array<TControl, kControlCount> controls_;
};
