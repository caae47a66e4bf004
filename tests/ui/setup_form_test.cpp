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

#include "support/temp_dir.h"
#include "types/call_record.h"
#include "types/specs.h"
#include "ui/controls/help_window.h"
#include "ui/controls/kiv_bar.h"
#include "ui/controls/kiv_button.h"
#include "ui/logic/control_table.h"
#include "ui/setup/preview_buffers.h"
#include "ui/setup/tsetup.h"
#include "ui_test_app.h"

namespace tarvo::ui {
namespace {

using test::TempDir;

std::string Bytes(const TSpecs& s) { return std::string(reinterpret_cast<const char*>(&s), sizeof s); }

// One dialog over one clip record, as a setup call makes it.
class SetupFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApp();
    ::setenv("TARVO_REGISTRY", (dir_.path() + "/registry.reg").c_str(), 1);
    live_ = BuiltInDefaultSpecs();
    defaults_ = BuiltInDefaultSpecs();
    record_.Total = 250;
    options_.HelpFile = TARVO_HELP_FILE;
  }
  void TearDown() override {
    dialog_.reset();
    ::unsetenv("TARVO_REGISTRY");
  }

  // Opens the dialog over `specs` (the previous specs are the same bytes).
  TSetup& Open(const TSpecs& specs) {
    live_ = specs;
    previous_ = specs;
    call_.specs = &live_;
    call_.previous = &previous_;
    call_.defaults = &defaults_;
    call_.call = &record_;
    call_.host = &InProcessHost();
    call_.store = &store_;
    call_.options = &options_;
    call_.changed = &changed_;
    dialog_ = std::make_unique<TSetup>(call_);
    dialog_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    changed_ = false;
    return *dialog_;
  }
  TSetup& Open() { return Open(BuiltInDefaultSpecs()); }

  template <typename W = QWidget>
  W* Find(const char* name) {
    W* w = dialog_->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // Brings the control's page to the front, as the user would first.
  void ShowPageOf(const char* name) {
    for (const ControlSpec* c = FindControlSpec(name); c; c = FindControlSpec(c->parent)) {
      if (c->kind == ControlKind::Page) {
        QTest::mouseClick(Find<QAbstractButton>((std::string(c->name) + "Tab").c_str()), Qt::LeftButton);
        return;
      }
      if (c->parent.empty()) return;
    }
  }
  void Click(const char* name) {
    ShowPageOf(name);
    QWidget* w = Find(name);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(w->isVisible()) << name;
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
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
  // Lets the 60 ms preview timer run, which stores the controls.
  void Render() {
    auto* timer = Find<QTimer>("Timer1");
    ASSERT_NE(timer, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 2000);
  }
  QString LabelText(const char* name) { return Find<QLabel>(name)->text(); }

  TempDir dir_;
  TSpecs live_{}, previous_{}, defaults_{};
  TFilterCallRecord record_{};
  MemoryOptionStore store_;
  Options options_;
  bool changed_ = false;
  SetupCall call_;
  std::unique_ptr<TSetup> dialog_;
};

// ---- Layout ----

TEST_F(SetupFormTest, EveryControlOfTheTableIsAWidgetOfItsKindAtItsPlace) {
  TSetup& d = Open();
  EXPECT_EQ(d.objectName(), "TSetup");
  EXPECT_EQ(d.size(), QSize(614, 443));
  EXPECT_EQ(d.windowTitle(), "Tarvo");
  for (const ControlSpec& c : ControlSpecs()) {
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
  for (const ControlSpec& c : ControlSpecs()) {
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
