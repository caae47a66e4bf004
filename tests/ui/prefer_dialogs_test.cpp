// The preferences and save-scene dialogs driven by real mouse and key events:
// what reaches the default record, the options and the store, the name the
// save dialog returns, and that no caption is cut off.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "options/option_store.h"
#include "options/options.h"
#include "scenes/collator.h"
#include "scenes/scene_list.h"
#include "types/specs.h"
#include "ui/prefer/tprefer.h"
#include "ui/scenes/tsave_scene.h"
#include "ui_test_app.h"

namespace tarvo::ui {
namespace {

struct Recorder : PreferHooks {
  int levels = 0, refreshes = 0;
  bool previewBox = false;
  std::vector<bool> previewBoxChanges;
  std::vector<int32_t> terminology;
  void LevelsChanged() override { ++levels; }
  bool PreviewBoxTicked() override { return previewBox; }
  void SetPreviewBox(bool ticked) override {
    previewBox = ticked;
    previewBoxChanges.push_back(ticked);
  }
  void TerminologyChanged(int32_t us) override { terminology.push_back(us); }
  void RefreshPreview() override { ++refreshes; }
};

// Runs `step` once the next modal window is up.
void WhenModal(std::function<void(QWidget&)> step) {
  QTimer::singleShot(0, [step] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    step(*w);
  });
}

// Shows a dialog and makes it the active window, so that clicks move the
// focus on every platform.
void ShowActive(QWidget& w) {
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

// Saves a picture of `w` when TARVO_UI_SHOTS names a folder.
void Shot(QWidget& w, const char* name) {
  const char* dir = std::getenv("TARVO_UI_SHOTS");
  if (!dir || !*dir) return;
  w.grab().save(QString("%1/%2.png").arg(dir, name));
}

// Space a check box or radio button needs beside its caption.
int IndicatorRoom(const QWidget* w) {
  const QStyle* st = w->style();
  if (qobject_cast<const QRadioButton*>(w))
    return st->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
           st->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
  return st->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
         st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
}

// Every caption fits its control, every control its parent, and no two
// controls of one parent overlap.
void ExpectNothingClipped(QWidget& form) {
  for (QWidget* w : form.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&form) || w->isWindow()) continue;
    const std::string name = w->objectName().toStdString();
    QString text;
    int room = w->width();
    if (auto* l = qobject_cast<QLabel*>(w)) {
      text = l->text();
    } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
      text = static_cast<QAbstractButton*>(w)->text();
      room = w->width() - IndicatorRoom(w);
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
      text = b->text();
      room = w->width() - 6;
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
      text = g->title();
      room = w->width() - 16;
    }
    if (!text.isEmpty()) {
      EXPECT_LE(w->fontMetrics().horizontalAdvance(text), room) << name;
    }
    QWidget* p = w->parentWidget();
    if (!p || w->objectName().isEmpty() || qobject_cast<QComboBox*>(p) || qobject_cast<QLineEdit*>(p)) continue;
    EXPECT_LE(w->geometry().right(), p->width() - 1) << name;
    EXPECT_LE(w->geometry().bottom(), p->height() - 1) << name;
    for (QObject* o : p->children()) {
      auto* s = qobject_cast<QWidget*>(o);
      if (!s || s == w || s->objectName().isEmpty() || !s->isVisibleTo(&form) || s->isWindow()) continue;
      EXPECT_FALSE(w->geometry().intersects(s->geometry())) << name << " overlaps " << s->objectName().toStdString();
    }
  }
}

class PreferDialogTest : public ::testing::Test {
 protected:
  PreferDialogTest() {
    test::TestApp();
    defaults_ = BuiltInDefaultSpecs();
    defaults_.Vblank = 16;
    defaults_.Vblack = 16;
    defaults_.Vwhite = 235;
    options_.SceneFile = "/home/ann/SCENES.KVS";
    context_.defaults = &defaults_;
    context_.options = &options_;
    context_.preview = &preview_;
    context_.store = &store_;
  }

  template <typename T>
  T* Find(QWidget& form, const char* name) {
    T* w = form.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  int32_t Stored(const char* key, const char* name) {
    int32_t v = -12345;
    store_.ReadInteger(key, name, v);
    return v;
  }

  TSpecs defaults_{};
  Options options_;
  PreviewOptions preview_;
  MemoryOptionStore store_;
  PreferContext context_;
  Recorder hooks_;
};

TEST_F(PreferDialogTest, FormHasItsControlsCaptionAndFixedSize) {
  TPrefer form(context_, &hooks_, "");
  EXPECT_EQ(form.objectName(), "TPrefer");
  EXPECT_EQ(form.windowTitle(), "Tarvo Preferences");
  EXPECT_EQ(form.size(), QSize(297, 377));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  for (const char* name : {"VblankEdit", "VwhiteEdit", "VblackEdit", "PrevWidthEdit", "PrevHeightEdit", "SceneFileEdit"})
    Find<QLineEdit>(form, name);
  for (const char* name : {"BlackBlankButton", "BlackNTSCButton", "BlackCustomButton"}) Find<QRadioButton>(form, name);
  for (const char* name : {"NTSCBlacksBox", "PrevPersistentBox", "ShowHintsBox", "UseMastersBox", "PedBox"})
    Find<QCheckBox>(form, name);
  QComboBox* page = Find<QComboBox>(form, "PageBox");
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->count(), 7);
  EXPECT_EQ(page->itemText(0), "Scenes");
  EXPECT_EQ(page->itemText(6), "Settings");
  EXPECT_EQ(page->currentIndex(), 1);
  QPushButton* ok = Find<QPushButton>(form, "OKBtn");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->geometry(), QRect(208, 342, 75, 25));
  EXPECT_EQ(Find<QLineEdit>(form, "VwhiteEdit")->text(), "235");
  EXPECT_FALSE(Find<QLineEdit>(form, "VblackEdit")->isEnabled());
  EXPECT_EQ(Find<QLineEdit>(form, "VblankEdit")->toolTip(), "Set pixel luminance value for blanking level");
}

TEST_F(PreferDialogTest, NothingIsClipped) {
  TPrefer form(context_, &hooks_, "");
  ShowActive(form);
  ExpectNothingClipped(form);
  Shot(form, "preferences");
}

TEST_F(PreferDialogTest, MouseAndKeysEditTheLevelsAndOkWritesThem) {
  TPrefer form(context_, &hooks_, "");
  ShowActive(form);
  auto* ntsc = Find<QRadioButton>(form, "BlackNTSCButton");
  QTest::mouseClick(ntsc, Qt::LeftButton, {}, QPoint(6, ntsc->height() / 2));
  EXPECT_TRUE(ntsc->isChecked());
  EXPECT_EQ(defaults_.Vblack, 32);
  EXPECT_EQ(Find<QLineEdit>(form, "VblackEdit")->text(), "32");
  EXPECT_TRUE(Find<QCheckBox>(form, "NTSCBlacksBox")->isChecked());
  EXPECT_EQ(options_.NTSCBlacks, 1);

  // 300 and Enter in the white box: 255; the Enter goes no further.
  auto* white = Find<QLineEdit>(form, "VwhiteEdit");
  QTest::mouseClick(white, Qt::LeftButton);
  white->selectAll();
  QTest::keyClicks(white, "300");
  QTest::keyClick(white, Qt::Key_Return);
  EXPECT_EQ(defaults_.Vwhite, 255);
  EXPECT_EQ(white->text(), "255");
  EXPECT_TRUE(form.isVisible());

  // Custom black: letters, then leaving the box by clicking elsewhere.
  auto* custom = Find<QRadioButton>(form, "BlackCustomButton");
  QTest::mouseClick(custom, Qt::LeftButton, {}, QPoint(6, custom->height() / 2));
  auto* black = Find<QLineEdit>(form, "VblackEdit");
  EXPECT_TRUE(black->isEnabled());
  QTest::mouseClick(black, Qt::LeftButton);
  black->selectAll();
  QTest::keyClicks(black, "xyz");
  QTest::mouseClick(Find<QLineEdit>(form, "SceneFileEdit"), Qt::LeftButton);
  EXPECT_EQ(defaults_.Vblack, 16);  // 0 raised to blanking
  EXPECT_EQ(black->text(), "16");
  int32_t unwritten = 0;
  EXPECT_EQ(store_.ReadInteger(kKeyLevels, "Vwhite", unwritten), ValueStatus::Missing);

  QTest::mouseClick(Find<QPushButton>(form, "OKBtn"), Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(Stored(kKeyLevels, "Vblack"), 16);
  EXPECT_EQ(Stored(kKeyLevels, "Vwhite"), 255);
  EXPECT_EQ(Stored(kKeyLevels, "NTSCBlacks"), 1);
  EXPECT_EQ(hooks_.refreshes, 1);
}

TEST_F(PreferDialogTest, OkAppliesTheBoxStillBeingTyped) {
  TPrefer form(context_, &hooks_, "");
  ShowActive(form);
  auto* file = Find<QLineEdit>(form, "SceneFileEdit");
  QTest::mouseClick(file, Qt::LeftButton);
  file->selectAll();
  QTest::keyClicks(file, "/srv/SHARED.KVS");
  // OK pressed from the keyboard: the focus never leaves the box.
  QMetaObject::invokeMethod(Find<QPushButton>(form, "OKBtn"), "click");
  std::string stored;
  store_.ReadString(kKeyOptions, "SceneFile", stored);
  EXPECT_EQ(stored, "/srv/SHARED.KVS");
  EXPECT_EQ(options_.SceneFile, "/srv/SHARED.KVS");
}

TEST_F(PreferDialogTest, PreviewWidthReopensTheOpenPreviewAndOptionBoxesWriteAtOnce) {
  hooks_.previewBox = true;
  TPrefer form(context_, &hooks_, "");
  ShowActive(form);
  auto* width = Find<QLineEdit>(form, "PrevWidthEdit");
  QTest::mouseClick(width, Qt::LeftButton);
  width->selectAll();
  QTest::keyClicks(width, "10");
  QTest::keyClick(width, Qt::Key_Enter);
  EXPECT_EQ(preview_.Width, 32);
  EXPECT_EQ(width->text(), "32");
  EXPECT_EQ(Stored(kKeyPreview, "Width"), 32);
  EXPECT_EQ(hooks_.previewBoxChanges, (std::vector<bool>{false, true}));

  auto* ped = Find<QCheckBox>(form, "PedBox");
  ASSERT_TRUE(ped->isChecked());
  QTest::mouseClick(ped, Qt::LeftButton, {}, QPoint(6, ped->height() / 2));
  EXPECT_EQ(options_.USTerminology, 0);
  EXPECT_EQ(Stored(kKeyOptions, "USTerminology"), 0);
  EXPECT_EQ(hooks_.terminology, (std::vector<int32_t>{0}));

  auto* hints = Find<QCheckBox>(form, "ShowHintsBox");
  QTest::mouseClick(hints, Qt::LeftButton, {}, QPoint(6, hints->height() / 2));
  EXPECT_EQ(Stored(kKeyOptions, "ShowHints"), 0);
  EXPECT_TRUE(width->toolTip().isEmpty());

  auto* page = Find<QComboBox>(form, "PageBox");
  page->setFocus();
  QTest::keyClick(page, Qt::Key_Down);
  EXPECT_EQ(options_.DefaultPage, 2);
  EXPECT_EQ(Stored(kKeyOptions, "DefaultPage"), 2);
}

TEST_F(PreferDialogTest, RunPreferencesReportsChangesAndEscWritesNoLevels) {
  WhenModal([](QWidget& w) {
    auto* white = w.findChild<QLineEdit*>("VwhiteEdit");
    white->setFocus();
    white->selectAll();
    QTest::keyClicks(white, "200");
    QTest::keyClick(white, Qt::Key_Return);
    QTest::keyClick(&w, Qt::Key_Escape);
  });
  EXPECT_TRUE(RunPreferences(nullptr, context_, &hooks_, ""));
  EXPECT_EQ(defaults_.Vwhite, 200);  // acts at once
  EXPECT_EQ(store_.WriteCount(), 0);  // but was never written
  EXPECT_EQ(hooks_.levels, 1);

  WhenModal([](QWidget& w) { QTest::mouseClick(w.findChild<QPushButton*>("OKBtn"), Qt::LeftButton); });
  EXPECT_FALSE(RunPreferences(nullptr, context_, &hooks_, ""));
  EXPECT_EQ(Stored(kKeyLevels, "Vwhite"), 200);
}

// ---- Save scene ----

class SaveSceneTest : public ::testing::Test {
 protected:
  SaveSceneTest() { test::TestApp(); }
};

TEST_F(SaveSceneTest, TypedNamesGetCapitalsAndALeadingDigitOrBlankIsRefused) {
  TSaveScene dialog("", "");
  ShowActive(dialog);
  SceneNameEdit* edit = dialog.SceneEdit();
  EXPECT_EQ(edit->objectName(), "SceneEdit");
  EXPECT_EQ(edit->maxLength(), 31);
  QTest::keyClicks(edit, "evening");
  EXPECT_EQ(edit->text(), "Evening");
  edit->clear();
  QTest::keyClicks(edit, "my scene");
  EXPECT_EQ(edit->text(), "My Scene");
  edit->clear();
  QTest::keyClicks(edit, "mY");
  EXPECT_EQ(edit->text(), "MY");
  edit->clear();
  QTest::keyClicks(edit, "2 go");
  EXPECT_EQ(edit->text(), "Go");
  edit->clear();
  QTest::keyClicks(edit, " x");
  EXPECT_EQ(edit->text(), "X");
  // Editing keys still work at the start of the box.
  QTest::keyClick(edit, Qt::Key_Home);
  QTest::keyClick(edit, Qt::Key_Delete);
  EXPECT_EQ(edit->text(), "");
  ExpectNothingClipped(dialog);
  edit->setText("Evening");
  Shot(dialog, "save-scene");
}

TEST_F(SaveSceneTest, NoneIsRefusedWithItsMessageAndTheDialogStaysOpen) {
  QString message;
  WhenModal([&message](QWidget& w) {
    auto& dialog = static_cast<TSaveScene&>(w);
    EXPECT_EQ(dialog.SceneEdit()->text(), "<none>");
    QTimer::singleShot(0, [&message] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      message = box->text();
      QTest::keyClick(box, Qt::Key_Return);
      // Back in the dialog: a new name and Enter.
      auto* again = qobject_cast<TSaveScene*>(QApplication::activeModalWidget());
      ASSERT_NE(again, nullptr);
      again->SceneEdit()->selectAll();
      QTest::keyClicks(again->SceneEdit(), "night shoot  ");
      QTest::keyClick(again->SceneEdit(), Qt::Key_Return);
    });
    QTest::mouseClick(w.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
  });
  const std::optional<std::string> name = RunSaveScene(nullptr, "<none>", "");
  EXPECT_EQ(message, "Cannot save scene \"<none>\"");
  ASSERT_TRUE(name);
  EXPECT_EQ(*name, "Night Shoot");  // trimmed
}

TEST_F(SaveSceneTest, CancelAndEscReturnNothing) {
  WhenModal([](QWidget& w) { QTest::mouseClick(w.findChild<QPushButton*>("CancelButton"), Qt::LeftButton); });
  EXPECT_FALSE(RunSaveScene(nullptr, "Evening", ""));
  WhenModal([](QWidget& w) { QTest::keyClick(&w, Qt::Key_Escape); });
  EXPECT_FALSE(RunSaveScene(nullptr, "Evening", ""));
  WhenModal([](QWidget& w) { QTest::keyClick(static_cast<TSaveScene&>(w).SceneEdit(), Qt::Key_Return); });
  EXPECT_EQ(RunSaveScene(nullptr, "Evening", ""), std::optional<std::string>("Evening"));
}

TEST_F(SaveSceneTest, NamesTheSceneListCannotTakeAreRefusedWithTheReason) {
  SimpleCollator collator;
  TSceneList scenes(collator);
  QString message;
  WhenModal([&message](QWidget& w) {
    auto& dialog = static_cast<TSaveScene&>(w);
    QTimer::singleShot(0, [&message, &dialog] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      message = box->text();
      box->accept();
      QTest::mouseClick(dialog.findChild<QPushButton*>("CancelButton"), Qt::LeftButton);
    });
    QTest::keyClick(dialog.SceneEdit(), Qt::Key_Return);
  });
  // "Night ★": the star cannot be stored in the scene file.
  EXPECT_FALSE(RunSaveScene(nullptr, "Night \xe2\x98\x85", "", &scenes));
  EXPECT_TRUE(message.contains("cannot"));
}

}  // namespace
}  // namespace tarvo::ui
