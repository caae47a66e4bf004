// The two 240 x 180 off-screen images of one setup call: the work image,
// which holds the clip's source frame scaled down for the monitors, and the
// display image, which receives the processed picture. Both come from the
// host's services and go back to them when the call ends.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host_services.h"
#include "types/call_record.h"
#include "types/pix_buffer.h"

namespace tarvo::ui {

class PreviewBuffers {
 public:
  static constexpr TRect kLargeMonitor{0, 0, 240, 180};
  static constexpr TRect kSmallMonitor{0, 0, 120, 90};

  // Makes both images and scales the call's source frame (when it has a
  // usable one) into the work image. Ok() is false, with the reason in
  // Error(), when the host could not make an image; the dialog then runs
  // with black monitors.
  PreviewBuffers(HostServices& host, const TFilterCallRecord* call);
  ~PreviewBuffers();
  PreviewBuffers(const PreviewBuffers&) = delete;
  PreviewBuffers& operator=(const PreviewBuffers&) = delete;

  bool Ok() const { return work_ && display_; }
  const std::string& Error() const { return error_; }
  TPixBuffer* Work() const { return work_; }
  TPixBuffer* Display() const { return display_; }
  // The images' frame descriptor handles, as the host's services and the
  // frame callback take them (nullptr when the image is missing).
  PixBufferHandle WorkHandle() const { return workHandle_; }
  PixBufferHandle DisplayHandle() const { return displayHandle_; }
  // True once the source frame has been scaled into the work image.
  bool SourceScaled() const { return scaled_; }
  // The work image's bounds and row bytes, noted after the scaling.
  const TRect& WorkBounds() const { return workBounds_; }
  int32_t WorkRowBytes() const { return workRowBytes_; }
  // The source frame's bounds (zero when the call had none).
  const TRect& SourceBounds() const { return sourceBounds_; }

 private:
  TPixBuffer* MakeWorld(int16_t* id, PixBufferHandle* handle);

  HostServices& host_;
  int16_t workId_ = 0, displayId_ = 0;
  bool haveWork_ = false, haveDisplay_ = false;
  TPixBuffer* work_ = nullptr;
  TPixBuffer* display_ = nullptr;
  PixBufferHandle workHandle_ = nullptr;
  PixBufferHandle displayHandle_ = nullptr;
  bool scaled_ = false;
  TRect workBounds_{};
  int32_t workRowBytes_ = 0;
  TRect sourceBounds_{};
  std::string error_;
};

}  // namespace tarvo::ui
