#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/notify.h"
#include "types/call_record.h"
#include "types/frame_view.h"
#include "platform/os_registry_file.h"
#include "options/options.h"
#include "support/call_records.h"
#include "support/temp_dir.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

using test::FileOf;
using test::ReadText;
using test::Scene;
using test::TempDir;
using test::TestClip;
using test::TestFrame;
using test::WriteText;

// Each test loads the library afresh (so it starts with a first call) on its
// own options file, and unloads it at the end.
class HostEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TARVO_REGISTRY", registry_.c_str(), 1);
    ::unsetenv("TARVO_OPMODE");
    // Every core: the library must unload although its threads have run
    // kernels with scratch memory.
    ::unsetenv("TARVO_THREADS");
  }
  void TearDown() override {
    Unload();
    ::unsetenv("TARVO_REGISTRY");
    ::unsetenv("TARVO_OPMODE");
    ::unsetenv("TARVO_THREADS");
  }
  // Writes options before the library reads them.
  void Configure(const std::function<void(OptionStore&)>& fill) {
    FileOptionStore store(registry_);
    fill(store);
  }
  void Load(const std::string& file = TARVO_PLUGIN_FILE) {
    lib_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << ::dlerror();
    xFilter_ = reinterpret_cast<XFilterFn>(::dlsym(lib_, "xFilter"));
    describe_ = reinterpret_cast<XFilterDescriptionFn>(::dlsym(lib_, "xFilterDescription"));
    setSink_ = reinterpret_cast<XFilterSetMessageSinkFn>(::dlsym(lib_, "xFilterSetMessageSink"));
    ASSERT_NE(xFilter_, nullptr);
    ASSERT_NE(describe_, nullptr);
    ASSERT_NE(setSink_, nullptr);
  }
  void Unload() {
    if (!lib_) return;
    ASSERT_EQ(::dlclose(lib_), 0);
    lib_ = nullptr;
    // The library really went away, so the next test starts it afresh.
    EXPECT_EQ(::dlopen(TARVO_PLUGIN_FILE, RTLD_NOW | RTLD_NOLOAD), nullptr);
  }
  std::string Block(const char* type, int32_t id) {
    const uint8_t* bytes = nullptr;
    const int32_t n = describe_(type, id, &bytes);
    if (n < 0) return "<none>";
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
  }

  TempDir dir_;
  std::string registry_ = dir_ / "config/registry.reg";
  std::string sceneFile_ = dir_ / "SCENES.KVS";
  void* lib_ = nullptr;
  XFilterFn xFilter_ = nullptr;
  XFilterDescriptionFn describe_ = nullptr;
  XFilterSetMessageSinkFn setSink_ = nullptr;
};

// The names of the defined symbols in a shared library's dynamic symbol
// table, read from the file.
std::vector<std::string> ExportedNames(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> names;
  if (file.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr eh;
  std::memcpy(&eh, file.data(), sizeof eh);
  for (int i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr sh;
    std::memcpy(&sh, file.data() + eh.e_shoff + static_cast<size_t>(i) * eh.e_shentsize, sizeof sh);
    if (sh.sh_type != SHT_DYNSYM) continue;
    Elf64_Shdr strings;
    std::memcpy(&strings, file.data() + eh.e_shoff + static_cast<size_t>(sh.sh_link) * eh.e_shentsize,
                sizeof strings);
    for (size_t k = 1; k < sh.sh_size / sizeof(Elf64_Sym); ++k) {
      Elf64_Sym sym;
      std::memcpy(&sym, file.data() + sh.sh_offset + k * sizeof sym, sizeof sym);
      if (sym.st_shndx == SHN_UNDEF) continue;
      names.emplace_back(file.data() + strings.sh_offset + sym.st_name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Messages the filter sent to a sink.
struct SinkLog {
  std::mutex mu;
  std::vector<std::pair<int32_t, std::string>> messages;
  static void Receive(void* context, int32_t kind, const char* text) {
    auto* log = static_cast<SinkLog*>(context);
    std::lock_guard<std::mutex> lock(log->mu);
    log->messages.emplace_back(kind, text);
  }
  int Count(Notice kind) {
    std::lock_guard<std::mutex> lock(mu);
    return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                          [&](const auto& m) { return m.first == static_cast<int32_t>(kind); }));
  }
};

TEST_F(HostEntry, TheDescriptionBlocksHaveTheirExactBytes) {
  Load();
  const uint16_t fltd[107] = {0, 0, 32, 2, 0, 2, 0, 0, 2, 2, 0, 2, 0, 2, 0, 2, 0, 0, 18, 2, 0, 2, 0, 2, 0, 2, 0,
                              2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 0, 14, 2, 0, 2, 0, 0, 2, 2, 0, 0, 2, 0, 2, 2, 0, 2,
                              0, 0, 2, 2, 0, 2, 0, 0, 2, 0, 2, 0, 6, 2, 0, 2, 0, 0, 2, 2, 0, 0, 2, 0, 2, 2, 0,
                              2, 0, 2, 0, 0, 14, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 0, 2, 2, 0, 0, 18, 0, 32, 0, 32};
  std::string expected;
  for (uint16_t v : fltd) {
    expected += static_cast<char>(v & 0xFF);
    expected += static_cast<char>(v >> 8);
  }
  EXPECT_EQ(Block("FLTD", 1), expected);
  EXPECT_EQ(Block("FLTD", 1).size(), 214u);
  EXPECT_EQ(Block("FLVS", 1000), std::string("\0\0\x02\0", 4));
  EXPECT_EQ(Block("TEXT", 1000), std::string("\0\0- Tarvo -\0", 12));
  EXPECT_EQ(Block("TYPE", 1000), std::string("\0\0tlFV", 6));
  EXPECT_EQ(Block("FLTD", 1000), "<none>");
  EXPECT_EQ(Block("ICON", 1), "<none>");
  EXPECT_EQ(describe_(nullptr, 1, nullptr), -1);
  // Describing the filter does not start it.
  EXPECT_FALSE(std::filesystem::exists(registry_));
}

TEST_F(HostEntry, TheLibraryExportsItsEntryPointsAndNothingElse) {
  EXPECT_EQ(ExportedNames(TARVO_PLUGIN_FILE),
            (std::vector<std::string>{"xFilter", "xFilterDescription", "xFilterSetMessageSink", "xFilterWide"}));
}

// xFilterWide reads RowBytes in full: frames wider than xFilter can take are
// rendered, narrower ones exactly as xFilter renders them, and frames wider
// than 8192 are refused like any unusable frame.
TEST_F(HostEntry, TheWideEntryTakesFramesUpTo8192WideThatXFilterRefuses) {
  Configure([&](OptionStore& s) { s.WriteString(kKeyOptions, "SceneFile", sceneFile_); });
  Load();
  auto wide = reinterpret_cast<XFilterWideFn>(::dlsym(lib_, "xFilterWide"));
  ASSERT_NE(wide, nullptr);
  SinkLog log;
  ASSERT_EQ(setSink_(&SinkLog::Receive, &log), 0);
  std::mt19937 rng(test::TestSeed());
  auto render = [&](auto entry, int width, std::vector<uint8_t>* out) {
    TestFrame source(width, 4), destination(width, 4);
    source.FillRandom(rng);
    const size_t bytes = static_cast<size_t>(width) * 4 * 4;
    std::memset(destination.desc().Pixels, 0, bytes);
    TestClip clip;
    clip.rec().Source = source.handle();
    clip.rec().Destination = destination.handle();
    EXPECT_EQ(entry(kSelectorExecute, clip.handle()), 0);
    EXPECT_TRUE(destination.GuardsIntact());
    out->assign(destination.desc().Pixels, destination.desc().Pixels + bytes);
    return std::all_of(out->begin(), out->end(), [](uint8_t b) { return b == 0; });  // untouched
  };
  std::vector<uint8_t> a, b;
  rng.seed(7);
  EXPECT_FALSE(render(xFilter_, 640, &a));
  rng.seed(7);
  EXPECT_FALSE(render(wide, 640, &b));
  EXPECT_EQ(a, b);
  EXPECT_EQ(log.Count(Notice::BadFrame), 0);
  for (int width : {4096, kMaxOwnFrameWidth}) {
    SCOPED_TRACE(width);
    EXPECT_TRUE(render(xFilter_, width, &a));
    EXPECT_FALSE(render(wide, width, &b));
  }
  EXPECT_GE(log.Count(Notice::BadFrame), 1);  // xFilter's refusals were reported
  EXPECT_TRUE(render(wide, kMaxOwnFrameWidth + 1, &b));
  ASSERT_EQ(setSink_(nullptr, nullptr), 0);
}

TEST_F(HostEntry, TheFirstCallWritesTheOptionsAndGivesTheDefaultRecord) {
  Configure([&](OptionStore& s) {
    s.WriteInteger(kKeyOptions, "DefaultPage", 2);
    s.WriteString(kKeyOptions, "SceneFile", sceneFile_);
  });
  Load();
  TestClip clip;
  clip.SetPart(9);
  EXPECT_EQ(xFilter_(2, clip.handle()), 0);
  ASSERT_NE(clip.rec().SpecsHandle, nullptr);
  TSpecs expected = BuiltInDefaultSpecs();
  expected.PageIndex = 2;
  EXPECT_EQ(std::memcmp(&clip.specs(), &expected, sizeof expected), 0);
  clip.SetPart(5);
  xFilter_(2, clip.handle());
  EXPECT_EQ(clip.specs().FramePos, 5);
  EXPECT_EQ(clip.specs().LastPart, 5);

  const std::string text = ReadText(registry_);
  for (const char* line : {"\"ProcMode\"=dword:00000000", "\"OpMode\"=dword:00000002", "\"Vmax\"=dword:000000ff",
                           "\"Vwhite\"=dword:000000ff", "\"DefaultScene\"=\"<none>\"", "\"ShowHints\"=dword:00000001",
                           "\"DefaultPage\"=dword:00000002", "\"USTerminology\"=dword:00000001", "\"HelpFile\"="})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST_F(HostEntry, WithoutAnInstallPathTheSceneFileSitsBesideThePlugin) {
  Load();
  TestClip clip;
  xFilter_(2, clip.handle());
  Unload();
  FileOptionStore store(registry_);
  std::string sceneFile;
  ASSERT_EQ(store.ReadString(kKeyOptions, "SceneFile", sceneFile), ValueStatus::Present);
  const std::string pluginFolder =
      std::filesystem::weakly_canonical(TARVO_PLUGIN_FILE).parent_path().string() + "/";
  EXPECT_EQ(sceneFile, pluginFolder + "SCENES.KVS");
}

TEST_F(HostEntry, DefaultAndMasterScenesComeFromTheSceneFile) {
  WriteText(sceneFile_, FileOf({Scene("Evening", 150), Scene("Night", 60)}));
  Configure([&](OptionStore& s) {
    s.WriteString(kKeyOptions, "SceneFile", sceneFile_);
    s.WriteString(kKeyOptions, "DefaultScene", "Night");
  });
  Load();
  TestClip fresh;
  xFilter_(2, fresh.handle());
  EXPECT_EQ(fresh.specs().Gain, 60);

  TestClip follower;
  TSpecs own = Scene("EVENING", 90);
  own.UseMaster = 1;
  own.FramePos = 33;
  follower.SetSpecs(own);
  xFilter_(2, follower.handle());
  EXPECT_EQ(follower.specs().Gain, 150);
  EXPECT_EQ(follower.specs().UseMaster, 1);
  EXPECT_EQ(follower.specs().FramePos, 33);

  TestClip orphan;
  own = Scene("Dawn", 90);
  own.UseMaster = 1;
  orphan.SetSpecs(own);
  xFilter_(2, orphan.handle());
  EXPECT_EQ(orphan.specs().Gain, 90);
}

TEST_F(HostEntry, OlderRecordsAreUpgradedAndNothingIsWrittenAtUnload) {
  TSpecs oldScene = Scene("Evening", 150);
  oldScene.Version = 70;
  oldScene.Slope = 5;
  WriteText(sceneFile_, FileOf({oldScene}));
  Configure([&](OptionStore& s) { s.WriteString(kKeyOptions, "SceneFile", sceneFile_); });
  Load();

  TestClip oldClip;
  TSpecs old = BuiltInDefaultSpecs();
  old.Version = 69;
  old.Knee = 30;
  oldClip.SetSpecs(old, 180);
  oldClip.SetPrivate("short");  // fewer than 64 bytes
  xFilter_(2, oldClip.handle());
  EXPECT_EQ(InProcessHost().GetHandleSize(oldClip.rec().SpecsHandle), 256);
  EXPECT_EQ(oldClip.specs().Version, 72);
  EXPECT_EQ(oldClip.specs().Knee, 70);

  TestClip follower;
  TSpecs own = Scene("Evening", 90);
  own.UseMaster = 1;
  follower.SetSpecs(own);
  xFilter_(2, follower.handle());
  EXPECT_EQ(follower.specs().Version, 72);
  EXPECT_EQ(follower.specs().Slope, 50);

  // The upgraded scene waits for the setup dialog to save it; unloading
  // writes neither the scenes nor the options.
  const std::string scenesBefore = ReadText(sceneFile_), optionsBefore = ReadText(registry_);
  const auto optionsTime = std::filesystem::last_write_time(registry_);
  Unload();
  EXPECT_EQ(ReadText(sceneFile_), scenesBefore);
  EXPECT_EQ(ReadText(registry_), optionsBefore);
  EXPECT_EQ(std::filesystem::last_write_time(registry_), optionsTime);
}

TEST_F(HostEntry, SelectorTwoPreparesWithoutRenderingAndExecuteRenders) {
  ::setenv("TARVO_OPMODE", "bypass", 1);  // render = plain copy
  Configure([&](OptionStore& s) { s.WriteString(kKeyOptions, "SceneFile", sceneFile_); });
  Load();
  std::mt19937 rng(test::TestSeed());
  TestFrame source(16, 8), destination(16, 8);
  source.FillRandom(rng);
  std::memset(destination.desc().Pixels, 0, 16 * 8 * 4);
  TestClip clip;
  clip.rec().Source = source.handle();
  clip.rec().Destination = destination.handle();
  EXPECT_EQ(xFilter_(2, clip.handle()), 0);
  EXPECT_NE(clip.rec().SpecsHandle, nullptr);
  EXPECT_EQ(std::memcmp(destination.desc().Pixels, std::string(16 * 8 * 4, '\0').data(), 16 * 8 * 4), 0);
  EXPECT_EQ(xFilter_(kSelectorExecute, clip.handle()), 0);
  EXPECT_EQ(std::memcmp(destination.desc().Pixels, source.desc().Pixels, 16 * 8 * 4), 0);
  EXPECT_TRUE(destination.GuardsIntact());
  // The forced mode was not stored.
  EXPECT_NE(ReadText(registry_).find("\"OpMode\"=dword:00000002"), std::string::npos);
}

// Whether any Qt library is loaded into this process.
bool QtLoaded() { return ReadText("/proc/self/maps").find("libQt6") != std::string::npos; }

// Takes the display variables away for one test, and puts them back.
class NoDisplay {
 public:
  NoDisplay() {
    for (const char* n : kNames) {
      const char* v = std::getenv(n);
      saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
      ::unsetenv(n);
    }
  }
  ~NoDisplay() {
    for (size_t i = 0; i < saved_.size(); ++i)
      if (saved_[i]) ::setenv(kNames[i], saved_[i]->c_str(), 1);
  }

 private:
  static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  std::vector<std::optional<std::string>> saved_;
};

TEST_F(HostEntry, SetupWithoutADisplayReportsWhyAndCancelsWithoutLoadingQt) {
  NoDisplay noDisplay;
  Configure([&](OptionStore& s) { s.WriteString(kKeyOptions, "SceneFile", sceneFile_); });
  Load();
  TestClip clip;
  clip.SetPart(3, 10);
  test::TestFrame source(16, 8), destination(16, 8);
  clip.rec().Source = source.handle();
  clip.rec().Destination = destination.handle();
  EXPECT_EQ(xFilter_(kSelectorExecute, clip.handle()), 0);
  xFilter_(2, clip.handle());  // settles the frame position of the new record
  const std::string prepared(reinterpret_cast<const char*>(&clip.specs()), sizeof(TSpecs));
  for (int i = 0; i < 2; ++i) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupCancel);
    // Reported at every setup call, since each is the user's own request.
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Setup cannot be shown: no display"), std::string::npos) << err;
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&clip.specs()), sizeof(TSpecs)), prepared);
  EXPECT_FALSE(QtLoaded());
#ifdef TARVO_UI_FILE
  EXPECT_EQ(::dlopen(TARVO_UI_FILE, RTLD_NOW | RTLD_NOLOAD), nullptr);
#endif
}

TEST_F(HostEntry, SetupWithoutTheDialogLibraryReportsWhereItLookedAndCancels) {
  if (std::filesystem::exists(TARVO_UI_INSTALLED_FILE)) GTEST_SKIP() << "the dialog library is installed";
  // A plug-in alone in its folder, with a display that needs no server.
  const std::string alone = dir_ / "alone/tarvo-xfilter.so";
  std::filesystem::create_directories(dir_ / "alone");
  std::filesystem::copy_file(TARVO_PLUGIN_FILE, alone);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Load(alone);
  TestClip clip;
  testing::internal::CaptureStderr();
  EXPECT_EQ(xFilter_(kSelectorSetup, clip.handle()), kSetupCancel);
  const std::string err = testing::internal::GetCapturedStderr();
  ::unsetenv("QT_QPA_PLATFORM");
  EXPECT_NE(err.find("tarvo-ui.so is not installed beside the plug-in (" + dir_ / "alone/"), std::string::npos)
      << err;
  EXPECT_NE(clip.rec().SpecsHandle, nullptr);  // the record was prepared all the same
  EXPECT_FALSE(QtLoaded());
  ASSERT_EQ(::dlclose(lib_), 0);
  lib_ = nullptr;
}

TEST_F(HostEntry, MessagesGoToTheSinkTheHostSetOncePerCondition) {
  // A scene record that cannot be listed, and a clip following a scene.
  WriteText(sceneFile_, FileOf({Scene("Evening", 150), Scene("!Early", 60)}));
  Configure([&](OptionStore& s) { s.WriteString(kKeyOptions, "SceneFile", sceneFile_); });
  Load();
  SinkLog log;
  ASSERT_EQ(setSink_(&SinkLog::Receive, &log), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(xFilter_(kSelectorExecute, nullptr), 0);
  EXPECT_EQ(xFilter_(kSelectorExecute, nullptr), 0);
  TestClip follower;
  TSpecs own = Scene("Evening", 90);
  own.UseMaster = 1;
  follower.SetSpecs(own);
  xFilter_(2, follower.handle());
  EXPECT_EQ(log.Count(Notice::ProcessingError), 1);
  EXPECT_EQ(log.Count(Notice::Message), 1);
  // A new sink hears again about a condition that recurs.
  SinkLog second;
  ASSERT_EQ(setSink_(&SinkLog::Receive, &second), 0);
  xFilter_(kSelectorExecute, nullptr);
  EXPECT_EQ(second.Count(Notice::ProcessingError), 1);
  EXPECT_EQ(log.Count(Notice::ProcessingError), 1);
  ASSERT_EQ(setSink_(nullptr, nullptr), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "");  // nothing bypassed the sink
  {
    std::lock_guard<std::mutex> lock(log.mu);
    ASSERT_EQ(log.messages.size(), 2u);
    EXPECT_EQ(log.messages[0].second, "Processing Error");
    EXPECT_NE(log.messages[1].second.find("!Early"), std::string::npos) << log.messages[1].second;
  }
}

TEST_F(HostEntry, HandlesMadeOnEitherSideOfTheLibraryAreKnownToBoth) {
  Load();
  TestClip clip;
  xFilter_(2, clip.handle());  // the library makes the record with its own copy of the handle code
  ASSERT_NE(clip.rec().SpecsHandle, nullptr);
  EXPECT_TRUE(InProcessHost().OwnsHandle(clip.rec().SpecsHandle));
  EXPECT_EQ(InProcessHost().GetHandleSize(clip.rec().SpecsHandle), 256);
  // A host's own handles (a lone master pointer each) are used at the
  // protocol's sizes and never read past.
  std::vector<uint8_t> record(256), priv(64, 7);
  const TSpecs defaults = BuiltInDefaultSpecs();
  std::memcpy(record.data(), &defaults, 256);
  auto recordMaster = std::make_unique<uint8_t*>(record.data());
  auto privMaster = std::make_unique<uint8_t*>(priv.data());
  TFilterCallRecord rec{};
  rec.SpecsHandle = recordMaster.get();
  rec.PrivateData = privMaster.get();
  rec.Part = 3;
  TFilterCallRecord* recPtr = &rec;
  SinkLog log;
  setSink_(&SinkLog::Receive, &log);
  EXPECT_EQ(xFilter_(2, &recPtr), 0);
  setSink_(nullptr, nullptr);
  EXPECT_EQ(rec.SpecsHandle, recordMaster.get());
  EXPECT_EQ(reinterpret_cast<const TSpecs*>(record.data())->FramePos, 3);
  EXPECT_EQ(log.Count(Notice::ProcessingError), 0);

  // The record the library made outlives the library: the host still knows
  // it (and frees it when the clip goes).
  Unload();
  EXPECT_TRUE(InProcessHost().OwnsHandle(clip.rec().SpecsHandle));
  EXPECT_EQ(InProcessHost().GetHandleSize(clip.rec().SpecsHandle), 256);
}

TEST_F(HostEntry, TwoHostThreadsCallingAtOnceGetTheResultsOfSerialCalls) {
  Configure([&](OptionStore& s) { s.WriteString(kKeyOptions, "SceneFile", sceneFile_); });
  Load();
  // Two clips with different records; no temporal smoothing, so that every
  // frame's result depends only on its source and its record.
  constexpr int kW = 160, kH = 96, kFrames = 40;
  TSpecs specsA = BuiltInDefaultSpecs(), specsB = BuiltInDefaultSpecs();
  specsA.YDespeckle = 2;
  specsA.NoiseMask = 2;
  specsA.MedianLimit = 40;
  specsA.MedianWhen = 3;
  specsA.YSharpness = 30;
  specsA.SharpMask = 2;
  specsB.CDespeckle = 3;
  specsB.CSharpness = 40;
  specsB.Gain = 140;
  specsB.ProcMode = 2;
  std::mt19937 rng(test::TestSeed());
  struct Clip {
    TestClip call;
    std::vector<std::unique_ptr<TestFrame>> sources, expected, got;
  } clips[2];
  for (int c = 0; c < 2; ++c) {
    clips[c].call.SetSpecs(c == 0 ? specsA : specsB);
    clips[c].call.SetPrivate(c == 0 ? "clip A private" : "clip B private");
    for (int f = 0; f < kFrames; ++f) {
      clips[c].sources.push_back(std::make_unique<TestFrame>(kW, kH));
      clips[c].sources.back()->FillRandom(rng);
      clips[c].expected.push_back(std::make_unique<TestFrame>(kW, kH));
      clips[c].got.push_back(std::make_unique<TestFrame>(kW, kH));
    }
  }
  auto render = [&](int c, bool expected) {
    Clip& clip = clips[c];
    for (int f = 0; f < kFrames; ++f) {
      clip.call.SetPart(f, kFrames);
      clip.call.rec().Source = clip.sources[f]->handle();
      clip.call.rec().Destination = (expected ? clip.expected : clip.got)[f]->handle();
      EXPECT_EQ(xFilter_(kSelectorExecute, clip.call.handle()), 0);
    }
  };
  // The expected frames come from a host thread of their own too; the
  // fixture then checks that the library still really unloads.
  std::thread([&] {
    render(0, true);
    render(1, true);
  }).join();
  // Both threads start together, so that their calls overlap.
  std::atomic<int> ready{0};
  auto start = [&] {
    ++ready;
    while (ready.load() < 2) std::this_thread::yield();
  };
  std::thread a([&] {
    start();
    render(0, false);
  });
  std::thread b([&] {
    start();
    render(1, false);
  });
  a.join();
  b.join();
  for (int c = 0; c < 2; ++c)
    for (int f = 0; f < kFrames; ++f) {
      const size_t bytes = static_cast<size_t>(kW) * kH * 4;
      EXPECT_EQ(std::memcmp(clips[c].got[f]->desc().Pixels, clips[c].expected[f]->desc().Pixels, bytes), 0)
          << "clip " << c << " frame " << f;
      EXPECT_TRUE(clips[c].got[f]->GuardsIntact());
    }
}

// The filter's threads run kernels that borrow scratch memory; none of it may
// keep the library loaded once the host lets it go (the fixture checks that
// the library really unloads). The frame is tall enough for despeckling and
// the medians to be cut into bands on the pool's threads.
TEST_F(HostEntry, TheLibraryUnloadsAfterItsThreadsHaveFilteredInBands) {
  ::setenv("TARVO_THREADS", "2", 1);
  Configure([&](OptionStore& s) { s.WriteString(kKeyOptions, "SceneFile", sceneFile_); });
  Load();
  TSpecs specs = BuiltInDefaultSpecs();
  specs.YDespeckle = 4;
  specs.CDespeckle = 4;
  specs.MedianLimit = 40;
  specs.MedianWhen = 3;
  TestClip clip;
  clip.SetSpecs(specs);
  std::mt19937 rng(test::TestSeed());
  TestFrame source(320, 1200), destination(320, 1200);
  source.FillRandom(rng);
  clip.SetPart(0, 1);
  clip.rec().Source = source.handle();
  clip.rec().Destination = destination.handle();
  EXPECT_EQ(xFilter_(kSelectorExecute, clip.handle()), 0);
  EXPECT_NE(std::memcmp(source.desc().Pixels, destination.desc().Pixels, size_t{320} * 1200 * 4), 0);
}

}  // namespace
}  // namespace tarvo
