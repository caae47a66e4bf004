#include "ui/logic/revert_reset.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "options/options.h"
#include "ui/logic/control_table.h"

namespace tarvo::ui {
namespace {

constexpr PopupItem kPopupItems[] = {
    {"Revert1", "Revert", "Revert current control to saved value"},
    {"Reset1", "Reset", "Reset current control to default value"},
    {"N1", "-", ""},
    {"Revert2", "Revert Page", "Revert page to saved values"},
    {"Reset2", "Reset Page", "Reset page to default values"},
    {"N2", "-", ""},
    {"Revert3", "Revert All", "Revert all pages to saved values"},
    {"Reset3", "Reset All", "Reset all pages to default values"},
};

constexpr std::string_view kGainControls[] = {"GainBar", "GainX1", "GainX2", "GainX4"};
constexpr std::string_view kNoiseMaskControls[] = {"NoiseMaskBar", "NoiseMaskYOnlyButton", "NoiseMaskYUVButton"};
constexpr std::string_view kProcButtons[] = {"Pm444Button", "Pm422Button", "Pm420Button", "Pm411Button"};
constexpr std::string_view kResetBoxes[] = {"MedianBeforeBox", "MedianAfterBox", "MedianWeightedBox",
                                            "TempSmoothBox", "TempMotionBox"};
constexpr std::string_view kColourBars[] = {"RLiftBar", "GLiftBar", "BLiftBar",   "RGainBar",  "GGainBar",
                                            "BGainBar", "RGammaBar", "GGammaBar", "BGammaBar"};
constexpr std::string_view kSharpBars[] = {"YSharpnessBar", "CSharpnessBar", "SharpMaskBar",
                                           "SharpSmoothBar", "SharpRadiusBar", "LevelDependBar"};
constexpr std::string_view kRightClickPages[] = {"SharpnessSheet", "TemporalSheet", "SpatialSheet", "SettingsSheet"};

template <size_t N>
bool In(std::string_view name, const std::string_view (&list)[N]) {
  return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

bool InTestModeGroup(std::string_view control) {
  if (control == "TestModeGroupBox") return true;
  const ControlEntry* ctrl = FindControlEntry(control);
  return ctrl && ctrl->parent == "TestModeGroupBox";
}

// The page a control sits on, or "".
std::string_view PageOf(std::string_view control) {
  for (const ControlEntry* c = FindControlEntry(control); c; c = FindControlEntry(c->parent)) {
    if (c->kind == ControlKind::Page) return c->name;
    if (c->parent.empty()) break;
  }
  return {};
}

// Nearest integer, halves to the even neighbour.
int32_t Nearest(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

}  // namespace

std::span<const PopupItem> PopupMenuItems() { return kPopupItems; }

bool RightClickChoosesControl(std::string_view control) {
  if (control == "PageControl1" || control == "UseMasterButton" || control == "UseIndividualButton") return true;
  if (control == "VminEdit" || control == "VmaxEdit" || control == "TestModeBox") return true;
  const ControlEntry* ctrl = FindControlEntry(control);
  if (!ctrl) return false;
  if (ctrl->kind == ControlKind::Bar) return true;
  if (control == "GainX1" || control == "GainX2" || control == "GainX4") return true;
  if (ctrl->kind != ControlKind::CheckBox && ctrl->kind != ControlKind::RadioButton) return false;
  const auto patterns = PatternButtons();
  if (std::find(patterns.begin(), patterns.end(), control) != patterns.end()) return false;
  return In(PageOf(control), kRightClickPages);
}

RevertReset::RevertReset(SetupLogic& logic, SetupHooks& hooks, Confirmer& confirm, TSpecs* userDefaults,
                         OptionStore* store)
    : logic_(logic), hooks_(hooks), confirm_(confirm), userDefaults_(userDefaults), store_(store) {}

const TSpecs& RevertReset::Previous() const {
  const TSpecs* p = logic_.Context().previous;
  return p ? *p : *logic_.Context().live;
}

bool RevertReset::Section(std::string_view page) const { return allPages_ || logic_.ActivePage() == page; }

void RevertReset::RevertBar(std::string_view bar, Sender sender) {
  logic_.SetPosition(bar, logic_.State(bar).originalPosition);
  logic_.BarChange(bar, sender);
}

void RevertReset::ResetBar(std::string_view bar, Sender sender) {
  logic_.SetPosition(bar, logic_.State(bar).defaultPosition);
  logic_.BarChange(bar, sender);
}

void RevertReset::RevertGain(Sender sender) {
  const int32_t g = Previous().Gain;
  if (g <= 200) {
    logic_.CheckRadio("GainX1");
    logic_.SetPosition("GainBar", g);
  } else if (g > 400) {
    logic_.CheckRadio("GainX4");
    logic_.SetPosition("GainBar", Nearest(g * 0.25));
  } else {
    logic_.CheckRadio("GainX2");
    logic_.SetPosition("GainBar", Nearest(g * 0.5));
  }
  logic_.BarChange("GainBar", sender);
}

void RevertReset::RevertNoiseMaskButtons() {
  const int16_t v = Previous().NoiseMaskYOnly;
  if (v == 0) logic_.CheckRadio("NoiseMaskYUVButton");
  else if (v == 1) logic_.CheckRadio("NoiseMaskYOnlyButton");
}

void RevertReset::RevertTestMode() {
  const int16_t t = Previous().TestSignal;
  logic_.SetCheckBox("TestModeBox", t != 0);
  logic_.CheckRadio(t >= 1 && t <= 7 ? PatternButtons()[static_cast<size_t>(t - 1)] : "MonOnlyButton");
}

void RevertReset::ResetTestMode() {
  logic_.SetCheckBox("TestModeBox", false);
  logic_.CheckRadio("MonOnlyButton");
}

void RevertReset::RevertProcMode() {
  const int16_t m = Previous().ProcMode;
  if (m >= 0 && m <= 3) logic_.CheckRadio(kProcButtons[m]);
}

void RevertReset::ResetProcMode() {
  const int16_t m = userDefaults_ ? userDefaults_->ProcMode : int16_t{0};
  if (m >= 0 && m <= 3) logic_.CheckRadio(kProcButtons[m]);
}

void RevertReset::SetClipLevel(std::string_view edit, int32_t value, Sender sender) {
  logic_.SetText(edit, std::to_string(value));
  logic_.ApplyClipLevel(edit, sender);
}

void RevertReset::ResetFrameBar(Sender sender) {
  TSpecs* live = logic_.Context().live;
  if (!live) return;
  logic_.SetPosition("FrameBar", live->LastPart);
  live->FramePos = static_cast<int16_t>(std::clamp<int32_t>(logic_.Position("FrameBar"), INT16_MIN, INT16_MAX));
  logic_.BarChange("FrameBar", sender);
}

void RevertReset::RevertControl(Sender sender) {
  const std::string c(logic_.FocusedControl());
  const TSpecs& prev = Previous();
  if (In(c, kGainControls)) {
    RevertGain(sender);
  } else if (In(c, kNoiseMaskControls)) {
    RevertBar("NoiseMaskBar", sender);
    RevertNoiseMaskButtons();
  } else if (c == "MedianBeforeBox") {
    logic_.SetCheckBox(c, (prev.MedianWhen & 1) != 0);
  } else if (c == "MedianAfterBox") {
    logic_.SetCheckBox(c, (prev.MedianWhen & 2) != 0);
  } else if (c == "MedianWeightedBox") {
    logic_.SetCheckBox(c, prev.MedianWeighted >= 1);
  } else if (c == "TempSmoothBox") {
    logic_.SetCheckBox(c, (prev.TempFlags & 2) != 0);
  } else if (c == "TempMotionBox") {
    logic_.SetCheckBox(c, (prev.TempFlags & 1) != 0);
  } else if (In(c, kProcButtons)) {
    RevertProcMode();
    logic_.KickTimer(sender);
  } else if (c == "VminEdit") {
    SetClipLevel(c, prev.Vmin, sender);
    logic_.KickTimer(sender);
  } else if (c == "VmaxEdit") {
    SetClipLevel(c, prev.Vmax, sender);
    logic_.KickTimer(sender);
  } else if (c == "TestModeBox" || InTestModeGroup(c)) {
    RevertTestMode();
  } else if (const ControlEntry* ctrl = FindControlEntry(c); ctrl && ctrl->kind == ControlKind::Bar) {
    RevertBar(c, sender);
  }
}

void RevertReset::ResetControl(Sender sender) {
  const std::string c(logic_.FocusedControl());
  if (In(c, kGainControls)) {
    ResetBar("GainBar", sender);
    logic_.CheckRadio("GainX1");
  } else if (In(c, kNoiseMaskControls)) {
    ResetBar("NoiseMaskBar", sender);
    logic_.CheckRadio("NoiseMaskYOnlyButton");
  } else if (In(c, kResetBoxes)) {
    logic_.SetCheckBox(c, false);
  } else if (In(c, kProcButtons)) {
    ResetProcMode();
  } else if (c == "VminEdit") {
    SetClipLevel(c, userDefaults_ ? userDefaults_->Vmin : 0, sender);
  } else if (c == "VmaxEdit") {
    SetClipLevel(c, userDefaults_ ? userDefaults_->Vmax : 255, sender);
  } else if (c == "TestModeBox" || InTestModeGroup(c)) {
    ResetTestMode();
  } else if (c == "FrameBar") {
    ResetFrameBar(sender);
  } else if (const ControlEntry* ctrl = FindControlEntry(c); ctrl && ctrl->kind == ControlKind::Bar) {
    ResetBar(c, sender);
  }
}

void RevertReset::RevertPage(Sender sender) {
  const TSpecs& prev = Previous();
  if (Section("LevelsSheet")) {
    RevertBar("LiftBar", sender);
    RevertGain(sender);
    for (std::string_view bar : {"GammaBar", "SatBar", "KneeBar", "SlopeBar"}) RevertBar(bar, sender);
  }
  if (Section("ColourSheet"))
    for (std::string_view bar : kColourBars) RevertBar(bar, sender);
  if (Section("SharpnessSheet"))
    for (std::string_view bar : kSharpBars) RevertBar(bar, sender);
  if (Section("TemporalSheet")) {
    for (std::string_view bar : {"TempYThresholdBar", "TempCThresholdBar", "TempRecursionBar"}) RevertBar(bar, sender);
    logic_.SetCheckBox("TempSmoothBox", (prev.TempFlags & 2) != 0);
    logic_.SetCheckBox("TempMotionBox", (prev.TempFlags & 1) != 0);
    for (std::string_view bar : {"TempOnsetBar", "TempLimitBar", "TempResponseBar"}) RevertBar(bar, sender);
  }
  if (Section("SpatialSheet")) {
    for (std::string_view bar : {"YDespeckleBar", "CDespeckleBar", "NoiseMaskBar"}) RevertBar(bar, sender);
    RevertNoiseMaskButtons();
    for (std::string_view bar : {"NoiseSmoothBar", "MaskRadiusBar", "MedianLimitBar", "MedianThresholdBar"})
      RevertBar(bar, sender);
    logic_.SetCheckBox("MedianBeforeBox", (prev.MedianWhen & 1) != 0);
    logic_.SetCheckBox("MedianAfterBox", (prev.MedianWhen & 2) != 0);
    logic_.SetCheckBox("MedianWeightedBox", prev.MedianWeighted >= 1);
  }
  if (Section("SettingsSheet")) {
    RevertProcMode();
    SetClipLevel("VminEdit", prev.Vmin, kNoSender);
    SetClipLevel("VmaxEdit", prev.Vmax, kNoSender);
    RevertTestMode();
  }
  allPages_ = false;
  logic_.KickTimer(sender);
}

void RevertReset::ResetPage(Sender sender) {
  if (Section("LevelsSheet")) {
    ResetBar("LiftBar", sender);
    ResetBar("GainBar", sender);
    logic_.CheckRadio("GainX1");
    for (std::string_view bar : {"GammaBar", "SatBar", "KneeBar", "SlopeBar"}) ResetBar(bar, sender);
  }
  if (Section("ColourSheet"))
    for (std::string_view bar : kColourBars) ResetBar(bar, sender);
  if (Section("SharpnessSheet"))
    for (std::string_view bar : kSharpBars) ResetBar(bar, sender);
  if (Section("TemporalSheet")) {
    for (std::string_view bar : {"TempYThresholdBar", "TempCThresholdBar", "TempRecursionBar", "TempOnsetBar",
                                 "TempLimitBar", "TempResponseBar"})
      ResetBar(bar, sender);
    logic_.SetCheckBox("TempSmoothBox", false);
    logic_.SetCheckBox("TempMotionBox", false);
  }
  if (Section("SpatialSheet")) {
    for (std::string_view bar : {"YDespeckleBar", "CDespeckleBar", "NoiseMaskBar"}) ResetBar(bar, sender);
    logic_.CheckRadio("NoiseMaskYOnlyButton");
    for (std::string_view bar : {"NoiseSmoothBar", "MaskRadiusBar", "MedianLimitBar", "MedianThresholdBar"})
      ResetBar(bar, sender);
    for (std::string_view box : {"MedianBeforeBox", "MedianAfterBox", "MedianWeightedBox"})
      logic_.SetCheckBox(box, false);
  }
  if (Section("SettingsSheet")) {
    ResetProcMode();
    SetClipLevel("VminEdit", userDefaults_ ? userDefaults_->Vmin : 0, sender);
    SetClipLevel("VmaxEdit", userDefaults_ ? userDefaults_->Vmax : 255, sender);
    ResetTestMode();
  }
  if (allPages_) ResetFrameBar(sender);
  allPages_ = false;
  logic_.KickTimer(sender);
}

void RevertReset::RevertAll(Sender sender) {
  allPages_ = true;
  RevertPage(sender);
}

void RevertReset::ResetAll(Sender sender) {
  allPages_ = true;
  ResetPage(sender);
}

void RevertReset::SetDefaults() {
  if (!confirm_.Confirm(kSetDefaultsQuestion)) return;
  const TSpecs* live = logic_.Context().live;
  if (!live || !userDefaults_) return;
  userDefaults_->ProcMode = live->ProcMode;
  userDefaults_->Vmin = live->Vmin;
  userDefaults_->Vmax = live->Vmax;
  UpdateSysReg();
}

bool RevertReset::UpdateSysReg() {
  if (!store_ || !userDefaults_) return true;
  bool ok = store_->WriteInteger(kKeyClipping, "Vmin", userDefaults_->Vmin);
  ok = store_->WriteInteger(kKeyClipping, "Vmax", userDefaults_->Vmax) && ok;
  ok = store_->WriteInteger(kKeyProcessing, "ProcMode", userDefaults_->ProcMode) && ok;
  if (!ok)
    hooks_.Notice("The default settings could not be stored; they apply until the filter is unloaded.");
  return ok;
}

}  // namespace tarvo::ui
