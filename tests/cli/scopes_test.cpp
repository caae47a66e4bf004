// tarvo scopes: pictures written, count buffers laid out per frame.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_test_support.h"

namespace tarvo::cli::test {
namespace {

class ScopesTest : public ::testing::Test {
 protected:
  void SetUp() override { IsolateOptions(); }
  ScratchDir dir;
};

constexpr size_t kWfm90 = 16290, kWfm180 = 35476, kVec90 = 8635, kVec180 = 22137;

// A raw 240 x 180 frame of one grey.
Frame Grey(uint8_t g) {
  Frame f;
  f.Resize(240, 180);
  for (size_t i = 0; i < f.pixels.size(); i += 4) {
    f.pixels[i] = f.pixels[i + 1] = f.pixels[i + 2] = g;
    f.pixels[i + 3] = 255;
  }
  return f;
}

// Width and height from a PNG file's header.
std::pair<uint32_t, uint32_t> PngSize(const std::string& path) {
  const std::vector<uint8_t> b = ReadBytes(path);
  if (b.size() < 24 || b[1] != 'P' || b[2] != 'N' || b[3] != 'G') return {0, 0};
  auto be = [&](size_t o) { return uint32_t(b[o]) << 24 | uint32_t(b[o + 1]) << 16 | uint32_t(b[o + 2]) << 8 | b[o + 3]; };
  return {be(16), be(20)};
}

TEST_F(ScopesTest, RawFramesGiveOneCountBlockEachAndTheirPictures) {
  const std::string raw = dir / "grey.raw", counts = dir / "counts.bin", out = dir / "out";
  WriteBytes(raw, Concat({Grey(16), Grey(128), Grey(235)}));
  const RunResult r = RunTarvo({"scopes", raw, "--raw", "240x180", "--out", out, "--counts", counts});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<uint8_t> c = ReadBytes(counts);
  const size_t block = kWfm90 + kVec90;
  ASSERT_EQ(c.size(), 3 * block);
  // With the default preference levels (black 0, white 255) a grey g lies on
  // row rnd(79 - g x 70 / 255) of the small waveform in every display
  // column; a grey has no colour, so the vectorscope counts only its centre.
  const int rows[3] = {75, 44, 14};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    const uint8_t* wf = c.data() + k * block;
    const uint8_t* vs = wf + kWfm90;
    size_t nonzero = 0;
    for (size_t i = 0; i < kWfm90; ++i) nonzero += wf[i] != 0;
    EXPECT_EQ(nonzero, 90u);
    for (int col = 0; col < 90; ++col) ASSERT_EQ(wf[col * 181 + rows[k]], 16) << "column " << col;
    nonzero = 0;
    for (size_t i = 0; i < kVec90; ++i) nonzero += vs[i] != 0;
    EXPECT_EQ(nonzero, 1u);
    EXPECT_EQ(vs[(60 - 33) * 157 + (44 - 7)], 16);
  }
  for (const char* name : {"picture", "waveform-large", "vectorscope-large"})
    EXPECT_EQ(PngSize(out + "/frame-000002-" + name + ".png"), (std::pair<uint32_t, uint32_t>{240, 180})) << name;
  for (const char* name : {"waveform-small", "vectorscope-small"})
    EXPECT_EQ(PngSize(out + "/frame-000000-" + name + ".png"), (std::pair<uint32_t, uint32_t>{120, 90})) << name;
}

TEST_F(ScopesTest, TheViewChoosesTheSizesOfTheCountBuffers) {
  const std::string raw = dir / "grey.raw";
  WriteBytes(raw, Concat({Grey(100), Grey(100)}));
  struct Case {
    const char* view;
    size_t bytes;
  };
  for (Case c : {Case{"picture", kWfm90 + kVec90}, Case{"waveform", kWfm180 + kVec90},
                 Case{"vectorscope", kWfm90 + kVec180}}) {
    const std::string counts = dir / (std::string(c.view) + ".bin");
    const RunResult r = RunTarvo({"scopes", raw, "--raw", "240x180", "--frame", "1", "--view", c.view, "--counts", counts});
    ASSERT_EQ(r.code, 0) << c.view << ": " << r.err;
    EXPECT_EQ(ReadBytes(counts).size(), c.bytes) << c.view;  // --frame: that frame only
  }
}

TEST_F(ScopesTest, AVideoFrameIsScaledToTheWorkImage) {
  const std::string clip = dir / "clip.mkv", out = dir / "out";
  std::string error;
  ASSERT_TRUE(EncodeClip(clip, MakeFrames(3, 320, 240), AVRational{25, 1}, &error)) << error;
  const RunResult r = RunTarvo({"scopes", clip, "--frame", "2", "--view", "waveform", "--out", out});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(PngSize(out + "/frame-000002-picture.png"), (std::pair<uint32_t, uint32_t>{240, 180}));
  EXPECT_TRUE(Exists(out + "/frame-000002-vectorscope-small.png"));
  EXPECT_FALSE(Exists(out + "/frame-000000-picture.png"));
}

TEST_F(ScopesTest, UsageErrors) {
  const std::string raw = dir / "grey.raw", clip = dir / "clip.mkv";
  WriteBytes(raw, Concat({Grey(100)}));
  std::string error;
  ASSERT_TRUE(EncodeClip(clip, MakeFrames(1, 64, 48), AVRational{25, 1}, &error)) << error;
  EXPECT_EQ(RunTarvo({"scopes", clip, "--out", dir / "o"}).code, 2);  // a video file needs --frame
  EXPECT_EQ(RunTarvo({"scopes", raw, "--raw", "240x180", "--view", "histogram", "--out", dir / "o"}).code, 2);
  EXPECT_EQ(RunTarvo({"scopes", raw, "--raw", "240x180"}).code, 2);  // nowhere to write
  EXPECT_EQ(RunTarvo({"scopes", raw, "--raw", "240x180", "--frame", "5", "--out", dir / "o"}).code, 2);
  // The counts never overwrite the record they were made with.
  const std::string rec = dir / "clip.tvr";
  ASSERT_EQ(RunTarvo({"record", "set", rec, "Sat=120"}).code, 0);
  const std::vector<uint8_t> before = ReadBytes(rec);
  EXPECT_EQ(RunTarvo({"scopes", raw, "--raw", "240x180", "--record", rec, "--counts", rec}).code, 2);
  EXPECT_EQ(ReadBytes(rec), before);
  const RunResult missing = RunTarvo({"scopes", raw, "--raw", "240x180", "--record", dir / "none.tvr", "--out", dir / "o"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_FALSE(Exists(dir / "o/frame-000000-picture.png"));
}

}  // namespace
}  // namespace tarvo::cli::test
