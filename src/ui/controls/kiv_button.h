// TKivButton: an image-only push button that works as a momentary button, a
// toggle or a latch, and shows one of three images.
//
//   LockMode  AllowAllUp  behaviour
//   false     any         momentary: Down from the press to the release;
//                         Click is raised at the press
//   true      true        toggle: every left press inverts Down and raises Click
//   true      false       latch: a press on an up button sets Down and raises
//                         Click; a press on a down button only shows the down
//                         image while held; the owner releases it with
//                         SetDown(false)
//
// Images: while pressed, BitmapDown; otherwise when Down, BitmapAlt if
// DisplayAlt else BitmapDown; when not Down, BitmapUp. BitmapUp sets the
// button's size. The second press of a double click is an ordinary press;
// there is no double-click signal.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace tarvo::ui {

class TKivButton : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool AllowAllUp READ AllowAllUp WRITE SetAllowAllUp)
  Q_PROPERTY(QPixmap BitmapAlt READ BitmapAlt WRITE SetBitmapAlt)
  Q_PROPERTY(QPixmap BitmapDown READ BitmapDown WRITE SetBitmapDown)
  Q_PROPERTY(QPixmap BitmapUp READ BitmapUp WRITE SetBitmapUp)
  Q_PROPERTY(bool DisplayAlt READ DisplayAlt WRITE SetDisplayAlt)
  Q_PROPERTY(bool Down READ Down WRITE SetDown)
  Q_PROPERTY(bool LockMode READ LockMode WRITE SetLockMode)

 public:
  // 25 x 25 at 0, 0 until BitmapUp gives the size.
  explicit TKivButton(QWidget* parent = nullptr);

  bool AllowAllUp() const { return allowAllUp_; }
  void SetAllowAllUp(bool v) { allowAllUp_ = v; }
  bool LockMode() const { return lockMode_; }
  void SetLockMode(bool v) { lockMode_ = v; }
  bool DisplayAlt() const { return displayAlt_; }
  void SetDisplayAlt(bool v) { displayAlt_ = v; }

  const QPixmap& BitmapUp() const { return up_; }
  const QPixmap& BitmapDown() const { return down_; }
  const QPixmap& BitmapAlt() const { return alt_; }
  // Each keeps a copy and repaints. BitmapUp also resizes the button to the
  // image's size at the same position (a null image keeps the size).
  void SetBitmapUp(const QPixmap& image);
  void SetBitmapDown(const QPixmap& image);
  void SetBitmapAlt(const QPixmap& image);

  bool Down() const { return isDown_; }
  // A new value clears the pressed state and repaints; the same value does
  // nothing. Never raises Click.
  void SetDown(bool down);

  // True from a left press the button accepted until the next release.
  bool Pressed() const { return pressed_; }
  // The image Paint draws now.
  const QPixmap& CurrentBitmap() const;

 signals:
  // A left press on an enabled button that changed or kept its state as its
  // mode says (not raised for a latched button pressed again).
  void Click(QObject* sender);
  // Every mouse press and release, before the button reacts; every move.
  void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
  void MouseMove(Qt::KeyboardModifiers modifiers, QPoint position);
  void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  void Press(QMouseEvent* e);

  QPixmap alt_, down_, up_;
  bool allowAllUp_ = false;
  bool displayAlt_ = false;
  bool isDown_ = false;
  bool pressed_ = false;
  bool lockMode_ = false;
  bool pressSinceRelease_ = false;  // a press was handled since the last release
};

}  // namespace tarvo::ui
