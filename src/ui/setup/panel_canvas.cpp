#include "ui/setup/panel_canvas.h"

#include <QPainter>

#include <cstring>

namespace tarvo::ui {
namespace {

QRect Rect(const TRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

}  // namespace

PanelCanvas::PanelCanvas(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  Clear();
}

void PanelCanvas::Clear() {
  picture_ = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  picture_.fill(Qt::black);
  frameDraws_ = 0;
  update();
}

void PanelCanvas::resizeEvent(QResizeEvent*) {
  if (picture_.size() == size()) return;
  QImage bigger(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  bigger.fill(Qt::black);
  QPainter p(&bigger);
  p.drawImage(0, 0, picture_);
  picture_ = bigger;
}

void PanelCanvas::ShowImage(const monitor::MonitorImage& image) {
  if (image.width <= 0 || image.height <= 0) return;
  // Blue, green, red, 255 in memory is Qt's 32-bit RGB on a little-endian
  // machine.
  const QImage view(image.pixels.data(), image.width, image.height, image.width * 4, QImage::Format_RGB32);
  QPainter p(&picture_);
  p.drawImage(0, 0, view);
  p.end();
  update();
}

void PanelCanvas::DrawFrame(const TPixBuffer& frame, const TRect& src, const TRect& dst) {
  if (!FrameIsUsable(frame)) return;
  const int w = FrameWidth(frame), h = FrameHeight(frame);
  const int stride = FrameStride(frame);
  // Turn the world's rows into a picture with its top row first.
  QImage upright(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    uchar* line = upright.scanLine(y);
    std::memcpy(line, frame.Pixels + static_cast<size_t>(h - 1 - y) * static_cast<size_t>(stride),
                static_cast<size_t>(w) * 4);
    // The fourth byte is the host's; the screen shows the picture opaque.
    for (int x = 0; x < w; ++x) line[x * 4 + 3] = 0xFF;
  }
  QPainter p(&picture_);
  p.drawImage(Rect(dst), upright, Rect(src));
  p.end();
  ++frameDraws_;
  lastSource_ = Rect(src);
  lastDestination_ = Rect(dst);
  update();
}

void PanelCanvas::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, picture_);
}

void DrawIntoCanvas(const TPixBuffer& frame, void* canvas, const TRect& src, const TRect& dst) {
  if (canvas) static_cast<PanelCanvas*>(canvas)->DrawFrame(frame, src, dst);
}

}  // namespace tarvo::ui
