#include "ui/logic/setup_logic.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>

#include "ui/logic/readout.h"

namespace tarvo::ui {
namespace {

constexpr std::string_view kMissingMaster = "The master scene referenced by this clip cannot be found.";
constexpr std::string_view kOpModeNotStored =
    "The operating mode could not be stored; it applies until the filter is unloaded.";

// Click handlers that do nothing but request a preview render.
constexpr std::string_view kKickOnly[] = {
    "TempSmoothBox",      "MedianBeforeBox",    "MedianAfterBox", "MedianWeightedBox",
    "NoiseMaskYOnlyButton", "NoiseMaskYUVButton", "NoiseShowMaskBox", "Pm444Button",
    "Pm422Button",        "Pm420Button",        "Pm411Button"};

constexpr std::string_view kProcButtons[] = {"Pm444Button", "Pm422Button", "Pm420Button", "Pm411Button"};
constexpr std::string_view kOpModeButtons[] = {"BypassModeButton", "DraftModeButton", "FinalModeButton"};
constexpr std::string_view kMotionBars[] = {"TempOnsetBar", "TempLimitBar", "TempResponseBar"};

bool In(std::string_view name, std::span<const std::string_view> list) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

// Record fields are 16 bits wide; a slider value beyond them (only the frame
// slider of a very long clip can have one) is held at the limit instead of
// wrapping round.
int16_t ToField(int64_t v) {
  return static_cast<int16_t>(std::clamp<int64_t>(v, std::numeric_limits<int16_t>::min(),
                                                  std::numeric_limits<int16_t>::max()));
}

int PageIndexOf(std::string_view page) {
  const auto pages = PageNames();
  const auto it = std::find(pages.begin(), pages.end(), page);
  return it == pages.end() ? -1 : static_cast<int>(it - pages.begin());
}

}  // namespace

SetupLogic::SetupLogic(const SetupContext& context, SetupHooks* hooks)
    : ctx_(context), hooks_(hooks ? hooks : &noHooks_) {
  const auto specs = ControlEntries();
  states_.resize(specs.size());
  for (size_t i = 0; i < specs.size(); ++i) {
    const ControlEntry& c = specs[i];
    ControlState& st = states_[i];
    st.helpContext = c.helpContext;
    st.text = std::string(c.caption);
    if (c.kind == ControlKind::Bar) {
      const BarRange r = BarRangeOf(c);
      st.min = r.min;
      st.max = r.max;
      st.pageSize = r.pageSize;
      st.position = st.originalPosition = st.defaultPosition = r.def;
      st.text.clear();
    }
    // Radio buttons start as the built-in default record has them.
    if (c.kind == ControlKind::RadioButton && c.map == FieldMap::Value) {
      if (const SpecsField* f = FieldOf(c)) st.checked = f->def == c.value;
    }
  }
  S("GainX1").checked = true;
  S("MonOnlyButton").checked = true;
  S("FinalModeButton").checked = true;
  // Motion detection is off in the design, and so are the sliders it governs.
  for (std::string_view bar : kMotionBars) S(bar).enabled = false;
  S("PageControl1").itemIndex = 1;
  if (ctx_.options) ApplyTerminology(ctx_.options->USTerminology);
}

// ---- State ----

ControlState& SetupLogic::S(std::string_view control) {
  const int i = ControlIndex(control);
  if (i < 0) throw std::out_of_range("no control named " + std::string(control));
  return states_[static_cast<size_t>(i)];
}

const ControlState& SetupLogic::State(std::string_view control) const {
  return const_cast<SetupLogic*>(this)->S(control);
}

int32_t SetupLogic::HelpContextOf(std::string_view control) const {
  for (const ControlEntry* c = FindControlEntry(control); c; c = FindControlEntry(c->parent)) {
    const int32_t ctx = State(c->name).helpContext;
    if (ctx != 0) return ctx;
    if (c->parent.empty()) break;
  }
  return kFormHelpContext;
}

const std::string& SetupLogic::ActivePage() const {
  static const std::vector<std::string> names(PageNames().begin(), PageNames().end());
  static const std::string none;
  const int32_t i = State("PageControl1").itemIndex;
  return i >= 0 && i < static_cast<int32_t>(names.size()) ? names[static_cast<size_t>(i)] : none;
}

void SetupLogic::Changed(std::string_view control) { hooks_->StateChanged(control); }

void SetupLogic::SetChangedFlag() {
  if (ctx_.changed) *ctx_.changed = true;
}

// ---- Changes made by code ----

void SetupLogic::SetOriginalPosition(std::string_view bar, int32_t value) {
  S(bar).originalPosition = value;
  SetPosition(bar, value);
}

void SetupLogic::SetPosition(std::string_view bar, int32_t value) {
  ControlState& st = S(bar);
  st.position = std::clamp(value, st.min, std::max(st.min, st.max));
  Changed(bar);
}

void SetupLogic::CheckRadio(std::string_view radio) { CheckRadioImpl(radio, false); }

void SetupLogic::CheckRadioImpl(std::string_view radio, bool /*byUser*/) {
  ControlState& st = S(radio);
  if (st.checked) return;
  const ControlEntry* ctrl = FindControlEntry(radio);
  for (const ControlEntry& other : ControlEntries()) {
    if (other.kind != ControlKind::RadioButton || other.parent != ctrl->parent || other.name == radio) continue;
    ControlState& o = S(other.name);
    if (o.checked) {
      o.checked = false;
      Changed(other.name);
    }
  }
  st.checked = true;
  Changed(radio);
  RunClick(radio, By(ctrl->name));
}

void SetupLogic::SetCheckBox(std::string_view box, bool checked) { ApplyCheckBox(box, checked, false); }

void SetupLogic::ApplyCheckBox(std::string_view box, bool checked, bool /*byUser*/) {
  ControlState& st = S(box);
  if (st.checked == checked) return;
  st.checked = checked;
  Changed(box);
  RunClick(box, By(FindControlEntry(box)->name));
}

void SetupLogic::SetKeyDown(std::string_view key, bool down) {
  ControlState& st = S(key);
  if (st.checked == down) return;
  st.checked = down;
  Changed(key);
}

void SetupLogic::SetEnabled(std::string_view control, bool enabled) {
  ControlState& st = S(control);
  if (st.enabled == enabled) return;
  st.enabled = enabled;
  Changed(control);
}

void SetupLogic::SetText(std::string_view control, std::string text) {
  ControlState& st = S(control);
  if (st.text == text) return;
  st.text = std::move(text);
  Changed(control);
}

void SetupLogic::SelectItem(std::string_view control, int32_t index) {
  ControlState& st = S(control);
  const int32_t count = static_cast<int32_t>(st.items.size());
  const int32_t chosen = index >= 0 && index < count ? index : -1;
  if (st.itemIndex == chosen) return;
  st.itemIndex = chosen;
  Changed(control);
}

void SetupLogic::SetItems(std::string_view control, std::vector<std::string> items) {
  ControlState& st = S(control);
  st.items = std::move(items);
  if (st.itemIndex >= static_cast<int32_t>(st.items.size())) st.itemIndex = -1;
  Changed(control);
}

void SetupLogic::SetFrameRange(int32_t total) {
  ControlState& st = S("FrameBar");
  st.min = 0;
  st.max = std::max(total, 0);
  st.pageSize = st.max / 10;
  st.position = std::clamp(st.position, st.min, st.max);
  Changed("FrameBar");
}

void SetupLogic::ApplyTerminology(int32_t usTerminology) {
  const char* caption = usTerminology == 1 ? " Pedestal " : " Lift ";
  SetText("LiftGroupBox", caption);
  SetText("ColourLiftGroupBox", caption);
}

// ---- What the user did ----

void SetupLogic::UserMovedBar(std::string_view bar, int32_t position) {
  SetFocusedControl(bar);
  SetPosition(bar, position);
  BarChange(bar, By(FindControlEntry(bar)->name));
}

void SetupLogic::UserClicked(std::string_view control) {
  const ControlEntry* ctrl = FindControlEntry(control);
  if (!ctrl) throw std::out_of_range("no control named " + std::string(control));
  switch (ctrl->kind) {
    case ControlKind::RadioButton:
      SetFocusedControl(control);
      CheckRadioImpl(control, true);
      break;
    case ControlKind::CheckBox:
      SetFocusedControl(control);
      ApplyCheckBox(control, !S(control).checked, true);
      break;
    case ControlKind::Button:
      SetFocusedControl(control);
      RunClick(control, By(ctrl->name));
      break;
    case ControlKind::KeyButton:
      UserPressedKey(control, !S(control).checked);
      break;
    default:
      break;
  }
}

void SetupLogic::UserPressedKey(std::string_view key, bool down) {
  ControlState& st = S(key);
  if (st.checked != down) {
    st.checked = down;
    Changed(key);
  }
  KeyClick(key, By(FindControlEntry(key)->name));
}

void SetupLogic::UserEditedText(std::string_view edit, std::string text) { SetText(edit, std::move(text)); }

void SetupLogic::EditExit(std::string_view edit) { ApplyClipLevel(edit, By(FindControlEntry(edit)->name)); }

bool SetupLogic::EditKeyDown(std::string_view edit, int key) {
  if (key != 13) return false;
  ApplyClipLevel(edit, By(FindControlEntry(edit)->name));
  return true;
}

bool SetupLogic::EditKeyPress(std::string_view /*edit*/, char ch) { return ch == '\r'; }

void SetupLogic::SetFocusedControl(std::string_view control) {
  const ControlEntry* ctrl = FindControlEntry(control);
  focused_ = ctrl ? std::string(ctrl->name) : std::string();
}

void SetupLogic::PageChanging() {
  if (ActivePage() != "ScenesSheet" && ctx_.live) SceneDetach(*ctx_.live);
}

void SetupLogic::PageChanged(std::string_view page) {
  const int index = PageIndexOf(page);
  if (index < 0) return;
  SetActivePage(index);
  S("PageControl1").helpContext = FindControlEntry(page)->helpContext;
  Changed("PageControl1");
  if (page == "AboutSheet") SetText("VersionLabel", std::string(kVersionText));
  KickTimer(By("PageControl1"));
}

void SetupLogic::SetActivePage(int32_t index) {
  ControlState& st = S("PageControl1");
  if (st.itemIndex == index) return;
  st.itemIndex = index;
  Changed("PageControl1");
}

// ---- Handlers ----

void SetupLogic::RunClick(std::string_view control, Sender sender) {
  if (control == "GainX1" || control == "GainX2" || control == "GainX4") {
    SetChangedFlag();
    KickTimer(sender);
  } else if (control == "TempMotionBox") {
    const bool on = Checked("TempMotionBox");
    for (std::string_view bar : kMotionBars) SetEnabled(bar, on);
    KickTimer(sender);
  } else if (control == "SharpShowEdgesBox") {
    if (Checked("SharpShowEdgesBox")) SetCheckBox("SharpShowMaskBox", false);
    KickTimer(sender);
  } else if (control == "SharpShowMaskBox") {
    if (Checked("SharpShowMaskBox")) SetCheckBox("SharpShowEdgesBox", false);
    KickTimer(sender);
  } else if (control == "TestModeBox") {
    // Only a click by the user; loading the controls sets the box from code.
    if (focused_ == "TestModeBox") {
      if (!Checked("TestModeBox")) hooks_->FrameBarChange(sender);
      SetChangedFlag();
      KickTimer(sender);
    }
  } else if (In(control, PatternButtons())) {
    if (Checked("MonOnlyButton") && Checked("TestModeBox")) hooks_->FrameBarChange(sender);
    SetChangedFlag();
    KickTimer(sender);
  } else if (In(control, kKickOnly)) {
    KickTimer(sender);
  } else if (In(control, kOpModeButtons)) {
    const auto it = std::find(std::begin(kOpModeButtons), std::end(kOpModeButtons), control);
    SetOpMode(static_cast<uint8_t>(it - std::begin(kOpModeButtons)));
  } else if (control == "OkButton") {
    Ok();
    hooks_->Click(control, sender);
  } else if (control == "CancelButton") {
    Cancel();
    hooks_->Click(control, sender);
  } else {
    hooks_->Click(control, sender);
  }
}

void SetupLogic::KeyClick(std::string_view key, Sender sender) {
  if (key == "YOnlyButton" || key == "COnlyButton") {
    // The two may both be up; pressing one down releases the other.
    if (Checked(key)) SetKeyDown(key == "YOnlyButton" ? "COnlyButton" : "YOnlyButton", false);
    SetChangedFlag();
    KickTimer(sender);
  } else if (key == "WFButton" || key == "VSButton" || key == "PixButton") {
    for (std::string_view other : {"WFButton", "VSButton", "PixButton"})
      if (other != key) SetKeyDown(other, false);
    hooks_->MonitorButtonClick(key, sender);
    KickTimer(sender);
  } else if (key == "BypassButton") {
    for (std::string_view b : {"WBButton1", "BBButton1", "WBButton2", "BBButton2"}) SetKeyDown(b, false);
    SetChangedFlag();
    hooks_->Click(key, sender);
    KickTimer(sender);
  } else {
    hooks_->Click(key, sender);
  }
}

void SetupLogic::BarChange(std::string_view bar, Sender sender) {
  if (bar == "FrameBar") {
    hooks_->FrameBarChange(sender);
    return;
  }
  const ControlEntry* ctrl = FindControlEntry(bar);
  if (!ctrl || ctrl->kind != ControlKind::Bar) return;
  if (!ctrl->readoutLabel.empty())
    SetText(ctrl->readoutLabel, ReadoutText(ctrl->readout, Position(bar), ctx_.decimalSeparator));
  if (ctrl->levelControl) SetChangedFlag();
  KickTimer(sender);
}

void SetupLogic::KickTimer(Sender sender) {
  if (sender.IsNone() || !active_) return;
  if (timerRunning_) {
    renderPending_ = true;
  } else {
    timerRunning_ = true;
    hooks_->StartTimer();
  }
}

void SetupLogic::SetOpMode(uint8_t mode) {
  if (ctx_.options) ctx_.options->OpMode = mode;
  if (ctx_.store && !ctx_.store->WriteInteger(kKeyProcessing, "OpMode", mode)) hooks_->Notice(kOpModeNotStored);
}

// ---- Record and controls ----

void SetupLogic::UpdateControls(const TSpecs& s) {
  // 1. The clip's scene state.
  const int32_t scene = SceneIndex();
  if (s.UseMaster == 1) {
    if (scene >= 1) {
      CheckRadio("UseMasterButton");
    } else if (scene == 0) {
      CheckRadio("UseIndividualButton");
    } else {
      CheckRadio("UseMasterButton");
      hooks_->ShowMessage(kMissingMaster);
    }
  } else {
    CheckRadio("UseIndividualButton");
  }
  SelectItem("SceneBox", scene >= 1 ? scene : 0);
  if (ctx_.options) SetText("DefaultSceneLabel", ctx_.options->DefaultScene);

  // 2, 3. Lift and gain with its multiplier.
  SetOriginalPosition("LiftBar", s.Lift);
  if (s.Gain >= 400) {
    SetOriginalPosition("GainBar", s.Gain / 4);
    CheckRadio("GainX4");
  } else if (s.Gain < 200) {
    SetOriginalPosition("GainBar", s.Gain);
    CheckRadio("GainX1");
  } else {
    SetOriginalPosition("GainBar", s.Gain / 2);
    CheckRadio("GainX2");
  }

  // 4. Levels and colour sliders, despeckle and noise mask.
  SetOriginalPosition("GammaBar", -s.Gamma);
  SetOriginalPosition("SatBar", s.Sat);
  SetOriginalPosition("KneeBar", s.Knee);
  SetOriginalPosition("SlopeBar", s.Slope);
  SetOriginalPosition("RLiftBar", s.RLift);
  SetOriginalPosition("GLiftBar", s.GLift);
  SetOriginalPosition("BLiftBar", s.BLift);
  SetOriginalPosition("RGainBar", s.RGain);
  SetOriginalPosition("GGainBar", s.GGain);
  SetOriginalPosition("BGainBar", s.BGain);
  SetOriginalPosition("RGammaBar", -s.RGamma);
  SetOriginalPosition("GGammaBar", -s.GGamma);
  SetOriginalPosition("BGammaBar", -s.BGamma);
  SetOriginalPosition("YDespeckleBar", s.YDespeckle);
  SetOriginalPosition("CDespeckleBar", s.CDespeckle);
  SetOriginalPosition("NoiseMaskBar", s.NoiseMask);

  // 5. Noise mask channels and display.
  CheckRadio(s.NoiseMaskYOnly < 1 ? "NoiseMaskYUVButton" : "NoiseMaskYOnlyButton");
  SetCheckBox("NoiseShowMaskBox", s.NoiseShowMask >= 1);

  // 6. Temporal.
  SetOriginalPosition("TempYThresholdBar", s.TempYThreshold);
  SetOriginalPosition("TempCThresholdBar", s.TempCThreshold);
  SetOriginalPosition("TempRecursionBar", s.TempRecursion);
  SetCheckBox("TempMotionBox", (s.TempFlags & 1) != 0);
  SetCheckBox("TempSmoothBox", (s.TempFlags & 2) != 0);
  SetOriginalPosition("TempOnsetBar", s.TempOnset);
  SetOriginalPosition("TempLimitBar", s.TempLimit);
  SetOriginalPosition("TempResponseBar", s.TempResponse);

  // 7. Median boxes and the edge display.
  SetCheckBox("MedianBeforeBox", (s.MedianWhen & 1) != 0);
  SetCheckBox("MedianAfterBox", (s.MedianWhen & 2) != 0);
  SetCheckBox("MedianWeightedBox", s.MedianWeighted >= 1);
  SetCheckBox("SharpShowEdgesBox", s.SharpShowEdges >= 1);

  // 8. Spatial and sharpness sliders, the sharpening mask display.
  SetOriginalPosition("NoiseSmoothBar", s.NoiseSmooth);
  SetOriginalPosition("MaskRadiusBar", s.MaskRadius);
  SetOriginalPosition("MedianLimitBar", s.MedianLimit);
  SetOriginalPosition("MedianThresholdBar", s.MedianThreshold);
  SetOriginalPosition("YSharpnessBar", s.YSharpness);
  SetOriginalPosition("CSharpnessBar", s.CSharpness);
  SetOriginalPosition("SharpMaskBar", s.SharpMask);
  SetCheckBox("SharpShowMaskBox", s.SharpShowMask >= 1);
  SetOriginalPosition("SharpSmoothBar", s.SharpSmooth);
  SetOriginalPosition("SharpRadiusBar", s.SharpRadius);
  SetOriginalPosition("LevelDependBar", s.LevelDepend);

  // 9. Processing mode; an unknown value leaves the buttons as they are.
  if (s.ProcMode >= 0 && s.ProcMode <= 3) CheckRadio(kProcButtons[s.ProcMode]);

  // 10. Test mode.
  SetCheckBox("TestModeBox", s.TestSignal != 0);
  if (s.TestSignal >= 1 && s.TestSignal <= 7)
    CheckRadio(PatternButtons()[static_cast<size_t>(s.TestSignal - 1)]);
  else
    CheckRadio("MonOnlyButton");

  // 11. Clip levels.
  SetText("VminEdit", std::to_string(s.Vmin));
  SetText("VmaxEdit", std::to_string(s.Vmax));

  // 12. Preview window box.
  SetCheckBox("PreviewBox", ctx_.previewPersistent == 1 && ctx_.previewVisible == 1);

  // 13. Derived values.
  derived_ = ComputeDerived(s);

  // 14. Monitor role.
  if (s.MonitorView >= 0 && s.MonitorView <= 2) {
    constexpr std::string_view kViews[] = {"PixButton", "WFButton", "VSButton"};
    const std::string_view key = kViews[s.MonitorView];
    SetKeyDown(key, true);
    KeyClick(key, kNoSender);
  }

  // 15. Channel view. The two keys exclude each other, so putting one down
  // releases the other: otherwise a record loaded over one that showed the
  // other channel would keep both down and store the wrong view.
  if (s.ChannelView >= 0 && s.ChannelView <= 2) {
    SetKeyDown("YOnlyButton", s.ChannelView == 1);
    SetKeyDown("COnlyButton", s.ChannelView == 2);
  }

  // 16. Bypass key.
  SetKeyDown("BypassButton", s.Bypass >= 1);

  // 17. Readout labels.
  if (s.BalanceLabels == 0) {
    SetText("TopLabel", "R");
    SetText("MidLabel", "G");
    SetText("BotLabel", "B");
  } else if (s.BalanceLabels == 1) {
    SetText("TopLabel", "Y");
    SetText("MidLabel", "Cb");
    SetText("BotLabel", "Cr");
  }

  // 18. Frame slider.
  SetOriginalPosition("FrameBar", s.FramePos);

  // 19. Active page; an unknown index shows Levels.
  SetActivePage(s.PageIndex >= 0 && s.PageIndex <= 7 ? s.PageIndex : 1);

  // 20. Every slider's change handler as the dialog's own call: readouts and
  // the frame text.
  for (std::string_view bar : BarChangeOrder()) BarChange(bar, kNoSender);

  // 21. Operating mode.
  if (ctx_.options && ctx_.options->OpMode <= 2) CheckRadio(kOpModeButtons[ctx_.options->OpMode]);
}

void SetupLogic::UpdateSpecs(TSpecs& s) {
  auto pos = [this](std::string_view bar) { return ToField(Position(bar)); };
  auto neg = [this](std::string_view bar) { return ToField(-int64_t{Position(bar)}); };
  auto flag = [this](std::string_view box) { return static_cast<int16_t>(Checked(box) ? 1 : 0); };

  // 1.
  s.UseMaster = flag("UseMasterButton");
  // 2.
  s.Lift = pos("LiftBar");
  const int32_t multiplier = Checked("GainX1") ? 1 : Checked("GainX2") ? 2 : Checked("GainX4") ? 4 : 0;
  if (multiplier != 0) s.Gain = ToField(int64_t{Position("GainBar")} * multiplier);
  s.Gamma = neg("GammaBar");
  s.Sat = pos("SatBar");
  s.Knee = pos("KneeBar");
  s.Slope = pos("SlopeBar");
  s.RLift = pos("RLiftBar");
  s.GLift = pos("GLiftBar");
  s.BLift = pos("BLiftBar");
  s.RGain = pos("RGainBar");
  s.GGain = pos("GGainBar");
  s.BGain = pos("BGainBar");
  s.RGamma = neg("RGammaBar");
  s.GGamma = neg("GGammaBar");
  s.BGamma = neg("BGammaBar");
  // 3.
  s.YDespeckle = pos("YDespeckleBar");
  s.CDespeckle = pos("CDespeckleBar");
  s.NoiseMask = pos("NoiseMaskBar");
  s.NoiseMaskYOnly = flag("NoiseMaskYOnlyButton");
  s.NoiseShowMask = flag("NoiseShowMaskBox");
  s.NoiseSmooth = pos("NoiseSmoothBar");
  s.MaskRadius = pos("MaskRadiusBar");
  s.MedianLimit = pos("MedianLimitBar");
  s.MedianThreshold = pos("MedianThresholdBar");
  s.MedianWhen = static_cast<int16_t>(flag("MedianBeforeBox") + 2 * flag("MedianAfterBox"));
  s.MedianWeighted = flag("MedianWeightedBox");
  // 4.
  s.YSharpness = pos("YSharpnessBar");
  s.CSharpness = pos("CSharpnessBar");
  s.SharpShowEdges = flag("SharpShowEdgesBox");
  s.SharpMask = pos("SharpMaskBar");
  s.SharpSmooth = pos("SharpSmoothBar");
  s.SharpShowMask = flag("SharpShowMaskBox");
  s.SharpRadius = pos("SharpRadiusBar");
  s.LevelDepend = pos("LevelDependBar");
  // 5.
  s.TempYThreshold = pos("TempYThresholdBar");
  s.TempCThreshold = pos("TempCThresholdBar");
  s.TempRecursion = pos("TempRecursionBar");
  s.TempFlags = static_cast<int16_t>(2 * flag("TempSmoothBox") + flag("TempMotionBox"));
  s.TempOnset = pos("TempOnsetBar");
  s.TempLimit = pos("TempLimitBar");
  s.TempResponse = pos("TempResponseBar");
  // 6.
  for (int16_t m = 0; m < 4; ++m)
    if (Checked(kProcButtons[m])) {
      s.ProcMode = m;
      break;
    }
  // 7. The preference levels.
  if (ctx_.defaults) {
    s.Vblack = ctx_.defaults->Vblack;
    s.Vblank = ctx_.defaults->Vblank;
    s.Vwhite = ctx_.defaults->Vwhite;
  }
  // 8. Test mode.
  const auto patterns = PatternButtons();
  if (Checked("TestModeBox")) {
    for (std::string_view b : patterns) SetEnabled(b, true);
    for (size_t i = 0; i < patterns.size(); ++i)
      if (Checked(patterns[i])) {
        s.TestSignal = static_cast<int16_t>(i + 1);
        break;
      }
  } else {
    for (std::string_view b : patterns) SetEnabled(b, false);
    s.TestSignal = 0;
  }
  // 9. Monitor and channel views.
  if (Checked("PixButton"))
    s.MonitorView = 0;
  else if (Checked("WFButton"))
    s.MonitorView = 1;
  else if (Checked("VSButton"))
    s.MonitorView = 2;
  s.ChannelView = static_cast<int16_t>(Checked("YOnlyButton") ? 1 : Checked("COnlyButton") ? 2 : 0);
  // 10.
  s.Bypass = static_cast<int16_t>(
      Checked("BypassButton") || Checked("BBButton0") || Checked("WBButton0") || Checked("CBButton0") ? 1 : 0);
  // 11.
  s.FramePos = pos("FrameBar");
  // 12.
  const int page = PageIndexOf(ActivePage());
  s.PageIndex = static_cast<int16_t>(page < 0 ? 0 : page);
  // 13.
  if (s.PageIndex == 0 && SceneIndex() >= 1) SceneDetach(s);
}

const TSpecs* SetupLogic::SceneRecord(int32_t index) const {
  if (!ctx_.scenes || index < 1 || index >= ctx_.scenes->Count()) return nullptr;
  const TScene* scene = ctx_.scenes->Scene(index);
  return scene ? &scene->Specs : nullptr;
}

void SetupLogic::SceneDetach(TSpecs& specs) {
  const int32_t index = SceneIndex();
  if (index < 1) return;
  const TSpecs* scene = SceneRecord(index);
  if (!scene || SpecsEqual(specs, *scene)) return;
  *ctx_.sceneIndex = 0;
  specs.UseMaster = 0;
  CheckRadio("UseIndividualButton");
  SelectItem("SceneBox", 0);
}

void SetupLogic::ApplyClipLevel(std::string_view edit, Sender sender) {
  if (!ctx_.live) return;
  const bool isMin = edit == "VminEdit";
  const std::optional<int32_t> typed = ParseClipLevel(Text(edit));
  const int32_t value = std::clamp(typed ? *typed : (isMin ? 0 : 255), 0, 255);
  int16_t& field = isMin ? ctx_.live->Vmin : ctx_.live->Vmax;
  if (value == field) return;
  field = static_cast<int16_t>(value);
  SetText(edit, std::to_string(value));
  SetChangedFlag();
  UpdateSpecs(*ctx_.live);
  derived_ = ComputeDerived(*ctx_.live);
  hooks_->ClipLevelsChanged();
  KickTimer(sender);
}

// ---- Life cycle ----

void SetupLogic::Activate(Sender sender) {
  showHints_ = !ctx_.options || ctx_.options->ShowHints == 1;
  Changed("TSetup");
  if (ctx_.scenes) {
    if (ctx_.scenes->FileName().empty() && ctx_.options) {
      std::string error;
      if (!ctx_.scenes->SetFileName(ctx_.options->SceneFile, &error) && !error.empty()) hooks_->Notice(error);
    }
    if (State("SceneBox").items.empty()) {
      std::vector<std::string> names;
      for (int i = 0; i < ctx_.scenes->Count(); ++i) names.push_back(ctx_.scenes->Name(i));
      SetItems("SceneBox", std::move(names));
      if (ctx_.scenesDirty) *ctx_.scenesDirty = false;
    }
  }
  if (!loaded_ && ctx_.live) {
    loaded_ = true;
    UpdateControls(*ctx_.live);
  }
  active_ = true;
  KickTimer(sender);
}

bool SetupLogic::RenderBegin() {
  timerRunning_ = false;
  if (!active_ || !ctx_.live) return false;
  UpdateSpecs(*ctx_.live);
  return true;
}

void SetupLogic::RenderPipelineDone() { renderPending_ = false; }

void SetupLogic::RenderEnd() {
  if (renderPending_ && !timerRunning_) {
    timerRunning_ = true;
    hooks_->StartTimer();
  }
}

void SetupLogic::Ok() {
  if (loaded_ && ctx_.live) UpdateSpecs(*ctx_.live);
}

void SetupLogic::Cancel() {
  if (ctx_.live && ctx_.previous) *ctx_.live = *ctx_.previous;
  cancelled_ = true;
}

void SetupLogic::Close() {
  if (timerRunning_) hooks_->StopTimer();
  timerRunning_ = false;
  renderPending_ = false;
  active_ = false;
  if (ctx_.live && SceneIndex() >= 1) {
    const TSpecs* scene = SceneRecord(SceneIndex());
    if (scene && !SpecsEqual(*ctx_.live, *scene)) ctx_.live->UseMaster = 0;
  }
}

}  // namespace tarvo::ui
