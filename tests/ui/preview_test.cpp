// The setup dialog's live preview driven as a user drives it: the render
// cycle behind Timer1 with a fake frame callback and a fake pipeline that
// record their calls, the panels chosen by the monitor keys, the pixel
// readout, and the floating preview window with its stored options.
//
// Timer1 is given an interval no test reaches, so it never fires by itself;
// Fire() runs the render cycle exactly when the timer would, and only when
// the timer is running.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "options/option_store.h"
#include "options/options.h"
#include "planes/inout.h"
#include "support/temp_dir.h"
#include "types/call_record.h"
#include "types/specs.h"
#include "ui/controls/kiv_button.h"
#include "ui/setup/panel_canvas.h"
#include "ui/setup/preview_buffers.h"
#include "ui/setup/preview_cycle.h"
#include "ui/setup/tpreview.h"
#include "ui/setup/tsetup.h"
#include "ui_test_app.h"
#include "dialog_fixture.h"

namespace tarvo::ui {
namespace {


struct FetchCall {
  int32_t frame;
  TRect rect;
  Handle privateData;
  PixBufferHandle image;
};
struct RenderCall {
  bool dialog;
  bool sink;
  int16_t lift;
};

// What the fakes saw; one test at a time.
std::vector<FetchCall> gFetches;

// Fills the whole image with one colour: frame 7 is pure red, every other
// frame a grey of its number.
int32_t FakeFrameCallback(int32_t frame, PixBufferHandle image, const TRect* rect, Handle privateData) {
  gFetches.push_back({frame, *rect, privateData, image});
  TPixBuffer& b = **image;
  for (int32_t y = 0; y < FrameHeight(b); ++y) {
    uint8_t* row = b.Pixels + static_cast<size_t>(y) * FrameStride(b);
    for (int32_t x = 0; x < FrameWidth(b); ++x) {
      const uint8_t g = static_cast<uint8_t>(frame);
      const uint8_t px[4] = {frame == 7 ? uint8_t{0} : g, frame == 7 ? uint8_t{0} : g,
                             frame == 7 ? uint8_t{255} : g, 0};
      std::memcpy(row + x * 4, px, 4);
    }
  }
  return 0;
}

std::string Text(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  return {};
}

class PreviewTest : public DialogFixture {
 protected:
  void SetUp() override {
    DialogFixture::SetUp();
    gFetches.clear();
    record_.Part = 10;
    record_.FrameCallback = &FakeFrameCallback;
    record_.PrivateData = privateData_.get();
    call_.render = &FakeRender;
    call_.renderContext = this;
  }
  void TearDown() override {
    dialog_.reset();
    buffers_.reset();
    DialogFixture::TearDown();
  }

  static void FakeRender(void* context, PixBufferHandle source, PixBufferHandle destination, bool dialog,
                         MonitorSink* sink) {
    auto* self = static_cast<PreviewTest*>(context);
    self->renders_.push_back({dialog, sink != nullptr, self->live_.Lift});
    const TPixBuffer& s = **source;
    TPixBuffer& d = **destination;
    for (int32_t y = 0; y < FrameHeight(s); ++y)
      std::memcpy(d.Pixels + static_cast<size_t>(y) * FrameStride(d),
                  s.Pixels + static_cast<size_t>(y) * FrameStride(s), static_cast<size_t>(FrameWidth(s)) * 4);
    // A flat trace at level 128 across the picture, colourless.
    if (sink)
      for (int32_t x = 0; x < FrameWidth(s); ++x)
        for (int i = 0; i < 4; ++i) sink->Accumulate(128, 0, 0, x);
    if (self->duringRender_) self->duringRender_();
  }

  // Opens at the record's frame.
  TSetup& Open(TSpecs specs = BuiltInDefaultSpecs()) {
    specs.FramePos = record_.Part;
    buffers_ = std::make_unique<PreviewBuffers>(InProcessHost(), &record_);
    return DialogFixture::Open(specs);
  }
  void BeforeShow() override {
    dialog_->AttachBuffers(buffers_.get());
    timer_ = dialog_->findChild<QTimer*>("Timer1");
    EXPECT_NE(timer_, nullptr);
    EXPECT_EQ(timer_->interval(), 60);
    EXPECT_TRUE(timer_->isSingleShot());
    timer_->setInterval(24 * 3600 * 1000);
  }
  void Opened() override {
    // The activation's own render.
    EXPECT_TRUE(Fire());
    openFetches_ = gFetches;
    gFetches.clear();
    renders_.clear();
  }

  // Runs the render cycle as Timer1 would; false when the timer is stopped.
  bool Fire() {
    if (!timer_->isActive()) return false;
    timer_->stop();
    dialog_->Preview().Render();
    return true;
  }

  PanelCanvas* Canvas(const char* name) { return Find<PanelCanvas>(name); }
  void Press(const char* key) {
    QWidget* w = Find(key);
    ASSERT_TRUE(w->isVisible()) << key;
    // Near the left end: on a check box or radio button that is the box.
    const bool box = qobject_cast<QAbstractButton*>(w) && !qobject_cast<TKivButton*>(w);
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(box ? 6 : w->width() / 2, w->height() / 2));
  }
  void Keys(const char* bar, Qt::Key key, int times = 1) {
    QWidget* w = Find(bar);
    w->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < times; ++i) QTest::keyClick(w, key);
  }

  OwnedHandle privateData_{InProcessHost().NewHandle(16)};
  std::unique_ptr<PreviewBuffers> buffers_;
  QTimer* timer_ = nullptr;
  std::vector<RenderCall> renders_;
  std::vector<FetchCall> openFetches_;  // made by the activation's render
  std::function<void()> duringRender_;
};

TEST_F(PreviewTest, TwentySliderMovesWithinOneTimerPeriodGiveOneRenderWithTheFinalValue) {
  Open();
  ShowPage("LevelsSheet");
  auto* bar = Find<QSlider>("LiftBar");
  const int start = bar->value();
  Keys("LiftBar", Qt::Key_Right, 20);
  ASSERT_EQ(bar->value(), start + 20);
  EXPECT_TRUE(timer_->isActive());
  EXPECT_TRUE(dialog_->Logic().RenderPending());
  EXPECT_TRUE(Fire());
  ASSERT_EQ(renders_.size(), 1u);
  EXPECT_EQ(renders_[0].lift, start + 20) << "the render stores the controls first";
  EXPECT_TRUE(renders_[0].dialog);
  EXPECT_TRUE(renders_[0].sink);
  EXPECT_FALSE(timer_->isActive()) << "requests before the render were absorbed by it";
  EXPECT_TRUE(gFetches.empty()) << "no frame change, no fetch";

  // A change that arrives while the pipeline runs starts the timer again.
  duringRender_ = [this] { QTest::keyClick(Find("LiftBar"), Qt::Key_Left); };
  Keys("LiftBar", Qt::Key_Left);
  EXPECT_TRUE(Fire());
  duringRender_ = nullptr;
  EXPECT_TRUE(timer_->isActive());
  EXPECT_TRUE(Fire());
  ASSERT_EQ(renders_.size(), 3u);
  EXPECT_EQ(renders_[2].lift, start + 18);
  EXPECT_FALSE(timer_->isActive());
}

TEST_F(PreviewTest, MovingBackToTheHeldFrameFetchesNothing) {
  Open();
  // The call brought no source frame: the first render fetched the current one.
  ASSERT_EQ(openFetches_.size(), 1u);
  EXPECT_EQ(openFetches_[0].frame, 10);
  Keys("FrameBar", Qt::Key_Right);
  EXPECT_TRUE(timer_->isActive());
  Keys("FrameBar", Qt::Key_Left);  // back to frame 10, the one held
  EXPECT_TRUE(Fire());
  EXPECT_TRUE(gFetches.empty());
  EXPECT_EQ(dialog_->Preview().FetchedFrame(), 10);
  // Moving onto the held frame with the timer stopped requests nothing.
  Keys("FrameBar", Qt::Key_Right);
  EXPECT_TRUE(Fire());
  ASSERT_EQ(gFetches.size(), 1u);
  EXPECT_EQ(gFetches[0].frame, 11);
  gFetches.clear();
  renders_.clear();
  dialog_->Logic().SetPosition("FrameBar", 11);
  dialog_->Preview().FrameBarChange(By("FrameBar"));
  EXPECT_FALSE(timer_->isActive());
  EXPECT_TRUE(gFetches.empty());
}

TEST_F(PreviewTest, ASourceFrameInTheCallIsShownWithoutAFetch) {
  std::vector<uint8_t> pixels(64 * 48 * 4, 200);
  TPixBuffer source{};
  source.Bounds = TRect{0, 0, 64, 48};
  source.RowBytes = 64 * 4;
  source.Pixels = pixels.data();
  TPixBuffer* sourcePtr = &source;
  record_.Source = &sourcePtr;
  Open();
  record_.Source = nullptr;
  EXPECT_TRUE(openFetches_.empty());
  EXPECT_EQ(qRed(Canvas("MScreen")->Picture().pixel(120, 90)), 200);
}

TEST_F(PreviewTest, TheLastFrameButtonOnA250FrameClipFetchesFrame250) {
  Open();
  Press("LastButton");
  EXPECT_EQ(Find<QSlider>("FrameBar")->value(), 250);
  EXPECT_EQ(Text(Find("StatusBar1Panel0")), "Frame 250 of 250");
  EXPECT_TRUE(Fire());
  ASSERT_EQ(gFetches.size(), 1u);
  EXPECT_EQ(gFetches[0].frame, 250);
  EXPECT_EQ(gFetches[0].image, buffers_->WorkHandle());
  Handle privateData = record_.PrivateData;  // a packed field: compared through a copy
  EXPECT_EQ(gFetches[0].privateData, privateData);
  EXPECT_EQ(gFetches[0].rect.right, 240);
  EXPECT_EQ(gFetches[0].rect.bottom, 180);
  EXPECT_EQ(live_.FramePos, 250);
  Press("FirstButton");
  EXPECT_EQ(Text(Find("StatusBar1Panel0")), "Frame 0 of 250");
  EXPECT_TRUE(Fire());
  ASSERT_EQ(gFetches.size(), 2u);
  EXPECT_EQ(gFetches[1].frame, 0);
}

TEST_F(PreviewTest, NoFetchUnderATestPatternAndTheChosenFrameAfterLeavingTestMode) {
  Open();
  ShowPage("SettingsSheet");
  Press("TestModeBox");
  ASSERT_TRUE(Find<QAbstractButton>("TestModeBox")->isChecked());
  EXPECT_TRUE(Fire());  // the render enables the pattern buttons
  Press("Bars100Button");
  ASSERT_TRUE(Find<QAbstractButton>("Bars100Button")->isChecked());
  Keys("FrameBar", Qt::Key_Right, 5);
  EXPECT_TRUE(Fire());
  EXPECT_EQ(live_.TestSignal, 2);
  EXPECT_TRUE(gFetches.empty());
  EXPECT_TRUE(dialog_->Preview().FetchNeeded());
  Press("TestModeBox");  // off
  EXPECT_TRUE(Fire());
  ASSERT_EQ(gFetches.size(), 1u);
  EXPECT_EQ(gFetches[0].frame, 15);
}

TEST_F(PreviewTest, EachMonitorKeyDrawsThePictureIntoItsPanel) {
  Open();
  struct Case {
    const char* key;
    const char* picture;
    int width, height;
    const char* graph;  // the large monitor, or none
  } cases[] = {{"WFButton", "AScreen", 120, 90, "MGraph"},
               {"VSButton", "BScreen", 120, 90, "MGraph"},
               {"PixButton", "MScreen", 240, 180, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    for (const char* p : {"MScreen", "AScreen", "BScreen", "MGraph"}) Canvas(p)->Clear();
    Press(c.key);
    EXPECT_TRUE(Fire());
    for (const char* p : {"MScreen", "AScreen", "BScreen"}) {
      EXPECT_EQ(Canvas(p)->FrameDraws(), std::strcmp(p, c.picture) == 0 ? 1 : 0) << p;
      EXPECT_EQ(Canvas(p)->isVisible(), std::strcmp(p, c.picture) == 0) << p;
    }
    EXPECT_EQ(Canvas(c.picture)->LastSource(), QRect(0, 0, 240, 180));
    EXPECT_EQ(Canvas(c.picture)->LastDestination(), QRect(0, 0, c.width, c.height));
    EXPECT_EQ(Canvas("MGraph")->isVisible(), c.graph != nullptr);
    EXPECT_EQ(Canvas("AGraph")->isVisible(), std::strcmp(c.key, "WFButton") != 0);
    EXPECT_EQ(Canvas("BGraph")->isVisible(), std::strcmp(c.key, "VSButton") != 0);
    // The flat trace appears in the large waveform in waveform view.
    if (std::strcmp(c.key, "WFButton") == 0) {
      const QImage& wf = Canvas("MGraph")->Picture();
      int green = 0;
      for (int x = 0; x < wf.width(); ++x)
        for (int y = 0; y < wf.height(); ++y) {
          const QRgb p = wf.pixel(x, y);
          if (qGreen(p) > 0 && qRed(p) == 0 && qBlue(p) == 0) ++green;
        }
      EXPECT_GE(green, 150) << "one trace row across the waveform";
    }
  }
  EXPECT_EQ(live_.MonitorView, 0);
}

TEST_F(PreviewTest, TheReadoutShowsThePixelUnderTheMouseAndClearsWhenItLeaves) {
  Open();
  Keys("FrameBar", Qt::Key_Left, 3);  // frame 7: pure red
  EXPECT_TRUE(Fire());
  QWidget* screen = Find("MScreen");
  QTest::mouseMove(screen, QPoint(100, 50));
  EXPECT_EQ(Text(Find("TopVal")), "255");
  EXPECT_EQ(Text(Find("MidVal")), "0");
  EXPECT_EQ(Text(Find("BotVal")), "0");
  // The label click turns the readout into luminance and colour differences.
  Press("TopLabel");
  EXPECT_EQ(live_.BalanceLabels, 1);
  EXPECT_EQ(Text(Find("TopLabel")), "Y");
  EXPECT_EQ(Text(Find("MidLabel")), "Cb");
  EXPECT_EQ(Text(Find("BotLabel")), "Cr");
  QTest::mouseMove(screen, QPoint(101, 50));
  EXPECT_EQ(Text(Find("TopVal")), "77");
  EXPECT_EQ(Text(Find("MidVal")), "-77");
  EXPECT_EQ(Text(Find("BotVal")), "178");
  // A render with the mouse resting on the picture follows the new frame.
  Keys("FrameBar", Qt::Key_Right);  // frame 8: grey 8
  EXPECT_TRUE(Fire());
  EXPECT_EQ(Text(Find("TopVal")), "8");
  EXPECT_EQ(Text(Find("MidVal")), "0");
  // Onto the monitor's frame: cleared, and a render keeps it clear.
  QTest::mouseMove(Find("MMon"), QPoint(3, 3));
  EXPECT_EQ(Text(Find("TopVal")), "");
  EXPECT_EQ(PreviewCycle::PointerX(), -1);
  Keys("LiftBar", Qt::Key_Right);
  EXPECT_TRUE(Fire());
  EXPECT_EQ(Text(Find("TopVal")), "");
  Press("MidVal");
  EXPECT_EQ(live_.BalanceLabels, 0);
  EXPECT_EQ(Text(Find("TopLabel")), "R");
}

TEST_F(PreviewTest, BypassAndTheChannelKeysReachTheRecordAtTheNextRender) {
  Open();
  Press("BypassButton");
  EXPECT_TRUE(changed_);
  EXPECT_TRUE(Fire());
  EXPECT_EQ(live_.Bypass, 1);
  Press("YOnlyButton");
  Press("COnlyButton");
  EXPECT_FALSE(static_cast<TKivButton*>(Find("YOnlyButton"))->Down()) << "one releases the other";
  EXPECT_TRUE(Fire());
  EXPECT_EQ(live_.ChannelView, 2);
  Press("COnlyButton");
  EXPECT_TRUE(Fire());
  EXPECT_EQ(live_.ChannelView, 0);
  Press("BypassButton");
  EXPECT_TRUE(Fire());
  EXPECT_EQ(live_.Bypass, 0);
}

TEST_F(PreviewTest, AClickOnTheFormsBackgroundRendersOnceMore) {
  Open();
  EXPECT_FALSE(timer_->isActive());
  QTest::mouseClick(dialog_.get(), Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_TRUE(Fire());
  EXPECT_EQ(renders_.size(), 1u);
}

TEST_F(PreviewTest, ThePreviewBoxOpensTheWindowWhichRendersWithoutTheMonitors) {
  store_.WriteInteger(kKeyPreview, "Top", 40);
  store_.WriteInteger(kKeyPreview, "Left", 50);
  Open();
  TPreview* preview = dialog_->Preview().Preview();
  EXPECT_FALSE(preview->isVisible());
  Press("PreviewBox");
  ASSERT_TRUE(preview->isVisible());
  EXPECT_EQ(preview->pos(), QPoint(50, 40));
  EXPECT_EQ(preview->size(), QSize(324, 244)) << "4 pixels larger than the picture";
  EXPECT_EQ(preview->Screen()->geometry(), QRect(2, 2, 320, 240));
  EXPECT_EQ(preview->Options().Visible, 1);
  ASSERT_TRUE(preview->HasImages());
  ASSERT_EQ(gFetches.size(), 1u) << "showing fetches the current frame";
  EXPECT_EQ(gFetches[0].frame, 10);
  EXPECT_EQ(gFetches[0].image, preview->WorkHandle());
  EXPECT_EQ(gFetches[0].rect.right, 320);
  EXPECT_EQ(gFetches[0].rect.bottom, 240);
  EXPECT_TRUE(Fire());
  ASSERT_EQ(renders_.size(), 2u);
  EXPECT_TRUE(renders_[0].dialog);
  EXPECT_FALSE(renders_[1].dialog);
  EXPECT_FALSE(renders_[1].sink);
  EXPECT_EQ(preview->windowTitle(), "Tarvo - Preview Frame 10 of 250");
  EXPECT_EQ(preview->Screen()->FrameDraws(), 1);
  EXPECT_EQ(preview->Screen()->LastDestination(), QRect(0, 0, 320, 240));

  // A frame change fetches into both images.
  gFetches.clear();
  Keys("FrameBar", Qt::Key_Right);
  EXPECT_TRUE(Fire());
  ASSERT_EQ(gFetches.size(), 2u);
  EXPECT_EQ(gFetches[1].image, preview->WorkHandle());
  EXPECT_EQ(preview->windowTitle(), "Tarvo - Preview Frame 11 of 250");

  // Closed by the user: the box is unticked, the window hidden, its images gone.
  preview->close();
  EXPECT_FALSE(Find<QCheckBox>("PreviewBox")->isChecked());
  EXPECT_FALSE(preview->isVisible());
  EXPECT_FALSE(preview->HasImages());
  EXPECT_EQ(preview->Options().Visible, 0);
  EXPECT_TRUE(timer_->isActive()) << "unchecking renders once more";
}

TEST_F(PreviewTest, APersistentPreviewReopensWithTheDialogAndItsStateIsStoredAtTheEnd) {
  store_.WriteInteger(kKeyPreview, "Persistent", 1);
  store_.WriteInteger(kKeyPreview, "Visible", 1);
  Open();
  TPreview* preview = dialog_->Preview().Preview();
  EXPECT_TRUE(Find<QCheckBox>("PreviewBox")->isChecked());
  EXPECT_TRUE(preview->isVisible());
  Press("PreviewBox");
  EXPECT_FALSE(preview->isVisible());
  dialog_.reset();  // the end of the setup call
  int32_t visible = -1;
  EXPECT_EQ(store_.ReadInteger(kKeyPreview, "Visible", visible), ValueStatus::Present);
  EXPECT_EQ(visible, 0);
}

TEST_F(PreviewTest, ASizeChangedWhileTheWindowIsOpenTakesEffectWhenTheBoxIsTickedAgain) {
  Open();
  TPreview* preview = dialog_->Preview().Preview();
  Press("PreviewBox");
  ASSERT_TRUE(preview->HasImages());
  // What the preferences do with a new size: untick, change, tick again.
  dialog_->Logic().SetCheckBox("PreviewBox", false);
  preview->Options().Width = 400;
  preview->Options().Height = 300;
  dialog_->Logic().SetCheckBox("PreviewBox", true);
  ASSERT_TRUE(preview->isVisible());
  ASSERT_TRUE(preview->HasImages());
  EXPECT_EQ(FrameWidth(**preview->WorkHandle()), 400);
  EXPECT_EQ(FrameHeight(**preview->DisplayHandle()), 300);
  EXPECT_EQ(preview->size(), QSize(404, 304));
  EXPECT_TRUE(Fire());
  EXPECT_EQ(preview->Screen()->LastDestination(), QRect(0, 0, 400, 300));
}

// ---- The preview window on its own ----

class PreviewWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApp();
    gFetches.clear();
  }
  std::unique_ptr<TPreview> Make(QRect screen = QRect(0, 0, 1024, 768)) {
    auto p = std::make_unique<TPreview>(&store_, InProcessHost(), screen);
    TPreview::Hooks hooks;
    hooks.frame = [](int32_t* position, int32_t* maximum) {
      *position = 3;
      *maximum = 99;
    };
    hooks.fetch = [](int32_t frame, PixBufferHandle image, const TRect& rect) {
      FakeFrameCallback(frame, image, &rect, nullptr);
    };
    p->SetHooks(std::move(hooks));
    return p;
  }
  int32_t Stored(const char* name) {
    int32_t v = -12345;
    store_.ReadInteger(kKeyPreview, name, v);
    return v;
  }

  MemoryOptionStore store_;
};

TEST_F(PreviewWindowTest, AFreshStoreGivesTheDefaultsAndWritesAllSix) {
  auto p = Make();
  EXPECT_EQ(store_.WriteCount(), 6);
  for (auto [name, value] : {std::pair{"Persistent", 0}, std::pair{"Visible", 0}, std::pair{"Width", 320},
                             std::pair{"Height", 240}, std::pair{"Top", 20}, std::pair{"Left", 20}})
    EXPECT_EQ(Stored(name), value) << name;
  EXPECT_FALSE(p->VisibleAtLaunch());
  p->Open();
  EXPECT_EQ(p->pos(), QPoint(20, 20));
  EXPECT_EQ(p->Screen()->size(), QSize(320, 240));
  EXPECT_EQ(p->windowTitle(), "Tarvo - Preview Frame 3 of 99");
  ASSERT_TRUE(p->HasImages());
  EXPECT_EQ(FrameWidth(**p->WorkHandle()), 320);
  EXPECT_EQ(FrameHeight(**p->DisplayHandle()), 240);
  ASSERT_EQ(gFetches.size(), 1u);
  EXPECT_EQ(gFetches[0].frame, 3);
  // Shown and hidden unmoved: nothing more is written.
  p->hide();
  EXPECT_FALSE(p->HasImages());
  EXPECT_EQ(store_.WriteCount(), 6);
}

TEST_F(PreviewWindowTest, StoredValuesOffTheScreenOrOutOfRangeAreHeldAndWrittenBack) {
  store_.WriteInteger(kKeyPreview, "Persistent", 1);
  store_.WriteInteger(kKeyPreview, "Visible", 1);
  store_.WriteInteger(kKeyPreview, "Width", 320);
  store_.WriteInteger(kKeyPreview, "Height", 240);
  store_.WriteInteger(kKeyPreview, "Top", -5);
  store_.WriteInteger(kKeyPreview, "Left", 2000);
  auto p = Make();
  EXPECT_EQ(p->Options().Left, 694);
  EXPECT_EQ(Stored("Left"), 694);
  EXPECT_EQ(Stored("Top"), 0);
  EXPECT_TRUE(p->VisibleAtLaunch());
  p.reset();

  store_.WriteInteger(kKeyPreview, "Top", 750);
  store_.WriteInteger(kKeyPreview, "Left", 10);
  store_.WriteInteger(kKeyPreview, "Width", 5000);
  store_.WriteInteger(kKeyPreview, "Height", 8);
  store_.WriteString(kKeyPreview, "Persistent", "yes");  // mistyped: the default
  p = Make();
  EXPECT_EQ(p->Options().Width, 4096);
  EXPECT_EQ(p->Options().Height, 32);
  EXPECT_EQ(p->Options().Top, 768 - 32 - 29);
  EXPECT_EQ(p->Options().Left, 0) << "a picture wider than the screen keeps its left edge on it";
  EXPECT_EQ(p->Options().Persistent, 0);
  EXPECT_EQ(Stored("Width"), 4096);
  EXPECT_EQ(Stored("Height"), 32);
  EXPECT_EQ(Stored("Persistent"), 0);

  // Values already on the screen write nothing.
  const int before = store_.WriteCount();
  p = Make();
  EXPECT_EQ(store_.WriteCount(), before);
}

TEST_F(PreviewWindowTest, AMoveIsWrittenBackWhenTheWindowIsHidden) {
  auto p = Make();
  p->Open();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(p.get()));
  const QPoint opened = p->pos();
  p->move(opened + QPoint(30, -10));
  const int before = store_.WriteCount();
  p->hide();
  EXPECT_EQ(Stored("Left"), 50);
  EXPECT_EQ(Stored("Top"), 10);
  EXPECT_EQ(store_.WriteCount(), before + 6);
  // Opened again at the new place.
  p->Open();
  EXPECT_EQ(p->pos(), QPoint(50, 10));
}

TEST_F(PreviewWindowTest, ANewSizeWhileOpenMakesTheImagesAgainAtThatSize) {
  auto p = Make();
  p->Open();
  ASSERT_TRUE(p->HasImages());
  gFetches.clear();
  p->SetPictureSize(400, 300);
  ASSERT_TRUE(p->isVisible());
  ASSERT_TRUE(p->HasImages());
  EXPECT_EQ(FrameWidth(**p->WorkHandle()), 400);
  EXPECT_EQ(FrameHeight(**p->DisplayHandle()), 300);
  EXPECT_EQ(p->size(), QSize(404, 304));
  EXPECT_EQ(p->Screen()->size(), QSize(400, 300));
  ASSERT_EQ(gFetches.size(), 1u) << "the new images get the frame at once";
  EXPECT_EQ(gFetches[0].rect.right, 400);
  EXPECT_EQ(Stored("Width"), 400);
  EXPECT_EQ(Stored("Height"), 300);
  // A size out of range is held.
  p->SetPictureSize(10, 9000);
  EXPECT_EQ(FrameWidth(**p->WorkHandle()), 32);
  EXPECT_EQ(FrameHeight(**p->WorkHandle()), 4096);
}

}  // namespace
}  // namespace tarvo::ui
