// The setup dialog for one clip: seven pages of controls over the clip's
// record, the monitor panels, the frame choice and the operating mode.
//
// The widgets are thin. SetupLogic (ui/logic) holds the state of every
// control and the rules between the controls and the record; this form makes
// one widget per control of the control table (objectName = the control's
// name), forwards only what the user did to the logic, and copies the
// logic's state back into a widget, with the widget's signals blocked,
// whenever the logic reports a change. So a slider moved by code raises no
// change, a radio button or check box set by code runs its click handling
// inside the logic, and the dialog's own calls carry no sender.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "ui/logic/setup_logic.h"
#include "ui/setup_api.h"

class QTabWidget;
class QTimer;
class QStatusBar;
class QLabel;
class QAbstractButton;
class QButtonGroup;
class QMenu;

namespace tarvo::ui {

class HelpWindow;
class Confirmer;
class ScenePage;
class RevertReset;
class BalanceClicks;
class PreviewBuffers;
class PreviewCycle;

// Where the dialog opens. `top` and `left` are the stored placement values
// (missing ones are nullptr). A negative value becomes 0; one that would put
// the dialog past the right or bottom edge of `screen` becomes the screen's
// size minus the dialog's. When either is missing the dialog is centred.
QPoint DialogPlacement(const int32_t* top, const int32_t* left, QSize dialog, const QRect& screen);

class TSetup : public QDialog, private SetupHooks {
  Q_OBJECT

 public:
  // The client area of the form.
  static constexpr int kClientWidth = 614;
  static constexpr int kClientHeight = 443;

  // `call` must outlive the dialog.
  explicit TSetup(SetupCall& call, QWidget* parent = nullptr);
  ~TSetup() override;

  // Set by Cancel; the setup call returns kSetupCancel when it is set.
  bool Cancelled() const { return logic_->Cancelled(); }

  SetupLogic& Logic() { return *logic_; }
  // The widget of a control of the control table, or nullptr.
  QWidget* Control(std::string_view name) const;

  // Placement from the stored "Top"/"Left" against the screen the dialog
  // opens on; remembers it so that a moved dialog writes its position back
  // when it is hidden.
  void PlaceFromStore();

  // The help context F1 opens now: the focused control's, else its nearest
  // parent's.
  int FocusedHelpContext() const;
  // The help window, once help has been opened.
  HelpWindow* Help() const;

  // Shows a page by its index in the control table's page order, as a click
  // on its tab does.
  void ChoosePage(int index);

  // The pop-up menu of revert and reset commands (PopupMenu1); its actions
  // carry the item names (Revert1, Reset1, Revert2...) as objectName.
  QMenu* PopupMenu() const { return popup_; }
  // The pictures a click on the main monitor balances against: the source
  // picture of the last preview render and its processed result. Until the
  // preview hands them over, a click on the picture does nothing.
  void SetBalanceFrames(const TPixBuffer* source, const TPixBuffer* monitor);
  // A click on the main monitor picture at a widget position.
  void MScreenClick(QPoint position);
  // The armed balance mode's cursor slot (87: none).
  int BalanceCursorSlot() const;
  // The setup call's two monitor images, which live as long as the dialog.
  void AttachBuffers(PreviewBuffers* buffers);
  // The live preview: render cycle, panels, readout, floating window.
  PreviewCycle& Preview() { return *preview_; }

 public slots:
  // Esc and closing the window cancel as the Cancel button does.
  void reject() override;
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  // SetupHooks.
  void StateChanged(std::string_view control) override;
  void StartTimer() override;
  void StopTimer() override;
  void FrameBarChange(Sender sender) override;
  void MonitorButtonClick(std::string_view button, Sender sender) override;
  void ClipLevelsChanged() override;
  void ShowMessage(std::string_view text) override;
  void Notice(std::string_view text) override;
  void Click(std::string_view control, Sender sender) override;

  void BuildForm();
  void BuildPages();
  void Register(QWidget* w, std::string_view name);
  void Sync(std::string_view name);
  void SyncTabs();
  void ApplyHints();
  void OpenHelp(int context);
  void OpenPreferences();
  void TimerFired();
  void FocusMoved(QWidget* now);
  // The Scenes page, revert and reset, and the balance keys (tsetup_commands.cpp).
  void BuildCommands();
  bool CommandClick(std::string_view control, Sender sender);
  bool CommandEvent(QObject* watched, QEvent* e);
  void CloseCommands();
  std::string HelpFile() const;

  SetupCall& call_;
  std::unique_ptr<PreviewCycle> preview_;
  std::unique_ptr<SetupLogic> logic_;
  // The application's focus signal, cut first when the dialog goes: destroying
  // the child widgets moves the focus, and the dialog is then half gone.
  QMetaObject::Connection focusWatch_;
  std::unordered_map<std::string_view, QWidget*> widgets_;
  QTabWidget* pages_ = nullptr;
  QButtonGroup* tabs_ = nullptr;
  QTimer* timer_ = nullptr;
  QLabel* statusFrame_ = nullptr;
  QLabel* statusText_ = nullptr;
  HelpWindow* help_ = nullptr;
  bool built_ = false;
  bool closing_ = false;  // OK or Cancel has ended the dialog
  bool placed_ = false;
  bool shownOnce_ = false;
  QPoint placedAt_;  // the position the dialog opened at (FormShow)
  std::unique_ptr<Confirmer> confirmer_;
  std::unique_ptr<ScenePage> scenePage_;
  std::unique_ptr<RevertReset> commands_;
  std::unique_ptr<BalanceClicks> balance_;
  QMenu* popup_ = nullptr;
  const TPixBuffer* balanceSource_ = nullptr;
  const TPixBuffer* balanceMonitor_ = nullptr;
};

}  // namespace tarvo::ui
