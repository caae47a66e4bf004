#include "ui/controls/kiv_button.h"

#include <QMouseEvent>
#include <QPainter>

namespace tarvo::ui {

TKivButton::TKivButton(QWidget* parent) : QWidget(parent) {
  setGeometry(0, 0, 25, 25);
  // The button paints every pixel itself; it takes no keyboard focus.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);  // moves are reported without a button held, too
}

void TKivButton::SetBitmapUp(const QPixmap& image) {
  up_ = image;
  if (!up_.isNull()) setGeometry(x(), y(), up_.width(), up_.height());
  update();
}

void TKivButton::SetBitmapDown(const QPixmap& image) {
  down_ = image;
  update();
}

void TKivButton::SetBitmapAlt(const QPixmap& image) {
  alt_ = image;
  update();
}

void TKivButton::SetDown(bool down) {
  if (down == isDown_) return;
  pressed_ = false;
  isDown_ = down;
  update();
}

const QPixmap& TKivButton::CurrentBitmap() const {
  if (pressed_) return down_;
  if (isDown_) return displayAlt_ ? alt_ : down_;
  return up_;
}

void TKivButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPixmap& image = CurrentBitmap();
  // Whatever the image does not cover is the parent's colour, not garbage.
  if (image.width() < width() || image.height() < height()) p.fillRect(rect(), palette().window());
  if (!image.isNull()) p.drawPixmap(0, 0, image);
}

void TKivButton::Press(QMouseEvent* e) {
  pressSinceRelease_ = true;
  emit MouseDown(e->button(), e->modifiers(), e->position().toPoint());
  if (e->button() != Qt::LeftButton || !isEnabled()) return;
  pressed_ = true;
  update();
  if (lockMode_) {
    if (isDown_ && !allowAllUp_) return;
    isDown_ = !isDown_;
  } else {
    isDown_ = true;
  }
  emit Click(this);
}

void TKivButton::mousePressEvent(QMouseEvent* e) { Press(e); }

// The second press of a double click is handled as a press of its own. Qt
// may deliver it as a press followed by the double-click event, or as the
// double-click event alone; either way it counts once.
void TKivButton::mouseDoubleClickEvent(QMouseEvent* e) {
  if (!pressSinceRelease_) Press(e);
}

void TKivButton::mouseMoveEvent(QMouseEvent* e) { emit MouseMove(e->modifiers(), e->position().toPoint()); }

void TKivButton::mouseReleaseEvent(QMouseEvent* e) {
  emit MouseUp(e->button(), e->modifiers(), e->position().toPoint());
  pressSinceRelease_ = false;
  pressed_ = false;
  if (!lockMode_) isDown_ = false;
  update();
}

}  // namespace tarvo::ui
