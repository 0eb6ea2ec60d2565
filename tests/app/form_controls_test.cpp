// The control model of the update window: the layout of aligned panels, the
// main panel's caption, and buttons bound to actions.
#include "app/FormControls.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using platform::Utf8ToAnsi;

void ShowOnly(TFormControls& c, std::optional<ControlId> panel) {
  for (ControlId p : {ControlId::pnl1, ControlId::pnl2, ControlId::pnl3})
    c[p].visible = panel && *panel == p;
}

TEST(FormControls, TableListsEachControlOnceAfterItsParent) {
  std::set<std::string> seen;
  for (const TControlDef& def : ControlTable()) {
    if (def.parent) {
      EXPECT_TRUE(seen.count(ControlTable()[static_cast<int>(*def.parent)].name))
          << def.name << " comes before its parent";
    }
    EXPECT_TRUE(seen.insert(def.name).second) << def.name << " is listed twice";
  }
  TFormControls c;
  ASSERT_NE(c.Find("lblPrompt3"), nullptr);
  EXPECT_EQ(c.Find("lblPrompt3")->def->id, ControlId::lblPrompt3);
  EXPECT_EQ(c.Find("lblPrompt4"), nullptr);
}

TEST(FormControls, AlignedControlsLandWhereTheFormPutsThem) {
  TFormControls c; // 424 x 640
  EXPECT_EQ(c.Bounds(ControlId::pnlTop), (TRect{0, 0, 424, 37}));
  EXPECT_EQ(c.Bounds(ControlId::imgTop), (TRect{1, 1, 422, 35}));
  EXPECT_EQ(c.Bounds(ControlId::imgClose), (TRect{405, 7, 9, 11}));
  EXPECT_EQ(c.Bounds(ControlId::pnlMain), (TRect{0, 37, 424, 603}));

  ShowOnly(c, ControlId::pnl1);
  EXPECT_EQ(c.Bounds(ControlId::pnl1), (TRect{1, 38, 422, 232}));
  // The memo is bottom-aligned inside the offer panel's bevel: (1, 112) there.
  EXPECT_EQ(c.Bounds(ControlId::mmo1), (TRect{2, 38 + 112, 420, 119}));
  EXPECT_EQ(c.Bounds(ControlId::btnUpdate), (TRect{1 + 229, 38 + 61, 77, 26}));
}

TEST(FormControls, VisiblePanelSitsDirectlyUnderTheTitleBand) {
  TFormControls c;
  c.clientHeight = 270;
  EXPECT_EQ(c.Bounds(ControlId::pnlMain), (TRect{0, 37, 424, 233}));
  for (ControlId p : {ControlId::pnl1, ControlId::pnl2, ControlId::pnl3}) {
    ShowOnly(c, p);
    EXPECT_EQ(c.Bounds(p).top, 38) << c[p].def->name;
  }
  ShowOnly(c, ControlId::pnl3);
  EXPECT_EQ(c.Bounds(ControlId::btnOK), (TRect{1 + 233, 38 + 136, 75, 33}));
  // Visible panels stack: one below the other.
  c[ControlId::pnl1].visible = true;
  EXPECT_EQ(c.Bounds(ControlId::pnl3).top, 38 + 232);
}

TEST(FormControls, MainPanelCaptionShowsOnlyWithoutAContentPanel) {
  TFormControls c;
  EXPECT_TRUE(c.CaptionShows(ControlId::pnlMain));
  for (ControlId p : {ControlId::pnl1, ControlId::pnl2, ControlId::pnl3}) {
    ShowOnly(c, p);
    EXPECT_FALSE(c.CaptionShows(ControlId::pnlMain)) << c[p].def->name;
  }
  ShowOnly(c, std::nullopt);
  EXPECT_TRUE(c.CaptionShows(ControlId::pnlMain));
  // The content panels have no caption of their own to show.
  EXPECT_FALSE(c.CaptionShows(ControlId::pnl2));
}

TEST(FormControls, StartsAsTheFormIsDesigned) {
  TFormControls c;
  EXPECT_EQ(c.caption, Utf8ToAnsi("在线升级"));
  EXPECT_FALSE(c.tmUpdate.enabled);
  EXPECT_EQ(c.tmUpdate.intervalMs, 2000);
  EXPECT_FALSE(c[ControlId::lblShow].visible);
  EXPECT_FALSE(c[ControlId::pbUpdate].visible);
  EXPECT_EQ(c[ControlId::mmo1].lines, std::vector<std::string>{"eqweqw"});
  EXPECT_EQ(c[ControlId::lblPrompt3].caption, Utf8ToAnsi("当前已是最新版本，无需升级。"));
}

TEST(FormControls, ButtonsCarryTheCaptionOfTheirAction) {
  TFormControls c;
  EXPECT_EQ(c[ControlId::btnUpdate].action, ActionId::acUpdate);
  EXPECT_EQ(c[ControlId::btnUpdate].caption, Utf8ToAnsi("立即更新"));
  EXPECT_EQ(c[ControlId::btnLater].caption, Utf8ToAnsi("稍后再说"));
  EXPECT_EQ(c[ControlId::btnOK].action, ActionId::None);
  EXPECT_EQ(c[ControlId::btnOK].caption, Utf8ToAnsi("确  定"));

  for (ActionId a : {ActionId::acClose, ActionId::acInstall}) {
    c.BindAction(ControlId::btnOK, a);
    EXPECT_EQ(c[ControlId::btnOK].action, a);
    EXPECT_EQ(c[ControlId::btnOK].caption, Utf8ToAnsi("确定"));
  }
  EXPECT_EQ(TFormControls::ActionCaption(ActionId::None), "");
}

} // namespace
