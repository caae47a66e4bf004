#include "ui/controls/button_images.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include "ui/controls/kiv_button.h"

namespace tarvo::ui {
namespace {

const QColor kFace(192, 192, 192);
const QColor kLight(255, 255, 255);
const QColor kShadow(128, 128, 128);
const QColor kDark(0, 0, 0);
const QColor kIndicatorOff(64, 64, 64);

// 24-bit images, as the buttons' bitmaps are.
QImage NewImage(QSize size) {
  QImage image(size, QImage::Format_RGB888);
  image.fill(kFace);
  return image;
}

// A raised or sunken bevel around the whole image.
void DrawBevel(QPainter& p, QSize size, bool sunken) {
  const int w = size.width(), h = size.height();
  const QColor outerTopLeft = sunken ? kDark : kLight;
  const QColor outerBottomRight = sunken ? kLight : kDark;
  const QColor innerTopLeft = sunken ? kShadow : kFace;
  const QColor innerBottomRight = sunken ? kFace : kShadow;
  p.setPen(outerTopLeft);
  p.drawLine(0, 0, w - 2, 0);
  p.drawLine(0, 0, 0, h - 2);
  p.setPen(outerBottomRight);
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.drawLine(w - 1, 0, w - 1, h - 1);
  p.setPen(innerTopLeft);
  p.drawLine(1, 1, w - 3, 1);
  p.drawLine(1, 1, 1, h - 3);
  p.setPen(innerBottomRight);
  p.drawLine(1, h - 2, w - 2, h - 2);
  p.drawLine(w - 2, 1, w - 2, h - 2);
}

QPixmap DrawKeyImage(const QString& label, QSize size, bool sunken, const QColor& indicator) {
  QImage image = NewImage(size);
  QPainter p(&image);
  DrawBevel(p, size, sunken);
  const int shift = sunken ? 1 : 0;  // a sunken key's face moves down and right
  const int w = size.width();
  // The indicator bar above the label.
  p.fillRect(QRect(5 + shift, 4 + shift, w - 10, 3), indicator);
  QFont font("Sans Serif");
  font.setPixelSize(9);
  font.setBold(true);
  p.setFont(font);
  p.setPen(kDark);
  p.drawText(QRect(2 + shift, 8 + shift, w - 4, size.height() - 10), Qt::AlignCenter, label);
  p.end();
  return QPixmap::fromImage(image);
}

QPixmap DrawArrowImage(Arrow arrow, bool pressed) {
  QImage image = NewImage(kArrowSize);
  QPainter p(&image);
  DrawBevel(p, kArrowSize, pressed);
  const int shift = pressed ? 1 : 0;
  const QColor ink = pressed ? IndicatorColor(Indicator::Green) : kDark;
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  // A bar at the end the arrow points to, and a triangle beside it.
  if (arrow == Arrow::First) {
    p.drawRect(QRect(4 + shift, 4 + shift, 2, 7));
    p.drawPolygon(QPolygon({QPoint(6 + shift, 7 + shift), QPoint(10 + shift, 3 + shift), QPoint(10 + shift, 11 + shift)}));
  } else {
    p.drawRect(QRect(9 + shift, 4 + shift, 2, 7));
    p.drawPolygon(QPolygon({QPoint(8 + shift, 7 + shift), QPoint(4 + shift, 3 + shift), QPoint(4 + shift, 11 + shift)}));
  }
  p.end();
  return QPixmap::fromImage(image);
}

}  // namespace

QColor IndicatorColor(Indicator indicator) {
  return indicator == Indicator::Red ? QColor(255, 0, 0) : QColor(0, 224, 0);
}

ButtonImages DrawKey(const QString& label, Indicator indicator, QSize size) {
  const QColor lit = IndicatorColor(indicator);
  return {DrawKeyImage(label, size, false, kIndicatorOff), DrawKeyImage(label, size, true, lit),
          DrawKeyImage(label, size, false, lit)};
}

ButtonImages DrawArrowButton(Arrow arrow) {
  // Pressed and latched look alike: the arrow turns green.
  return {DrawArrowImage(arrow, false), DrawArrowImage(arrow, true), DrawArrowImage(arrow, true)};
}

void SetImages(TKivButton& button, const ButtonImages& images) {
  button.SetBitmapAlt(images.alt);
  button.SetBitmapDown(images.down);
  button.SetBitmapUp(images.up);
}

QPixmap DrawProductLogo(QSize size) {
  QImage image(size, QImage::Format_RGB888);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0, 0, size.width(), size.height());
  // A dark field with a spectrum band: a picture being cleaned up.
  QLinearGradient field(r.topLeft(), r.bottomLeft());
  field.setColorAt(0, QColor(20, 28, 48));
  field.setColorAt(1, QColor(4, 6, 12));
  p.fillRect(r, field);
  QLinearGradient band(r.topLeft(), r.topRight());
  band.setColorAt(0.0, QColor(200, 40, 40));
  band.setColorAt(0.33, QColor(230, 200, 40));
  band.setColorAt(0.66, QColor(40, 180, 80));
  band.setColorAt(1.0, QColor(40, 90, 220));
  QPainterPath wave;
  const double h = size.height(), w = size.width();
  wave.moveTo(0, h * 0.78);
  wave.cubicTo(w * 0.3, h * 0.62, w * 0.6, h * 0.94, w, h * 0.74);
  wave.lineTo(w, h * 0.84);
  wave.cubicTo(w * 0.6, h * 1.02, w * 0.3, h * 0.72, 0, h * 0.88);
  wave.closeSubpath();
  p.fillPath(wave, band);
  QFont font("Sans Serif");
  font.setPixelSize(static_cast<int>(h * 0.42));
  font.setBold(true);
  font.setLetterSpacing(QFont::AbsoluteSpacing, h * 0.04);
  p.setFont(font);
  p.setPen(QColor(235, 240, 250));
  p.drawText(QRectF(0, 0, w, h * 0.68), Qt::AlignCenter, "TARVO");
  p.end();
  return QPixmap::fromImage(image);
}

}  // namespace tarvo::ui
