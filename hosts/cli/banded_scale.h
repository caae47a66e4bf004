// swscale conversions of one picture cut into row bands that run in
// parallel: one converter per band, each writing only its own output rows
// from the complete input picture, so the bytes are those of one converter
// over the whole picture whatever the number of bands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/band_runner.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

struct SwsContext;

namespace tarvo::cli {

// The most bands a picture's conversion is cut into: a 1080p conversion
// takes about half a millisecond, which more bands would cut into pieces too
// small to be worth handing out (and each swscale band keeps a converter).
constexpr int kMaxConversionBands = 16;

// The number of bands a conversion on `runner` is cut into.
inline int ConversionBands(const BandRunner& runner) {
  const int n = runner.Parallelism();
  return n < 1 ? 1 : n > kMaxConversionBands ? kMaxConversionBands : n;
}

// How a converter is set up: sizes, formats, swscale flags and, for
// conversions between YUV and RGB, the matrices and ranges of both sides
// (as sws_setColorspaceDetails takes them).
struct ScaleSetup {
  int width = 0;
  int height = 0;
  AVPixelFormat from = AV_PIX_FMT_NONE;
  AVPixelFormat to = AV_PIX_FMT_NONE;
  int flags = 0;
  bool details = false;  // set the matrices and ranges below
  int fromSpace = 0;     // SWS_CS_* of the input and whether it is full range
  int fromFullRange = 0;
  int toSpace = 0;
  int toFullRange = 0;

  bool operator==(const ScaleSetup& o) const {
    return width == o.width && height == o.height && from == o.from && to == o.to && flags == o.flags &&
           details == o.details && fromSpace == o.fromSpace && fromFullRange == o.fromFullRange &&
           toSpace == o.toSpace && toFullRange == o.toFullRange;
  }
};

class BandedScaler {
 public:
  BandedScaler() = default;
  ~BandedScaler();
  BandedScaler(const BandedScaler&) = delete;
  BandedScaler& operator=(const BandedScaler&) = delete;

  // Makes sure there are converters for `bands` bands set up as `setup`
  // (kept from call to call while the setup stays the same). False with a
  // message when swscale cannot convert between the formats.
  bool Prepare(const ScaleSetup& setup, int bands, std::string* error);

  // Converts `src` into `dst` (both reference-counted pictures of the
  // prepared size and formats), the bands on `runner`. False with a message
  // when a band fails.
  bool Convert(const AVFrame* src, AVFrame* dst, const BandRunner& runner, std::string* error);

  // Rows [begin, end) of band `index` of `count` over `rows` rows, cut at
  // multiples of `align` (the last band takes the rest).
  static RowRange AlignedBand(int rows, int align, int count, int index);

  int bands() const { return static_cast<int>(contexts_.size()); }

 private:
  void Free();

  ScaleSetup setup_;
  std::vector<SwsContext*> contexts_;
  int align_ = 1;
};

// A reference-counted picture over memory the caller owns (the buffer frees
// nothing): swscale's slice interface takes only such pictures. False when
// out of memory.
bool WrapPicture(AVFrame* frame, uint8_t* data, int width, int height, AVPixelFormat format, int stride);

}  // namespace tarvo::cli
