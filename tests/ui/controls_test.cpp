// The slider and the three-image button driven by real mouse and key events.
#include <QApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

#include "ui/controls/button_images.h"
#include "ui/controls/dialog_keys.h"
#include "ui/controls/kiv_bar.h"
#include "ui/controls/kiv_button.h"
#include "ui_test_app.h"

namespace tarvo::ui {
namespace {

// A shown window holding the control under test.
class ControlTest : public ::testing::Test {
 protected:
  // The application exists before any member image is made.
  ControlTest() { test::TestApp(); }
  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    window_->resize(320, 120);
  }
  void Show() {
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  std::unique_ptr<QWidget> window_;
};

// ---- TKivBar ----

class KivBarTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    bar_ = new TKivBar(window_.get());
    bar_->setGeometry(10, 10, 220, 22);
    bar_->setRange(-100, 100);
    bar_->setPageStep(10);
    bar_->SetDefaultPosition(0);
    bar_->SetOriginalPosition(0);
    QObject::connect(bar_, &TKivBar::Change, [this](QObject* sender) {
      senders_.push_back(sender);
      positionsSeen_.push_back(bar_->Position());
    });
  }
  TKivBar* bar_ = nullptr;
  std::vector<QObject*> senders_;
  std::vector<int> positionsSeen_;
};

TEST_F(KivBarTest, AFreshBarHasTheTrackBarDefaults) {
  TKivBar fresh;
  EXPECT_EQ(fresh.minimum(), 0);
  EXPECT_EQ(fresh.maximum(), 10);
  EXPECT_EQ(fresh.pageStep(), 2);
  EXPECT_EQ(fresh.singleStep(), 1);
  EXPECT_EQ(fresh.OriginalPosition(), 0);
  EXPECT_EQ(fresh.DefaultPosition(), 0);
  EXPECT_EQ(fresh.orientation(), Qt::Horizontal);
}

TEST_F(KivBarTest, PositionsSetFromCodeRaiseNoChange) {
  Show();
  bar_->SetPosition(40);
  bar_->setValue(-30);
  bar_->SetOriginalPosition(25);
  bar_->SetOriginalPosition(500);  // clamped to 100
  bar_->setRange(0, 50);           // clamps the position to 50
  EXPECT_EQ(bar_->Position(), 50);
  EXPECT_TRUE(senders_.empty());
}

TEST_F(KivBarTest, KeysMouseAndWheelRaiseChangeAfterThePositionIsStored) {
  Show();
  bar_->setFocus();
  QTest::keyClick(bar_, Qt::Key_Right);
  QTest::keyClick(bar_, Qt::Key_PageUp);
  ASSERT_EQ(positionsSeen_.size(), 2u);
  EXPECT_EQ(positionsSeen_[0], 1);
  EXPECT_EQ(positionsSeen_[1], 11);
  // A click on the groove right of the handle steps a page towards it.
  QTest::mouseClick(bar_, Qt::LeftButton, {}, QPoint(bar_->width() - 5, bar_->height() / 2));
  ASSERT_EQ(positionsSeen_.size(), 3u);
  EXPECT_GT(positionsSeen_[2], 11);
  QPoint centre(bar_->width() / 2, bar_->height() / 2);
  QWheelEvent wheel(centre, bar_->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(bar_, &wheel);
  ASSERT_EQ(positionsSeen_.size(), 4u);
  for (QObject* s : senders_) EXPECT_EQ(s, bar_);
  EXPECT_EQ(positionsSeen_.back(), bar_->Position());
}

TEST_F(KivBarTest, AKeyThatCannotMoveTheSliderRaisesNothing) {
  Show();
  bar_->SetPosition(100);
  bar_->setFocus();
  QTest::keyClick(bar_, Qt::Key_Right);
  EXPECT_TRUE(senders_.empty());
}

TEST_F(KivBarTest, PositionsAChangeHandlerSetsFromCodeRaiseNothingMore) {
  Show();
  TKivBar* other = new TKivBar(window_.get());
  other->setRange(-100, 100);
  int otherChanges = 0;
  QObject::connect(other, &TKivBar::Change, [&](QObject*) { ++otherChanges; });
  // The handler moves its own bar and another one from code.
  QObject::connect(bar_, &TKivBar::Change, [&](QObject* sender) {
    if (sender != bar_) return;
    other->SetPosition(bar_->Position() * 2);
    if (bar_->Position() == 1) bar_->SetPosition(5);
  });
  bar_->setFocus();
  QTest::keyClick(bar_, Qt::Key_Right);
  EXPECT_EQ(otherChanges, 0);
  EXPECT_EQ(other->Position(), 2);
  EXPECT_EQ(bar_->Position(), 5);
  EXPECT_EQ(senders_.size(), 1u);  // only the user's move
}

TEST_F(KivBarTest, RevertAndResetAlwaysCallChangeWithTheirSender) {
  QObject menu;
  bar_->SetOriginalPosition(30);
  bar_->SetDefaultPosition(-20);
  // Already at the original position: Change is still called.
  bar_->Revert(&menu);
  ASSERT_EQ(senders_.size(), 1u);
  EXPECT_EQ(senders_[0], &menu);
  EXPECT_EQ(positionsSeen_[0], 30);
  bar_->Reset(&menu);
  ASSERT_EQ(senders_.size(), 2u);
  EXPECT_EQ(positionsSeen_[1], -20);
  EXPECT_EQ(bar_->OriginalPosition(), 30);
}

TEST_F(KivBarTest, AnOriginalPositionOutOfRangeRevertsToTheNearestBoundAndIsKept) {
  bar_->SetOriginalPosition(-250);
  EXPECT_EQ(bar_->Position(), -100);
  bar_->SetPosition(40);
  bar_->Revert(nullptr);
  EXPECT_EQ(bar_->Position(), -100);
  EXPECT_EQ(bar_->OriginalPosition(), -250);
  ASSERT_EQ(senders_.size(), 1u);
  EXPECT_EQ(senders_[0], nullptr);
}

TEST_F(KivBarTest, RevertWithoutAHandlerOnlyMovesTheSlider) {
  TKivBar lone;
  lone.setRange(0, 100);
  lone.SetOriginalPosition(70);
  lone.SetPosition(10);
  lone.Revert(nullptr);
  EXPECT_EQ(lone.Position(), 70);
}

TEST_F(KivBarTest, MouseDownIsRaisedForEveryButton) {
  Show();
  QSignalSpy downs(bar_, &TKivBar::MouseDown);
  QTest::mouseClick(bar_, Qt::RightButton, Qt::ShiftModifier, QPoint(3, 4));
  ASSERT_EQ(downs.count(), 1);
  EXPECT_EQ(downs[0][0].value<Qt::MouseButton>(), Qt::RightButton);
  EXPECT_EQ(downs[0][1].value<Qt::KeyboardModifiers>(), Qt::ShiftModifier);
  EXPECT_EQ(downs[0][2].toPoint(), QPoint(3, 4));
  EXPECT_TRUE(senders_.empty());
}

// ---- TKivButton ----

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

class KivButtonTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    button_ = new TKivButton(window_.get());
    button_->move(20, 30);
    images_ = DrawKey("Y", Indicator::Red);
    SetImages(*button_, images_);
    QObject::connect(button_, &TKivButton::Click, [this](QObject* s) {
      ++clicks_;
      downAtClick_.push_back(button_->Down());
      EXPECT_EQ(s, button_);
    });
    QObject::connect(button_, &TKivButton::MouseDown, [this] { ++mouseDowns_; });
    Show();
  }
  void Mode(bool lock, bool allowAllUp, bool displayAlt) {
    button_->SetLockMode(lock);
    button_->SetAllowAllUp(allowAllUp);
    button_->SetDisplayAlt(displayAlt);
  }
  static bool Same(const QPixmap& a, const QPixmap& b) { return a.toImage() == b.toImage(); }
  void Press(Qt::MouseButton b = Qt::LeftButton) { QTest::mousePress(button_, b, {}, QPoint(5, 5)); }
  void Release(Qt::MouseButton b = Qt::LeftButton) { QTest::mouseRelease(button_, b, {}, QPoint(5, 5)); }

  TKivButton* button_ = nullptr;
  ButtonImages images_;
  int clicks_ = 0;
  int mouseDowns_ = 0;
  std::vector<bool> downAtClick_;
};

TEST_F(KivButtonTest, AFreshButtonIs25By25AtTheOriginAndUp) {
  TKivButton fresh;
  EXPECT_EQ(fresh.geometry(), QRect(0, 0, 25, 25));
  EXPECT_FALSE(fresh.Down());
  EXPECT_FALSE(fresh.Pressed());
  EXPECT_TRUE(fresh.BitmapUp().isNull());
}

TEST_F(KivButtonTest, ALatchedButtonPressedAgainOnlyShowsDownWhileHeld) {
  Mode(true, false, true);
  Press();
  Release();
  ASSERT_EQ(clicks_, 1);
  EXPECT_TRUE(button_->Down());
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.alt));
  Press();
  EXPECT_TRUE(button_->Pressed());
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.down));
  Release();
  EXPECT_EQ(clicks_, 1);      // no Click for the second press
  EXPECT_EQ(mouseDowns_, 2);  // but MouseDown both times
  EXPECT_TRUE(button_->Down());
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.alt));
  // The owner releases it from code.
  button_->SetDown(false);
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.up));
  EXPECT_EQ(clicks_, 1);
}

TEST_F(KivButtonTest, AToggleInvertsAtEveryPressAndRaisesClickEachTime) {
  Mode(true, true, true);
  Press();
  EXPECT_TRUE(button_->Down());
  Release();
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.alt));
  Press();
  Release();
  EXPECT_EQ(clicks_, 2);
  EXPECT_EQ(downAtClick_, (std::vector<bool>{true, false}));
  EXPECT_FALSE(button_->Down());
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.up));
}

TEST_F(KivButtonTest, AMomentaryButtonIsDownFromPressToReleaseAndClicksAtThePress) {
  Mode(false, true, false);
  Press();
  ASSERT_EQ(clicks_, 1);  // raised while the mouse button is still held
  EXPECT_TRUE(downAtClick_[0]);
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.down));
  Release();
  EXPECT_FALSE(button_->Down());
  EXPECT_FALSE(button_->Pressed());
  EXPECT_EQ(clicks_, 1);
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.up));
}

TEST_F(KivButtonTest, DownWithoutDisplayAltShowsTheDownImage) {
  Mode(true, true, false);
  button_->SetDown(true);
  EXPECT_TRUE(Same(button_->CurrentBitmap(), images_.down));
}

TEST_F(KivButtonTest, ARightPressChangesNothingButItsReleaseEndsAMomentaryPress) {
  Mode(false, true, false);
  Press(Qt::RightButton);
  EXPECT_EQ(mouseDowns_, 1);
  EXPECT_EQ(clicks_, 0);
  EXPECT_FALSE(button_->Down());
  EXPECT_FALSE(button_->Pressed());
  Release(Qt::RightButton);
  // A left press held, then a right click: the right release ends it.
  Press();
  EXPECT_TRUE(button_->Down());
  Press(Qt::RightButton);
  Release(Qt::RightButton);
  EXPECT_FALSE(button_->Pressed());
  EXPECT_FALSE(button_->Down());
  EXPECT_EQ(clicks_, 1);
  Release();
}

TEST_F(KivButtonTest, ADisabledButtonIgnoresPresses) {
  Mode(true, true, true);
  button_->setEnabled(false);
  Press();
  Release();
  EXPECT_EQ(clicks_, 0);
  EXPECT_FALSE(button_->Down());
  EXPECT_FALSE(button_->Pressed());
}

TEST_F(KivButtonTest, TheSecondPressOfADoubleClickCountsAsOnePress) {
  Mode(true, true, true);
  // Through the window, as the platform delivers a double click: press,
  // release, then the second press with its double-click event.
  QTest::mouseDClick(window_->windowHandle(), Qt::LeftButton, {}, button_->mapTo(window_.get(), QPoint(5, 5)));
  EXPECT_EQ(clicks_, 2);
  EXPECT_EQ(mouseDowns_, 2);
  EXPECT_FALSE(button_->Down());
}

TEST_F(KivButtonTest, ASecondPressFollowedByItsDoubleClickEventCountsOnce) {
  // Some platforms deliver the second press and then the double-click event.
  Mode(true, true, true);
  auto send = [this](QEvent::Type type, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(5, 5), button_->mapToGlobal(QPointF(5, 5)), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(button_, &e);
  };
  send(QEvent::MouseButtonPress, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, Qt::NoButton);
  send(QEvent::MouseButtonPress, Qt::LeftButton);
  send(QEvent::MouseButtonDblClick, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, Qt::NoButton);
  EXPECT_EQ(clicks_, 2);
  EXPECT_EQ(mouseDowns_, 2);
  EXPECT_FALSE(button_->Down());
}

TEST_F(KivButtonTest, SetDownRepaintsOnlyForANewValueAndNeverClicks) {
  PaintCounter counter;
  button_->installEventFilter(&counter);
  QCoreApplication::processEvents();
  const int before = counter.paints;
  button_->SetDown(false);  // the value it has
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.paints, before);
  button_->SetDown(true);
  QTest::qWait(20);
  EXPECT_GT(counter.paints, before);
  EXPECT_EQ(clicks_, 0);
  // A new value also ends a held press.
  Mode(true, false, true);
  Press();
  button_->SetDown(false);
  EXPECT_FALSE(button_->Pressed());
  Release();
}

TEST_F(KivButtonTest, AWideUpImageResizesTheButtonInPlace) {
  const ButtonImages wide = DrawKey("BYPASS", Indicator::Red, kWideKeySize);
  button_->SetBitmapUp(wide.up);
  EXPECT_EQ(button_->geometry(), QRect(20, 30, 51, 25));
  // The other images do not change the size.
  button_->SetBitmapDown(DrawArrowButton(Arrow::First).down);
  EXPECT_EQ(button_->size(), QSize(51, 25));
  // No image keeps the size.
  button_->SetBitmapUp(QPixmap());
  EXPECT_EQ(button_->size(), QSize(51, 25));
}

TEST_F(KivButtonTest, PaintDrawsTheChosenImage) {
  Mode(true, true, true);
  Press();
  Release();
  QTest::qWait(20);
  const QImage shown = button_->grab().toImage().convertToFormat(QImage::Format_RGB888);
  EXPECT_EQ(shown, images_.alt.toImage().convertToFormat(QImage::Format_RGB888));
}

// ---- images ----

// The share of pixels in `r` whose colour is close to `c`.
double ShareNear(const QImage& image, QRect r, QColor c) {
  int near = 0, all = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x, ++all) {
      const QColor p = image.pixelColor(x, y);
      if (std::abs(p.red() - c.red()) < 40 && std::abs(p.green() - c.green()) < 40 && std::abs(p.blue() - c.blue()) < 40)
        ++near;
    }
  return all ? static_cast<double>(near) / all : 0;
}

TEST(ButtonImages, KeysShowADarkIndicatorWhenUpAndALitOneOtherwise) {
  test::TestApp();
  for (auto [indicator, size] : {std::pair{Indicator::Red, kKeySize}, std::pair{Indicator::Green, kKeySize},
                                 std::pair{Indicator::Red, kWideKeySize}}) {
    const ButtonImages k = DrawKey(indicator == Indicator::Red ? "BB" : "W", indicator, size);
    for (const QPixmap* p : {&k.up, &k.down, &k.alt}) {
      EXPECT_EQ(p->size(), size);
      EXPECT_EQ(p->toImage().depth() >= 24, true);
    }
    const QRect bar(6, 5, size.width() - 12, 1);  // inside the bar, raised or sunken
    const QColor lit = IndicatorColor(indicator);
    EXPECT_EQ(ShareNear(k.up.toImage(), bar, lit), 0.0);
    EXPECT_EQ(ShareNear(k.alt.toImage(), bar, lit), 1.0);
    EXPECT_EQ(ShareNear(k.down.toImage(), bar, lit), 1.0);
    // Down is sunken: its top-left edge is dark where the raised keys' is light.
    EXPECT_LT(k.down.toImage().pixelColor(3, 0).lightness(), 100);
    EXPECT_GT(k.alt.toImage().pixelColor(3, 0).lightness(), 200);
    EXPECT_NE(k.down.toImage(), k.alt.toImage());
  }
}

TEST(ButtonImages, ArrowsTurnGreenWhenPressed) {
  test::TestApp();
  for (Arrow a : {Arrow::First, Arrow::Last}) {
    const ButtonImages b = DrawArrowButton(a);
    EXPECT_EQ(b.up.size(), kArrowSize);
    const QRect inner(2, 2, 11, 11);
    EXPECT_EQ(ShareNear(b.up.toImage(), inner, IndicatorColor(Indicator::Green)), 0.0);
    EXPECT_GT(ShareNear(b.down.toImage(), inner, IndicatorColor(Indicator::Green)), 0.1);
  }
  // The two arrows point different ways.
  EXPECT_NE(DrawArrowButton(Arrow::First).up.toImage(), DrawArrowButton(Arrow::Last).up.toImage());
}

TEST(DialogKeys, EachKeyHasItsModeSizeAndIndicator) {
  test::TestApp();
  QWidget parent;
  struct Expect {
    const char* name;
    bool lock, allowAllUp, displayAlt;
    QSize size;
    Indicator indicator;
  };
  const Expect keys[] = {
      {"BBButton0", true, true, true, kKeySize, Indicator::Red},
      {"GBButton2", true, true, true, kKeySize, Indicator::Red},
      {"CBButton1", true, true, true, kKeySize, Indicator::Red},
      {"WBButton2", true, true, true, kKeySize, Indicator::Red},
      {"YOnlyButton", true, true, true, kKeySize, Indicator::Red},
      {"COnlyButton", true, true, true, kKeySize, Indicator::Red},
      {"BypassButton", true, true, true, kWideKeySize, Indicator::Red},
      {"WFButton", true, false, true, kKeySize, Indicator::Green},
      {"VSButton", true, false, true, kKeySize, Indicator::Green},
      {"PixButton", true, false, true, kKeySize, Indicator::Green},
      {"FirstButton", false, true, false, kArrowSize, Indicator::Green},
      {"LastButton", false, true, false, kArrowSize, Indicator::Green},
  };
  for (const Expect& e : keys) {
    TKivButton* key = MakeDialogKey(e.name, &parent);
    ASSERT_NE(key, nullptr) << e.name;
    EXPECT_EQ(key->objectName(), e.name);
    EXPECT_EQ(key->parent(), &parent);
    EXPECT_EQ(key->LockMode(), e.lock) << e.name;
    EXPECT_EQ(key->AllowAllUp(), e.allowAllUp) << e.name;
    EXPECT_EQ(key->DisplayAlt(), e.displayAlt) << e.name;
    EXPECT_EQ(key->size(), e.size) << e.name;
    EXPECT_FALSE(key->Down()) << e.name;
    // The lit image shows the key's indicator colour, the up image does not.
    const QImage lit = key->BitmapDown().toImage();
    EXPECT_GT(ShareNear(lit, lit.rect(), IndicatorColor(e.indicator)), 0.02) << e.name;
    EXPECT_EQ(ShareNear(key->BitmapUp().toImage(), key->rect(), IndicatorColor(e.indicator)), 0.0) << e.name;
  }
  EXPECT_EQ(MakeDialogKey("BBButton3", &parent), nullptr);
  EXPECT_EQ(MakeDialogKey("OkButton", &parent), nullptr);
}

TEST(ButtonImages, TheLogoHasItsSizeAndAPicture) {
  test::TestApp();
  const QImage logo = DrawProductLogo(QSize(200, 90)).toImage();
  EXPECT_EQ(logo.size(), QSize(200, 90));
  EXPECT_LT(ShareNear(logo, logo.rect(), logo.pixelColor(0, 0)), 0.95);
}

}  // namespace
}  // namespace tarvo::ui
