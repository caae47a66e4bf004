#include "ui/controls/dialog_keys.h"

#include <QRegularExpression>

#include "ui/controls/button_images.h"
#include "ui/controls/kiv_button.h"

namespace tarvo::ui {
namespace {

struct KeyDesign {
  ButtonImages images;
  bool lockMode, allowAllUp, displayAlt;
};

bool DesignOf(const QString& name, KeyDesign* d) {
  static const QRegularExpression balance("^(BB|WB|CB|GB)Button[0-2]$");
  if (const QRegularExpressionMatch m = balance.match(name); m.hasMatch()) {
    *d = {DrawKey(m.captured(1), Indicator::Red), true, true, true};
  } else if (name == "YOnlyButton" || name == "COnlyButton") {
    *d = {DrawKey(name.left(1), Indicator::Red), true, true, true};
  } else if (name == "BypassButton") {
    *d = {DrawKey("BYPASS", Indicator::Red, kWideKeySize), true, true, true};
  } else if (name == "WFButton" || name == "VSButton" || name == "PixButton") {
    *d = {DrawKey(name.left(1), Indicator::Green), true, false, true};
  } else if (name == "FirstButton" || name == "LastButton") {
    *d = {DrawArrowButton(name == "FirstButton" ? Arrow::First : Arrow::Last), false, true, false};
  } else {
    return false;
  }
  return true;
}

}  // namespace

TKivButton* MakeDialogKey(const QString& objectName, QWidget* parent) {
  KeyDesign d;
  if (!DesignOf(objectName, &d)) return nullptr;
  auto* key = new TKivButton(parent);
  key->setObjectName(objectName);
  key->SetLockMode(d.lockMode);
  key->SetAllowAllUp(d.allowAllUp);
  key->SetDisplayAlt(d.displayAlt);
  SetImages(*key, d.images);
  return key;
}

}  // namespace tarvo::ui
