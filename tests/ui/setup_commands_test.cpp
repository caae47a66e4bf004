// The setup form's commands driven by real events: right clicks that choose
// the control of the revert and reset menu, the menu's commands, the Scenes
// page's list and buttons with their questions, the scene file written at
// close, and the picture-click balance keys with a click on the picture.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scenes/collator.h"
#include "scenes/scene_list.h"
#include "support/temp_dir.h"
#include "types/call_record.h"
#include "types/specs.h"
#include "ui/controls/kiv_bar.h"
#include "ui/controls/kiv_button.h"
#include "ui/logic/control_table.h"
#include "ui/setup/tsetup.h"
#include "ui_test_app.h"
#include "dialog_fixture.h"

namespace tarvo::ui {
namespace {


// Runs `answer` on the next message box once it is up and modal, and keeps
// its text.
void WhenBoxShows(std::function<void(QMessageBox&)> answer, std::string* text = nullptr) {
  QTimer::singleShot(0, [answer, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    if (text) *text = box->text().toStdString();
    answer(*box);
  });
}
void AnswerYes(std::string* text = nullptr) {
  WhenBoxShows([](QMessageBox& b) { QTest::mouseClick(b.button(QMessageBox::Yes), Qt::LeftButton); }, text);
}
void AnswerOk(std::string* text = nullptr) {
  WhenBoxShows([](QMessageBox& b) { b.accept(); }, text);
}

class SetupCommandsTest : public DialogFixture {
 protected:
  void SetUp() override {
    DialogFixture::SetUp();
    record_.Part = 0;
    scenes_ = std::make_unique<TSceneList>(collator_);
    call_.scenes = scenes_.get();
    call_.sceneIndex = &sceneIndex_;
    call_.scenesDirty = &scenesDirty_;
  }

  void AddScene(const std::string& name, int16_t knee) {
    auto scene = std::make_unique<TScene>();
    scene->Specs = BuiltInDefaultSpecs();
    scene->Specs.Knee = knee;
    SetSceneName(scene->Specs, name);
    scenes_->Add(name, std::move(scene));
  }

  void Menu(const char* item) {
    QAction* a = dialog_->PopupMenu()->findChild<QAction*>(item);
    ASSERT_NE(a, nullptr) << item;
    a->trigger();
  }

  SimpleCollator collator_;
  std::unique_ptr<TSceneList> scenes_;
  int32_t sceneIndex_ = 0;
  bool scenesDirty_ = false;
};

TEST_F(SetupCommandsTest, ThePopupMenuHasItsSixCommandsInOrder) {
  TSetup& d = Open(BuiltInDefaultSpecs());
  QMenu* menu = d.PopupMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->objectName(), "PopupMenu1");
  std::vector<std::string> seen;
  for (QAction* a : menu->actions())
    seen.push_back(a->objectName().toStdString() + ":" + (a->isSeparator() ? "-" : a->text().toStdString()));
  EXPECT_EQ(seen, (std::vector<std::string>{"Revert1:Revert", "Reset1:Reset", "N1:-", "Revert2:Revert Page",
                                            "Reset2:Reset Page", "N2:-", "Revert3:Revert All", "Reset3:Reset All"}));
  EXPECT_EQ(menu->findChild<QAction*>("Reset3")->toolTip(), "Reset all pages to default values");
}

TEST_F(SetupCommandsTest, ARightClickChoosesTheSliderThatRevertPutsBack) {
  TSpecs s = BuiltInDefaultSpecs();
  s.Knee = 25;
  s.PageIndex = 1;
  TSetup& d = Open(s);
  Click("KneeBar", Qt::RightButton);
  EXPECT_EQ(d.Logic().FocusedControl(), "KneeBar");
  auto* knee = Find<TKivBar>("KneeBar");
  EXPECT_EQ(knee->value(), 25) << "a right click does not move the slider";
  QTest::keyClick(knee, Qt::Key_PageUp);
  Render();
  ASSERT_NE(live_.Knee, 25);
  Menu("Revert1");
  EXPECT_EQ(knee->value(), 25);
  EXPECT_EQ(Find<QLabel>("KneeLabel")->text(), "25");
  Render();
  EXPECT_EQ(live_.Knee, 25);
}

TEST_F(SetupCommandsTest, ResetOnTheTimesFourButtonAndRightClicksThatChooseNothing) {
  TSpecs s = BuiltInDefaultSpecs();
  s.Gain = 600;
  TSetup& d = Open(s);
  Click("GainX4", Qt::RightButton);
  EXPECT_EQ(d.Logic().FocusedControl(), "GainX4");
  Menu("Reset1");
  EXPECT_EQ(Find<TKivBar>("GainBar")->value(), 100);
  EXPECT_TRUE(Find<QAbstractButton>("GainX1")->isChecked());
  Render();
  EXPECT_EQ(live_.Gain, 100);
  // A test pattern is not a target, and neither is its page: the control
  // chosen before stays.
  ShowPageOf("SawtoothButton");
  const std::string before(d.Logic().FocusedControl());
  Click("SawtoothButton", Qt::RightButton);
  EXPECT_EQ(d.Logic().FocusedControl(), before);
  EXPECT_NE(before, "PageControl1");
}

TEST_F(SetupCommandsTest, ChoosingAndDeletingScenesAndTheFileAtClose) {
  const std::string file = dir_.path() + "/SCENES.KVS";
  ASSERT_TRUE(scenes_->SetFileName(file));
  AddScene("Evening", 40);
  AddScene("Morning", 70);
  TSpecs s = BuiltInDefaultSpecs();
  s.PageIndex = 0;
  Open(s);
  auto* box = Find<QComboBox>("SceneBox");
  ASSERT_EQ(box->count(), 3);
  box->setFocus(Qt::TabFocusReason);
  QTest::keyClick(box, Qt::Key_Down);  // "Evening"
  EXPECT_EQ(sceneIndex_, 1);
  EXPECT_EQ(live_.Knee, 40);
  EXPECT_EQ(Find<TKivBar>("KneeBar")->value(), 40);

  std::string question;
  AnswerYes(&question);
  Click("SceneDeleteButton");
  EXPECT_EQ(question, "Are you sure you want to delete scene \r \"Evening\" ?");
  EXPECT_EQ(box->count(), 2);
  EXPECT_EQ(box->itemText(1), "Morning");
  EXPECT_EQ(box->currentIndex(), 0);
  EXPECT_TRUE(scenesDirty_);
  EXPECT_EQ(live_.Knee, 40) << "the clip keeps its settings";

  QTest::mouseClick(Find<QAbstractButton>("OkButton"), Qt::LeftButton);
  EXPECT_FALSE(scenesDirty_);
  EXPECT_EQ(std::filesystem::file_size(file), 256u);
}

TEST_F(SetupCommandsTest, AFailedSceneFileWriteAtCloseIsReportedAndTheScenesStay) {
  const std::string file = dir_.path() + "/missing-folder/SCENES.KVS";
  ASSERT_TRUE(scenes_->SetFileName(file));
  AddScene("Evening", 40);
  Open(BuiltInDefaultSpecs());
  scenesDirty_ = true;  // as after a scene action
  std::string message;
  AnswerOk(&message);
  QTest::mouseClick(Find<QAbstractButton>("CancelButton"), Qt::LeftButton);
  EXPECT_NE(message.find("could not be saved"), std::string::npos) << message;
  EXPECT_TRUE(scenesDirty_);
  EXPECT_EQ(scenes_->IndexOf("Evening"), 1);
}

// A 240 x 180 picture of one grey level.
struct Picture {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(240 * 180 * 4, 0);
  TPixBuffer buf{};
  explicit Picture(uint8_t level) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (i % 4 == 3) ? 0 : level;
    buf.Bounds = {0, 0, 240, 180};
    buf.RowBytes = 240 * 4;
    buf.Pixels = bytes.data();
  }
};

TEST_F(SetupCommandsTest, WhiteBalanceByAKeyAndAClickOnThePicture) {
  defaults_.Vblack = 0;
  defaults_.Vwhite = 255;
  TSpecs s = BuiltInDefaultSpecs();
  s.PageIndex = 1;
  TSetup& d = Open(s);
  Picture grey(170);
  d.SetBalanceFrames(&grey.buf, &grey.buf);
  QWidget* screen = Find("MScreen");
  const Qt::CursorShape normal = screen->cursor().shape();

  Click("WBButton1");
  for (const char* k : {"WBButton0", "WBButton1", "WBButton2"}) EXPECT_TRUE(Find<TKivButton>(k)->Down()) << k;
  EXPECT_EQ(d.BalanceCursorSlot(), 88);
  EXPECT_EQ(screen->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel1")->text(),
            "Now click on the part of the picture you want to make white");
  Render();
  EXPECT_EQ(live_.Bypass, 1);

  QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(120, 90));
  EXPECT_EQ(Find<TKivBar>("GainBar")->value(), 150);
  for (const char* k : {"WBButton0", "WBButton1", "WBButton2"}) EXPECT_FALSE(Find<TKivButton>(k)->Down()) << k;
  EXPECT_EQ(d.BalanceCursorSlot(), 87);
  EXPECT_EQ(screen->cursor().shape(), normal);
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel1")->text(), "");
  Render();
  EXPECT_EQ(live_.Gain, 150);
  EXPECT_EQ(live_.Bypass, 0);
}

}  // namespace
}  // namespace tarvo::ui
