// Revert, reset and the user defaults of the setup dialog, without widgets.
//
// "Revert" returns controls to the values loaded when the dialog opened (or
// when a scene last reloaded the controls: each slider's original position)
// and, for the gain and the buttons, boxes and clip levels, to the previous
// specs. "Reset" returns them to factory values, except the processing mode
// and the clip levels, which go back to the user defaults that "Set Defaults"
// stores. Each command exists for the focused control, the active page and
// all pages.
#pragma once

#include <span>
#include <string_view>

#include "options/option_store.h"
#include "types/specs.h"
#include "ui/confirmer.h"
#include "ui/logic/setup_logic.h"

namespace tarvo::ui {

inline constexpr char kSetDefaultsQuestion[] = "Are you sure you want to change the default settings?";

// The pop-up menu's items in order; "N1" and "N2" are separators.
struct PopupItem {
  std::string_view name;
  std::string_view caption;
  std::string_view hint;
};
std::span<const PopupItem> PopupMenuItems();

// Whether a right click on `control` makes it the control the menu's
// single-control commands act on: the page control, the two master radio
// buttons, every slider, the gain multipliers, the check boxes and radio
// buttons of the Sharpness, Temporal, Spatial and Settings pages except the
// seven test patterns, the clip-level boxes and the test mode box.
bool RightClickChoosesControl(std::string_view control);

class RevertReset {
 public:
  // `userDefaults` is the built-in default record new clips start from; its
  // ProcMode, Vmin and Vmax are the user defaults. `store` (may be null)
  // receives them on Set Defaults.
  RevertReset(SetupLogic& logic, SetupHooks& hooks, Confirmer& confirm, TSpecs* userDefaults, OptionStore* store);

  // The menu commands; `sender` is the menu item.
  void RevertControl(Sender sender);  // "Revert"
  void ResetControl(Sender sender);   // "Reset"
  void RevertPage(Sender sender);     // "Revert Page"
  void ResetPage(Sender sender);      // "Reset Page"
  void RevertAll(Sender sender);      // "Revert All"
  void ResetAll(Sender sender);       // "Reset All"

  // "Set Defaults": asks first; on Yes copies the live record's ProcMode,
  // Vmin and Vmax into the user defaults and stores them.
  void SetDefaults();
  // Writes the user defaults to the store. False when a value could not be
  // written (the user is told).
  bool UpdateSysReg();

  bool AllPages() const { return allPages_; }

 private:
  bool Section(std::string_view page) const;
  void RevertBar(std::string_view bar, Sender sender);
  void ResetBar(std::string_view bar, Sender sender);
  void RevertGain(Sender sender);
  void RevertNoiseMaskButtons();
  void RevertTestMode();
  void ResetTestMode();
  void RevertProcMode();
  void ResetProcMode();
  void SetClipLevel(std::string_view edit, int32_t value, Sender sender);
  void ResetFrameBar(Sender sender);
  const TSpecs& Previous() const;

  SetupLogic& logic_;
  SetupHooks& hooks_;
  Confirmer& confirm_;
  TSpecs* userDefaults_;
  OptionStore* store_;
  bool allPages_ = false;
};

}  // namespace tarvo::ui
