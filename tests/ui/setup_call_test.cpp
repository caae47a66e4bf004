// The setup selector end to end: this program is the host. It loads the
// plug-in with dlopen; the plug-in loads the dialog library beside it, which
// shows the dialog on the offscreen platform. TARVO_UI_TEST_DRIVER names
// TarvoTestDrive below, which the library calls once the dialog runs, to
// press its buttons with real mouse and key events.
#include <dlfcn.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/call_records.h"
#include "support/temp_dir.h"
#include "types/call_record.h"
#include "types/specs.h"
#include "ui/setup_api.h"
#include "lsan_suppressions.h"

namespace {

// What the driver does with the next dialog.
std::function<void(QDialog&, tarvo::ui::SetupCall&)> gDrive;
int gDialogs = 0;

}  // namespace

extern "C" __attribute__((visibility("default"))) void TarvoTestDrive(QDialog* dialog, tarvo::ui::SetupCall* call) {
  ++gDialogs;
  if (gDrive) gDrive(*dialog, *call);
  else dialog->reject();
}

namespace tarvo {
namespace {

using test::TempDir;
using test::TestClip;

void Press(QDialog& d, const char* name) {
  auto* b = d.findChild<QPushButton*>(name);
  ASSERT_NE(b, nullptr) << name;
  QTest::mouseClick(b, Qt::LeftButton);
}

class SetupCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TARVO_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("TARVO_UI_TEST_DRIVER", "TarvoTestDrive", 1);
    lib_ = ::dlopen(TARVO_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << ::dlerror();
    xFilter_ = reinterpret_cast<XFilterFn>(::dlsym(lib_, "xFilter"));
    ASSERT_NE(xFilter_, nullptr);
    gDrive = nullptr;
    gDialogs = 0;
  }
  void TearDown() override {
    if (lib_) ::dlclose(lib_);
    ::unsetenv("TARVO_UI_TEST_DRIVER");
    ::unsetenv("TARVO_REGISTRY");
  }
  // A clip whose record is the default with a few settings of its own.
  static TSpecs StartRecord() {
    TSpecs s = BuiltInDefaultSpecs();
    s.Gain = 150;
    s.YDespeckle = 2;
    s.TempYThreshold = 20;
    return s;
  }
  std::string Bytes(TestClip& clip) {
    return std::string(reinterpret_cast<const char*>(&clip.specs()), sizeof(TSpecs));
  }

  TempDir dir_;
  void* lib_ = nullptr;
  XFilterFn xFilter_ = nullptr;
};

// Presses `key` `times` times on the slider `name`.
void SliderKeys(QDialog& d, const char* name, Qt::Key key, int times = 1) {
  auto* bar = d.findChild<QWidget*>(name);
  ASSERT_NE(bar, nullptr) << name;
  bar->setFocus(Qt::TabFocusReason);
  for (int i = 0; i < times; ++i) QTest::keyClick(bar, key);
}

// The user edits the record through the dialog's sliders; OK keeps the edit,
// Cancel restores the record byte for byte.
void EditThen(const char* button) {
  gDrive = [button](QDialog& d, ui::SetupCall& call) {
    EXPECT_EQ(d.objectName(), "TSetup");
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(d.isModal());
    // The dialog gets the scene list bound to the configured scene file.
    ASSERT_NE(call.scenes, nullptr);
    EXPECT_FALSE(call.scenes->FileName().empty());
    ASSERT_NE(call.sceneIndex, nullptr);
    ASSERT_NE(call.scenesDirty, nullptr);
    SliderKeys(d, "GainBar", Qt::Key_End);          // 200 at x1
    SliderKeys(d, "SharpMaskBar", Qt::Key_Right, 3);
    EXPECT_TRUE(*call.changed);
    Press(d, button);
  };
}

TEST_F(SetupCallTest, OkKeepsTheEditedRecord) {
  TestClip clip;
  clip.SetSpecs(StartRecord());
  clip.SetPart(4, 250);
  EditThen("OkButton");
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupOk);
  EXPECT_EQ(gDialogs, 1);
  TSpecs expected = StartRecord();
  expected.FramePos = 4;
  expected.LastPart = 4;
  expected.Gain = 200;
  expected.SharpMask = 3;
  EXPECT_EQ(std::memcmp(&clip.specs(), &expected, sizeof expected), 0);
}

// The dialog's main monitor shows the chosen frame, fetched through the
// host's frame callback and processed by the plug-in's own pipeline: the
// same picture the plug-in renders for that frame.
TEST_F(SetupCallTest, TheMonitorShowsTheChosenFrameAsThePlugInRendersIt) {
  struct Flat : hostkit::FrameProvider {
    static void Fill(uint8_t* px, int32_t frame) {
      px[0] = static_cast<uint8_t>(40 + frame);
      px[1] = 90;
      px[2] = 160;
      px[3] = 0;
    }
    int32_t RenderFrame(int32_t frame, TPixBuffer& d, const TRect& r) override {
      frames.push_back(frame);
      for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x) Fill(d.Pixels + y * FrameStride(d) + x * 4, frame);
      return 0;
    }
    std::vector<int32_t> frames;
  } provider;
  TestClip clip;
  clip.SetSpecs(StartRecord());
  clip.SetPart(4, 250);
  clip.SetPrivate("clip");
  clip.SetFrameProvider(&provider);
  QRgb shown = 0;
  gDrive = [&](QDialog& d, ui::SetupCall&) {
    SliderKeys(d, "FrameBar", Qt::Key_Right, 3);  // frame 7
    QWidget* screen = d.findChild<QWidget*>("MScreen");
    ASSERT_NE(screen, nullptr);
    auto centre = [screen] { return screen->grab().toImage().pixel(120, 90); };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !provider.frames.empty() && provider.frames.back() == 7 && qGreen(centre()) != 0; }, 10000));
    shown = centre();
    Press(d, "CancelButton");
  };
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupCancel);
  // The call brought no frame, so the first render fetched the current one
  // unless the move came first.
  ASSERT_FALSE(provider.frames.empty());
  EXPECT_EQ(provider.frames.back(), 7);
  EXPECT_LE(provider.frames.size(), 2u);

  std::vector<uint8_t> src(240 * 180 * 4), dst(src.size());
  for (size_t i = 0; i < src.size(); i += 4) Flat::Fill(&src[i], 7);
  TPixBuffer sb{}, db{};
  sb.Bounds = db.Bounds = TRect{0, 0, 240, 180};
  sb.RowBytes = db.RowBytes = 240 * 4;
  sb.Pixels = src.data();
  db.Pixels = dst.data();
  TPixBuffer* sp = &sb;
  TPixBuffer* dp = &db;
  clip.SetFrames(&sp, &dp);
  clip.SetPart(7, 250);
  EXPECT_EQ(xFilter_(kSelectorExecute, clip.handle()), 0);
  clip.SetFrames(nullptr, nullptr);
  EXPECT_EQ(shown, qRgb(dst[2], dst[1], dst[0]));
  EXPECT_NE(shown, qRgb(160, 90, 47)) << "the gain of the clip's record is applied";
}

TEST_F(SetupCallTest, CancelAndEscRestoreTheRecordByteForByte) {
  TestClip clip;
  clip.SetSpecs(StartRecord());
  clip.SetPart(4, 250);
  // A first call prepares the record (frame position), as the host's would.
  xFilter_(2, clip.handle());
  const std::string before = Bytes(clip);
  EditThen("CancelButton");
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupCancel);
  EXPECT_EQ(Bytes(clip), before);
  gDrive = [](QDialog& d, ui::SetupCall&) {
    SliderKeys(d, "GainBar", Qt::Key_Home);
    QTest::keyClick(&d, Qt::Key_Escape);
  };
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupCancel);
  EXPECT_EQ(Bytes(clip), before);
  EXPECT_EQ(gDialogs, 2);
}

TEST_F(SetupCallTest, TenCallsInOneProcessWorkAsTheFirst) {
  TestClip clip;
  clip.SetSpecs(StartRecord());
  QCoreApplication* app = nullptr;
  for (int i = 0; i < 10; ++i) {
    const std::string before = Bytes(clip);
    const bool ok = i % 2 == 0;
    gDrive = [i, ok](QDialog& d, ui::SetupCall&) {
      SliderKeys(d, "SatBar", Qt::Key_Home);
      SliderKeys(d, "SatBar", Qt::Key_Right, i + 1);
      Press(d, ok ? "OkButton" : "CancelButton");
    };
    ASSERT_EQ(xFilter_(kSelectorSetup, clip.handle()), ok ? kSetupOk : kSetupCancel) << "call " << i;
    if (ok) EXPECT_EQ(clip.specs().Sat, i + 1);
    else EXPECT_EQ(Bytes(clip), before) << "call " << i;
    // One application for all calls, made by the first.
    if (i == 0) app = QCoreApplication::instance();
    EXPECT_NE(app, nullptr);
    EXPECT_EQ(QCoreApplication::instance(), app);
    // The dialog is gone after each call.
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->objectName(), "TSetup") << "call " << i;
  }
  EXPECT_EQ(gDialogs, 10);
}

TEST_F(SetupCallTest, TheApplicationItMakesLeavesTheHostsLocaleAlone) {
  if (QCoreApplication::instance()) GTEST_SKIP() << "an application exists already in this process";
  ::setenv("LC_ALL", "C.UTF-8", 1);
  const std::string before = std::setlocale(LC_ALL, nullptr);
  TestClip clip;
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupCancel);
  EXPECT_EQ(gDialogs, 1);
  EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), before);
  ::unsetenv("LC_ALL");
}

TEST_F(SetupCallTest, TheDialogRunsInTheHostsOwnApplication) {
  QApplication* own = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!own) {
    static int argc = 1;
    static char name[] = "host";
    static char* argv[] = {name, nullptr};
    own = new QApplication(argc, argv);
  }
  QWidget hostWindow;
  hostWindow.setObjectName("HostWindow");
  hostWindow.show();
  hostWindow.activateWindow();
  QWidget* parentSeen = nullptr;
  gDrive = [&](QDialog& d, ui::SetupCall&) {
    parentSeen = d.parentWidget();
    Press(d, "OkButton");
  };
  TestClip clip;
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupOk);
  EXPECT_EQ(QCoreApplication::instance(), own);
  if (QApplication::activeWindow() == &hostWindow) {
    EXPECT_EQ(parentSeen, &hostWindow);
  }
}

TEST_F(SetupCallTest, AnXDisplayThatDoesNotAnswerIsReportedInsteadOfEndingTheHost) {
  // Qt ends the process when its platform cannot start; the library must
  // find that out first.
  if (QCoreApplication::instance()) GTEST_SKIP() << "an application exists already in this process";
  int n = 90;
  while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) ++n;
  const std::string display = ":" + std::to_string(n);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  ::setenv("DISPLAY", display.c_str(), 1);
  TestClip clip;
  testing::internal::CaptureStderr();
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupCancel);
  const std::string err = testing::internal::GetCapturedStderr();
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("DISPLAY");
  EXPECT_NE(err.find("the X display '" + display + "' does not accept a connection"), std::string::npos) << err;
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
  EXPECT_EQ(gDialogs, 0);
}

TEST_F(SetupCallTest, ACallFromAnotherThreadThanTheApplicationsIsRefused) {
  TestClip clip;
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupCancel);  // makes the application here
  ASSERT_NE(QCoreApplication::instance(), nullptr);
  ASSERT_EQ(gDialogs, 1);
  int32_t result = 0;
  std::string err;
  testing::internal::CaptureStderr();
  std::thread([&] { result = xFilter_(kSelectorSetup, clip.handle()); }).join();
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, kSetupCancel);
  EXPECT_NE(err.find("another thread"), std::string::npos) << err;
  EXPECT_EQ(gDialogs, 1);
}

TEST_F(SetupCallTest, TheLibraryRefusesACallFromAnotherBuild) {
  void* ui = ::dlopen(TARVO_UI_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(ui, nullptr) << ::dlerror();
  auto entry = reinterpret_cast<TarvoUiSetupFn>(::dlsym(ui, ui::kSetupEntryName));
  ASSERT_NE(entry, nullptr);
  ui::SetupCall call;
  call.version = ui::kSetupCallVersion + 1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(entry(&call), kSetupCancel);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("different builds"), std::string::npos) << err;
  EXPECT_EQ(entry(nullptr), kSetupCancel);
  EXPECT_EQ(gDialogs, 0);
  // Only the entry is exported.
  EXPECT_EQ(::dlsym(ui, "_ZN5tarvo2ui6TSetupC1ERNS0_9SetupCallEP7QWidget"), nullptr);
  ::dlclose(ui);
}

}  // namespace
}  // namespace tarvo
