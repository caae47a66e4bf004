#include "ui/setup/tsetup.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>

namespace tarvo::ui {

TSetup::TSetup(SetupCall& call, QWidget* parent) : QDialog(parent), call_(call) {
  setObjectName("TSetup");
  setWindowTitle("Tarvo");
  okButton_ = new QPushButton("OK", this);
  okButton_->setObjectName("OkButton");
  okButton_->setDefault(true);
  cancelButton_ = new QPushButton("Cancel", this);
  cancelButton_->setObjectName("CancelButton");
  for (QPushButton* b : {okButton_, cancelButton_}) b->setFixedSize(70, 25);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancelButton_);
  buttons->addWidget(okButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addStretch(1);
  layout->addLayout(buttons);
  resize(614, 443);

  connect(okButton_, &QPushButton::clicked, this, &TSetup::OKButtonClick);
  connect(cancelButton_, &QPushButton::clicked, this, &TSetup::CancelButtonClick);
}

void TSetup::OKButtonClick() { accept(); }

void TSetup::CancelButtonClick() {
  if (call_.specs && call_.previous) std::memcpy(call_.specs, call_.previous, sizeof(TSpecs));
  cancelled_ = true;
  QDialog::reject();
}

void TSetup::reject() { CancelButtonClick(); }

}  // namespace tarvo::ui
