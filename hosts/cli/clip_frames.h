// The frames the filter's frame callback asks for, read through a reader of
// their own, so a callback never moves the reader a render is using.
#pragma once

#include <memory>
#include <string>

#include "frame.h"

namespace tarvo::cli {

class ClipFrames final : public FrameSource {
 public:
  // A video file, or raw frames when rawWidth > 0. The file is opened on the
  // first request.
  ClipFrames(std::string path, int rawWidth = 0, int rawHeight = 0)
      : path_(std::move(path)), rawWidth_(rawWidth), rawHeight_(rawHeight) {}
  ~ClipFrames() override;
  bool ReadFrameAt(int64_t n, Frame& out, std::string* error) override;

 private:
  std::string path_;
  int rawWidth_, rawHeight_;
  std::unique_ptr<FrameSource> reader_;
};

}  // namespace tarvo::cli
