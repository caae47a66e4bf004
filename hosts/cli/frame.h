// One picture as the host keeps it: 4-byte pixels in memory order blue,
// green, red, fourth byte, rows top first, no padding between rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::cli {

constexpr int64_t kNoTimestamp = INT64_MIN;

struct Frame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height * 4 bytes
  int64_t pts = kNoTimestamp;   // in the source stream's time base

  void Resize(int w, int h) {
    width = w;
    height = h;
    pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
  }
  size_t bytes() const { return pixels.size(); }
  uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4; }
  const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4; }
};

// Random access to the frames of a clip, as the frame callback needs it.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Reads frame n (0 = the clip's first frame). False with a message when
  // there is no such frame or it cannot be decoded.
  virtual bool ReadFrameAt(int64_t n, Frame& out, std::string* error) = 0;
};

}  // namespace tarvo::cli
