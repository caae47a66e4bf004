#include "ui/logic/prefer_logic.h"

#include <algorithm>
#include <stdexcept>

#include "types/rounding.h"
#include "ui/logic/readout.h"

namespace tarvo::ui {

const std::vector<std::string> kPreferPageItems = {"Scenes",   "Levels",  "Colour",  "Sharpness",
                                                   "Temporal", "Spatial", "Settings"};

namespace {

constexpr char kNotStored[] =
    "The preferences could not be stored; they apply until the filter is unloaded.";

constexpr std::string_view kBlackPresets[] = {"BlackBlankButton", "BlackNTSCButton", "BlackCustomButton"};
constexpr std::string_view kControls[] = {
    "VblankEdit",       "VwhiteEdit",        "VblackEdit",     "BlackBlankButton", "BlackNTSCButton",
    "BlackCustomButton", "NTSCBlacksBox",    "PrevPersistentBox", "PrevWidthEdit", "PrevHeightEdit",
    "ShowHintsBox",     "UseMastersBox",     "PageBox",        "SceneFileEdit",    "PedBox",
    "OKBtn"};

int32_t ToLevel(int32_t v) { return std::clamp(v, 0, 255); }

}  // namespace

int32_t PreferLogic::NtscBlack(int32_t vblank, int32_t vwhite) {
  return static_cast<int32_t>(
      Rnd(static_cast<long double>(vblank) + static_cast<long double>(int64_t{vwhite} - vblank) * 0.075L));
}

PreferLogic::PreferLogic(const PreferContext& context, PreferHooks* hooks)
    : ctx_(context), hooks_(hooks ? hooks : &noHooks_) {
  for (std::string_view c : kControls) states_.emplace(std::string(c), PreferControlState{});
  // As laid out in the form.
  S("BlackBlankButton").checked = true;
  S("VblackEdit").enabled = false;
}

PreferControlState& PreferLogic::S(std::string_view control) {
  auto it = states_.find(control);
  if (it == states_.end()) throw std::out_of_range("no preferences control " + std::string(control));
  return it->second;
}

const PreferControlState& PreferLogic::State(std::string_view control) const {
  auto it = states_.find(control);
  if (it == states_.end()) throw std::out_of_range("no preferences control " + std::string(control));
  return it->second;
}

void PreferLogic::Changed(std::string_view control) { hooks_->StateChanged(control); }

void PreferLogic::SetText(std::string_view control, std::string text) {
  PreferControlState& st = S(control);
  if (st.text == text) return;
  st.text = std::move(text);
  Changed(control);
}

void PreferLogic::SetEnabled(std::string_view control, bool enabled) {
  PreferControlState& st = S(control);
  if (st.enabled == enabled) return;
  st.enabled = enabled;
  Changed(control);
}

void PreferLogic::CheckRadio(std::string_view radio) {
  if (Checked(radio)) return;
  for (std::string_view other : kBlackPresets) {
    if (other != radio && Checked(other)) {
      S(other).checked = false;
      Changed(other);
    }
  }
  S(radio).checked = true;
  Changed(radio);
  RunClick(radio, false);
}

void PreferLogic::SetCheckBox(std::string_view box, bool checked) {
  if (Checked(box) == checked) return;
  S(box).checked = checked;
  Changed(box);
  RunClick(box, false);
}

void PreferLogic::Create() {
  const TSpecs& d = *ctx_.defaults;
  const Options& o = *ctx_.options;
  const PreviewOptions& p = *ctx_.preview;
  SetText("VblankEdit", std::to_string(d.Vblank));
  SetText("VblackEdit", std::to_string(d.Vblack));
  SetText("VwhiteEdit", std::to_string(d.Vwhite));

  if (d.Vblank == d.Vblack) CheckRadio("BlackBlankButton");
  else if (NtscBlack(d.Vblank, d.Vwhite) == d.Vblack) CheckRadio("BlackNTSCButton");
  else CheckRadio("BlackCustomButton");

  SetCheckBox("NTSCBlacksBox", o.NTSCBlacks == 1);
  SetCheckBox("PrevPersistentBox", p.Persistent == 1);
  SetText("PrevWidthEdit", std::to_string(p.Width));
  SetText("PrevHeightEdit", std::to_string(p.Height));
  SetCheckBox("ShowHintsBox", o.ShowHints == 1);
  SetCheckBox("UseMastersBox", o.UseMasters == 1);
  SetText("SceneFileEdit", o.SceneFile);
  PreferControlState& page = S("PageBox");
  page.itemIndex = std::clamp<int32_t>(o.DefaultPage, 0, static_cast<int32_t>(kPreferPageItems.size()) - 1);
  Changed("PageBox");
  SetCheckBox("PedBox", o.USTerminology == 1);
  showHints_ = o.ShowHints == 1;
}

// ---- Levels ----

void PreferLogic::LevelsStep() {
  optionsChanged_ = true;
  hooks_->LevelsChanged();
}

void PreferLogic::VblankEditExit() {
  TSpecs& d = *ctx_.defaults;
  const int32_t n = ToLevel(ParseClipLevel(Text("VblankEdit")).value_or(kLevelFallback));
  if (n == d.Vblank) return;
  d.Vblank = static_cast<int16_t>(n);
  SetText("VblankEdit", std::to_string(n));
  if (Checked("BlackCustomButton")) {
    if (d.Vblack < n) {
      d.Vblack = static_cast<int16_t>(n);
      SetText("VblackEdit", std::to_string(n));
    }
  } else if (Checked("BlackBlankButton")) {
    d.Vblack = static_cast<int16_t>(n);
    SetText("VblackEdit", Text("VblankEdit"));
  } else if (Checked("BlackNTSCButton")) {
    d.Vblack = static_cast<int16_t>(NtscBlack(d.Vblank, d.Vwhite));
    SetText("VblackEdit", std::to_string(d.Vblack));
  }
  LevelsStep();
}

void PreferLogic::VwhiteEditExit() {
  TSpecs& d = *ctx_.defaults;
  int32_t n = ToLevel(ParseClipLevel(Text("VwhiteEdit")).value_or(kLevelFallback));
  if (n < d.Vblack) n = d.Vblack;
  if (n == d.Vwhite) return;
  d.Vwhite = static_cast<int16_t>(n);
  SetText("VwhiteEdit", std::to_string(n));
  if (Checked("BlackNTSCButton")) {
    d.Vblack = static_cast<int16_t>(NtscBlack(d.Vblank, d.Vwhite));
    SetText("VblackEdit", std::to_string(d.Vblack));
  }
  LevelsStep();
}

void PreferLogic::VblackEditExit() {
  TSpecs& d = *ctx_.defaults;
  int32_t n = ToLevel(ParseClipLevel(Text("VblackEdit")).value_or(kLevelFallback));
  if (n > d.Vwhite) n = d.Vwhite;
  if (n < d.Vblank) n = d.Vblank;
  if (n == d.Vblack) return;
  d.Vblack = static_cast<int16_t>(n);
  SetText("VblackEdit", std::to_string(n));
  LevelsStep();
}

// ---- Preview size ----

void PreferLogic::PreviewSizeExit(std::string_view edit, int32_t PreviewOptions::*member) {
  int32_t n = ParseClipLevel(Text(edit)).value_or(kPreviewSizeFallback);
  if (n == ctx_.preview->*member) return;  // the box keeps its text
  n = std::clamp(n, kPreviewSizeMin, kPreviewSizeMax);
  // An open preview window is closed and opened again, so that it takes the
  // new size.
  const bool shown = hooks_->PreviewBoxTicked();
  if (shown) hooks_->SetPreviewBox(false);
  ctx_.preview->*member = n;
  optionsChanged_ = true;
  SetText(edit, std::to_string(n));
  UpdateSysReg();
  if (shown) hooks_->SetPreviewBox(true);
}

// ---- Events ----

bool PreferLogic::IsNumberBox(std::string_view control) {
  return control == "VblankEdit" || control == "VwhiteEdit" || control == "VblackEdit" ||
         control == "PrevWidthEdit" || control == "PrevHeightEdit";
}

void PreferLogic::UserEditedText(std::string_view edit, std::string text) {
  // The widget already shows the text.
  S(edit).text = std::move(text);
}

void PreferLogic::EditExit(std::string_view edit) {
  if (edit == "VblankEdit") VblankEditExit();
  else if (edit == "VwhiteEdit") VwhiteEditExit();
  else if (edit == "VblackEdit") VblackEditExit();
  else if (edit == "PrevWidthEdit") PreviewSizeExit(edit, &PreviewOptions::Width);
  else if (edit == "PrevHeightEdit") PreviewSizeExit(edit, &PreviewOptions::Height);
  else if (edit == "SceneFileEdit") {
    if (ctx_.options->SceneFile != Text(edit)) optionsChanged_ = true;
    ctx_.options->SceneFile = Text(edit);
    UpdateSysReg();
  }
}

bool PreferLogic::EditKeyPress(std::string_view edit, char ch) {
  if (ch != '\r' || !IsNumberBox(edit)) return false;
  EditExit(edit);
  return true;
}

void PreferLogic::UserClicked(std::string_view control) {
  PreferControlState& st = S(control);
  if (std::find(std::begin(kBlackPresets), std::end(kBlackPresets), control) != std::end(kBlackPresets)) {
    if (st.checked) return;
    for (std::string_view other : kBlackPresets) {
      if (other != control && Checked(other)) {
        S(other).checked = false;
        Changed(other);
      }
    }
    st.checked = true;
  } else {
    st.checked = !st.checked;
  }
  Changed(control);
  RunClick(control, true);
}

void PreferLogic::UserSelected(std::string_view control, int32_t index) {
  if (control != "PageBox" || index < 0 || index >= static_cast<int32_t>(kPreferPageItems.size())) return;
  PreferControlState& st = S(control);
  st.itemIndex = index;
  if (ctx_.options->DefaultPage != index) optionsChanged_ = true;
  ctx_.options->DefaultPage = index;
  UpdateSysReg();
}

void PreferLogic::RunClick(std::string_view control, bool byUser) {
  Options& o = *ctx_.options;
  const bool on = Checked(control);
  if (control == "BlackBlankButton") {
    SetEnabled("VblackEdit", false);
    SetText("VblackEdit", Text("VblankEdit"));
    VblackEditExit();
    if (byUser) SetCheckBox("NTSCBlacksBox", false);
  } else if (control == "BlackNTSCButton") {
    SetEnabled("VblackEdit", false);
    SetText("VblackEdit", std::to_string(NtscBlack(ctx_.defaults->Vblank, ctx_.defaults->Vwhite)));
    VblackEditExit();
    if (byUser) SetCheckBox("NTSCBlacksBox", true);
  } else if (control == "BlackCustomButton") {
    SetEnabled("VblackEdit", true);
  } else if (control == "NTSCBlacksBox") {
    // Stored with the next UpdateSysReg.
    const int32_t v = on ? 1 : 0;
    if (o.NTSCBlacks == v) return;
    o.NTSCBlacks = v;
    optionsChanged_ = true;
    hooks_->NtscBlacksChanged();
  } else if (!byUser) {
    // The remaining handlers act only for the user's clicks.
  } else if (control == "PrevPersistentBox") {
    PreviewOptions& p = *ctx_.preview;
    if (on == (p.Persistent == 1)) return;
    p.Persistent = on ? 1 : 0;
    optionsChanged_ = true;
    UpdateSysReg();
  } else if (control == "ShowHintsBox") {
    o.ShowHints = on ? 1 : 0;
    optionsChanged_ = true;
    showHints_ = on;
    hooks_->HintsChanged(on);
    UpdateSysReg();
  } else if (control == "UseMastersBox") {
    o.UseMasters = on ? 1 : 0;
    optionsChanged_ = true;
    UpdateSysReg();
  } else if (control == "PedBox") {
    o.USTerminology = on ? 1 : 0;
    optionsChanged_ = true;
    hooks_->TerminologyChanged(o.USTerminology);
    UpdateSysReg();
  }
}

void PreferLogic::Ok() {
  UpdateSysReg();
  hooks_->RefreshPreview();
}

void PreferLogic::UpdateSysReg() {
  if (!ctx_.store) return;
  OptionStore& st = *ctx_.store;
  const TSpecs& d = *ctx_.defaults;
  const Options& o = *ctx_.options;
  bool ok = true;
  st.BeginUpdate();
  try {
    st.CreateKey(kKeyLevels);
    ok = st.WriteInteger(kKeyLevels, "Vblank", d.Vblank) && ok;
    ok = st.WriteInteger(kKeyLevels, "Vblack", d.Vblack) && ok;
    ok = st.WriteInteger(kKeyLevels, "Vwhite", d.Vwhite) && ok;
    ok = st.WriteInteger(kKeyLevels, "NTSCBlacks", Checked("NTSCBlacksBox") ? 1 : 0) && ok;
    ok = WritePreviewOptions(st, *ctx_.preview) && ok;
    st.CreateKey(kKeyOptions);
    ok = st.WriteInteger(kKeyOptions, "ShowHints", o.ShowHints) && ok;
    ok = st.WriteInteger(kKeyOptions, "UseMasters", o.UseMasters) && ok;
    ok = st.WriteInteger(kKeyOptions, "DefaultPage", o.DefaultPage) && ok;
    ok = st.WriteString(kKeyOptions, "SceneFile", o.SceneFile) && ok;
    ok = st.WriteInteger(kKeyOptions, "USTerminology", o.USTerminology) && ok;
  } catch (...) {
    st.EndUpdate();
    throw;
  }
  ok = st.EndUpdate() && ok;
  if (!ok) hooks_->Notice(kNotStored);
}

}  // namespace tarvo::ui
