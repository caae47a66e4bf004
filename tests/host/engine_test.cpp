#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "host/engine.h"
#include "platform/icu_collation.h"
#include "platform/os_registry_file.h"
#include "options/options.h"
#include "support/call_records.h"
#include "support/test_support.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using test::FileOf;
using test::ReadText;
using test::Scene;
using test::TempDir;
using test::TestClip;
using test::WriteText;

bool SameBytes(const TSpecs& a, const TSpecs& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// An engine on an in-memory store whose scene file lives in a temporary
// folder; notices are counted instead of printed.
class EngineTest : public ::testing::Test {
 protected:
  void TearDown() override { ::unsetenv("TARVO_THREADS"); }
  void SetUp() override {
    ::unsetenv("TARVO_OPMODE");
    ::unsetenv("TARVO_THREADS");
    auto store = std::make_unique<MemoryOptionStore>();
    store_ = store.get();
    store_->WriteString(kKeyOptions, "SceneFile", sceneFile_);
    pendingStore_ = std::move(store);
  }
  Engine& MakeEngine() {
    engine_ = std::make_unique<Engine>(std::move(pendingStore_), MakeIcuCollator("en_US.UTF-8"));
    engine_->GetNotifier().SetHandler([this](Notice n, const std::string&) { ++notices_[n]; });
    return *engine_;
  }

  TempDir dir_;
  std::string sceneFile_ = dir_ / "SCENES.KVS";
  MemoryOptionStore* store_ = nullptr;
  std::unique_ptr<MemoryOptionStore> pendingStore_;
  std::unique_ptr<Engine> engine_;
  std::map<Notice, int> notices_;
};

TEST_F(EngineTest, AClipsFirstCallGetsTheDefaultRecordWithThePreferredPage) {
  store_->WriteInteger(kKeyOptions, "DefaultPage", 4);
  store_->WriteInteger(kKeyClipping, "Vmin", 16);
  Engine& e = MakeEngine();
  TestClip clip;
  clip.SetPart(7);
  EXPECT_EQ(e.Filter(2, clip.handle()), 0);
  ASSERT_NE(clip.rec().SpecsHandle, nullptr);
  EXPECT_EQ(InProcessHost().GetHandleSize(clip.rec().SpecsHandle), 256);
  TSpecs expected = BuiltInDefaultSpecs();
  expected.Vmin = expected.Vblank = expected.Vblack = 16;
  expected.PageIndex = 4;
  EXPECT_TRUE(SameBytes(clip.specs(), expected));
  EXPECT_EQ(e.SceneIndex(), 0);
  EXPECT_TRUE(e.Call().changed);
  EXPECT_EQ(e.Call().part, 7);
  EXPECT_FALSE(std::filesystem::exists(sceneFile_));  // no scene needed, none read or written

  clip.SetPart(5);
  e.Filter(2, clip.handle());
  EXPECT_EQ(clip.specs().FramePos, 5);
  EXPECT_EQ(clip.specs().LastPart, 5);
  EXPECT_EQ(e.SceneIndex(), -1);       // a filled record that follows no master
  // The frame position is not a change: the previous record is not replaced.
  // (The flag itself stays set until a render has rebuilt the tables.)
  EXPECT_EQ(e.PreviousSpecs().FramePos, 0);
  clip.specs().Gain = 150;
  e.Filter(2, clip.handle());
  EXPECT_TRUE(e.Call().changed);
  EXPECT_EQ(e.PreviousSpecs().Gain, 150);
}

TEST_F(EngineTest, StartUpGivesThePipelineTheConfiguredThreadsOrTheEnvironments) {
  store_->WriteInteger(kKeyOptions, "Threads", 1);
  Engine& one = MakeEngine();
  one.Startup();
  EXPECT_EQ(one.GetOptions().Threads, 1);
  EXPECT_EQ(one.GetPipeline().Threads(), 1);

  // The default, one thread per core; TARVO_THREADS wins over the file.
  for (const char* forced : {"", "2"}) {
    auto store = std::make_unique<MemoryOptionStore>();
    store->WriteInteger(kKeyOptions, "Threads", forced[0] ? 1 : 0);
    if (forced[0]) ::setenv("TARVO_THREADS", forced, 1);
    Engine e(std::move(store));
    e.Startup();
    const int32_t asked = forced[0] ? 2 : ResolveThreadCount(0);
    EXPECT_EQ(e.GetPipeline().Threads() > 1, asked > 1) << forced;
    EXPECT_EQ(e.GetOptions().Threads, forced[0] ? 2 : 0) << forced;
  }
}

TEST_F(EngineTest, ANewClipStartsFromThePreferredDefaultScene) {
  WriteText(sceneFile_, FileOf({Scene("Evening", 150), Scene("Morning", 80)}));
  store_->WriteString(kKeyOptions, "DefaultScene", "EVENING");
  Engine& e = MakeEngine();
  TestClip clip;
  clip.SetPart(12);
  e.Filter(2, clip.handle());
  EXPECT_EQ(e.SceneIndex(), 1);
  EXPECT_EQ(clip.specs().Gain, 150);
  EXPECT_EQ(clip.specs().FramePos, 12);
  EXPECT_EQ(SceneNameOf(clip.specs()), "Evening");
  EXPECT_FALSE(e.ScenesDirty());
}

TEST_F(EngineTest, ANewClipWhosePreferredSceneIsGoneStartsFromTheBuiltInRecord) {
  WriteText(sceneFile_, FileOf({Scene("Morning", 80)}));
  store_->WriteString(kKeyOptions, "DefaultScene", "Evening");
  Engine& e = MakeEngine();
  TestClip clip;
  e.Filter(2, clip.handle());
  EXPECT_EQ(e.SceneIndex(), 0);
  EXPECT_EQ(clip.specs().Gain, 100);
  EXPECT_EQ(e.Scenes().Count(), 2);  // the list was bound to look
}

TEST_F(EngineTest, AClipFollowingAMasterTakesTheSceneButKeepsItsPosition) {
  TSpecs master = Scene("Evening", 150);
  master.UseMaster = 0;
  master.FramePos = 3;
  WriteText(sceneFile_, FileOf({master}));
  Engine& e = MakeEngine();
  TestClip clip;
  TSpecs own = Scene("evening", 90);
  own.UseMaster = 1;
  own.FramePos = 42;
  own.LastPart = 20;
  clip.SetSpecs(own);
  clip.SetPart(20);
  e.Filter(2, clip.handle());
  EXPECT_EQ(e.SceneIndex(), 1);
  EXPECT_EQ(clip.specs().Gain, 150);
  EXPECT_EQ(clip.specs().FramePos, 42);
  EXPECT_EQ(clip.specs().UseMaster, 1);
  EXPECT_EQ(clip.specs().LastPart, 0);  // the scene's own value came with it

  // Re-saving the scene changes the clip at its next call.
  e.Scenes().Scene(1)->Specs.Gain = 175;
  e.Filter(2, clip.handle());
  EXPECT_EQ(clip.specs().Gain, 175);
  EXPECT_TRUE(e.Call().changed);
}

TEST_F(EngineTest, AMasterThatCannotBeUsedLeavesTheClipsOwnSettings) {
  WriteText(sceneFile_, FileOf({Scene("Evening", 150)}));
  Engine& e = MakeEngine();
  for (const char* name : {"<none>", "Night", " ", ""}) {
    TestClip clip;
    TSpecs own = Scene(name, 90);
    own.UseMaster = 1;
    clip.SetSpecs(own);
    e.Filter(2, clip.handle());
    EXPECT_EQ(e.SceneIndex(), -1) << name;
    EXPECT_EQ(clip.specs().Gain, 90) << name;
  }
  // Named but not followed.
  TestClip clip;
  TSpecs own = Scene("Evening", 90);
  clip.SetSpecs(own);
  e.Filter(2, clip.handle());
  EXPECT_EQ(e.SceneIndex(), -1);
  EXPECT_EQ(clip.specs().Gain, 90);
}

TEST_F(EngineTest, OlderClipRecordsAreUpgradedAndGrown) {
  Engine& e = MakeEngine();
  TSpecs old = BuiltInDefaultSpecs();
  old.Version = 69;
  old.Knee = 30;
  old.Slope = 10;
  TestClip clip;
  clip.SetSpecs(old, 200);  // format 69 records were shorter
  e.Filter(2, clip.handle());
  EXPECT_EQ(InProcessHost().GetHandleSize(clip.rec().SpecsHandle), 256);
  EXPECT_EQ(clip.specs().Version, 72);
  EXPECT_EQ(clip.specs().Knee, 70);
  EXPECT_EQ(clip.specs().Slope, 50);
  EXPECT_EQ(SceneNameOf(clip.specs()), "<none>");

  // A current record in a block that is too short is grown, not overrun.
  TSpecs current = BuiltInDefaultSpecs();
  current.Gain = 120;
  TestClip shortClip;
  shortClip.SetSpecs(current, 100);
  e.Filter(2, shortClip.handle());
  EXPECT_EQ(InProcessHost().GetHandleSize(shortClip.rec().SpecsHandle), 256);
  EXPECT_EQ(shortClip.specs().Gain, 120);
  EXPECT_EQ(shortClip.specs().TempLimit, 0);
}

TEST_F(EngineTest, AnOlderSceneRecordIsUpgradedInTheListAndMarksTheScenesDirty) {
  TSpecs old = Scene("Evening", 150);
  old.Version = 71;
  old.YSharpness = 40;
  old.CSharpness = 2;  // format 71: colour only
  WriteText(sceneFile_, FileOf({old}));
  const std::string before = ReadText(sceneFile_);
  Engine& e = MakeEngine();
  TestClip clip;
  TSpecs own = Scene("Evening", 90);
  own.UseMaster = 1;
  clip.SetSpecs(own);
  e.Filter(2, clip.handle());
  EXPECT_EQ(clip.specs().Version, 72);
  EXPECT_EQ(clip.specs().YSharpness, 0);
  EXPECT_EQ(clip.specs().CSharpness, 40);
  EXPECT_EQ(clip.specs().UseMaster, 1);
  EXPECT_EQ(e.Scenes().Scene(1)->Specs.Version, 72);
  EXPECT_EQ(e.Scenes().Scene(1)->Specs.CSharpness, 40);
  EXPECT_TRUE(e.ScenesDirty());
  EXPECT_EQ(ReadText(sceneFile_), before);  // written only when asked

  // A save that fails keeps the flag and the old file.
  const std::string goodName = e.Scenes().FileName();
  WriteText(dir_ / "plain", "x");
  ASSERT_TRUE(e.Scenes().SetFileName(dir_ / "plain/SCENES.KVS"));  // saves to the old file first
  e.SetScenesDirty(true);
  std::string error;
  EXPECT_FALSE(e.SaveScenesIfDirty(&error));
  EXPECT_TRUE(e.ScenesDirty());
  EXPECT_FALSE(error.empty());
  TSpecs saved;
  std::memcpy(&saved, ReadText(goodName).data(), sizeof saved);
  EXPECT_EQ(saved.Version, 72);
}

TEST_F(EngineTest, SavingDirtyScenesWritesTheFileAndClearsTheFlag) {
  TSpecs old = Scene("Evening", 150);
  old.Version = 70;
  WriteText(sceneFile_, FileOf({old}));
  Engine& e = MakeEngine();
  TestClip clip;
  TSpecs own = Scene("Evening", 90);
  own.UseMaster = 1;
  clip.SetSpecs(own);
  e.Filter(2, clip.handle());
  ASSERT_TRUE(e.ScenesDirty());
  std::string error;
  EXPECT_TRUE(e.SaveScenesIfDirty(&error)) << error;
  EXPECT_FALSE(e.ScenesDirty());
  TSpecs saved;
  std::memcpy(&saved, ReadText(sceneFile_).data(), sizeof saved);
  EXPECT_EQ(saved.Version, 72);
  EXPECT_EQ(saved.Slope, 50);
}

TEST_F(EngineTest, TheHostsPrivateDataFillsTheStartOfThePrivateBlock) {
  Engine& e = MakeEngine();
  TestClip clip;
  clip.SetPrivate(std::string(64, 'a') + "beyond");
  e.Filter(2, clip.handle());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.Call().privateBlock), 64), std::string(64, 'a'));
  clip.SetPrivate("0123456789");
  e.Filter(2, clip.handle());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.Call().privateBlock), 64),
            "0123456789" + std::string(54, 'a'));
  InProcessHost().DisposeHandle(clip.rec().PrivateData);
  clip.rec().PrivateData = nullptr;
  e.Filter(2, clip.handle());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.Call().privateBlock), 64), std::string(64, '\0'));
}

// A handle as a host makes it itself: a master pointer alone on the heap (so
// that reading past it is caught by the address sanitizer), pointing at a
// block of its own.
struct ForeignHandle {
  std::vector<uint8_t> block;
  std::unique_ptr<uint8_t*> master;
  explicit ForeignHandle(size_t size) : block(size), master(std::make_unique<uint8_t*>(block.data())) {}
  Handle get() { return master.get(); }
};

TEST_F(EngineTest, HandlesTheHostMadeItselfAreUsedAtTheProtocolSizes) {
  Engine& e = MakeEngine();
  TSpecs specs = BuiltInDefaultSpecs();
  specs.Gain = 150;
  specs.Version = 71;  // an older format: upgraded in place, the block is not grown
  ForeignHandle record(kSpecsSize), priv(64);
  std::memcpy(record.block.data(), &specs, kSpecsSize);
  for (size_t i = 0; i < 64; ++i) priv.block[i] = static_cast<uint8_t>(i + 1);
  test::TestFrame source(16, 8), destination(16, 8);
  std::mt19937 rng(test::TestSeed());
  source.FillRandom(rng);
  TFilterCallRecord rec{};
  rec.SpecsHandle = record.get();
  rec.PrivateData = priv.get();
  rec.Source = source.handle();
  rec.Destination = destination.handle();
  rec.Part = 5;
  rec.Total = 10;
  TFilterCallRecord* recPtr = &rec;
  EXPECT_EQ(e.Filter(kSelectorExecute, &recPtr), 0);
  EXPECT_EQ(notices_[Notice::ProcessingError], 0);
  EXPECT_EQ(rec.SpecsHandle, record.get());  // the host's record is used, not replaced
  TSpecs after;
  std::memcpy(&after, record.block.data(), kSpecsSize);
  EXPECT_EQ(after.Version, 72);
  EXPECT_EQ(after.Gain, 150);
  EXPECT_EQ(after.FramePos, 5);
  EXPECT_EQ(std::memcmp(e.Call().privateBlock, priv.block.data(), 64), 0);
  EXPECT_TRUE(destination.GuardsIntact());
}

TEST_F(EngineTest, AFailingCallIsReportedOnceAndLeavesTheRecordAsItWas) {
  Engine& e = MakeEngine();
  e.SetSetupHandler([](Engine& engine, CallRecordHandle record) -> int32_t {
    reinterpret_cast<TSpecs*>(*(**record).SpecsHandle)->Gain = 42;  // half-done work
    if (engine.Call().part == 2) throw std::bad_alloc();
    throw std::runtime_error("dialog resources missing");
  });
  TSpecs specs = BuiltInDefaultSpecs();
  specs.Gain = 150;
  TestClip clip;
  clip.SetSpecs(specs);
  clip.SetPart(1);
  const Handle handle = clip.rec().SpecsHandle;
  std::string text;
  e.GetNotifier().SetHandler([&](Notice n, const std::string& t) {
    ++notices_[n];
    text = t;
  });
  EXPECT_EQ(e.Filter(kSelectorSetup, clip.handle()), kSetupCancel);
  EXPECT_EQ(e.Filter(kSelectorSetup, clip.handle()), kSetupCancel);
  EXPECT_EQ(notices_[Notice::Failure], 1);
  EXPECT_NE(text.find("dialog resources missing"), std::string::npos) << text;
  EXPECT_EQ(clip.rec().SpecsHandle, handle);
  EXPECT_TRUE(SameBytes(clip.specs(), specs));
  clip.SetPart(2);
  EXPECT_EQ(e.Filter(kSelectorSetup, clip.handle()), kSetupCancel);
  EXPECT_EQ(notices_[Notice::OutOfMemory], 1);
  EXPECT_EQ(clip.specs().Gain, 150);

  // A record the failed call made for a new clip is taken back.
  TestClip fresh;
  EXPECT_EQ(e.Filter(kSelectorSetup, fresh.handle()), kSetupCancel);
  EXPECT_EQ(fresh.rec().SpecsHandle, nullptr);
}

TEST_F(EngineTest, TheFieldWordAndTotalsAreKeptForThePipeline) {
  Engine& e = MakeEngine();
  TestClip clip;
  clip.SetPart(3, 250);
  clip.rec().FieldWordLow = 0x11;
  clip.rec().FieldFlags = 0x02;
  e.Filter(2, clip.handle());
  EXPECT_EQ(e.Call().total, 250);
  EXPECT_EQ(e.Call().fieldWord, 0x0211);
  EXPECT_EQ(e.Call().FieldFlags(), 2);
}

TEST_F(EngineTest, SetupWithoutADialogSaysSoAndCancels) {
  Engine& e = MakeEngine();
  TestClip clip;
  EXPECT_EQ(e.Filter(kSelectorSetup, clip.handle()), kSetupCancel);
  EXPECT_EQ(e.Filter(kSelectorSetup, clip.handle()), kSetupCancel);
  EXPECT_EQ(notices_[Notice::SetupUnavailable], 1);
  EXPECT_NE(clip.rec().SpecsHandle, nullptr);  // the record was prepared all the same

  bool sawSetup = false;
  e.SetSetupHandler([&](Engine& en, CallRecordHandle) {
    sawSetup = en.Call().inSetup;
    return kSetupOk;
  });
  EXPECT_EQ(e.Filter(kSelectorSetup, clip.handle()), kSetupOk);
  EXPECT_TRUE(sawSetup);
}

TEST_F(EngineTest, RenderingOutsideFinalModeWarnsOnce) {
  store_->WriteInteger(kKeyProcessing, "OpMode", 1);
  Engine& e = MakeEngine();
  TestClip clip;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(e.Filter(kSelectorExecute, clip.handle()), 0);
  EXPECT_EQ(notices_[Notice::ModeWarning], 1);
  EXPECT_FALSE(e.Call().inSetup);
}

TEST_F(EngineTest, ConsecutiveFramesOfOneClipFormARunThroughTheHostsPrivateData) {
  Engine& e = MakeEngine();
  std::mt19937 rng(test::TestSeed());
  test::TestFrame source(16, 8), destination(16, 8);
  source.FillRandom(rng);
  TestClip clip;
  clip.rec().Source = source.handle();
  clip.rec().Destination = destination.handle();
  clip.SetPrivate("clip-one-instance");
  std::vector<int32_t> runs;
  for (int32_t part : {10, 11, 12}) {
    clip.SetPart(part);
    EXPECT_EQ(e.Filter(kSelectorExecute, clip.handle()), 0);
    runs.push_back(e.GetPipeline().RunLength());
  }
  clip.SetPrivate("clip-two-instance");  // another clip: the run breaks
  clip.SetPart(13);
  e.Filter(kSelectorExecute, clip.handle());
  runs.push_back(e.GetPipeline().RunLength());
  EXPECT_EQ(runs, (std::vector<int32_t>{0, 1, 2, 0}));
  EXPECT_EQ(notices_[Notice::ModeWarning], 0);  // Final mode
  EXPECT_TRUE(destination.GuardsIntact());
}

// A record saved by a newer version (format 73 and above) is rendered with
// the fields this version knows, and the host's record is never written:
// not the frame position bytes, not the format, not by a followed scene.
TEST_F(EngineTest, ARecordOfANewerFormatIsUsedAsUnderstoodAndNeverWritten) {
  TSpecs newer = test::Scene("Evening", 160);
  newer.Version = 73;
  newer.FramePos = 0x1234;  // what these bytes mean in that format is not known here
  newer.LastPart = 0x5678;
  for (size_t i = 0; i < sizeof newer.Reserved174; ++i) newer.Reserved174[i] = static_cast<uint8_t>(i * 7 + 1);
  TSpecs known = newer;
  known.Version = 72;
  WriteText(sceneFile_, FileOf({test::Scene("Dawn", 60), newer}));  // "Evening" is stored by the newer version
  Engine& e = MakeEngine();
  std::mt19937 rng(test::TestSeed());
  test::TestFrame source(24, 8), got(24, 8), expected(24, 8);
  source.FillRandom(rng);

  // What this version renders for the same fields in its own format.
  {
    Engine reference;
    TestClip clip;
    clip.SetSpecs(known);
    clip.rec().Source = source.handle();
    clip.rec().Destination = expected.handle();
    reference.Filter(kSelectorExecute, clip.handle());
  }
  auto render = [&](const TSpecs& record, int32_t size = kSpecsSize) {
    TestClip clip;
    clip.SetSpecs(record, size);
    clip.rec().Source = source.handle();
    clip.rec().Destination = got.handle();
    for (int32_t part : {3, 4, 9}) {
      clip.SetPart(part);
      EXPECT_EQ(e.Filter(kSelectorExecute, clip.handle()), 0);
      EXPECT_EQ(e.Filter(2, clip.handle()), 0);
    }
    EXPECT_EQ(e.Filter(kSelectorSetup, clip.handle()), kSetupCancel);  // the dialog could not save it
    EXPECT_EQ(InProcessHost().GetHandleSize(clip.rec().SpecsHandle), size);
    EXPECT_EQ(std::memcmp(*clip.rec().SpecsHandle, &record, static_cast<size_t>(size)), 0);
  };
  render(newer);
  EXPECT_EQ(std::memcmp(got.pixel(0, 0), expected.pixel(0, 0), 24 * 8 * 4), 0);
  EXPECT_EQ(notices_[Notice::NewerRecordFormat], 1);  // said once

  // A shorter block of a newer format is neither grown nor overrun.
  render(newer, 200);

  // A clip of the current format that follows the scene the newer version
  // stored renders the scene, and its own record is not replaced by it.
  TSpecs follower = test::Scene("Evening", 90);
  follower.UseMaster = 1;
  std::memset(got.pixel(0, 0), 0, 24 * 8 * 4);
  render(follower);
  EXPECT_GE(e.SceneIndex(), 1);
  EXPECT_EQ(std::memcmp(got.pixel(0, 0), expected.pixel(0, 0), 24 * 8 * 4), 0);
  EXPECT_FALSE(e.ScenesDirty());
  EXPECT_EQ(e.Scenes().Scene(e.SceneIndex())->Specs.Version, 73);
  EXPECT_EQ(notices_[Notice::NewerRecordFormat], 1);

  // A current record is still prepared in place.
  TestClip current;
  current.SetSpecs(test::Scene("Own", 100));
  current.SetPart(5);
  e.Filter(2, current.handle());
  EXPECT_EQ(current.specs().FramePos, 5);
  EXPECT_EQ(current.specs().LastPart, 5);
}

TEST_F(EngineTest, AMissingCallRecordIsAProcessingError) {
  Engine& e = MakeEngine();
  EXPECT_EQ(e.Filter(kSelectorExecute, nullptr), 0);
  EXPECT_EQ(e.Filter(kSelectorSetup, nullptr), kSetupCancel);
  EXPECT_EQ(notices_[Notice::ProcessingError], 1);
  EXPECT_TRUE(e.Started());
}

TEST(EngineOptions, AnOptionsFileThatCannotBeWrittenLeavesTheDefaultsAndOneMessage) {
  ::unsetenv("TARVO_OPMODE");
  TempDir dir;
  WriteText(dir / "plain", "x");
  int messages = 0;
  auto store = std::make_unique<FileOptionStore>(dir / "plain/registry.reg", [&](const std::string&) { ++messages; });
  Engine e(std::move(store));
  TestClip clip;
  EXPECT_EQ(e.Filter(2, clip.handle()), 0);
  EXPECT_EQ(clip.specs().Vmax, 255);
  EXPECT_EQ(e.GetOptions().OpMode, 2);
  EXPECT_EQ(e.GetOptions().ShowHints, 1);
  EXPECT_EQ(messages, 1);
}

// A directory or a named pipe where the options or the scene file belong:
// the engine starts on its defaults, renders, reports each once, and leaves
// them as they are.
TEST(EngineOptions, OptionsAndSceneFilesThatAreNotFilesAreReportedOnceAndLeftAlone) {
  ::unsetenv("TARVO_OPMODE");
  ::alarm(20);  // a read that blocks on a pipe ends the test
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (const std::string& bad : {dir / "folder", dir / "pipe"}) {
    std::vector<std::string> messages;
    {
      auto store = std::make_unique<FileOptionStore>(bad, [&](const std::string& m) { messages.push_back(m); });
      Engine e(std::move(store));
      TestClip clip;
      EXPECT_EQ(e.Filter(2, clip.handle()), 0);
      EXPECT_EQ(clip.specs().Vmax, 255);
      EXPECT_EQ(e.GetOptions().OpMode, 2);
    }
    ASSERT_EQ(messages.size(), 1u) << bad;
    EXPECT_NE(messages[0].find("'" + bad + "'"), std::string::npos) << messages[0];

    // The scene file.
    auto store = std::make_unique<MemoryOptionStore>();
    store->WriteString(kKeyOptions, "SceneFile", bad);
    Engine e(std::move(store));
    // The problem goes through the engine's notifier, once, and nowhere else.
    std::vector<std::string> reported;
    e.GetNotifier().SetHandler([&](Notice n, const std::string& text) {
      if (n == Notice::Message) reported.push_back(text);
    });
    TestClip clip;
    TSpecs own = Scene("Evening", 90);
    own.UseMaster = 1;
    clip.SetSpecs(own);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(e.Filter(2, clip.handle()), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(e.SceneIndex(), -1);
    EXPECT_EQ(clip.specs().Gain, 90);
    EXPECT_EQ(err, "");
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("cannot read the scene file: '" + bad + "'"), std::string::npos) << reported[0];
    e.SetScenesDirty(true);
    std::string why;
    EXPECT_FALSE(e.SaveScenesIfDirty(&why));
    EXPECT_NE(why.find(bad), std::string::npos) << why;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir / "folder"));
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "pipe"));
  ::alarm(0);
}

TEST_F(EngineTest, StartUpReadsTheOptionsOnceIntoTheDefaultRecord) {
  store_->WriteInteger(kKeyProcessing, "ProcMode", 3);
  Engine& e = MakeEngine();
  EXPECT_FALSE(e.Started());
  TestClip clip;
  e.Filter(2, clip.handle());
  EXPECT_EQ(e.DefaultSpecs().ProcMode, 3);
  EXPECT_EQ(clip.specs().ProcMode, 3);
  int32_t v = 0;
  EXPECT_EQ(e.Store().ReadInteger(kKeyOptions, "USTerminology", v), ValueStatus::Present);
  // A later change of the store does not reach the running engine.
  e.Store().WriteInteger(kKeyProcessing, "ProcMode", 1);
  TestClip other;
  e.Filter(2, other.handle());
  EXPECT_EQ(other.specs().ProcMode, 3);
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// A record changed by a call that renders nothing must still reach the next
// rendered frame: the colour tables are rebuilt for it.
TEST_F(EngineTest, ARecordChangedByANonRenderingCallStillRebuildsTheTables) {
  std::mt19937 rng(test::TestSeed());
  test::TestFrame source(16, 8), out(16, 8), expected(16, 8);
  source.FillRandom(rng);
  Engine& e = MakeEngine();
  TestClip clip;
  clip.rec().Source = source.handle();
  clip.rec().Destination = out.handle();
  clip.SetPart(0);
  ASSERT_EQ(e.Filter(0, clip.handle()), 0);  // tables built for the default record
  clip.specs().Lift = 40;
  clip.SetPart(1);
  ASSERT_EQ(e.Filter(2, clip.handle()), 0);  // sees the change, renders nothing
  clip.SetPart(2);
  ASSERT_EQ(e.Filter(0, clip.handle()), 0);

  TestClip fresh;
  fresh.rec().Source = source.handle();
  fresh.rec().Destination = expected.handle();
  fresh.SetSpecs(clip.specs());
  fresh.SetPart(2);
  Engine other(std::make_unique<MemoryOptionStore>(), nullptr);
  ASSERT_EQ(other.Filter(0, fresh.handle()), 0);
  for (int y = 0; y < 8; ++y)
    ASSERT_EQ(std::memcmp(out.pixel(0, y), expected.pixel(0, y), 16 * 4), 0) << "row " << y;
}

}  // namespace
}  // namespace tarvo
