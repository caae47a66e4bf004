// Waveform and vectorscope monitors of the setup dialog: the scale tables,
// the per-pixel accumulation fed by the output conversion, the count buffers
// and the rendering of the counts as green traces over the graticules.
//
// The waveform shows each pixel's level against its picture column; the
// vectorscope shows its two colour differences as a point in a plane. Each
// exists in a large (240 x 180) and a small (120 x 90) display size; one
// waveform size and one vectorscope size are active at a time, and the count
// buffers are laid out for the active sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "monitor/graticule.h"
#include "planes/inout.h"
#include "types/specs.h"

namespace tarvo::monitor {

// The four displays.
enum class Display { kWfm90, kWfm180, kVec90, kVec180 };

// The monitor frame: the dialog's 240 x 180 work image.
constexpr int32_t kFrameWidth = 240;
constexpr int32_t kFrameHeight = 180;

// Count buffer layouts. Waveform: one column of 181 cells per display column
// from display column 17 on, the last cell of each column (row 180) being
// the discard cell for levels off the display. Vectorscope: one column of 157
// cells per display column from column 33 on, starting at display row 7.
constexpr int32_t kWaveformColumnBase = 17;
constexpr int32_t kWaveformStride = 181;
constexpr int32_t kDiscardRow = 180;
constexpr int32_t kVectorscopeColumnBase = 33;
constexpr int32_t kVectorscopeRowBase = 7;
constexpr int32_t kVectorscopeStride = 157;
constexpr size_t kWfm90Cells = 16290;   // 90 columns
constexpr size_t kWfm180Cells = 35476;  // 196 columns from 17 (33 to 212 used)
constexpr size_t kVec90Cells = 8635;
constexpr size_t kVec180Cells = 22137;
// Each cell stops counting here, so one byte per cell suffices.
constexpr uint8_t kCountLimit = 16;

// Size in bytes of a display's count buffer.
size_t CountCells(Display d);

// What the scales are built from: the clip's Vmin, Vmax and Vblack, the
// preference black and white (Vblack and Vwhite of the built-in default
// record) and the NTSC blacks option.
struct ScaleLevels {
  int32_t clipVmin = 0;
  int32_t clipVmax = 255;
  int32_t clipVblack = 16;
  int32_t prefBlack = 16;
  int32_t prefWhite = 235;
  bool ntscBlacks = false;
};
ScaleLevels LevelsOf(const TSpecs& clip, const TSpecs& defaults, int32_t ntscBlacks);

// Lookup tables of one waveform size.
struct WaveformTables {
  uint8_t row[256];                // level relative to Vmin -> display row, or kDiscardRow
  uint8_t column[kFrameWidth];     // picture column -> display column
};
// Lookup tables of one vectorscope size, indexed by a colour difference
// clamped to -255..255, plus 255.
struct VectorscopeTables {
  uint8_t x[511];  // u -> display column (positive u to the right)
  uint8_t y[511];  // v -> display row (positive v upwards)
};

// The scale build of one size. The arithmetic is IEEE double precision with
// rounding to the nearest integer, halves to even. When the preference black
// equals the preference white every level goes to the discard row; when the
// clip's Vmax is not above its Vblack the vectorscope takes a span of 1.
void BuildWaveformTables(bool large, const ScaleLevels& levels, WaveformTables& out);
void BuildVectorscopeTables(bool large, const ScaleLevels& levels, VectorscopeTables& out);

// The monitors' working state: tables and count buffers of the active sizes.
// Accumulation allocates nothing; the buffers are made once at their largest
// size.
class Monitors final : public MonitorSink {
 public:
  Monitors();

  // The scale build: makes the given sizes active, rebuilds their tables and
  // clears both count buffers.
  void ScaleBuild(const ScaleLevels& levels, bool largeWaveform, bool largeVectorscope);

  bool LargeWaveform() const { return largeWaveform_; }
  bool LargeVectorscope() const { return largeVectorscope_; }
  Display WaveformDisplay() const { return largeWaveform_ ? Display::kWfm180 : Display::kWfm90; }
  Display VectorscopeDisplay() const { return largeVectorscope_ ? Display::kVec180 : Display::kVec90; }

  // One pixel of the monitor frame: level 0..255 relative to Vmin, colour
  // differences u (blue minus level) and v (red minus level), picture column
  // 0..239. A level outside 0..255 is held at its end; a column outside the
  // monitor frame is not counted.
  void Accumulate(int32_t level, int32_t u, int32_t v, int32_t column) override;

  // The count buffers of the active sizes, as laid out above.
  std::span<const uint8_t> WaveformCounts() const { return {waveform_.data(), CountCells(WaveformDisplay())}; }
  std::span<const uint8_t> VectorscopeCounts() const {
    return {vectorscope_.data(), CountCells(VectorscopeDisplay())};
  }

  // Draws the active waveform (vectorscope) counts over its graticule into
  // `out` (resized to the display's size) and clears the counts.
  void RenderWaveform(const Graticules& graticules, MonitorImage& out);
  void RenderVectorscope(const Graticules& graticules, MonitorImage& out);

  // Empties both count buffers.
  void Clear();

  const WaveformTables& Waveform() const { return wfTables_; }
  const VectorscopeTables& Vectorscope() const { return vsTables_; }

 private:
  WaveformTables wfTables_{};
  VectorscopeTables vsTables_{};
  std::vector<uint8_t> waveform_;
  std::vector<uint8_t> vectorscope_;
  bool largeWaveform_ = false;
  bool largeVectorscope_ = false;
};

// Draws `counts` laid out for display `d` over `graticule` into `out`: every
// trace cell whose count n gives n x k above the display's threshold becomes
// pure green of strength min(n x k + g0, 255), g0 being the blue component of
// the graticule pixel under it. Leaves `counts` as it is.
void RenderCounts(Display d, std::span<const uint8_t> counts, const MonitorImage& graticule, MonitorImage& out);

}  // namespace tarvo::monitor
