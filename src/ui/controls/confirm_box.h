// The Yes/No confirmation box: a message box with the question icon, the
// question and the buttons Yes and No.
#pragma once

#include <QString>

#include "ui/confirmer.h"

class QWidget;

namespace tarvo::ui {

// True exactly when the user chose Yes (No, Esc and closing the box: false).
bool ConfirmYesNo(QWidget* parent, const QString& question);

// The Confirmer the dialog's logic is given: asks through ConfirmYesNo with
// `parent` as the owner window.
class MessageBoxConfirmer : public Confirmer {
 public:
  explicit MessageBoxConfirmer(QWidget* parent) : parent_(parent) {}
  bool Confirm(const std::string& question) override;

 private:
  QWidget* parent_;
};

}  // namespace tarvo::ui
