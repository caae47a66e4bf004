#include <cstdint>
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options/option_store.h"
#include "options/options.h"
#include "scenes/collator.h"
#include "scenes/scene_list.h"
#include "support/test_support.h"
#include "types/specs.h"
#include "types/specs_fields.h"
#include "ui/logic/setup_logic.h"
#include "logic_fixture.h"

namespace tarvo::ui {
namespace {

// The little-endian 16-bit value stored at a byte offset of the record.
int Int16At(const TSpecs& s, int offset) {
  const auto* b = reinterpret_cast<const uint8_t*>(&s);
  return static_cast<int16_t>(b[offset] | (b[offset + 1] << 8));
}

// The fields (or byte offsets outside them) where two records differ, for
// failure messages.
std::string Differences(const TSpecs& a, const TSpecs& b) {
  std::string out;
  for (const SpecsField& f : SpecsFields())
    if (GetField(a, f) != GetField(b, f))
      out += std::string(f.name) + " " + std::to_string(GetField(a, f)) + " vs " + std::to_string(GetField(b, f)) + "; ";
  const auto* x = reinterpret_cast<const uint8_t*>(&a);
  const auto* y = reinterpret_cast<const uint8_t*>(&b);
  for (int i = 0; i < kSpecsSize; ++i)
    if (x[i] != y[i] && out.empty()) out += "byte " + std::to_string(i) + "; ";
  return out;
}

constexpr int kVmin = 2, kVmax = 4, kPageIndex = 6, kProcMode = 8, kMonitorView = 10, kChannelView = 12,
              kBypass = 14, kTestSignal = 16, kUseMaster = 22, kFramePos = 28, kLift = 32, kGain = 34,
              kGamma = 38, kSharpShowEdges = 132, kSharpShowMask = 138, kTempRecursion = 162, kTempFlags = 170;

// Records what the logic asks of its surroundings.
struct Recorder : SetupHooks {
  int timerStarts = 0, timerStops = 0, clipLevelChanges = 0;
  std::vector<std::string> frameBarChanges;  // sender of each call ("" = none)
  std::vector<std::string> messages, notices, clicks, monitorClicks;
  void StartTimer() override { ++timerStarts; }
  void StopTimer() override { ++timerStops; }
  void FrameBarChange(Sender s) override { frameBarChanges.emplace_back(s.control); }
  void MonitorButtonClick(std::string_view b, Sender s) override {
    monitorClicks.push_back(std::string(b) + (s.IsNone() ? ":none" : ":user"));
  }
  void ClipLevelsChanged() override { ++clipLevelChanges; }
  void ShowMessage(std::string_view t) override { messages.emplace_back(t); }
  void Notice(std::string_view t) override { notices.emplace_back(t); }
  void Click(std::string_view c, Sender) override { clicks.emplace_back(c); }
};

class SetupLogicTest : public SetupLogicFixture<Recorder> {
 protected:
  SetupLogicTest() {
    defaults_ = BuiltInDefaultSpecs();
    defaults_.Vblack = 16;
    defaults_.Vblank = 16;
    defaults_.Vwhite = 235;
    live_ = BuiltInDefaultSpecs();
    live_.Vblack = 16;
    live_.Vblank = 16;
    live_.Vwhite = 235;
    live_.PageIndex = 1;
  }

  // The timer fires and the render runs to its end.
  void Render() {
    ASSERT_TRUE(logic_->RenderBegin());
    logic_->RenderPipelineDone();
    logic_->RenderEnd();
  }

  // Opens, lets the first render run, and clears what opening did.
  SetupLogic& OpenQuiet(int32_t total = 250) {
    Open(total);
    Render();
    changed_ = false;
    hooks_ = Recorder{};
    return *logic_;
  }
};

// ---- The gain multiplier ----

TEST_F(SetupLogicTest, GainLoadsWithItsMultiplierAndStoresBack) {
  struct Case {
    int gain, bar;
    const char* button;
    int stored;
  };
  for (const Case& c : {Case{200, 100, "GainX2", 200}, Case{199, 199, "GainX1", 199}, Case{400, 100, "GainX4", 400},
                        Case{401, 100, "GainX4", 400}, Case{399, 199, "GainX2", 398}, Case{800, 200, "GainX4", 800},
                        Case{0, 0, "GainX1", 0}}) {
    SCOPED_TRACE(c.gain);
    live_.Gain = static_cast<int16_t>(c.gain);
    SetupLogic& d = Open();
    EXPECT_EQ(d.Position("GainBar"), c.bar);
    EXPECT_EQ(d.State("GainBar").originalPosition, c.bar);
    for (const char* b : {"GainX1", "GainX2", "GainX4"}) EXPECT_EQ(d.Checked(b), std::string(b) == c.button) << b;
    Render();
    EXPECT_EQ(Int16At(live_, kGain), c.stored);
  }
}

TEST_F(SetupLogicTest, GainReadoutIgnoresTheMultiplier) {
  live_.Gain = 300;
  SetupLogic& d = OpenQuiet();
  EXPECT_TRUE(d.Checked("GainX2"));
  EXPECT_EQ(d.Text("GainLabel"), "1.50");
  d.UserClicked("GainX4");
  d.UserMovedBar("GainBar", 150);
  EXPECT_EQ(d.Text("GainLabel"), "1.50");
  Render();
  EXPECT_EQ(Int16At(live_, kGain), 600);
  EXPECT_TRUE(changed_);
}

// ---- Readouts ----

TEST_F(SetupLogicTest, GammaSliderReadsAndStoresNegated) {
  separator_ = ",";
  SetupLogic& d = OpenQuiet();
  const struct {
    int position;
    const char* text;
    int stored;
  } cases[] = {{50, "0,32", -50}, {-100, "10,00", 100}, {100, "0,10", -100}, {0, "1,00", 0}};
  for (const auto& c : cases) {
    d.UserMovedBar("GammaBar", c.position);
    EXPECT_EQ(d.Text("GammaLabel"), c.text);
    Render();
    EXPECT_EQ(Int16At(live_, kGamma), c.stored);
  }
  live_.Gamma = 70;  // loads at position -70
  d.UpdateControls(live_);
  EXPECT_EQ(d.Position("GammaBar"), -70);
  EXPECT_EQ(d.Text("GammaLabel"), "5,01");
}

TEST_F(SetupLogicTest, RecursionReadouts) {
  SetupLogic& d = OpenQuiet();
  const std::pair<int, const char*> cases[] = {{0, "2.00"}, {50, "4.00"}, {100, "8.00"}};
  for (auto [position, text] : cases) {
    d.UserMovedBar("TempRecursionBar", position);
    EXPECT_EQ(d.Text("TempRecursionLabel"), text);
    Render();
    EXPECT_EQ(Int16At(live_, kTempRecursion), position);
  }
}

TEST_F(SetupLogicTest, LoadingFillsEveryReadout) {
  live_.Lift = -7;
  live_.Slope = 35;
  live_.MaskRadius = 3;
  SetupLogic& d = Open();
  EXPECT_EQ(d.Text("LiftLabel"), "-7");
  EXPECT_EQ(d.Text("SlopeLabel"), "0.35");
  EXPECT_EQ(d.Text("MaskRadiusLabel"), "3");
  EXPECT_EQ(d.Text("TempLimitLabel"), "50");
  for (std::string_view bar : BarChangeOrder()) {
    const ControlEntry* c = FindControlEntry(bar);
    if (!c->readoutLabel.empty()) {
      EXPECT_FALSE(d.Text(c->readoutLabel).empty()) << bar;
    }
  }
  // The frame slider's handler ran once, as the dialog's own call.
  ASSERT_EQ(hooks_.frameBarChanges.size(), 1u);
  EXPECT_EQ(hooks_.frameBarChanges[0], "");
}

// ---- The changed flag ----

TEST_F(SetupLogicTest, OnlyLevelSlidersAndLevelButtonsSetTheChangedFlag) {
  SetupLogic& d = OpenQuiet();
  for (std::string_view bar : {"YSharpnessBar", "TempYThresholdBar", "NoiseSmoothBar", "MedianLimitBar"}) {
    d.UserMovedBar(bar, 3);
    EXPECT_FALSE(changed_) << bar;
  }
  d.UserClicked("MedianBeforeBox");
  d.UserClicked("Pm422Button");
  EXPECT_FALSE(changed_);
  for (std::string_view bar : {"LiftBar", "SatBar", "KneeBar", "BGammaBar", "RGainBar"}) {
    changed_ = false;
    d.UserMovedBar(bar, 40);
    EXPECT_TRUE(changed_) << bar;
  }
  changed_ = false;
  d.UserClicked("GainX2");
  EXPECT_TRUE(changed_);
  changed_ = false;
  d.UserClicked("SawtoothButton");
  EXPECT_TRUE(changed_);
}

// ---- The four control rules ----

TEST_F(SetupLogicTest, SlidersSetByCodeRaiseNoChange) {
  SetupLogic& d = OpenQuiet();
  d.SetOriginalPosition("KneeBar", 30);
  d.SetPosition("LiftBar", 12);
  EXPECT_EQ(d.Position("KneeBar"), 30);
  EXPECT_EQ(d.Text("KneeLabel"), "100");
  EXPECT_EQ(d.Text("LiftLabel"), "0");
  EXPECT_FALSE(changed_);
  EXPECT_EQ(hooks_.timerStarts, 0);
  d.UserMovedBar("KneeBar", 31);
  EXPECT_EQ(d.Text("KneeLabel"), "31");
  EXPECT_TRUE(changed_);
  EXPECT_EQ(hooks_.timerStarts, 1);
  // Positions are held in range; the remembered position is kept as given.
  d.SetOriginalPosition("SharpRadiusBar", 9);
  EXPECT_EQ(d.Position("SharpRadiusBar"), 3);
  EXPECT_EQ(d.State("SharpRadiusBar").originalPosition, 9);
}

TEST_F(SetupLogicTest, RadioButtonsSetByCodeRunTheirClickOnlyWhenTheyChange) {
  SetupLogic& d = OpenQuiet();
  d.CheckRadio("GainX1");  // already checked: nothing
  EXPECT_FALSE(changed_);
  EXPECT_EQ(hooks_.timerStarts, 0);
  d.CheckRadio("GainX2");
  EXPECT_FALSE(d.Checked("GainX1"));
  EXPECT_FALSE(d.Checked("GainX4"));
  EXPECT_TRUE(changed_);               // GainX1Click ran...
  EXPECT_EQ(hooks_.timerStarts, 1);    // ...with the button as sender
  // Radio buttons of other parents are not touched.
  EXPECT_TRUE(d.Checked("Pm444Button"));
  EXPECT_TRUE(d.Checked("NoiseMaskYOnlyButton"));
  // A user click on a checked radio button does nothing either.
  changed_ = false;
  d.UserClicked("GainX2");
  EXPECT_FALSE(changed_);
}

TEST_F(SetupLogicTest, CheckBoxesSetByCodeRunTheirClickOnlyWhenTheyChange) {
  SetupLogic& d = OpenQuiet();
  d.SetCheckBox("SharpShowMaskBox", true);
  EXPECT_EQ(hooks_.timerStarts, 1);
  d.SetCheckBox("SharpShowMaskBox", true);
  d.SetCheckBox("MedianAfterBox", false);
  EXPECT_EQ(hooks_.timerStarts, 1);
  EXPECT_FALSE(d.RenderPending());
  // Set by code to checked, Show Edges still unchecks Show Mask.
  d.SetCheckBox("SharpShowEdgesBox", true);
  EXPECT_FALSE(d.Checked("SharpShowMaskBox"));
  EXPECT_TRUE(d.RenderPending());
}

TEST_F(SetupLogicTest, KickTimerIgnoresTheDialogsOwnCallsAndAnInactiveDialog) {
  SetupLogic& d = OpenQuiet();
  d.KickTimer(kNoSender);
  d.BarChange("LiftBar", kNoSender);
  EXPECT_EQ(hooks_.timerStarts, 0);
  EXPECT_TRUE(changed_);  // the handler itself still ran
  d.KickTimer(By("LiftBar"));
  EXPECT_TRUE(d.TimerRunning());
  d.KickTimer(By("KneeBar"));
  d.KickTimer(By("SatBar"));
  EXPECT_EQ(hooks_.timerStarts, 1);  // absorbed while the timer runs
  EXPECT_TRUE(d.RenderPending());
  ASSERT_TRUE(d.RenderBegin());
  d.KickTimer(By("SatBar"));  // during the render: starts the timer again
  EXPECT_EQ(hooks_.timerStarts, 2);
  d.RenderPipelineDone();
  EXPECT_FALSE(d.RenderPending());
  d.RenderEnd();
  EXPECT_EQ(hooks_.timerStarts, 2);
  d.Close();
  EXPECT_FALSE(d.TimerRunning());
  d.KickTimer(By("LiftBar"));
  EXPECT_EQ(hooks_.timerStarts, 2);
  EXPECT_FALSE(d.RenderBegin());
}

TEST_F(SetupLogicTest, FirstLoadRequestsOneRenderOnly) {
  live_.Gain = 300;
  live_.TempFlags = 3;
  live_.MedianWhen = 2;
  live_.ProcMode = 2;
  live_.TestSignal = 5;
  live_.NoiseMaskYOnly = 0;
  live_.SharpShowEdges = 1;
  Open();
  EXPECT_EQ(hooks_.timerStarts, 1);  // the activation's own request
  EXPECT_TRUE(logic_->Active());
  EXPECT_TRUE(logic_->ControlsLoaded());
  // A second activation (back from a message box) does not load again.
  live_.Lift = 55;
  logic_->Activate();
  EXPECT_EQ(logic_->Position("LiftBar"), 0);
}

// ---- Check boxes and groups ----

TEST_F(SetupLogicTest, ShowEdgesAndShowMaskExcludeEachOther) {
  SetupLogic& d = OpenQuiet();
  d.UserClicked("SharpShowMaskBox");
  d.UserClicked("SharpShowEdgesBox");
  EXPECT_TRUE(d.Checked("SharpShowEdgesBox"));
  EXPECT_FALSE(d.Checked("SharpShowMaskBox"));
  Render();
  EXPECT_EQ(Int16At(live_, kSharpShowEdges), 1);
  EXPECT_EQ(Int16At(live_, kSharpShowMask), 0);
  d.UserClicked("SharpShowMaskBox");
  EXPECT_FALSE(d.Checked("SharpShowEdgesBox"));
  d.UserClicked("SharpShowMaskBox");  // both off is allowed
  Render();
  EXPECT_EQ(Int16At(live_, kSharpShowEdges), 0);
  EXPECT_EQ(Int16At(live_, kSharpShowMask), 0);
}

TEST_F(SetupLogicTest, MotionBoxEnablesItsThreeSliders) {
  const char* bars[] = {"TempOnsetBar", "TempLimitBar", "TempResponseBar"};
  SetupLogic& d = OpenQuiet();
  for (const char* b : bars) EXPECT_FALSE(d.State(b).enabled) << b;
  EXPECT_TRUE(d.State("TempRecursionBar").enabled);
  d.UserClicked("TempMotionBox");
  for (const char* b : bars) EXPECT_TRUE(d.State(b).enabled) << b;
  Render();
  EXPECT_EQ(Int16At(live_, kTempFlags), 1);
  d.UserClicked("TempSmoothBox");
  d.UserClicked("TempMotionBox");
  for (const char* b : bars) EXPECT_FALSE(d.State(b).enabled) << b;
  Render();
  EXPECT_EQ(Int16At(live_, kTempFlags), 2);
  // A record with motion detection on opens with the sliders enabled.
  live_.TempFlags = 1;
  Open();
  for (const char* b : bars) EXPECT_TRUE(logic_->State(b).enabled) << b;
}

TEST_F(SetupLogicTest, TestModeGroup) {
  live_.TestSignal = 5;  // Sawtooth
  SetupLogic& d = OpenQuiet();
  EXPECT_TRUE(d.Checked("TestModeBox"));
  EXPECT_TRUE(d.Checked("SawtoothButton"));
  EXPECT_TRUE(hooks_.frameBarChanges.empty());
  // The user unchecks it: the frame slider's handler runs (the chosen frame is
  // fetched again), the next render stores 0 and disables the seven buttons.
  d.UserClicked("TestModeBox");
  ASSERT_EQ(hooks_.frameBarChanges.size(), 1u);
  EXPECT_EQ(hooks_.frameBarChanges[0], "TestModeBox");
  EXPECT_TRUE(changed_);
  Render();
  EXPECT_EQ(Int16At(live_, kTestSignal), 0);
  for (std::string_view b : PatternButtons()) EXPECT_FALSE(d.State(b).enabled) << b;
  // Checking it again stores the checked pattern's code.
  d.UserClicked("TestModeBox");
  EXPECT_EQ(hooks_.frameBarChanges.size(), 1u);
  Render();
  EXPECT_EQ(Int16At(live_, kTestSignal), 5);
  for (std::string_view b : PatternButtons()) EXPECT_TRUE(d.State(b).enabled) << b;
  // "Monitor signal only" while test mode is on fetches the frame again.
  d.UserClicked("MonOnlyButton");
  EXPECT_EQ(hooks_.frameBarChanges.size(), 2u);
  Render();
  EXPECT_EQ(Int16At(live_, kTestSignal), 1);
  // Set from code (a record loaded), the box runs no handling of its own.
  hooks_ = Recorder{};
  TSpecs other = live_;
  other.TestSignal = 0;
  d.SetFocusedControl("LiftBar");
  d.UpdateControls(other);
  EXPECT_FALSE(d.Checked("TestModeBox"));
  EXPECT_EQ(hooks_.frameBarChanges.size(), 1u);  // only step 20's call, with no sender
  EXPECT_EQ(hooks_.frameBarChanges[0], "");
}

TEST_F(SetupLogicTest, UnknownTestSignalChecksMonitorOnly) {
  live_.TestSignal = 9;
  SetupLogic& d = Open();
  EXPECT_TRUE(d.Checked("TestModeBox"));
  EXPECT_TRUE(d.Checked("MonOnlyButton"));
  Render();
  EXPECT_EQ(Int16At(live_, kTestSignal), 1);
}

// ---- Clip levels ----

TEST_F(SetupLogicTest, VmaxThreeHundredAndEnterStores255) {
  live_.Vmax = 235;
  SetupLogic& d = OpenQuiet();
  d.UserEditedText("VmaxEdit", "300");
  EXPECT_TRUE(d.EditKeyDown("VmaxEdit", 13));
  EXPECT_EQ(Int16At(live_, kVmax), 255);
  EXPECT_EQ(d.Text("VmaxEdit"), "255");
  EXPECT_TRUE(changed_);
  EXPECT_EQ(hooks_.clipLevelChanges, 1);
  EXPECT_EQ(hooks_.timerStarts, 1);
  EXPECT_EQ(d.Derived().Range, 255);
  EXPECT_TRUE(d.EditKeyPress("VmaxEdit", '\r'));
  EXPECT_FALSE(d.EditKeyPress("VmaxEdit", '5'));
  EXPECT_FALSE(d.EditKeyDown("VmaxEdit", 'A'));
  // The same value again changes nothing, and the text stays as typed.
  changed_ = false;
  d.UserEditedText("VmaxEdit", "0300");
  d.EditExit("VmaxEdit");
  EXPECT_EQ(d.Text("VmaxEdit"), "0300");
  EXPECT_FALSE(changed_);
  EXPECT_EQ(hooks_.clipLevelChanges, 1);
}

TEST_F(SetupLogicTest, ClipLevelFallbacksAndClamps) {
  SetupLogic& d = OpenQuiet();
  // Letters in Vmin when Vmin is already 0: nothing changes.
  d.UserEditedText("VminEdit", "abc");
  d.EditExit("VminEdit");
  EXPECT_EQ(d.Text("VminEdit"), "abc");
  EXPECT_EQ(Int16At(live_, kVmin), 0);
  EXPECT_FALSE(changed_);
  EXPECT_EQ(hooks_.timerStarts, 0);
  struct Case {
    const char* edit;
    int before;
    const char* typed;
    int stored;
  };
  for (const Case& c : {Case{"VminEdit", 16, "xyz", 0}, Case{"VminEdit", 16, "-5", 0}, Case{"VminEdit", 0, " 20 ", 20},
                        Case{"VminEdit", 0, "99999999999", 255}, Case{"VmaxEdit", 235, "letters", 255},
                        Case{"VmaxEdit", 255, "-1", 0}, Case{"VmaxEdit", 255, "256", 255}}) {
    SCOPED_TRACE(std::string(c.edit) + " " + c.typed);
    (std::string(c.edit) == "VminEdit" ? live_.Vmin : live_.Vmax) = static_cast<int16_t>(c.before);
    d.UserEditedText(c.edit, c.typed);
    d.EditExit(c.edit);
    EXPECT_EQ(Int16At(live_, std::string(c.edit) == "VminEdit" ? kVmin : kVmax), c.stored);
    if (c.before != c.stored) {
      EXPECT_EQ(d.Text(c.edit), std::to_string(c.stored));
    }
  }
  // Vmin and Vmax are not checked against each other.
  live_.Vmin = 0;
  live_.Vmax = 255;
  d.UserEditedText("VminEdit", "200");
  d.EditExit("VminEdit");
  d.UserEditedText("VmaxEdit", "100");
  d.EditExit("VmaxEdit");
  EXPECT_EQ(Int16At(live_, kVmin), 200);
  EXPECT_EQ(Int16At(live_, kVmax), 100);
}

// The clip-level edit stores the other controls too.
TEST_F(SetupLogicTest, ClipLevelEditStoresTheControls) {
  SetupLogic& d = OpenQuiet();
  d.UserMovedBar("LiftBar", 25);
  d.UserEditedText("VminEdit", "16");
  d.EditExit("VminEdit");
  EXPECT_EQ(Int16At(live_, kLift), 25);
  EXPECT_EQ(Int16At(live_, kVmin), 16);
}

// ---- Pages ----

TEST_F(SetupLogicTest, PageIndexOutOfRangeOpensOnLevels) {
  live_.PageIndex = 9;
  SetupLogic& d = Open();
  EXPECT_EQ(d.ActivePage(), "LevelsSheet");
  Render();
  EXPECT_EQ(Int16At(live_, kPageIndex), 1);
  live_.PageIndex = 3;
  Open();
  EXPECT_EQ(logic_->ActivePage(), "SharpnessSheet");
}

TEST_F(SetupLogicTest, PageChangesSetTheHelpContextAndRequestARender) {
  SetupLogic& d = OpenQuiet();
  EXPECT_EQ(d.HelpContextOf("PageControl1"), 11400);
  const std::pair<const char*, int> pages[] = {{"ScenesSheet", 12100},   {"ColourSheet", 12300},
                                               {"TemporalSheet", 12510}, {"SpatialSheet", 12520},
                                               {"SettingsSheet", 12600}, {"AboutSheet", 12700}};
  for (auto [page, context] : pages) {
    d.PageChanging();
    d.PageChanged(page);
    EXPECT_EQ(d.ActivePage(), page);
    EXPECT_EQ(d.HelpContextOf("PageControl1"), context);
    Render();
  }
  EXPECT_EQ(hooks_.timerStarts, static_cast<int>(std::size(pages)));
  EXPECT_EQ(d.Text("VersionLabel"), "Version\n1.02.02");
  EXPECT_EQ(Int16At(live_, kPageIndex), 7);
  // F1 on a control uses its own context or its nearest parent's.
  EXPECT_EQ(d.HelpContextOf("GainX4"), 12220);
  EXPECT_EQ(d.HelpContextOf("TempLimitBar"), 12510);
}

// ---- Processing mode, operating mode ----

TEST_F(SetupLogicTest, UnknownProcModeLeavesTheButtons) {
  live_.ProcMode = 7;
  SetupLogic& d = Open();
  EXPECT_TRUE(d.Checked("Pm444Button"));
  Render();
  EXPECT_EQ(Int16At(live_, kProcMode), 0);
  // Loaded over an earlier record, the buttons keep that record's mode.
  TSpecs earlier = live_;
  earlier.ProcMode = 2;
  TSpecs unknown = live_;
  unknown.ProcMode = 7;
  d.UpdateControls(earlier);
  d.UpdateControls(unknown);
  EXPECT_TRUE(d.Checked("Pm420Button"));
  EXPECT_FALSE(d.Checked("Pm444Button"));
}

TEST_F(SetupLogicTest, OperatingModeButtonsWriteTheOptionAtOnce) {
  SetupLogic& d = OpenQuiet();
  EXPECT_TRUE(d.Checked("FinalModeButton"));
  d.UserClicked("DraftModeButton");
  EXPECT_EQ(options_.OpMode, 1);
  int32_t stored = -1;
  EXPECT_EQ(memoryStore_.ReadInteger(kKeyProcessing, "OpMode", stored), ValueStatus::Present);
  EXPECT_EQ(stored, 1);
  EXPECT_FALSE(d.Checked("FinalModeButton"));
  d.UserClicked("BypassModeButton");
  memoryStore_.ReadInteger(kKeyProcessing, "OpMode", stored);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(options_.OpMode, 0);
  // The record is not involved.
  EXPECT_FALSE(changed_);
}

TEST_F(SetupLogicTest, OperatingModeIsShownAtOpenAndAFailedWriteIsReported) {
  FailingStore failing;
  store_ = &failing;
  options_.OpMode = 1;
  SetupLogic& d = Open();
  EXPECT_TRUE(d.Checked("DraftModeButton"));
  EXPECT_FALSE(d.Checked("FinalModeButton"));
  ASSERT_EQ(hooks_.notices.size(), 1u);  // checking the button wrote the mode, and that failed
  d.UserClicked("FinalModeButton");
  EXPECT_EQ(options_.OpMode, 2);  // still applies for this process
  EXPECT_EQ(hooks_.notices.size(), 2u);
}

// ---- Views, keys and the frame slider ----

TEST_F(SetupLogicTest, KeysAndFrameSliderReachTheRecord) {
  live_.MonitorView = 1;
  live_.ChannelView = 2;
  live_.FramePos = 40;
  SetupLogic& d = OpenQuiet();
  EXPECT_TRUE(d.Checked("WFButton"));
  EXPECT_TRUE(d.Checked("COnlyButton"));
  EXPECT_EQ(d.Position("FrameBar"), 40);
  EXPECT_EQ(d.State("FrameBar").max, 250);
  EXPECT_EQ(d.State("FrameBar").pageSize, 25);
  d.UserPressedKey("YOnlyButton", true);  // releases C only
  d.UserPressedKey("VSButton", true);      // releases the waveform key
  d.UserPressedKey("BBButton0", true);
  d.UserMovedBar("FrameBar", 250);
  Render();
  EXPECT_EQ(Int16At(live_, kChannelView), 1);
  EXPECT_EQ(Int16At(live_, kMonitorView), 2);
  EXPECT_EQ(Int16At(live_, kBypass), 1);
  EXPECT_EQ(Int16At(live_, kFramePos), 250);
  ASSERT_FALSE(hooks_.monitorClicks.empty());
  EXPECT_EQ(hooks_.monitorClicks.back(), "VSButton:user");
  EXPECT_EQ(hooks_.frameBarChanges.back(), "FrameBar");
  d.UserPressedKey("BBButton0", false);
  d.UserPressedKey("BypassButton", true);
  d.UserPressedKey("YOnlyButton", false);
  Render();
  EXPECT_EQ(Int16At(live_, kBypass), 1);
  EXPECT_EQ(Int16At(live_, kChannelView), 0);
}

// Loading a record over one that showed the other channel leaves only the
// new channel key down.
TEST_F(SetupLogicTest, ChannelKeysFollowEachLoadedRecord) {
  live_.ChannelView = 1;
  SetupLogic& d = OpenQuiet();
  TSpecs colourOnly = live_;
  colourOnly.ChannelView = 2;
  d.UpdateControls(colourOnly);
  EXPECT_FALSE(d.Checked("YOnlyButton"));
  EXPECT_TRUE(d.Checked("COnlyButton"));
  Render();
  EXPECT_EQ(Int16At(live_, kChannelView), 2);
}

// A clip longer than the record's frame field can count keeps the last
// position the field can hold instead of wrapping to a negative frame.
TEST_F(SetupLogicTest, FramePositionBeyondTheFieldIsHeldAtItsLimit) {
  SetupLogic& d = OpenQuiet(100000);
  d.UserMovedBar("FrameBar", 40000);
  Render();
  EXPECT_EQ(Int16At(live_, kFramePos), 32767);
}

// ---- OK and Cancel ----

TEST_F(SetupLogicTest, CancelRestoresThePreviousRecordByteForByte) {
  live_.Lift = 5;
  SetupLogic& d = OpenQuiet();
  const TSpecs before = previous_;
  d.UserMovedBar("LiftBar", 60);
  d.UserClicked("GainX4");
  d.UserEditedText("VmaxEdit", "100");
  d.EditExit("VmaxEdit");
  Render();
  ASSERT_NE(std::memcmp(&live_, &before, sizeof(TSpecs)), 0);
  d.UserClicked("CancelButton");
  d.Close();
  EXPECT_TRUE(d.Cancelled());
  EXPECT_EQ(std::memcmp(&live_, &before, sizeof(TSpecs)), 0);
  EXPECT_EQ(hooks_.clicks.back(), "CancelButton");
}

TEST_F(SetupLogicTest, OkStoresAChangeMadeSinceTheLastRender) {
  SetupLogic& d = OpenQuiet();
  d.UserMovedBar("LiftBar", -33);  // the timer has not fired yet
  EXPECT_EQ(Int16At(live_, kLift), 0);
  d.UserClicked("OkButton");
  d.Close();
  EXPECT_FALSE(d.Cancelled());
  EXPECT_EQ(Int16At(live_, kLift), -33);
  EXPECT_EQ(hooks_.clicks.back(), "OkButton");
}

TEST_F(SetupLogicTest, OkBeforeTheControlsWereLoadedLeavesTheRecord) {
  live_.Lift = 44;
  live_.Gain = 700;
  const TSpecs before = live_;
  SetupLogic d(Context(), &hooks_);
  d.Ok();
  EXPECT_EQ(std::memcmp(&live_, &before, sizeof(TSpecs)), 0);
}

// ---- Scenes ----

TEST_F(SetupLogicTest, MissingMasterSceneIsReportedAndTheClipKeepsItsSettings) {
  live_.UseMaster = 1;
  live_.Lift = 12;
  sceneIndex_ = -1;
  SetupLogic& d = Open();
  ASSERT_EQ(hooks_.messages.size(), 1u);
  EXPECT_EQ(hooks_.messages[0], "The master scene referenced by this clip cannot be found.");
  EXPECT_TRUE(d.Checked("UseMasterButton"));
  EXPECT_EQ(d.Position("LiftBar"), 12);
  Render();
  EXPECT_EQ(Int16At(live_, kLift), 12);
  EXPECT_EQ(hooks_.messages.size(), 1u);
}

class SetupSceneTest : public SetupLogicTest {
 protected:
  SetupSceneTest() {
    scenes_ = std::make_unique<TSceneList>(collator_);
    for (const char* name : {"Alpha", "Beta"}) {
      auto scene = std::make_unique<TScene>();
      scene->Specs = live_;
      scene->Specs.Lift = std::string(name) == "Beta" ? 30 : 0;
      SetSceneName(scene->Specs, name);
      scenes_->Add(name, std::move(scene));
    }
    live_.Lift = 30;
    live_.UseMaster = 1;
    SetSceneName(live_, "Beta");
    sceneIndex_ = 2;
  }
};

TEST_F(SetupSceneTest, ALinkedClipOpensOnItsScene) {
  scenesDirty_ = true;
  SetupLogic& d = Open();
  EXPECT_EQ(d.State("SceneBox").items, (std::vector<std::string>{"<none>", "Alpha", "Beta"}));
  EXPECT_EQ(d.State("SceneBox").itemIndex, 2);
  EXPECT_TRUE(d.Checked("UseMasterButton"));
  EXPECT_FALSE(scenesDirty_);
  EXPECT_EQ(d.Text("DefaultSceneLabel"), "<none>");
}

TEST_F(SetupSceneTest, LeavingAPageAfterAChangeUnlinksTheClip) {
  SetupLogic& d = OpenQuiet();
  // No change: the link holds.
  d.PageChanging();
  d.PageChanged("ColourSheet");
  Render();
  EXPECT_EQ(sceneIndex_, 2);
  EXPECT_EQ(Int16At(live_, kUseMaster), 1);
  d.UserMovedBar("RLiftBar", 8);
  Render();
  d.PageChanging();
  EXPECT_EQ(sceneIndex_, 0);
  EXPECT_EQ(Int16At(live_, kUseMaster), 0);
  EXPECT_TRUE(d.Checked("UseIndividualButton"));
  EXPECT_EQ(d.State("SceneBox").itemIndex, 0);
}

TEST_F(SetupSceneTest, OnTheScenesPageEveryTransferChecksTheLink) {
  live_.PageIndex = 0;
  SetupLogic& d = OpenQuiet();
  EXPECT_EQ(sceneIndex_, 2);
  d.UserMovedBar("LiftBar", 31);  // (the balance keys change sliders while on this page)
  Render();
  EXPECT_EQ(sceneIndex_, 0);
  EXPECT_EQ(Int16At(live_, kUseMaster), 0);
}

TEST_F(SetupSceneTest, ClosingWithADifferentRecordDropsOnlyTheMasterFlag) {
  SetupLogic& d = OpenQuiet();
  d.UserMovedBar("KneeBar", 10);
  d.Ok();
  d.Close();
  EXPECT_EQ(Int16At(live_, kUseMaster), 0);
  EXPECT_EQ(sceneIndex_, 2);
}

// ---- Terminology ----

TEST_F(SetupLogicTest, LiftGroupsArePedestalsWhenTheOptionAsks) {
  options_.USTerminology = 1;
  Open();
  EXPECT_EQ(logic_->Text("LiftGroupBox"), " Pedestal ");
  EXPECT_EQ(logic_->Text("ColourLiftGroupBox"), " Pedestal ");
  options_.USTerminology = 0;
  Open();
  EXPECT_EQ(logic_->Text("LiftGroupBox"), " Lift ");
  EXPECT_EQ(logic_->Text("GammaGroupBox"), " Gamma ");
}

// ---- Table and binding agree ----

// Loading the built-in default record puts every slider at its factory
// position; and a field value loaded into a slider lands where the control
// table says the slider stands for it.
TEST_F(SetupLogicTest, TheControlTableDescribesTheBinding) {
  SetupLogic& d = Open();
  for (const ControlEntry& c : ControlEntries()) {
    if (c.kind != ControlKind::Bar || c.name == "FrameBar") continue;
    EXPECT_EQ(d.Position(c.name), d.State(c.name).defaultPosition) << c.name;
  }
  for (const ControlEntry& c : ControlEntries()) {
    if (c.kind != ControlKind::Bar || (c.map != FieldMap::Position && c.map != FieldMap::NegatedPosition) ||
        c.name == "FrameBar")
      continue;
    const SpecsField* f = FieldOf(c);
    ASSERT_NE(f, nullptr) << c.name;
    TSpecs s = live_;
    const int16_t value = static_cast<int16_t>(f->min + 1);
    SetField(s, *f, value);
    d.UpdateControls(s);
    EXPECT_EQ(d.Position(c.name), c.map == FieldMap::Position ? value : -value) << c.name;
    TSpecs out = live_;
    d.UpdateSpecs(out);
    EXPECT_EQ(GetField(out, *f), value) << c.name;
  }
}

// ---- Round trip ----

// A random record the dialog can produce: every setting within its range,
// the gain a multiple the multiplier allows, never both display boxes of the
// sharpening on, the preference levels those of the default record, no master
// link (no scene list here).
TSpecs RandomDialogRecord(std::mt19937& rng, const TSpecs& base, int32_t total) {
  TSpecs s = base;
  for (const SpecsField& f : SpecsFields()) {
    std::uniform_int_distribution<int> pick(f.min, f.max);
    SetField(s, f, static_cast<int16_t>(pick(rng)));
  }
  auto any = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  // Keep what the dialog never writes as it was.
  s.Version = base.Version;
  s.LastPart = static_cast<int16_t>(any(-5, 500));
  s.BalanceLabels = static_cast<int16_t>(any(0, 1));
  s.Vblack = base.Vblack;
  s.Vblank = base.Vblank;
  s.Vwhite = base.Vwhite;
  s.UseMaster = 0;
  s.FramePos = static_cast<int16_t>(any(0, total));
  const int multiplier = std::array{1, 2, 4}[static_cast<size_t>(any(0, 2))];
  const int bar = multiplier == 1 ? any(0, 199) : multiplier == 2 ? any(100, 199) : any(100, 200);
  s.Gain = static_cast<int16_t>(bar * multiplier);
  if (s.SharpShowEdges && s.SharpShowMask) (any(0, 1) ? s.SharpShowEdges : s.SharpShowMask) = 0;
  // Reserved bytes and the scene name are not the dialog's; fill them anyway.
  auto* bytes = reinterpret_cast<uint8_t*>(&s);
  for (int i : {36, 37, 50, 90, 100, 113, 125, 137, 150, 200}) bytes[i] = static_cast<uint8_t>(any(0, 255));
  SetSceneName(s, "Scene " + std::to_string(any(0, 999)));
  return s;
}

TEST_F(SetupLogicTest, EveryDialogRecordSurvivesLoadingAndStoring) {
  std::mt19937 rng(test::TestSeed());
  const int32_t total = 3000;
  // A new dialog per record, as each setup call opens one...
  for (int n = 0; n < 300; ++n) {
    live_ = RandomDialogRecord(rng, live_, total);
    const TSpecs before = live_;
    Open(total);
    Render();
    logic_->Ok();
    logic_->Close();
    ASSERT_EQ(std::memcmp(&live_, &before, sizeof(TSpecs)), 0) << "record " << n << ": " << Differences(live_, before);
  }
  // ...and one dialog loading record after record, as the scene actions do:
  // every setting is written, whatever the record held before.
  SetupLogic& d = Open(total);
  for (int n = 0; n < 300; ++n) {
    const TSpecs before = RandomDialogRecord(rng, live_, total);
    d.UpdateControls(before);
    TSpecs out = before;
    for (const SpecsField& f : SpecsFields()) {
      // Not the dialog's to write: the format, the host's frame, the readout
      // labels' mode and the clip levels (written by their edit boxes).
      const std::string_view keep[] = {"Version", "LastPart", "BalanceLabels", "Vmin", "Vmax"};
      if (std::find(std::begin(keep), std::end(keep), f.name) != std::end(keep)) continue;
      SetField(out, f, GetField(out, f) == f.max ? f.min : f.max);
    }
    d.UpdateSpecs(out);
    ASSERT_EQ(std::memcmp(&out, &before, sizeof(TSpecs)), 0) << "record " << n << ": " << Differences(out, before);
  }
}

}  // namespace
}  // namespace tarvo::ui
