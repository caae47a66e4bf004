#include "ui/controls/classic_style.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace tarvo::ui {

QStyle* ClassicStyle() {
  static QPointer<QStyle> style;
  if (!style) {
    style = QStyleFactory::create("Windows");
    if (style) style->setParent(QCoreApplication::instance());
  }
  return style;
}

void ApplyClassicStyle(QWidget* form) {
  QStyle* classic = ClassicStyle();
  if (!classic) return;
  form->setStyle(classic);
  for (QWidget* w : form->findChildren<QWidget*>()) w->setStyle(classic);
}

}  // namespace tarvo::ui
