#include "ui/setup/preview_cycle.h"

#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QWindow>

#include <cstring>
#include <string>

#include "monitor/readout.h"
#include "ui/logic/control_table.h"
#include "ui/setup/panel_canvas.h"
#include "ui/setup/preview_buffers.h"
#include "ui/setup/tpreview.h"
#include "ui/setup/tsetup.h"

namespace tarvo::ui {
namespace {

// The fetched frame before any frame is held: no slider position.
constexpr int32_t kNoFrame = -1;
constexpr char kNoPreviewMemory[] = "Not enough memory to display preview";
constexpr std::string_view kReadoutNames[] = {"TopLabel", "MidLabel", "BotLabel"};
constexpr std::string_view kReadoutValues[] = {"TopVal", "MidVal", "BotVal"};
// Over these the readout is cleared: the form, the page control, the pages
// beside the picture, the main monitor's panel and the readout labels.
constexpr std::string_view kReadoutClearers[] = {"TSetup",         "PageControl1",  "ScenesSheet", "LevelsSheet",
                                                 "ColourSheet",    "SharpnessSheet", "TemporalSheet", "MMon",
                                                 "TopLabel",       "MidLabel",      "BotLabel",    "TopVal",
                                                 "MidVal",         "BotVal"};

// The monitors' tables and count buffers and the readout's pointer position
// live as long as the library, like the render state.
struct PointerPosition {
  int32_t x = 0;
  int32_t y = 0;
};
PointerPosition& Pointer() {
  static PointerPosition p;
  return p;
}

}  // namespace

monitor::Monitors& PreviewCycle::Monitors() {
  static monitor::Monitors m;
  return m;
}

int32_t PreviewCycle::PointerX() { return Pointer().x; }

PreviewCycle::PreviewCycle(TSetup& form, SetupCall& call) : form_(form), call_(call) {
  fetched_ = call.call ? call.call->Part : 0;
  preview_ = std::make_unique<TPreview>(call.store, *call.host);
}

void PreviewCycle::Wire() {
  graticules_ = monitor::MakeGraticules(call_.options && call_.options->NTSCBlacks == 1);
  if (call_.setDrawTarget) call_.setDrawTarget(DrawIntoCanvas);
  for (std::string_view name : kReadoutClearers) {
    if (QWidget* w = form_.Control(name)) {
      w->setMouseTracking(true);
      w->installEventFilter(this);
    }
  }
  if (QWidget* screen = form_.Control("MScreen")) {
    screen->setMouseTracking(true);
    screen->installEventFilter(this);
  }
  TPreview::Hooks hooks;
  hooks.frame = [this](int32_t* position, int32_t* maximum) {
    const ControlState& bar = form_.Logic().State("FrameBar");
    *position = bar.position;
    *maximum = bar.max;
  };
  hooks.fetch = [this](int32_t frame, PixBufferHandle image, const TRect& rect) { Fetch(frame, image, rect); };
  hooks.closedByUser = [this] {
    if (form_.Logic().Checked("PreviewBox")) form_.Logic().SetCheckBox("PreviewBox", false);
  };
  hooks.activated = [this] { form_.Logic().KickTimer(By("TPreview")); };
  hooks.message = [this](std::string_view text) { Message(text); };
  preview_->SetHooks(std::move(hooks));
}

PreviewCycle::~PreviewCycle() {
  if (call_.setDrawTarget) call_.setDrawTarget({});
  // The window goes with the setup call; its visibility is stored when it
  // changed since the window was made.
  preview_->hide();
  if ((preview_->Options().Visible == 1) != preview_->VisibleAtLaunch()) preview_->UpdateSysReg();
  preview_.reset();
}

void PreviewCycle::AttachBuffers(PreviewBuffers* buffers) {
  buffers_ = buffers;
  // A host that calls setup without frames (as most do) leaves the work
  // image black: no frame is held yet, so the first render fetches one.
  if (buffers_ && buffers_->Ok() && !buffers_->SourceScaled()) {
    fetched_ = kNoFrame;
    fetchNeeded_ = true;
  }
}

void PreviewCycle::Message(std::string_view text) {
  // Not modal: the render cycle goes on behind it.
  auto* box = new QMessageBox(QMessageBox::Information, "Tarvo",
                              QString::fromUtf8(text.data(), static_cast<int>(text.size())), QMessageBox::Ok, &form_);
  box->setObjectName("PreviewMessage");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

PanelCanvas* PreviewCycle::Canvas(std::string_view name) const {
  return dynamic_cast<PanelCanvas*>(form_.Control(name));
}

void PreviewCycle::Fetch(int32_t frame, PixBufferHandle image, const TRect& rect) {
  if (!call_.call || !call_.call->FrameCallback || !image) return;
  // The callback's result says nothing the dialog can use: the image keeps
  // whatever the host wrote.
  TRect r = rect;
  call_.call->FrameCallback(frame, image, &r, call_.call->PrivateData);
}

void PreviewCycle::RunPipeline(PixBufferHandle source, PixBufferHandle destination, bool dialog) {
  if (!source || !*source || !destination || !*destination) return;
  if (call_.render) {
    call_.render(call_.renderContext, source, destination, dialog, dialog ? &Monitors() : nullptr);
    return;
  }
  // Without the plug-in's pipeline the picture is shown as fetched.
  const TPixBuffer& s = **source;
  TPixBuffer& d = **destination;
  if (!FrameIsUsable(s) || !FrameIsUsable(d) || FrameWidth(s) != FrameWidth(d) || FrameHeight(s) != FrameHeight(d))
    return;
  for (int32_t y = 0; y < FrameHeight(s); ++y)
    std::memcpy(d.Pixels + static_cast<size_t>(y) * FrameStride(d), s.Pixels + static_cast<size_t>(y) * FrameStride(s),
                static_cast<size_t>(FrameWidth(s)) * 4);
}

void PreviewCycle::Render() {
  SetupLogic& logic = form_.Logic();
  // Stops the timer; the controls go into the record.
  if (!logic.RenderBegin()) return;
  const ControlState& bar = logic.State("FrameBar");
  const int32_t position = bar.position;
  const bool buffers = buffers_ && buffers_->Ok();

  // A new frame only when the bar moved away from the one held, and never
  // under a test pattern (the pattern replaces the picture anyway).
  if (fetchNeeded_ && call_.specs && call_.specs->TestSignal < 2 && position != fetched_) {
    fetchNeeded_ = false;
    if (buffers) Fetch(position, buffers_->WorkHandle(), PreviewBuffers::kLargeMonitor);
    fetched_ = position;
    if (preview_->isVisible()) {
      if (preview_->HasImages()) Fetch(position, preview_->WorkHandle(), preview_->PictureRect());
      else Message(kNoPreviewMemory);
    }
  }

  if (buffers) RunPipeline(buffers_->WorkHandle(), buffers_->DisplayHandle(), true);
  logic.RenderPipelineDone();

  // The panels by the monitor keys: the monitors first, the picture last.
  monitor::Monitors& m = Monitors();
  auto draw = [&](std::string_view target, const TRect& dst) {
    PanelCanvas* canvas = Canvas(target);
    if (buffers && canvas) call_.host->PPixToScreen(buffers_->DisplayHandle(), canvas, PreviewBuffers::kLargeMonitor, dst);
  };
  auto show = [&](std::string_view target, const monitor::MonitorImage& image) {
    if (PanelCanvas* canvas = Canvas(target)) canvas->ShowImage(image);
  };
  if (logic.Checked("WFButton")) {
    m.RenderWaveform(graticules_, waveform_);
    show("MGraph", waveform_);
    m.RenderVectorscope(graticules_, vectorscope_);
    show("BGraph", vectorscope_);
    draw("AScreen", PreviewBuffers::kSmallMonitor);
  } else if (logic.Checked("VSButton")) {
    m.RenderVectorscope(graticules_, vectorscope_);
    show("MGraph", vectorscope_);
    m.RenderWaveform(graticules_, waveform_);
    show("AGraph", waveform_);
    draw("BScreen", PreviewBuffers::kSmallMonitor);
  } else {
    m.RenderWaveform(graticules_, waveform_);
    show("AGraph", waveform_);
    m.RenderVectorscope(graticules_, vectorscope_);
    show("BGraph", vectorscope_);
    draw("MScreen", PreviewBuffers::kLargeMonitor);
  }

  // The floating preview: the same record at its own size, without the
  // monitors.
  if (preview_->isVisible() && preview_->HasImages()) {
    preview_->ShowFrameCaption(position, bar.max);
    RunPipeline(preview_->WorkHandle(), preview_->DisplayHandle(), false);
    call_.host->PPixToScreen(preview_->DisplayHandle(), preview_->Screen(), preview_->PictureRect(),
                             preview_->PictureRect());
  }

  // The readout follows the new picture under a resting mouse.
  if (Pointer().x == -1) ClearReadout();
  else ReadoutAt(Pointer().x, Pointer().y);

  logic.RenderEnd();
}

void PreviewCycle::FrameBarChange(Sender sender) {
  SetupLogic& logic = form_.Logic();
  const ControlState& bar = logic.State("FrameBar");
  if (auto* panel = form_.findChild<QLabel*>("StatusBar1Panel0"))
    panel->setText(QString("Frame %1 of %2").arg(bar.position).arg(bar.max));
  if (bar.position != fetched_) {
    fetchNeeded_ = true;
    logic.KickTimer(sender);
  }
}

void PreviewCycle::ScaleBuild() {
  if (!call_.specs || !call_.defaults) return;
  SetupLogic& logic = form_.Logic();
  const int32_t ntsc = call_.options ? call_.options->NTSCBlacks : 0;
  Monitors().ScaleBuild(monitor::LevelsOf(*call_.specs, *call_.defaults, ntsc), logic.Checked("WFButton"),
                        logic.Checked("VSButton"));
}

void PreviewCycle::MonitorButtonClick(std::string_view button) {
  // Main panel, panel A, panel B for each role.
  std::string_view shown[3] = {"MScreen", "AGraph", "BGraph"};
  if (button == "WFButton") shown[0] = "MGraph", shown[1] = "AScreen";
  else if (button == "VSButton") shown[0] = "MGraph", shown[2] = "BScreen";
  auto used = [&](std::string_view name) { return name == shown[0] || name == shown[1] || name == shown[2]; };
  constexpr std::string_view kPanels[] = {"MScreen", "MGraph", "AGraph", "AScreen", "BGraph", "BScreen"};
  for (std::string_view name : kPanels)
    if (!used(name))
      if (QWidget* w = form_.Control(name)) w->hide();
  ScaleBuild();
  for (std::string_view name : shown)
    if (QWidget* w = form_.Control(name)) w->show();
}

void PreviewCycle::ClipLevelsChanged() {
  graticules_ = monitor::MakeGraticules(call_.options && call_.options->NTSCBlacks == 1);
  ScaleBuild();
}

void PreviewCycle::BypassClicked() {
  if (QWidget* screen = form_.Control("MScreen")) screen->setCursor(Qt::ArrowCursor);
  if (auto* panel = form_.findChild<QLabel*>("StatusBar1Panel1")) panel->clear();
}

void PreviewCycle::PreviewBoxClicked(Sender sender) {
  SetupLogic& logic = form_.Logic();
  if (logic.Checked("PreviewBox")) {
    preview_->Open();
    // Kept above the dialog, as its companion.
    if (QWindow* own = preview_->windowHandle())
      if (QWindow* owner = form_.window()->windowHandle()) own->setTransientParent(owner);
    preview_->SetVisibleOption(1);
    // Showing fetched the current frame into the window: render it.
    logic.KickTimer(sender.IsNone() ? By("PreviewBox") : sender);
  } else {
    if (preview_->isVisible()) preview_->hide();
    if (QWindow* own = preview_->windowHandle()) own->setTransientParent(nullptr);
    preview_->SetVisibleOption(0);
    logic.KickTimer(sender);
  }
}

void PreviewCycle::ReadoutAt(int32_t x, int32_t y) {
  if (!buffers_ || !buffers_->Ok() || !call_.specs) return;
  const TPixBuffer& display = *buffers_->Display();
  if (FrameStride(display) != monitor::kFrameWidth * 4 || FrameWidth(display) != monitor::kFrameWidth ||
      FrameHeight(display) != monitor::kFrameHeight)
    return;
  const auto values = monitor::ReadoutAt(display.Pixels, x, y, call_.specs->BalanceLabels);
  if (!values) return;
  SetupLogic& logic = form_.Logic();
  logic.SetText("TopVal", std::to_string(values->top));
  logic.SetText("MidVal", std::to_string(values->mid));
  logic.SetText("BotVal", std::to_string(values->bot));
}

void PreviewCycle::ClearReadout() {
  for (std::string_view name : kReadoutValues) form_.Logic().SetText(name, "");
}

void PreviewCycle::ToggleReadoutMode() {
  if (!call_.specs) return;
  TSpecs& s = *call_.specs;
  if (s.BalanceLabels == 0) s.BalanceLabels = 1;
  else if (s.BalanceLabels == 1) s.BalanceLabels = 0;
  else return;
  const auto names = monitor::ReadoutNames(s.BalanceLabels);
  for (int i = 0; i < 3; ++i) form_.Logic().SetText(kReadoutNames[i], std::string(names[static_cast<size_t>(i)]));
  // The values shown follow the new mode at once.
  if (Pointer().x != -1 && !form_.Logic().Text("TopVal").empty()) ReadoutAt(Pointer().x, Pointer().y);
}

bool PreviewCycle::eventFilter(QObject* watched, QEvent* e) {
  auto* w = qobject_cast<QWidget*>(watched);
  if (!w) return false;
  const std::string name = w->objectName().toStdString();
  if (name == "MScreen") {
    if (e->type() == QEvent::MouseMove) {
      const QPoint at = static_cast<QMouseEvent*>(e)->position().toPoint();
      Pointer() = PointerPosition{at.x(), at.y()};
      ReadoutAt(at.x(), at.y());
    } else if (e->type() == QEvent::Leave) {
      Pointer().x = -1;
      ClearReadout();
    }
    return false;
  }
  if (e->type() == QEvent::MouseMove) {
    Pointer().x = -1;
    ClearReadout();
  } else if (e->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    if (name.size() > 3 && (name.ends_with("Label") || name.ends_with("Val"))) {
      ToggleReadoutMode();
    } else if (w == &form_) {
      // A click on the dialog's background renders once more.
      form_.Logic().KickTimer(By("TSetup"));
    }
  }
  return false;
}

}  // namespace tarvo::ui
