// Input and output colour conversion with level and colour correction
// through lookup tables.
#pragma once

#include <cstdint>

#include "planes/channel.h"
#include "types/frame_view.h"

namespace tarvo {
namespace inout_kernels {
struct Kernels;
}
class BandRunner;

// What the colour conversion needs of a clip's settings, built by the caller
// (the pipeline builds it from the record). Values are taken as the record
// holds them; the conversion limits what it must.
struct ColourSettings {
  int32_t vmin = 0, vmax = 0;                  // output floor and ceiling
  int32_t vblack = 0, vwhite = 0;              // input black and white levels
  int32_t knee = 0, slope = 0;                 // knee point (percent of range) and slope above it
  int32_t lift = 0, gain = 0, gamma = 0;       // master corrections
  int32_t liftR = 0, liftG = 0, liftB = 0;     // per channel, added to the master
  int32_t gainR = 0, gainG = 0, gainB = 0;     // per channel, times the master
  int32_t gammaR = 0, gammaG = 0, gammaB = 0;  // per channel, added to the master
  int32_t sat = 0;                             // saturation, percent
  int32_t procMode = 0;                        // chroma layout, 0..3
  // Every correction at its neutral value (bypass views, generated test
  // pictures): the tables pass the levels straight through.
  bool neutral = false;
};

// Receives every converted pixel of a dialog render (monitor accumulation).
class MonitorSink {
 public:
  virtual ~MonitorSink() = default;
  // level 0..255 relative to Vmin, colour differences u and v, picture column.
  virtual void Accumulate(int32_t level, int32_t u, int32_t v, int32_t column) = 0;
};

// The ProcMode a frame of this size is converted with: the record's mode when
// the frame's width and height are whole multiples of the chroma block, else
// 0 (4:4:4), so no sample is left unconverted.
int32_t EffectiveProcMode(int32_t procMode, int32_t width, int32_t height);

// Output levels that are safe to write: Vmin and Vmax limited to 0..255 and
// Range = Vmax - Vmin, or 0 when Vmax is below Vmin (every level is then
// written as Vmin).
struct OutputLevels {
  int32_t vmin;
  int32_t range;
};
OutputLevels OutputLevelsOf(const ColourSettings& settings);

// n / 150 truncated, for 0 <= n <= 65535, as a multiply and shift:
// n / 150 = (n / 2) / 75 and (m * 55925) >> 22 equals m / 75 for every
// m <= 32767 (55925 * 75 exceeds 2^22 by 71, and 32767 * 71 < 2^22).
inline int32_t DivideBy150(int32_t n) { return static_cast<int32_t>(((static_cast<uint32_t>(n) >> 1) * 55925u) >> 22); }

// Owns the level, weight and chroma tables; one per engine.
class ColourConverter {
 public:
  ColourConverter();  // fills the luminance weight tables

  // The kernel table the conversions run with; null (the default) takes the
  // table of ActiveKernelLevel() on every call.
  void SetKernels(const inout_kernels::Kernels* kernels) { kernels_ = kernels; }
  // Where the conversions run their row bands; null (the default) converts
  // on the calling thread. A conversion with a monitor sink always does.
  // The result is the same with any runner.
  void SetRunner(const BandRunner* runner) { runner_ = runner; }

  // Sizes Y, U and V for the destination's size and the effective ProcMode,
  // rebuilds the tables when `changed` is set or the neutral case holds, and
  // also when no tables were built yet or the last ones were neutral (so a
  // normal render never runs on bypass tables), clears `changed` and fills
  // the planes from the source. Only the source frame's pixels are read; the
  // destination gives the size and row stride and is not written.
  // Both frames must be usable (FrameIsUsable), the source at least as large
  // as the destination's Bounds and its row stride at least the
  // destination's. Otherwise nothing but the tables and the flag is touched
  // and the result is false.
  bool Input(const FrameView& source, const FrameView& destination, const ColourSettings& settings, bool& changed,
             TChannel& y, TChannel& u, TChannel& v);
  // The same on a video host's descriptors.
  bool Input(const TPixBuffer& source, const TPixBuffer& destination, const ColourSettings& settings, bool& changed,
             TChannel& y, TChannel& u, TChannel& v) {
    return Input(HostFrame(source), HostFrame(destination), settings, changed, y, u, v);
  }

  // Writes the blue, green and red bytes of every destination pixel from the
  // planes. The fourth byte is copied from the same pixel of `fourthFrom`
  // (normally the source frame, read like the input conversion reads it) or,
  // without one, left alone. With a sink, each converted pixel is handed to it
  // right after its conversion. Returns false without writing when the
  // destination is unusable, the planes do not have the sizes the input
  // conversion gives them for this destination and ProcMode, or fourthFrom
  // would not pass the input conversion's checks as its source.
  bool Output(const TChannel& y, const TChannel& u, const TChannel& v, const FrameView& destination,
              const ColourSettings& settings, MonitorSink* sink, const FrameView* fourthFrom = nullptr);
  // The same on a video host's descriptors.
  bool Output(const TChannel& y, const TChannel& u, const TChannel& v, const TPixBuffer& destination,
              const ColourSettings& settings, MonitorSink* sink, const TPixBuffer* fourthFrom = nullptr) {
    const FrameView fourth = fourthFrom ? HostFrame(*fourthFrom) : FrameView{};
    return Output(y, u, v, HostFrame(destination), settings, sink, fourthFrom ? &fourth : nullptr);
  }

  // Table access for tests and the monitors.
  const uint8_t* RedTable() const { return red_; }
  const uint8_t* GreenTable() const { return green_; }
  const uint8_t* BlueTable() const { return blue_; }
  const int32_t* ChromaTable() const { return chroma_; }

  // Rebuilds the tables for the settings; neutral replaces every correction
  // by its neutral value.
  void BuildTables(const ColourSettings& settings, bool neutral);

 private:
  const inout_kernels::Kernels& KernelTable() const;

  const inout_kernels::Kernels* kernels_ = nullptr;
  const BandRunner* runner_ = nullptr;
  // Per-pixel tables merged from the ones above at build time, so that the
  // input conversion needs one look-up per weight and per colour difference:
  // lumR_[r] = 77 * red[r], lumG_[g] = 150 * green[g],
  // lumB_[b] = 29 * blue[b] + 128, chromaR_[r] = chroma[red[r]],
  // chromaB_[b] = chroma[blue[b]].
  int32_t lumR_[256] = {};
  int32_t lumG_[256] = {};
  int32_t lumB_[256] = {};
  int32_t chromaR_[256] = {};
  int32_t chromaB_[256] = {};
  // chromaR_ and chromaB_ in the high halves, lumR_ and lumB_ in the low
  // halves, for vector look-ups that fetch both at once.
  int32_t packedR_[256] = {};
  int32_t packedB_[256] = {};
  int32_t satFactor_ = 256;
  bool chromaByFormula_ = false;
  // Tables start out empty; tables built for the neutral case must not
  // survive into a normal render whose changed flag happens to be clear.
  bool built_ = false;
  bool builtNeutral_ = false;

  uint8_t red_[256] = {};
  uint8_t green_[256] = {};
  uint8_t blue_[256] = {};
  int32_t chroma_[256] = {};
  int32_t weightR_[256] = {};
  int32_t weightG_[256] = {};
  int32_t weightB_[256] = {};
};

}  // namespace tarvo
