#include "ui/controls/kiv_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace tarvo::ui {

class TKivBar::UserInput {
 public:
  explicit UserInput(TKivBar& bar) : bar_(bar) { ++bar_.userInput_; }
  ~UserInput() { --bar_.userInput_; }

 private:
  TKivBar& bar_;
};

TKivBar::TKivBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  // The track-bar defaults: range 0..10, page 2, line 1.
  setRange(0, 10);
  setPageStep(2);
  setSingleStep(1);
}

void TKivBar::SetOriginalPosition(int position) {
  original_ = position;
  setValue(position);
}

void TKivBar::Revert(QObject* sender) {
  setValue(original_);
  emit Change(sender);
}

void TKivBar::Reset(QObject* sender) {
  setValue(default_);
  emit Change(sender);
}

void TKivBar::sliderChange(SliderChange change) {
  QSlider::sliderChange(change);
  if (change != SliderValueChange || userInput_ == 0) return;
  // Positions the Change handlers set from code are not the user's.
  const int depth = userInput_;
  userInput_ = 0;
  emit Change(this);
  userInput_ = depth;
}

void TKivBar::mousePressEvent(QMouseEvent* e) {
  emit MouseDown(e->button(), e->modifiers(), e->position().toPoint());
  UserInput in(*this);
  QSlider::mousePressEvent(e);
}

void TKivBar::mouseMoveEvent(QMouseEvent* e) {
  UserInput in(*this);
  QSlider::mouseMoveEvent(e);
}

void TKivBar::mouseReleaseEvent(QMouseEvent* e) {
  UserInput in(*this);
  QSlider::mouseReleaseEvent(e);
}

void TKivBar::keyPressEvent(QKeyEvent* e) {
  UserInput in(*this);
  QSlider::keyPressEvent(e);
}

void TKivBar::wheelEvent(QWheelEvent* e) {
  UserInput in(*this);
  QSlider::wheelEvent(e);
}

void TKivBar::timerEvent(QTimerEvent* e) {
  UserInput in(*this);
  QSlider::timerEvent(e);
}

}  // namespace tarvo::ui
