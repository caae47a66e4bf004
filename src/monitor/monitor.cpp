#include "monitor/monitor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarvo::monitor {
namespace {

// Nearest integer of an IEEE double, halves to even (the process keeps the
// default rounding mode). The scale values are small, so the result is
// always exact in a double.
inline double RoundHalfEven(double z) { return std::nearbyint(z); }

// Where each display draws its trace and how its cells are addressed.
struct DisplayGeometry {
  int32_t width, height;
  int32_t firstColumn, lastColumn;  // trace columns
  int32_t firstRow, lastRow;        // trace rows
  int32_t columnBase, rowBase, stride;
  int32_t k;          // brightness per count
  int32_t threshold;  // n x k must exceed this to be drawn
};

constexpr DisplayGeometry kGeometry[4] = {
    {120, 90, 17, 106, 0, 89, kWaveformColumnBase, 0, kWaveformStride, 16, 32},
    {240, 180, 33, 212, 0, 179, kWaveformColumnBase, 0, kWaveformStride, 32, 32},
    {120, 90, 33, 87, 7, 81, kVectorscopeColumnBase, kVectorscopeRowBase, kVectorscopeStride, 16, 64},
    {240, 180, 67, 173, 15, 163, kVectorscopeColumnBase, kVectorscopeRowBase, kVectorscopeStride, 64, 64},
};

const DisplayGeometry& GeometryOf(Display d) { return kGeometry[static_cast<int>(d)]; }

const MonitorImage& GraticuleOf(Display d, const Graticules& g) {
  switch (d) {
    case Display::kWfm90: return g.wfm90;
    case Display::kWfm180: return g.wfm180;
    case Display::kVec90: return g.vec90;
    case Display::kVec180: break;
  }
  return g.vec180;
}

}  // namespace

size_t CountCells(Display d) {
  switch (d) {
    case Display::kWfm90: return kWfm90Cells;
    case Display::kWfm180: return kWfm180Cells;
    case Display::kVec90: return kVec90Cells;
    case Display::kVec180: break;
  }
  return kVec180Cells;
}

ScaleLevels LevelsOf(const TSpecs& clip, const TSpecs& defaults, int32_t ntscBlacks) {
  ScaleLevels l;
  l.clipVmin = clip.Vmin;
  l.clipVmax = clip.Vmax;
  l.clipVblack = clip.Vblack;
  l.prefBlack = defaults.Vblack;
  l.prefWhite = defaults.Vwhite;
  l.ntscBlacks = ntscBlacks == 1;
  return l;
}

void BuildWaveformTables(bool large, const ScaleLevels& levels, WaveformTables& out) {
  // The white level lands on the 100 IRE row; the black level 70 (140) rows
  // lower on 0 IRE, or 65 (130) rows lower on 7.5 IRE with NTSC blacks.
  const int32_t lastRow = large ? 179 : 89;
  const double whiteRow = large ? 19.0 : 9.0;
  const double span = large ? (levels.ntscBlacks ? 130.0 : 140.0) : (levels.ntscBlacks ? 65.0 : 70.0);
  const int32_t white = levels.prefWhite - levels.clipVmin;
  const int32_t black = levels.prefBlack - levels.clipVmin;
  if (black == white) {
    // No scale can be formed: nothing is drawn.
    std::memset(out.row, kDiscardRow, sizeof out.row);
  } else {
    const double s = span / static_cast<double>(black - white);
    const double t = whiteRow - s * static_cast<double>(white);
    for (int32_t i = 0; i < 256; ++i) {
      const double r = RoundHalfEven(static_cast<double>(i) * s + t);
      out.row[i] = (r >= 0.0 && r <= lastRow) ? static_cast<uint8_t>(r) : static_cast<uint8_t>(kDiscardRow);
    }
  }
  // The 240 picture columns spread over 90 (180) display columns.
  const int32_t lastColumn = large ? 179 : 89;
  const int32_t firstColumn = large ? 33 : 17;
  for (int32_t x = 0; x < kFrameWidth; ++x) {
    const double c = RoundHalfEven(static_cast<double>(x * lastColumn) / 239.0);
    out.column[x] = static_cast<uint8_t>(static_cast<int32_t>(c) + firstColumn);
  }
}

void BuildVectorscopeTables(bool large, const ScaleLevels& levels, VectorscopeTables& out) {
  // D, the span from the clip's black to its peak, scales both axes.
  int32_t d = levels.clipVmax - levels.clipVblack;
  if (d <= 0) d = 1;
  const int32_t centreX = large ? 120 : 60;
  const int32_t centreY = large ? 89 : 44;
  const double denX = static_cast<double>(large ? 6 * d : 12 * d);
  const double denY = static_cast<double>(large ? 4 * d : 8 * d);
  const double maxX = large ? 53.0 : 27.0;
  const double maxY = large ? 74.0 : 37.0;
  for (int32_t i = 0; i < 256; ++i) {
    const int32_t b = static_cast<int32_t>(std::min(RoundHalfEven(static_cast<double>(i * 355) / denX), maxX));
    out.x[255 + i] = static_cast<uint8_t>(centreX + b);
    out.x[255 - i] = static_cast<uint8_t>(centreX - b);
    const int32_t e = static_cast<int32_t>(std::min(RoundHalfEven(static_cast<double>(i * 421) / denY), maxY));
    out.y[255 + i] = static_cast<uint8_t>(centreY - e);
    out.y[255 - i] = static_cast<uint8_t>(centreY + e);
  }
}

Monitors::Monitors() : waveform_(kWfm180Cells, 0), vectorscope_(kVec180Cells, 0) {
  ScaleBuild(ScaleLevels{}, false, false);
}

void Monitors::ScaleBuild(const ScaleLevels& levels, bool largeWaveform, bool largeVectorscope) {
  largeWaveform_ = largeWaveform;
  largeVectorscope_ = largeVectorscope;
  BuildWaveformTables(largeWaveform, levels, wfTables_);
  BuildVectorscopeTables(largeVectorscope, levels, vsTables_);
  Clear();
}

void Monitors::Accumulate(int32_t level, int32_t u, int32_t v, int32_t column) {
  if (static_cast<uint32_t>(column) >= static_cast<uint32_t>(kFrameWidth)) return;
  level = std::clamp(level, 0, 255);
  u = std::clamp(u, -255, 255);
  v = std::clamp(v, -255, 255);

  const int32_t x = vsTables_.x[u + 255];
  const int32_t y = vsTables_.y[v + 255];
  uint8_t& vc = vectorscope_[static_cast<size_t>((x - kVectorscopeColumnBase) * kVectorscopeStride +
                                                 (y - kVectorscopeRowBase))];
  if (vc < kCountLimit) ++vc;

  const int32_t cx = wfTables_.column[column];
  const int32_t r = wfTables_.row[level];
  uint8_t& wc = waveform_[static_cast<size_t>((cx - kWaveformColumnBase) * kWaveformStride + r)];
  if (wc < kCountLimit) ++wc;
}

void Monitors::Clear() {
  std::fill(waveform_.begin(), waveform_.end(), uint8_t{0});
  std::fill(vectorscope_.begin(), vectorscope_.end(), uint8_t{0});
}

void Monitors::RenderWaveform(const Graticules& graticules, MonitorImage& out) {
  const Display d = WaveformDisplay();
  RenderCounts(d, WaveformCounts(), GraticuleOf(d, graticules), out);
  std::fill(waveform_.begin(), waveform_.begin() + static_cast<std::ptrdiff_t>(CountCells(d)), uint8_t{0});
}

void Monitors::RenderVectorscope(const Graticules& graticules, MonitorImage& out) {
  const Display d = VectorscopeDisplay();
  RenderCounts(d, VectorscopeCounts(), GraticuleOf(d, graticules), out);
  std::fill(vectorscope_.begin(), vectorscope_.begin() + static_cast<std::ptrdiff_t>(CountCells(d)), uint8_t{0});
}

void RenderCounts(Display d, std::span<const uint8_t> counts, const MonitorImage& graticule, MonitorImage& out) {
  const DisplayGeometry& g = GeometryOf(d);
  if (graticule.width == g.width && graticule.height == g.height &&
      graticule.pixels.size() == static_cast<size_t>(g.width) * g.height * 4) {
    out.width = g.width;
    out.height = g.height;
    out.pixels = graticule.pixels;
  } else {
    // No graticule of this size: the traces go onto black.
    out.Resize(g.width, g.height);
    for (size_t i = 3; i < out.pixels.size(); i += 4) out.pixels[i] = 255;
  }
  if (counts.size() < CountCells(d)) return;
  for (int32_t x = g.firstColumn; x <= g.lastColumn; ++x) {
    const size_t column = static_cast<size_t>((x - g.columnBase) * g.stride);
    for (int32_t y = g.firstRow; y <= g.lastRow; ++y) {
      const int32_t n = counts[column + static_cast<size_t>(y - g.rowBase)];
      if (n * g.k <= g.threshold) continue;
      uint8_t* p = out.At(x, y);
      const int32_t g0 = p[0];
      p[0] = 0;
      p[1] = static_cast<uint8_t>(std::min(n * g.k + g0, 255));
      p[2] = 0;
    }
  }
}

}  // namespace tarvo::monitor
