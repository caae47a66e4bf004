#include "host/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filters/sharpen.h"
#include "host/colour_settings.h"
#include "support/kernel_level.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

using test::TestFrame;

// One clip rendered through one pipeline, with the notices it reported.
struct Clip {
  Notifier notifier;
  std::vector<Notice> notices;
  Pipeline pipe{notifier};
  OwnedHandle specs;
  CallState call;

  Clip() {
    notifier.SetHandler([this](Notice n, const std::string&) { notices.push_back(n); });
    specs.reset(InProcessHost().NewHandle(kSpecsSize));
    Specs() = BuiltInDefaultSpecs();
    call.total = 100;
    call.changed = true;
  }
  TSpecs& Specs() { return *reinterpret_cast<TSpecs*>(*specs.get()); }
  void Render(TestFrame& src, TestFrame& dst, int32_t part, bool dialog = false) {
    call.part = part;
    pipe.Render(src.handle(), dst.handle(), specs.get(), dialog, call);
  }
  int Count(Notice n) const {
    int c = 0;
    for (Notice x : notices) c += x == n;
    return c;
  }
};

std::vector<uint8_t> Bytes(TestFrame& f) {
  const uint8_t* p = f.desc().Pixels;
  return std::vector<uint8_t>(p, p + static_cast<size_t>(f.desc().RowBytes) * f.height());
}

std::vector<uint8_t> PlaneBytes(const TChannel& c) {
  return c.HasBuffer() ? std::vector<uint8_t>(c.Data(), c.Data() + c.ByteSize()) : std::vector<uint8_t>{};
}

// A textured picture: a gradient with noise and a few hard edges, so every
// stage has something to change.
void Paint(TestFrame& f, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-12, 12);
  for (int y = 0; y < f.height(); ++y)
    for (int x = 0; x < f.width(); ++x) {
      uint8_t* p = f.pixel(x, y);
      const int base = (x * 255) / f.width();
      const int edge = ((x / 8 + y / 8) & 1) ? 60 : 0;
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::clamp(base / (c + 1) + edge + noise(rng), 0, 255));
      p[3] = static_cast<uint8_t>(x * 7 + y);
    }
}

void AllFilters(TSpecs& s) {
  s.YDespeckle = 2;
  s.CDespeckle = 2;
  s.NoiseMask = 2;
  s.NoiseMaskYOnly = 0;
  s.MedianLimit = 50;
  s.MedianThreshold = 5;
  s.MedianWhen = 3;
  s.TempYThreshold = 20;
  s.TempCThreshold = 20;
  s.TempRecursion = 50;
  s.TempFlags = 3;
  s.YSharpness = 30;
  s.CSharpness = 20;
  s.SharpMask = 2;
}

TEST(Pipeline, MissingHandleReportsProcessingErrorOnceAndLeavesDestination) {
  Clip clip;
  TestFrame src(16, 8), dst(16, 8);
  std::mt19937 rng(test::TestSeed());
  src.FillRandom(rng);
  dst.FillRandom(rng);
  const auto before = Bytes(dst);
  TPixBuffer* nilFrame = nullptr;
  clip.pipe.Render(nullptr, dst.handle(), clip.specs.get(), false, clip.call);
  clip.pipe.Render(src.handle(), nullptr, clip.specs.get(), false, clip.call);
  clip.pipe.Render(src.handle(), &nilFrame, clip.specs.get(), false, clip.call);
  clip.pipe.Render(src.handle(), dst.handle(), nullptr, false, clip.call);
  EXPECT_EQ(Bytes(dst), before);
  EXPECT_EQ(clip.Count(Notice::ProcessingError), 1);
  EXPECT_TRUE(clip.notifier.IsShowing(Notice::ProcessingError));
}

TEST(Pipeline, UnsafeFrameDescriptorsAreRefusedWithoutTouchingTheDestination) {
  std::mt19937 rng(test::TestSeed());
  for (int opMode : {kOpBypass, kOpDraft, kOpFinal}) {
    SCOPED_TRACE("OpMode " + std::to_string(opMode));
    struct Case {
      const char* what;
      int sw, sh, spad, dw, dh, dpad;
      bool breakSource;
    };
    const Case cases[] = {
        {"source without pixels", 16, 8, 0, 16, 8, 0, true},
        {"source narrower", 15, 8, 0, 16, 8, 0, false},
        {"source shorter", 16, 7, 0, 16, 8, 0, false},
        // Read at the destination's longer stride, the last source row would
        // lie past the source's buffer.
        {"destination stride longer than the source's", 16, 8, 0, 16, 8, 64, false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      Clip clip;
      clip.pipe.SetOpMode(opMode);
      TestFrame src(c.sw, c.sh, c.spad), dst(c.dw, c.dh, c.dpad);
      src.FillRandom(rng);
      dst.FillRandom(rng);
      if (c.breakSource) src.desc().Pixels = nullptr;
      const auto before = Bytes(dst);
      clip.Render(src, dst, 1);
      clip.Render(src, dst, 2);
      if (opMode == kOpBypass && std::strcmp(c.what, "destination stride longer than the source's") == 0) {
        // The copy walks both frames at the source's stride: that fits.
        EXPECT_EQ(clip.Count(Notice::BadFrame), 0);
        continue;
      }
      EXPECT_EQ(Bytes(dst), before);
      EXPECT_EQ(clip.Count(Notice::BadFrame), 1);
      EXPECT_TRUE(dst.GuardsIntact());
    }
  }
  // A wider source with its own stride would make the bypass copy run past
  // the destination's rows.
  Clip clip;
  clip.pipe.SetOpMode(kOpBypass);
  TestFrame src(24, 8), dst(16, 8);
  src.FillRandom(rng);
  const auto before = Bytes(dst);
  clip.Render(src, dst, 1);
  EXPECT_EQ(Bytes(dst), before);
  EXPECT_EQ(clip.Count(Notice::BadFrame), 1);
}

TEST(Pipeline, HostileBoundsAndOverTallFramesAreRefused) {
  std::mt19937 rng(test::TestSeed());
  // Bounds whose width or height does not fit 32 bits, and bounds inverted
  // by the full range: the spans are worked out in 64 bits and refused.
  const TRect hostile[] = {
      {INT32_MIN, 0, INT32_MAX, 8},  // width 2^32 - 1
      {INT32_MAX, 0, INT32_MIN, 8},  // width -(2^32 - 1)
      {0, INT32_MIN, 16, INT32_MAX},
      {0, INT32_MAX, 16, INT32_MIN},
      {-8, 0, 8, 8},  // a plain 16 x 8 frame with an odd origin: fine
  };
  for (const TRect& r : hostile) {
    SCOPED_TRACE(std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
                 std::to_string(r.bottom));
    for (int opMode : {kOpBypass, kOpFinal}) {
      Clip clip;
      clip.pipe.SetOpMode(opMode);
      TestFrame src(16, 8), dst(16, 8);
      src.FillRandom(rng);
      dst.FillRandom(rng);
      src.desc().Bounds = r;
      dst.desc().Bounds = r;
      const auto before = Bytes(dst);
      clip.Render(src, dst, 1);
      const bool plain = r.left == -8;
      EXPECT_EQ(clip.Count(Notice::BadFrame), plain ? 0 : 1);
      if (!plain) {
        EXPECT_EQ(Bytes(dst), before);
      }
      EXPECT_TRUE(dst.GuardsIntact());
    }
  }
  // The height is bounded like the width: kMaxFrameHeight rows render, one
  // more is refused before anything is allocated or written.
  EXPECT_EQ(kMaxFrameHeight, 16383);
  for (int32_t rows : {kMaxFrameHeight, kMaxFrameHeight + 1}) {
    Clip clip;
    TestFrame src(2, rows), dst(2, rows);
    src.FillRandom(rng);
    dst.FillRandom(rng);
    const auto before = Bytes(dst);
    clip.Render(src, dst, 1);
    EXPECT_EQ(clip.Count(Notice::BadFrame), rows > kMaxFrameHeight ? 1 : 0) << rows << " rows";
    EXPECT_EQ(Bytes(dst) == before, rows > kMaxFrameHeight) << rows << " rows";
    EXPECT_EQ(clip.pipe.Plane(Pipeline::kY).Height(), rows > kMaxFrameHeight ? 0 : rows);
  }
}

TEST(Pipeline, BypassCopiesEveryRowIncludingTheFourthByteWhateverTheRecord) {
  Clip clip;
  clip.pipe.SetOpMode(kOpBypass);
  AllFilters(clip.Specs());
  clip.Specs().TestSignal = 3;
  std::mt19937 rng(test::TestSeed());
  TestFrame src(20, 9, 12), dst(20, 9, 12);
  src.FillRandom(rng);
  dst.FillRandom(rng);
  auto expected = Bytes(dst);
  const auto source = Bytes(src);
  for (int y = 0; y < 9; ++y) std::memcpy(&expected[y * (80 + 12)], &source[y * (80 + 12)], 80);
  clip.Render(src, dst, 1);
  EXPECT_EQ(Bytes(dst), expected);  // row padding of the destination untouched
  EXPECT_EQ(Bytes(src), source);    // no test signal drawn
  EXPECT_EQ(clip.pipe.Plane(Pipeline::kY).Depth(), 0);
  EXPECT_TRUE(clip.notices.empty());

  // In the dialog the operating mode does not apply: the frame is processed.
  clip.call.inSetup = true;
  clip.Specs().TestSignal = 0;
  clip.Render(src, dst, 2, true);
  EXPECT_EQ(clip.pipe.Plane(Pipeline::kY).Width(), 20);
}

TEST(Pipeline, DraftConvertsButLeavesHistoryAndRunAlone) {
  Clip clip;
  AllFilters(clip.Specs());
  TestFrame src(32, 24), dst(32, 24);
  Paint(src, 1);
  clip.Render(src, dst, 10);
  clip.Render(src, dst, 11);
  ASSERT_EQ(clip.pipe.RunLength(), 1);
  std::vector<std::vector<uint8_t>> history;
  for (int i = Pipeline::kYPrev; i <= Pipeline::kVPrev2; ++i) history.push_back(PlaneBytes(clip.pipe.Plane(i)));

  clip.pipe.SetOpMode(kOpDraft);
  TestFrame dst2(32, 24);
  std::memset(dst2.desc().Pixels, 0, 32 * 4 * 24);
  clip.Render(src, dst2, 12);
  // Converted: every fourth byte carried over, colour bytes written.
  EXPECT_EQ(dst2.pixel(5, 5)[3], src.pixel(5, 5)[3]);
  EXPECT_NE(Bytes(dst2), std::vector<uint8_t>(32 * 4 * 24, 0));
  for (int i = Pipeline::kYPrev; i <= Pipeline::kVPrev2; ++i)
    EXPECT_EQ(PlaneBytes(clip.pipe.Plane(i)), history[i - Pipeline::kYPrev]) << "plane " << i;
  EXPECT_EQ(clip.pipe.RunLength(), 1);

  // The Draft frame did not count as a call of the run: frame 12 in Final
  // still follows 11.
  clip.pipe.SetOpMode(kOpFinal);
  clip.Render(src, dst, 12);
  EXPECT_EQ(clip.pipe.RunLength(), 2);
}

TEST(Pipeline, KernelsFollowTheLevelCapAndGiveTheSameBits) {
  test::KernelLevelGuard guard;
  Clip fast, plain;
  AllFilters(fast.Specs());
  AllFilters(plain.Specs());
  TestFrame src(70, 21, 8), a(70, 21, 8), b(70, 21, 8);
  Paint(src, 5);
  fast.Render(src, a, 1);
  EXPECT_EQ(fast.pipe.KernelLevelInUse(), ActiveKernelLevel());
  guard.Cap(KernelLevel::Scalar);
  plain.Render(src, b, 1);
  EXPECT_EQ(plain.pipe.KernelLevelInUse(), KernelLevel::Scalar);
  EXPECT_EQ(Bytes(a), Bytes(b));
  // A pipeline that chose its kernels before the cap moved chooses again.
  fast.Render(src, a, 2);
  EXPECT_EQ(fast.pipe.KernelLevelInUse(), KernelLevel::Scalar);
}

// Row bands never change a bit: every thread count gives the frames of one
// thread, at every kernel level, in every chroma mode, with and without the
// mask views and edge view, and on frames with fewer rows than threads.
TEST(Pipeline, AnyThreadCountGivesTheFramesOfOneThread) {
  test::KernelLevelGuard guard;
  struct Setup {
    const char* name;
    int w, h;
    int mode;
    void (*extra)(TSpecs&);
  };
  const Setup setups[] = {
      {"every stage 4:2:0", 70, 21, 2, [](TSpecs&) {}},
      {"every stage 4:2:2 radius 3", 72, 17, 1,
       [](TSpecs& s) {
         s.SharpRadius = 3;
         s.MaskRadius = 3;
         s.MedianWeighted = 1;
       }},
      {"every stage 4:1:1 radius 1", 68, 9, 3,
       [](TSpecs& s) {
         s.SharpRadius = 1;
         s.MaskRadius = 1;
       }},
      {"fewer rows than threads", 40, 5, 0, [](TSpecs&) {}},
      {"two rows", 33, 2, 2, [](TSpecs&) {}},
      {"noise mask view", 50, 13, 0,
       [](TSpecs& s) {
         s.TestSignal = 1;
         s.PageIndex = 5;
         s.NoiseShowMask = 1;
         s.MaskRadius = 3;
       }},
      {"edge view", 50, 13, 2,
       [](TSpecs& s) {
         s.TestSignal = 1;
         s.PageIndex = 3;
         s.SharpShowEdges = 1;
       }},
  };
  for (KernelLevel level : {ActiveKernelLevel(), KernelLevel::Scalar}) {
    guard.Cap(level);
    for (const Setup& setup : setups) {
      SCOPED_TRACE(std::string(setup.name) + " at level " + std::to_string(static_cast<int>(level)));
      auto render = [&](int threads) {
        Clip clip;
        clip.pipe.SetThreads(threads);
        EXPECT_EQ(clip.pipe.Threads(), threads);
        AllFilters(clip.Specs());
        clip.Specs().ProcMode = static_cast<int16_t>(setup.mode);
        setup.extra(clip.Specs());
        clip.call.fieldWord = 0x0100;  // field mode: both temporal histories
        std::vector<uint8_t> frames;
        TestFrame src(setup.w, setup.h, 8), dst(setup.w, setup.h, 8);
        for (int32_t part = 0; part < 4; ++part) {
          Paint(src, 40 + static_cast<uint32_t>(part));
          clip.Render(src, dst, part);
          EXPECT_TRUE(dst.GuardsIntact());
          const std::vector<uint8_t> b = Bytes(dst);
          frames.insert(frames.end(), b.begin(), b.end());
        }
        EXPECT_TRUE(clip.notices.empty());
        return frames;
      };
      const std::vector<uint8_t> one = render(1);
      for (int threads : {2, 3, 7, 64}) EXPECT_EQ(render(threads), one) << threads << " threads";
    }
  }
}

// Two engines rendering at once share the process-wide pool: both complete
// with the frames each gives alone (run under ThreadSanitizer in CI).
TEST(Pipeline, TwoPipelinesRenderAtOnceOnTheSharedPool) {
  auto render = [](int threads, uint32_t seed, std::vector<uint8_t>& out) {
    Clip clip;
    clip.pipe.SetThreads(threads);
    AllFilters(clip.Specs());
    clip.Specs().ProcMode = 2;
    TestFrame src(96, 40), dst(96, 40);
    for (int32_t part = 0; part < 6; ++part) {
      Paint(src, seed + static_cast<uint32_t>(part));
      clip.Render(src, dst, part);
      const std::vector<uint8_t> b = Bytes(dst);
      out.insert(out.end(), b.begin(), b.end());
    }
  };
  std::vector<uint8_t> aAlone, bAlone, a, b;
  render(1, 7, aAlone);
  render(1, 99, bAlone);
  std::thread other([&] { render(3, 99, b); });
  render(2, 7, a);
  other.join();
  EXPECT_EQ(a, aAlone);
  EXPECT_EQ(b, bAlone);
}

TEST(Pipeline, ThreadsZeroMeansOnePerCore) {
  Clip clip;
  EXPECT_EQ(clip.pipe.Threads(), 1);
  clip.pipe.SetThreads(0);
  EXPECT_EQ(clip.pipe.Threads(), ThreadPool::HardwareThreads());
  clip.pipe.SetThreads(1);
  EXPECT_EQ(clip.pipe.Threads(), 1);
}

// Every mode that converts writes each destination pixel whole, its fourth
// byte from the source, and leaves the row padding alone.
TEST(Pipeline, TheDestinationGetsTheSourceFourthBytesInEveryConvertingMode) {
  std::mt19937 rng(test::TestSeed());
  for (int32_t mode : {kOpDraft, kOpFinal}) {
    for (int32_t procMode : {0, 1, 2, 3}) {
      Clip clip;
      clip.pipe.SetOpMode(mode);
      AllFilters(clip.Specs());
      clip.Specs().ProcMode = static_cast<int16_t>(procMode);
      TestFrame src(36, 10, 12), dst(36, 10, 12);
      src.FillRandom(rng);
      dst.FillRandom(rng);
      const auto before = Bytes(dst);
      clip.Render(src, dst, 1);
      const auto after = Bytes(dst);
      for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 36; ++x) ASSERT_EQ(dst.pixel(x, y)[3], src.pixel(x, y)[3]) << x << "," << y;
        const size_t pad = static_cast<size_t>(y) * (36 * 4 + 12) + 36 * 4;
        ASSERT_TRUE(std::equal(before.begin() + pad, before.begin() + pad + 12, after.begin() + pad));
      }
      EXPECT_TRUE(clip.notices.empty());
    }
  }
}

TEST(Pipeline, ChannelViewsFillPlanesInTheDialog) {
  TestFrame src(32, 24), dst(32, 24);
  Paint(src, 2);
  for (int bypass : {1, 0}) {  // conversion only, and full processing
    SCOPED_TRACE("Bypass " + std::to_string(bypass));
    Clip clip;
    clip.call.inSetup = true;
    clip.Specs().Bypass = static_cast<int16_t>(bypass);
    clip.Specs().ChannelView = 1;
    clip.Render(src, dst, 1, true);
    for (int i : {Pipeline::kU, Pipeline::kV}) {
      const TChannel& c = clip.pipe.Plane(i);
      EXPECT_EQ(PlaneBytes(c), std::vector<uint8_t>(c.ByteSize(), 0));
    }
    for (int x = 0; x < 32; x += 7) EXPECT_EQ(dst.pixel(x, 3)[0], dst.pixel(x, 3)[2]);  // grey

    clip.Specs().ChannelView = 2;
    clip.call.changed = true;
    clip.Render(src, dst, 2, true);
    const TChannel& y = clip.pipe.Plane(Pipeline::kY);
    EXPECT_EQ(PlaneBytes(y), std::vector<uint8_t>(y.ByteSize(), 128));

    // Outside the dialog the channel view does not apply.
    clip.call.inSetup = false;
    clip.Specs().Bypass = 0;
    clip.Render(src, dst, 3);
    EXPECT_NE(PlaneBytes(clip.pipe.Plane(Pipeline::kY)), std::vector<uint8_t>(32 * 24, 128));
  }
}

TEST(Pipeline, ShowEdgesWithoutColourSharpeningGivesAPictureWithoutColour) {
  Clip clip;
  clip.call.inSetup = true;
  TSpecs& s = clip.Specs();
  s.PageIndex = 3;
  s.SharpShowEdges = 1;
  s.YSharpness = 50;
  s.CSharpness = 0;
  TestFrame src(32, 24), dst(32, 24);
  Paint(src, 3);
  clip.Render(src, dst, 1, true);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) {
      const uint8_t* p = dst.pixel(x, y);
      ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << "pixel " << x << "," << y;
    }
  // With colour sharpening the colour planes carry colour edges.
  s.CSharpness = 50;
  clip.call.changed = true;
  clip.Render(src, dst, 2, true);
  const TChannel& u = clip.pipe.Plane(Pipeline::kU);
  EXPECT_NE(PlaneBytes(u), std::vector<uint8_t>(u.ByteSize(), 0));
}

// Renders `parts` in order with temporal smoothing on and returns the
// HistoryValid seen by each call.
std::vector<bool> ValidityOf(Clip& clip, TestFrame& src, TestFrame& dst, std::initializer_list<int32_t> parts) {
  std::vector<bool> valid;
  for (int32_t part : parts) {
    clip.Render(src, dst, part);
    valid.push_back(clip.pipe.LastHistoryValid());
  }
  return valid;
}

TEST(Pipeline, RunDetectionInFrameAndFieldMode) {
  TestFrame src(32, 24), dst(32, 24);
  Paint(src, 4);
  {
    Clip clip;
    clip.Specs().TempYThreshold = 20;
    clip.Specs().TempCThreshold = 20;
    EXPECT_EQ(ValidityOf(clip, src, dst, {10, 11, 12}), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(clip.pipe.RunLength(), 2);
    EXPECT_EQ(ValidityOf(clip, src, dst, {14, 15}), (std::vector<bool>{false, true}));
    EXPECT_EQ(ValidityOf(clip, src, dst, {15}), (std::vector<bool>{false}));  // the same frame again
  }
  {
    Clip clip;
    clip.Specs().TempYThreshold = 20;
    clip.call.fieldWord = 0x0100;  // FieldFlags bit 0
    EXPECT_EQ(ValidityOf(clip, src, dst, {0, 1, 2, 3}), (std::vector<bool>{false, false, true, true}));
    clip.call.fieldWord = 0x0200;  // bit 1 is field mode as well
    EXPECT_EQ(ValidityOf(clip, src, dst, {4}), (std::vector<bool>{true}));
    // Only the low byte set: frame mode. The colour mode (0) did not change, so
    // the run goes on, and the previous call's picture is at hand.
    clip.call.fieldWord = 0x00FF;
    EXPECT_EQ(ValidityOf(clip, src, dst, {5}), (std::vector<bool>{true}));
    EXPECT_EQ(clip.pipe.Plane(Pipeline::kYPrev2).Depth(), 0);
  }
}

TEST(Pipeline, RunBreaksOnTotalPrivateDataAndBothTemporalModes) {
  TestFrame src(32, 24), dst(32, 24);
  Paint(src, 5);
  Clip clip;
  clip.Specs().TempYThreshold = 20;
  clip.Specs().TempCThreshold = 20;
  ValidityOf(clip, src, dst, {1, 2});
  ASSERT_EQ(clip.pipe.RunLength(), 1);

  clip.call.total = 99;
  ValidityOf(clip, src, dst, {3});
  EXPECT_EQ(clip.pipe.RunLength(), 0);

  ValidityOf(clip, src, dst, {4});
  clip.call.privateBlock[13] = 1;  // another clip instance
  ValidityOf(clip, src, dst, {5});
  EXPECT_EQ(clip.pipe.RunLength(), 0);
  clip.call.privateBlock[14] = 7;  // bytes from 14 on do not tell clips apart
  clip.call.privateBlock[63] = 7;
  ValidityOf(clip, src, dst, {6});
  EXPECT_EQ(clip.pipe.RunLength(), 1);

  // One temporal mode changed: the run goes on.
  clip.Specs().TempCThreshold = 0;
  clip.call.changed = true;
  ValidityOf(clip, src, dst, {7});
  EXPECT_EQ(clip.pipe.RunLength(), 2);
  // Both changed (frame to field with both thresholds on): a new run.
  clip.Specs().TempCThreshold = 20;
  clip.call.changed = true;
  ValidityOf(clip, src, dst, {8});
  clip.call.fieldWord = 0x0100;
  ValidityOf(clip, src, dst, {9});
  EXPECT_EQ(clip.pipe.RunLength(), 0);
}

TEST(Pipeline, RunThatOutlivesItsHistoryNeverSmoothsAgainstAMissingOrForeignPicture) {
  Clip clip;
  clip.Specs().TempYThreshold = 20;  // colour mode stays 0, so the run goes on
  TestFrame src(32, 24), dst(32, 24);
  Paint(src, 6);
  ValidityOf(clip, src, dst, {1, 2, 3});
  ASSERT_EQ(clip.pipe.Plane(Pipeline::kYPrev2).Depth(), 0);
  // Frame mode to field mode: the picture of two calls back was never kept.
  clip.call.fieldWord = 0x0100;
  EXPECT_EQ(ValidityOf(clip, src, dst, {4}), (std::vector<bool>{false}));
  EXPECT_GE(clip.pipe.RunLength(), 2);
  // The field save of call 4 kept call 3's picture as the one two back.
  EXPECT_EQ(ValidityOf(clip, src, dst, {5}), (std::vector<bool>{true}));

  // A new frame size inside the run: the history is of the old size.
  clip.call.fieldWord = 0;
  TestFrame big(48, 30), bigDst(48, 30);
  Paint(big, 7);
  clip.Render(big, bigDst, 7);
  EXPECT_FALSE(clip.pipe.LastHistoryValid());
  clip.Render(big, bigDst, 8);
  EXPECT_TRUE(clip.pipe.LastHistoryValid());

  // A ProcMode change resizes the colour planes inside the run.
  clip.Specs().TempCThreshold = 20;
  clip.Specs().ProcMode = 2;
  clip.call.changed = true;
  clip.Render(big, bigDst, 9);
  EXPECT_FALSE(clip.pipe.LastHistoryValid());
  EXPECT_EQ(clip.pipe.Plane(Pipeline::kU).Width(), 24);
}

// Converts the given planes like the pipeline's output stage and compares the
// colour bytes with the frame.
void ExpectOutputOf(const TChannel& y, const TChannel& u, const TChannel& v, const TSpecs& s, TestFrame& frame) {
  TestFrame out(frame.width(), frame.height());
  ColourConverter converter;
  converter.Output(y, u, v, out.desc(), ColourSettingsOf(s, false), nullptr);
  for (int row = 0; row < frame.height(); ++row)
    for (int x = 0; x < frame.width(); ++x)
      ASSERT_EQ(std::memcmp(out.pixel(x, row), frame.pixel(x, row), 3), 0) << "pixel " << x << "," << row;
}

TEST(Pipeline, HistoryHoldsTheFinishedPlanesWithoutSharpening) {
  for (int field : {0, 1}) {
    SCOPED_TRACE(field ? "field mode" : "frame mode");
    Clip clip;
    AllFilters(clip.Specs());
    clip.Specs().YSharpness = 0;
    clip.Specs().CSharpness = 0;
    clip.call.fieldWord = static_cast<uint16_t>(field << 8);
    TestFrame src(40, 24), dst(40, 24);
    std::vector<uint8_t> previousY;
    for (int32_t part = 0; part < 4; ++part) {
      Paint(src, 10 + part);
      clip.Render(src, dst, part);
      const Pipeline& p = clip.pipe;
      ExpectOutputOf(p.Plane(Pipeline::kYPrev), p.Plane(Pipeline::kUPrev), p.Plane(Pipeline::kVPrev), clip.Specs(),
                     dst);
      if (field) {
        if (part > 0) {
          EXPECT_EQ(PlaneBytes(p.Plane(Pipeline::kYPrev2)), previousY);
        }
      } else {
        EXPECT_EQ(p.Plane(Pipeline::kYPrev2).Depth(), 0);
      }
      previousY = PlaneBytes(p.Plane(Pipeline::kYPrev));
    }
  }
}

TEST(Pipeline, HistoryHoldsThePlanesBeforeSharpening) {
  Clip clip;
  TSpecs& s = clip.Specs();
  s.TempYThreshold = 20;
  s.TempCThreshold = 20;
  s.YDespeckle = 1;
  s.YSharpness = 60;
  s.SharpRadius = 2;
  TestFrame src(40, 24), dst(40, 24);
  for (int32_t part = 0; part < 3; ++part) {
    Paint(src, 20 + part);
    clip.Render(src, dst, part);
    const Pipeline& p = clip.pipe;
    // The working plane was refilled from the history, then sharpened; the
    // history itself is the unsharpened picture.
    TChannel sharpened, blur;
    sharpened.SizeLike(p.Plane(Pipeline::kYPrev));
    sharpened.CopyFrom(p.Plane(Pipeline::kYPrev));
    Sharpen(sharpened, nullptr, s.SharpRadius, s.SharpSmooth, s.SharpMask, 0, SharpGainOf(s.YSharpness), blur);
    EXPECT_EQ(PlaneBytes(sharpened), PlaneBytes(p.Plane(Pipeline::kY)));
    EXPECT_NE(PlaneBytes(sharpened), PlaneBytes(p.Plane(Pipeline::kYPrev)));
    ExpectOutputOf(sharpened, p.Plane(Pipeline::kUPrev), p.Plane(Pipeline::kVPrev), s, dst);
  }
  // Sharpening without temporal smoothing keeps no history at all.
  s.TempYThreshold = 0;
  clip.call.changed = true;
  clip.Render(src, dst, 3);
  EXPECT_EQ(clip.pipe.Plane(Pipeline::kYPrev).Depth(), 0);
  EXPECT_GT(clip.pipe.Plane(Pipeline::kUPrev).Depth(), 0);
}

TEST(Pipeline, DialogTestPicturesNeverContinueARun) {
  Clip clip;
  clip.call.inSetup = true;
  clip.Specs().TestSignal = 4;
  TestFrame src(32, 24), dst(32, 24);
  Paint(src, 8);
  for (int32_t part = 5; part < 8; ++part) {
    clip.Render(src, dst, part, true);
    EXPECT_EQ(clip.call.part, -1);
    EXPECT_EQ(clip.pipe.RunLength(), 0);
  }
  EXPECT_EQ(src.pixel(3, 3)[3], 255);  // the pattern was drawn into the source
}

struct CountingSink : MonitorSink {
  int calls = 0;
  void Accumulate(int32_t, int32_t, int32_t, int32_t) override { ++calls; }
};

TEST(Pipeline, MonitorSinkFedOnlyForTheDialogsMainMonitor) {
  Clip clip;
  CountingSink sink;
  clip.pipe.SetMonitorSink(&sink);
  TestFrame src(16, 8), dst(16, 8);
  Paint(src, 9);
  clip.Render(src, dst, 1, false);
  EXPECT_EQ(sink.calls, 0);
  clip.Render(src, dst, 2, true);
  EXPECT_EQ(sink.calls, 16 * 8);
  clip.pipe.SetOpMode(kOpDraft);
  clip.Render(src, dst, 3, true);
  EXPECT_EQ(sink.calls, 2 * 16 * 8);
}

TEST(Pipeline, SizesThatDoNotFitTheChromaModeAreProcessedAs444) {
  for (int mode = 0; mode < 4; ++mode)
    for (auto [w, h] : {std::pair{37, 21}, std::pair{42, 21}, std::pair{40, 24}}) {
      SCOPED_TRACE("ProcMode " + std::to_string(mode) + " " + std::to_string(w) + "x" + std::to_string(h));
      Clip clip;
      AllFilters(clip.Specs());
      clip.Specs().ProcMode = static_cast<int16_t>(mode);
      TestFrame src(w, h), dst(w, h);
      Paint(src, 30);
      clip.Render(src, dst, 1);
      clip.Render(src, dst, 2);
      int32_t cw, ch;
      switch (EffectiveProcMode(mode, w, h)) {
        case 1: cw = w / 2; ch = h; break;
        case 2: cw = w / 2; ch = h / 2; break;
        case 3: cw = w / 4; ch = h; break;
        default: cw = w; ch = h; break;
      }
      for (int i : {Pipeline::kU, Pipeline::kV, Pipeline::kUPrev, Pipeline::kVPrev}) {
        EXPECT_EQ(clip.pipe.Plane(i).Width(), cw);
        EXPECT_EQ(clip.pipe.Plane(i).Height(), ch);
      }
      EXPECT_TRUE(clip.pipe.LastHistoryValid());
      EXPECT_TRUE(dst.GuardsIntact());
      EXPECT_TRUE(clip.notices.empty());
    }
}

TEST(Pipeline, TinyFramesWithEveryStageOnStayInsideTheirBuffers) {
  for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 2}, std::pair{3, 3}, std::pair{4, 2}, std::pair{5, 5},
                      std::pair{8, 4}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    for (int mode = 0; mode < 4; ++mode) {
      Clip clip;
      AllFilters(clip.Specs());
      clip.Specs().ProcMode = static_cast<int16_t>(mode);
      clip.Specs().SharpRadius = 3;
      clip.Specs().MaskRadius = 3;
      TestFrame src(w, h), dst(w, h);
      Paint(src, 31);
      for (int32_t part = 0; part < 3; ++part) clip.Render(src, dst, part);
      EXPECT_TRUE(dst.GuardsIntact());
    }
  }
}

// Full processing of one frame with every stage and both temporal chains in
// field mode, in 4:2:0 so that planes of two sizes are needed.
void HeavyRecord(TSpecs& s) {
  AllFilters(s);
  s.ProcMode = 2;
}

TEST(Pipeline, OutOfMemoryLeavesTheDestinationUntouchedAndTheNextFrameStartsClean) {
  TestFrame src(40, 24), dst(40, 24), reference(40, 24);
  int failures = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    Clip clip;
    HeavyRecord(clip.Specs());
    clip.call.fieldWord = 0x0100;
    // A run of the old size, then the failing frame of a new size.
    TestFrame small(16, 8), smallDst(16, 8);
    Paint(small, 40);
    clip.Render(small, smallDst, 1);
    clip.Render(small, smallDst, 2);
    clip.Render(small, smallDst, 3);
    ASSERT_EQ(clip.pipe.RunLength(), 2);

    Paint(src, 41);
    std::memset(dst.desc().Pixels, 0x5A, 40 * 4 * 24);
    const auto before = Bytes(dst);
    clip.pipe.FailPlaneAllocationForTest(n);
    clip.Render(src, dst, 4);
    if (clip.Count(Notice::OutOfMemory) == 0) {
      clip.pipe.FailPlaneAllocationForTest(0);
      break;  // every allocation of the frame has been made to fail once
    }
    ++failures;
    EXPECT_EQ(Bytes(dst), before);
    EXPECT_EQ(clip.pipe.RunLength(), 0);
    for (int i = Pipeline::kYPrev; i <= Pipeline::kVPrev2; ++i) EXPECT_EQ(clip.pipe.Plane(i).Depth(), 0);

    // The next frame, although it follows in the clip, starts a new run and
    // comes out as from a fresh pipeline.
    Paint(src, 42);
    clip.Render(src, dst, 5);
    EXPECT_EQ(clip.pipe.RunLength(), 0);
    EXPECT_EQ(clip.Count(Notice::OutOfMemory), 1);
    Clip fresh;
    HeavyRecord(fresh.Specs());
    fresh.call.fieldWord = 0x0100;
    fresh.Render(src, reference, 5);
    EXPECT_EQ(Bytes(dst), Bytes(reference));
  }
  EXPECT_GE(failures, 10);  // Y, U, V, scratch, masks, edges, blurs, history
}

}  // namespace
}  // namespace tarvo
