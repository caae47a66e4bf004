// The setup dialog over one clip record, as a setup call makes it: the
// fixture the widget tests of the form, its commands and its preview share.
// A test class adds what its call needs (scenes, a render callback) to call_
// before Open(), and the hooks let it prepare the dialog before it shows and
// finish once it is up.
#pragma once

#include <QAbstractButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "support/temp_dir.h"
#include "types/call_record.h"
#include "types/specs.h"
#include "ui/logic/control_table.h"
#include "ui/setup/tsetup.h"
#include "ui_test_app.h"

namespace tarvo::ui {

class DialogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApp();
    ::setenv("TARVO_REGISTRY", (dir_.path() + "/registry.reg").c_str(), 1);
    defaults_ = BuiltInDefaultSpecs();
    record_.Total = 250;
  }
  void TearDown() override {
    dialog_.reset();
    ::unsetenv("TARVO_REGISTRY");
  }

  // Called after the dialog is made, before it shows.
  virtual void BeforeShow() {}
  // Called once the dialog is exposed and active. By default the changes the
  // opening itself made are forgotten, so that changed_ speaks of the test's.
  virtual void Opened() { changed_ = false; }

  // Points the call at the fixture's record, specs, store and options.
  void FillCall() {
    call_.specs = &live_;
    call_.previous = &previous_;
    call_.defaults = &defaults_;
    call_.call = &record_;
    call_.host = &InProcessHost();
    call_.store = &store_;
    call_.options = &options_;
    call_.changed = &changed_;
  }

  // Opens the dialog over `specs` (the previous specs are the same bytes).
  TSetup& Open(const TSpecs& specs) {
    live_ = specs;
    previous_ = specs;
    FillCall();
    dialog_ = std::make_unique<TSetup>(call_);
    BeforeShow();
    dialog_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    // Focus (F1, leaving an edit box) needs the active window.
    dialog_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    Opened();
    return *dialog_;
  }
  TSetup& Open() { return Open(BuiltInDefaultSpecs()); }

  template <typename W = QWidget>
  W* Find(const char* name) {
    W* w = dialog_->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // Clicks the tab of `page`.
  void ShowPage(const char* page) {
    QTest::mouseClick(Find<QAbstractButton>((std::string(page) + "Tab").c_str()), Qt::LeftButton);
  }
  // Brings the control's page to the front, as the user would first.
  void ShowPageOf(const char* name) {
    for (const ControlEntry* c = FindControlEntry(name); c; c = FindControlEntry(c->parent)) {
      if (c->kind == ControlKind::Page) {
        ShowPage(std::string(c->name).c_str());
        return;
      }
      if (c->parent.empty()) return;
    }
  }
  void Click(const char* name, Qt::MouseButton button = Qt::LeftButton) {
    ShowPageOf(name);
    QWidget* w = Find(name);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(w->isVisible()) << name;
    QTest::mouseClick(w, button, {}, QPoint(6, w->height() / 2));
  }
  // Lets the 60 ms preview timer run, which stores the controls.
  void Render() {
    auto* timer = Find<QTimer>("Timer1");
    ASSERT_NE(timer, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 2000);
  }

  test::TempDir dir_;
  TSpecs live_{}, previous_{}, defaults_{};
  TFilterCallRecord record_{};
  MemoryOptionStore store_;
  Options options_;
  bool changed_ = false;
  SetupCall call_;
  std::unique_ptr<TSetup> dialog_;
};

}  // namespace tarvo::ui
