#include "ui/logic/prefer_setup.h"

namespace tarvo::ui {

namespace {
// The preview requests of the preferences come from its button.
constexpr Sender kPreferences = By("PreferButton");
}  // namespace

SetupPreferHooks::SetupPreferHooks(SetupLogic& setup, SetupHooks& setupHooks, std::function<void(bool)> hintsChanged)
    : setup_(setup), setupHooks_(setupHooks), hintsChanged_(std::move(hintsChanged)) {}

void SetupPreferHooks::Changed() {
  if (bool* changed = setup_.Context().changed) *changed = true;
}

void SetupPreferHooks::LevelsChanged() {
  Changed();
  if (TSpecs* live = setup_.Context().live) setup_.UpdateSpecs(*live);
  setupHooks_.ClipLevelsChanged();
  setup_.KickTimer(kPreferences);
}

void SetupPreferHooks::NtscBlacksChanged() {
  Changed();
  setupHooks_.ClipLevelsChanged();
  setup_.KickTimer(kPreferences);
}

bool SetupPreferHooks::PreviewBoxTicked() { return setup_.Checked("PreviewBox"); }

void SetupPreferHooks::SetPreviewBox(bool ticked) { setup_.SetCheckBox("PreviewBox", ticked); }

void SetupPreferHooks::HintsChanged(bool show) {
  if (hintsChanged_) hintsChanged_(show);
}

void SetupPreferHooks::TerminologyChanged(int32_t usTerminology) { setup_.ApplyTerminology(usTerminology); }

void SetupPreferHooks::RefreshPreview() { setup_.KickTimer(kPreferences); }

void SetupPreferHooks::Notice(std::string_view text) { setupHooks_.Notice(text); }

}  // namespace tarvo::ui
