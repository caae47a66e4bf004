#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>
#include <random>

#include <gtest/gtest.h>

#include "types/call_record.h"
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
  }
  void TearDown() override {
    Unload();
    ::unsetenv("TARVO_REGISTRY");
    ::unsetenv("TARVO_OPMODE");
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
    ASSERT_NE(xFilter_, nullptr);
    ASSERT_NE(describe_, nullptr);
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

}  // namespace
}  // namespace tarvo
