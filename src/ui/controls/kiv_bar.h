// TKivBar: the dialog's slider. It remembers the position it was loaded with
// (OriginalPosition, the target of Revert) and a factory position
// (DefaultPosition, the target of Reset).
//
// Change is raised only when the user moves the slider (mouse, keyboard,
// wheel), after the new position is stored; positions set from code, through
// setValue or SetOriginalPosition, raise nothing. Connect to Change, not to
// QSlider's valueChanged, which also fires for code-set positions.
#pragma once

#include <QSlider>

namespace tarvo::ui {

class TKivBar : public QSlider {
  Q_OBJECT
  Q_PROPERTY(int OriginalPosition READ OriginalPosition WRITE SetOriginalPosition)
  Q_PROPERTY(int DefaultPosition READ DefaultPosition WRITE SetDefaultPosition)

 public:
  explicit TKivBar(QWidget* parent = nullptr);

  int Position() const { return value(); }
  // Clamped into minimum()..maximum(); raises no Change.
  void SetPosition(int position) { setValue(position); }

  int OriginalPosition() const { return original_; }
  // Stores `position` (unclamped) and moves the slider there (clamped); no
  // Change.
  void SetOriginalPosition(int position);
  int DefaultPosition() const { return default_; }
  void SetDefaultPosition(int position) { default_ = position; }

 public slots:
  // Moves the slider to OriginalPosition (clamped) and raises Change with
  // `sender`, even when the position did not move.
  void Revert(QObject* sender);
  // The same with DefaultPosition.
  void Reset(QObject* sender);

 signals:
  // The user moved the slider, or Revert/Reset ran; `sender` is the object
  // that caused it (this bar for user moves).
  void Change(QObject* sender);
  // Raised at every mouse press, before the slider reacts to it.
  void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

 protected:
  void sliderChange(SliderChange change) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void timerEvent(QTimerEvent* e) override;  // repeated page steps while the mouse is held

 private:
  // Counts the user-input handlers running on this bar: a value change inside
  // one is the user's, any other is from code.
  class UserInput;
  int userInput_ = 0;
  int original_ = 0;
  int default_ = 0;
};

}  // namespace tarvo::ui
