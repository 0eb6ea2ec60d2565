#include "app/FormControls.h"

#include "platform/CodePage.h"

namespace {

using enum ControlId;
using enum TControlKind;
using enum TAlign;

constexpr std::optional<ControlId> kWindow;
constexpr uint32_t kFace = kColourButtonFace;
constexpr uint32_t kBlue = kColourContent;
constexpr const char* kTahoma = "Tahoma";
constexpr const char* kCaptionFont = "微软雅黑";

// The form resource, in parent-child order. Positions are left, top within the
// parent; an aligned control's left/top are what the layout gives it at the
// design size.
constexpr std::array<TControlDef, kControlCount> kControlTable{{
    // id, name, kind, parent, align, left, top, width, height, caption,
    // visible, action, font height, colour, text colour, word wrap, font
    {pnlTop, "pnlTop", ckPanel, kWindow, alTop, 0, 0, 424, 37, "", true, ActionId::None, 11, kFace,
     kColourText, false, kTahoma},
    {imgTop, "imgTop", ckPicture, pnlTop, alClient, 1, 1, 422, 35, "", true, ActionId::None, 11,
     kFace, kColourText, false, kTahoma},
    {lblFormCaption, "lblFormCaption", ckLabel, pnlTop, alNone, 42, 5, 64, 21, "在线升级", true,
     ActionId::None, 16, kFace, kColourHighlightText, false, kCaptionFont},
    {imgClose, "imgClose", ckPicture, pnlTop, alNone, 405, 7, 9, 11, "", true, ActionId::None, 11,
     kFace, kColourText, false, kTahoma},
    {imgTitle, "imgTitle", ckPicture, pnlTop, alNone, 17, 8, 32, 32, "", true, ActionId::None, 11,
     kFace, kColourText, false, kTahoma},
    {pnlMain, "pnlMain", ckPanel, kWindow, alClient, 0, 37, 424, 603,
     "出错了，重装程序可能解决问题。", true, ActionId::None, 13, kBlue, kColourText, false,
     kTahoma},
    {pnl1, "pnl1", ckPanel, pnlMain, alTop, 1, 1, 422, 232, "", false, ActionId::None, 11, kBlue,
     kColourText, false, kTahoma},
    {lblPrompt1, "lblPrompt1", ckLabel, pnl1, alNone, 54, 26, 210, 16,
     "检测到新版本，是否下载更新？", true, ActionId::None, 11, kBlue, kColourText, false, kTahoma},
    {btnUpdate, "btnUpdate", ckButton, pnl1, alNone, 229, 61, 77, 26, "立即更新", true,
     ActionId::acUpdate, 11, kFace, kColourText, false, kTahoma},
    {btnLater, "btnLater", ckButton, pnl1, alNone, 327, 61, 77, 26, "稍后再说", true,
     ActionId::acLater, 11, kFace, kColourText, false, kTahoma},
    {mmo1, "mmo1", ckMemo, pnl1, alBottom, 1, 112, 420, 119, "eqweqw", true, ActionId::None, 13,
     kBlue, kColourRed, false, kTahoma},
    {pnl2, "pnl2", ckPanel, pnlMain, alTop, 1, 1, 422, 200, "", false, ActionId::None, 11, kBlue,
     kColourText, false, kTahoma},
    {lblPrompt2, "lblPrompt2", ckLabel, pnl2, alNone, 54, 56, 110, 16, "正在检测更新. . .", true,
     ActionId::None, 11, kBlue, kColourText, false, kTahoma},
    {lblShow, "lblShow", ckLabel, pnl2, alNone, 274, 74, 60, 16, "(10K/20M)", false, ActionId::None,
     11, kBlue, kColourText, false, kTahoma},
    {pbUpdate, "pbUpdate", ckProgressBar, pnl2, alNone, 75, 96, 233, 17, "", false, ActionId::None,
     11, kFace, kColourText, false, kTahoma},
    {pnl3, "pnl3", ckPanel, pnlMain, alTop, 1, 1, 422, 200, "", false, ActionId::None, 11, kBlue,
     kColourText, false, kTahoma},
    {lblPrompt3, "lblPrompt3", ckLabel, pnl3, alNone, 54, 63, 264, 42,
     "当前已是最新版本，无需升级。", true, ActionId::None, 11, kBlue, kColourText, true, kTahoma},
    {btnOK, "btnOK", ckButton, pnl3, alNone, 233, 136, 75, 33, "确  定", true, ActionId::None, 11,
     kFace, kColourText, false, kTahoma},
}};

constexpr bool TableIsInIdOrder() {
  for (int i = 0; i < kControlCount; ++i)
    if (static_cast<int>(kControlTable[i].id) != i) return false;
  return true;
}
static_assert(TableIsInIdOrder(), "the control table must list the controls in ControlId order");

constexpr std::array<TActionDef, kActionCount> kActionTable{{
    {ActionId::acUpdate, "acUpdate", "立即更新"},
    {ActionId::acLater, "acLater", "稍后再说"},
    {ActionId::acClose, "acClose", "确定"},
    {ActionId::acInstall, "acInstall", "确定"},
}};

// Panels draw a one-pixel bevel that aligned children stay inside.
int BorderWidth(const TControlDef& def) {
  return def.kind == ckPanel ? 1 : 0;
}

} // namespace

const std::array<TControlDef, kControlCount>& ControlTable() {
  return kControlTable;
}
const std::array<TActionDef, kActionCount>& ActionTable() {
  return kActionTable;
}

TFormControls::TFormControls() : caption(platform::Utf8ToAnsi("在线升级")) {
  for (int i = 0; i < kControlCount; ++i) {
    const TControlDef& def = kControlTable[i];
    TControl& c = controls_[i];
    c.def = &def;
    c.visible = def.visible;
    c.action = def.action;
    if (def.kind == ckMemo)
      c.lines.push_back(platform::Utf8ToAnsi(def.captionUtf8));
    else
      c.caption = platform::Utf8ToAnsi(def.captionUtf8);
  }
}

const TControl* TFormControls::Find(const std::string& name) const {
  for (const TControl& c : controls_)
    if (name == c.def->name) return &c;
  return nullptr;
}

void TFormControls::BindAction(ControlId button, ActionId action) {
  TControl& c = (*this)[button];
  c.action = action;
  c.caption = ActionCaption(action);
}

std::string TFormControls::ActionCaption(ActionId action) {
  for (const TActionDef& a : kActionTable)
    if (a.id == action) return platform::Utf8ToAnsi(a.captionUtf8);
  return {};
}

TRect TFormControls::ClientRect(std::optional<ControlId> parent) const {
  if (!parent) return {0, 0, clientWidth, clientHeight};
  TRect outer = Bounds(*parent);
  int border = BorderWidth(*(*this)[*parent].def);
  return {outer.left + border, outer.top + border, outer.width - 2 * border,
          outer.height - 2 * border};
}

TRect TFormControls::Bounds(ControlId id) const {
  const TControlDef& def = *(*this)[id].def;
  if (def.align == alNone) {
    // Unaligned children are placed from the parent's outer corner.
    TRect origin = def.parent ? Bounds(*def.parent) : TRect{0, 0, clientWidth, clientHeight};
    return {origin.left + def.left, origin.top + def.top, def.width, def.height};
  }

  // Walk the visible aligned siblings in table order, as the layout does:
  // top-aligned ones stack downwards, bottom-aligned ones upwards, and a
  // client-aligned one takes what is left.
  TRect free = ClientRect(def.parent);
  for (const TControl& sibling : controls_) {
    const TControlDef& s = *sibling.def;
    if (s.parent != def.parent || s.align == alNone || s.align == alClient) continue;
    bool self = s.id == id;
    if (!sibling.visible && !self) continue;
    TRect place = free;
    switch (s.align) {
    case alTop:
      place.height = s.height;
      free.top += s.height;
      free.height -= s.height;
      break;
    case alBottom:
      place.top = free.top + free.height - s.height;
      place.height = s.height;
      free.height -= s.height;
      break;
    case alNone:
    case alClient:
      break;
    }
    if (self) return place;
  }
  return free; // alClient
}

bool TFormControls::CaptionShows(ControlId id) const {
  const TControl& panel = (*this)[id];
  if (panel.def->kind != ckPanel || panel.caption.empty()) return false;
  for (const TControl& c : controls_)
    if (c.def->parent == id && c.def->kind == ckPanel && c.visible) return false;
  return true;
}
