// How the preferences reach the setup dialog: PreferHooks carried out on the
// setup dialog's logic. The setup form makes one for the preferences call:
//
//   PreviewOptions& preview = ...;  // the preview window's values
//   SetupPreferHooks hooks(logic, formHooks, [&](bool show) { /* hints on/off */ });
//   PreferContext context{call.defaults, call.options, &preview, call.store};
//   RunPreferences(this, context, &hooks, call.options->HelpFile);
#pragma once

#include <functional>
#include <string_view>

#include "ui/logic/prefer_logic.h"
#include "ui/logic/setup_logic.h"

namespace tarvo::ui {

class SetupPreferHooks : public PreferHooks {
 public:
  // `setupHooks` are the setup form's own hooks (graticules and scales,
  // notices); `hintsChanged` switches the setup dialog's hints.
  SetupPreferHooks(SetupLogic& setup, SetupHooks& setupHooks, std::function<void(bool)> hintsChanged = {});

  // Changed flag, the controls stored into the clip's record (which takes
  // the new levels), graticules and scales, a preview render.
  void LevelsChanged() override;
  // Changed flag, graticules and scales, a preview render.
  void NtscBlacksChanged() override;
  // The setup dialog's "Preview" check box, set by code so that its click
  // handling shows or hides the preview window.
  bool PreviewBoxTicked() override;
  void SetPreviewBox(bool ticked) override;
  void HintsChanged(bool show) override;
  // The lift group captions.
  void TerminologyChanged(int32_t usTerminology) override;
  void RefreshPreview() override;
  void Notice(std::string_view text) override;

 private:
  void Changed();

  SetupLogic& setup_;
  SetupHooks& setupHooks_;
  std::function<void(bool)> hintsChanged_;
};

}  // namespace tarvo::ui
