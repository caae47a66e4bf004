// The preferences dialog's logic without widgets. It edits installation-wide
// options in place: the three video reference levels of the built-in default
// record, the NTSC black datum, the preview window's size and persistence,
// hints, master automation, the default page, the scene file and the lift
// captions.
//
// Levels and the NTSC datum act at once in the setup dialog (through
// PreferHooks) and reach the options store with the next UpdateSysReg, which
// OK and every other control run; the rest is written at once.
//
// Binding, as for the setup dialog: the logic owns each control's state
// (State(name), names are the widgets' objectNames) and calls
// PreferHooks::StateChanged(name) whenever it changes one; the widget shows
// it with its signals blocked. The widgets forward only what the user did:
// text typed (UserEditedText), an edit box left (EditExit), a character typed
// into a box (EditKeyPress: Enter in a number box is consumed and applies the
// box at once), a radio button or check box clicked (UserClicked), an item
// chosen in PageBox (UserSelected) and OK (Ok). A handler that acts "only for
// the user" ignores the same change made by the dialog's own code.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "options/option_store.h"
#include "options/options.h"
#include "types/specs.h"
#include "ui/logic/preview_options.h"

namespace tarvo::ui {

// The items of PageBox, in page order (0 Scenes ... 6 Settings).
extern const std::vector<std::string> kPreferPageItems;

// The dialog's fixed texts and numbers.
inline constexpr char kPreferCaption[] = "Tarvo Preferences";
inline constexpr int kPreferHelpContext = 12610;
// Fallbacks of number boxes whose text is not an integer.
inline constexpr int32_t kLevelFallback = 0;
inline constexpr int32_t kPreviewSizeFallback = 240;

struct PreferContext {
  TSpecs* defaults = nullptr;         // the built-in default record (Vblank, Vblack, Vwhite)
  Options* options = nullptr;         // NTSCBlacks, ShowHints, UseMasters, DefaultPage, SceneFile, USTerminology
  PreviewOptions* preview = nullptr;  // the preview window's values
  OptionStore* store = nullptr;       // where UpdateSysReg writes; null: nothing is written
};

// What the dialog does in the setup dialog. Every hook does nothing by default.
class PreferHooks {
 public:
  virtual ~PreferHooks() = default;
  // A control's state changed: show it in its widget.
  virtual void StateChanged(std::string_view /*control*/) {}
  // A reference level changed: set the changed flag, store the setup
  // dialog's controls into the clip's record (which copies the levels into
  // it), reload the graticules, rebuild the monitor scales and request a
  // preview render.
  virtual void LevelsChanged() {}
  // The NTSC datum option changed: changed flag, graticules, scales, render.
  virtual void NtscBlacksChanged() {}
  // The setup dialog's "Preview" check box; ticking it shows the preview
  // window at the current size, unticking hides it.
  virtual bool PreviewBoxTicked() { return false; }
  virtual void SetPreviewBox(bool /*ticked*/) {}
  // Hints on or off in the setup dialog.
  virtual void HintsChanged(bool /*show*/) {}
  // Lift group captions: " Pedestal " for 1, " Lift " otherwise.
  virtual void TerminologyChanged(int32_t /*usTerminology*/) {}
  // OK: request a preview render of the setup dialog.
  virtual void RefreshPreview() {}
  // The options could not be stored (they still apply while loaded).
  virtual void Notice(std::string_view /*text*/) {}
};

struct PreferControlState {
  bool checked = false;
  bool enabled = true;
  std::string text;
  int32_t itemIndex = -1;  // PageBox
};

class PreferLogic {
 public:
  // Every pointer of `context` but `store` must be set. The controls start
  // as the form lays them out ("at blanking level" checked, the black box
  // disabled); Create() loads the options into them.
  PreferLogic(const PreferContext& context, PreferHooks* hooks);
  PreferLogic(const PreferLogic&) = delete;
  PreferLogic& operator=(const PreferLogic&) = delete;

  // FormCreate: shows the levels, derives the black preset, shows the options.
  void Create();

  const PreferControlState& State(std::string_view control) const;
  bool Checked(std::string_view control) const { return State(control).checked; }
  const std::string& Text(std::string_view control) const { return State(control).text; }
  // Whether this dialog shows hints.
  bool ShowHints() const { return showHints_; }
  // Whether any option or level changed while the dialog was open.
  bool OptionsChanged() const { return optionsChanged_; }

  // ---- What the user did ----
  void UserEditedText(std::string_view edit, std::string text);
  void EditExit(std::string_view edit);
  // True when the character is consumed (Enter in a number box, which then
  // runs the box's exit handling).
  bool EditKeyPress(std::string_view edit, char ch);
  // A radio button or check box clicked: a radio button becomes checked, a
  // check box changes state; then its handler runs as the user's.
  void UserClicked(std::string_view control);
  void UserSelected(std::string_view control, int32_t index);
  // OK: writes everything and requests a preview render; the form then
  // closes.
  void Ok();

  // ---- Changes made by the dialog's own code (handlers run, not as the user's) ----
  void CheckRadio(std::string_view radio);
  void SetCheckBox(std::string_view box, bool checked);

  // Writes the preference values to the options store.
  void UpdateSysReg();

  // rnd(Vblank + (Vwhite - Vblank) x 0.075): black at 7.5 IRE.
  static int32_t NtscBlack(int32_t vblank, int32_t vwhite);

 private:
  PreferControlState& S(std::string_view control);
  void Changed(std::string_view control);
  void SetText(std::string_view control, std::string text);
  void SetEnabled(std::string_view control, bool enabled);
  void RunClick(std::string_view control, bool byUser);
  void LevelsStep();
  void VblankEditExit();
  void VwhiteEditExit();
  void VblackEditExit();
  void PreviewSizeExit(std::string_view edit, int32_t PreviewOptions::*member);
  static bool IsNumberBox(std::string_view control);

  PreferContext ctx_;
  PreferHooks* hooks_;
  PreferHooks noHooks_;
  std::map<std::string, PreferControlState, std::less<>> states_;
  bool showHints_ = true;
  bool optionsChanged_ = false;
};

}  // namespace tarvo::ui
