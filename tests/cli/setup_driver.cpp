// Plays the user of the real setup dialog while `tarvo setup` runs under a
// test. Loaded into the command with LD_PRELOAD; the dialog library calls it
// once the dialog runs when TARVO_UI_TEST_DRIVER=TarvoSetupDriver. It asks the
// host for frame TARVO_DRIVE_FRAME through the call's frame callback, into a
// 240x180 off-screen world as the dialog's preview does, appends the world's
// pixels (rows top first) to TARVO_DRIVE_DUMP, presses the Right key N times
// on the slider NAME when TARVO_DRIVE_RIGHT=NAME:N, and then presses the
// button TARVO_DRIVE_PRESS names (OkButton or CancelButton) with the mouse.
#include <QDialog>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/setup_api.h"

extern "C" __attribute__((visibility("default"))) void TarvoSetupDriver(QDialog* dialog,
                                                                        tarvo::ui::SetupCall* call) {
  using namespace tarvo;
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
