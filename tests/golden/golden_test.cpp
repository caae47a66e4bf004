// Golden-output regression of the whole frame pipeline.
//
// A fixed set of records is rendered over fixed synthetic clips (generated in
// code from fixed seeds), and the FNV-1a 64 checksum of every output frame is
// compared with tests/golden/checksums.txt. Any change of any output byte
// fails, naming the case, the clip and the frame.
//
// When an output change is intended, regenerate the file deliberately and
// review the diff:
//
//   TARVO_GOLDEN_UPDATE=1 build/tests/golden/test_golden
//   (or scripts/update-golden.sh [build-dir])
//
// The checksums do not depend on the kernel level: the same file must pass
// with TARVO_KERNELS=scalar.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/pipeline.h"
#include "util/atomic_file.h"

namespace tarvo {
namespace {

// splitmix64: a fixed, platform-independent sequence.
struct Rng {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Uniform(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1)); }
};

uint8_t Clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

enum class Kind { Gradient, Noise, Edges, Mixed };

struct Clip {
  const char* name;
  int width, height, frames;
  Kind kind;
};

const Clip kClips[] = {
    {"grad64x48", 64, 48, 5, Kind::Gradient},
    {"noise96x72", 96, 72, 5, Kind::Noise},
    {"edges96x72", 96, 72, 4, Kind::Edges},
    {"odd61x45", 61, 45, 3, Kind::Mixed},  // fits no subsampled chroma mode
    {"pal720x576", 720, 576, 3, Kind::Mixed},
};

// Frame `f` of a clip as BGRA bytes, rows of width * 4 bytes.
std::vector<uint8_t> MakeFrame(const Clip& c, int f) {
  Rng rng{0x5EED0000ull + static_cast<uint64_t>(f) * 7919u + static_cast<uint64_t>(c.kind) * 104729u};
  std::vector<uint8_t> px(static_cast<size_t>(c.width) * c.height * 4);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      uint8_t* p = &px[(static_cast<size_t>(y) * c.width + x) * 4];
      int r = 0, g = 0, b = 0, noise = 0;
      const int gx = ((x + 3 * f) * 255) / c.width, gy = (y * 255) / c.height;
      const bool check = (((x + 2 * f) / 8) + (y / 8)) & 1;
      switch (c.kind) {
        case Kind::Gradient:
          r = gx; g = (gx + gy) / 2; b = 255 - gy; noise = 4;
          break;
        case Kind::Noise: {
          const int dx = x - c.width / 2, dy = y - c.height / 2;
          const bool disc = dx * dx + dy * dy < (c.height * c.height) / 9;
          r = disc ? 200 : 60; g = disc ? 120 : 90 + gy / 4; b = disc ? 40 : 160; noise = 24;
          break;
        }
        case Kind::Edges:
          r = check ? 230 : 20; g = check ? 40 : 210; b = (x % 16 < 2) ? 255 : 90; noise = 2;
          break;
        case Kind::Mixed:
          r = (gx + (check ? 80 : 0)) % 256; g = gy; b = check ? 200 : gx / 2; noise = 10;
          break;
      }
      p[0] = Clamp8(b + rng.Uniform(-noise, noise));
      p[1] = Clamp8(g + rng.Uniform(-noise, noise));
      p[2] = Clamp8(r + rng.Uniform(-noise, noise));
      p[3] = static_cast<uint8_t>(rng.Next());
    }
  return px;
}

uint64_t Fnv1a(const uint8_t* p, size_t n, uint64_t h = 0xCBF29CE484222325ull) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

struct Case {
  std::string name;
  std::function<void(TSpecs&)> set;
  int32_t opMode = kOpFinal;
  bool inSetup = false;
  uint16_t fieldWord = 0;
  bool large = false;  // also run over the 720 x 576 clip
};

void Levels(TSpecs& s) {
  s.Vmin = 16; s.Vmax = 235; s.Vblack = 16; s.Vwhite = 235;
  s.Lift = 8; s.Gain = 115; s.Gamma = -20; s.Sat = 130; s.Knee = 80; s.Slope = 30;
  s.RLift = 5; s.BGain = 90; s.GGamma = 10;
}

void Everything(TSpecs& s) {
  Levels(s);
  s.YDespeckle = 3; s.CDespeckle = 2; s.NoiseMask = 2; s.NoiseMaskYOnly = 0; s.NoiseSmooth = 10; s.MaskRadius = 2;
  s.MedianLimit = 60; s.MedianThreshold = 5; s.MedianWhen = 3; s.MedianWeighted = 1;
  s.TempYThreshold = 30; s.TempCThreshold = 25; s.TempRecursion = 60; s.TempOnset = 10; s.TempLimit = 60;
  s.TempResponse = 40; s.TempFlags = 3;
  s.YSharpness = 40; s.CSharpness = 25; s.SharpMask = 2; s.SharpSmooth = -10; s.SharpRadius = 2; s.LevelDepend = 30;
}

std::vector<Case> Cases() {
  std::vector<Case> v;
  auto add = [&](std::string name, std::function<void(TSpecs&)> set) {
    Case c;
    c.name = std::move(name);
    c.set = std::move(set);
    v.push_back(c);
    return &v.back();
  };
  add("default", [](TSpecs&) {});
  add("levels", Levels)->large = true;
  add("despeckle_y3", [](TSpecs& s) { s.YDespeckle = 3; });
  add("despeckle_c4", [](TSpecs& s) { s.CDespeckle = 4; });
  add("noise_mask_yc", [](TSpecs& s) {
    s.YDespeckle = 2; s.CDespeckle = 2; s.NoiseMask = 3; s.NoiseMaskYOnly = 0; s.NoiseSmooth = -20; s.MaskRadius = 3;
  });
  add("noise_mask_y_only", [](TSpecs& s) { s.YDespeckle = 2; s.CDespeckle = 2; s.NoiseMask = 1; s.MaskRadius = 1; });
  add("median_plain_before", [](TSpecs& s) { s.MedianLimit = 70; s.MedianThreshold = 3; s.MedianWhen = 1; });
  add("median_weighted_after", [](TSpecs& s) {
    s.MedianLimit = 70; s.MedianThreshold = 3; s.MedianWhen = 2; s.MedianWeighted = 1;
  });
  add("temporal_y_motion", [](TSpecs& s) {
    s.TempYThreshold = 40; s.TempRecursion = 80; s.TempOnset = 5; s.TempLimit = 50; s.TempResponse = 60; s.TempFlags = 1;
  });
  add("temporal_c_smooth", [](TSpecs& s) { s.TempCThreshold = 40; s.TempRecursion = 30; s.TempFlags = 2; });
  add("sharpen_y", [](TSpecs& s) { s.YSharpness = 50; s.SharpRadius = 1; s.LevelDepend = 40; });
  add("soften_c", [](TSpecs& s) { s.CSharpness = -60; s.SharpRadius = 3; });
  add("sharpen_masked", [](TSpecs& s) {
    s.YSharpness = 70; s.CSharpness = 30; s.SharpMask = 3; s.SharpSmooth = 15; s.SharpRadius = 3; s.MaskRadius = 2;
  });
  add("sharpen_after_temporal", [](TSpecs& s) { s.YSharpness = 30; s.CSharpness = 30; s.TempYThreshold = 30; s.TempCThreshold = 30; });
  add("everything", Everything)->large = true;
  for (int m = 1; m <= 3; ++m)
    add("everything_procmode" + std::to_string(m), [m](TSpecs& s) { Everything(s); s.ProcMode = static_cast<int16_t>(m); })
        ->large = m == 2;
  {
    Case* c = add("everything_field", Everything);
    c->fieldWord = 0x0100;
    c->large = true;
  }
  for (int t = 2; t <= 7; ++t)
    add("signal" + std::to_string(t), [t](TSpecs& s) { Levels(s); s.TestSignal = static_cast<int16_t>(t); })->large =
        t == 3;
  add("signal3_in_dialog", [](TSpecs& s) { s.TestSignal = 3; })->inSetup = true;
  // Display views, live outside the dialog with TestSignal 1.
  auto view = [](TSpecs& s, int page) { Everything(s); s.TestSignal = 1; s.PageIndex = static_cast<int16_t>(page); };
  add("view_noise_mask", [view](TSpecs& s) { view(s, 5); s.NoiseShowMask = 1; });
  add("view_sharp_mask", [view](TSpecs& s) { view(s, 3); s.SharpShowMask = 1; });
  add("view_edges", [view](TSpecs& s) { view(s, 3); s.SharpShowEdges = 1; s.SharpMask = 0; })->large = true;
  add("view_edges_masked_luma", [view](TSpecs& s) { view(s, 3); s.SharpShowEdges = 1; s.CSharpness = 0; });
  add("view_luma_only", [view](TSpecs& s) { view(s, 1); s.ChannelView = 1; });
  add("view_colour_only", [view](TSpecs& s) { view(s, 1); s.ChannelView = 2; });
  add("view_noise_mask_colour_only", [view](TSpecs& s) { view(s, 5); s.NoiseShowMask = 1; s.ChannelView = 2; });
  {
    Case* c = add("dialog_everything", Everything);
    c->inSetup = true;
  }
  {
    Case* c = add("dialog_bypass", [](TSpecs& s) { Everything(s); s.Bypass = 1; s.ChannelView = 1; });
    c->inSetup = true;
  }
  add("draft_levels", Levels)->opMode = kOpDraft;
  add("bypass", Everything)->opMode = kOpBypass;
  return v;
}

// Renders every frame of one clip through a fresh pipeline and returns the
// checksums of the destination frames.
std::vector<uint64_t> Render(const Case& c, const Clip& clip, int threads = 1) {
  Notifier notifier;
  Pipeline pipe(notifier);
  pipe.SetOpMode(c.opMode);
  pipe.SetThreads(threads);
  TSpecs specs = BuiltInDefaultSpecs();
  c.set(specs);
  uint8_t* specsPtr = reinterpret_cast<uint8_t*>(&specs);
  Handle specsHandle = &specsPtr;

  CallState call;
  call.total = 1000;
  call.inSetup = c.inSetup;
  call.fieldWord = c.fieldWord;
  for (int i = 0; i < 14; ++i) call.privateBlock[i] = static_cast<uint8_t>(i * 17);

  const size_t rowBytes = static_cast<size_t>(clip.width) * 4;
  std::vector<uint64_t> sums;
  for (int f = 0; f < clip.frames; ++f) {
    std::vector<uint8_t> src = MakeFrame(clip, f);
    std::vector<uint8_t> dst(src.size(), 0x3C);
    TPixBuffer sb{}, db{};
    sb.Bounds = db.Bounds = TRect{0, 0, clip.width, clip.height};
    sb.RowBytes = db.RowBytes = static_cast<int32_t>(rowBytes);
    sb.Pixels = src.data();
    db.Pixels = dst.data();
    TPixBuffer* sp = &sb;
    TPixBuffer* dp = &db;
    call.part = 100 + f;
    call.changed = f == 0;  // the record is the same for every later frame
    pipe.Render(&sp, &dp, specsHandle, c.inSetup, call);
    sums.push_back(Fnv1a(dst.data(), dst.size()));
  }
  return sums;
}

std::string Hex(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

std::map<std::string, std::string> ReadChecksums() {
  std::map<std::string, std::string> expected;
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(ReadWholeFile(TARVO_GOLDEN_FILE, bytes, &error))
      << error << "\nGenerate it with TARVO_GOLDEN_UPDATE=1 build/tests/golden/test_golden";
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t cut = line.rfind(' ');
    EXPECT_NE(cut, std::string::npos) << "malformed line: " << line;
    if (cut != std::string::npos) expected[line.substr(0, cut)] = line.substr(cut + 1);
  }
  return expected;
}

bool UpdateRequested() {
  const char* update = std::getenv("TARVO_GOLDEN_UPDATE");
  return update && std::strcmp(update, "1") == 0;
}

// The stored checksums, read once.
const std::map<std::string, std::string>& StoredChecksums() {
  static const std::map<std::string, std::string> stored = ReadChecksums();
  return stored;
}

std::string Key(const Case& c, const Clip& clip, size_t frame) {
  return c.name + " " + clip.name + " " + std::to_string(frame);
}

// The clips a case runs over: the small ones always, the large one when the
// case asks for it (or never, for `smallOnly`).
std::vector<const Clip*> ClipsOf(const Case& c, bool smallOnly = false) {
  std::vector<const Clip*> clips;
  for (const Clip& clip : kClips)
    if (clip.width <= 100 || (c.large && !smallOnly)) clips.push_back(&clip);
  return clips;
}

// Rewrites checksums.txt from a render of every case (TARVO_GOLDEN_UPDATE=1);
// otherwise checks that the file names exactly the frames the cases render,
// so that a stored checksum cannot silently stop being compared.
TEST(Golden, StoredChecksumsNameExactlyTheRenderedFrames) {
  if (UpdateRequested()) {
    std::map<std::string, std::string> actual;
    for (const Case& c : Cases())
      for (const Clip* clip : ClipsOf(c)) {
        const std::vector<uint64_t> sums = Render(c, *clip);
        for (size_t f = 0; f < sums.size(); ++f) actual[Key(c, *clip, f)] = Hex(sums[f]);
      }
    std::string text =
        "# Output checksums of the golden regression (case, clip, frame, FNV-1a 64 of the BGRA bytes).\n"
        "# Regenerate with TARVO_GOLDEN_UPDATE=1 build/tests/golden/test_golden\n";
    for (const auto& [key, sum] : actual) text += key + " " + sum + "\n";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(TARVO_GOLDEN_FILE, text.data(), text.size(), &error)) << error;
    std::printf("wrote %zu checksums to %s\n", actual.size(), TARVO_GOLDEN_FILE);
    return;
  }
  const std::map<std::string, std::string>& stored = StoredChecksums();
  ASSERT_FALSE(stored.empty());
  std::map<std::string, bool> rendered;
  for (const Case& c : Cases())
    for (const Clip* clip : ClipsOf(c))
      for (int f = 0; f < clip->frames; ++f) rendered[Key(c, *clip, static_cast<size_t>(f))] = true;
  for (const auto& [key, sum] : stored)
    EXPECT_TRUE(rendered.count(key)) << "stored checksum for a case that no longer runs: \"" << key << "\"";
  for (const auto& [key, yes] : rendered)
    EXPECT_TRUE(stored.count(key)) << "no stored checksum for case/clip/frame \"" << key << "\"";
  EXPECT_GT(rendered.size(), 500u);
}

class GoldenCase : public ::testing::TestWithParam<std::string> {
 protected:
  const Case& TheCase() {
    static const std::vector<Case> cases = Cases();
    for (const Case& c : cases)
      if (c.name == GetParam()) return c;
    throw std::logic_error("no golden case " + GetParam());
  }
};

// Every output frame of one case matches its stored checksum.
TEST_P(GoldenCase, EveryOutputFrameMatchesItsChecksum) {
  if (UpdateRequested()) GTEST_SKIP() << "rewriting the checksums";
  const Case& c = TheCase();
  const std::map<std::string, std::string>& stored = StoredChecksums();
  ASSERT_FALSE(stored.empty());
  for (const Clip* clip : ClipsOf(c)) {
    const std::vector<uint64_t> sums = Render(c, *clip);
    for (size_t f = 0; f < sums.size(); ++f) {
      const std::string key = Key(c, *clip, f);
      auto it = stored.find(key);
      if (it == stored.end())
        ADD_FAILURE() << "no stored checksum for case/clip/frame \"" << key << "\"";
      else
        EXPECT_EQ(it->second, Hex(sums[f]))
            << "output changed: case/clip/frame \"" << key << "\"; if the change is intended: "
            << "TARVO_GOLDEN_UPDATE=1 build/tests/golden/test_golden";
    }
  }
}

// With the stages cut into 2, 3 or 7 row bands on the thread pool every frame
// is the same (odd counts put band edges at odd rows and chroma rows). The
// small clips suffice for the odd counts; two threads also run the large one.
TEST_P(GoldenCase, AnyThreadCountGivesTheSameFrames) {
  if (UpdateRequested()) GTEST_SKIP() << "rewriting the checksums";
  const Case& c = TheCase();
  const std::map<std::string, std::string>& stored = StoredChecksums();
  ASSERT_FALSE(stored.empty());
  for (int threads : {2, 3, 7})
    for (const Clip* clip : ClipsOf(c, threads != 2)) {
      const std::vector<uint64_t> sums = Render(c, *clip, threads);
      for (size_t f = 0; f < sums.size(); ++f) {
        const std::string key = Key(c, *clip, f);
        auto it = stored.find(key);
        EXPECT_TRUE(it != stored.end() && it->second == Hex(sums[f]))
            << "with " << threads << " threads: " << key;
      }
    }
}

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const Case& c : Cases()) names.push_back(c.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenCase, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace tarvo
