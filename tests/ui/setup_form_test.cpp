// The setup dialog's form driven as a user drives it: real mouse and key
// events on the widgets found by object name, with assertions on the clip's
// record, the changed flag and the stored options.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "types/call_record.h"
#include "types/specs.h"
#include "ui/controls/help_window.h"
#include "ui/controls/kiv_bar.h"
#include "ui/controls/kiv_button.h"
#include "ui/logic/control_table.h"
#include "ui/setup/preview_buffers.h"
#include "ui/setup/preview_cycle.h"
#include "ui/setup/tsetup.h"
#include "ui_test_app.h"
#include "dialog_fixture.h"

namespace tarvo::ui {
namespace {


std::string Bytes(const TSpecs& s) { return std::string(reinterpret_cast<const char*>(&s), sizeof s); }

// One dialog over one clip record, as a setup call makes it.
class SetupFormTest : public DialogFixture {
 protected:
  void SetUp() override {
    DialogFixture::SetUp();
    live_ = BuiltInDefaultSpecs();
    options_.HelpFile = TARVO_HELP_FILE;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  }

  // Focuses a slider with the mouse-free keyboard path and presses keys on it.
  void Keys(const char* bar, Qt::Key key, int times = 1) {
    ShowPageOf(bar);
    QWidget* w = Find(bar);
    ASSERT_NE(w, nullptr);
    w->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < times; ++i) QTest::keyClick(w, key);
  }
  void Type(const char* edit, const QString& text) {
    ShowPageOf(edit);
    auto* e = Find<QLineEdit>(edit);
    ASSERT_NE(e, nullptr);
    e->setFocus(Qt::TabFocusReason);
    e->selectAll();
    QTest::keyClicks(e, text);
  }
  QString LabelText(const char* name) { return Find<QLabel>(name)->text(); }
};

// ---- Layout ----

TEST_F(SetupFormTest, EveryControlOfTheTableIsAWidgetOfItsKindAtItsPlace) {
  TSetup& d = Open();
  EXPECT_EQ(d.objectName(), "TSetup");
  EXPECT_EQ(d.size(), QSize(614, 443));
  EXPECT_EQ(d.windowTitle(), "Tarvo");
  for (const ControlEntry& c : ControlEntries()) {
    if (c.kind == ControlKind::PopupMenu) continue;  // the revert and reset menu comes with its commands
    QObject* o = c.kind == ControlKind::Form ? static_cast<QObject*>(&d) : d.findChild<QObject*>(QString::fromUtf8(c.name.data(), static_cast<int>(c.name.size())));
    ASSERT_NE(o, nullptr) << c.name;
    switch (c.kind) {
      case ControlKind::Bar: EXPECT_NE(qobject_cast<TKivBar*>(o), nullptr) << c.name; break;
      case ControlKind::KeyButton: EXPECT_NE(qobject_cast<TKivButton*>(o), nullptr) << c.name; break;
      case ControlKind::RadioButton: EXPECT_NE(qobject_cast<QRadioButton*>(o), nullptr) << c.name; break;
      case ControlKind::CheckBox: EXPECT_NE(qobject_cast<QCheckBox*>(o), nullptr) << c.name; break;
      case ControlKind::Edit: EXPECT_NE(qobject_cast<QLineEdit*>(o), nullptr) << c.name; break;
      case ControlKind::Group: EXPECT_NE(qobject_cast<QGroupBox*>(o), nullptr) << c.name; break;
      case ControlKind::PageControl: EXPECT_NE(qobject_cast<QTabWidget*>(o), nullptr) << c.name; break;
      case ControlKind::Timer: EXPECT_NE(qobject_cast<QTimer*>(o), nullptr) << c.name; break;
      default: break;
    }
    if (auto* w = qobject_cast<QWidget*>(o); w && !c.hint.empty()) {
      EXPECT_EQ(w->toolTip().toStdString(), c.hint) << c.name;
    }
  }
  // The areas of the form.
  auto at = [&](const char* name) { return Find(name)->geometry(); };
  EXPECT_EQ(at("AMon"), QRect(11, 10, 136, 124));
  EXPECT_EQ(at("BMon"), QRect(149, 10, 136, 124));
  EXPECT_EQ(at("MMon"), QRect(11, 139, 274, 240));
  EXPECT_EQ(at("Panel4"), QRect(11, 385, 274, 32));
  EXPECT_EQ(at("PageControl1"), QRect(290, 8, 314, 371));
  EXPECT_EQ(at("PreviewBox").topLeft(), QPoint(292, 392));
  EXPECT_EQ(at("HelpButton"), QRect(361, 389, 70, 25));
  EXPECT_EQ(at("CancelButton"), QRect(444, 389, 70, 25));
  EXPECT_EQ(at("OkButton"), QRect(526, 389, 70, 25));
  EXPECT_EQ(at("StatusBar1"), QRect(0, 424, 437, 19));
  EXPECT_EQ(at("Panel10"), QRect(439, 426, 175, 17));
  EXPECT_EQ(Find("MScreen")->size(), QSize(240, 180));
  EXPECT_EQ(Find("AScreen")->size(), QSize(120, 90));
  EXPECT_EQ(Find("FrameBar")->size(), QSize(220, 22));
  EXPECT_EQ(Find("BypassButton")->size(), QSize(51, 25));
  EXPECT_EQ(Find("FirstButton")->size(), QSize(15, 15));
  auto* timer = Find<QTimer>("Timer1");
  EXPECT_TRUE(timer->isSingleShot());
  EXPECT_EQ(timer->interval(), 60);
  EXPECT_EQ(Find<QTabWidget>("PageControl1")->count(), 8);
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel1")->text(), "Press F1 key for context sensitive help");
  // Every slider with its range, page and default from the control table.
  for (const ControlEntry& c : ControlEntries()) {
    if (c.kind != ControlKind::Bar || c.name == "FrameBar") continue;
    auto* bar = d.findChild<TKivBar*>(QString::fromUtf8(c.name.data(), static_cast<int>(c.name.size())));
    const BarRange r = BarRangeOf(c);
    EXPECT_EQ(bar->minimum(), r.min) << c.name;
    EXPECT_EQ(bar->maximum(), r.max) << c.name;
    EXPECT_EQ(bar->pageStep(), r.pageSize) << c.name;
    EXPECT_EQ(bar->DefaultPosition(), r.def) << c.name;
    EXPECT_EQ(bar->size(), QSize(220, 22)) << c.name;
  }
}

// ---- The four control rules ----

// A slider set by code raises no change: loading a record moves every slider
// and fills its readout, but neither sets the changed flag nor asks for a
// render; a user's move does both and reaches the record at the next render.
TEST_F(SetupFormTest, SlidersSetByCodeRaiseNoChangeAndUserMovesDo) {
  TSpecs s = BuiltInDefaultSpecs();
  s.Lift = 30;
  s.YSharpness = -40;
  TSetup& d = Open(s);
  Render();
  EXPECT_EQ(Find<QSlider>("LiftBar")->value(), 30);
  EXPECT_EQ(LabelText("LiftLabel"), "30");
  EXPECT_EQ(LabelText("YSharpnessLabel"), "-40");
  changed_ = false;
  // Moved by code: the slider moves, its handler does not run.
  d.Logic().SetOriginalPosition("LiftBar", 70);
  Find<TKivBar>("KneeBar")->setValue(20);
  EXPECT_EQ(Find<QSlider>("LiftBar")->value(), 70);
  EXPECT_EQ(LabelText("LiftLabel"), "30");
  EXPECT_EQ(LabelText("KneeLabel"), "100");
  EXPECT_FALSE(changed_);
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
  d.Logic().SetOriginalPosition("LiftBar", 30);

  Keys("LiftBar", Qt::Key_Right, 3);
  EXPECT_TRUE(changed_);
  EXPECT_TRUE(Find<QTimer>("Timer1")->isActive());
  EXPECT_EQ(LabelText("LiftLabel"), "33");
  Render();
  EXPECT_EQ(live_.Lift, 33);
  // A sharpness slider is not a level control: no changed flag.
  changed_ = false;
  Keys("YSharpnessBar", Qt::Key_Left);
  EXPECT_FALSE(changed_);
  Render();
  EXPECT_EQ(live_.YSharpness, -41);
}

// A radio button checked by code unchecks its neighbours and runs its click
// handling; a user's click on the checked one does nothing.
TEST_F(SetupFormTest, RadioButtonsCheckedByCodeRunTheirClickHandling) {
  TSetup& d = Open();
  ShowPageOf("GainX1");
  Render();
  auto* x1 = Find<QRadioButton>("GainX1");
  auto* x4 = Find<QRadioButton>("GainX4");
  ASSERT_TRUE(x1->isChecked());
  Click("GainX1");
  EXPECT_TRUE(x1->isChecked());
  EXPECT_FALSE(changed_);
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());

  TSpecs s = BuiltInDefaultSpecs();
  s.Gain = 400;
  s.TestSignal = 3;
  d.Logic().UpdateControls(s);
  EXPECT_TRUE(x4->isChecked());
  EXPECT_FALSE(x1->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("BarsNTSCButton")->isChecked());
  EXPECT_FALSE(Find<QRadioButton>("MonOnlyButton")->isChecked());
  // The multiplier's and the pattern's click handling set the changed flag.
  EXPECT_TRUE(changed_);
  Render();
  EXPECT_EQ(live_.Gain, 400);
  EXPECT_EQ(live_.TestSignal, 3);

  // The user's click on another button: the group stays exclusive.
  Click("GainX2");
  EXPECT_TRUE(Find<QRadioButton>("GainX2")->isChecked());
  EXPECT_FALSE(x4->isChecked());
  Render();
  EXPECT_EQ(live_.Gain, 200);
}

// A check box set by code runs its click handling: loading motion detection
// enables its three sliders, and checking Show Edges unchecks Show Mask.
TEST_F(SetupFormTest, CheckBoxesSetByCodeRunTheirClickHandling) {
  TSpecs s = BuiltInDefaultSpecs();
  s.SharpShowMask = 1;
  Open();
  EXPECT_FALSE(Find("TempOnsetBar")->isEnabled());
  s.TempFlags = 1;
  dialog_->Logic().UpdateControls(s);
  for (const char* bar : {"TempOnsetBar", "TempLimitBar", "TempResponseBar"}) EXPECT_TRUE(Find(bar)->isEnabled()) << bar;
  EXPECT_TRUE(Find<QCheckBox>("SharpShowMaskBox")->isChecked());

  Click("SharpShowEdgesBox");
  EXPECT_TRUE(Find<QCheckBox>("SharpShowEdgesBox")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>("SharpShowMaskBox")->isChecked());
  Render();
  EXPECT_EQ(live_.SharpShowEdges, 1);
  EXPECT_EQ(live_.SharpShowMask, 0);
  // Both may be off together.
  Click("SharpShowEdgesBox");
  Render();
  EXPECT_EQ(live_.SharpShowEdges, 0);
  EXPECT_EQ(live_.SharpShowMask, 0);
  // The user turns motion detection off: the sliders follow.
  Click("TempMotionBox");
  EXPECT_FALSE(Find("TempOnsetBar")->isEnabled());
  Render();
  EXPECT_EQ(live_.TempFlags & 1, 0);
}

// The dialog's own calls carry no sender and never start the preview timer;
// the first activation asks for one render.
TEST_F(SetupFormTest, TheDialogsOwnCallsRequestNoRender) {
  TSetup& d = Open();
  EXPECT_TRUE(Find<QTimer>("Timer1")->isActive());  // the activation's render
  Render();
  d.Logic().BarChange("GainBar", kNoSender);
  d.Logic().KickTimer(kNoSender);
  TSpecs s = live_;
  d.Logic().UpdateControls(s);
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
  d.Logic().KickTimer(By("LiftBar"));
  EXPECT_TRUE(Find<QTimer>("Timer1")->isActive());
}

// ---- Worked values ----

TEST_F(SetupFormTest, GainLoadsWithItsMultiplierAndStoresBack) {
  struct Case {
    int16_t gain;
    const char* button;
    int position;
    int16_t stored;
  };
  for (const Case c : {Case{200, "GainX2", 100, 200}, Case{199, "GainX1", 199, 199}, Case{400, "GainX4", 100, 400},
                       Case{401, "GainX4", 100, 400}}) {
    TSpecs s = BuiltInDefaultSpecs();
    s.Gain = c.gain;
    Open(s);
    EXPECT_TRUE(Find<QRadioButton>(c.button)->isChecked()) << c.gain;
    EXPECT_EQ(Find<QSlider>("GainBar")->value(), c.position) << c.gain;
    Render();
    EXPECT_EQ(live_.Gain, c.stored) << c.gain;
  }
  // The readout ignores the multiplier.
  TSpecs s = BuiltInDefaultSpecs();
  s.Gain = 600;
  Open(s);
  EXPECT_EQ(LabelText("GainLabel"), "1.50");
}

TEST_F(SetupFormTest, GammaAndRecursionReadouts) {
  TSpecs s = BuiltInDefaultSpecs();
  s.Gamma = -50;
  Open(s);
  EXPECT_EQ(Find<QSlider>("GammaBar")->value(), 50);
  EXPECT_EQ(LabelText("GammaLabel"), "0.32");
  Keys("GammaBar", Qt::Key_End);
  EXPECT_EQ(LabelText("GammaLabel"), "0.10");
  Render();
  EXPECT_EQ(live_.Gamma, -100);
  Keys("GammaBar", Qt::Key_Home);
  EXPECT_EQ(LabelText("GammaLabel"), "10.00");
  Render();
  EXPECT_EQ(live_.Gamma, 100);

  EXPECT_EQ(LabelText("TempRecursionLabel"), "2.00");
  Keys("TempRecursionBar", Qt::Key_PageUp, 5);
  EXPECT_EQ(LabelText("TempRecursionLabel"), "4.00");
  Keys("TempRecursionBar", Qt::Key_End);
  EXPECT_EQ(LabelText("TempRecursionLabel"), "8.00");
  Render();
  EXPECT_EQ(live_.TempRecursion, 100);
}

TEST_F(SetupFormTest, ReadoutsUseTheUsersDecimalSeparator) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  TSpecs s = BuiltInDefaultSpecs();
  s.Gamma = -50;
  Open(s);
  QLocale::setDefault(before);
  EXPECT_EQ(LabelText("GammaLabel"), "0,32");
  EXPECT_EQ(LabelText("SlopeLabel"), "0,50");
}

TEST_F(SetupFormTest, ClipLevelEditsApplyOnEnterWithoutClosingTheDialog) {
  TSpecs s = BuiltInDefaultSpecs();
  s.Vmin = 0;
  s.Vmax = 235;
  Open(s);
  Render();
  Type("VmaxEdit", "300");
  QTest::keyClick(Find("VmaxEdit"), Qt::Key_Return);
  EXPECT_EQ(live_.Vmax, 255);
  EXPECT_EQ(Find<QLineEdit>("VmaxEdit")->text(), "255");
  EXPECT_TRUE(dialog_->isVisible());  // Enter applied the level; it did not press OK
  EXPECT_EQ(dialog_->result(), 0);

  // A level the record does not have yet is stored at once.
  Type("VmaxEdit", "240");
  QTest::keyClick(Find("VmaxEdit"), Qt::Key_Enter);
  EXPECT_EQ(live_.Vmax, 240);
  EXPECT_TRUE(changed_);

  // Letters in Vmin when Vmin is 0 already: nothing changes, the letters stay.
  ASSERT_EQ(live_.Vmin, 0);
  changed_ = false;
  Type("VminEdit", "abc");
  QTest::keyClick(Find("VminEdit"), Qt::Key_Return);
  EXPECT_EQ(live_.Vmin, 0);
  EXPECT_EQ(Find<QLineEdit>("VminEdit")->text(), "abc");
  EXPECT_FALSE(changed_);

  // Leaving the box applies too.
  Type("VminEdit", "-7");
  Find("VmaxEdit")->setFocus(Qt::TabFocusReason);
  Type("VminEdit", "16");
  Find("VmaxEdit")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(live_.Vmin, 16);
}

TEST_F(SetupFormTest, UnknownPageAndProcessingModeKeepTheDesign) {
  TSpecs s = BuiltInDefaultSpecs();
  s.PageIndex = 9;
  s.ProcMode = 7;
  Open(s);
  EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentWidget()->objectName(), "LevelsSheet");
  EXPECT_TRUE(Find<QAbstractButton>("LevelsSheetTab")->isChecked());
  const char* design[] = {"Pm444Button", "Pm422Button", "Pm420Button", "Pm411Button"};
  for (int m = 0; m < 4; ++m)
    EXPECT_EQ(Find<QRadioButton>(design[m])->isChecked(), m == defaults_.ProcMode) << design[m];

  s.PageIndex = 5;
  s.ProcMode = 3;
  Open(s);
  EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentWidget()->objectName(), "SpatialSheet");
  EXPECT_TRUE(Find<QRadioButton>("Pm411Button")->isChecked());
  // Choosing a page by its tab is stored as the record's page.
  Click("AboutSheetTab");
  EXPECT_EQ(Find<QLabel>("VersionLabel")->text(), "Version\n1.02.02");
  Render();
  EXPECT_EQ(live_.PageIndex, 7);
}

// ---- OK, Cancel, help, preferences, operating mode ----

TEST_F(SetupFormTest, OkStoresTheLastChangeAndCancelRestoresEveryByte) {
  TSpecs s = BuiltInDefaultSpecs();
  s.Sat = 120;
  s.FramePos = 3;
  Open(s);
  Render();
  const std::string before = Bytes(previous_);
  // A change made just before OK, with the timer still running.
  Keys("SatBar", Qt::Key_Right, 2);
  ASSERT_TRUE(Find<QTimer>("Timer1")->isActive());
  Click("OkButton");
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_FALSE(dialog_->Cancelled());
  EXPECT_EQ(live_.Sat, 122);
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());

  for (bool esc : {false, true}) {
    Open(s);
    Keys("SatBar", Qt::Key_Left, 5);
    Click("Pm411Button");  // (without a scene the master button only explains itself)
    Render();
    ASSERT_NE(Bytes(live_), before);
    if (esc) QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    else Click("CancelButton");
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_TRUE(dialog_->Cancelled());
    EXPECT_EQ(Bytes(live_), before) << (esc ? "Esc" : "Cancel");
  }
}

// A level typed but not yet applied when the user cancels: closing the
// dialog takes the focus from the box, which must not store the level into
// the record Cancel has just put back.
TEST_F(SetupFormTest, CancelWithALevelStillInItsBoxLeavesTheRecordAlone) {
  for (bool esc : {true, false}) {
    Open();
    Render();
    const std::string before = Bytes(previous_);
    Type("VmaxEdit", "240");
    if (esc) QTest::keyClick(Find("VmaxEdit"), Qt::Key_Escape);
    else dialog_->reject();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(Bytes(live_), before) << (esc ? "Esc" : "closed");
  }
}

TEST_F(SetupFormTest, OperatingModeButtonsStoreTheModeAtOnce) {
  Open();
  EXPECT_TRUE(Find<QRadioButton>("FinalModeButton")->isChecked());
  Click("DraftModeButton");
  int32_t stored = -1;
  EXPECT_EQ(store_.ReadInteger(kKeyProcessing, "OpMode", stored), ValueStatus::Present);
  EXPECT_EQ(stored, 1);
  EXPECT_EQ(options_.OpMode, 1);
  EXPECT_FALSE(Find<QRadioButton>("FinalModeButton")->isChecked());
  Click("BypassModeButton");
  EXPECT_EQ(store_.ReadInteger(kKeyProcessing, "OpMode", stored), ValueStatus::Present);
  EXPECT_EQ(stored, 0);
  // The mode is not part of the clip's record.
  Render();
  EXPECT_EQ(Bytes(live_).substr(0, 200), Bytes(previous_).substr(0, 200));
}

TEST_F(SetupFormTest, LiftGroupsSayPedestalWhenTheOptionAsks) {
  for (int us : {0, 1}) {
    options_.USTerminology = us;
    Open();
    const char* want = us == 1 ? " Pedestal " : " Lift ";
    EXPECT_EQ(Find<QGroupBox>("LiftGroupBox")->title(), want);
    EXPECT_EQ(Find<QGroupBox>("ColourLiftGroupBox")->title(), want);
  }
}

TEST_F(SetupFormTest, F1AndTheHelpButtonOpenTheHelpAtTheContext) {
  Open();
  Keys("KneeBar", Qt::Key_Right);  // focuses the slider
  EXPECT_EQ(dialog_->FocusedHelpContext(), 12240);
  QTest::keyClick(Find("KneeBar"), Qt::Key_F1);
  ASSERT_NE(dialog_->Help(), nullptr);
  EXPECT_TRUE(dialog_->Help()->isVisible());
  dialog_->Help()->hide();

  ShowPageOf("TestModeBox");
  Find("Bars100Button")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(dialog_->FocusedHelpContext(), 12620);
  ShowPageOf("PreferButton");
  Find("PreferButton")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(dialog_->FocusedHelpContext(), 12610);
  // A control without a context of its own takes its page's.
  Find("Pm422Button")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(dialog_->FocusedHelpContext(), 12600);

  Click("HelpButton");
  ASSERT_NE(dialog_->Help(), nullptr);
  EXPECT_TRUE(dialog_->Help()->isVisible());
  EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(SetupFormTest, PreferencesButtonOpensThePreferencesWhoseLevelsReachTheRecordAndMonitors) {
  Open();
  ASSERT_NE(live_.Vwhite, 200);
  ASSERT_FALSE(Find("KneeBar")->toolTip().isEmpty());
  const monitor::WaveformTables before = dialog_->Preview().Monitors().Waveform();
  bool opened = false;
  QTimer::singleShot(0, [&] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    opened = w->objectName() == "TPrefer";
    auto* white = w->findChild<QLineEdit*>("VwhiteEdit");
    ASSERT_NE(white, nullptr);
    QTest::mouseClick(white, Qt::LeftButton);
    white->selectAll();
    QTest::keyClicks(white, "200");
    QTest::keyClick(white, Qt::Key_Return);
    auto* hints = w->findChild<QCheckBox*>("ShowHintsBox");
    QTest::mouseClick(hints, Qt::LeftButton, {}, QPoint(6, hints->height() / 2));
    QTest::mouseClick(w->findChild<QPushButton*>("OKBtn"), Qt::LeftButton);
  });
  Click("PreferButton");
  EXPECT_TRUE(opened);
  EXPECT_TRUE(dialog_->isVisible());
  // The new white level is the built-in default's and, at once, the clip's.
  EXPECT_EQ(defaults_.Vwhite, 200);
  EXPECT_EQ(live_.Vwhite, 200);
  EXPECT_TRUE(changed_);
  int32_t stored = 0;
  EXPECT_EQ(store_.ReadInteger(kKeyLevels, "Vwhite", stored), ValueStatus::Present);
  EXPECT_EQ(stored, 200);
  EXPECT_EQ(store_.ReadInteger(kKeyOptions, "ShowHints", stored), ValueStatus::Present);
  EXPECT_EQ(stored, 0);
  // The waveform scale was built again over the new span.
  const monitor::WaveformTables& after = dialog_->Preview().Monitors().Waveform();
  EXPECT_NE(std::memcmp(before.row, after.row, sizeof before.row), 0);
  // Hints went off in the setup dialog too.
  EXPECT_TRUE(Find("KneeBar")->toolTip().isEmpty());
  // OK stores the controls once more: the record keeps the new level.
  Click("OkButton");
  EXPECT_EQ(live_.Vwhite, 200);
}

// ---- The setup call's frame bar and placement ----

TEST_F(SetupFormTest, FrameBarCoversTheClip) {
  record_.Total = 250;
  TSpecs s = BuiltInDefaultSpecs();
  s.FramePos = 40;
  Open(s);
  auto* bar = Find<QSlider>("FrameBar");
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 250);
  EXPECT_EQ(bar->pageStep(), 25);
  EXPECT_EQ(bar->value(), 40);
  EXPECT_EQ(LabelText("StatusBar1Panel0"), "Frame 40 of 250");
  Click("LastButton");
  EXPECT_EQ(bar->value(), 250);
  EXPECT_EQ(LabelText("StatusBar1Panel0"), "Frame 250 of 250");
  Render();
  EXPECT_EQ(live_.FramePos, 250);
  Click("FirstButton");
  EXPECT_EQ(LabelText("StatusBar1Panel0"), "Frame 0 of 250");
}

TEST(DialogPlacementTest, StoredPositionsAreClampedToTheScreenAndMissingOnesCentre) {
  const QRect screen(0, 0, 1280, 800);
  const QSize dialog(614, 443);
  int32_t top = 100, left = -20;
  EXPECT_EQ(DialogPlacement(&top, &left, dialog, screen), QPoint(0, 100));
  top = 700;
  left = 30;
  EXPECT_EQ(DialogPlacement(&top, &left, dialog, screen), QPoint(30, 800 - 443));
  left = 1000;
  top = -1;
  EXPECT_EQ(DialogPlacement(&top, &left, dialog, screen), QPoint(1280 - 614, 0));
  EXPECT_EQ(DialogPlacement(nullptr, &left, dialog, screen), QPoint((1280 - 614) / 2, (800 - 443) / 2));
  EXPECT_EQ(DialogPlacement(&top, nullptr, dialog, screen), QPoint((1280 - 614) / 2, (800 - 443) / 2));
  // A second screen to the right keeps its own origin.
  EXPECT_EQ(DialogPlacement(&top, &left, dialog, QRect(1280, 0, 1920, 1080)), QPoint(1280 + 1000, 0));
}

TEST_F(SetupFormTest, TheDialogOpensWhereTheStoreSaysAndRemembersAMove) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  store_.WriteInteger(kKeyOptions, "Left", -20);
  store_.WriteInteger(kKeyOptions, "Top", screen.height());
  FillCall();
  {
    TSetup d(call_);
    d.PlaceFromStore();
    EXPECT_EQ(d.pos(), QPoint(screen.left(), screen.bottom() + 1 - d.frameGeometry().height()));
  }
  MemoryOptionStore empty;
  call_.store = &empty;
  {
    TSetup d(call_);
    d.PlaceFromStore();
    EXPECT_EQ(d.frameGeometry().center().x(), screen.center().x()) << "centred";
    EXPECT_NEAR(d.frameGeometry().center().y(), screen.center().y(), 1);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    const QPoint opened = d.pos();
    d.move(opened + QPoint(15, 25));
    d.hide();
    int32_t top = 0, left = 0;
    EXPECT_EQ(empty.ReadInteger(kKeyOptions, "Left", left), ValueStatus::Present);
    EXPECT_EQ(empty.ReadInteger(kKeyOptions, "Top", top), ValueStatus::Present);
    EXPECT_EQ(QPoint(left, top), opened + QPoint(15, 25) - screen.topLeft());
  }
  // Not moved: nothing written (the preview window's own values are all
  // stored already, so it writes nothing either).
  MemoryOptionStore untouched;
  for (auto [name, value] : {std::pair{"Persistent", 0}, std::pair{"Visible", 0}, std::pair{"Width", 320},
                             std::pair{"Height", 240}, std::pair{"Top", 20}, std::pair{"Left", 20}})
    untouched.WriteInteger(kKeyPreview, name, value);
  const int seeded = untouched.WriteCount();
  call_.store = &untouched;
  {
    TSetup d(call_);
    d.PlaceFromStore();
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    d.hide();
  }
  EXPECT_EQ(untouched.WriteCount(), seeded);
}

TEST(PreviewBuffersTest, TheSourceFrameIsScaledIntoTheWorkImageAndBothImagesAreReleased) {
  // A 64 x 48 source: left half red, right half blue.
  std::vector<uint8_t> pixels(64 * 48 * 4);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      uint8_t* p = &pixels[(y * 64 + x) * 4];
      p[0] = x < 32 ? 0 : 255;  // blue
      p[2] = x < 32 ? 255 : 0;  // red
    }
  TPixBuffer source{{0, 0, 64, 48}, 64 * 4, {}, pixels.data()};
  TPixBuffer* sourcePtr = &source;
  TFilterCallRecord record{};
  record.Source = &sourcePtr;
  record.Total = 10;

  // Counts the images the host has out.
  struct CountingHost : HostServices {
    HostServices& real = InProcessHost();
    int live = 0;
    Handle NewHandle(int32_t size) override { return real.NewHandle(size); }
    int32_t GetHandleSize(Handle h) override { return real.GetHandleSize(h); }
    bool SetHandleSize(Handle h, int32_t size) override { return real.SetHandleSize(h, size); }
    void DisposeHandle(Handle h) override { real.DisposeHandle(h); }
    int16_t NewPWorld(int16_t* world, const TRect& bounds) override {
      const int16_t r = real.NewPWorld(world, bounds);
      live += r == 0;
      return r;
    }
    PixBufferHandle GetPWorldBits(int16_t world) override { return real.GetPWorldBits(world); }
    void DisposePWorld(int16_t world) override {
      --live;
      real.DisposePWorld(world);
    }
    void PPixToScreen(PixBufferHandle f, void* dc, const TRect& s, const TRect& d) override { real.PPixToScreen(f, dc, s, d); }
    void* HostMainWindow() override { return nullptr; }
  } host;
  {
    PreviewBuffers buffers(host, &record);
    ASSERT_TRUE(buffers.Ok()) << buffers.Error();
    EXPECT_EQ(host.live, 2);
    EXPECT_TRUE(buffers.SourceScaled());
    EXPECT_EQ(FrameWidth(*buffers.Work()), 240);
    EXPECT_EQ(FrameHeight(*buffers.Work()), 180);
    EXPECT_EQ(FrameWidth(*buffers.Display()), 240);
    EXPECT_EQ(buffers.SourceBounds().right, 64);
    const TPixBuffer& w = *buffers.Work();
    const uint8_t* row = w.Pixels + FrameStride(w) * 90;
    EXPECT_EQ(row[10 * 4 + 2], 255);   // left: red
    EXPECT_EQ(row[230 * 4 + 0], 255);  // right: blue
  }
  EXPECT_EQ(host.live, 0);
  // No source frame: the images are made, the monitors stay black.
  record.Source = nullptr;
  PreviewBuffers blank(host, &record);
  EXPECT_TRUE(blank.Ok());
  EXPECT_FALSE(blank.SourceScaled());
}

// ---- No text is cut off ----

// The text a widget shows: mnemonic markers removed, "&&" shown as "&".
QString Shown(QString text) {
  text.replace("&&", QChar(0x1));
  text.remove('&');
  text.replace(QChar(0x1), "&");
  return text;
}

// Every caption, readout and title fits its widget at the dialog's font, on
// every page, with every readout at its widest values.
TEST_F(SetupFormTest, NoCaptionOrReadoutIsClipped) {
  record_.Total = 99999;
  TSpecs s = BuiltInDefaultSpecs();
  s.FramePos = 32000;
  TSetup& d = Open(s);
  auto checkAll = [&](const std::string& when) {
    for (QLabel* l : dialog_->findChildren<QLabel*>()) {
      if (!l->isVisible() || l->text().isEmpty() || !l->pixmap().isNull()) continue;
      const QRect room = l->contentsRect();
      if (l->wordWrap()) {
        EXPECT_LE(l->heightForWidth(l->width()), l->height()) << when << l->objectName().toStdString();
        continue;
      }
      const QStringList lines = l->text().split('\n');
      for (const QString& line : lines)
        EXPECT_LE(l->fontMetrics().horizontalAdvance(line), room.width())
            << when << ": " << l->objectName().toStdString() << " \"" << line.toStdString() << "\"";
      EXPECT_LE(l->fontMetrics().height() * lines.size(), room.height() + 2) << when << l->objectName().toStdString();
    }
    for (QAbstractButton* b : dialog_->findChildren<QAbstractButton*>()) {
      if (!b->isVisible() || b->text().isEmpty()) continue;
      const int text = b->fontMetrics().horizontalAdvance(Shown(b->text()));
      int room = b->width() - 6;
      if (qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        const bool box = qobject_cast<QCheckBox*>(b) != nullptr;
        room = b->style()->subElementRect(box ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &opt, b)
                   .width();
      }
      EXPECT_LE(text, room) << when << ": " << b->objectName().toStdString() << " \"" << b->text().toStdString() << "\"";
    }
    for (QGroupBox* g : dialog_->findChildren<QGroupBox*>()) {
      if (!g->isVisible()) continue;
      EXPECT_LE(g->fontMetrics().horizontalAdvance(g->title()) + 16, g->width()) << g->objectName().toStdString();
    }
  };
  for (size_t page = 0; page < PageNames().size(); ++page) {
    QTest::mouseClick(Find<QAbstractButton>((std::string(PageNames()[page]) + "Tab").c_str()), Qt::LeftButton);
    // Every slider at both ends of its range: the widest readouts.
    for (bool atMax : {false, true}) {
      for (std::string_view bar : BarChangeOrder()) {
        const ControlState& st = d.Logic().State(bar);
        d.Logic().SetPosition(bar, atMax ? st.max : st.min);
        d.Logic().BarChange(bar, kNoSender);
      }
      QApplication::processEvents();
      checkAll(std::string(PageNames()[page]) + (atMax ? " max" : " min"));
    }
  }
  // Both terminologies.
  options_.USTerminology = 1;
  Open(s);
  checkAll("Pedestal");
}

// Saves one picture of the dialog per page into the folder named by
// TARVO_UI_SHOTS (for the README and for looking at the layout).
TEST_F(SetupFormTest, Screenshots) {
  const char* folder = std::getenv("TARVO_UI_SHOTS");
  if (!folder || !*folder) GTEST_SKIP() << "set TARVO_UI_SHOTS to a folder to write the pictures";
  TSetup& d = Open();
  QDir().mkpath(folder);
  for (std::string_view page : PageNames()) {
    QTest::mouseClick(Find<QAbstractButton>((std::string(page) + "Tab").c_str()), Qt::LeftButton);
    QApplication::processEvents();
    const QString file = QString("%1/%2.png").arg(folder, QString::fromUtf8(page.data(), static_cast<int>(page.size())));
    EXPECT_TRUE(d.grab().save(file)) << file.toStdString();
  }
}

}  // namespace
}  // namespace tarvo::ui
