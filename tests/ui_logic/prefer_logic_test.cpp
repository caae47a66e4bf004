// The preferences dialog's logic: opening, the level boxes with their
// fallbacks, clamps and presets, the preview size with an open preview
// window, the option boxes, and what reaches the options store when.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options/option_store.h"
#include "options/options.h"
#include "types/specs.h"
#include "ui/logic/prefer_logic.h"
#include "logic_fixture.h"

namespace tarvo::ui {
namespace {

// Records what the dialog asks of the setup dialog.
struct Recorder : PreferHooks {
  PreviewOptions* preview = nullptr;
  int levels = 0, ntsc = 0, refreshes = 0;
  bool previewBox = false;
  std::vector<std::string> events;  // preview box changes, with the stored width at that moment
  std::vector<std::string> notices;
  std::vector<int32_t> terminology;
  std::vector<bool> hints;
  OptionStore* store = nullptr;

  void LevelsChanged() override { ++levels; }
  void NtscBlacksChanged() override { ++ntsc; }
  bool PreviewBoxTicked() override { return previewBox; }
  void SetPreviewBox(bool ticked) override {
    previewBox = ticked;
    int32_t stored = -1;
    if (store) store->ReadInteger(kKeyPreview, "Width", stored);
    events.push_back(std::string(ticked ? "show " : "hide ") + std::to_string(preview->Width) + " stored " +
                     std::to_string(stored));
  }
  void HintsChanged(bool show) override { hints.push_back(show); }
  void TerminologyChanged(int32_t us) override { terminology.push_back(us); }
  void RefreshPreview() override { ++refreshes; }
  void Notice(std::string_view t) override { notices.emplace_back(t); }
};

class PreferLogicTest : public ::testing::Test {
 protected:
  PreferLogicTest() {
    defaults_ = BuiltInDefaultSpecs();
    defaults_.Vblank = 0;
    defaults_.Vblack = 0;
    defaults_.Vwhite = 255;
    options_.SceneFile = "/home/ann/SCENES.KVS";
    options_.DefaultPage = 1;
    hooks_.preview = &preview_;
    hooks_.store = &store_;
  }

  PreferLogic& Open(OptionStore* store = nullptr) {
    PreferContext c;
    c.defaults = &defaults_;
    c.options = &options_;
    c.preview = &preview_;
    c.store = store ? store : &store_;
    logic_ = std::make_unique<PreferLogic>(c, &hooks_);
    logic_->Create();
    return *logic_;
  }

  // Types `text` into a box and leaves it.
  void Type(const std::string& edit, const std::string& text) {
    logic_->UserEditedText(edit, text);
    logic_->EditExit(edit);
  }
  // Types `text` into a box and presses Enter.
  void TypeEnter(const std::string& edit, const std::string& text) {
    logic_->UserEditedText(edit, text);
    EXPECT_TRUE(logic_->EditKeyPress(edit, '\r'));
  }

  int32_t Stored(const char* key, const char* name) {
    int32_t v = -12345;
    store_.ReadInteger(key, name, v);
    return v;
  }

  TSpecs defaults_{};
  Options options_;
  PreviewOptions preview_;
  MemoryOptionStore store_;
  Recorder hooks_;
  std::unique_ptr<PreferLogic> logic_;
};

TEST_F(PreferLogicTest, OpeningDerivesTheBlackPresetAndChangesNothing) {
  PreferLogic& p = Open();
  EXPECT_TRUE(p.Checked("BlackBlankButton"));
  EXPECT_FALSE(p.State("VblackEdit").enabled);
  EXPECT_EQ(p.Text("VblankEdit"), "0");
  EXPECT_EQ(p.Text("VblackEdit"), "0");
  EXPECT_EQ(p.Text("VwhiteEdit"), "255");

  // rnd(0 + 255 x 0.075) = rnd(19.125) = 19.
  defaults_.Vblack = 19;
  options_.NTSCBlacks = 0;
  options_.UseMasters = 1;
  options_.USTerminology = 0;
  options_.DefaultPage = 4;
  preview_.Persistent = 1;
  preview_.Width = 640;
  PreferLogic& q = Open();
  EXPECT_TRUE(q.Checked("BlackNTSCButton"));
  EXPECT_FALSE(q.Checked("BlackBlankButton"));
  EXPECT_FALSE(q.State("VblackEdit").enabled);
  EXPECT_EQ(q.Text("VblackEdit"), "19");
  EXPECT_TRUE(q.Checked("UseMastersBox"));
  EXPECT_TRUE(q.Checked("PrevPersistentBox"));
  EXPECT_TRUE(q.Checked("ShowHintsBox"));
  EXPECT_FALSE(q.Checked("PedBox"));
  EXPECT_EQ(q.State("PageBox").itemIndex, 4);
  EXPECT_EQ(q.Text("PrevWidthEdit"), "640");
  EXPECT_EQ(q.Text("PrevHeightEdit"), "240");
  EXPECT_EQ(q.Text("SceneFileEdit"), "/home/ann/SCENES.KVS");
  // The preset checked by the dialog itself leaves the datum option alone.
  EXPECT_FALSE(q.Checked("NTSCBlacksBox"));
  EXPECT_EQ(options_.NTSCBlacks, 0);
  EXPECT_EQ(defaults_.Vblack, 19);

  defaults_.Vblack = 25;
  options_.NTSCBlacks = 1;
  PreferLogic& r = Open();
  EXPECT_TRUE(r.Checked("BlackCustomButton"));
  EXPECT_TRUE(r.State("VblackEdit").enabled);
  EXPECT_TRUE(r.Checked("NTSCBlacksBox"));
  EXPECT_EQ(options_.NTSCBlacks, 1);

  EXPECT_EQ(store_.WriteCount(), 0);
  EXPECT_EQ(hooks_.levels, 0);
  EXPECT_EQ(hooks_.ntsc, 0);
  EXPECT_TRUE(hooks_.events.empty());
  EXPECT_FALSE(r.OptionsChanged());
}

TEST_F(PreferLogicTest, NtscPresetPutsBlackAt7Point5IreAndTicksTheDatum) {
  defaults_.Vblank = 16;
  defaults_.Vblack = 16;
  defaults_.Vwhite = 235;
  PreferLogic& p = Open();
  p.UserClicked("BlackNTSCButton");
  // rnd(16 + 219 x 0.075) = rnd(32.425) = 32.
  EXPECT_EQ(defaults_.Vblack, 32);
  EXPECT_EQ(p.Text("VblackEdit"), "32");
  EXPECT_FALSE(p.State("VblackEdit").enabled);
  EXPECT_TRUE(p.Checked("NTSCBlacksBox"));
  EXPECT_EQ(options_.NTSCBlacks, 1);
  EXPECT_EQ(hooks_.levels, 1);
  EXPECT_EQ(hooks_.ntsc, 1);
  // The levels and the datum reach the store with the next write only.
  EXPECT_EQ(store_.WriteCount(), 0);

  // The preset follows a new white: rnd(16 + 184 x 0.075) = rnd(29.8) = 30.
  TypeEnter("VwhiteEdit", "200");
  EXPECT_EQ(defaults_.Vwhite, 200);
  EXPECT_EQ(defaults_.Vblack, 30);
  EXPECT_EQ(p.Text("VblackEdit"), "30");

  // Back to the blanking preset: black follows, the datum is unticked.
  p.UserClicked("BlackBlankButton");
  EXPECT_EQ(defaults_.Vblack, 16);
  EXPECT_EQ(p.Text("VblackEdit"), "16");
  EXPECT_FALSE(p.Checked("NTSCBlacksBox"));
  EXPECT_EQ(options_.NTSCBlacks, 0);

  p.Ok();
  EXPECT_EQ(Stored(kKeyLevels, "Vblank"), 16);
  EXPECT_EQ(Stored(kKeyLevels, "Vblack"), 16);
  EXPECT_EQ(Stored(kKeyLevels, "Vwhite"), 200);
  EXPECT_EQ(Stored(kKeyLevels, "NTSCBlacks"), 0);
  EXPECT_EQ(hooks_.refreshes, 1);
  EXPECT_TRUE(p.OptionsChanged());
}

TEST_F(PreferLogicTest, LevelBoxesClampAndFallBack) {
  defaults_.Vblank = 16;
  defaults_.Vblack = 32;
  defaults_.Vwhite = 200;
  PreferLogic& p = Open();
  ASSERT_TRUE(p.Checked("BlackCustomButton"));

  TypeEnter("VwhiteEdit", "300");
  EXPECT_EQ(defaults_.Vwhite, 255);
  EXPECT_EQ(p.Text("VwhiteEdit"), "255");
  // White below black is raised to black.
  Type("VwhiteEdit", "10");
  EXPECT_EQ(defaults_.Vwhite, 32);
  EXPECT_EQ(p.Text("VwhiteEdit"), "32");
  Type("VwhiteEdit", "235");

  // Letters read as 0, raised to the blanking level.
  Type("VblackEdit", "abc");
  EXPECT_EQ(defaults_.Vblack, 16);
  EXPECT_EQ(p.Text("VblackEdit"), "16");
  // Black above white is lowered to white.
  Type("VblackEdit", "250");
  EXPECT_EQ(defaults_.Vblack, 235);

  // Raising blanking above a custom black raises black with it.
  Type("VblackEdit", "16");
  Type("VblankEdit", "20");
  EXPECT_EQ(defaults_.Vblank, 20);
  EXPECT_EQ(defaults_.Vblack, 20);
  EXPECT_EQ(p.Text("VblackEdit"), "20");
  // Lowering it leaves a custom black where it is.
  Type("VblankEdit", "-5");
  EXPECT_EQ(defaults_.Vblank, 0);
  EXPECT_EQ(p.Text("VblankEdit"), "0");
  EXPECT_EQ(defaults_.Vblack, 20);
}

TEST_F(PreferLogicTest, BlankingPresetMovesBlackWithBlanking) {
  PreferLogic& p = Open();
  Type("VblankEdit", " 16 ");
  EXPECT_EQ(defaults_.Vblank, 16);
  EXPECT_EQ(defaults_.Vblack, 16);
  EXPECT_EQ(p.Text("VblankEdit"), "16");
  EXPECT_EQ(p.Text("VblackEdit"), "16");
  EXPECT_EQ(hooks_.levels, 1);
  // Leaving a box with the same value changes nothing.
  Type("VblankEdit", "16");
  EXPECT_EQ(hooks_.levels, 1);
}

TEST_F(PreferLogicTest, EnterIsConsumedOnlyByNumberBoxes) {
  PreferLogic& p = Open();
  p.UserEditedText("VwhiteEdit", "240");
  EXPECT_TRUE(p.EditKeyPress("VwhiteEdit", '\r'));
  EXPECT_EQ(defaults_.Vwhite, 240);
  EXPECT_FALSE(p.EditKeyPress("VwhiteEdit", '7'));
  EXPECT_FALSE(p.EditKeyPress("SceneFileEdit", '\r'));
}

TEST_F(PreferLogicTest, PreviewSizeIsLimitedAndReopensAnOpenPreview) {
  PreferLogic& p = Open();
  Type("PrevWidthEdit", "10");
  EXPECT_EQ(preview_.Width, 32);
  EXPECT_EQ(p.Text("PrevWidthEdit"), "32");
  EXPECT_EQ(Stored(kKeyPreview, "Width"), 32);
  EXPECT_TRUE(hooks_.events.empty());  // the preview was not open

  hooks_.previewBox = true;
  TypeEnter("PrevWidthEdit", "9000");
  EXPECT_EQ(preview_.Width, 4096);
  EXPECT_EQ(p.Text("PrevWidthEdit"), "4096");
  // Closed at the old size, reopened at the new one after it was stored.
  EXPECT_EQ(hooks_.events, (std::vector<std::string>{"hide 32 stored 32", "show 4096 stored 4096"}));
  EXPECT_TRUE(hooks_.previewBox);

  Type("PrevHeightEdit", "100");
  EXPECT_EQ(preview_.Height, 100);
  EXPECT_EQ(Stored(kKeyPreview, "Height"), 100);
}

TEST_F(PreferLogicTest, LettersInASizeBoxReadAs240) {
  PreferLogic& p = Open();
  ASSERT_EQ(preview_.Width, 320);
  Type("PrevWidthEdit", "wide");
  EXPECT_EQ(preview_.Width, 240);
  EXPECT_EQ(p.Text("PrevWidthEdit"), "240");
  const int writes = store_.WriteCount();
  hooks_.previewBox = true;
  // Already 240: nothing happens and the box keeps the letters.
  Type("PrevWidthEdit", "narrow");
  EXPECT_EQ(p.Text("PrevWidthEdit"), "narrow");
  EXPECT_EQ(store_.WriteCount(), writes);
  EXPECT_TRUE(hooks_.events.empty());
}

TEST_F(PreferLogicTest, OptionBoxesActForTheUserAndWriteAtOnce) {
  PreferLogic& p = Open();
  // From code: nothing.
  p.SetCheckBox("PrevPersistentBox", true);
  p.SetCheckBox("UseMastersBox", true);
  p.SetCheckBox("ShowHintsBox", false);
  p.SetCheckBox("PedBox", false);
  EXPECT_EQ(store_.WriteCount(), 0);
  EXPECT_EQ(preview_.Persistent, 0);
  EXPECT_EQ(options_.UseMasters, 0);
  EXPECT_EQ(options_.ShowHints, 1);
  EXPECT_EQ(options_.USTerminology, 1);

  PreferLogic& q = Open();
  q.UserClicked("PrevPersistentBox");
  EXPECT_EQ(preview_.Persistent, 1);
  EXPECT_EQ(Stored(kKeyPreview, "Persistent"), 1);
  q.UserClicked("UseMastersBox");
  EXPECT_EQ(Stored(kKeyOptions, "UseMasters"), 1);
  q.UserClicked("ShowHintsBox");
  EXPECT_EQ(Stored(kKeyOptions, "ShowHints"), 0);
  EXPECT_FALSE(q.ShowHints());
  EXPECT_EQ(hooks_.hints, (std::vector<bool>{false}));
  q.UserClicked("PedBox");
  EXPECT_EQ(options_.USTerminology, 0);
  EXPECT_EQ(Stored(kKeyOptions, "USTerminology"), 0);
  EXPECT_EQ(hooks_.terminology, (std::vector<int32_t>{0}));
  q.UserSelected("PageBox", 6);
  EXPECT_EQ(options_.DefaultPage, 6);
  EXPECT_EQ(Stored(kKeyOptions, "DefaultPage"), 6);
  Type("SceneFileEdit", "/srv/scenes/SHARED.KVS");
  EXPECT_EQ(options_.SceneFile, "/srv/scenes/SHARED.KVS");
  std::string file;
  store_.ReadString(kKeyOptions, "SceneFile", file);
  EXPECT_EQ(file, "/srv/scenes/SHARED.KVS");
  EXPECT_TRUE(q.OptionsChanged());
}

TEST_F(PreferLogicTest, UpdateSysRegWritesTheWholeSet) {
  defaults_.Vblank = 16;
  defaults_.Vblack = 16;
  defaults_.Vwhite = 235;
  options_.NTSCBlacks = 1;
  preview_ = PreviewOptions{1, 1, 400, 300, 50, 60};
  PreferLogic& p = Open();
  p.Ok();
  EXPECT_EQ(Stored(kKeyLevels, "Vblank"), 16);
  EXPECT_EQ(Stored(kKeyLevels, "Vblack"), 16);
  EXPECT_EQ(Stored(kKeyLevels, "Vwhite"), 235);
  EXPECT_EQ(Stored(kKeyLevels, "NTSCBlacks"), 1);
  EXPECT_EQ(Stored(kKeyPreview, "Persistent"), 1);
  EXPECT_EQ(Stored(kKeyPreview, "Visible"), 1);
  EXPECT_EQ(Stored(kKeyPreview, "Width"), 400);
  EXPECT_EQ(Stored(kKeyPreview, "Height"), 300);
  EXPECT_EQ(Stored(kKeyPreview, "Top"), 50);
  EXPECT_EQ(Stored(kKeyPreview, "Left"), 60);
  EXPECT_EQ(Stored(kKeyOptions, "ShowHints"), 1);
  EXPECT_EQ(Stored(kKeyOptions, "UseMasters"), 0);
  EXPECT_EQ(Stored(kKeyOptions, "DefaultPage"), 1);
  EXPECT_EQ(Stored(kKeyOptions, "USTerminology"), 1);
  std::string file;
  EXPECT_EQ(store_.ReadString(kKeyOptions, "SceneFile", file), ValueStatus::Present);
  EXPECT_EQ(file, "/home/ann/SCENES.KVS");
  EXPECT_TRUE(hooks_.notices.empty());
  // Nothing else: the processing, clipping and default-scene values belong
  // to other writers.
  int32_t v;
  EXPECT_EQ(store_.ReadInteger(kKeyClipping, "Vmin", v), ValueStatus::Missing);
  EXPECT_EQ(store_.ReadInteger(kKeyProcessing, "ProcMode", v), ValueStatus::Missing);
}

TEST_F(PreferLogicTest, AStoreThatCannotWriteIsReported) {
  FailingStore failing;
  PreferLogic& p = Open(&failing);
  p.UserClicked("UseMastersBox");
  EXPECT_EQ(options_.UseMasters, 1);  // applies while loaded
  ASSERT_EQ(hooks_.notices.size(), 1u);
}

}  // namespace
}  // namespace tarvo::ui
