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
  if (store_) store_->CreateKey(kKeyPreview);
  auto read = [&](const char* name, int32_t& value) {
    int32_t v = 0;
    if (store_ && store_->ReadInteger(kKeyPreview, name, v) == ValueStatus::Present) {
      value = v;
    } else {
      write = store_ != nullptr;
    }
  };
  read("Persistent", options_.persistent);
  read("Visible", options_.visible);
  read("Width", options_.width);
  read("Height", options_.height);
  read("Top", options_.top);
  read("Left", options_.left);
  // A size the preferences could not have stored would make images the host
  // cannot make or a window larger than any screen.
  for (int32_t* size : {&options_.width, &options_.height}) {
    const int32_t held = std::clamp(*size, kPreviewMinSize, kPreviewMaxSize);
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
  hold(options_.left, screen.width() - options_.width - 10);
  hold(options_.top, screen.height() - options_.height - 29);
  visibleAtLaunch_ = options_.visible == 1;
  if (write) UpdateSysReg();
}

void TPreview::UpdateSysReg() {
  if (!store_) return;
  OptionUpdate update(*store_);
  store_->WriteInteger(kKeyPreview, "Persistent", options_.persistent);
  store_->WriteInteger(kKeyPreview, "Visible", options_.visible);
  store_->WriteInteger(kKeyPreview, "Width", options_.width);
  store_->WriteInteger(kKeyPreview, "Height", options_.height);
  store_->WriteInteger(kKeyPreview, "Top", options_.top);
  store_->WriteInteger(kKeyPreview, "Left", options_.left);
}

void TPreview::Open() {
  move(options_.left, options_.top);
  const QSize client(options_.width + 2 * kBevel, options_.height + 2 * kBevel);
  setFixedSize(client);
  bevel_->setGeometry(QRect(QPoint(0, 0), client));
  screen_->setGeometry(kBevel, kBevel, options_.width, options_.height);
  show();
}

void TPreview::SetPictureSize(int32_t width, int32_t height) {
  options_.width = std::clamp(width, kPreviewMinSize, kPreviewMaxSize);
  options_.height = std::clamp(height, kPreviewMinSize, kPreviewMaxSize);
  UpdateSysReg();
  if (!isVisible()) return;
  hide();
  Open();
}

void TPreview::MakeImages() {
  auto make = [this](int16_t* id) -> PixBufferHandle {
    rect_ = TRect{0, 0, options_.width, options_.height};
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
    options_.top += now.y() - shownAt_.y();
    options_.left += now.x() - shownAt_.x();
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
