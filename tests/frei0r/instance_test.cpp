// The frei0r instance driven directly, as the hosts drive it: continuity from
// host times, the paused-host cache, parameters against records and scenes,
// several instances at once.
#include "instance.h"

#include "host_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "options/options.h"
#include "reference.h"
#include "types/frame_view.h"
#include "util/specs_file.h"

namespace tarvo::frei0r {
namespace {

using test::Clip;

int IndexOf(const std::string& name) {
  const auto& params = Params();
  for (size_t i = 0; i < params.size(); ++i)
    if (params[i].name == name) return static_cast<int>(i);
  ADD_FAILURE() << "no parameter " << name;
  return -1;
}

void SetDouble(Instance& in, const std::string& name, double v) { in.SetParam(&v, IndexOf(name)); }
void SetString(Instance& in, int index, const char* text) { in.SetParam(&text, index); }

// Sets every user field of `specs` through the frei0r parameters.
void SetAll(Instance& in, const TSpecs& specs) {
  for (const Param& p : Params())
    if (p.field) SetDouble(in, p.name, ToParamValue(*p.field, GetField(specs, *p.field)));
}

Clip Render(Instance& in, const Clip& clip, const std::vector<double>& times) {
  Clip out{clip.width, clip.height, {}};
  for (size_t f = 0; f < clip.frames.size(); ++f) {
    std::vector<uint32_t> dst(clip.frames[f].size());
    in.Update(times[f], clip.frames[f].data(), dst.data());
    out.frames.push_back(std::move(dst));
  }
  return out;
}

std::vector<double> Times(size_t n, double step, double start = 0) {
  std::vector<double> t;
  for (size_t i = 0; i < n; ++i) t.push_back(start + step * static_cast<double>(i));
  return t;
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("tarvo_frei0r_" + std::to_string(::getpid()) + "_" + name)).string();
}

// Instances read the options file: keep it away from the user's, and let no
// operating mode from the environment change what renders.
class OptionsFileEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    path_ = TempPath("registry.reg");
    setenv("TARVO_REGISTRY", path_.c_str(), 1);
    unsetenv("TARVO_OPMODE");
  }
  void TearDown() override { std::filesystem::remove(path_); }

 private:
  std::string path_;
};
const testing::Environment* const kOptionsFile = testing::AddGlobalTestEnvironment(new OptionsFileEnvironment);

TEST(Frei0rInstance, ParametersAndHostTimesGiveTheReferenceRun) {
  const Clip clip = test::MakeClip(96, 64, 6, 11);
  const TSpecs specs = test::TemporalRecord();
  const Clip expected = test::ReferenceRender(clip, specs);
  for (double step : {40.0, 0.04}) {  // FFmpeg milliseconds, MLT seconds
    Instance in(96, 64);
    SetAll(in, specs);
    const Clip got = Render(in, clip, Times(clip.frames.size(), step));
    EXPECT_EQ(test::FirstDifference(got, expected), "") << "step " << step;
  }
  Instance garbage(96, 64);
  SetAll(garbage, specs);
  const Clip got = Render(garbage, clip, std::vector<double>(clip.frames.size(), -3.6893488147419103e+20));
  EXPECT_EQ(test::FirstDifference(got, expected), "") << "garbage time";
}

TEST(Frei0rInstance, EveryCoreByDefaultAndTarvoThreadsCapsItWithTheSamePictures) {
  const Clip clip = test::MakeClip(97, 41, 6, 23);  // odd sizes: uneven bands
  TSpecs specs = test::TemporalRecord();
  specs.YDespeckle = 2;
  specs.CDespeckle = 2;
  const Clip expected = test::ReferenceRender(clip, specs);
  for (const char* threads : {"", "1", "3"}) {
    SCOPED_TRACE(threads);
    setenv("TARVO_THREADS", threads, 1);
    Instance in(97, 41);
    const int32_t asked = *threads ? std::atoi(threads) : ResolveThreadCount(0);
    EXPECT_EQ(in.FilterThreads() > 1, asked > 1);
    SetAll(in, specs);
    EXPECT_EQ(test::FirstDifference(Render(in, clip, Times(clip.frames.size(), 0.04)), expected), "");
  }
  unsetenv("TARVO_THREADS");
}

// As MLT's slice threading drives a filter: the instance is made at the
// strip's height, and each frame is handed over as `strips` strips of one
// frame buffer (the input a copy the host made, the output another buffer),
// all with the frame's time, in the order `order` gives, or each from its own
// thread at once.
Clip RenderInStrips(const Clip& clip, const TSpecs& specs, int strips, const std::vector<int>& order,
                    bool concurrently) {
  Instance in(static_cast<unsigned>(clip.width), static_cast<unsigned>(clip.height / strips));
  SetAll(in, specs);
  const size_t stripPixels = static_cast<size_t>(clip.width) * static_cast<size_t>(clip.height / strips);
  Clip out{clip.width, clip.height, {}};
  for (size_t f = 0; f < clip.frames.size(); ++f) {
    const std::vector<uint32_t> source = clip.frames[f];
    std::vector<uint32_t> dst(source.size(), 0xDEADBEEF);
    const double time = 0.04 * static_cast<double>(f);
    auto strip = [&](int k) { in.Update(time, source.data() + k * stripPixels, dst.data() + k * stripPixels); };
    if (concurrently) {
      std::vector<std::thread> threads;
      for (int k : order) threads.emplace_back(strip, k);
      for (auto& t : threads) t.join();
    } else {
      for (int k : order) strip(k);
    }
    out.frames.push_back(std::move(dst));
  }
  return out;
}

TEST(Frei0rInstance, FramesCutIntoStripsByTheHostAreRenderedWhole) {
  const Clip clip = test::MakeClip(64, 48, 6, 29);
  TSpecs specs = test::TemporalRecord();
  specs.YDespeckle = 3;
  const Clip expected = test::ReferenceRender(clip, specs);
  struct Case {
    int strips;
    std::vector<int> order;
    bool concurrently;
  };
  const Case cases[] = {
      {2, {0, 1}, false}, {2, {1, 0}, false}, {3, {2, 0, 1}, false}, {4, {1, 3, 0, 2}, false},
      {3, {0, 1, 2}, true}, {4, {0, 1, 2, 3}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.strips << " strips" << (c.concurrently ? " at once" : ""));
    EXPECT_EQ(test::FirstDifference(RenderInStrips(clip, specs, c.strips, c.order, c.concurrently), expected), "");
  }
}

TEST(Frei0rInstance, FieldOrderRendersTheClipAsFields) {
  const Clip clip = test::MakeClip(96, 64, 6, 15);
  const TSpecs specs = test::TemporalRecord();
  const Clip progressive = test::ReferenceRender(clip, specs);
  const struct {
    const char* text;
    uint8_t flags;
  } orders[] = {{"tff", 1}, {"bff", 2}, {"progressive", 0}};
  for (const auto& o : orders) {
    SCOPED_TRACE(o.text);
    Instance in(96, 64);
    SetAll(in, specs);
    SetString(in, FieldsParam(), o.text);
    const char* back = nullptr;
    in.GetParam(&back, FieldsParam());
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back, o.text);
    const Clip expected = test::ReferenceRender(clip, specs, o.flags);
    if (o.flags != 0) {
      EXPECT_NE(test::FirstDifference(expected, progressive), "") << "fields change nothing here";
    }
    EXPECT_EQ(test::FirstDifference(Render(in, clip, Times(clip.frames.size(), 0.04)), expected), "");
  }
  // A name it does not know keeps the order set before, and is reported.
  Instance in(96, 64);
  SetAll(in, specs);
  SetString(in, FieldsParam(), "tff");
  testing::internal::CaptureStderr();
  SetString(in, FieldsParam(), "top");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("\"top\""), std::string::npos) << said;
  EXPECT_EQ(test::FirstDifference(Render(in, clip, Times(clip.frames.size(), 0.04)),
                                  test::ReferenceRender(clip, specs, 1)),
            "");
}

TEST(Frei0rInstance, PausedRerenderIsCachedAndLeavesTheHistoryAlone) {
  const Clip clip = test::MakeClip(64, 48, 5, 12);
  const TSpecs specs = test::TemporalRecord();
  const Clip expected = test::ReferenceRender(clip, specs);
  Instance in(64, 48);
  SetAll(in, specs);
  std::vector<uint32_t> out(clip.frames[0].size());
  for (size_t f = 0; f < clip.frames.size(); ++f) {
    const int repeats = f == 2 ? 4 : 1;  // paused on frame 2
    for (int r = 0; r < repeats; ++r) {
      std::fill(out.begin(), out.end(), 0u);
      in.Update(0.04 * static_cast<double>(f), clip.frames[f].data(), out.data());
      ASSERT_EQ(std::memcmp(out.data(), expected.frames[f].data(), clip.FrameBytes()), 0)
          << "frame " << f << " repeat " << r;
    }
  }
  EXPECT_EQ(in.RenderCount(), 5);
}

TEST(Frei0rInstance, SameTimeWithOtherSettingsRendersAgain) {
  const Clip clip = test::MakeClip(64, 48, 2, 13);
  Instance in(64, 48);
  std::vector<uint32_t> a(clip.frames[0].size()), b(a.size());
  in.Update(0, clip.frames[0].data(), a.data());
  SetDouble(in, "Lift", 0.75);  // Lift 50
  in.Update(0, clip.frames[0].data(), b.data());
  EXPECT_EQ(in.RenderCount(), 2);
  EXPECT_NE(a, b);
}

TEST(Frei0rInstance, InPlaceUpdateMatchesSeparateBuffers) {
  const Clip clip = test::MakeClip(64, 48, 4, 14);
  const TSpecs specs = test::TemporalRecord();
  const Clip expected = test::ReferenceRender(clip, specs);
  Instance in(64, 48);
  SetAll(in, specs);
  for (size_t f = 0; f < clip.frames.size(); ++f) {
    std::vector<uint32_t> buf = clip.frames[f];
    in.Update(40.0 * static_cast<double>(f), buf.data(), buf.data());
    EXPECT_EQ(buf, expected.frames[f]) << "frame " << f;
  }
}

TEST(Frei0rInstance, RecordFileLoadsAndResentValuesDoNotUndoIt) {
  const TSpecs specs = test::TemporalRecord();
  const std::string path = TempPath("clip.rec");
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(path, specs, &error)) << error;
  Instance in(32, 16);
  // A host that sends every parameter each frame, with the values it had
  // before the record was chosen.
  const TSpecs defaults = in.Record();
  SetAll(in, defaults);
  SetString(in, kRecordParam, path.c_str());
  SetAll(in, defaults);
  TSpecs now = in.Record();
  EXPECT_EQ(now.TempYThreshold, specs.TempYThreshold);
  EXPECT_EQ(now.YSharpness, specs.YSharpness);
  EXPECT_TRUE(SpecsEqual(now, specs));
  // A value the user changes does take effect.
  SetDouble(in, "YSharpness", 1.0);
  EXPECT_EQ(in.Record().YSharpness, 100);
  // get returns what set was given.
  double v = -1;
  in.GetParam(&v, IndexOf("TempYThreshold"));
  EXPECT_DOUBLE_EQ(v, 0.4);
  const char* text = nullptr;
  in.GetParam(&text, kRecordParam);
  EXPECT_STREQ(text, path.c_str());
  std::filesystem::remove(path);
}

TEST(Frei0rInstance, UnreadableRecordIsReportedOnceAndChangesNothing) {
  const std::string path = TempPath("short.rec");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("too short", f);
    std::fclose(f);
  }
  Instance in(32, 16);
  SetDouble(in, "Lift", 1.0);
  const TSpecs before = in.Record();
  testing::internal::CaptureStderr();
  SetString(in, kRecordParam, path.c_str());
  SetString(in, kRecordParam, "");
  SetString(in, kRecordParam, path.c_str());  // again: not reported twice
  SetString(in, kRecordParam, "/nonexistent/tarvo.rec");
  // A folder, and a named pipe that would block a plain read for ever.
  const std::string folder = TempPath("folder.rec"), pipe = TempPath("pipe.rec");
  std::filesystem::create_directory(folder);
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ::alarm(20);
  SetString(in, kRecordParam, folder.c_str());
  SetString(in, kRecordParam, pipe.c_str());
  ::alarm(0);
  const std::string err = testing::internal::GetCapturedStderr();
  const TSpecs after = in.Record();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof(TSpecs)), 0);
  size_t lines = 0;
  for (char c : err) lines += c == '\n';
  EXPECT_EQ(lines, 4u) << err;
  EXPECT_NE(err.find(path), std::string::npos) << err;
  EXPECT_NE(err.find("/nonexistent/tarvo.rec"), std::string::npos) << err;
  EXPECT_NE(err.find("'" + folder + "' is a directory"), std::string::npos) << err;
  EXPECT_NE(err.find("'" + pipe + "' is a named pipe"), std::string::npos) << err;
  std::filesystem::remove(path);
  std::filesystem::remove(folder);
  std::filesystem::remove(pipe);
}

TEST(Frei0rInstance, TheMemoryOfReportedMessagesStaysBounded) {
  Instance in(32, 16);
  testing::internal::CaptureStderr();
  const size_t kDistinct = 3 * Instance::kRememberedMessages;
  for (size_t i = 0; i < kDistinct; ++i) {
    const std::string path = "/nonexistent/tarvo-" + std::to_string(i) + ".rec";
    SetString(in, kRecordParam, path.c_str());
    SetString(in, kRecordParam, "");
    SetString(in, kRecordParam, path.c_str());  // a repeat right away: remembered
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(static_cast<size_t>(std::count(err.begin(), err.end(), '\n')), kDistinct);
  EXPECT_EQ(in.RememberedMessages(), Instance::kRememberedMessages);
}

TEST(Frei0rInstance, FramesTallerThanTheFilterTakesPassThroughWithOneMessage) {
  const int w = 2, h = kMaxOwnFrameHeight + 1;
  std::vector<uint32_t> src(static_cast<size_t>(w) * h), dst(src.size());
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint32_t>(i * 2654435761u);
  Instance in(w, h);
  testing::internal::CaptureStderr();
  in.Update(0, src.data(), dst.data());
  in.Update(0.04, src.data(), dst.data());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(src, dst);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("cannot be processed"), std::string::npos) << err;
}

TEST(Frei0rInstance, SceneIsFollowedUntilASettingIsChanged) {
  Instance in(32, 16);
  SetString(in, kSceneParam, "Interview");
  TSpecs s = in.Record();
  EXPECT_EQ(s.UseMaster, 1);
  EXPECT_EQ(SceneNameOf(s), "Interview");
  SetDouble(in, "Sat", ToParamValue(*FindSpecsField("Sat"), s.Sat));  // unchanged value: still following
  EXPECT_EQ(in.Record().UseMaster, 1);
  SetDouble(in, "Sat", 1.0);
  EXPECT_EQ(in.Record().UseMaster, 0);
  SetString(in, kSceneParam, "");
  SetString(in, kSceneParam, "A name that is far too long for the record");
  EXPECT_EQ(in.Record().UseMaster, 0);
}

TEST(Frei0rInstance, FramesWiderThanTheEngineTakesPassThroughWithOneMessage) {
  const int w = kMaxOwnFrameWidth + 1, h = 2;
  std::vector<uint32_t> src(static_cast<size_t>(w) * h), dst(src.size());
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint32_t>(i * 2654435761u);
  Instance in(w, h);
  testing::internal::CaptureStderr();
  in.Update(0, src.data(), dst.data());
  in.Update(40, src.data(), dst.data());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(src, dst);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(in.RenderCount(), 0);
}

TEST(Frei0rInstance, InstancesOnSeveralThreadsKeepTheirOwnHistory) {
  const Clip a = test::MakeClip(80, 48, 8, 21);
  const Clip b = test::MakeClip(80, 48, 8, 22);
  const TSpecs specs = test::TemporalRecord();
  const Clip expectA = test::ReferenceRender(a, specs);
  const Clip expectB = test::ReferenceRender(b, specs);
  constexpr int kPairs = 3;
  std::vector<std::unique_ptr<Instance>> inst;
  for (int i = 0; i < 2 * kPairs; ++i) {
    inst.push_back(std::make_unique<Instance>(80, 48));
    SetAll(*inst.back(), specs);
  }
  std::vector<Clip> got(2 * kPairs);
  std::vector<std::thread> threads;
  for (int i = 0; i < 2 * kPairs; ++i)
    threads.emplace_back([&, i] { got[i] = Render(*inst[i], i % 2 ? b : a, Times(8, 40)); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < 2 * kPairs; ++i)
    EXPECT_EQ(test::FirstDifference(got[i], i % 2 ? expectB : expectA), "") << "instance " << i;

}

TEST(Frei0rInstance, InstancesMadeFollowingScenesAndDestroyedOnSeveralThreads) {
  // Hosts make, use and destroy instances on their own threads: every
  // engine's start-up (options file, scene name ordering) and every render run
  // at once. The scene is not in the scene file, so each clip keeps its own
  // settings.
  const Clip clip = test::MakeClip(64, 32, 6, 23);
  const TSpecs specs = test::TemporalRecord();
  const Clip expect = test::ReferenceRender(clip, specs);
  constexpr int kThreads = 4;
  std::vector<Clip> got(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      Instance in(64, 32);
      SetAll(in, specs);
      SetString(in, kSceneParam, i % 2 ? "Interview" : "Ab\xc3\xa9nd");
      got[i] = Render(in, clip, Times(6, 40));
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(test::FirstDifference(got[i], expect), "") << "instance " << i;
}

// MLT renders in parallel by giving each render thread its own instance of a
// filter and handing the frames out to the threads in turn; it sets the
// hidden parameter of every instance to the filter's number. Instances with
// one number must render the clip as one instance fed in order, and two
// filters on the same threads must keep apart.
TEST(Frei0rHostInstance, InstancesOfOneFilterOnSeveralThreadsRenderLikeOne) {
  const Clip clips[2] = {test::MakeClip(96, 40, 24, 61), test::MakeClip(96, 40, 24, 62)};
  const TSpecs specs = test::TemporalRecord();
  const std::string rec = TempPath("parallel.rec");
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(rec, specs, &error)) << error;
  const Clip expect[2] = {test::ReferenceRender(clips[0], specs), test::ReferenceRender(clips[1], specs)};
  double filterNumber = 1000;
  for (int threads : {2, 3, 4}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const double ids[2] = {++filterNumber, ++filterNumber};
    // instances[thread][filter], as MLT makes them: one a thread and filter.
    std::vector<std::vector<std::unique_ptr<HostInstance>>> instances(static_cast<size_t>(threads));
    for (auto& row : instances)
      for (int k = 0; k < 2; ++k) row.push_back(std::make_unique<HostInstance>(96, 40));
    Clip got[2];
    for (int k = 0; k < 2; ++k) {
      got[k] = {96, 40, {}};
      got[k].frames.assign(clips[k].frames.size(), std::vector<uint32_t>(clips[k].frames[0].size()));
    }
    std::atomic<int> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        std::mt19937 rng(static_cast<uint32_t>(77 + t + 10 * threads));
        for (int f; (f = next.fetch_add(1)) < 24;) {
          for (int k = 0; k < 2; ++k) {
            // The work before the filter takes a varying time.
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 500));
            HostInstance& h = *instances[static_cast<size_t>(t)][static_cast<size_t>(k)];
            const char* path = rec.c_str();
            h.SetParam(&path, kRecordParam);
            h.SetParam(&ids[k], HostInstance::IdParam());
            h.Update(f * 0.04, clips[k].frames[static_cast<size_t>(f)].data(),
                     got[k].frames[static_cast<size_t>(f)].data());
          }
        }
      });
    for (auto& t : pool) t.join();
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(test::FirstDifference(got[k], expect[k]), "") << "filter " << k;
      // Each filter's instances share one, which rendered every frame once.
      EXPECT_TRUE(instances[0][static_cast<size_t>(k)]->Shared());
      EXPECT_EQ(instances[0][static_cast<size_t>(k)]->Target().RenderCount(), 24);
    }
  }
  std::remove(rec.c_str());
}

// Without the number (FFmpeg, GStreamer) every instance is its own, as before.
TEST(Frei0rHostInstance, InstancesWithoutTheNumberStayApart) {
  const Clip clip = test::MakeClip(64, 32, 6, 63);
  const TSpecs specs = test::TemporalRecord();
  HostInstance a(64, 32), b(64, 32);
  for (HostInstance* h : {&a, &b})
    for (const Param& p : Params())
      if (p.field) {
        const double v = ToParamValue(*p.field, GetField(specs, *p.field));
        h->SetParam(&v, IndexOf(p.name));
      }
  Clip got{64, 32, {}};
  for (size_t f = 0; f < clip.frames.size(); ++f) {
    std::vector<uint32_t> out(clip.frames[f].size()), other(clip.frames[f].size());
    a.Update(static_cast<double>(f) * 40, clip.frames[f].data(), out.data());
    b.Update(static_cast<double>(f) * 40, clip.frames[f].data(), other.data());
    EXPECT_EQ(out, other) << f;
    got.frames.push_back(std::move(out));
  }
  EXPECT_FALSE(a.Shared());
  EXPECT_EQ(test::FirstDifference(got, test::ReferenceRender(clip, specs)), "");
  double id = -1;
  a.GetParam(&id, HostInstance::IdParam());
  EXPECT_EQ(id, 0);
}

// MLT cuts a frame into strips for slice threads (the filter's "threads"
// property) while it holds its lock on the filter: a strip rendered on a
// thread other than the one that set the parameters must not wait for other
// frames (their threads wait for that lock).
TEST(Frei0rHostInstance, StripsFromSliceThreadsDoNotWait) {
  HostInstance::SetBoundsForTests({std::chrono::hours(1), std::chrono::hours(1)});  // a wait would hang
  const Clip clip = test::MakeClip(64, 32, 2, 64);
  const double id = 5000;
  HostInstance a(64, 32), b(64, 32);
  std::vector<uint32_t> out(clip.frames[0].size());
  a.SetParam(&id, HostInstance::IdParam());
  a.Update(0, clip.frames[0].data(), out.data());
  std::thread([&] {
    std::vector<uint32_t> o(clip.frames[0].size());
    b.SetParam(&id, HostInstance::IdParam());
    b.Update(0, clip.frames[0].data(), o.data());
  }).join();
  EXPECT_TRUE(a.Shared() && b.Shared());
  // Frame 10 after frame 0, with b a member that could bring the frames
  // between: from the parameter thread it would wait; as a strip it goes.
  const int before = a.Target().RenderCount();
  std::thread([&] { a.Update(0.4, clip.frames[1].data(), out.data()); }).join();
  EXPECT_EQ(a.Target().RenderCount(), before + 1);
  HostInstance::SetBoundsForTests({});
}

}  // namespace
}  // namespace tarvo::frei0r
