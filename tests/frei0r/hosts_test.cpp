// Real frei0r hosts from the system's packages loading tarvo.so: the result
// must be bit-identical to the engine driven directly with the same record.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "metadata.h"
#include "params.h"
#include "reference.h"
#include "types/frame_view.h"
#include "util/specs_file.h"

namespace tarvo::frei0r {
namespace {

namespace fs = std::filesystem;
using test::Clip;

class Frei0rHosts : public testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "ffmpeg and melt cannot load a plug-in built with the address sanitizer";
#endif
    dir_ = fs::temp_directory_path() / ("tarvo_frei0r_hosts_" + std::to_string(::getpid()) + "_" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // The children find the plug-in in the build folder and keep their
    // options apart from the user's.
    setenv("FREI0R_PATH", TARVO_FREI0R_DIR, 1);
    setenv("TARVO_REGISTRY", Path("registry.reg").c_str(), 1);
    unsetenv("TARVO_OPMODE");
  }
  void TearDown() override {
    if (!dir_.empty() && !HasFailure()) fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs a shell command with its output in a log; returns the exit status.
  int Run(const std::string& command) {
    const std::string log = Path("log.txt");
    const int rc = std::system((command + " >>'" + log + "' 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string Log() const {
    std::ifstream f(Path("log.txt"));
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

  std::string WriteRecord(const std::string& name, const TSpecs& specs) {
    std::string error;
    EXPECT_TRUE(WriteSpecsFile(Path(name), specs, &error)) << error;
    return Path(name);
  }

  static std::string Size(const Clip& c) { return std::to_string(c.width) + "x" + std::to_string(c.height); }

  // The first line a command prints on standard output ("" when it fails).
  std::string Output(const std::string& command) {
    const std::string out = Path("stdout.txt");
    if (Run("{ " + command + " >'" + out + "'; }") != 0) return "";
    std::ifstream f(out);
    std::string line;
    std::getline(f, line);
    return line;
  }

  // An interlaced clip through `tarvo render --raw --fields tff`, which must
  // differ from the clip rendered as progressive.
  Clip CliFields(const std::string& raw, const Clip& clip, const TSpecs& specs) {
    Clip cli = CliRender(raw, clip, specs, " --fields tff");
    EXPECT_EQ(test::FirstDifference(cli, test::ReferenceRender(clip, specs, 1)), "") << "tarvo render --fields tff";
    EXPECT_NE(test::FirstDifference(cli, test::ReferenceRender(clip, specs)), "") << "fields change nothing here";
    return cli;
  }

  // ffmpeg reading raw BGRA at 25 fps.
  std::string FfmpegInput(const std::string& raw, const Clip& c) {
    return std::string(TARVO_FFMPEG) + " -nostdin -hide_banner -loglevel error -f rawvideo -pix_fmt bgra -s " +
           Size(c) + " -r 25 -i '" + raw + "'";
  }
  static std::string RawOut(const std::string& path) { return " -f rawvideo -pix_fmt bgra -y '" + path + "'"; }

  // The clip, written to in.raw, through FFmpeg's frei0r filter with these
  // filter_params. An empty clip, with the failure reported, when FFmpeg
  // fails or gives back another number of frames.
  Clip FfmpegRender(const Clip& clip, const std::string& params) {
    if (!test::WriteRaw(Path("in.raw"), clip)) {
      ADD_FAILURE() << "cannot write " << Path("in.raw");
      return {};
    }
    if (Run(FfmpegInput(Path("in.raw"), clip) + " -vf 'frei0r=filter_name=tarvo:filter_params=" + params + "'" +
            RawOut(Path("out.raw"))) != 0) {
      ADD_FAILURE() << "ffmpeg failed\n" << Log();
      return {};
    }
    Clip got = test::ReadRaw(Path("out.raw"), clip.width, clip.height);
    if (got.frames.size() != clip.frames.size()) {
      ADD_FAILURE() << "ffmpeg gave " << got.frames.size() << " frames of " << clip.frames.size() << "\n" << Log();
      return {};
    }
    return got;
  }

  // The same clip through the tarvo command (`tarvo render --raw`) with a
  // copy of the record (the command writes the record back after the run).
  // Returns an empty clip when the command is not built.
  Clip CliRender(const std::string& raw, const Clip& clip, const TSpecs& specs, const std::string& extra = "") {
    Clip none;
    if (std::string(TARVO_CLI).empty()) return none;
    const std::string rec = WriteRecord("cli.rec", specs);
    const std::string out = Path("cli.raw");
    EXPECT_EQ(Run(std::string(TARVO_CLI) + " render '" + raw + "' '" + out + "' --raw " + Size(clip) +
                  " --record '" + rec + "' -q" + extra),
              0)
        << Log();
    return test::ReadRaw(out, clip.width, clip.height);
  }

  // The result must equal the engine driven directly and, when it is built,
  // the tarvo command's.
  void ExpectReference(const Clip& got, const Clip& clip, const TSpecs& specs, const std::string& raw) {
    EXPECT_EQ(test::FirstDifference(got, test::ReferenceRender(clip, specs)), "") << "against the engine";
    const Clip cli = CliRender(raw, clip, specs);
    if (cli.frames.empty()) return;
    ASSERT_EQ(cli.frames.size(), clip.frames.size()) << Log();
    EXPECT_EQ(test::FirstDifference(got, cli), "") << "against tarvo render --raw";
  }

  fs::path dir_;
};

#define REQUIRE_PROGRAM(p) \
  if (std::string(p).empty()) GTEST_SKIP() << #p " not installed"

TEST_F(Frei0rHosts, FfmpegWithARecordMatchesTheEngine) {
  REQUIRE_PROGRAM(TARVO_FFMPEG);
  const TSpecs specs = test::TemporalRecord();
  const std::string rec = WriteRecord("clip.rec", specs);
  // At width 720 FFmpeg 5.1 passes a garbage time with every frame; the run
  // must go on all the same.
  for (int width : {320, 720}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const Clip clip = test::MakeClip(width, 48, 8, 31);
    const Clip got = FfmpegRender(clip, rec);
    ASSERT_FALSE(got.frames.empty());
    ExpectReference(got, clip, specs, Path("in.raw"));
    // A run broken at every frame would differ from the second frame on.
    TSpecs still = specs;
    still.TempYThreshold = still.TempCThreshold = 0;
    EXPECT_NE(test::FirstDifference(got, test::ReferenceRender(clip, still)), "");
  }
}

TEST_F(Frei0rHosts, FfmpegWithEveryParameterGivenPositionallyMatchesTheEngine) {
  REQUIRE_PROGRAM(TARVO_FFMPEG);
  const Clip clip = test::MakeClip(160, 64, 6, 32);
  TSpecs specs = test::TemporalRecord();
  specs.NoiseMaskYOnly = 0;  // a switch that differs from its default
  // filter_params: values separated by '|', in parameter order; strings as
  // they are (empty: none), doubles as numbers, booleans as y/n.
  const std::string params = FfmpegParams(specs);
  EXPECT_EQ(params.substr(0, 2), "||");
  const Clip got = FfmpegRender(clip, params);
  ASSERT_FALSE(got.frames.empty());
  EXPECT_EQ(test::FirstDifference(got, test::ReferenceRender(clip, specs)), "");
}

TEST_F(Frei0rHosts, FfmpegWithTopFieldFirstMatchesTheCommand) {
  REQUIRE_PROGRAM(TARVO_FFMPEG);
  REQUIRE_PROGRAM(TARVO_CLI);
  const Clip clip = test::MakeClip(160, 64, 8, 36);
  const TSpecs specs = test::TemporalRecord();
  const std::string rec = WriteRecord("clip.rec", specs);
  // The installed command writes the whole positional list.
  const std::string params =
      Output(std::string(TARVO_CLI) + " frei0r-params --record '" + rec + "' --fields tff");
  ASSERT_EQ(params, FfmpegParams(specs, FieldOrder::TopFirst)) << Log();
  const Clip got = FfmpegRender(clip, params);
  ASSERT_FALSE(got.frames.empty());
  const Clip cli = CliFields(Path("in.raw"), clip, specs);
  ASSERT_EQ(cli.frames.size(), clip.frames.size()) << Log();
  EXPECT_EQ(test::FirstDifference(got, cli), "");
}

// Frames wider than a video host's descriptor can describe (DCI 4K, 8K UHD):
// processed, bit for bit as the engine and `tarvo render --raw` process them.
TEST_F(Frei0rHosts, FfmpegAtWidths4096And7680MatchesTheCommand) {
  REQUIRE_PROGRAM(TARVO_FFMPEG);
  const TSpecs specs = test::TemporalRecord();
  const std::string rec = WriteRecord("clip.rec", specs);
  for (int width : {4096, 7680}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const Clip clip = test::MakeClip(width, 32, 3, 38);
    const Clip got = FfmpegRender(clip, rec);
    ASSERT_FALSE(got.frames.empty());
    ExpectReference(got, clip, specs, Path("in.raw"));
    EXPECT_NE(test::FirstDifference(got, clip), "") << "passed through unprocessed";
  }
}

TEST_F(Frei0rHosts, FfmpegReportsFramesTooWideAsAnError) {
  REQUIRE_PROGRAM(TARVO_FFMPEG);
  // Frames the engine cannot take must fail the command, not pass through
  // unprocessed with success.
  const Clip clip = test::MakeClip(kMaxOwnFrameWidth + 1, 8, 2, 37);
  ASSERT_TRUE(test::WriteRaw(Path("in.raw"), clip));
  EXPECT_NE(Run(FfmpegInput(Path("in.raw"), clip) + " -vf frei0r=filter_name=tarvo" + RawOut(Path("out.raw"))), 0)
      << Log();
  EXPECT_NE(Log().find("at most " + std::to_string(kMaxOwnFrameWidth) + " pixels wide"), std::string::npos) << Log();
}

TEST_F(Frei0rHosts, FfmpegTwoInstancesInOneGraphKeepTheirOwnHistory) {
  REQUIRE_PROGRAM(TARVO_FFMPEG);
  const Clip a = test::MakeClip(160, 64, 8, 34);
  const Clip b = test::MakeClip(160, 64, 8, 35);
  const TSpecs specs = test::TemporalRecord();
  ASSERT_TRUE(test::WriteRaw(Path("a.raw"), a));
  ASSERT_TRUE(test::WriteRaw(Path("b.raw"), b));
  const std::string rec = WriteRecord("clip.rec", specs);
  const std::string input = " -f rawvideo -pix_fmt bgra -s " + Size(a) + " -r 25 -i '";
  const std::string f0r = "frei0r=filter_name=tarvo:filter_params=" + rec;
  ASSERT_EQ(Run(std::string(TARVO_FFMPEG) + " -nostdin -hide_banner -loglevel error" + input + Path("a.raw") + "'" +
                input + Path("b.raw") + "' -filter_complex '[0:v]" + f0r + "[x];[1:v]" + f0r +
                "[y]' -map '[x]'" + RawOut(Path("oa.raw")) + " -map '[y]'" + RawOut(Path("ob.raw"))),
            0)
      << Log();
  const Clip ga = test::ReadRaw(Path("oa.raw"), a.width, a.height);
  const Clip gb = test::ReadRaw(Path("ob.raw"), b.width, b.height);
  ASSERT_EQ(ga.frames.size(), a.frames.size()) << Log();
  ASSERT_EQ(gb.frames.size(), b.frames.size()) << Log();
  EXPECT_EQ(test::FirstDifference(ga, test::ReferenceRender(a, specs)), "");
  EXPECT_EQ(test::FirstDifference(gb, test::ReferenceRender(b, specs)), "");
}

// `cmake --install` into an empty prefix gives everything a user needs: the
// hosts load the plug-in from <prefix>/lib/frei0r-1, the metadata lies in
// <prefix>/share/mlt-7/frei0r and <prefix>/share/kdenlive/effects, and the
// installed command writes FFmpeg's parameter list.
TEST_F(Frei0rHosts, InstallIntoAFreshPrefixServesTheHosts) {
  REQUIRE_PROGRAM(TARVO_FFMPEG);
  REQUIRE_PROGRAM(TARVO_CLI);
  const fs::path prefix = dir_ / "prefix";
  // The install rewrites the build folder's list of installed files, which
  // the uninstall target reads: the user's own install keeps its list.
  const fs::path manifest = fs::path(TARVO_BUILD_DIR) / "install_manifest.txt";
  const fs::path saved = dir_ / "install_manifest.txt";
  std::error_code ec;
  const bool hadManifest = fs::copy_file(manifest, saved, ec);
  const int rc =
      Run(std::string(TARVO_CMAKE) + " --install '" + TARVO_BUILD_DIR + "' --prefix '" + prefix.string() + "'");
  if (hadManifest)
    fs::copy_file(saved, manifest, fs::copy_options::overwrite_existing, ec);
  else
    fs::remove(manifest, ec);
  ASSERT_EQ(rc, 0) << Log();
  const fs::path plugins = prefix / "lib" / "frei0r-1";
  ASSERT_TRUE(fs::exists(plugins / "tarvo.so")) << Log();
  EXPECT_TRUE(fs::exists(prefix / "share" / "mlt-7" / "frei0r" / "filter_frei0r.tarvo.yml")) << Log();
  EXPECT_TRUE(fs::exists(prefix / "share" / "kdenlive" / "effects" / "frei0r_tarvo.xml")) << Log();
  for (const char* qml : {"meta.qml", "ui.qml"})
    EXPECT_TRUE(fs::exists(prefix / "share" / "shotcut" / "qml" / "filters" / "tarvo" / qml)) << qml << Log();
  setenv("FREI0R_PATH", plugins.c_str(), 1);
  const Clip clip = test::MakeClip(160, 64, 6, 38);
  TSpecs specs = test::TemporalRecord();
  specs.NoiseMaskYOnly = 0;
  const std::string params = Output((prefix / "bin" / "tarvo").string() + " frei0r-params --record '" +
                                    WriteRecord("clip.rec", specs) + "'");
  ASSERT_EQ(params, FfmpegParams(specs)) << Log();
  const Clip got = FfmpegRender(clip, params);
  ASSERT_FALSE(got.frames.empty());
  EXPECT_EQ(test::FirstDifference(got, test::ReferenceRender(clip, specs)), "");
}

// GStreamer's frei0r wrapper (gst-plugins-bad) offers the plug-in as the
// element frei0r-filter-tarvo, its parameters as lower-case properties.
TEST_F(Frei0rHosts, GstreamerMatchesTheCommand) {
  REQUIRE_PROGRAM(TARVO_GST_LAUNCH);
  REQUIRE_PROGRAM(TARVO_CLI);
  // A private plug-in registry: the scan finds the plug-in through
  // FREI0R_PATH and leaves the user's cache alone.
  setenv("GST_REGISTRY", Path("gst-registry.bin").c_str(), 1);
  const TSpecs specs = test::TemporalRecord();
  const std::string rec = WriteRecord("clip.rec", specs);
  // GStreamer passes exact rows at any width, 721 included.
  for (int width : {160, 721}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const Clip clip = test::MakeClip(width, 48, 8, 50);
    ASSERT_TRUE(test::WriteRaw(Path("in.raw"), clip));
    const int rc = Run(std::string(TARVO_GST_LAUNCH) + " -q filesrc location='" + Path("in.raw") + "' blocksize=" +
                       std::to_string(width * clip.height * 4) + " ! rawvideoparse format=bgra width=" +
                       std::to_string(width) + " height=" + std::to_string(clip.height) +
                       " framerate=25/1 ! frei0r-filter-tarvo record='" + rec + "' ! filesink location='" +
                       Path("out.raw") + "' </dev/null");
    ASSERT_EQ(rc, 0) << Log();
    const Clip got = test::ReadRaw(Path("out.raw"), clip.width, clip.height);
    ASSERT_EQ(got.frames.size(), clip.frames.size()) << Log();
    ExpectReference(got, clip, specs, Path("in.raw"));
  }
  // Field order and a single setting by property, as the README shows.
  const Clip clip = test::MakeClip(160, 64, 8, 51);
  ASSERT_TRUE(test::WriteRaw(Path("in.raw"), clip));
  ASSERT_EQ(Run(std::string(TARVO_GST_LAUNCH) + " -q filesrc location='" + Path("in.raw") + "' blocksize=" +
                std::to_string(160 * 64 * 4) +
                " ! rawvideoparse format=bgra width=160 height=64 framerate=25/1 ! frei0r-filter-tarvo record='" +
                rec + "' fields=tff ! filesink location='" + Path("out.raw") + "' </dev/null"),
            0)
      << Log();
  const Clip got = test::ReadRaw(Path("out.raw"), clip.width, clip.height);
  ASSERT_EQ(got.frames.size(), clip.frames.size()) << Log();
  const Clip cli = CliFields(Path("in.raw"), clip, specs);
  ASSERT_EQ(cli.frames.size(), clip.frames.size()) << Log();
  EXPECT_EQ(test::FirstDifference(got, cli), "");
}

// Shotcut's filter files are QML that Shotcut loads as they are; a syntax
// error would hide the filter.
TEST_F(Frei0rHosts, ShotcutFilesAreValidQml) {
  REQUIRE_PROGRAM(TARVO_QMLLINT);
  for (const char* name : {"meta.qml", "ui.qml"}) {
    EXPECT_EQ(Run(std::string(TARVO_QMLLINT) + " '" + TARVO_SOURCE_DIR + "/hosts/frei0r/shotcut/" + name + "'"), 0)
        << name << "\n" << Log();
  }
}

class MeltHost : public Frei0rHosts {
 protected:
  // A lossless source clip and a profile of its size, so that MLT neither
  // scales nor converts through YUV.
  std::string Prepare(const Clip& clip) {
    EXPECT_TRUE(test::WriteRaw(Path("in.raw"), clip));
    EXPECT_EQ(Run(FfmpegInput(Path("in.raw"), clip) + " -c:v rawvideo -pix_fmt bgra -y '" + Path("in.nut") + "'"), 0)
        << Log();
    std::ofstream p(Path("profile"));
    p << "description=test\nframe_rate_num=25\nframe_rate_den=1\nwidth=" << clip.width << "\nheight="
      << clip.height << "\nprogressive=1\nsample_aspect_num=1\nsample_aspect_den=1\ndisplay_aspect_num="
      << clip.width << "\ndisplay_aspect_den=" << clip.height << "\ncolorspace=709\n";
    return std::string(TARVO_MELT) + " -silent -profile '" + Path("profile") + "' '" + Path("in.nut") +
           "' in=0 out=" + std::to_string(clip.frames.size() - 1);
  }
  std::string Consumer(const std::string& out, int realTime = -1) {
    return " -consumer 'avformat:" + out + "' f=rawvideo vcodec=rawvideo pix_fmt=bgra real_time=" +
           std::to_string(realTime);
  }
  // A private MLT data folder (for MLT_DATA): the system's files, with our
  // generated metadata in place of any installed copy. Empty when the system
  // has no MLT data folder.
  std::string MltDataFolder() {
    const fs::path system = "/usr/share/mlt-7";
    if (!fs::is_directory(system / "frei0r")) return "";
    const fs::path data = dir_ / "mlt";
    fs::create_directories(data / "frei0r");
    for (const auto& e : fs::directory_iterator(system))
      if (e.path().filename() != "frei0r") fs::create_directory_symlink(e.path(), data / e.path().filename());
    const fs::path yml = fs::path(TARVO_FREI0R_YML).filename();
    for (const auto& e : fs::directory_iterator(system / "frei0r"))
      if (e.path().filename() != yml)  // installed earlier: ours replaces it
        fs::create_symlink(e.path(), data / "frei0r" / e.path().filename());
    fs::copy_file(TARVO_FREI0R_YML, data / "frei0r" / yml);
    return data.string();
  }
  // melt 7.12 itself now and then hangs at the end of a render under load: its
  // consumer thread has finished and the main loop sleeps on, waiting for a stop
  // that never comes (seen with a bare consumer and no filter at all). Such a
  // run is stopped by a time limit and tried again; a filter that broke melt
  // would fail all three tries.
  void RenderWithMelt(const std::string& command, const Clip& clip) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      std::error_code ec;
      fs::remove(Path("out.raw"), ec);
      const int rc = Run("timeout -k 5 30 " + command + " </dev/null");
      if (rc == 0 && test::ReadRaw(Path("out.raw"), clip.width, clip.height).frames.size() + 1 >= clip.frames.size())
        return;
    }
    ADD_FAILURE() << "melt did not finish a render in three tries\n" << Log();
  }
  // melt may leave out the last frame; everything it writes must match.
  void ExpectMatches(const Clip& clip, const TSpecs& specs) {
    const Clip got = test::ReadRaw(Path("out.raw"), clip.width, clip.height);
    ASSERT_GE(got.frames.size() + 1, clip.frames.size()) << Log();
    ExpectReference(got, clip, specs, Path("in.raw"));
  }
};

TEST_F(MeltHost, RecordMatchesTheEngine) {
  REQUIRE_PROGRAM(TARVO_MELT);
  const Clip clip = test::MakeClip(320, 96, 8, 41);
  const TSpecs specs = test::TemporalRecord();
  const std::string melt = Prepare(clip);
  const std::string rec = WriteRecord("clip.rec", specs);
  RenderWithMelt(melt + " -filter frei0r.tarvo 'record=" + rec + "'" + Consumer(Path("out.raw")), clip);
  ExpectMatches(clip, specs);
}

TEST_F(MeltHost, TopFieldFirstMatchesTheCommand) {
  REQUIRE_PROGRAM(TARVO_MELT);
  REQUIRE_PROGRAM(TARVO_CLI);
  const Clip clip = test::MakeClip(160, 64, 8, 43);
  const TSpecs specs = test::TemporalRecord();
  const std::string melt = Prepare(clip);
  const std::string rec = WriteRecord("clip.rec", specs);
  RenderWithMelt(melt + " -filter frei0r.tarvo 'record=" + rec + "' fields=tff" + Consumer(Path("out.raw")), clip);
  const Clip got = test::ReadRaw(Path("out.raw"), clip.width, clip.height);
  ASSERT_GE(got.frames.size() + 1, clip.frames.size()) << Log();
  const Clip cli = CliFields(Path("in.raw"), clip, specs);
  ASSERT_EQ(cli.frames.size(), clip.frames.size()) << Log();
  EXPECT_EQ(test::FirstDifference(got, cli), "");
}

// Kdenlive's and Shotcut's "parallel processing" is MLT's real_time below -1:
// several render threads, each with an instance of its own, take the frames
// in turn. The instances of one filter share one and let the frames through
// in order, so every render matches one thread's, run after run; a second
// filter on the clip keeps its own history.
TEST_F(MeltHost, ParallelRendersMatchOneThread) {
  REQUIRE_PROGRAM(TARVO_MELT);
  const Clip clip = test::MakeClip(160, 64, 30, 53);
  const TSpecs specs = test::TemporalRecord();
  TSpecs second = BuiltInDefaultSpecs();
  second.TempYThreshold = 30;
  second.TempFlags = 3;
  const std::string melt = Prepare(clip);
  const std::string filters = " -filter frei0r.tarvo 'record=" + WriteRecord("clip.rec", specs) +
                              "' -filter frei0r.tarvo 'record=" + WriteRecord("second.rec", second) + "'";
  Clip expected = test::ReferenceRender(test::ReferenceRender(clip, specs), second);
  for (int realTime : {-1, -2, -4}) {
    for (int run = 0; run < (realTime == -1 ? 1 : 3); ++run) {
      SCOPED_TRACE("real_time=" + std::to_string(realTime) + ", run " + std::to_string(run));
      RenderWithMelt(melt + filters + Consumer(Path("out.raw"), realTime), clip);
      const Clip got = test::ReadRaw(Path("out.raw"), clip.width, clip.height);
      ASSERT_GE(got.frames.size() + 1, clip.frames.size()) << Log();
      EXPECT_EQ(test::FirstDifference(got, expected), "");
    }
  }
}

// MLT reads a string holding '=' as a keyframe ("TIME=VALUE") and keeps only
// what follows the last '='; a keyframe at 0 in front passes the whole path.
TEST_F(MeltHost, RecordPathWithAnEqualsSignLoadsThroughAKeyframeAtZero) {
  REQUIRE_PROGRAM(TARVO_MELT);
  const Clip clip = test::MakeClip(160, 64, 6, 45);
  const TSpecs specs = test::TemporalRecord();
  const std::string melt = Prepare(clip);
  fs::create_directories(dir_ / "take=2");
  const std::string rec = WriteRecord("take=2/clip.rec", specs);
  RenderWithMelt(melt + " -filter frei0r.tarvo 'record=0=" + rec + "'" + Consumer(Path("out.raw")), clip);
  EXPECT_EQ(Log().find("not loaded"), std::string::npos) << Log();
  ExpectMatches(clip, specs);
}

// FFmpeg 5.1 hands frei0r filters padded rows at widths that are not a
// multiple of 16; MLT does not, and renders such widths exactly.
TEST_F(MeltHost, WidthsNotAMultipleOfSixteenMatchTheEngine) {
  REQUIRE_PROGRAM(TARVO_MELT);
  const TSpecs specs = test::TemporalRecord();
  for (int width : {721, 854}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const Clip clip = test::MakeClip(width, 24, 5, 46);
    const std::string melt = Prepare(clip);
    const std::string rec = WriteRecord("clip.rec", specs);
    RenderWithMelt(melt + " -filter frei0r.tarvo 'record=" + rec + "'" + Consumer(Path("out.raw")), clip);
    ExpectMatches(clip, specs);
  }
}

// MLT cuts a frame into strips for a filter whose "threads" property is set
// and calls the instance, made at the strip's height, once per strip; the
// adapter puts the strips together again. MLT_SLICES_COUNT gives MLT more
// slice threads than this machine has cores, so that three and four strips
// are cut too.
TEST_F(MeltHost, SliceThreadsGiveTheFramesOfTheCommand) {
  REQUIRE_PROGRAM(TARVO_MELT);
  const Clip clip = test::MakeClip(160, 96, 8, 47);
  TSpecs specs = test::TemporalRecord();
  specs.YDespeckle = 3;
  const std::string melt = Prepare(clip);
  const std::string rec = WriteRecord("clip.rec", specs);
  for (int threads : {2, 3, 4}) {
    SCOPED_TRACE("threads=" + std::to_string(threads));
    RenderWithMelt("env MLT_SLICES_COUNT=4 " + melt + " -filter frei0r.tarvo 'record=" + rec +
                       "' threads=" + std::to_string(threads) + Consumer(Path("out.raw")),
                   clip);
    ExpectMatches(clip, specs);
  }
}

// Kdenlive writes every parameter of its effect file into the project, at
// the file's defaults unless changed; the record chosen there must survive.
TEST_F(MeltHost, KdenliveDefaultsForEveryParameterKeepTheRecord) {
  REQUIRE_PROGRAM(TARVO_MELT);
  std::ifstream f(TARVO_KDENLIVE_XML);
  ASSERT_TRUE(f) << TARVO_KDENLIVE_XML;
  std::stringstream xml;
  xml << f.rdbuf();
  if (!std::string(TARVO_XMLLINT).empty()) {
    EXPECT_EQ(Run(std::string(TARVO_XMLLINT) + " --noout '" + TARVO_KDENLIVE_XML + "'"), 0) << Log();
  }
  const Clip clip = test::MakeClip(160, 64, 6, 47);
  const TSpecs specs = test::TemporalRecord();
  const std::string melt = Prepare(clip);
  std::string properties = " 'record=" + WriteRecord("clip.rec", specs) + "'";
  const std::string text = xml.str();
  for (const Param& p : Params()) {
    if (p.name == "record") continue;
    const size_t at = text.find("name=\"" + p.name + "\" default=\"");
    ASSERT_NE(at, std::string::npos) << p.name;
    const size_t from = text.find("default=\"", at) + 9;
    const std::string value = text.substr(from, text.find('"', from) - from);
    if (!value.empty()) properties += " '" + p.name + "=" + value + "'";
  }
  RenderWithMelt(melt + " -filter frei0r.tarvo" + properties + Consumer(Path("out.raw")), clip);
  ExpectMatches(clip, specs);
}

// An editor's project file (MLT XML) with the filter on the clip, as the
// editor saves it, rendered by melt in place of the editor's own render.
class ProjectHost : public MeltHost {
 protected:
  // Escapes text for an XML element.
  static std::string Xml(const std::string& s) {
    std::string out;
    for (char c : s) {
      if (c == '&') out += "&amp;";
      else if (c == '<') out += "&lt;";
      else if (c == '>') out += "&gt;";
      else out += c;
    }
    return out;
  }
  // A keyframe string at the clip's start and at its fourth frame, both with
  // the same value, in the time form the editors write ("00:00:00.000=0.4").
  static std::string Keyframed(double v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "00:00:00.000=%.9g;00:00:00.120=%.9g", v, v);
    return buf;
  }
  // Writes project.mlt: the clip as `element` ("chain" as Shotcut writes it,
  // "producer" as Kdenlive does) with one filter holding `properties`, on
  // one track; returns the melt command that renders it. With `consumer`
  // (the attributes of a consumer element, as a render script holds them)
  // the project also says where and how it is rendered.
  std::string Project(const Clip& clip, const std::string& element,
                      const std::vector<std::pair<std::string, std::string>>& properties,
                      const std::string& consumer = "") {
    Prepare(clip);
    const std::string last = std::to_string(clip.frames.size() - 1);
    std::ofstream x(Path("project.mlt"));
    x << "<?xml version=\"1.0\" standalone=\"no\"?>\n<mlt LC_NUMERIC=\"C\" version=\"7.12.0\" producer=\"main_bin\">\n"
      << "  <profile description=\"test\" width=\"" << clip.width << "\" height=\"" << clip.height
      << "\" progressive=\"1\" sample_aspect_num=\"1\" sample_aspect_den=\"1\" display_aspect_num=\"" << clip.width
      << "\" display_aspect_den=\"" << clip.height
      << "\" frame_rate_num=\"25\" frame_rate_den=\"1\" colorspace=\"709\"/>\n";
    if (!consumer.empty()) x << "  <consumer " << consumer << " in=\"0\" out=\"" << last << "\"/>\n";
    x << "  <" << element << " id=\"clip0\" in=\"0\" out=\"" << last << "\">\n"
      << "    <property name=\"length\">" << clip.frames.size() << "</property>\n"
      << "    <property name=\"resource\">" << Xml(Path("in.nut")) << "</property>\n"
      << "    <property name=\"mlt_service\">avformat</property>\n"
      << "    <filter id=\"filter0\" in=\"0\" out=\"" << last << "\">\n";
    for (const auto& [name, value] : properties)
      x << "      <property name=\"" << name << "\">" << Xml(value) << "</property>\n";
    x << "    </filter>\n  </" << element << ">\n"
      << "  <playlist id=\"playlist0\">\n    <entry producer=\"clip0\" in=\"0\" out=\"" << last << "\"/>\n"
      << "  </playlist>\n  <tractor id=\"tractor0\" in=\"0\" out=\"" << last << "\">\n"
      << "    <track producer=\"playlist0\"/>\n  </tractor>\n</mlt>\n";
    return std::string(TARVO_MELT) + " -silent -profile '" + Path("profile") + "' '" + Path("project.mlt") + "'";
  }
  // The frei0r value of a setting in the record's units.
  static double Value(const char* name, int16_t v) {
    for (const Param& p : Params())
      if (p.name == name && p.field) return ToParamValue(*p.field, v);
    ADD_FAILURE() << name;
    return 0;
  }
};

// Shotcut's panel (hosts/frei0r/shotcut/ui.qml) writes the record, the
// scene, the field order and its settings, at the built-in defaults when the
// filter is added; a setting given keyframes is written in the time form,
// and so is the record (a keyframe at 0, which Shotcut saves with the whole
// path even when the record lies in the project's folder). The project here
// is what Shotcut 22.12 saves. The record chosen there and the keyframed
// setting must both take effect.
TEST_F(ProjectHost, ShotcutProjectMatchesTheCommand) {
  REQUIRE_PROGRAM(TARVO_MELT);
  REQUIRE_PROGRAM(TARVO_CLI);
  const Clip clip = test::MakeClip(160, 64, 8, 48);
  const TSpecs record = test::TemporalRecord();
  TSpecs expected = record;
  expected.TempYThreshold = 25;  // keyframed in the project, over the record's 40
  const TSpecs defaults = BuiltInDefaultSpecs();
  std::vector<std::pair<std::string, std::string>> properties = {
      {"mlt_service", "frei0r.tarvo"}, {"shotcut:filter", "tarvo"},
      {"record", "00:00:00.000=" + WriteRecord("clip.rec", record)},
      {"scene", ""}, {"fields", "progressive"}};
  char buf[40];
  for (const char* name : {"Lift", "Gain", "Gamma", "Sat", "YDespeckle", "CDespeckle", "YSharpness", "TempCThreshold"}) {
    const SpecsField* f = FindSpecsField(name);
    ASSERT_NE(f, nullptr) << name;
    std::snprintf(buf, sizeof buf, "%.9g", Value(name, GetField(defaults, *f)));
    properties.emplace_back(name, buf);
  }
  properties.emplace_back("TempYThreshold", Keyframed(Value("TempYThreshold", 25)));
  RenderWithMelt(Project(clip, "chain", properties) + Consumer(Path("out.raw")), clip);
  ExpectMatches(clip, expected);
  // The keyframed setting took effect: the record alone gives other frames.
  EXPECT_NE(test::FirstDifference(test::ReadRaw(Path("out.raw"), clip.width, clip.height),
                                  test::ReferenceRender(clip, record)),
            "");
}

// Kdenlive writes every parameter of its effect file (frei0r_tarvo.xml) into
// the project: lists and check boxes as plain values, numbers as keyframe
// strings. The filter's properties as Kdenlive saves them, with `record`
// and YDespeckle keyframed to 3.
class KdenliveProject : public ProjectHost {
 protected:
  void KdenliveProperties(const std::string& record, std::vector<std::pair<std::string, std::string>>& properties) {
    std::ifstream f(TARVO_KDENLIVE_XML);
    ASSERT_TRUE(f) << TARVO_KDENLIVE_XML;
    std::stringstream xml;
    xml << f.rdbuf();
    const std::string text = xml.str();
    properties = {{"mlt_service", "frei0r.tarvo"}, {"kdenlive_id", "frei0r.tarvo"}, {"tag", "frei0r.tarvo"},
                  {"kdenlive:collapsed", "0"}, {"record", record}};
    for (const Param& p : Params()) {
      if (p.name == "record") continue;
      const size_t at = text.find("name=\"" + p.name + "\" default=\"");
      ASSERT_NE(at, std::string::npos) << p.name;
      const size_t from = text.find("default=\"", at) + 9;
      std::string value = text.substr(from, text.find('"', from) - from);
      const bool animated = text.rfind("<parameter type=\"animated\"", at) == text.rfind("<parameter ", at);
      if (p.name == "YDespeckle") {
        ASSERT_TRUE(animated);
        value = Keyframed(Value("YDespeckle", 3));
      } else if (animated) {
        value = "00:00:00.000=" + value;
      }
      properties.emplace_back(p.name, value);
    }
  }
};

// melt renders the project file as Kdenlive's render job does.
TEST_F(KdenliveProject, MeltRenderMatchesTheCommand) {
  REQUIRE_PROGRAM(TARVO_MELT);
  REQUIRE_PROGRAM(TARVO_CLI);
  const Clip clip = test::MakeClip(160, 64, 8, 49);
  const TSpecs record = test::TemporalRecord();
  TSpecs expected = record;
  expected.YDespeckle = 3;  // keyframed in the project, over the record's 2
  std::vector<std::pair<std::string, std::string>> properties;
  ASSERT_NO_FATAL_FAILURE(KdenliveProperties(WriteRecord("clip.rec", record), properties));
  RenderWithMelt(Project(clip, "producer", properties) + Consumer(Path("out.raw")), clip);
  ExpectMatches(clip, expected);
  EXPECT_NE(test::FirstDifference(test::ReadRaw(Path("out.raw"), clip.width, clip.height),
                                  test::ReferenceRender(clip, record)),
            "");
}

// Kdenlive's own renderer: kdenlive_render runs melt on the render script (the
// project with a consumer element), as the export dialog does. It needs a Qt
// platform; the offscreen one serves without a display.
TEST_F(KdenliveProject, KdenliveRenderMatchesTheCommand) {
  REQUIRE_PROGRAM(TARVO_KDENLIVE_RENDER);
  REQUIRE_PROGRAM(TARVO_MELT);
  REQUIRE_PROGRAM(TARVO_CLI);
  const Clip clip = test::MakeClip(160, 64, 10, 52);
  const TSpecs record = test::TemporalRecord();
  TSpecs expected = record;
  expected.YDespeckle = 3;
  std::vector<std::pair<std::string, std::string>> properties;
  ASSERT_NO_FATAL_FAILURE(KdenliveProperties(WriteRecord("clip.rec", record), properties));
  const std::string out = Path("out.raw");
  Project(clip, "producer", properties,
          "mlt_service=\"avformat\" target=\"" + Xml(out) +
              "\" f=\"rawvideo\" vcodec=\"rawvideo\" pix_fmt=\"bgra\" real_time=\"-1\"");
  fs::create_directories(dir_ / "runtime");
  fs::permissions(dir_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
  // A private home and runtime folder: the render job keeps its settings and
  // sockets there, away from the user's.
  RenderWithMelt("env QT_QPA_PLATFORM=offscreen HOME='" + dir_.string() + "' XDG_RUNTIME_DIR='" +
                     (dir_ / "runtime").string() + "' XDG_CONFIG_HOME='" + (dir_ / "config").string() + "' " +
                     TARVO_KDENLIVE_RENDER + " '" + TARVO_MELT + "' '" + Path("project.mlt") + "' '" + out + "'",
                 clip);
  const Clip got = test::ReadRaw(out, clip.width, clip.height);
  // kdenlive_render renders the consumer's whole range, the last frame
  // included.
  ASSERT_EQ(got.frames.size(), clip.frames.size()) << Log();
  ExpectReference(got, clip, expected, Path("in.raw"));
  EXPECT_NE(test::FirstDifference(got, test::ReferenceRender(clip, record)), "");
}

TEST_F(MeltHost, SceneFromTheSceneFileMatchesTheEngine) {
  REQUIRE_PROGRAM(TARVO_MELT);
  const Clip clip = test::MakeClip(160, 64, 8, 42);
  TSpecs scene = test::TemporalRecord();
  SetSceneName(scene, "Interview");
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(Path("SCENES.KVS"), scene, &error)) << error;
  {
    std::ofstream reg(Path("registry.reg"));
    reg << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n"
        << "\"SceneFile\"=\"" << Path("SCENES.KVS") << "\"\n";
  }
  const std::string melt = Prepare(clip);
  RenderWithMelt(melt + " -filter frei0r.tarvo scene=Interview" + Consumer(Path("out.raw")), clip);
  ExpectMatches(clip, scene);
}

TEST_F(MeltHost, ReadsTheGeneratedMetadata) {
  REQUIRE_PROGRAM(TARVO_MELT);
  const std::string data = MltDataFolder();
  if (data.empty()) GTEST_SKIP() << "no MLT data folder";
  setenv("MLT_DATA", data.c_str(), 1);
  const int rc = Run("timeout -k 5 60 " + std::string(TARVO_MELT) + " -query filter=frei0r.tarvo </dev/null");
  unsetenv("MLT_DATA");
  ASSERT_EQ(rc, 0) << Log();
  const std::string out = Log();
  EXPECT_NE(out.find("Temporal luminance threshold"), std::string::npos) << out;
  EXPECT_NE(out.find("identifier: TempYThreshold"), std::string::npos) << out;
}

}  // namespace
}  // namespace tarvo::frei0r
