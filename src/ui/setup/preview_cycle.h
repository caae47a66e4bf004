// The setup dialog's live preview: the render cycle behind Timer1 (controls
// into the record, the frame fetch through the call's frame callback, the
// plug-in's pipeline on the 240 x 180 work image, the monitors and the
// picture drawn into the panels by the monitor keys, the floating preview,
// the readout refresh), the frame bar's handler, the panel roles, the pixel
// readout under the mouse, and the floating preview window's opening and
// closing by the "Preview" box.
#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <string_view>

#include "monitor/graticule.h"
#include "monitor/monitor.h"
#include "ui/logic/setup_logic.h"
#include "ui/setup_api.h"

namespace tarvo::ui {

class PanelCanvas;
class PreviewBuffers;
class TPreview;
class TSetup;

class PreviewCycle : public QObject {
 public:
  // Makes the floating preview window (which reads its stored options);
  // nothing of the form is touched before Wire().
  PreviewCycle(TSetup& form, SetupCall& call);
  ~PreviewCycle() override;
  // Once the form is built: the drawing target, the panels, the readout
  // labels and the form's background.
  void Wire();

  // The dialog's two images (made by the setup call); without them nothing
  // is fetched, rendered or drawn. When the call brought no source frame to
  // scale into the work image, the first render fetches the current frame.
  void AttachBuffers(PreviewBuffers* buffers);
  PreviewBuffers* Buffers() const { return buffers_; }

  // Timer1: one render cycle.
  void Render();
  // The frame bar's change handler.
  void FrameBarChange(Sender sender);
  // A monitor key chose its role: panels switched, scales rebuilt.
  void MonitorButtonClick(std::string_view button);
  // The clip's levels or the level options changed: graticules and scales
  // made again.
  void ClipLevelsChanged();
  // The bypass key was pressed (after the logic's part).
  void BypassClicked();
  // The "Preview" box was clicked: the floating preview opens or closes.
  void PreviewBoxClicked(Sender sender);

  // State visible to tests.
  int32_t FetchedFrame() const { return fetched_; }
  bool FetchNeeded() const { return fetchNeeded_; }
  TPreview* Preview() const { return preview_.get(); }
  monitor::Monitors& Monitors();
  // The readout's stored pointer position (x -1: outside the picture).
  static int32_t PointerX();

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  PanelCanvas* Canvas(std::string_view name) const;
  void Fetch(int32_t frame, PixBufferHandle image, const TRect& rect);
  void RunPipeline(PixBufferHandle source, PixBufferHandle destination, bool dialog);
  void ScaleBuild();
  void ReadoutAt(int32_t x, int32_t y);
  void ClearReadout();
  void ToggleReadoutMode();
  void Message(std::string_view text);

  TSetup& form_;
  SetupCall& call_;
  PreviewBuffers* buffers_ = nullptr;
  std::unique_ptr<TPreview> preview_;
  monitor::Graticules graticules_;
  monitor::MonitorImage waveform_, vectorscope_;
  int32_t fetched_ = 0;
  bool fetchNeeded_ = false;
};

}  // namespace tarvo::ui
