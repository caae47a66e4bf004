#include "monitor/graticule.h"

#include <cmath>
#include <numbers>
#include <string_view>

namespace tarvo::monitor {
namespace {

// A 3 x 5 pixel font for the few characters the graticules carry: one byte
// per row, bit 2 the left column.
struct Glyph {
  char c;
  uint8_t rows[5];
};
constexpr Glyph kFont[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'C', {7, 4, 4, 4, 7}}, {'b', {4, 4, 7, 5, 7}},
    {'r', {0, 0, 7, 4, 4}},
};

void Blank(MonitorImage& img, int32_t w, int32_t h) {
  img.Resize(w, h);
  for (size_t i = 3; i < img.pixels.size(); i += 4) img.pixels[i] = 255;
}

void Plot(MonitorImage& img, int32_t x, int32_t y, uint8_t grey) {
  if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
  uint8_t* p = img.At(x, y);
  p[0] = p[1] = p[2] = grey;
}

void HLine(MonitorImage& img, int32_t y, int32_t x0, int32_t x1, uint8_t grey) {
  for (int32_t x = x0; x <= x1; ++x) Plot(img, x, y, grey);
}

void VLine(MonitorImage& img, int32_t x, int32_t y0, int32_t y1, uint8_t grey) {
  for (int32_t y = y0; y <= y1; ++y) Plot(img, x, y, grey);
}

// Text with its top left corner at (x, y), each font pixel `scale` pixels
// square, one font pixel between characters.
void Text(MonitorImage& img, int32_t x, int32_t y, std::string_view text, int32_t scale, uint8_t grey) {
  for (char c : text) {
    for (const Glyph& g : kFont) {
      if (g.c != c) continue;
      for (int32_t row = 0; row < 5; ++row)
        for (int32_t col = 0; col < 3; ++col)
          if (g.rows[row] & (4 >> col))
            for (int32_t dy = 0; dy < scale; ++dy)
              for (int32_t dx = 0; dx < scale; ++dx) Plot(img, x + col * scale + dx, y + row * scale + dy, grey);
    }
    x += 4 * scale;
  }
}

// The waveform graticule. `half` selects the 120 x 90 size: lines every 7
// rows from row 2 instead of every 14 from row 5.
void DrawWaveform(MonitorImage& img, bool half) {
  const int32_t w = half ? 120 : 240, h = half ? 90 : 180;
  const int32_t step = half ? 7 : 14, first = half ? 2 : 5;
  const int32_t scale = half ? 1 : 2;
  Blank(img, w, h);
  // One line per 10 IRE, from 110 IRE at the top down to -10 IRE.
  for (int32_t row = first; row < h; row += step) HLine(img, row, 0, w - 1, kGrey);
  const int32_t row100 = first + step, row0 = first + 11 * step;
  // Labels above the left ends of the 100, 80, 60, 40 and 20 IRE lines.
  static constexpr std::string_view kLabels[] = {"100", "80", "60", "40", "20"};
  for (int32_t k = 0; k < 5; ++k) {
    const int32_t row = row100 + 2 * k * step;
    Text(img, 1 + (scale - 1), row - 1 - 5 * scale, kLabels[k], scale, kGrey);
  }
  // Ticks every 5 columns along the 0 IRE line.
  const int32_t tick = half ? 1 : 2;
  for (int32_t x = half ? 1 : 2; x < w; x += 5) VLine(img, x, row0 - tick, row0 + tick, kGrey);
  // Corner brackets marking the picture's extent at 100 and 0 IRE.
  const int32_t left = half ? 11 : 22, right = half ? 111 : 222, arm = half ? 3 : 6;
  HLine(img, row100, left, left + arm, kWhite);
  HLine(img, row100, right - arm, right, kWhite);
  VLine(img, left, row100, row100 + arm, kWhite);
  VLine(img, right, row100, row100 + arm, kWhite);
  HLine(img, row0, left, left + arm, kWhite);
  HLine(img, row0, right - arm, right, kWhite);
  VLine(img, left, row0 - arm, row0, kWhite);
  VLine(img, right, row0 - arm, row0, kWhite);
}

// The vectorscope graticule. `half` selects the 120 x 90 size.
void DrawVectorscope(MonitorImage& img, bool half) {
  const int32_t w = half ? 120 : 240, h = half ? 90 : 180;
  const int32_t cx = half ? 60 : 120, cy = half ? 44 : 89;
  const double radius = half ? 42.0 : 84.0;
  Blank(img, w, h);
  // Axes: Cb across, Cr over the full height.
  HLine(img, cy, half ? 15 : 30, half ? 105 : 210, kGrey);
  VLine(img, cx, 0, h - 1, kGrey);
  auto at = [&](double r, double degrees, int32_t& x, int32_t& y) {
    const double a = degrees * std::numbers::pi / 180.0;
    x = static_cast<int32_t>(std::lround(cx + r * std::cos(a)));
    y = static_cast<int32_t>(std::lround(cy - r * std::sin(a)));
  };
  int32_t x = 0, y = 0;
  for (int32_t step = 0; step < 3600; ++step) {
    at(radius, step * 0.1, x, y);
    Plot(img, x, y, kGrey);
  }
  // Ticks across the circle every 10 degrees.
  const double tick = half ? 1.0 : 2.0;
  for (int32_t deg = 0; deg < 360; deg += 10)
    for (double r = radius - tick; r <= radius + tick; r += 0.5) {
      at(r, deg, x, y);
      Plot(img, x, y, kSilver);
    }
  if (!half) {
    Text(img, 213, cy - 2, "Cb", 1, kSilver);
    Text(img, cx + 3, 1, "Cr", 1, kSilver);
  }
  // Targets of 100% colour bars, at their hue angles counted
  // counter-clockwise from +Cb, spanning about 72 to 79 pixels (large).
  static constexpr double kTargets[] = {103.0, 61.0, 347.0, 283.0, 241.0, 167.0};
  const double targetRadius = half ? 37.75 : 75.5;
  const int32_t halfSide = half ? 2 : 3;
  for (double deg : kTargets) {
    at(targetRadius, deg, x, y);
    HLine(img, y - halfSide, x - halfSide, x + halfSide, kWhite);
    HLine(img, y + halfSide, x - halfSide, x + halfSide, kWhite);
    VLine(img, x - halfSide, y - halfSide, y + halfSide, kWhite);
    VLine(img, x + halfSide, y - halfSide, y + halfSide, kWhite);
  }
}

// The 7.5 IRE datum: a dashed line, three (six) pixels on and three (six)
// off.
void DrawNtscDatum(MonitorImage& img, bool half) {
  if (half) {
    for (int32_t x = 0; x < 120; ++x)
      if (((x + 2) / 3) % 2 == 1) Plot(img, x, 74, kNtscDatumGrey);
  } else {
    for (int32_t x = 0; x < 240; ++x)
      if (((x + 4) / 6) % 2 == 1) Plot(img, x, 149, kNtscDatumGrey);
  }
}

}  // namespace

Graticules MakeGraticules(bool ntscBlacks) {
  Graticules g;
  DrawWaveform(g.wfm90, true);
  DrawWaveform(g.wfm180, false);
  DrawVectorscope(g.vec90, true);
  DrawVectorscope(g.vec180, false);
  if (ntscBlacks) {
    DrawNtscDatum(g.wfm90, true);
    DrawNtscDatum(g.wfm180, false);
  }
  return g;
}

}  // namespace tarvo::monitor
