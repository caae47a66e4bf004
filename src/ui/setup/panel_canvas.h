// A black picture panel of the dialog that shows an image: a monitor's
// working bitmap put into it, or a frame buffer drawn into it through the
// host services' PPixToScreen (the canvas is then the drawing context).
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

#include "monitor/graticule.h"
#include "types/pix_buffer.h"

namespace tarvo::ui {

class PanelCanvas : public QWidget {
  Q_OBJECT

 public:
  explicit PanelCanvas(QWidget* parent);

  // Puts a monitor image (rows top first) into the panel.
  void ShowImage(const monitor::MonitorImage& image);
  // Draws `frame` (an off-screen world: rows bottom first) into the panel,
  // scaling its `src` rectangle to the panel's `dst` rectangle; both are in
  // picture coordinates with the top at 0. Pixels outside the panel or the
  // frame are left out.
  void DrawFrame(const TPixBuffer& frame, const TRect& src, const TRect& dst);

  // What the panel shows now, at its own size.
  const QImage& Picture() const { return picture_; }
  // How many frames were drawn into it, and the rectangles of the last one.
  int FrameDraws() const { return frameDraws_; }
  QRect LastSource() const { return lastSource_; }
  QRect LastDestination() const { return lastDestination_; }
  // Back to black, with the draw count reset.
  void Clear();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  QImage picture_;
  int frameDraws_ = 0;
  QRect lastSource_, lastDestination_;
};

// The drawing target the dialog registers with the host services: the device
// context is the PanelCanvas to draw into.
void DrawIntoCanvas(const TPixBuffer& frame, void* canvas, const TRect& src, const TRect& dst);

}  // namespace tarvo::ui
