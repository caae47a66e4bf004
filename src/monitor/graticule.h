// The monitors' images: a plain BGRA picture, and the four graticules the
// traces are drawn over (black background; grey, silver and white marks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "types/pix_buffer.h"

namespace tarvo::monitor {

// 4-byte pixels in memory order blue, green, red, alpha (always 255), rows
// top first, width * 4 bytes apart.
struct MonitorImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;

  void Resize(int32_t w, int32_t h) {
    width = w;
    height = h;
    pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
  }
  uint8_t* At(int32_t x, int32_t y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
  const uint8_t* At(int32_t x, int32_t y) const { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
  // A frame descriptor of the image (rows top first), for drawing it through
  // the host services.
  TPixBuffer Describe() {
    TPixBuffer b{};
    b.Bounds = TRect{0, 0, width, height};
    b.RowBytes = width * 4;
    b.Pixels = pixels.data();
    return b;
  }
};

// Grey levels of the graticule marks.
constexpr uint8_t kGrey = 128;
constexpr uint8_t kSilver = 192;
constexpr uint8_t kWhite = 255;
constexpr uint8_t kNtscDatumGrey = 127;

// The four graticules: 120 x 90 and 240 x 180 waveform, 120 x 90 and
// 240 x 180 vectorscope.
struct Graticules {
  MonitorImage wfm90, wfm180, vec90, vec180;
};

// Draws the four graticules; with `ntscBlacks` the waveforms carry the dashed
// 7.5 IRE datum (WFM90 row 74, WFM180 row 149).
Graticules MakeGraticules(bool ntscBlacks);

}  // namespace tarvo::monitor
