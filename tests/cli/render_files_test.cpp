// File-to-file renders: the overlapping decode, filter and encode threads
// against the one-thread loop, the output pixel format, and the colour matrix
// and range YUV input is read with.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "cli_test_support.h"
#include "typical_record.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "util/thread_pool.h"
#include "video_reader.h"
#include "video_writer.h"

namespace tarvo::cli::test {
namespace {

const std::string kFake = TARVO_FAKE_PLUGIN;

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

bool Ffmpeg(const std::string& args) {
  return std::system(("ffmpeg -nostdin -loglevel error " + args + " -y").c_str()) == 0;
}

// PSNR over the three colour bytes of BGRA pictures.
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  EXPECT_EQ(a.size(), b.size());
  double sum = 0;
  size_t n = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if ((i & 3) == 3) continue;
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    sum += d * d;
    ++n;
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}

// The pixel format name of a file's video stream.
std::string PixelFormatOf(const std::string& path) {
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return "(unreadable)";
  std::string name = "(none)";
  if (avformat_find_stream_info(fmt, nullptr) >= 0) {
    const int s = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (s >= 0) {
      const char* n = av_get_pix_fmt_name(static_cast<AVPixelFormat>(fmt->streams[s]->codecpar->format));
      name = n ? n : "(unknown)";
    }
  }
  avformat_close_input(&fmt);
  return name;
}

class RenderFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IsolateOptions();
    if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg program";
  }
  ScratchDir dir;
};

#ifdef TARVO_REAL_PLUGIN
TEST_F(RenderFilesTest, OverlappedThreadsWriteTheSameBytesAsOneThread) {
  // 4:2:0 pictures with grain and an audio stream, as raw video in NUT.
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 "
                     "-t 1.2 -vf noise=alls=12:allf=t -pix_fmt yuv420p -c:v rawvideo -c:a pcm_s16le " +
                     (dir / "in.nut")));
  std::vector<std::string> record;
  for (const auto& s : kTypicalCleanup) record.insert(record.end(), {std::string("--set"), std::string(s)});
  // Our own conversion to 4:2:0, cut into bands, and swscale's to 10-bit
  // 4:2:0, which runs whole on the filter's thread.
  for (const std::string pixFmt : {"yuv420p", "yuv420p10le"}) {
    SCOPED_TRACE(pixFmt);
    auto render = [&](const std::string& out, std::vector<std::string> extra) {
      std::vector<std::string> args = {"render", dir / "in.nut", dir / out, "--codec", "rawvideo", "--pix-fmt",
                                       pixFmt, "--op-mode", "final", "-q", "--plugin", TARVO_REAL_PLUGIN};
      args.insert(args.end(), record.begin(), record.end());
      args.insert(args.end(), extra.begin(), extra.end());
      return RunTarvo(args);
    };
    for (const std::vector<std::string>& range : {std::vector<std::string>{}, {"--frames", "7-22"}}) {
      SCOPED_TRACE(range.empty() ? "whole clip" : "frames 7-22");
      auto r = render("serial.nut", [&] {
        auto a = range;
        a.push_back("--serial");
        return a;
      }());
      ASSERT_EQ(r.code, 0) << r.err;
      const auto serial = ReadBytes(dir / "serial.nut");
      // The conversions are cut into as many bands as the filter has threads.
      for (const char* threads : {"1", "2", "3"}) {
        SCOPED_TRACE(std::string("--threads ") + threads);
        auto a = range;
        a.insert(a.end(), {"--threads", threads});
        r = render("overlap.nut", a);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(ReadBytes(dir / "overlap.nut") == serial);
      }
      EXPECT_EQ(DecodeAll(dir / "overlap.nut").size(), range.empty() ? 30u : 16u);
      EXPECT_EQ(PixelFormatOf(dir / "overlap.nut"), pixFmt);
    }
  }
}
#endif

TEST_F(RenderFilesTest, AStageThatFailsStopsTheOthersAndLeavesNoOutput) {
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 40 -pix_fmt yuv420p -c:v ffv1 " +
                     (dir / "in.mkv")));
  // The filter fails at frame 9 while the decoder runs ahead and the encoder
  // has frames in hand.
  auto r = RunTarvo({"render", dir / "in.mkv", dir / "out.mkv", "-q", "--plugin", kFake},
                    {"TARVO_FAKE_OUT_OF_MEMORY=9"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the filter did not render frame 9"), std::string::npos) << r.err;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.mkv"});
  for (const auto& e : dir.Entries()) EXPECT_EQ(e.find(".part"), std::string::npos) << e;
}

#ifdef TARVO_REAL_PLUGIN
TEST_F(RenderFilesTest, ASignalStopsEveryStageAndLeavesNoOutput) {
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 600 -pix_fmt yuv420p -c:v ffv1 " +
                     (dir / "in.mkv")));
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(sig));
    std::vector<std::string> args = {"render", dir / "in.mkv", dir / "out.mkv", "-q", "--op-mode", "final",
                                     "--progress", dir / "progress.txt", "--plugin", TARVO_REAL_PLUGIN};
    for (const auto& f : kTypicalCleanup) args.insert(args.end(), {std::string("--set"), std::string(f)});
    const int pid = StartTarvo(args, "", dir / "log");
    ASSERT_GT(pid, 0);
    // Wait until frames are on their way through all three stages.
    bool running = false;
    for (int i = 0; i < 1000 && !running; ++i) {
      std::ifstream progress(dir / "progress.txt");
      for (std::string line; std::getline(progress, line);)
        if (line.rfind("frame=", 0) == 0 && line != "frame=0") running = true;
      if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(running);
    kill(pid, sig);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    // 128 + the signal, or ended by the signal itself after cleaning up.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    EXPECT_EQ(code, 128 + sig);
    EXPECT_FALSE(Exists(dir / "out.mkv"));
    for (const auto& e : dir.Entries()) EXPECT_EQ(e.find(".part"), std::string::npos) << e;
  }
}
#endif

TEST_F(RenderFilesTest, PixelFormatIsChosenByNameAndRefusedWhenTheEncoderCannotTakeIt) {
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 5 -pix_fmt yuv420p -c:v ffv1 " +
                     (dir / "in.mkv")));
  struct Case {
    std::string out, codec, pixFmt;
  };
  for (const Case& c : {Case{"a.nut", "rawvideo", "yuv420p"}, Case{"b.mkv", "", "yuv422p10le"},
                        Case{"c.mkv", "", "gbrp10le"}}) {
    SCOPED_TRACE(c.out);
    std::vector<std::string> args = {"render", dir / "in.mkv", dir / c.out, "-q", "--plugin", kFake,
                                     "--pix-fmt", c.pixFmt};
    if (!c.codec.empty()) args.insert(args.end(), {"--codec", c.codec});
    const auto r = RunTarvo(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(PixelFormatOf(dir / c.out), c.pixFmt);
    EXPECT_EQ(DecodeAll(dir / c.out).size(), 5u);
  }
  // Refused before any file is touched, with the reason.
  auto r = RunTarvo({"render", dir / "in.mkv", dir / "x.mov", "-q", "--plugin", kFake, "--pix-fmt", "yuv420p"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("the prores_ks encoder cannot take pixel format 'yuv420p'; it takes yuv422p10le"),
            std::string::npos)
      << r.err;
  r = RunTarvo({"render", dir / "in.mkv", dir / "x.mkv", "-q", "--plugin", kFake, "--pix-fmt", "yuv421p"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("unknown pixel format 'yuv421p'"), std::string::npos) << r.err;
  r = RunTarvo({"render", "--raw", "8x8", dir / "in.mkv", dir / "x.raw", "--plugin", kFake, "--pix-fmt", "yuv420p"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"a.nut", "b.mkv", "c.mkv", "in.mkv"}));
}

TEST_F(RenderFilesTest, YuvInputIsReadWithItsTagsOrTheUsualMatrixForItsHeight) {
  // RGB pictures, and the same pictures in 4:4:4 YUV made with each matrix,
  // tagged and untagged, in limited range. A correct reading comes back
  // within the 8-bit rounding of YUV; the wrong matrix shifts the colours.
  std::vector<std::string> sizes = {"320x240", "1280x720"};
  for (const std::string& size : sizes) {
    SCOPED_TRACE(size);
    // The YUV clips are made from the stored RGB pictures, so that every
    // clip holds the same pictures.
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=" + size + ":rate=25 -frames:v 2 -pix_fmt bgra -f rawvideo " +
                       (dir / "ref.bgra")));
    const std::string src = "-f rawvideo -pix_fmt bgra -s " + size + " -i " + (dir / "ref.bgra") + " ";
    const auto ref = ReadBytes(dir / "ref.bgra");
    for (const std::string matrix : {"bt709", "bt601"}) {
      const std::string scale = "-vf scale=out_color_matrix=" + matrix + ":out_range=tv,format=yuv444p -c:v ffv1 ";
      const std::string tag = matrix == "bt709" ? "bt709" : "smpte170m";
      ASSERT_TRUE(Ffmpeg(src + scale + "-colorspace " + tag + " -color_range tv " + (dir / "tagged.mkv")));
      ASSERT_TRUE(Ffmpeg(src + scale + (dir / "untagged.mkv")));
      auto bypass = [&](const std::string& in, std::vector<std::string> extra) {
        std::vector<std::string> args = {"render", dir / in, dir / "out.mkv", "-q", "--op-mode", "bypass",
                                         "--plugin", TARVO_REAL_PLUGIN};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = RunTarvo(args);
        EXPECT_EQ(r.code, 0) << r.err;
        return Psnr(Concat(DecodeAll(dir / "out.mkv")), ref);
      };
      const std::string wrong = matrix == "bt709" ? "bt601" : "bt709";
      SCOPED_TRACE(matrix);
      EXPECT_GT(bypass("tagged.mkv", {}), 40.0);
      EXPECT_GT(bypass("tagged.mkv", {"--scale-quality", "accurate"}), 40.0);
      EXPECT_LT(bypass("tagged.mkv", {"--in-matrix", wrong}), 34.0) << "the option wins over the tags";
      EXPECT_LT(bypass("tagged.mkv", {"--in-range", "pc"}), 34.0);
      EXPECT_GT(bypass("untagged.mkv", {"--in-matrix", matrix}), 40.0);
      const bool usual = (size == "1280x720") == (matrix == "bt709");
      const double untagged = bypass("untagged.mkv", {});
      if (usual) EXPECT_GT(untagged, 40.0);
      else EXPECT_LT(untagged, 34.0);
    }
  }
  auto r = RunTarvo({"render", dir / "tagged.mkv", dir / "x.mkv", "--in-matrix", "bt610", "--plugin", kFake});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--in-matrix must be bt601, bt709 or bt2020, got 'bt610'"), std::string::npos) << r.err;
  r = RunTarvo({"render", dir / "tagged.mkv", dir / "x.mkv", "--scale-quality", "best", "--plugin", kFake});
  EXPECT_EQ(r.code, 2);
  EXPECT_FALSE(Exists(dir / "x.mkv"));
}

// A picture of another size than the file's is refused with a message
// (the conversion would read past it or leave the picture half written).
TEST_F(RenderFilesTest, WriterRefusesAPictureOfAnotherSize) {
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 1 -pix_fmt yuv420p -c:v rawvideo " +
                     (dir / "in.nut")));
  std::string error;
  VideoReader reader;
  ASSERT_TRUE(reader.Open(dir / "in.nut", &error)) << error;
  for (const char* pixFmt : {"yuv420p", "yuv420p10le", "bgra"}) {
    SCOPED_TRACE(pixFmt);
    VideoWriter writer;
    WriterSettings ws;
    ws.codec = "rawvideo";
    ws.pixFmt = pixFmt;
    ASSERT_TRUE(writer.Open(dir / "out.nut", dir / "out.nut", reader.info(), nullptr, ws, &error)) << error;
    Frame f;
    f.Resize(64, 32);
    error.clear();
    EXPECT_FALSE(writer.WriteVideo(f, &error));
    EXPECT_NE(error.find("a 64x32 picture in a 64x48 video"), std::string::npos) << error;
    f.Resize(64, 48);
    EXPECT_TRUE(writer.WriteVideo(f, &error)) << error;
  }
}

// The conversions to BGRA and back, cut into row bands on several threads
// (as the render runs them), give the bytes of one conversion over the whole
// picture: from several input formats, in both qualities, at even and odd
// heights, into our own 4:2:0 and swscale's formats.
TEST_F(RenderFilesTest, ConversionsInRowBandsGiveTheBytesOfTheWholePicture) {
  ThreadPool pool;
  std::vector<std::unique_ptr<PoolRunner>> runners;
  for (const int threads : {2, 3, 7}) {
    runners.push_back(std::make_unique<PoolRunner>(pool));
    runners.back()->SetThreads(threads);
  }
  struct Input {
    std::string size, pixFmt;
  };
  for (const Input& input : {Input{"96x72", "yuv420p"}, Input{"96x71", "yuv420p"}, Input{"97x70", "yuv422p10le"},
                             Input{"64x45", "nv12"}, Input{"64x48", "yuvj444p"}, Input{"33x17", "bgra"},
                             Input{"40x30", "gbrp"}}) {
    SCOPED_TRACE(input.size + " " + input.pixFmt);
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=" + input.size + ":rate=25 -frames:v 2 -vf noise=alls=12:allf=t "
                       "-pix_fmt " + input.pixFmt + " -c:v ffv1 " + (dir / "in.mkv")));
    for (const ScaleQuality quality : {ScaleQuality::Fast, ScaleQuality::Accurate}) {
      SCOPED_TRACE(quality == ScaleQuality::Fast ? "fast" : "accurate");
      std::string error;
      VideoReader whole, banded;
      ASSERT_TRUE(whole.Open(dir / "in.mkv", &error)) << error;
      ASSERT_TRUE(banded.Open(dir / "in.mkv", &error)) << error;
      InputConversion conversion;
      conversion.quality = quality;
      whole.SetConversion(conversion);
      banded.SetConversion(conversion);
      AVFrame* picture = av_frame_alloc();
      std::vector<Frame> frames;
      for (Frame f; whole.Next(f, &error) == 1;) {
        ASSERT_EQ(banded.NextPicture(picture, &error), 1) << error;
        for (const auto& runner : runners) {
          Frame b;
          ASSERT_TRUE(banded.ConvertPicture(picture, b, *runner, &error)) << error;
          EXPECT_TRUE(b.pixels == f.pixels) << "reading in " << runner->Threads() << " bands";
          EXPECT_EQ(b.pts, f.pts);
        }
        frames.push_back(f);
      }
      av_frame_free(&picture);
      ASSERT_EQ(frames.size(), 2u) << error;
      // Back to each format: WriteVideo converts the whole picture at once.
      for (const char* outFmt : {"yuv420p", "yuv444p", "yuv422p10le", "gbrp", "bgra"}) {
        SCOPED_TRACE(outFmt);
        WriterSettings ws;
        ws.codec = "rawvideo";
        ws.pixFmt = outFmt;
        ws.quality = quality;
        VideoWriter writer;
        ASSERT_TRUE(writer.Open(dir / "whole.nut", dir / "whole.nut", whole.info(), nullptr, ws, &error)) << error;
        for (const Frame& f : frames) ASSERT_TRUE(writer.WriteVideo(f, &error)) << error;
        ASSERT_TRUE(writer.Finish(&error)) << error;
        const auto expected = ReadBytes(dir / "whole.nut");
        for (const auto& runner : runners) {
          VideoWriter w;
          ASSERT_TRUE(w.Open(dir / "banded.nut", dir / "banded.nut", whole.info(), nullptr, ws, &error)) << error;
          AVFrame* out = av_frame_alloc();
          for (const Frame& f : frames) {
            ASSERT_TRUE(w.ConvertPicture(f, out, *runner, &error)) << error;
            ASSERT_TRUE(w.EncodePicture(out, f.pts, &error)) << error;
          }
          av_frame_free(&out);
          ASSERT_TRUE(w.Finish(&error)) << error;
          const auto got = ReadBytes(dir / "banded.nut");
          size_t at = 0;
          while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
          EXPECT_TRUE(got == expected) << "writing in " << runner->Threads() << " bands, differs at " << at << " of " << got.size() << "/" << expected.size();
        }
      }
    }
  }
}

#if defined(__x86_64__)
// Every x86-64 processor has SSE2; newer ones add SSE4, AVX2 and AVX-512,
// and swscale picks its code by what the processor has. Both directions of
// the conversion, in both qualities, must give the same bytes whichever of
// those it picks. swscale's plain C code (0: no vector code at all, as on
// processors it has no vector code for) gives the same bytes too, except
// for the fast conversion from YUV, which rounds differently there.
TEST_F(RenderFilesTest, ConversionsGiveTheSameBytesOnEveryX86Processor) {
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 3 -vf noise=alls=12:allf=t "
                     "-pix_fmt yuv420p -c:v rawvideo " + (dir / "in.nut")));
  // swscale notes that it has no vector code with none allowed.
  const int logLevel = av_log_get_level();
  av_log_set_level(AV_LOG_ERROR);
  const int baseline = AV_CPU_FLAG_MMX | AV_CPU_FLAG_MMXEXT | AV_CPU_FLAG_SSE | AV_CPU_FLAG_SSE2 | AV_CPU_FLAG_CMOV;
  const int sse4 = baseline | AV_CPU_FLAG_SSE3 | AV_CPU_FLAG_SSSE3 | AV_CPU_FLAG_SSE4 | AV_CPU_FLAG_SSE42;
  const int avx2 = sse4 | AV_CPU_FLAG_AVX | AV_CPU_FLAG_AVX2 | AV_CPU_FLAG_FMA3;
  for (const ScaleQuality quality : {ScaleQuality::Fast, ScaleQuality::Accurate}) {
    SCOPED_TRACE(quality == ScaleQuality::Fast ? "fast" : "accurate");
    std::vector<uint8_t> firstIn, firstOut;
    std::vector<Frame> firstFrames;  // the writer converts the same pictures at every level
    for (const int flags : {baseline, sse4, avx2, -1, 0}) {
      SCOPED_TRACE(flags);
      // Only what this processor has can be asked for.
      av_force_cpu_flags(-1);
      if (flags > 0 && (av_get_cpu_flags() & flags) != flags) continue;
      av_force_cpu_flags(flags);
      std::string error;
      VideoReader reader;
      ASSERT_TRUE(reader.Open(dir / "in.nut", &error)) << error;
      InputConversion conversion;
      conversion.quality = quality;
      reader.SetConversion(conversion);
      std::vector<Frame> frames;
      for (Frame f; reader.Next(f, &error) == 1;) frames.push_back(f);
      ASSERT_EQ(frames.size(), 3u) << error;
      if (firstFrames.empty()) firstFrames = frames;
      VideoWriter writer;
      WriterSettings ws;
      ws.codec = "rawvideo";
      ws.pixFmt = "yuv420p";
      ws.quality = quality;
      ASSERT_TRUE(writer.Open(dir / "out.nut", dir / "out.nut", reader.info(), nullptr, ws, &error)) << error;
      for (const Frame& f : firstFrames) ASSERT_TRUE(writer.WriteVideo(f, &error)) << error;
      ASSERT_TRUE(writer.Finish(&error)) << error;
      const auto in = Concat(frames), out = ReadBytes(dir / "out.nut");
      if (firstIn.empty()) {
        firstIn = in;
        firstOut = out;
      } else {
        if (flags != 0 || quality == ScaleQuality::Accurate) EXPECT_TRUE(in == firstIn) << "YUV to BGRA";
        else EXPECT_FALSE(in == firstIn) << "the plain code now rounds as the vector code: say so in the README";
        EXPECT_TRUE(out == firstOut) << "BGRA to YUV";
      }
    }
  }
  av_force_cpu_flags(-1);
  av_log_set_level(logLevel);
  // The fast path's output is our own conversion: the same bytes with the
  // plain kernels as with the vector ones.
  std::string error;
  VideoReader reader;
  ASSERT_TRUE(reader.Open(dir / "in.nut", &error)) << error;
  std::vector<Frame> frames;
  for (Frame f; reader.Next(f, &error) == 1;) frames.push_back(f);
  std::vector<uint8_t> outputs[2];
  for (int i = 0; i < 2; ++i) {
    SetKernelLevelCap(i == 0 ? KernelLevel::Scalar : KernelLevel::Avx2);
    VideoWriter writer;
    WriterSettings ws;
    ws.codec = "rawvideo";
    ws.pixFmt = "yuv420p";
    ASSERT_TRUE(writer.Open(dir / "out.nut", dir / "out.nut", reader.info(), nullptr, ws, &error)) << error;
    for (const Frame& f : frames) ASSERT_TRUE(writer.WriteVideo(f, &error)) << error;
    ASSERT_TRUE(writer.Finish(&error)) << error;
    outputs[i] = ReadBytes(dir / "out.nut");
  }
  SetKernelLevelCap(KernelLevel::Avx2);
  EXPECT_TRUE(outputs[0] == outputs[1]) << "BGRA to YUV, plain and vector kernels";
}
#endif

}  // namespace
}  // namespace tarvo::cli::test
