// TPrefer: the preferences dialog, opened from the setup dialog's
// "Preferences" button. Thin widgets over PreferLogic (ui/logic/prefer_logic.h),
// which holds the rules; this form lays out the controls, shows the logic's
// state and forwards what the user does.
#pragma once

#include <QDialog>

#include <map>
#include <string>
#include <string_view>

#include "ui/logic/prefer_logic.h"

class QComboBox;
class QPushButton;

namespace tarvo::ui {

class TPrefer : public QDialog {
  Q_OBJECT

 public:
  // `context` as for PreferLogic; `hooks` (may be null) reach the setup
  // dialog; `helpFile` is the HelpFile option. The options are loaded into
  // the controls here (FormCreate).
  TPrefer(const PreferContext& context, PreferHooks* hooks, std::string helpFile, QWidget* parent = nullptr);
  ~TPrefer() override;

  PreferLogic& Logic() { return *logic_; }

 public slots:
  void OKBtnClick();
  void HelpBtnClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  class Bridge;
  void Build();
  void Register(QWidget* w, std::string_view name);
  void ShowState(std::string_view name);
  void ApplyHints();

  std::unique_ptr<Bridge> bridge_;
  std::unique_ptr<PreferLogic> logic_;
  std::string helpFile_;
  std::map<std::string, QWidget*, std::less<>> widgets_;
  std::map<QWidget*, QString> hints_;
  bool centred_ = false;
};

// Opens the preferences as a modal dialog owned by `parent` and returns
// whether any option or reference level changed while it was open (the
// options store has then been written as the dialog says).
bool RunPreferences(QWidget* parent, const PreferContext& context, PreferHooks* hooks, const std::string& helpFile);

}  // namespace tarvo::ui
