#include "ui/controls/confirm_box.h"

#include <QMessageBox>

namespace tarvo::ui {

bool ConfirmYesNo(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::Question, "Tarvo", question, QMessageBox::Yes | QMessageBox::No, parent);
  box.setObjectName("ConfirmBox");
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

bool MessageBoxConfirmer::Confirm(const std::string& question) {
  return ConfirmYesNo(parent_, QString::fromStdString(question));
}

}  // namespace tarvo::ui
