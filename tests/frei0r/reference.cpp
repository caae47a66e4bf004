#include "reference.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "frame_clock.h"
#include "types/call_record.h"
#include "host/engine.h"
#include "hostkit/clip_call.h"

namespace tarvo::frei0r::test {

Clip MakeClip(int width, int height, int frames, uint32_t seed) {
  Clip c;
  c.width = width;
  c.height = height;
  std::mt19937 rng(seed);
  for (int f = 0; f < frames; ++f) {
    std::vector<uint32_t> px(static_cast<size_t>(width) * height);
    const int sx = width / 4 + f * 3, sy = height / 4 + f * 2, side = height / 3;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        int b = x * 255 / width, g = y * 255 / height, r = (x + y) * 127 / (width + height) + 64;
        if (x >= sx && x < sx + side && y >= sy && y < sy + side) r = g = b = 220;
        const int n = static_cast<int>(rng() % 25) - 12;
        auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
        px[static_cast<size_t>(y) * width + x] = static_cast<uint32_t>(clamp(b + n)) |
                                                  static_cast<uint32_t>(clamp(g + n)) << 8 |
                                                  static_cast<uint32_t>(clamp(r - n)) << 16 | 0xFF000000u;
      }
    c.frames.push_back(std::move(px));
  }
  return c;
}

Clip ReferenceRender(const Clip& clip, const TSpecs& specs, uint8_t fieldFlags) {
  Clip out;
  out.width = clip.width;
  out.height = clip.height;
  Engine engine;
  hostkit::ClipCall call(
      [](void* e, int16_t selector, CallRecordHandle record) {
        return static_cast<Engine*>(e)->Filter(selector, record, FrameRules::kOwnHosts);
      },
      &engine);
  call.SetRecord(specs);
  const char privateData[64] = "reference";
  call.SetPrivateData(privateData, sizeof privateData);
  call.SetTotal(FrameClock::kTotal);
  call.SetFieldFlags(fieldFlags);
  std::vector<uint32_t> src(static_cast<size_t>(clip.width) * clip.height);
  for (size_t f = 0; f < clip.frames.size(); ++f) {
    src = clip.frames[f];
    std::vector<uint32_t> dst(src.size());
    call.Execute(static_cast<int32_t>(f), reinterpret_cast<uint8_t*>(src.data()),
                 reinterpret_cast<uint8_t*>(dst.data()), clip.width, clip.height);
    out.frames.push_back(std::move(dst));
  }
  return out;
}

TSpecs TemporalRecord() {
  TSpecs s = BuiltInDefaultSpecs();
  s.ProcMode = 0;
  s.Vmin = 16;
  s.Vmax = 235;
  s.Lift = 6;
  s.Gain = 110;
  s.Gamma = -10;
  s.Sat = 115;
  s.YDespeckle = 2;
  s.CDespeckle = 2;
  s.NoiseMask = 2;
  s.TempYThreshold = 40;
  s.TempCThreshold = 40;
  s.TempRecursion = 70;
  s.TempOnset = 10;
  s.TempLimit = 50;
  s.TempResponse = 50;
  s.TempFlags = 3;
  s.YSharpness = 30;
  s.SharpMask = 2;
  return s;
}

bool WriteRaw(const std::string& path, const Clip& clip) {
  std::ofstream f(path, std::ios::binary);
  for (const auto& frame : clip.frames) f.write(reinterpret_cast<const char*>(frame.data()), clip.FrameBytes());
  return static_cast<bool>(f);
}

Clip ReadRaw(const std::string& path, int width, int height) {
  Clip c;
  c.width = width;
  c.height = height;
  std::ifstream f(path, std::ios::binary);
  for (;;) {
    std::vector<uint32_t> px(static_cast<size_t>(width) * height);
    if (!f.read(reinterpret_cast<char*>(px.data()), c.FrameBytes())) break;
    c.frames.push_back(std::move(px));
  }
  return c;
}

std::string FirstDifference(const Clip& a, const Clip& b) {
  if (a.width != b.width || a.height != b.height) return "sizes differ";
  const size_t n = std::min(a.frames.size(), b.frames.size());
  for (size_t f = 0; f < n; ++f)
    for (size_t i = 0; i < a.frames[f].size(); ++i)
      if (a.frames[f][i] != b.frames[f][i]) {
        char text[128];
        std::snprintf(text, sizeof text, "frame %zu pixel (%zu, %zu): %08x vs %08x", f, i % a.width, i / a.width,
                      a.frames[f][i], b.frames[f][i]);
        return text;
      }
  return "";
}

}  // namespace tarvo::frei0r::test
