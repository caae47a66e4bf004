// The tarvo command on real video files, and against the real filter: the
// raw path must give exactly what the filter gives when driven directly, and
// the lossless container path exactly what the raw path gives.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "cli_test_support.h"
#include "hostkit/clip_call.h"
#include "options/options.h"
#include "plugin_loader.h"
#include "types/call_record.h"
#include "types/specs_fields.h"
#include "typical_record.h"
#include "util/specs_file.h"

namespace tarvo::cli::test {
namespace {

const std::string kFake = TARVO_FAKE_PLUGIN;

class CliVideoTest : public ::testing::Test {
 protected:
  void SetUp() override { IsolateOptions(); }
  ScratchDir dir;
  std::string error_;
};

std::vector<uint8_t> XorKey(std::vector<uint8_t> bytes, uint8_t key) {
  for (size_t i = 0; i < bytes.size(); ++i)
    if ((i & 3) != 3) bytes[i] ^= key;
  return bytes;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST_F(CliVideoTest, ContainersKeepFrameCountSizeAndTiming) {
  const auto frames = MakeFrames(10, 48, 36);
  const AVRational ntsc{30000, 1001};
  std::string error;
  ASSERT_TRUE(EncodeClip(dir / "in.mkv", frames, ntsc, &error)) << error;
  VideoInfo inInfo;
  const auto decodedIn = DecodeAll(dir / "in.mkv", &inInfo);
  ASSERT_EQ(decodedIn.size(), 10u);
  for (const std::string out : {"out.mkv", "out.mov", "out.mp4", "out.nut"}) {
    SCOPED_TRACE(out);
    const auto r = RunTarvo({"render", dir / "in.mkv", dir / out, "--plugin", kFake, "-q"});
    ASSERT_EQ(r.code, 0) << r.err;
    VideoInfo info;
    const auto got = DecodeAll(dir / out, &info);
    ASSERT_EQ(got.size(), 10u);
    EXPECT_EQ(info.width, 48);
    EXPECT_EQ(info.height, 36);
    EXPECT_NEAR(av_q2d(info.frameRate), av_q2d(ntsc), 0.01) << info.frameRate.num << "/" << info.frameRate.den;
    for (size_t i = 0; i < got.size(); ++i) {
      const double tIn = static_cast<double>(decodedIn[i].pts) * av_q2d(inInfo.timeBase);
      const double tOut = static_cast<double>(got[i].pts) * av_q2d(info.timeBase);
      EXPECT_NEAR(tOut, tIn, 1e-3) << "frame " << i;
    }
    if (out == std::string("out.mkv") || out == std::string("out.nut")) {
      // Lossless: exactly the filter's output.
      EXPECT_EQ(Concat(got), XorKey(Concat(frames), 100));
    }
  }
  EXPECT_EQ(DecodeAll(dir / "out.mkv").size(), 10u);
}

TEST_F(CliVideoTest, ColourDescriptionIsKept) {
  const auto frames = MakeFrames(3, 64, 48);
  VideoInfo in;
  in.width = 64;
  in.height = 48;
  in.primaries = AVCOL_PRI_BT709;
  in.transfer = AVCOL_TRC_BT709;
  in.matrix = AVCOL_SPC_BT709;
  in.range = AVCOL_RANGE_MPEG;
  std::string error;
  ASSERT_TRUE(EncodeClip(dir / "in.mp4", frames, in, &error)) << error;
  for (const std::string out : {"out.mov", "out.mp4", "out.mkv"}) {
    SCOPED_TRACE(out);
    const auto r = RunTarvo({"render", dir / "in.mp4", dir / out, "--plugin", kFake});
    ASSERT_EQ(r.code, 0) << r.err;
    VideoReader reader;
    ASSERT_TRUE(reader.Open(dir / out, &error)) << error;
    EXPECT_EQ(reader.info().primaries, AVCOL_PRI_BT709);
    EXPECT_EQ(reader.info().transfer, AVCOL_TRC_BT709);
    if (out == std::string("out.mkv")) {
      EXPECT_EQ(reader.info().matrix, AVCOL_SPC_RGB);
    } else {
      EXPECT_EQ(reader.info().matrix, AVCOL_SPC_BT709);
      EXPECT_EQ(reader.info().range, AVCOL_RANGE_MPEG);
    }
  }
  // An RGB source with BT.709 primaries gets the BT.709 matrix in YUV.
  in.matrix = AVCOL_SPC_RGB;
  in.range = AVCOL_RANGE_JPEG;
  ASSERT_TRUE(EncodeClip(dir / "rgb.mkv", frames, in, &error)) << error;
  const auto r = RunTarvo({"render", dir / "rgb.mkv", dir / "rgb.mov", "--plugin", kFake});
  ASSERT_EQ(r.code, 0) << r.err;
  VideoReader reader;
  ASSERT_TRUE(reader.Open(dir / "rgb.mov", &error)) << error;
  EXPECT_EQ(reader.info().matrix, AVCOL_SPC_BT709);
  EXPECT_EQ(reader.info().range, AVCOL_RANGE_MPEG);
}

TEST_F(CliVideoTest, FramesAreFoundAgainInAnyOrder) {
  // The frame callback asks for any frame; the reader must seek to it.
  const auto frames = MakeFrames(30, 32, 24);
  std::string error;
  ASSERT_TRUE(EncodeClip(dir / "in.mkv", frames, AVRational{25, 1}, &error)) << error;
  VideoReader r;
  ASSERT_TRUE(r.Open(dir / "in.mkv", &error)) << error;
  EXPECT_EQ(r.info().frameCount, 30);
  Frame f;
  for (int n : {7, 2, 3, 29, 0, 15, 16, 18}) {
    ASSERT_TRUE(r.ReadFrameAt(n, f, &error)) << n << ": " << error;
    EXPECT_EQ(f.pixels, frames[static_cast<size_t>(n)].pixels) << "frame " << n;
  }
  EXPECT_FALSE(r.ReadFrameAt(30, f, &error));
}

TEST_F(CliVideoTest, FrameRangeAndFieldOrderReachTheFilter) {
  const auto frames = MakeFrames(10, 32, 24);
  std::string error;
  ASSERT_TRUE(EncodeClip(dir / "in.mkv", frames, AVRational{25, 1}, &error, FieldMode::TopFirst)) << error;
  const auto r = RunTarvo({"render", dir / "in.mkv", dir / "out.mkv", "--plugin", kFake, "--frames", "3-6"},
                          {"TARVO_FAKE_LOG=" + (dir / "log")});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto log = Lines(dir / "log");
  ASSERT_EQ(log.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_NE(log[i].find("part=" + std::to_string(3 + i) + " total=10 fields=1 "), std::string::npos) << log[i];
  }
  VideoInfo info;
  const auto got = DecodeAll(dir / "out.mkv", &info);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].pts, 0) << "a frame range starts at time 0";
  EXPECT_EQ(info.fieldMode, FieldMode::TopFirst);
  const std::vector<Frame> middle(frames.begin() + 3, frames.begin() + 7);
  EXPECT_EQ(Concat(got), XorKey(Concat(middle), 100));
}

TEST_F(CliVideoTest, AudioIsCopiedWhenTheContainerCanHoldIt) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg program";
  const std::string cmd = "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i "
                          "sine=frequency=440:sample_rate=48000 -t 1 -c:v ffv1 -c:a pcm_s16le -y " +
                          (dir / "in.mkv");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  auto r = RunTarvo({"render", dir / "in.mkv", dir / "out.mkv", "--plugin", kFake});
  ASSERT_EQ(r.code, 0) << r.err;
  VideoReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(dir / "out.mkv", &error)) << error;
  ASSERT_NE(reader.audioStream(), nullptr);
  EXPECT_EQ(reader.audioStream()->codecpar->codec_id, AV_CODEC_ID_PCM_S16LE);
  EXPECT_EQ(DecodeAll(dir / "out.mkv").size(), 25u);
  r = RunTarvo({"render", dir / "in.mkv", dir / "out.mp4", "--plugin", kFake});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("audio not copied"), std::string::npos) << r.err;
}

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

std::string Last(const std::vector<std::string>& lines, const std::string& key) {
  for (auto it = lines.rbegin(); it != lines.rend(); ++it)
    if (it->rfind(key + "=", 0) == 0) return it->substr(key.size() + 1);
  return {};
}

// A container's frame count is often estimated from its duration; the render
// reads to the end of the stream all the same, says when the two differ and
// fails on damage inside the stream.
TEST_F(CliVideoTest, InputIsReadToItsEndWhateverTheContainerAnnounced) {
  const auto frames = MakeFrames(30, 24, 16);
  std::string error;
  // Raw BGRA pictures in NUT: the container announces one frame less.
  VideoInfo rawInfo;
  rawInfo.width = 24;
  rawInfo.height = 16;
  ASSERT_TRUE(EncodeClip(dir / "bgra.nut", frames, rawInfo, &error, "rawvideo")) << error;
  auto r = RunTarvo({"render", dir / "bgra.nut", dir / "bgra.mkv", "--plugin", kFake, "-q", "--progress",
                     dir / "progress.txt"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Concat(DecodeAll(dir / "bgra.mkv")), XorKey(Concat(frames), 100));
  const auto progress = Lines(dir / "progress.txt");
  EXPECT_EQ(Last(progress, "frame"), "30");
  EXPECT_EQ(Last(progress, "total_frames"), "30") << "the total follows what was found";
  EXPECT_EQ(Last(progress, "progress"), "end");

  // A frame range that runs past the announced count is rendered in full.
  r = RunTarvo({"render", dir / "bgra.nut", dir / "tail.mkv", "--plugin", kFake, "-q", "--frames", "27-"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(DecodeAll(dir / "tail.mkv").size(), 3u);

  // Cut short: what is there is rendered, and the shortfall is reported.
  ASSERT_TRUE(EncodeClip(dir / "whole.mkv", frames, AVRational{25, 1}, &error)) << error;
  auto bytes = ReadBytes(dir / "whole.mkv");
  bytes.resize(bytes.size() * 2 / 3);
  WriteBytes(dir / "cut.mkv", bytes);
  const size_t readable = DecodeAll(dir / "cut.mkv").size();
  ASSERT_GT(readable, 5u);
  ASSERT_LT(readable, 30u);
  r = RunTarvo({"render", dir / "cut.mkv", dir / "cut-out.mkv", "--plugin", kFake, "-q"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("'" + (dir / "cut.mkv") + "' ended after " + std::to_string(readable) +
                       " frames, not the 30 its container announced"),
            std::string::npos)
      << r.err;
  const std::vector<Frame> head(frames.begin(), frames.begin() + static_cast<ptrdiff_t>(readable));
  EXPECT_EQ(Concat(DecodeAll(dir / "cut-out.mkv")), XorKey(Concat(head), 100));

  // Cut inside a picture of the NUT file: the decoder refuses the rest, and
  // the render fails without output, naming the frames that can be had.
  bytes = ReadBytes(dir / "bgra.nut");
  bytes.resize(bytes.size() - 100);
  WriteBytes(dir / "damaged.nut", bytes);
  r = RunTarvo({"render", dir / "damaged.nut", dir / "damaged.mkv", "--plugin", kFake, "-q"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("is damaged"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("can be rendered with --frames 0-28"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(dir / "damaged.mkv"));
  for (const auto& e : dir.Entries()) EXPECT_EQ(e.find(".part"), std::string::npos) << e;
}

TEST_F(CliVideoTest, StreamsLongerThanAnnouncedAreRenderedInFull) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg program";
  const std::string make = "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=32x24:rate=25 -frames:v ";
  // 4:2:0 pictures in NUT.
  ASSERT_EQ(std::system((make + "30 -c:v rawvideo -pix_fmt yuv420p -y " + (dir / "yuv.nut")).c_str()), 0);
  auto r = RunTarvo({"render", dir / "yuv.nut", dir / "yuv.mkv", "--plugin", kFake, "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(DecodeAll(dir / "yuv.mkv").size(), 30u);
  // Two transport streams one after the other: the second half counts too.
  ASSERT_EQ(std::system((make + "10 -c:v mpeg2video -y " + (dir / "a.ts")).c_str()), 0);
  auto ts = ReadBytes(dir / "a.ts");
  const auto once = ts;
  ts.insert(ts.end(), once.begin(), once.end());
  WriteBytes(dir / "two.ts", ts);
  r = RunTarvo({"render", dir / "two.ts", dir / "two.mkv", "--plugin", kFake, "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(DecodeAll(dir / "two.mkv").size(), 20u);
  EXPECT_NE(r.err.find("holds 20 frames, not the 10 its container announced"), std::string::npos) << r.err;
}

// FFV1 output of any picture size comes back bit for bit, including sizes the
// default slicing cannot take (one pixel across) or takes wrongly (two).
TEST_F(CliVideoTest, LosslessOutputTakesEveryPictureSize) {
  std::string error;
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{
           {1, 1}, {1, 9}, {9, 1}, {2, 2}, {2, 7}, {7, 2}, {3, 3}, {16, 4000}, {45, 31}}) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    SCOPED_TRACE(size);
    const auto frames = MakeFrames(2, w, h, static_cast<uint32_t>(w * 7919 + h));
    for (const std::string ext : {".mkv", ".nut"}) {
      const std::string path = dir / (size + ext);
      ASSERT_TRUE(EncodeClip(path, frames, AVRational{25, 1}, &error)) << ext << ": " << error;
      EXPECT_EQ(Concat(DecodeAll(path)), Concat(frames)) << ext;
    }
  }
  // Through the command.
  const auto frames = MakeFrames(3, 1, 5);
  VideoInfo thin;
  thin.width = 1;
  thin.height = 5;
  ASSERT_TRUE(EncodeClip(dir / "thin.nut", frames, thin, &error, "rawvideo")) << error;
  const auto r = RunTarvo({"render", dir / "thin.nut", dir / "thin.mkv", "--plugin", kFake, "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Concat(DecodeAll(dir / "thin.mkv")), XorKey(Concat(frames), 100));
}

#ifdef TARVO_REAL_PLUGIN
// Drives the real filter in this process exactly as a host would, through the
// host kit alone, without the command's clip host and render path.
std::vector<uint8_t> DriveDirectly(const std::vector<Frame>& frames, const std::vector<std::string>& sets) {
  PluginLibrary lib;
  std::string error;
  EXPECT_TRUE(lib.Load(TARVO_REAL_PLUGIN, &error)) << error;
  if (!lib.frameEntry()) return {};
  hostkit::ClipCall call(lib.frameEntry());
  char privateData[64] = "direct-drive-clip";
  call.SetPrivateData(privateData, sizeof privateData);
  call.SetTotal(static_cast<int32_t>(frames.size()));
  // First call without a record: the filter makes one; then the settings.
  EXPECT_EQ(call.Prepare(0), 0);
  TSpecs* s = call.MutableRecord();
  EXPECT_NE(s, nullptr);
  if (!s) return {};
  for (const auto& a : sets) EXPECT_TRUE(ApplyFieldAssignment(*s, a, &error)) << error;
  std::vector<uint8_t> out;
  const int w = frames[0].width, h = frames[0].height;
  std::vector<uint8_t> src(static_cast<size_t>(w) * h * 4), dst(src.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    std::memcpy(src.data(), frames[i].pixels.data(), src.size());
    EXPECT_EQ(call.Execute(static_cast<int32_t>(i), src.data(), dst.data(), w, h), 0);
    out.insert(out.end(), dst.begin(), dst.end());
  }
  return out;
}

TEST_F(CliVideoTest, RawPathIsExactlyTheFilterDrivenDirectlyAndLosslessFilesMatchIt) {
  setenv("TARVO_OPMODE", "final", 1);
  const auto frames = MakeFrames(6, 97, 41);  // odd sizes
  std::vector<std::string> sets(kTypicalCleanup.begin(), kTypicalCleanup.end());
  const auto expected = DriveDirectly(frames, sets);
  ASSERT_EQ(expected.size(), Concat(frames).size());
  EXPECT_NE(expected, Concat(frames)) << "the record must change the picture";

  WriteBytes(dir / "in.raw", Concat(frames));
  std::vector<std::string> args = {"render", "--raw", "97x41", dir / "in.raw", dir / "out.raw", "--op-mode", "final",
                                   "--plugin", TARVO_REAL_PLUGIN};
  for (const auto& s : sets) args.insert(args.end(), {"--set", s});
  auto r = RunTarvo(args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.raw"), expected);

  std::string error;
  ASSERT_TRUE(EncodeClip(dir / "in.mkv", frames, AVRational{25, 1}, &error)) << error;
  args = {"render", dir / "in.mkv", dir / "out.mkv", "--op-mode", "final", "--plugin", TARVO_REAL_PLUGIN};
  for (const auto& s : sets) args.insert(args.end(), {"--set", s});
  r = RunTarvo(args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Concat(DecodeAll(dir / "out.mkv")), expected);
}
// Frames wider than a video host's descriptor can describe (8K UHD here) go
// through the command, raw and through lossless files, exactly as through the
// filter driven directly; wider than 8192 is refused before anything is
// written.
TEST_F(CliVideoTest, FramesUpTo8192WideRenderAndWiderOnesAreRefused) {
  setenv("TARVO_OPMODE", "final", 1);
  const auto frames = MakeFrames(3, 7680, 16);
  std::vector<std::string> sets(kTypicalCleanup.begin(), kTypicalCleanup.end());
  const auto expected = DriveDirectly(frames, sets);
  ASSERT_EQ(expected.size(), Concat(frames).size());
  EXPECT_NE(expected, Concat(frames)) << "the record must change the picture";

  WriteBytes(dir / "in.raw", Concat(frames));
  std::vector<std::string> args = {"render", "--raw", "7680x16", dir / "in.raw", dir / "out.raw", "--plugin",
                                   TARVO_REAL_PLUGIN, "-q"};
  for (const auto& s : sets) args.insert(args.end(), {"--set", s});
  auto r = RunTarvo(args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.raw"), expected);

  std::string error;
  ASSERT_TRUE(EncodeClip(dir / "in.mkv", frames, AVRational{25, 1}, &error)) << error;
  args = {"render", dir / "in.mkv", dir / "out.mkv", "--plugin", TARVO_REAL_PLUGIN, "-q"};
  for (const auto& s : sets) args.insert(args.end(), {"--set", s});
  r = RunTarvo(args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Concat(DecodeAll(dir / "out.mkv")), expected);

  WriteBytes(dir / "wide.raw", Concat(MakeFrames(1, 8193, 2)));
  r = RunTarvo({"render", "--raw", "8193x2", dir / "wide.raw", dir / "wide-out.raw", "--plugin", TARVO_REAL_PLUGIN});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("8193 pixels wide; the filter takes frames up to 8192 pixels wide"), std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "wide-out.raw"));
}

TEST_F(CliVideoTest, TheFiltersThreadCountNeverChangesTheOutput) {
  const auto frames = MakeFrames(8, 97, 41);  // odd sizes: uneven bands
  std::vector<std::string> sets(kTypicalCleanup.begin(), kTypicalCleanup.end());
  WriteBytes(dir / "in.raw", Concat(frames));
  std::vector<std::vector<uint8_t>> outputs;
  for (const char* threads : {"1", "3"}) {
    const std::string out = dir / (std::string("out-") + threads + ".raw");
    std::vector<std::string> args = {"render", "--raw",  "97x41",  dir / "in.raw", out,  "--op-mode",
                                     "final",  "--threads", threads, "--stats",  "--plugin", TARVO_REAL_PLUGIN};
    for (const auto& s : sets) args.insert(args.end(), {"--set", s});
    const auto r = RunTarvo(args);
    ASSERT_EQ(r.code, 0) << r.err;
    // --stats names the threads the filter ran with: the count asked for,
    // at most one per core.
    const int used = std::min(std::atoi(threads), ResolveThreadCount(0));
    EXPECT_NE(r.err.find(std::to_string(used) + (used == 1 ? " thread)" : " threads)")), std::string::npos) << r.err;
    outputs.push_back(ReadBytes(out));
  }
  EXPECT_EQ(outputs[0], outputs[1]);
  EXPECT_NE(outputs[0], Concat(frames)) << "the record must change the picture";
}

TEST_F(CliVideoTest, RealFilterRecordRoundTripAndOperatingModes) {
  const auto frames = MakeFrames(4, 40, 30);
  WriteBytes(dir / "in.raw", Concat(frames));
  const std::string rec = dir / "clip.tvr";
  auto render = [&](const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"render", "--raw", "40x30", dir / "in.raw", dir / out, "--plugin",
                                     TARVO_REAL_PLUGIN};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTarvo(args);
  };
  auto r = render("final.raw", {"--record", rec, "--op-mode", "final", "--set", "Gain=150", "--set", "YSharpness=40"});
  ASSERT_EQ(r.code, 0) << r.err;
  TSpecs s{};
  ASSERT_TRUE(ReadSpecsFile(rec, s, &error_)) << error_;
  EXPECT_EQ(s.Version, kSpecsVersion);
  EXPECT_EQ(s.Gain, 150);
  EXPECT_EQ(s.YSharpness, 40);
  EXPECT_EQ(s.LastPart, 3) << "the filter follows the host's frame number";
  // The same record again gives the same pictures.
  r = render("again.raw", {"--record", rec, "--op-mode", "final"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "again.raw"), ReadBytes(dir / "final.raw"));
  // Bypass copies; Draft only converts, so it differs from Final here.
  r = render("bypass.raw", {"--record", rec, "--op-mode", "bypass"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "bypass.raw"), Concat(frames));
  r = render("draft.raw", {"--record", rec, "--op-mode", "draft"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(ReadBytes(dir / "draft.raw"), ReadBytes(dir / "final.raw"));
  EXPECT_NE(ReadBytes(dir / "draft.raw"), Concat(frames));
  // Field flags reach the filter: temporal smoothing by fields differs from
  // smoothing by frames.
  const std::vector<std::string> temporal = {"--op-mode", "final", "--set", "TempYThreshold=40", "--set",
                                             "TempRecursion=80", "--set", "TempFlags=2"};
  std::vector<std::string> args = temporal;
  r = render("frames.raw", args);
  ASSERT_EQ(r.code, 0) << r.err;
  args.insert(args.end(), {"--fields", "tff"});
  r = render("fields.raw", args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(ReadBytes(dir / "frames.raw"), ReadBytes(dir / "fields.raw"));
}
#endif

}  // namespace
}  // namespace tarvo::cli::test
