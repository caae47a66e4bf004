// The preferences carried out on the setup dialog's logic: new levels reach
// the clip's record at once, the captions and the preview box follow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options/option_store.h"
#include "options/options.h"
#include "types/specs.h"
#include "ui/logic/prefer_setup.h"
#include "logic_fixture.h"

namespace tarvo::ui {
namespace {

struct SetupRecorder : SetupHooks {
  int clipLevels = 0;
  std::vector<std::string> clicks;
  void ClipLevelsChanged() override { ++clipLevels; }
  void Click(std::string_view c, Sender) override { clicks.emplace_back(c); }
};

class PreferSetupTest : public SetupLogicFixture<SetupRecorder> {
 protected:
  PreferSetupTest() {
    defaults_ = BuiltInDefaultSpecs();
    defaults_.Vblank = defaults_.Vblack = 16;
    defaults_.Vwhite = 235;
    live_ = defaults_;
    Open(100);
    // Let the first render run, so that the timer is idle.
    if (logic_->RenderBegin()) logic_->RenderPipelineDone();
    logic_->RenderEnd();
    changed_ = false;
    bridge_ = std::make_unique<SetupPreferHooks>(*logic_, hooks_, [this](bool s) { hints_.push_back(s); });
    PreferContext p{&defaults_, &options_, &preview_, store_};
    prefs_ = std::make_unique<PreferLogic>(p, bridge_.get());
    prefs_->Create();
  }

  void Type(const std::string& edit, const std::string& text) {
    prefs_->UserEditedText(edit, text);
    prefs_->EditExit(edit);
  }

  PreviewOptions preview_;
  std::unique_ptr<SetupPreferHooks> bridge_;
  std::unique_ptr<PreferLogic> prefs_;
  std::vector<bool> hints_;
};

TEST_F(PreferSetupTest, NewLevelsReachTheClipAndRefreshThePreview) {
  ASSERT_FALSE(logic_->TimerRunning());
  Type("VwhiteEdit", "200");
  EXPECT_EQ(live_.Vwhite, 200);
  EXPECT_TRUE(changed_);
  EXPECT_EQ(hooks_.clipLevels, 1);
  EXPECT_TRUE(logic_->TimerRunning());

  changed_ = false;
  prefs_->UserClicked("NTSCBlacksBox");
  EXPECT_TRUE(changed_);
  EXPECT_EQ(hooks_.clipLevels, 2);
}

TEST_F(PreferSetupTest, CaptionsHintsAndThePreviewBoxFollow) {
  ASSERT_EQ(logic_->Text("LiftGroupBox"), " Pedestal ");
  prefs_->UserClicked("PedBox");
  EXPECT_EQ(logic_->Text("LiftGroupBox"), " Lift ");
  EXPECT_EQ(logic_->Text("ColourLiftGroupBox"), " Lift ");
  prefs_->UserClicked("ShowHintsBox");
  EXPECT_EQ(hints_, (std::vector<bool>{false}));

  logic_->SetCheckBox("PreviewBox", true);
  hooks_.clicks.clear();
  Type("PrevHeightEdit", "480");
  // Hidden and shown again through the box's own click handling.
  EXPECT_EQ(hooks_.clicks, (std::vector<std::string>{"PreviewBox", "PreviewBox"}));
  EXPECT_TRUE(logic_->Checked("PreviewBox"));
  EXPECT_EQ(preview_.Height, 480);
}

}  // namespace
}  // namespace tarvo::ui
