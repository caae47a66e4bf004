// The dialog's commands without a window: the Scenes page (choosing, saving,
// deleting, the default scene, master and independent links, the scene file
// at close), revert and reset at their three scopes with Set Defaults, and
// the picture-click balance keys and click.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "options/option_store.h"
#include "options/options.h"
#include "scenes/collator.h"
#include "scenes/scene_list.h"
#include "types/specs.h"
#include "ui/confirmer.h"
#include "ui/logic/balance_click.h"
#include "ui/logic/revert_reset.h"
#include "ui/logic/scene_page.h"
#include "ui/logic/setup_logic.h"
#include "logic_fixture.h"
#include "support/temp_dir.h"

namespace tarvo::ui {
namespace {

namespace fs = std::filesystem;

struct Recorder : SetupHooks {
  int timerStarts = 0;
  std::vector<std::string> messages, notices, frameBarChanges;
  void StartTimer() override { ++timerStarts; }
  void ShowMessage(std::string_view t) override { messages.emplace_back(t); }
  void Notice(std::string_view t) override { notices.emplace_back(t); }
  void FrameBarChange(Sender s) override { frameBarChanges.emplace_back(s.control); }
};

struct Answer : Confirmer {
  bool yes = true;
  std::vector<std::string> asked;
  bool Confirm(const std::string& q) override {
    asked.push_back(q);
    return yes;
  }
};

class DialogCommandsTest : public SetupLogicFixture<Recorder> {
 protected:
  DialogCommandsTest() {
    defaults_ = BuiltInDefaultSpecs();
    defaults_.Vblack = 16;
    defaults_.Vwhite = 235;
    live_ = defaults_;
    live_.PageIndex = 1;
    live_.LastPart = 120;
    scenes_ = std::make_unique<TSceneList>(collator_);
    // The list as a bound list holds it: "<none>", then the scenes.
    AddScene("Evening", [](TSpecs& s) { s.Knee = 40; });
    AddScene("Morning", [](TSpecs& s) {
      s.Knee = 70;
      s.Lift = 12;
      s.MedianWhen = 1;
      s.PageIndex = 3;
    });
  }

  template <class F>
  void AddScene(const std::string& name, F edit) {
    auto scene = std::make_unique<TScene>();
    scene->Specs = defaults_;
    edit(scene->Specs);
    SetSceneName(scene->Specs, name);
    scenes_->Add(name, std::move(scene));
  }

  // Opens as the setup call does, makes the page and command objects, lets
  // the first render run and clears what opening did.
  SetupLogic& Open() {
    SetupLogicFixture::Open(250);
    page_ = std::make_unique<ScenePage>(*logic_, hooks_, answer_, [this](const std::string& prefill) {
      prefills_.push_back(prefill);
      return typed_;
    });
    commands_ = std::make_unique<RevertReset>(*logic_, hooks_, answer_, &defaults_, store_);
    balance_ = std::make_unique<BalanceClicks>(*logic_, hooks_, [this](int slot) { cursor_ = slot; });
    Render();
    hooks_ = Recorder{};
    changed_ = false;
    return *logic_;
  }

  void Render() {
    if (logic_->RenderBegin()) {
      logic_->RenderPipelineDone();
      logic_->RenderEnd();
    }
  }

  // The user clicks a radio button of the Scenes page; the form passes the
  // click to the page.
  void ClickRadio(std::string_view radio) {
    logic_->UserClicked(radio);
    if (radio == "UseMasterButton") page_->UseMasterClick();
    if (radio == "UseIndividualButton") page_->UseIndividualClick();
  }

  Answer answer_;
  std::optional<std::string> typed_;
  std::vector<std::string> prefills_;
  int cursor_ = 87;
  std::unique_ptr<ScenePage> page_;
  std::unique_ptr<RevertReset> commands_;
  std::unique_ptr<BalanceClicks> balance_;
};

// ---- Scenes page ----

TEST_F(DialogCommandsTest, SavingUnderANameThatDiffersInCaseReplacesTheSceneAndKeepsTheEntry) {
  live_.PageIndex = 4;
  live_.Knee = 55;
  options_.UseMasters = 1;
  SetupLogic& d = Open();
  typed_ = "  evening \t";
  page_->SaveAs();
  ASSERT_EQ(prefills_, std::vector<std::string>{"<none>"});
  ASSERT_EQ(scenes_->Count(), 3);
  const int at = scenes_->IndexOf("Evening");
  EXPECT_EQ(scenes_->Name(at), "Evening");
  const TSpecs& saved = scenes_->Scene(at)->Specs;
  EXPECT_EQ(SceneNameOf(saved), "evening");
  EXPECT_EQ(saved.Knee, 55);
  EXPECT_EQ(saved.PageIndex, 0) << "a scene opens on the Scenes page";
  EXPECT_EQ(SceneNameOf(live_), "evening");
  EXPECT_EQ(live_.UseMaster, 1);
  EXPECT_EQ(sceneIndex_, at);
  EXPECT_EQ(d.State("SceneBox").itemIndex, at);
  EXPECT_TRUE(d.Checked("UseMasterButton"));
  EXPECT_TRUE(scenesDirty_);
  EXPECT_EQ(saved.UseMaster, 0) << "the scene holds the clip's values as they were when it was saved";
}

TEST_F(DialogCommandsTest, SavedNamesAreTrimmedAndCutAndCancelChangesNothing) {
  SetupLogic& d = Open();
  typed_.reset();
  page_->SaveAs();
  EXPECT_EQ(scenes_->Count(), 3);
  EXPECT_FALSE(scenesDirty_);
  typed_ = " Night Shot With A Very Long Name Indeed ";
  page_->SaveAs();
  ASSERT_EQ(scenes_->Count(), 4);
  EXPECT_EQ(SceneNameOf(live_), "Night Shot With A Very Long Nam");
  EXPECT_EQ(scenes_->IndexOf("Night Shot With A Very Long Nam"), sceneIndex_);
  EXPECT_EQ(live_.UseMaster, 0) << "UseMasters 0: the clip does not follow the scene";
  EXPECT_TRUE(d.Checked("UseIndividualButton"));
}

TEST_F(DialogCommandsTest, ChoosingAScene) {
  live_.FramePos = 33;
  SetupLogic& d = Open();
  // UseMasters 0: the scene is loaded once.
  page_->SceneBoxChange(2);
  EXPECT_EQ(live_.Knee, 70);
  EXPECT_EQ(live_.FramePos, 33) << "the clip keeps its frame";
  EXPECT_EQ(live_.UseMaster, 0);
  EXPECT_EQ(sceneIndex_, 2);
  EXPECT_EQ(d.Position("KneeBar"), 70);
  EXPECT_GT(hooks_.timerStarts, 0);
  // UseMasters 1: the clip follows it.
  options_.UseMasters = 1;
  page_->SceneBoxChange(1);
  EXPECT_EQ(live_.Knee, 40);
  EXPECT_EQ(live_.UseMaster, 1);
  EXPECT_TRUE(d.Checked("UseMasterButton"));
  // "<none>": every setting stays, the link goes.
  const TSpecs before = live_;
  page_->SceneBoxChange(0);
  EXPECT_TRUE(SpecsEqual(live_, before));
  EXPECT_EQ(live_.Knee, 40);
  EXPECT_EQ(live_.UseMaster, 0);
  EXPECT_EQ(sceneIndex_, 0);
  EXPECT_TRUE(d.Checked("UseIndividualButton"));
}

TEST_F(DialogCommandsTest, DeletingAsksAndOnlyYesDeletes) {
  options_.DefaultScene = "Morning";
  SetupLogic& d = Open();
  page_->SceneBoxChange(0);
  page_->Delete();
  EXPECT_EQ(hooks_.messages, std::vector<std::string>{"Cannot delete scene \"<none>\""});
  EXPECT_TRUE(answer_.asked.empty());

  page_->SceneBoxChange(2);
  const TSpecs loaded = live_;
  answer_.yes = false;
  page_->Delete();
  ASSERT_EQ(answer_.asked, std::vector<std::string>{"Are you sure you want to delete scene \r \"Morning\" ?"});
  EXPECT_EQ(scenes_->Count(), 3);
  EXPECT_EQ(sceneIndex_, 2);
  EXPECT_FALSE(scenesDirty_);

  answer_.yes = true;
  page_->Delete();
  EXPECT_EQ(scenes_->Count(), 2);
  EXPECT_EQ(scenes_->IndexOf("Morning"), -1);
  EXPECT_EQ(d.State("SceneBox").items, (std::vector<std::string>{"<none>", "Evening"}));
  EXPECT_EQ(d.State("SceneBox").itemIndex, 0);
  EXPECT_EQ(sceneIndex_, 0);
  EXPECT_EQ(live_.UseMaster, 0);
  EXPECT_TRUE(scenesDirty_);
  EXPECT_TRUE(SpecsEqual(live_, loaded)) << "the clip keeps its settings";
  EXPECT_EQ(options_.DefaultScene, "Morning") << "the default scene option is left alone";
}

TEST_F(DialogCommandsTest, SetDefaultStoresTheChosenSceneAtOnce) {
  SetupLogic& d = Open();
  page_->SceneBoxChange(1);
  page_->SetDefault();
  std::string stored;
  ASSERT_EQ(memoryStore_.ReadString(kKeyOptions, "DefaultScene", stored), ValueStatus::Present);
  EXPECT_EQ(stored, "Evening");
  EXPECT_EQ(options_.DefaultScene, "Evening");
  EXPECT_EQ(d.Text("DefaultSceneLabel"), "Evening");
  page_->SceneBoxChange(0);
  page_->SetDefault();
  ASSERT_EQ(memoryStore_.ReadString(kKeyOptions, "DefaultScene", stored), ValueStatus::Present);
  EXPECT_EQ(stored, "<none>");
}

TEST_F(DialogCommandsTest, MakingTheClipsSceneItsMaster) {
  SetupLogic& d = Open();
  // No scene named: refused.
  ClickRadio("UseMasterButton");
  EXPECT_EQ(hooks_.messages, std::vector<std::string>{"Cannot make scene \"<none>\" master - choose a scene first"});
  EXPECT_TRUE(d.Checked("UseIndividualButton"));

  // Loaded once, then changed: the user is asked; No keeps the clip.
  page_->SceneBoxChange(2);
  d.UserMovedBar("KneeBar", 20);
  Render();
  ASSERT_EQ(live_.Knee, 20);
  answer_.yes = false;
  ClickRadio("UseMasterButton");
  ASSERT_EQ(answer_.asked.size(), 1u);
  EXPECT_EQ(answer_.asked[0],
            "Do you wish to replace the current clip settings with those of the saved scene\r \"Morning\" ?");
  EXPECT_EQ(live_.Knee, 20);
  EXPECT_EQ(live_.UseMaster, 0);
  EXPECT_TRUE(d.Checked("UseIndividualButton"));

  // Yes: the scene's settings, followed as master.
  answer_.yes = true;
  ClickRadio("UseMasterButton");
  EXPECT_EQ(live_.Knee, 70);
  EXPECT_EQ(live_.UseMaster, 1);
  EXPECT_EQ(sceneIndex_, 2);
  EXPECT_TRUE(d.Checked("UseMasterButton"));

  // Independent again: the link goes, the settings and the name stay.
  ClickRadio("UseIndividualButton");
  EXPECT_EQ(sceneIndex_, 0);
  EXPECT_EQ(live_.UseMaster, 0);
  EXPECT_EQ(live_.Knee, 70);
  EXPECT_EQ(SceneNameOf(live_), "Morning");
  EXPECT_EQ(d.State("SceneBox").itemIndex, 0);
  // Equal settings: no question.
  answer_.asked.clear();
  ClickRadio("UseMasterButton");
  EXPECT_TRUE(answer_.asked.empty());
  EXPECT_EQ(live_.UseMaster, 1);
}

TEST_F(DialogCommandsTest, AMasterThatIsGoneCannotBeFollowed) {
  live_.Knee = 66;
  SetSceneName(live_, "Deleted Long Ago");
  SetupLogic& d = Open();
  const TSpecs before = live_;
  ClickRadio("UseMasterButton");
  EXPECT_EQ(hooks_.messages, std::vector<std::string>{"The master scene referenced by this clip cannot be found."});
  EXPECT_TRUE(d.Checked("UseIndividualButton"));
  EXPECT_FALSE(d.Checked("UseMasterButton"));
  EXPECT_EQ(std::memcmp(&live_, &before, sizeof(TSpecs)), 0);
  EXPECT_EQ(sceneIndex_, 0);
  EXPECT_TRUE(answer_.asked.empty());
}

TEST_F(DialogCommandsTest, CheckingTheRadioButtonsFromCodeDoesNotRunTheirCommands) {
  options_.UseMasters = 1;
  SetupLogic& d = Open();
  page_->SceneBoxChange(1);  // checks UseMasterButton from code
  page_->UseMasterClick();   // the form forwards that click; the focus is on the list
  page_->UseIndividualClick();
  EXPECT_TRUE(hooks_.messages.empty());
  EXPECT_EQ(sceneIndex_, 1);
  EXPECT_EQ(live_.UseMaster, 1);
  EXPECT_TRUE(d.Checked("UseMasterButton"));
}

TEST_F(DialogCommandsTest, AChangeThenAPageSwitchUnlinksAndNoChangeKeepsTheLink) {
  options_.UseMasters = 1;
  SetupLogic& d = Open();
  page_->SceneBoxChange(1);
  Render();
  d.PageChanging();
  d.PageChanged("LevelsSheet");
  Render();
  EXPECT_EQ(sceneIndex_, 1);
  EXPECT_EQ(live_.UseMaster, 1);
  d.UserMovedBar("LiftBar", 9);
  Render();
  d.PageChanging();
  d.PageChanged("ColourSheet");
  EXPECT_EQ(sceneIndex_, 0);
  EXPECT_EQ(live_.UseMaster, 0);
  EXPECT_TRUE(d.Checked("UseIndividualButton"));
  EXPECT_EQ(d.State("SceneBox").itemIndex, 0);
}

TEST_F(DialogCommandsTest, AFailedSceneFileWriteIsReportedAndLosesNothing) {
  test::TempDir dir;
  const fs::path folder = fs::path(dir.path()) / "scenes";
  const std::string file = (folder / "SCENES.KVS").string();
  ASSERT_TRUE(scenes_->SetFileName(file));  // missing: nothing read
  AddScene("Evening", [](TSpecs& s) { s.Knee = 40; });
  Open();
  typed_ = "Dusk";
  page_->SaveAs();
  ASSERT_TRUE(scenesDirty_);
  EXPECT_FALSE(page_->SaveAtClose()) << "the folder is missing";
  ASSERT_EQ(hooks_.messages.size(), 1u);
  EXPECT_NE(hooks_.messages[0].find("could not be saved"), std::string::npos) << hooks_.messages[0];
  EXPECT_TRUE(scenesDirty_);
  EXPECT_GE(scenes_->IndexOf("Dusk"), 1);
  // Once the folder is there, the next close writes every scene.
  fs::create_directory(folder);
  EXPECT_TRUE(page_->SaveAtClose());
  EXPECT_FALSE(scenesDirty_);
  EXPECT_EQ(fs::file_size(file), 3u * 256u);
  // Nothing dirty: nothing written.
  fs::remove(file);
  EXPECT_TRUE(page_->SaveAtClose());
  EXPECT_FALSE(fs::exists(file));
}

// ---- Revert and reset ----

TEST_F(DialogCommandsTest, RevertingTheKneeReturnsToTheOpeningValue) {
  live_.Knee = 25;
  SetupLogic& d = Open();
  d.UserMovedBar("KneeBar", 80);
  d.SetFocusedControl("KneeBar");
  const int starts = hooks_.timerStarts;
  Render();
  commands_->RevertControl(By("Revert1"));
  EXPECT_EQ(d.Position("KneeBar"), 25);
  EXPECT_EQ(d.Text("KneeLabel"), "25");
  EXPECT_GT(hooks_.timerStarts, starts);
  Render();
  EXPECT_EQ(live_.Knee, 25);
}

TEST_F(DialogCommandsTest, AfterLoadingASceneSlidersRevertToTheSceneAndBoxesToTheOpeningRecord) {
  SetupLogic& d = Open();
  page_->SceneBoxChange(2);  // Knee 70, MedianWhen 1
  d.UserMovedBar("KneeBar", 5);
  commands_->RevertControl(By("Revert1"));
  EXPECT_EQ(d.Position("KneeBar"), 70);
  d.SetFocusedControl("MedianBeforeBox");
  ASSERT_TRUE(d.Checked("MedianBeforeBox"));
  commands_->RevertControl(By("Revert1"));
  EXPECT_FALSE(d.Checked("MedianBeforeBox"));
}

TEST_F(DialogCommandsTest, GainRevertsThroughItsMultiplier) {
  const struct {
    int16_t gain;
    const char* radio;
    int position;
  } cases[] = {{300, "GainX2", 150}, {201, "GainX2", 100}, {203, "GainX2", 102}, {200, "GainX1", 200},
               {800, "GainX4", 200}, {401, "GainX4", 100}};
  for (const auto& c : cases) {
    live_.Gain = c.gain;
    SetupLogic& d = Open();
    d.UserClicked("GainX1");
    d.UserMovedBar("GainBar", 17);
    d.SetFocusedControl("GainX1");
    commands_->RevertControl(By("Revert1"));
    EXPECT_TRUE(d.Checked(c.radio)) << c.gain;
    EXPECT_EQ(d.Position("GainBar"), c.position) << c.gain;
  }
}

TEST_F(DialogCommandsTest, ResetOnTheTimesFourButtonGivesUnityGain) {
  live_.Gain = 600;
  SetupLogic& d = Open();
  d.UserClicked("GainX4");
  commands_->ResetControl(By("Reset1"));
  EXPECT_EQ(d.Position("GainBar"), 100);
  EXPECT_TRUE(d.Checked("GainX1"));
  Render();
  EXPECT_EQ(live_.Gain, 100);
}

TEST_F(DialogCommandsTest, ResetPageOnTheScenesPageOnlyRequestsARender) {
  live_.PageIndex = 0;
  live_.Knee = 30;
  live_.Vmin = 20;
  live_.TestSignal = 3;
  SetupLogic& d = Open();
  const TSpecs before = live_;
  commands_->ResetPage(By("Reset2"));
  EXPECT_EQ(hooks_.timerStarts, 1);
  Render();
  EXPECT_EQ(std::memcmp(&live_, &before, sizeof(TSpecs)), 0);
  EXPECT_EQ(d.Position("KneeBar"), 30);
}

TEST_F(DialogCommandsTest, ResetAllResetsEveryPageAndTheFrameBarRevertAllLeavesTheFrame) {
  live_.Knee = 30;
  live_.RGain = 150;
  live_.TempFlags = 3;
  live_.MedianWhen = 3;
  live_.NoiseMaskYOnly = 0;
  live_.Vmin = 20;
  live_.TestSignal = 5;
  live_.FramePos = 10;
  live_.Gain = 300;
  defaults_.Vmin = 4;
  SetupLogic& d = Open();
  d.UserMovedBar("FrameBar", 77);
  hooks_.frameBarChanges.clear();
  commands_->RevertAll(By("Revert3"));
  EXPECT_EQ(d.Position("FrameBar"), 77);
  EXPECT_TRUE(hooks_.frameBarChanges.empty());
  EXPECT_FALSE(commands_->AllPages());

  commands_->ResetAll(By("Reset3"));
  EXPECT_FALSE(commands_->AllPages());
  EXPECT_EQ(d.Position("FrameBar"), 120) << "the host's frame";
  EXPECT_EQ(hooks_.frameBarChanges, std::vector<std::string>{"Reset3"});
  Render();
  const TSpecs factory = BuiltInDefaultSpecs();
  EXPECT_EQ(live_.Knee, factory.Knee);
  EXPECT_EQ(live_.RGain, factory.RGain);
  EXPECT_EQ(live_.Gain, 100);
  EXPECT_EQ(live_.TempFlags, 0);
  EXPECT_EQ(live_.MedianWhen, 0);
  EXPECT_EQ(live_.NoiseMaskYOnly, 1);
  EXPECT_EQ(live_.Vmin, 4);
  EXPECT_EQ(live_.TestSignal, 0);
  EXPECT_EQ(live_.FramePos, 120);

  // Revert All brings the opening record back, except the frame.
  commands_->RevertAll(By("Revert3"));
  Render();
  EXPECT_EQ(live_.Knee, 30);
  EXPECT_EQ(live_.RGain, 150);
  EXPECT_EQ(live_.Gain, 300);
  EXPECT_EQ(live_.TempFlags, 3);
  EXPECT_EQ(live_.MedianWhen, 3);
  EXPECT_EQ(live_.NoiseMaskYOnly, 0);
  EXPECT_EQ(live_.Vmin, 20);
  EXPECT_EQ(live_.TestSignal, 5);
  EXPECT_EQ(live_.FramePos, 120);
}

TEST_F(DialogCommandsTest, RevertPageActsOnTheActivePageOnly) {
  live_.Knee = 30;
  live_.RGain = 150;
  SetupLogic& d = Open();  // on the Levels page
  d.UserMovedBar("KneeBar", 60);
  d.UserMovedBar("RGainBar", 60);
  commands_->RevertPage(By("Revert2"));
  EXPECT_EQ(d.Position("KneeBar"), 30);
  EXPECT_EQ(d.Position("RGainBar"), 60);
}

TEST_F(DialogCommandsTest, TestSignalFiveRevertsToTheSawtooth) {
  live_.TestSignal = 5;
  SetupLogic& d = Open();
  d.SetFocusedControl("TestModeBox");
  d.UserClicked("TestModeBox");
  ASSERT_FALSE(d.Checked("TestModeBox"));
  d.SetFocusedControl("Bars100Button");
  commands_->RevertControl(By("Revert1"));
  EXPECT_TRUE(d.Checked("TestModeBox"));
  EXPECT_TRUE(d.Checked("SawtoothButton"));
  Render();
  EXPECT_EQ(live_.TestSignal, 5);
}

TEST_F(DialogCommandsTest, SetDefaultsAsksAndStoresOnlyOnYes) {
  live_.Vmin = 16;
  live_.Vmax = 230;
  live_.ProcMode = 2;
  SetupLogic& d = Open();
  answer_.yes = false;
  const TSpecs defaultsBefore = defaults_;
  commands_->SetDefaults();
  EXPECT_EQ(answer_.asked, std::vector<std::string>{"Are you sure you want to change the default settings?"});
  EXPECT_EQ(std::memcmp(&defaults_, &defaultsBefore, sizeof(TSpecs)), 0);
  int32_t v = 0;
  EXPECT_EQ(memoryStore_.ReadInteger(kKeyClipping, "Vmin", v), ValueStatus::Missing);

  answer_.yes = true;
  commands_->SetDefaults();
  EXPECT_EQ(defaults_.Vmin, 16);
  EXPECT_EQ(defaults_.Vmax, 230);
  EXPECT_EQ(defaults_.ProcMode, 2);
  ASSERT_EQ(memoryStore_.ReadInteger(kKeyClipping, "Vmin", v), ValueStatus::Present);
  EXPECT_EQ(v, 16);
  ASSERT_EQ(memoryStore_.ReadInteger(kKeyClipping, "Vmax", v), ValueStatus::Present);
  EXPECT_EQ(v, 230);
  ASSERT_EQ(memoryStore_.ReadInteger(kKeyProcessing, "ProcMode", v), ValueStatus::Present);
  EXPECT_EQ(v, 2);

  // Reset on the box then brings the stored default back.
  d.SetText("VminEdit", "40");
  d.EditExit("VminEdit");
  ASSERT_EQ(live_.Vmin, 40);
  d.SetFocusedControl("VminEdit");
  commands_->ResetControl(By("Reset1"));
  EXPECT_EQ(d.Text("VminEdit"), "16");
  EXPECT_EQ(live_.Vmin, 16);
}

TEST_F(DialogCommandsTest, DefaultsThatCannotBeStoredAreReported) {
  FailingStore failing;
  store_ = &failing;
  Open();
  commands_->SetDefaults();
  EXPECT_EQ(hooks_.notices.size(), 1u);
}

TEST(RightClickTarget, ChoosesTheControlsTheMenuActsOn) {
  for (const char* c : {"PageControl1", "UseMasterButton", "UseIndividualButton", "KneeBar", "FrameBar", "GainX4",
                        "MedianBeforeBox", "TempSmoothBox", "NoiseMaskYUVButton", "SharpShowEdgesBox", "Pm420Button",
                        "VminEdit", "VmaxEdit", "TestModeBox"})
    EXPECT_TRUE(RightClickChoosesControl(c)) << c;
  for (const char* c : {"SawtoothButton", "MonOnlyButton", "SceneBox", "OkButton", "KneeLabel", "LevelsSheet",
                        "BypassButton", "FinalModeButton"})
    EXPECT_FALSE(RightClickChoosesControl(c)) << c;
}

// ---- Picture-click balance ----

struct Picture {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(240 * 180 * 4, 0);
  TPixBuffer buf{};
  explicit Picture(uint8_t level) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (i % 4 == 3) ? 0 : level;
    buf.Bounds = {0, 0, 240, 180};
    buf.RowBytes = 240 * 4;
    buf.Pixels = bytes.data();
  }
};

TEST_F(DialogCommandsTest, TheThreeKeysOfAFamilyMoveTogether) {
  SetupLogic& d = Open();
  d.UserPressedKey("YOnlyButton", true);
  d.UserPressedKey("WBButton1", true);
  balance_->FamilyClick("WBButton1");
  for (const char* k : {"WBButton0", "WBButton1", "WBButton2"}) EXPECT_TRUE(d.Checked(k)) << k;
  EXPECT_FALSE(d.Checked("YOnlyButton"));
  EXPECT_TRUE(d.Checked("PixButton"));
  EXPECT_EQ(cursor_, 88);
  EXPECT_EQ(d.Text("StatusBar1"), "Now click on the part of the picture you want to make white");
  EXPECT_TRUE(changed_);
  Render();
  EXPECT_EQ(live_.Bypass, 1) << "white balance looks at the unprocessed picture";

  // Another family takes over.
  d.UserPressedKey("GBButton2", true);
  balance_->FamilyClick("GBButton2");
  for (const char* k : {"WBButton0", "WBButton1", "WBButton2"}) EXPECT_FALSE(d.Checked(k)) << k;
  for (const char* k : {"GBButton0", "GBButton1", "GBButton2"}) EXPECT_TRUE(d.Checked(k)) << k;
  EXPECT_EQ(cursor_, 91);
  Render();
  EXPECT_EQ(live_.Bypass, 0) << "gamma balance looks at the processed picture";

  // The same key again: disarmed.
  d.UserPressedKey("GBButton0", false);
  balance_->FamilyClick("GBButton0");
  for (const char* k : {"GBButton0", "GBButton1", "GBButton2"}) EXPECT_FALSE(d.Checked(k)) << k;
  EXPECT_EQ(cursor_, 87);
  EXPECT_EQ(d.Text("StatusBar1"), "");
}

TEST_F(DialogCommandsTest, WhiteBalanceOnAGreySpotSetsTheGains) {
  defaults_.Vblack = 0;
  defaults_.Vwhite = 255;
  SetupLogic& d = Open();
  d.UserPressedKey("WBButton0", true);
  balance_->FamilyClick("WBButton0");
  Picture grey(170);
  balance_->ScreenClick(120, 90, &grey.buf, &grey.buf);
  EXPECT_EQ(d.Position("GainBar"), 150);
  EXPECT_TRUE(d.Checked("GainX1"));
  EXPECT_EQ(d.Position("RGainBar"), 100);
  for (const char* k : {"WBButton0", "WBButton1", "WBButton2", "BypassButton"}) EXPECT_FALSE(d.Checked(k)) << k;
  EXPECT_EQ(cursor_, 87);
  EXPECT_EQ(d.Text("StatusBar1"), "");
  EXPECT_TRUE(hooks_.messages.empty());
  Render();
  EXPECT_EQ(live_.Gain, 150);
  EXPECT_EQ(live_.Bypass, 0);
}

TEST_F(DialogCommandsTest, BalanceAtBlackFailsWithOneMessageAndNoSpanIgnoresTheClick) {
  defaults_.Vblack = 0;
  defaults_.Vwhite = 255;
  SetupLogic& d = Open();
  d.UserPressedKey("WBButton0", true);
  balance_->FamilyClick("WBButton0");
  Picture black(0);
  balance_->ScreenClick(0, 0, &black.buf, &black.buf);
  EXPECT_EQ(hooks_.messages, std::vector<std::string>{"Could not balance at this point - please try again"});
  EXPECT_EQ(d.Position("GainBar"), 100);
  EXPECT_EQ(d.Position("GGainBar"), 0);

  defaults_.Vwhite = 0;
  hooks_.messages.clear();
  d.UserPressedKey("BBButton0", true);
  balance_->FamilyClick("BBButton0");
  balance_->ScreenClick(10, 10, &black.buf, &black.buf);
  EXPECT_TRUE(d.Checked("BBButton2")) << "with no span the click is ignored";
  EXPECT_EQ(cursor_, 89);
  EXPECT_TRUE(hooks_.messages.empty());
}

}  // namespace
}  // namespace tarvo::ui
