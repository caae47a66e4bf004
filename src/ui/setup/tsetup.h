// The setup dialog for one clip. For now it holds only OK and Cancel: OK
// keeps the record as edited, Cancel (also Esc and closing the window) puts
// the record back as it was before the dialog opened.
#pragma once

#include <QDialog>

#include "ui/setup_api.h"

class QPushButton;

namespace tarvo::ui {

class TSetup : public QDialog {
  Q_OBJECT

 public:
  // `call` must outlive the dialog.
  explicit TSetup(SetupCall& call, QWidget* parent = nullptr);

  // Set by Cancel; the setup call returns kSetupCancel when it is set.
  bool Cancelled() const { return cancelled_; }

 public slots:
  void OKButtonClick();
  void CancelButtonClick();
  // Esc and closing the window cancel as the Cancel button does.
  void reject() override;

 private:
  SetupCall& call_;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  bool cancelled_ = false;
};

}  // namespace tarvo::ui
