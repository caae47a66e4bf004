// Frames from our own hosts, read with their full row stride: widths a video
// host's descriptor cannot describe (DCI 4K, 8K UHD, 8192) go through every
// stage with exactly the rules of narrower frames, and frames wider than 8192
// are refused like any unusable frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/pipeline.h"
#include "siggen/siggen.h"
#include "speed_records.h"
#include "support/kernel_level.h"
#include "support/test_support.h"
#include "types/frame_view.h"

namespace tarvo {
namespace {

using test::TestFrame;

using bench::HeavyRecord;
using bench::TypicalRecord;

// One clip through one pipeline, its frames read by `rules`.
struct Clip {
  Notifier notifier;
  int badFrames = 0;
  Pipeline pipe{notifier};
  TSpecs specs;
  uint8_t* specsPtr = reinterpret_cast<uint8_t*>(&specs);
  CallState call;

  Clip(const TSpecs& s, FrameRules rules) : specs(s) {
    notifier.SetHandler([this](Notice n, const std::string&) { badFrames += n == Notice::BadFrame; });
    call.total = 100;
    call.changed = true;
    call.frames = rules;
  }
  void Render(TestFrame& src, TestFrame& dst, int32_t part) {
    call.part = part;
    pipe.Render(src.handle(), dst.handle(), &specsPtr, false, call);
  }
};

// A moving picture with grain and hard edges across the whole width, so that
// every stage has work at every column (a fault past column 4095 shows).
void Paint(TestFrame& f, int frame) {
  std::mt19937 rng(static_cast<uint32_t>(frame * 7919 + f.width()));
  std::uniform_int_distribution<int> grain(-10, 10);
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x) {
      uint8_t* p = f.pixel(x, y);
      const int base = ((x + 3 * frame) % 512) / 2;
      const int edge = (((x + 2 * frame) / 16 + y / 8) & 1) ? 70 : 0;
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<uint8_t>(std::clamp(base / (c + 1) + edge + grain(rng), 0, 255));
      p[3] = static_cast<uint8_t>(x ^ y);
    }
}

// The pixels of each row (not the row padding).
std::vector<uint8_t> Rows(TestFrame& f) {
  std::vector<uint8_t> out;
  for (int y = 0; y < f.height(); ++y) out.insert(out.end(), f.pixel(0, y), f.pixel(0, y) + f.width() * 4);
  return out;
}

std::vector<uint8_t> Bytes(TestFrame& f) {
  const uint8_t* p = f.desc().Pixels;
  return std::vector<uint8_t>(p, p + static_cast<size_t>(f.desc().RowBytes) * f.height());
}

// Renders three frames of a moving clip (so the temporal stages run against
// their history) and returns the last.
std::vector<uint8_t> RenderClip(const TSpecs& specs, int width, int height, int pad, int threads = 1) {
  Clip clip(specs, FrameRules::kOwnHosts);
  clip.pipe.SetThreads(threads);
  TestFrame src(width, height, pad), dst(width, height, pad);
  for (int frame = 0; frame < 3; ++frame) {
    Paint(src, frame);
    clip.Render(src, dst, frame);
  }
  EXPECT_EQ(clip.badFrames, 0);
  EXPECT_TRUE(clip.pipe.LastHistoryValid());
  EXPECT_TRUE(dst.GuardsIntact());
  return Rows(dst);
}

TEST(WideFrames, RenderAsThePlainKernelsDoAtEveryWidthAndStride) {
  test::KernelLevelGuard guard;
  for (const auto& [name, specs] : {std::pair{"typical", TypicalRecord()}, std::pair{"heavy", HeavyRecord()}}) {
    for (int width : {4096, 7680, kMaxOwnFrameWidth}) {
      SCOPED_TRACE(std::string(name) + " record, " + std::to_string(width) + " wide");
      guard.Cap(KernelLevel::Avx2);
      const std::vector<uint8_t> fast = RenderClip(specs, width, 16, 0);
      // Row padding past 2^14 bytes changes nothing but where rows start.
      EXPECT_EQ(RenderClip(specs, width, 16, 68), fast);
      guard.Cap(KernelLevel::Scalar);
      EXPECT_EQ(RenderClip(specs, width, 16, 0), fast) << "against the plain kernels";
    }
  }
}

TEST(WideFrames, RenderAsOneThreadDoesWithAnyThreadCount) {
  for (const auto& [name, specs] : {std::pair{"typical", TypicalRecord()}, std::pair{"heavy", HeavyRecord()}}) {
    for (int width : {4096, kMaxOwnFrameWidth}) {
      const std::vector<uint8_t> one = RenderClip(specs, width, 20, 0, 1);
      // Odd counts put band edges at odd rows.
      for (int threads : {2, 3, 7})
        EXPECT_EQ(RenderClip(specs, width, 20, 0, threads), one)
            << name << " record, " << width << " wide, " << threads << " threads";
    }
  }
}

TEST(WideFrames, BypassCopiesAndTestSignalsCoverTheWholeWidth) {
  std::mt19937 rng(test::TestSeed());
  const int w = kMaxOwnFrameWidth, h = 6;
  {
    Clip clip(BuiltInDefaultSpecs(), FrameRules::kOwnHosts);
    clip.pipe.SetOpMode(kOpBypass);
    TestFrame src(w, h), dst(w, h);
    src.FillRandom(rng);
    dst.FillRandom(rng);
    clip.Render(src, dst, 0);
    EXPECT_EQ(Bytes(dst), Bytes(src));
    EXPECT_TRUE(dst.GuardsIntact());
  }
  // A test pattern is drawn into the source over every pixel of every row,
  // the row padding left alone.
  TestFrame f(w, h, 40);
  f.FillRandom(rng);
  const std::vector<uint8_t> before = Bytes(f);
  DrawTestSignal(ViewOf(f.desc(), FrameRules::kOwnHosts), TestSignalSettings{3, 0, 16, 235}, true);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) ASSERT_EQ(f.pixel(x, y)[3], 255) << x << ", " << y;
    const ptrdiff_t pad = static_cast<ptrdiff_t>(y) * f.desc().RowBytes + static_cast<ptrdiff_t>(w) * 4;
    EXPECT_TRUE(std::equal(before.begin() + pad, before.begin() + pad + 40, f.desc().Pixels + pad)) << "row " << y;
  }
  // The SMPTE bars' right-hand bar reaches the last column.
  EXPECT_EQ(std::memcmp(f.pixel(w - 1, 0), f.pixel(w - 2, 0), 4), 0);
  EXPECT_TRUE(f.GuardsIntact());
}

TEST(WideFrames, AreRefusedBeyondTheirLimitsAndThroughTheHostProtocol) {
  std::mt19937 rng(test::TestSeed());
  struct Case {
    const char* what;
    FrameRules rules;
    int width, height;
  };
  const Case cases[] = {
      {"one pixel wider than our hosts' frames", FrameRules::kOwnHosts, kMaxOwnFrameWidth + 1, 2},
      {"one row taller than our hosts' frames", FrameRules::kOwnHosts, 2, kMaxOwnFrameHeight + 1},
      // Read by the host protocol, 4096 * 4 bytes a row masks to 0.
      {"4096 wide from a video host", FrameRules::kHostProtocol, 4096, 2},
      {"8192 wide from a video host", FrameRules::kHostProtocol, kMaxOwnFrameWidth, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int32_t opMode : {kOpBypass, kOpDraft, kOpFinal}) {
      Clip clip(TypicalRecord(), c.rules);
      clip.pipe.SetOpMode(opMode);
      TestFrame src(c.width, c.height), dst(c.width, c.height);
      src.FillRandom(rng);
      dst.FillRandom(rng);
      const std::vector<uint8_t> before = Bytes(dst);
      clip.Render(src, dst, 1);
      EXPECT_EQ(clip.badFrames, 1) << "OpMode " << opMode;
      EXPECT_EQ(Bytes(dst), before) << "OpMode " << opMode;
      EXPECT_FALSE(clip.pipe.Plane(Pipeline::kY).HasBuffer());
    }
  }
  // A narrow frame's descriptor reads the same by either rules.
  TestFrame narrow(640, 4, 12);
  const FrameView host = ViewOf(narrow.desc(), FrameRules::kHostProtocol);
  const FrameView own = ViewOf(narrow.desc(), FrameRules::kOwnHosts);
  EXPECT_EQ(host.Pixels, own.Pixels);
  EXPECT_EQ(host.Stride, own.Stride);
  EXPECT_EQ(host.Stride, 640 * 4 + 12);
  // High bits of a video host's RowBytes are not part of its stride.
  narrow.desc().RowBytes |= 0x40000;
  EXPECT_EQ(ViewOf(narrow.desc(), FrameRules::kHostProtocol).Stride, 640 * 4 + 12);
}

}  // namespace
}  // namespace tarvo
