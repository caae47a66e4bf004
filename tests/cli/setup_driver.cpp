// Plays the user of the real setup dialog while `tarvo setup` runs under a
// test. Loaded into the command with LD_PRELOAD; the dialog library calls it
// once the dialog runs when TARVO_UI_TEST_DRIVER=TarvoSetupDriver. It asks the
// host for frame TARVO_DRIVE_FRAME through the call's frame callback, into a
// 240x180 off-screen world as the dialog's preview does, appends the world's
// pixels (rows top first) to TARVO_DRIVE_DUMP, presses the Right key N times
// on the slider NAME when TARVO_DRIVE_RIGHT=NAME:N, and then presses the
// button TARVO_DRIVE_PRESS names (OkButton or CancelButton) with the mouse.
//
// With TARVO_DRIVE_WALK=FILE it first walks through the dialog's commands as a
// user would: black, white and colour balance by key and a click on the
// picture, Save As "Evening", choosing "<none>" and then "Evening" in the scene
// list, master and independent, Revert and Reset from the right-click menu on
// the knee slider, and the preferences (white level 200, OK). After each step
// it appends the step's name (32 bytes, zero-padded) and the clip's record
// (256 bytes) to FILE. With TARVO_DRIVE_SHOTS=DIR it also saves pictures of
// the Scenes page (scenes.png) and the preferences (preferences.png) there.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "ui/setup_api.h"

namespace {

// Lets the dialog's 60 ms preview timer run (the record is stored and the
// picture the balance keys look at is rendered).
void Settle() { QTest::qWait(250); }

void Step(const char* path, const char* name, const tarvo::TSpecs& specs) {
  char label[32] = {};
  std::strncpy(label, name, sizeof label - 1);
  if (FILE* f = std::fopen(path, "ab")) {
    std::fwrite(label, 1, sizeof label, f);
    std::fwrite(&specs, 1, sizeof specs, f);
    std::fclose(f);
  }
}

QWidget* Find(QDialog* dialog, const char* name) { return dialog->findChild<QWidget*>(name); }

void ClickAt(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  if (w) QTest::mouseClick(w, button, {}, at);
}
void Click(QDialog* dialog, const char* name, Qt::MouseButton button = Qt::LeftButton) {
  if (QWidget* w = Find(dialog, name)) ClickAt(w, QPoint(6, w->height() / 2), button);
}
void Tab(QDialog* dialog, const char* page) { Click(dialog, (std::string(page) + "Tab").c_str()); }

// Runs `step` on the modal dialog the next action opens.
void WhenModal(std::function<void(QWidget&)> step) {
  QTimer::singleShot(100, [step] {
    if (QWidget* w = QApplication::activeModalWidget()) step(*w);
  });
}

void Shot(QWidget& w, const char* dir, const char* file) {
  if (dir) w.grab().save(QString::fromUtf8(dir) + "/" + file);
}

// A right click on `target` chooses it (and pops the menu up); then the
// menu's command `item`.
void Menu(QDialog* dialog, const char* target, const char* item) {
  Click(dialog, target, Qt::RightButton);
  QTest::qWait(50);
  if (auto* menu = dialog->findChild<QMenu*>("PopupMenu1")) {
    menu->hide();
    if (auto* action = menu->findChild<QAction*>(item)) action->trigger();
  }
}

void Walk(QDialog* dialog, tarvo::ui::SetupCall* call, const char* path) {
  const char* shots = std::getenv("TARVO_DRIVE_SHOTS");
  tarvo::TSpecs& specs = *call->specs;
  Tab(dialog, "ScenesSheet");
  Settle();
  Step(path, "start", specs);
  QWidget* screen = Find(dialog, "MScreen");
  const QPoint middle = screen ? QPoint(screen->width() / 2, screen->height() / 2) : QPoint();
  const struct {
    const char* key;
    const char* name;
  } balances[] = {{"BBButton0", "black"}, {"WBButton0", "white"}, {"CBButton0", "colour"}};
  for (const auto& b : balances) {
    Click(dialog, b.key);
    Settle();
    // A spot that cannot be balanced is reported in a message box.
    WhenModal([](QWidget& w) {
      if (auto* box = qobject_cast<QMessageBox*>(&w)) box->accept();
    });
    ClickAt(screen, middle);
    Settle();
    Step(path, b.name, specs);
  }

  WhenModal([](QWidget& w) {
    if (auto* edit = w.findChild<QLineEdit*>("SceneEdit")) {
      edit->setFocus();
      edit->selectAll();
      QTest::keyClicks(edit, "Evening");
    }
    if (auto* ok = w.findChild<QPushButton*>("OKButton")) QTest::mouseClick(ok, Qt::LeftButton);
  });
  Click(dialog, "SceneSaveButton");
  Settle();
  Step(path, "saved", specs);

  auto* box = dialog->findChild<QComboBox*>("SceneBox");
  if (box) {
    box->setFocus(Qt::TabFocusReason);
    QTest::keyClick(box, Qt::Key_Home);
    Settle();
    Step(path, "none", specs);
    QTest::keyClick(box, Qt::Key_Down);
    Settle();
    Step(path, "chosen", specs);
  }
  // A master link asks first when the clip differs from the scene.
  WhenModal([](QWidget& w) {
    for (auto* b : w.findChildren<QPushButton*>())
      if (b->text().remove('&') == "Yes") QTest::mouseClick(b, Qt::LeftButton);
  });
  Click(dialog, "UseMasterButton");
  Settle();
  Step(path, "master", specs);
  Shot(*dialog, shots, "scenes.png");
  Click(dialog, "UseIndividualButton");
  Settle();
  Step(path, "independent", specs);

  Tab(dialog, "LevelsSheet");
  if (QWidget* knee = Find(dialog, "KneeBar")) {
    knee->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 5; ++i) QTest::keyClick(knee, Qt::Key_Left);
  }
  Settle();
  Step(path, "knee", specs);
  Menu(dialog, "KneeBar", "Revert1");
  Settle();
  Step(path, "revert", specs);
  Menu(dialog, "KneeBar", "Reset1");
  Settle();
  Step(path, "reset", specs);

  Tab(dialog, "SettingsSheet");
  WhenModal([shots](QWidget& w) {
    Shot(w, shots, "preferences.png");
    if (auto* white = w.findChild<QLineEdit*>("VwhiteEdit")) {
      white->setFocus();
      white->selectAll();
      QTest::keyClicks(white, "200");
      QTest::keyClick(white, Qt::Key_Return);
    }
    if (auto* ok = w.findChild<QPushButton*>("OKBtn")) QTest::mouseClick(ok, Qt::LeftButton);
  });
  Click(dialog, "PreferButton");
  Settle();
  Step(path, "preferences", specs);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void TarvoSetupDriver(QDialog* dialog,
                                                                        tarvo::ui::SetupCall* call) {
  using namespace tarvo;
  if (const char* walk = std::getenv("TARVO_DRIVE_WALK")) Walk(dialog, call, walk);
  const char* frame = std::getenv("TARVO_DRIVE_FRAME");
  const char* dumpPath = std::getenv("TARVO_DRIVE_DUMP");
  if (frame && dumpPath && call->call && call->call->FrameCallback) {
    const TRect bounds{0, 0, 240, 180};
    int16_t world = 0;
    if (call->host->NewPWorld(&world, bounds) == 0) {
      PixBufferHandle bits = call->host->GetPWorldBits(world);
      const TPixBuffer& b = **bits;
      const bool got = call->call->FrameCallback(std::atoi(frame), bits, &bounds, call->call->PrivateData) == 0;
      if (FILE* f = std::fopen(dumpPath, "ab")) {
        // Worlds keep their rows bottom-up.
        for (int y = 179; got && y >= 0; --y) std::fwrite(b.Pixels + static_cast<size_t>(y) * FrameStride(b), 4, 240, f);
        std::fclose(f);
      }
      call->host->DisposePWorld(world);
    }
  }
  if (const char* right = std::getenv("TARVO_DRIVE_RIGHT")) {
    const char* colon = std::strchr(right, ':');
    const QString name = QString::fromUtf8(right, colon ? static_cast<int>(colon - right) : -1);
    if (auto* bar = dialog->findChild<QWidget*>(name)) {
      bar->setFocus(Qt::TabFocusReason);
      for (int i = colon ? std::atoi(colon + 1) : 1; i > 0; --i) QTest::keyClick(bar, Qt::Key_Right);
    }
  }
  const char* press = std::getenv("TARVO_DRIVE_PRESS");
  auto* button = dialog->findChild<QPushButton*>(press ? press : "CancelButton");
  if (button) QTest::mouseClick(button, Qt::LeftButton);
  else dialog->reject();
}
