// The setup dialog's logic without widgets: the state of every control, the
// transfer between controls and the clip's record (UpdateControls,
// UpdateSpecs), the change handlers, the changed flag and the preview
// request.
//
// How a form binds its widgets to it
// ----------------------------------
// SetupLogic keeps one ControlState per control of the control table
// (control_table.h), found by the control's name, which is also the widget's
// objectName. The logic is the owner of the state; the widgets show it.
//
// * Logic to widget: whenever the logic changes a control's state it calls
//   SetupHooks::StateChanged(name). The form then copies State(name) into the
//   widget with the widget's signals blocked (position, checked, enabled,
//   text, items and selection), so that nothing the logic sets comes back as
//   a user event.
// * Widget to logic: the form forwards only what the user did:
//     slider moved by mouse or keyboard   -> UserMovedBar(name, position)
//     radio button or check box clicked   -> UserClicked(name)
//     push button clicked                 -> UserClicked(name)
//     image key pressed (after it changed
//     its own Down state)                 -> UserPressedKey(name, down)
//     text edited                         -> UserEditedText(name, text)
//     edit box left                       -> EditExit(name)
//     key down / character in an edit box -> EditKeyDown / EditKeyPress
//                                            (true: the key is consumed)
//     focus moved                         -> SetFocusedControl(name)
//     tab about to change / changed       -> PageChanging() / PageChanged(page)
//     first activation of the dialog      -> Activate()
//     the 60 ms one-shot timer fired      -> RenderBegin() ... RenderEnd()
//   OK and Cancel (and Esc) are clicks too: UserClicked("OkButton") stores
//   the controls once more (Ok()), UserClicked("CancelButton") restores the
//   previous specs (Cancel()); each then calls SetupHooks::Click, where the
//   form ends the modal loop. When the dialog closes either way the form
//   calls Close(), and after the dialog the setup call returns -1 when
//   Cancelled() is true, 0 otherwise.
// * Hints are shown when ShowHints() is true after Activate(); F1 opens the
//   help at HelpContextOf(focused control).
// * The dialog's control rules hold inside the logic: a slider set by code
//   raises no change handler; a radio button or check box set by code to a
//   new state runs its click handling (a radio button also unchecks the other
//   radio buttons of its parent); setting the state a control already has
//   does nothing; a call with the sender kNoSender is the dialog's own and
//   KickTimer ignores it. A user click on a radio button that is already
//   checked does nothing.
// * Everything the logic cannot do itself goes through SetupHooks: starting
//   the preview timer, the frame slider's handler, the monitor buttons, the
//   click handlers kept elsewhere (scenes, preview box, balance keys, help,
//   preferences), messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "options/option_store.h"
#include "options/options.h"
#include "scenes/scene_list.h"
#include "types/specs.h"
#include "ui/logic/control_table.h"

namespace tarvo::ui {

// Who caused a handler to run: the control's name, or none for a call made by
// the dialog itself.
struct Sender {
  std::string_view control;
  constexpr bool IsNone() const { return control.empty(); }
};
inline constexpr Sender kNoSender{};
constexpr Sender By(std::string_view control) { return Sender{control}; }

struct ControlState {
  // Sliders.
  int32_t position = 0;
  int32_t originalPosition = 0;  // the value last loaded; target of Revert
  int32_t defaultPosition = 0;   // factory value; target of Reset
  int32_t min = 0, max = 0, pageSize = 0;
  // Radio buttons and check boxes: checked; image keys: down.
  bool checked = false;
  bool enabled = true;
  // Edit text, label and group captions, readout texts, status text.
  std::string text;
  // Drop-down list: its items and the selected one (-1: none). Page control:
  // itemIndex is the active page (index into PageNames()).
  std::vector<std::string> items;
  int32_t itemIndex = -1;
  // The control's own help context (0: its parent's applies).
  int32_t helpContext = 0;
};

// What the dialog needs from the setup call. Every pointer but `live`,
// `previous` and `defaults` may be null.
struct SetupContext {
  TSpecs* live = nullptr;            // the clip's record, edited in place
  const TSpecs* previous = nullptr;  // the record as it was before the dialog opened
  const TSpecs* defaults = nullptr;  // the built-in default record (preference levels)
  bool* changed = nullptr;           // the entry point's changed flag
  Options* options = nullptr;        // installation-wide options (OpMode, DefaultScene...)
  OptionStore* store = nullptr;      // where option changes are written at once
  TSceneList* scenes = nullptr;      // the scene list
  int32_t* sceneIndex = nullptr;     // the clip's scene index (-1: master missing)
  bool* scenesDirty = nullptr;       // the scene list must be saved at close
  // The preview window's stored options "Persistent" and "Visible".
  int32_t previewPersistent = 0;
  int32_t previewVisible = 0;
  // The user's decimal separator for the readouts.
  std::string decimalSeparator = ".";
};

// The dialog's surroundings. Every hook does nothing by default.
class SetupHooks {
 public:
  virtual ~SetupHooks() = default;
  // A control's state changed: show it in its widget.
  virtual void StateChanged(std::string_view /*control*/) {}
  // Start the one-shot 60 ms preview timer / stop it.
  virtual void StartTimer() {}
  virtual void StopTimer() {}
  // The frame slider's change handler (status text, frame fetch request).
  virtual void FrameBarChange(Sender /*sender*/) {}
  // A monitor key (WFButton, VSButton, PixButton) chose its panel role; the
  // logic has already released the other two.
  virtual void MonitorButtonClick(std::string_view /*button*/, Sender /*sender*/) {}
  // A clip level changed: reload the graticules and the monitor scales.
  virtual void ClipLevelsChanged() {}
  // A message box with a fixed text (the missing master scene).
  virtual void ShowMessage(std::string_view /*text*/) {}
  // A notice that is not a dialog message (an option that could not be
  // stored).
  virtual void Notice(std::string_view /*text*/) {}
  // Click handling that lives outside this class: UseMasterButton,
  // UseIndividualButton, the scene buttons, PreviewBox, the balance keys,
  // FirstButton, LastButton, HelpButton, PreferButton, SetDefaultsButton,
  // OkButton and CancelButton after the logic's own part.
  virtual void Click(std::string_view /*control*/, Sender /*sender*/) {}
};

class SetupLogic {
 public:
  SetupLogic(const SetupContext& context, SetupHooks* hooks);
  SetupLogic(const SetupLogic&) = delete;
  SetupLogic& operator=(const SetupLogic&) = delete;

  // ---- State ----
  // The state of a control of the table; an unknown name is a programming
  // error (std::out_of_range).
  const ControlState& State(std::string_view control) const;
  bool Checked(std::string_view control) const { return State(control).checked; }
  int32_t Position(std::string_view control) const { return State(control).position; }
  const std::string& Text(std::string_view control) const { return State(control).text; }
  // The help context F1 opens for a control: its own, else its nearest
  // parent's.
  int32_t HelpContextOf(std::string_view control) const;
  const std::string& ActivePage() const;
  std::string_view FocusedControl() const { return focused_; }
  bool Active() const { return active_; }
  bool ControlsLoaded() const { return loaded_; }
  bool Cancelled() const { return cancelled_; }
  bool TimerRunning() const { return timerRunning_; }
  bool RenderPending() const { return renderPending_; }
  bool ShowHints() const { return showHints_; }
  // The preferences switched the hints on or off while the dialog is open.
  void SetShowHints(bool show) { showHints_ = show; }
  const TDerived& Derived() const { return derived_; }
  const SetupContext& Context() const { return ctx_; }

  // ---- Changes made by the dialog's own code ----
  // Sliders: no change handler runs.
  void SetOriginalPosition(std::string_view bar, int32_t value);  // remembers value, moves there (clamped)
  void SetPosition(std::string_view bar, int32_t value);          // clamped
  // Radio button: checking an unchecked one unchecks the others of its parent
  // and runs its click handling with itself as sender; otherwise nothing.
  void CheckRadio(std::string_view radio);
  // Check box: a new state runs its click handling with itself as sender.
  void SetCheckBox(std::string_view box, bool checked);
  // Image key: no click handling.
  void SetKeyDown(std::string_view key, bool down);
  void SetEnabled(std::string_view control, bool enabled);
  void SetText(std::string_view control, std::string text);
  // Drop-down selection; no change handling.
  void SelectItem(std::string_view control, int32_t index);
  void SetItems(std::string_view control, std::vector<std::string> items);
  // The frame slider's range for a clip of `total` frames: 0..total, page
  // size total div 10.
  void SetFrameRange(int32_t total);
  // Lift group captions " Pedestal " (1) or " Lift " (otherwise).
  void ApplyTerminology(int32_t usTerminology);

  // ---- What the user did ----
  void UserMovedBar(std::string_view bar, int32_t position);
  void UserClicked(std::string_view control);
  void UserPressedKey(std::string_view key, bool down);
  void UserEditedText(std::string_view edit, std::string text);
  void EditExit(std::string_view edit);
  bool EditKeyDown(std::string_view edit, int key);  // 13 (Enter): applied, consumed
  bool EditKeyPress(std::string_view edit, char ch);  // '\r': consumed
  void SetFocusedControl(std::string_view control);
  void PageChanging();
  void PageChanged(std::string_view page);

  // ---- Handlers and operations ----
  // A slider's change handler: readout, changed flag for the level sliders,
  // KickTimer. The frame slider's goes to SetupHooks::FrameBarChange.
  void BarChange(std::string_view bar, Sender sender);
  // Request a preview render.
  void KickTimer(Sender sender);
  // Record to controls and controls to record, in the dialog's fixed orders.
  void UpdateControls(const TSpecs& specs);
  void UpdateSpecs(TSpecs& specs);
  // The clip-level edit boxes: apply the typed level.
  void ApplyClipLevel(std::string_view edit, Sender sender);

  // ---- Life cycle ----
  // Every activation: hints, scene list, first load of the controls, active,
  // KickTimer.
  void Activate(Sender sender = By("TSetup"));
  // The render cycle around the pipeline run: RenderBegin stops the timer
  // and, when the dialog is active, stores the controls into the live record
  // and returns true; RenderPipelineDone clears the render request;
  // RenderEnd starts the timer again when a request came in meanwhile.
  bool RenderBegin();
  void RenderPipelineDone();
  void RenderEnd();
  // OK: stores the controls into the live record once more, so that a change
  // made less than one timer period before OK is not lost.
  void Ok();
  // Cancel: the previous specs over the live record; the cancel flag.
  void Cancel();
  // The dialog closes: timer stopped, dialog inactive, master link dropped
  // when the record no longer equals its scene.
  void Close();

 private:
  ControlState& S(std::string_view control);
  void Changed(std::string_view control);
  void SetChangedFlag();
  void RunClick(std::string_view control, Sender sender);
  void CheckRadioImpl(std::string_view radio, bool byUser);
  void ApplyCheckBox(std::string_view box, bool checked, bool byUser);
  void KeyClick(std::string_view key, Sender sender);
  void SetOpMode(uint8_t mode);
  void SetActivePage(int32_t index);
  void SceneDetach(TSpecs& specs);
  const TSpecs* SceneRecord(int32_t index) const;
  int32_t SceneIndex() const { return ctx_.sceneIndex ? *ctx_.sceneIndex : 0; }

  SetupContext ctx_;
  SetupHooks* hooks_;
  SetupHooks noHooks_;
  std::vector<ControlState> states_;
  std::string focused_;
  bool active_ = false;
  bool loaded_ = false;
  bool cancelled_ = false;
  bool timerRunning_ = false;
  bool renderPending_ = false;
  bool showHints_ = true;
  TDerived derived_{};
};

}  // namespace tarvo::ui
