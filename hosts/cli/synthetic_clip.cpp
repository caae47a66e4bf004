#include "synthetic_clip.h"

#include <algorithm>

namespace tarvo::cli {
namespace {

// A small, fully specified generator (the standard distributions are not the
// same on every library).
struct Rng {
  uint64_t s;
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 11);
  }
  // Roughly bell-shaped, mean 0, spread about `spread`.
  int Grain(int spread) {
    int sum = 0;
    for (int i = 0; i < 4; ++i) sum += static_cast<int>(Next() % 1024u);
    return (sum - 2046) * spread / 591;
  }
};

uint8_t Clamp(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

void SynthesizeFrame(int index, int width, int height, uint32_t seed, const GrainSettings& grain, Frame& out) {
  out.Resize(width, height);
  out.pts = index;
  static constexpr uint8_t kBars[7][3] = {{191, 191, 191}, {0, 191, 191}, {191, 191, 0}, {0, 191, 0},
                                          {191, 0, 191},   {0, 0, 191},   {191, 0, 0}};  // B, G, R
  const int discR = std::max(4, height / 8);
  const int discX = (width / 6) + (index * std::max(1, width / 64)) % std::max(1, width * 2 / 3);
  const int discY = height / 3;
  Rng rng{(static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15ull) ^ 0x5DEECE66Dull};
  for (int y = 0; y < height; ++y) {
    uint8_t* row = out.row(y);
    for (int x = 0; x < width; ++x) {
      int b, g, r;
      if (y < height * 2 / 3) {
        // Sky-like gradient with a fine checker patch on the right (detail).
        r = 40 + 150 * y / std::max(1, height);
        g = 60 + 120 * x / std::max(1, width);
        b = 170 - 90 * y / std::max(1, height);
        if (x > width * 3 / 4 && y > height / 8 && y < height / 2 && (((x / 2) ^ (y / 2)) & 1)) {
          r += 50;
          g += 50;
          b += 50;
        }
        const int dx = x - discX, dy = y - discY;
        if (dx * dx + dy * dy < discR * discR) {
          r = 235;
          g = 200;
          b = 60;
        }
      } else {
        const int bar = std::min(6, x * 7 / std::max(1, width));
        b = kBars[bar][0];
        g = kBars[bar][1];
        r = kBars[bar][2];
        if (y > height * 5 / 6) {  // grey ramp under the bars
          r = g = b = 16 + 219 * x / std::max(1, width);
        }
      }
      if (grain.grain > 0) {
        const int luma = rng.Grain(grain.grain);
        r += luma + rng.Grain(grain.grain / 2);
        g += luma + rng.Grain(grain.grain / 2);
        b += luma + rng.Grain(grain.grain / 2);
      }
      if (grain.specksPerMille > 0 && static_cast<int>(rng.Next() % 1000u) < grain.specksPerMille) {
        const int v = (rng.Next() & 1) ? 250 : 8;
        r = g = b = v;
      }
      row[4 * x] = Clamp(b);
      row[4 * x + 1] = Clamp(g);
      row[4 * x + 2] = Clamp(r);
      row[4 * x + 3] = 255;
    }
  }
}

}  // namespace tarvo::cli
