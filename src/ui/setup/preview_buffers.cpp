#include "ui/setup/preview_buffers.h"

#include "util/scaler.h"

namespace tarvo::ui {

TPixBuffer* PreviewBuffers::MakeWorld(int16_t* id, PixBufferHandle* handle) {
  if (host_.NewPWorld(id, kLargeMonitor) != 0) return nullptr;
  PixBufferHandle bits = host_.GetPWorldBits(*id);
  if (!bits || !*bits || !FrameIsUsable(**bits)) {
    host_.DisposePWorld(*id);
    return nullptr;
  }
  *handle = bits;
  return *bits;
}

PreviewBuffers::PreviewBuffers(HostServices& host, const TFilterCallRecord* call) : host_(host) {
  work_ = MakeWorld(&workId_, &workHandle_);
  haveWork_ = work_ != nullptr;
  display_ = MakeWorld(&displayId_, &displayHandle_);
  haveDisplay_ = display_ != nullptr;
  if (!Ok()) {
    error_ = "the host could not make the preview images";
    return;
  }
  const TPixBuffer* source = call && call->Source ? *call->Source : nullptr;
  if (source && FrameIsUsable(*source)) {
    sourceBounds_ = source->Bounds;
    std::string why;
    scaled_ = ScaleFrame(*source, *work_, &why);
    if (!scaled_) error_ = why;
  }
  workBounds_ = work_->Bounds;
  workRowBytes_ = work_->RowBytes;
}

PreviewBuffers::~PreviewBuffers() {
  if (haveWork_) host_.DisposePWorld(workId_);
  if (haveDisplay_) host_.DisposePWorld(displayId_);
}

}  // namespace tarvo::ui
