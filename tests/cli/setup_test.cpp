// tarvo setup as the host of the filter's setup: the frames the frame
// callback delivers and what decoding them costs, what OK and Cancel leave in
// the record and project files, and the input refused before the filter is
// called. The stand-in plug-in plays the dialog (see fake_plugin.cpp).
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "cli_test_support.h"
#include "clip_frames.h"
#include "project_file.h"
#include "types/specs_fields.h"
#include "util/specs_file.h"

namespace tarvo::cli::test {
namespace {

const std::string kFake = TARVO_FAKE_PLUGIN;
const std::string kReal = TARVO_REAL_PLUGIN;
#ifdef TARVO_SETUP_DRIVER
const std::string kDriver = TARVO_SETUP_DRIVER;
#else
const std::string kDriver;
#endif

// Same pictures (every byte, the fourth too).
::testing::AssertionResult SamePicture(const Frame& got, const Frame& want) {
  if (got.width != want.width || got.height != want.height)
    return ::testing::AssertionFailure() << got.width << "x" << got.height << " instead of " << want.width << "x"
                                         << want.height;
  for (size_t i = 0; i < want.pixels.size(); ++i)
    if (got.pixels[i] != want.pixels[i])
      return ::testing::AssertionFailure() << "byte " << i << " (pixel " << i / 4 << ") is "
                                           << int(got.pixels[i]) << ", not " << int(want.pixels[i]);
  return ::testing::AssertionSuccess();
}

// `frame` scaled to w x h the way a host scales into the dialog's images:
// each target pixel takes the source pixel at (x * width / w, y * height / h).
std::vector<uint8_t> Sampled(const Frame& frame, int w, int h) {
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = frame.row(y * frame.height / h) + 4 * (x * frame.width / w);
      out.insert(out.end(), p, p + 4);
    }
  return out;
}

TSpecs ReadRecord(const std::string& path) {
  TSpecs s{};
  std::string error;
  EXPECT_TRUE(ReadSpecsFile(path, s, &error)) << error;
  return s;
}

// The stand-in plug-in marks a failed frame request in this byte.
int FailedRequestMark(const std::string& recordPath) { return ReadRecord(recordPath).Reserved174[4]; }

std::vector<uint8_t> Bytes(const TSpecs& s) {
  const auto* p = reinterpret_cast<const uint8_t*>(&s);
  return std::vector<uint8_t>(p, p + sizeof s);
}

class ClipFramesTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

// A clip of 60 frames whose key frames are 12 frames apart (the encoder's
// default group size), decoded once from start to end as the reference.
struct GopClip {
  std::string path;
  std::vector<Frame> decoded;
};

GopClip MakeGopClip(const ScratchDir& dir, const std::string& name, const std::string& codec) {
  GopClip c;
  c.path = dir / name;
  VideoInfo info;
  info.width = 64;
  info.height = 48;
  info.frameRate = AVRational{25, 1};
  info.timeBase = AVRational{1, 25};
  std::string error;
  EXPECT_TRUE(EncodeClip(c.path, MakeFrames(60, 64, 48), info, &error, codec)) << error;
  c.decoded = DecodeAll(c.path);
  return c;
}

TEST_F(ClipFramesTest, FramesBackAndForthAreTheRightOnesAndNeverDecodedFromTheStart) {
  // Containers with an index (seeking lands on the key frame before the
  // time) and without one (MPEG transport streams are sought by position).
  const std::vector<std::pair<std::string, std::string>> clips = {
      {"gop.mkv", "mpeg4"}, {"gop.mp4", "mpeg4"}, {"gop.mov", "mpeg4"},
      {"gop.avi", "mpeg4"}, {"gop.ts", "mpeg2video"}, {"gop2.mkv", "mpeg2video"}};
  for (const auto& [name, codec] : clips) {
    SCOPED_TRACE(name);
    const GopClip clip = MakeGopClip(dir, name, codec);
    ASSERT_EQ(clip.decoded.size(), 60u);
    ClipFrames frames(clip.path);
    std::string error;
    ASSERT_TRUE(frames.Open(&error)) << error;
    Frame f;
    // The cost of one request: pictures decoded for it.
    auto read = [&](int64_t n) {
      const int64_t before = frames.decodedFrames();
      EXPECT_TRUE(frames.ReadFrameAt(n, f, &error)) << n << ": " << error;
      EXPECT_TRUE(SamePicture(f, clip.decoded[static_cast<size_t>(n)])) << "frame " << n;
      return frames.decodedFrames() - before;
    };
    // Far into the clip, back, back by one, forward by one: each from a key
    // frame not long before (at most two groups), never from frame 0.
    for (int n : {50, 30, 29, 31, 0, 59, 13, 12, 11, 40, 20}) EXPECT_LE(read(n), 24) << "frame " << n;
    // Every frame asked for again comes from the cache.
    for (int n : {50, 30, 29, 31}) EXPECT_EQ(read(n), 0) << "frame " << n;
    EXPECT_FALSE(frames.ReadFrameAt(60, f, &error));
  }
}

TEST_F(ClipFramesTest, TheCacheKeepsTheMostRecentFramesWithinItsBounds) {
  // Raw frames: every frame read is counted, and a read costs exactly one.
  const std::vector<Frame> made = MakeFrames(8, 16, 12);
  WriteBytes(dir / "clip.raw", Concat(made));
  ClipFrames frames(dir / "clip.raw", 16, 12);
  frames.SetCacheLimits(3, ClipFrames::kDefaultCacheBytes);
  Frame f;
  std::string error;
  for (int n : {0, 1, 2, 3, 4}) ASSERT_TRUE(frames.ReadFrameAt(n, f, &error)) << error;
  EXPECT_EQ(frames.cachedFrames(), 3u);
  EXPECT_EQ(frames.decodedFrames(), 5);
  // 2, 3 and 4 are kept; using 2 makes 3 the oldest.
  for (int n : {4, 2, 3, 2}) {
    ASSERT_TRUE(frames.ReadFrameAt(n, f, &error)) << error;
    EXPECT_TRUE(SamePicture(f, made[static_cast<size_t>(n)])) << n;
  }
  EXPECT_EQ(frames.decodedFrames(), 5);
  ASSERT_TRUE(frames.ReadFrameAt(6, f, &error));  // drops 4, the least recently used
  ASSERT_TRUE(frames.ReadFrameAt(3, f, &error));
  EXPECT_EQ(frames.decodedFrames(), 6);
  ASSERT_TRUE(frames.ReadFrameAt(4, f, &error));
  EXPECT_EQ(frames.decodedFrames(), 7);
  EXPECT_TRUE(SamePicture(f, made[4]));

  // A byte bound of two and a half pictures keeps two.
  const size_t picture = 16 * 12 * 4;
  frames.SetCacheLimits(16, picture * 5 / 2);
  EXPECT_EQ(frames.cachedFrames(), 2u);
  // Pictures larger than the bound: the most recent one is still kept.
  frames.SetCacheLimits(16, picture / 2);
  EXPECT_EQ(frames.cachedFrames(), 1u);
  const int64_t decoded = frames.decodedFrames();
  ASSERT_TRUE(frames.ReadFrameAt(4, f, &error));
  EXPECT_EQ(frames.decodedFrames(), decoded);
  // No cache at all.
  frames.SetCacheLimits(0, 0);
  EXPECT_EQ(frames.cachedFrames(), 0u);
  ASSERT_TRUE(frames.ReadFrameAt(4, f, &error));
  ASSERT_TRUE(frames.ReadFrameAt(4, f, &error));
  EXPECT_EQ(frames.decodedFrames(), decoded + 2);
  EXPECT_TRUE(SamePicture(f, made[4]));
}

class SetupCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { IsolateOptions(); }

  // A lossless clip of 12 frames of 32x24 made in code.
  std::string MakeClip() {
    made = MakeFrames(12, 32, 24);
    const std::string path = dir / "clip.mkv";
    std::string error;
    EXPECT_TRUE(EncodeClip(path, made, AVRational{25, 1}, &error)) << error;
    return path;
  }
  // A record that differs from the defaults.
  TSpecs StartRecord() {
    TSpecs s = BuiltInDefaultSpecs();
    std::string error;
    for (const char* a : {"YDespeckle=2", "Gain=150", "TempYThreshold=20"})
      EXPECT_TRUE(ApplyFieldAssignment(s, a, &error)) << error;
    return s;
  }
  std::vector<std::string> Env(std::vector<std::string> extra = {}) {
    extra.push_back("TARVO_FAKE_LOG=" + (dir / "calls.log"));
    return extra;
  }
  // Whether the filter was called at all.
  bool FilterCalled() { return Exists(dir / "calls.log"); }

  ScratchDir dir;
  std::vector<Frame> made;
};

TEST_F(SetupCommandTest, FramesComeBackAsTheClipHoldsThemScaledToTheAskedRectangle) {
  const std::string clip = MakeClip();
  // The frame bar runs from 0 to the frame count: its last position asks for
  // one past the last frame, which shows the last frame.
  const std::vector<int> asked = {7, 2, 11, 2, 0, 7, 12};
  const std::string list = "7,2,11,2,0,7,12";
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{32, 24}, {11, 7}, {64, 40}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const std::string dump = dir / ("frames-" + std::to_string(w));
    const auto r = RunTarvo({"setup", clip, "--record", dir / "r.tvr", "--frame", "3", "--plugin", kFake},
                            Env({"TARVO_FAKE_FRAMES=" + list,
                                 "TARVO_FAKE_FRAME_SIZE=" + std::to_string(w) + "x" + std::to_string(h),
                                 "TARVO_FAKE_DUMP=" + dump}));
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<uint8_t> got = ReadBytes(dump);
    const size_t one = static_cast<size_t>(w) * h * 4;
    ASSERT_EQ(got.size(), one * asked.size());
    for (size_t i = 0; i < asked.size(); ++i) {
      const Frame& want = made[static_cast<size_t>(std::min(asked[i], 11))];
      EXPECT_TRUE(std::equal(got.begin() + i * one, got.begin() + (i + 1) * one, Sampled(want, w, h).begin()))
          << "request " << i << " for frame " << asked[i];
    }
    // No request failed.
    EXPECT_EQ(FailedRequestMark(dir / "r.tvr"), 0);
  }
}

TEST_F(SetupCommandTest, OkSavesExactlyTheRecordTheFilterLeft) {
  const std::string clip = MakeClip();
  const std::string record = dir / "look.tvr", left = dir / "left.tvr";
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(record, StartRecord(), &error)) << error;
  const auto env = Env({"TARVO_FAKE_EDIT=Sat=140,SharpMask=3,SceneName=Interview", "TARVO_FAKE_RECORD_OUT=" + left});
  auto r = RunTarvo({"setup", clip, "--record", record, "--frame", "5", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_EQ(ReadBytes(record), ReadBytes(left));
  // The filter worked on the clip's own record, at the frame asked for.
  const TSpecs saved = ReadRecord(record);
  EXPECT_EQ(saved.YDespeckle, 2);
  EXPECT_EQ(saved.Gain, 150);
  EXPECT_EQ(saved.Sat, 140);
  EXPECT_EQ(saved.SharpMask, 3);
  EXPECT_EQ(saved.Lift, 7);
  const auto log = ReadBytes(dir / "calls.log");
  EXPECT_NE(std::string(log.begin(), log.end()).find("sel=1 part=5 total=12"), std::string::npos);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"calls.log", "clip.mkv", "left.tvr", "look.tvr"}));

  // A record file that does not exist yet is made from the defaults.
  r = RunTarvo({"setup", clip, "--record", dir / "new.tvr", "--plugin", kFake}, Env({"TARVO_FAKE_RECORD_OUT=" + left}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "new.tvr"), ReadBytes(left));
  EXPECT_EQ(ReadRecord(dir / "new.tvr").YDespeckle, BuiltInDefaultSpecs().YDespeckle);

  // In a project, the clip's entry is the record left; other clips keep theirs.
  const std::string project = dir / "edit.tproj";
  ProjectFile p;
  TSpecs other = StartRecord();
  other.Gain = 300;
  p.Put(dir / "other.mkv", other);
  p.Put(clip, StartRecord());
  ASSERT_TRUE(p.Save(project, &error)) << error;
  r = RunTarvo({"setup", clip, "--project", project, "--plugin", kFake},
               Env({"TARVO_FAKE_EDIT=Knee=80", "TARVO_FAKE_RECORD_OUT=" + left}));
  ASSERT_EQ(r.code, 0) << r.err;
  ProjectFile after;
  ASSERT_TRUE(after.Load(project, &error)) << error;
  EXPECT_EQ(after.size(), 2u);
  ASSERT_TRUE(after.Find(clip).has_value());
  EXPECT_EQ(Bytes(*after.Find(clip)), ReadBytes(left));
  EXPECT_EQ(after.Find(clip)->YDespeckle, 2);
  EXPECT_EQ(after.Find(clip)->Knee, 80);
  EXPECT_EQ(Bytes(*after.Find(dir / "other.mkv")), Bytes(other));
}

TEST_F(SetupCommandTest, CancelChangesNoFileByteAndExitsWithItsOwnStatus) {
  const std::string clip = MakeClip();
  const std::string record = dir / "look.tvr", project = dir / "edit.tproj";
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(record, StartRecord(), &error)) << error;
  ProjectFile p;
  p.Put(clip, StartRecord());
  ASSERT_TRUE(p.Save(project, &error)) << error;
  const auto recordBytes = ReadBytes(record), projectBytes = ReadBytes(project), clipBytes = ReadBytes(clip);
  // The dialog changed fields and asked for frames before the user cancelled.
  const auto env = Env({"TARVO_FAKE_SETUP=cancel", "TARVO_FAKE_EDIT=Gain=400,YDespeckle=4", "TARVO_FAKE_FRAMES=1,9"});
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"setup", clip, "--record", record, "--plugin", kFake},
           {"setup", clip, "--project", project, "--plugin", kFake},
           {"setup", clip, "--record", dir / "new.tvr", "--plugin", kFake}}) {
    SCOPED_TRACE(args[3]);
    const auto r = RunTarvo(args, env);
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("setup cancelled; nothing was saved"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(FilterCalled());
  EXPECT_EQ(ReadBytes(record), recordBytes);
  EXPECT_EQ(ReadBytes(project), projectBytes);
  EXPECT_EQ(ReadBytes(clip), clipBytes);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"calls.log", "clip.mkv", "edit.tproj", "look.tvr"}));
}

TEST_F(SetupCommandTest, ADialogThatCannotBeShownIsAnErrorWithTheFiltersReasonNotACancel) {
  const std::string clip = MakeClip();
  const std::string record = dir / "look.tvr";
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(record, StartRecord(), &error)) << error;
  const auto start = ReadBytes(record);
  const auto r = RunTarvo({"setup", clip, "--record", record, "--plugin", kFake},
                          Env({"TARVO_FAKE_SETUP=unavailable"}));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "tarvo: Setup cannot be shown: no display for this test. Nothing was saved.\n");
  EXPECT_EQ(ReadBytes(record), start);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"calls.log", "clip.mkv", "look.tvr"}));
}

TEST_F(SetupCommandTest, BadInputIsRefusedBeforeTheFilterIsCalled) {
  const std::string clip = MakeClip();
  std::string error;
  WriteBytes(dir / "short.tvr", std::vector<uint8_t>(255, 1));
  WriteBytes(dir / "long.tvr", std::vector<uint8_t>(257, 1));
  WriteBytes(dir / "noise.mkv", std::vector<uint8_t>(4000, 0x5A));
  TSpecs newer = StartRecord();
  newer.Version = kSpecsVersion + 1;
  ASSERT_TRUE(WriteSpecsFile(dir / "newer.tvr", newer, &error)) << error;
  ASSERT_TRUE(WriteSpecsFile(dir / "good.tvr", StartRecord(), &error)) << error;
  std::ofstream(dir / "damaged.tproj") << "tarvo-project 1\nclip /x.mkv\nrecord 00zz\n";
  ASSERT_EQ(::link(clip.c_str(), (dir / "hard.mkv").c_str()), 0);
  std::filesystem::create_directory(dir / "folder.tvr");
  const auto before = dir.Entries();
  std::vector<std::vector<uint8_t>> contents;
  for (const auto& e : before)
    contents.push_back(e == "folder.tvr" ? std::vector<uint8_t>{} : ReadBytes(dir / e));

  struct Case {
    std::vector<std::string> args;
    int code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{clip, "--record", dir / "short.tvr"}, 1, "short.tvr"},
      {{clip, "--record", dir / "long.tvr"}, 1, "long.tvr"},
      {{clip, "--record", dir / "folder.tvr"}, 1, "folder.tvr"},
      {{clip, "--record", dir / "newer.tvr"}, 1, "newer than this version knows"},
      {{clip, "--project", dir / "damaged.tproj"}, 1, "damaged.tproj"},
      {{clip, "--record", dir / "no/such/look.tvr"}, 1, "there is no folder"},
      {{clip, "--project", dir / "good.tvr/edit.tproj"}, 1, "there is no folder"},
      {{dir / "noise.mkv", "--record", dir / "good.tvr"}, 1, "cannot read"},
      {{dir / "missing.mkv", "--record", dir / "good.tvr"}, 1, "cannot read"},
      {{clip, "--record", dir / "good.tvr", "--project", dir / "p.tproj"}, 2, "cannot be used together"},
      {{clip}, 2, "setup needs --record FILE or --project FILE"},
      {{clip, "--record", clip}, 2, "--record is the same file as CLIP"},
      {{clip, "--project", dir / "hard.mkv"}, 2, "--project is the same file as CLIP"},
      {{clip, "--record", dir / "good.tvr", "--frame", "12"}, 2, "past the clip's last frame (11)"},
      {{clip, "--record", dir / "good.tvr", "--frame", "x"}, 2, "--frame needs a frame number"},
      {{"-", "--record", dir / "good.tvr"}, 2, "standard input"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"setup"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"--plugin", kFake});
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const auto r = RunTarvo(args, Env());
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    // One message, one line.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(FilterCalled());
  }
  ASSERT_EQ(dir.Entries(), before);
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == "folder.tvr") continue;
    EXPECT_EQ(ReadBytes(dir / before[i]), contents[i]) << before[i];
  }
}

TEST_F(SetupCommandTest, CtrlCWhileTheDialogIsOpenEndsTheCommandAtOnceAndSavesNothing) {
  const std::string clip = MakeClip();
  const std::string record = dir / "look.tvr";
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(record, StartRecord(), &error)) << error;
  const auto start = ReadBytes(record);
  const int pid = StartTarvo({"setup", clip, "--record", record, "--plugin", kFake}, "", dir / "out.txt",
                             Env({"TARVO_FAKE_SETUP=wait", "TARVO_FAKE_EDIT=Gain=400"}));
  // Once the dialog is up (the filter logged the setup call)...
  for (int i = 0; i < 500 && !FilterCalled(); ++i) usleep(10000);
  ASSERT_TRUE(FilterCalled());
  const auto t0 = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_LT(seconds, 10.0);
  EXPECT_EQ(ReadBytes(record), start);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"calls.log", "clip.mkv", "look.tvr", "out.txt", "out.txt.err"}));
}

// Whether the real plug-in hands its messages to the host.
bool RealPluginHasMessageSink() {
  void* lib = ::dlopen(kReal.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!lib) return false;
  const bool has = ::dlsym(lib, "xFilterSetMessageSink") != nullptr;
  ::dlclose(lib);
  return has;
}

TEST_F(SetupCommandTest, WithoutADisplayTheRealFilterSaysWhyAndNothingChanges) {
  if (!RealPluginHasMessageSink()) GTEST_SKIP() << "the plug-in does not hand its messages to the host yet";
  const std::string clip = MakeClip();
  const std::string record = dir / "look.tvr";
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(record, StartRecord(), &error)) << error;
  const auto start = ReadBytes(record);
  // An entry without "=" removes the variable.
  const auto r = RunTarvo({"setup", clip, "--record", record, "--plugin", kReal},
                          {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(ReadBytes(record), start);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"clip.mkv", "look.tvr"}));
}

// The real plug-in and its dialog, on Qt's offscreen platform, with the
// driver of setup_driver.cpp pressing `button` after asking for frame
// `frame` (its pixels go to `dump`).
// What to preload into the command: the driver, after the sanitizer's
// run-time library in a sanitizer build (which must come first).
std::string Preload() {
  std::string preload = kDriver;
#if defined(__SANITIZE_ADDRESS__)
  Dl_info info{};
  if (void* init = ::dlsym(RTLD_DEFAULT, "__asan_init"); init && ::dladdr(init, &info) && info.dli_fname)
    preload = std::string(info.dli_fname) + ":" + preload;
#endif
  return preload;
}

std::vector<std::string> DialogEnv(const std::string& button, int frame, const std::string& dump) {
  return {"QT_QPA_PLATFORM=offscreen", "LD_PRELOAD=" + Preload(), "TARVO_UI_TEST_DRIVER=TarvoSetupDriver",
          "TARVO_DRIVE_PRESS=" + button, "TARVO_DRIVE_FRAME=" + std::to_string(frame), "TARVO_DRIVE_DUMP=" + dump,
          // Qt keeps memory to the end of the process on purpose.
          "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
}

TEST_F(SetupCommandTest, TheRealDialogShowsTheClipsFramesAndOkOrCancelDecideWhatIsSaved) {
  if (kDriver.empty()) GTEST_SKIP() << "the dialog library tarvo-ui.so is not built";
  const std::string clip = MakeClip();
  const std::string record = dir / "look.tvr", dump = dir / "frame.bgra";
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(record, StartRecord(), &error)) << error;
  const auto start = ReadBytes(record);

  auto r = RunTarvo({"setup", clip, "--record", record, "--frame", "4", "--plugin", kReal},
                    DialogEnv("CancelButton", 9, dump));
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(ReadBytes(record), start);
  // The dialog's preview image gets the frame as the clip holds it.
  ASSERT_EQ(ReadBytes(dump), Sampled(made[9], 240, 180));

  // OK after the user moved the sharpening mask slider three steps.
  auto env = DialogEnv("OkButton", 11, dump);
  env.push_back("TARVO_DRIVE_RIGHT=SharpMaskBar:3");
  r = RunTarvo({"setup", clip, "--record", record, "--frame", "4", "--plugin", kReal}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  TSpecs want = StartRecord();
  want.FramePos = 4;
  want.LastPart = 4;
  want.SharpMask = 3;
  EXPECT_EQ(ReadBytes(record), Bytes(want));
  const std::vector<uint8_t> frames = ReadBytes(dump), last = Sampled(made[11], 240, 180);
  ASSERT_EQ(frames.size(), 2 * last.size());
  EXPECT_TRUE(std::equal(last.begin(), last.end(), frames.begin() + static_cast<std::ptrdiff_t>(last.size())));
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"clip.mkv", "frame.bgra", "look.tvr"}));

  // A clip without a record yet opens at the chosen frame as well.
  const std::string fresh = dir / "new.tvr";
  r = RunTarvo({"setup", clip, "--record", fresh, "--frame", "6", "--plugin", kReal}, DialogEnv("OkButton", 6, dump));
  ASSERT_EQ(r.code, 0) << r.err;
  TSpecs saved;
  ASSERT_TRUE(ReadSpecsFile(fresh, saved, &error)) << error;
  const int framePos = saved.FramePos, lastPart = saved.LastPart;
  EXPECT_EQ(framePos, 6);
  EXPECT_EQ(lastPart, 6);
}

// A clip wider than a video host's frame descriptor can describe (8192
// pixels): the dialog opens on it and its preview shows the frame scaled down.
TEST_F(SetupCommandTest, TheRealDialogPreviewsAClip8192PixelsWide) {
  if (kDriver.empty()) GTEST_SKIP() << "the dialog library tarvo-ui.so is not built";
  made = MakeFrames(3, 8192, 64);
  const std::string clip = dir / "wide.mkv", record = dir / "look.tvr", dump = dir / "frame.bgra";
  std::string error;
  ASSERT_TRUE(EncodeClip(clip, made, AVRational{25, 1}, &error)) << error;
  ASSERT_TRUE(WriteSpecsFile(record, StartRecord(), &error)) << error;
  const auto r = RunTarvo({"setup", clip, "--record", record, "--frame", "1", "--plugin", kReal},
                          DialogEnv("OkButton", 2, dump));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dump), Sampled(made[2], 240, 180));
}

// The real dialog on a real clip, walked through its commands by the driver:
// each step's record shows what the step changed, and only that.
TEST_F(SetupCommandTest, TheRealDialogsBalanceScenesRevertAndPreferencesWorkOnARealClip) {
  if (kDriver.empty()) GTEST_SKIP() << "the dialog library tarvo-ui.so is not built";
  const std::string clip = MakeClip();
  const std::string record = dir / "look.tvr", walk = dir / "walk.bin", scenes = dir / "scenes.kvs";
  const std::string reg = dir / "registry.reg";
  const std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n"
                           "\"SceneFile\"=\"" + scenes + "\"\n";
  WriteBytes(reg, std::vector<uint8_t>(text.begin(), text.end()));
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(record, BuiltInDefaultSpecs(), &error)) << error;
  auto env = DialogEnv("OkButton", 0, dir / "frame.bgra");
  env.push_back("TARVO_REGISTRY=" + reg);
  env.push_back("TARVO_DRIVE_WALK=" + walk);
  const auto r = RunTarvo({"setup", clip, "--record", record, "--plugin", kReal}, env);
  ASSERT_EQ(r.code, 0) << r.err;

  std::map<std::string, TSpecs> steps;
  std::vector<std::string> order;
  const std::vector<uint8_t> bytes = ReadBytes(walk);
  constexpr size_t kStep = 32 + sizeof(TSpecs);
  ASSERT_EQ(bytes.size() % kStep, 0u);
  for (size_t at = 0; at < bytes.size(); at += kStep) {
    const std::string name(reinterpret_cast<const char*>(&bytes[at]));
    std::memcpy(&steps[name], &bytes[at + 32], sizeof(TSpecs));
    order.push_back(name);
  }
  ASSERT_EQ(order, (std::vector<std::string>{"start", "black", "white", "colour", "saved", "none", "chosen", "master",
                                             "independent", "knee", "revert", "reset", "preferences"}));
  // Which fields differ between two steps.
  auto changed = [&](const char* from, const char* to) {
    std::vector<std::string> names;
    for (const SpecsField& f : SpecsFields()) {
      const auto* a = reinterpret_cast<const uint8_t*>(&steps[from]) + f.offset;
      const auto* b = reinterpret_cast<const uint8_t*>(&steps[to]) + f.offset;
      if (std::memcmp(a, b, sizeof(int16_t)) != 0) names.push_back(std::string(f.name));
    }
    if (SceneNameOf(steps[from]) != SceneNameOf(steps[to])) names.push_back("SceneName");
    return names;
  };
  auto within = [](const std::vector<std::string>& names, std::initializer_list<const char*> allowed) {
    for (const std::string& n : names)
      if (std::find_if(allowed.begin(), allowed.end(), [&](const char* a) { return n == a; }) == allowed.end())
        return false;
    return !names.empty();
  };
  EXPECT_TRUE(within(changed("start", "black"), {"Lift", "RLift", "GLift", "BLift"}));
  EXPECT_TRUE(within(changed("black", "white"), {"Gain", "RGain", "GGain", "BGain"}));
  EXPECT_TRUE(within(changed("white", "colour"), {"Gain", "RGain", "GGain", "BGain"}));
  EXPECT_EQ(changed("colour", "saved"), (std::vector<std::string>{"SceneName"}));
  EXPECT_EQ(SceneNameOf(steps["saved"]), "Evening");
  // "<none>" loads nothing; the scene just saved holds the clip's settings.
  EXPECT_TRUE(changed("saved", "none").empty());
  EXPECT_TRUE(changed("none", "chosen").empty());
  EXPECT_EQ(steps["master"].UseMaster, 1);
  EXPECT_EQ(steps["independent"].UseMaster, 0);
  EXPECT_EQ(steps["knee"].Knee, steps["independent"].Knee - 5);
  EXPECT_EQ(steps["revert"].Knee, steps["independent"].Knee);
  EXPECT_EQ(steps["reset"].Knee, BuiltInDefaultSpecs().Knee);
  EXPECT_EQ(steps["preferences"].Vwhite, 200);

  // OK wrote the last state, and the scene file holds the saved scene.
  TSpecs saved{};
  ASSERT_TRUE(ReadSpecsFile(record, saved, &error)) << error;
  EXPECT_EQ(saved.Vwhite, 200);
  EXPECT_EQ(saved.Lift, steps["black"].Lift);
  EXPECT_EQ(SceneNameOf(saved), "Evening");
  const std::vector<uint8_t> kvs = ReadBytes(scenes);
  ASSERT_EQ(kvs.size(), 256u);
  EXPECT_EQ(std::memcmp(&kvs[0] + offsetof(TSpecs, SceneName) + 1, "Evening", 7), 0);
}

}  // namespace
}  // namespace tarvo::cli::test
