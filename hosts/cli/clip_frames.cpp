#include "clip_frames.h"

#include "raw_io.h"
#include "video_reader.h"

namespace tarvo::cli {

ClipFrames::~ClipFrames() = default;

bool ClipFrames::ReadFrameAt(int64_t n, Frame& out, std::string* error) {
  if (!reader_) {
    if (rawWidth_ > 0) {
      auto r = std::make_unique<RawReader>();
      if (!r->Open(path_, rawWidth_, rawHeight_, error)) return false;
      reader_ = std::move(r);
    } else {
      auto v = std::make_unique<VideoReader>();
      if (!v->Open(path_, error)) return false;
      reader_ = std::move(v);
    }
  }
  return reader_->ReadFrameAt(n, out, error);
}

}  // namespace tarvo::cli
