// Records and frames shared by the pipeline benchmark and the file driver.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/pipeline.h"
#include "hostkit/frame_slot.h"
#include "speed_records.h"
#include "types/specs.h"

namespace tarvo::bench {

// A moving picture with noise: gradients, a checkerboard and grain, shifted
// by `frame`, as BGRA rows of width * 4 bytes.
inline std::vector<uint8_t> SyntheticFrame(int width, int height, int frame) {
  std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
  uint32_t r = 0x9E3779B9u * static_cast<uint32_t>(frame + 1);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      r ^= r << 13;
      r ^= r >> 17;
      r ^= r << 5;
      const int grain = static_cast<int>(r & 15) - 8;
      const int gx = ((x + 4 * frame) * 255) / width, gy = (y * 255) / height;
      const int check = (((x + 2 * frame) / 32 + y / 32) & 1) ? 50 : 0;
      auto c8 = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
      uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = c8(255 - gy + grain);
      p[1] = c8((gx + gy) / 2 + check + grain);
      p[2] = c8(gx + grain);
      p[3] = 255;
    }
  return px;
}

// Renders frames of one clip through one pipeline, continuing the run.
class Renderer {
 public:
  Renderer(const TSpecs& specs, int32_t opMode, int threads = 1) : specs_(specs), pipe_(notifier_) {
    pipe_.SetOpMode(opMode);
    pipe_.SetThreads(threads);
    specsPtr_ = reinterpret_cast<uint8_t*>(&specs_);
    call_.total = 1 << 30;
    call_.frames = FrameRules::kOwnHosts;  // packed rows of any width up to 8192
  }
  void Render(uint8_t* source, uint8_t* destination, int width, int height) {
    source_.Describe(source, width, height);
    destination_.Describe(destination, width, height);
    call_.changed = part_ == 0;
    call_.part = part_++;
    pipe_.Render(source_.handle(), destination_.handle(), &specsPtr_, false, call_);
  }
  const Pipeline& pipeline() const { return pipe_; }

 private:
  TSpecs specs_;
  uint8_t* specsPtr_ = nullptr;
  Notifier notifier_;
  Pipeline pipe_;
  CallState call_;
  hostkit::FrameSlot source_, destination_;
  int32_t part_ = 0;
};

}  // namespace tarvo::bench
