#include "ui/setup/tpreview.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>

#include "options/options.h"
#include "ui/setup/panel_canvas.h"

namespace tarvo::ui {
namespace {

constexpr char kNoPreviewMemory[] = "Not enough memory to display preview";
// The bevel around the picture takes two pixels on each side.
constexpr int kBevel = 2;

}  // namespace

TPreview::TPreview(OptionStore* store, HostServices& host, QRect screen)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      store_(store),
      host_(host) {
  setObjectName("TPreview");
  setWindowTitle("Tarvo - Preview");
  auto* bevel = new QFrame(this);
  bevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  bevel->setLineWidth(kBevel);
  bevel_ = bevel;
  screen_ = new PanelCanvas(bevel);
  screen_->setObjectName("PrevScreen");
  if (screen.isEmpty()) {
    if (QScreen* primary = QGuiApplication::primaryScreen()) screen = primary->geometry();
  }
  ReadOptions(screen);
}

TPreview::~TPreview() { DisposeImages(); }

void TPreview::ReadOptions(QRect screen) {
  bool write = false;
  if (store_) {
    store_->CreateKey(kKeyPreview);
    options_ = ReadPreviewOptions(*store_, &write);
  }
  // A size the preferences could not have stored would make images the host
  // cannot make or a window larger than any screen.
  for (int32_t* size : {&options_.Width, &options_.Height}) {
    const int32_t held = std::clamp(*size, kPreviewSizeMin, kPreviewSizeMax);
    if (held != *size) {
      *size = held;
      write = store_ != nullptr;
    }
  }
  // Pulled back onto the screen; a window larger than the screen keeps its
  // left and top edges on it rather than being pushed past them.
  auto hold = [&](int32_t& value, int32_t last) {
    int32_t held = value;
    if (held < 0) held = 0;
    else if (held > last) held = std::max(last, 0);
    if (held != value) {
      value = held;
      write = store_ != nullptr;
    }
  };
  hold(options_.Left, screen.width() - options_.Width - 10);
  hold(options_.Top, screen.height() - options_.Height - 29);
  visibleAtLaunch_ = options_.Visible == 1;
  if (write && store_) UpdateSysReg();
}

void TPreview::UpdateSysReg() {
  if (store_) WritePreviewOptions(*store_, options_);
}

void TPreview::Open() {
  // A size changed through Options() since the window was made is held to
  // the range the images can have.
  options_.Width = std::clamp(options_.Width, kPreviewSizeMin, kPreviewSizeMax);
  options_.Height = std::clamp(options_.Height, kPreviewSizeMin, kPreviewSizeMax);
  move(options_.Left, options_.Top);
  const QSize client(options_.Width + 2 * kBevel, options_.Height + 2 * kBevel);
  setFixedSize(client);
  bevel_->setGeometry(QRect(QPoint(0, 0), client));
  screen_->setGeometry(kBevel, kBevel, options_.Width, options_.Height);
  show();
}

void TPreview::SetPictureSize(int32_t width, int32_t height) {
  options_.Width = std::clamp(width, kPreviewSizeMin, kPreviewSizeMax);
  options_.Height = std::clamp(height, kPreviewSizeMin, kPreviewSizeMax);
  UpdateSysReg();
  if (!isVisible()) return;
  hide();
  Open();
}

void TPreview::MakeImages() {
  auto make = [this](int16_t* id) -> PixBufferHandle {
    rect_ = TRect{0, 0, options_.Width, options_.Height};
    if (host_.NewPWorld(id, rect_) != 0) return nullptr;
    PixBufferHandle bits = host_.GetPWorldBits(*id);
    if (!bits || !*bits || !FrameIsUsable(**bits)) {
      host_.DisposePWorld(*id);
      return nullptr;
    }
    return bits;
  };
  if (!work_) work_ = make(&workId_);
  if (!display_) display_ = make(&displayId_);
}

void TPreview::DisposeImages() {
  if (work_) host_.DisposePWorld(workId_);
  if (display_) host_.DisposePWorld(displayId_);
  work_ = display_ = nullptr;
}

void TPreview::ShowFrameCaption(int32_t position, int32_t maximum) {
  setWindowTitle(QString("Tarvo - Preview Frame %1 of %2").arg(position).arg(maximum));
}

void TPreview::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (e->spontaneous()) return;  // back from minimised: nothing new
  MakeImages();
  int32_t position = 0, maximum = 0;
  if (hooks_.frame) hooks_.frame(&position, &maximum);
  ShowFrameCaption(position, maximum);
  shownAt_ = pos();
  screen_->Clear();
  if (HasImages()) {
    if (hooks_.fetch) hooks_.fetch(position, work_, rect_);
  } else if (hooks_.message) {
    hooks_.message(kNoPreviewMemory);
  }
}

void TPreview::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (e->spontaneous()) return;  // minimised: the images stay
  const QPoint now = pos();
  if (now != shownAt_) {
    options_.Top += now.y() - shownAt_.y();
    options_.Left += now.x() - shownAt_.x();
    shownAt_ = now;
    UpdateSysReg();
  }
  DisposeImages();
}

void TPreview::closeEvent(QCloseEvent* e) {
  if (hooks_.closedByUser) hooks_.closedByUser();
  e->accept();
}

void TPreview::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && hooks_.activated) hooks_.activated();
}

}  // namespace tarvo::ui
