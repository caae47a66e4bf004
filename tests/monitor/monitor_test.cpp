#include "monitor/monitor.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/pipeline.h"
#include "monitor/graticule.h"
#include "monitor/readout.h"
#include "platform/host_services.h"
#include "support/test_support.h"

namespace tarvo::monitor {
namespace {

// Studio levels: black 16, white 235, on a clip from 0 to 255 with its black
// at 16.
ScaleLevels Studio(bool ntsc = false) {
  ScaleLevels l;
  l.clipVmin = 0;
  l.clipVmax = 255;
  l.clipVblack = 16;
  l.prefBlack = 16;
  l.prefWhite = 235;
  l.ntscBlacks = ntsc;
  return l;
}

size_t WaveformCell(int32_t displayColumn, int32_t row) {
  return static_cast<size_t>((displayColumn - 17) * 181 + row);
}
size_t VectorscopeCell(int32_t displayColumn, int32_t displayRow) {
  return static_cast<size_t>((displayColumn - 33) * 157 + (displayRow - 7));
}

// Number of pixels that differ between two images of the same size.
int DifferingPixels(const MonitorImage& a, const MonitorImage& b) {
  int n = 0;
  for (size_t i = 0; i < a.pixels.size(); i += 4) n += std::memcmp(&a.pixels[i], &b.pixels[i], 4) != 0;
  return n;
}

TEST(MonitorScale, WaveformRowsOfStudioLevels) {
  WaveformTables small{}, large{}, smallNtsc{}, largeNtsc{};
  BuildWaveformTables(false, Studio(), small);
  BuildWaveformTables(true, Studio(), large);
  BuildWaveformTables(false, Studio(true), smallNtsc);
  BuildWaveformTables(true, Studio(true), largeNtsc);
  // White on 100 IRE, black on 0 IRE (7.5 IRE with NTSC blacks).
  EXPECT_EQ(small.row[235], 9);
  EXPECT_EQ(small.row[16], 79);
  EXPECT_EQ(small.row[255], 3);
  EXPECT_EQ(small.row[0], 84);
  EXPECT_EQ(smallNtsc.row[235], 9);
  EXPECT_EQ(smallNtsc.row[16], 74);
  EXPECT_EQ(large.row[235], 19);
  EXPECT_EQ(large.row[16], 159);
  EXPECT_EQ(largeNtsc.row[16], 149);
  EXPECT_EQ(largeNtsc.row[235], 19);
  // The rows fall as the level rises, one step per level at most.
  for (int i = 1; i < 256; ++i) EXPECT_LE(small.row[i], small.row[i - 1]) << i;
}

TEST(MonitorScale, LevelsAreRelativeToTheClipsFloor) {
  ScaleLevels l = Studio();
  l.clipVmin = 16;  // output code 16 is level 0
  WaveformTables t{};
  BuildWaveformTables(false, l, t);
  EXPECT_EQ(t.row[0], 79);
  EXPECT_EQ(t.row[219], 9);
}

TEST(MonitorScale, WaveformColumnsSpreadThePictureOverTheTraceArea) {
  WaveformTables small{}, large{};
  BuildWaveformTables(false, Studio(), small);
  BuildWaveformTables(true, Studio(), large);
  EXPECT_EQ(small.column[0], 17);
  EXPECT_EQ(small.column[1], 17);
  EXPECT_EQ(small.column[2], 18);
  EXPECT_EQ(small.column[239], 106);
  EXPECT_EQ(large.column[0], 33);
  EXPECT_EQ(large.column[239], 212);
  EXPECT_EQ(large.column[120], 33 + 90);  // 120 x 179 / 239 = 89.87
}

TEST(MonitorScale, EqualPreferenceLevelsDiscardEveryLevel) {
  ScaleLevels l = Studio();
  l.prefBlack = l.prefWhite = 100;
  for (bool large : {false, true}) {
    WaveformTables t{};
    BuildWaveformTables(large, l, t);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(t.row[i], kDiscardRow) << i;
  }
}

TEST(MonitorScale, VectorscopeAxesAndClamps) {
  VectorscopeTables small{}, large{};
  ScaleLevels l = Studio();
  l.clipVmax = 235;  // D = 219
  BuildVectorscopeTables(false, l, small);
  BuildVectorscopeTables(true, l, large);
  EXPECT_EQ(small.x[255], 60);
  EXPECT_EQ(small.y[255], 44);
  EXPECT_EQ(large.x[255], 120);
  EXPECT_EQ(large.y[255], 89);
  // u = 50: 50 x 355 / (12 x 219) = 6.75; v = 50: 50 x 421 / (8 x 219) = 12.01.
  EXPECT_EQ(small.x[255 + 50], 67);
  EXPECT_EQ(small.x[255 - 50], 53);
  EXPECT_EQ(small.y[255 + 50], 32);  // positive v goes up
  EXPECT_EQ(small.y[255 - 50], 56);
  // Large: 50 x 355 / (6 x 219) = 13.5 -> 14 (13.508); 50 x 421 / (4 x 219) = 24.03.
  EXPECT_EQ(large.x[255 + 50], 134);
  EXPECT_EQ(large.y[255 + 50], 65);
  // The ends are held at the edge of the trace area.
  EXPECT_EQ(small.x[510], 87);
  EXPECT_EQ(small.x[0], 33);
  EXPECT_EQ(small.y[510], 7);
  EXPECT_EQ(small.y[0], 81);
  EXPECT_EQ(large.x[510], 173);
  EXPECT_EQ(large.x[0], 67);
  EXPECT_EQ(large.y[510], 15);
  EXPECT_EQ(large.y[0], 163);
}

TEST(MonitorScale, ClipPeakNotAboveItsBlackTakesASpanOfOne) {
  ScaleLevels l = Studio();
  l.clipVmax = 10;  // below Vblack 16
  VectorscopeTables t{};
  BuildVectorscopeTables(false, l, t);
  EXPECT_EQ(t.x[255], 60);
  EXPECT_EQ(t.x[256], 60 + 27);  // 355 / 12 = 29.6, held at 27
  EXPECT_EQ(t.x[254], 60 - 27);
  EXPECT_EQ(t.y[256], 44 - 37);  // 421 / 8 = 52.6, held at 37
}

class MonitorsTest : public ::testing::Test {
 protected:
  Monitors m;
  Graticules g = MakeGraticules(false);
};

TEST_F(MonitorsTest, ColourDifferencesBeyondTheScaleAreHeldAtItsEnds) {
  m.ScaleBuild(Studio(), false, false);
  const VectorscopeTables& t = m.Vectorscope();
  m.Accumulate(128, 300, 0, 0);
  m.Accumulate(128, -400, 0, 0);
  m.Accumulate(128, 0, 32767, 0);
  m.Accumulate(128, 0, -32768, 0);
  const auto counts = m.VectorscopeCounts();
  EXPECT_EQ(counts[VectorscopeCell(t.x[510], 44)], 1);  // u = 300 as 255
  EXPECT_EQ(counts[VectorscopeCell(t.x[0], 44)], 1);    // u = -400 as -255
  EXPECT_EQ(counts[VectorscopeCell(60, t.y[510])], 1);
  EXPECT_EQ(counts[VectorscopeCell(60, t.y[0])], 1);
  int total = 0;
  for (uint8_t c : counts) total += c;
  EXPECT_EQ(total, 4);
}

TEST_F(MonitorsTest, CountBuffersFollowTheActiveSizes) {
  m.ScaleBuild(Studio(), false, false);
  EXPECT_EQ(m.WaveformCounts().size(), 16290u);
  EXPECT_EQ(m.VectorscopeCounts().size(), 8635u);
  m.ScaleBuild(Studio(), true, true);
  EXPECT_EQ(m.WaveformCounts().size(), 35476u);
  EXPECT_EQ(m.VectorscopeCounts().size(), 22137u);
  // Switching to the large waveform rebuilds its tables before the next
  // pixel: level 235 now lands on row 19.
  m.Accumulate(235, 0, 0, 0);
  EXPECT_EQ(m.WaveformCounts()[WaveformCell(33, 19)], 1);
}

TEST_F(MonitorsTest, LevelsOffTheDisplayGoToTheDiscardCellAndAreNeverDrawn) {
  ScaleLevels l = Studio();
  l.prefWhite = 100;  // level 255 now lies far above the top row
  m.ScaleBuild(l, true, false);
  ASSERT_EQ(m.Waveform().row[255], kDiscardRow);
  for (int i = 0; i < 20; ++i) m.Accumulate(255, 0, 0, 120);
  EXPECT_EQ(m.WaveformCounts()[WaveformCell(m.Waveform().column[120], 180)], 16);
  MonitorImage out;
  m.RenderWaveform(g, out);
  EXPECT_EQ(DifferingPixels(out, g.wfm180), 0);
}

TEST_F(MonitorsTest, TraceThresholdsOfEachDisplay) {
  // Level 128 on studio levels: row 9 + (128 - 235) x -70/219 = 43.2 -> 43
  // (small), 19 + 107 x 140/219 = 87.4 -> 87 (large); picture column 120.
  struct Case {
    bool large;
    int hidden, shown;  // the most hits not drawn, the least drawn
    int k;
  };
  for (Case c : {Case{false, 2, 3, 16}, Case{true, 1, 2, 32}}) {
    SCOPED_TRACE(c.large ? "WFM180" : "WFM90");
    m.ScaleBuild(Studio(), c.large, false);
    const int32_t x = m.Waveform().column[120], y = m.Waveform().row[128];
    ASSERT_EQ(y, c.large ? 87 : 43);
    const MonitorImage& grat = c.large ? g.wfm180 : g.wfm90;
    MonitorImage out;
    for (int i = 0; i < c.hidden; ++i) m.Accumulate(128, 0, 0, 120);
    m.RenderWaveform(g, out);
    EXPECT_EQ(DifferingPixels(out, grat), 0);
    for (int i = 0; i < c.shown; ++i) m.Accumulate(128, 0, 0, 120);
    m.RenderWaveform(g, out);
    EXPECT_EQ(DifferingPixels(out, grat), 1);
    const uint8_t g0 = grat.At(x, y)[0];
    EXPECT_EQ(out.At(x, y)[0], 0);
    EXPECT_EQ(out.At(x, y)[1], std::min(c.shown * c.k + g0, 255));
    EXPECT_EQ(out.At(x, y)[2], 0);
  }
  for (Case c : {Case{false, 4, 5, 16}, Case{true, 1, 2, 64}}) {
    SCOPED_TRACE(c.large ? "VEC180" : "VEC90");
    m.ScaleBuild(Studio(), false, c.large);
    const int32_t x = m.Vectorscope().x[255 + 40], y = m.Vectorscope().y[255 - 30];
    const MonitorImage& grat = c.large ? g.vec180 : g.vec90;
    MonitorImage out;
    for (int i = 0; i < c.hidden; ++i) m.Accumulate(0, 40, -30, 0);
    m.RenderVectorscope(g, out);
    EXPECT_EQ(DifferingPixels(out, grat), 0);
    for (int i = 0; i < c.shown; ++i) m.Accumulate(0, 40, -30, 0);
    m.RenderVectorscope(g, out);
    EXPECT_EQ(DifferingPixels(out, grat), 1);
    EXPECT_EQ(out.At(x, y)[1], std::min(c.shown * c.k + grat.At(x, y)[0], 255));
  }
}

TEST_F(MonitorsTest, TracesOverGraticuleLinesAreBrighterAndCountsSaturate) {
  m.ScaleBuild(Studio(), true, false);
  // Level 235 lies on the grey 100 IRE line (row 19).
  for (int i = 0; i < 40; ++i) m.Accumulate(235, 0, 0, 0);
  EXPECT_EQ(m.WaveformCounts()[WaveformCell(33, 19)], 16);
  MonitorImage out;
  m.RenderWaveform(g, out);
  ASSERT_EQ(g.wfm180.At(33, 19)[0], kGrey);
  EXPECT_EQ(out.At(33, 19)[1], 255);  // 16 x 32 + 128, held at 255
  m.Accumulate(235, 0, 0, 0);
  m.Accumulate(235, 0, 0, 0);
  m.RenderWaveform(g, out);
  EXPECT_EQ(out.At(33, 19)[1], 64 + kGrey);
}

TEST_F(MonitorsTest, RenderingClearsTheCountsOfItsDisplay) {
  m.ScaleBuild(Studio(), false, false);
  for (int i = 0; i < 10; ++i) m.Accumulate(100, 20, -20, 30);
  MonitorImage out;
  m.RenderWaveform(g, out);
  for (uint8_t c : m.WaveformCounts()) ASSERT_EQ(c, 0);
  bool vectorscopeKept = false;
  for (uint8_t c : m.VectorscopeCounts()) vectorscopeKept |= c != 0;
  EXPECT_TRUE(vectorscopeKept);
  m.RenderVectorscope(g, out);
  for (uint8_t c : m.VectorscopeCounts()) ASSERT_EQ(c, 0);
}

// Any record and any preference levels keep every table entry inside the
// trace area, so every cell index lies inside its buffer.
TEST(MonitorBounds, EveryCellIndexStaysInsideItsBufferForAnyRecord) {
  const uint32_t seed = test::TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> any16(-32768, 32767);
  Monitors m;
  for (int round = 0; round < 3000; ++round) {
    TSpecs clip{}, defaults{};
    auto* c = reinterpret_cast<uint8_t*>(&clip);
    auto* d = reinterpret_cast<uint8_t*>(&defaults);
    for (size_t i = 0; i < sizeof clip; ++i) {
      c[i] = static_cast<uint8_t>(byte(rng));
      d[i] = static_cast<uint8_t>(byte(rng));
    }
    if (round % 3 == 0) {  // also records within the fields' own ranges
      clip.Vmin = static_cast<int16_t>(byte(rng));
      clip.Vmax = static_cast<int16_t>(byte(rng));
      clip.Vblack = static_cast<int16_t>(byte(rng));
      defaults.Vblack = static_cast<int16_t>(byte(rng));
      defaults.Vwhite = round % 2 ? defaults.Vblack : static_cast<int16_t>(byte(rng));
    }
    const ScaleLevels l = LevelsOf(clip, defaults, round % 2);
    const bool largeW = round & 2, largeV = round & 4;
    m.ScaleBuild(l, largeW, largeV);
    const int32_t lastRow = largeW ? 179 : 89;
    for (int i = 0; i < 256; ++i) {
      const int32_t r = m.Waveform().row[i];
      ASSERT_TRUE(r <= lastRow || r == kDiscardRow) << "level " << i << " row " << r;
    }
    for (int x = 0; x < kFrameWidth; ++x) {
      const size_t last = WaveformCell(m.Waveform().column[x], kDiscardRow);
      ASSERT_GE(m.Waveform().column[x], 17);
      ASSERT_LT(last, m.WaveformCounts().size());
    }
    for (int i = 0; i < 511; ++i) {
      const int32_t x = m.Vectorscope().x[i], y = m.Vectorscope().y[i];
      ASSERT_GE(x, largeV ? 67 : 33);
      ASSERT_LE(x, largeV ? 173 : 87);
      ASSERT_GE(y, largeV ? 15 : 7);
      ASSERT_LE(y, largeV ? 163 : 81);
    }
    ASSERT_LT(VectorscopeCell(largeV ? 173 : 87, largeV ? 163 : 81), m.VectorscopeCounts().size());
    // Any values at all reach the accumulation safely (the sanitizer build
    // checks the memory accesses).
    for (int k = 0; k < 8; ++k) m.Accumulate(any16(rng), any16(rng), any16(rng), any16(rng) % 300);
  }
}

TEST(MonitorReadout, CodeValuesAndColourDifferences) {
  const ReadoutValues rgb = PixelReadout(255, 0, 0, 0);
  EXPECT_EQ(rgb.top, 255);
  EXPECT_EQ(rgb.mid, 0);
  EXPECT_EQ(rgb.bot, 0);
  const ReadoutValues ycc = PixelReadout(255, 0, 0, 1);  // pure red
  EXPECT_EQ(ycc.top, 77);
  EXPECT_EQ(ycc.mid, -77);
  EXPECT_EQ(ycc.bot, 178);
  const ReadoutValues blue = PixelReadout(0, 0, 255, 1);  // (29 x 255 + 128) div 256 = 29
  EXPECT_EQ(blue.top, 29);
  EXPECT_EQ(blue.mid, 226);
  EXPECT_EQ(blue.bot, -29);
  EXPECT_EQ(ReadoutNames(0)[0], "R");
  EXPECT_EQ(ReadoutNames(1)[2], "Cr");
}

TEST(MonitorReadout, ReadsTheFrameBottomRowFirst) {
  std::vector<uint8_t> frame(240 * 180 * 4, 0);
  // Panel position (5, 0) is the top row on screen: stored row 179.
  uint8_t* p = &frame[(5 + 179 * 240) * 4];
  p[0] = 10;  // blue
  p[1] = 20;  // green
  p[2] = 30;  // red
  const auto v = ReadoutAt(frame.data(), 5, 0, 0);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->top, 30);
  EXPECT_EQ(v->mid, 20);
  EXPECT_EQ(v->bot, 10);
  EXPECT_FALSE(ReadoutAt(frame.data(), 240, 0, 0).has_value());
  EXPECT_FALSE(ReadoutAt(frame.data(), -1, 0, 0).has_value());
  EXPECT_FALSE(ReadoutAt(frame.data(), 0, 180, 0).has_value());
  EXPECT_FALSE(ReadoutAt(nullptr, 0, 0, 0).has_value());
}

TEST(MonitorGraticule, GeometryOfTheMarks) {
  const Graticules g = MakeGraticules(false);
  const Graticules n = MakeGraticules(true);
  ASSERT_EQ(g.wfm90.width, 120);
  ASSERT_EQ(g.wfm90.height, 90);
  ASSERT_EQ(g.vec180.width, 240);
  ASSERT_EQ(g.vec180.height, 180);
  // One grey line per 10 IRE; nothing between them in the trace area.
  for (int row = 5; row <= 173; row += 14) EXPECT_EQ(g.wfm180.At(120, row)[0], kGrey) << row;
  for (int row = 2; row <= 86; row += 7) EXPECT_EQ(g.wfm90.At(60, row)[0], kGrey) << row;
  EXPECT_EQ(g.wfm180.At(120, 100)[0], 0);
  // White brackets at columns 22 and 222 on the 100 and 0 IRE lines.
  EXPECT_EQ(g.wfm180.At(22, 19)[0], kWhite);
  EXPECT_EQ(g.wfm180.At(222, 159)[0], kWhite);
  EXPECT_EQ(g.wfm90.At(11, 9)[0], kWhite);
  // The 7.5 IRE datum only with NTSC blacks: six on from column 2, six off.
  EXPECT_EQ(g.wfm180.At(2, 149)[0], 0);
  EXPECT_EQ(n.wfm180.At(1, 149)[0], 0);
  EXPECT_EQ(n.wfm180.At(2, 149)[0], kNtscDatumGrey);
  EXPECT_EQ(n.wfm180.At(7, 149)[0], kNtscDatumGrey);
  EXPECT_EQ(n.wfm180.At(8, 149)[0], 0);
  EXPECT_EQ(n.wfm180.At(14, 149)[0], kNtscDatumGrey);
  EXPECT_EQ(n.wfm90.At(0, 74)[0], 0);
  EXPECT_EQ(n.wfm90.At(1, 74)[0], kNtscDatumGrey);
  EXPECT_EQ(n.wfm90.At(4, 74)[0], 0);
  EXPECT_EQ(n.wfm90.At(7, 74)[0], kNtscDatumGrey);
  // Vectorscope: axes through the centre, the circle at its radius.
  EXPECT_EQ(g.vec180.At(30, 89)[0], kGrey);
  EXPECT_EQ(g.vec180.At(29, 89)[0], 0);
  EXPECT_EQ(g.vec180.At(120, 0)[0], kGrey);
  EXPECT_EQ(g.vec180.At(179, 30)[0], kGrey);    // 45 degrees on the circle
  EXPECT_EQ(g.vec180.At(120, 89 - 86)[0], kSilver);  // the tick at 90 degrees
  EXPECT_EQ(g.vec180.At(150, 60)[0], 0);
  EXPECT_EQ(g.vec90.At(15, 44)[0], kGrey);
  EXPECT_EQ(g.vec90.At(60, 89)[0], kGrey);
  // Every pixel is opaque black, grey, silver or white.
  for (const MonitorImage* img : {&g.wfm90, &g.wfm180, &g.vec90, &g.vec180, &n.wfm180})
    for (size_t i = 0; i < img->pixels.size(); i += 4) {
      const uint8_t* p = &img->pixels[i];
      ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]);
      ASSERT_EQ(p[3], 255);
    }
}

// The dialog's render of a known 240 x 180 frame through the pipeline: the
// output conversion hands every pixel to the monitors.
TEST(MonitorFrame, CountBuffersOfAKnownFrame) {
  Notifier notifier;
  Pipeline pipe(notifier);
  OwnedHandle specs(InProcessHost().NewHandle(kSpecsSize));
  TSpecs& s = *reinterpret_cast<TSpecs*>(*specs.get());
  s = BuiltInDefaultSpecs();
  CallState call;
  call.inSetup = true;
  call.changed = true;
  call.total = 1;

  // Black (16) everywhere, but white (235) in the top two rows of picture
  // column 0 and in the whole of column 239.
  test::TestFrame src(240, 180), dst(240, 180);
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 240; ++x) {
      uint8_t* p = src.pixel(x, y);
      const uint8_t v = (x == 0 && y < 2) || x == 239 ? 235 : 16;
      p[0] = p[1] = p[2] = v;
      p[3] = 255;
    }
  Monitors m;
  ScaleLevels l = Studio();
  l.clipVmin = s.Vmin;
  l.clipVmax = s.Vmax;
  l.clipVblack = s.Vblack;
  m.ScaleBuild(l, false, false);
  pipe.SetMonitorSink(&m);
  pipe.Render(src.handle(), dst.handle(), specs.get(), true, call);
  ASSERT_EQ(s.Vmin, 0);
  ASSERT_EQ(std::memcmp(dst.pixel(0, 0), src.pixel(0, 0), 3), 0) << "the default record keeps grey levels";

  // Waveform: picture columns 0 and 1 share display column 17, 238 and 239
  // share column 106; every display column holds black on row 79.
  std::vector<uint8_t> expected(16290, 0);
  for (int cx = 17; cx <= 106; ++cx) expected[WaveformCell(cx, 79)] = 16;
  expected[WaveformCell(17, 9)] = 2;
  expected[WaveformCell(106, 9)] = 16;
  const auto wf = m.WaveformCounts();
  ASSERT_EQ(wf.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(wf[i], expected[i]) << "waveform cell " << i;
  // Vectorscope: grey has no colour, so everything lands in the centre.
  const auto vs = m.VectorscopeCounts();
  for (size_t i = 0; i < vs.size(); ++i)
    ASSERT_EQ(vs[i], i == VectorscopeCell(60, 44) ? 16 : 0) << "vectorscope cell " << i;
}

}  // namespace
}  // namespace tarvo::monitor
