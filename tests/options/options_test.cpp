#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "options/options.h"
#include "platform/os_registry_file.h"
#include "support/temp_dir.h"
#include "util/message_sink.h"

namespace tarvo {
namespace {

using test::TempDir;
using test::WriteText;

int32_t StoredInt(OptionStore& s, const char* key, const char* name) {
  int32_t v = -12345;
  EXPECT_EQ(s.ReadInteger(key, name, v), ValueStatus::Present) << name;
  return v;
}

std::string StoredString(OptionStore& s, const char* key, const char* name) {
  std::string v = "?";
  EXPECT_EQ(s.ReadString(key, name, v), ValueStatus::Present) << name;
  return v;
}

// Keeps TARVO_OPMODE and TARVO_THREADS out of the tests that do not set them.
class StartupOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("TARVO_OPMODE");
    ::unsetenv("TARVO_THREADS");
  }
  void TearDown() override {
    ::unsetenv("TARVO_OPMODE");
    ::unsetenv("TARVO_THREADS");
  }
  OptionsEnvironment env_{"", "/nonexistent/host", true};
};

TEST_F(StartupOptions, AFreshStoreGetsEveryDefaultWritten) {
  MemoryOptionStore store;
  TSpecs d = BuiltInDefaultSpecs();
  const Options o = ReadStartupOptions(store, d, env_);
  EXPECT_EQ(StoredInt(store, kKeyProcessing, "ProcMode"), 0);
  EXPECT_EQ(StoredInt(store, kKeyProcessing, "OpMode"), 2);
  EXPECT_EQ(StoredInt(store, kKeyClipping, "Vmin"), 0);
  EXPECT_EQ(StoredInt(store, kKeyClipping, "Vmax"), 255);
  EXPECT_EQ(StoredInt(store, kKeyLevels, "Vblank"), 0);
  EXPECT_EQ(StoredInt(store, kKeyLevels, "Vblack"), 0);
  EXPECT_EQ(StoredInt(store, kKeyLevels, "Vwhite"), 255);
  EXPECT_EQ(StoredInt(store, kKeyLevels, "NTSCBlacks"), 0);
  EXPECT_EQ(StoredString(store, kKeyOptions, "DefaultScene"), "<none>");
  EXPECT_EQ(StoredInt(store, kKeyOptions, "UseMasters"), 0);
  EXPECT_EQ(StoredInt(store, kKeyOptions, "ShowHints"), 1);
  EXPECT_EQ(StoredInt(store, kKeyOptions, "DefaultPage"), 1);
  EXPECT_EQ(StoredString(store, kKeyOptions, "SceneFile"), "SCENES.KVS");
  EXPECT_EQ(StoredString(store, kKeyOptions, "HelpFile"), "FL-TARVO.HTML");
  EXPECT_EQ(StoredInt(store, kKeyOptions, "USTerminology"), 1);
  EXPECT_EQ(StoredInt(store, kKeyOptions, "Threads"), 0);
  EXPECT_NE(store.Tree().FindKey(kKeyAppPath), nullptr);

  EXPECT_EQ(o.OpMode, 2);
  EXPECT_EQ(o.DefaultScene, "<none>");
  EXPECT_EQ(o.ShowHints, 1);
  EXPECT_EQ(o.DefaultPage, 1);
  EXPECT_EQ(o.USTerminology, 1);
  EXPECT_EQ(o.Threads, 0);
  TSpecs expected = BuiltInDefaultSpecs();
  EXPECT_EQ(std::memcmp(&d, &expected, sizeof d), 0);

  // A second start-up finds a complete set and writes nothing, although the
  // help file its bare name stands for does not exist and is looked for again.
  const int writes = store.WriteCount();
  TSpecs d2 = BuiltInDefaultSpecs();
  EXPECT_EQ(ReadStartupOptions(store, d2, env_).HelpFile, "FL-TARVO.HTML");
  EXPECT_EQ(store.WriteCount(), writes);
}

TEST_F(StartupOptions, StartsOnACompleteOptionsFileLeaveItUntouched) {
  TempDir dir;
  const std::string path = dir / "registry.reg";
  OptionsEnvironment env = env_;
  env.pluginFolder = "/opt/tarvo/lib/";
  {
    FileOptionStore store(path);
    ASSERT_TRUE(SetInstallPath(store, "/opt/tarvo/lib/tarvo-xfilter.so"));
    TSpecs d = BuiltInDefaultSpecs();
    ReadStartupOptions(store, d, env);
  }
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  const std::string text = test::ReadText(path);
  // Every later start, as the command and every engine make one: the same
  // install path, the same missing help file. A rewrite would replace the
  // file (a new inode) even when its text came out the same.
  for (int i = 0; i < 3; ++i) {
    FileOptionStore store(path);
    ASSERT_TRUE(SetInstallPath(store, "/opt/tarvo/lib/tarvo-xfilter.so"));
    TSpecs d = BuiltInDefaultSpecs();
    EXPECT_EQ(ReadStartupOptions(store, d, env).HelpFile, "FL-TARVO.HTML");
  }
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(test::ReadText(path), text);

  // A new install folder is written.
  FileOptionStore store(path);
  ASSERT_TRUE(SetInstallPath(store, "/usr/lib/tarvo/tarvo-xfilter.so"));
  EXPECT_EQ(StoredString(store, kKeyAppPath, "Path"), "/usr/lib/tarvo/");
  EXPECT_NE(test::ReadText(path), text);
}

TEST_F(StartupOptions, LevelsDefaultToTheClippingValuesJustRead) {
  MemoryOptionStore store;
  store.WriteInteger(kKeyClipping, "Vmin", 16);
  store.WriteInteger(kKeyClipping, "Vmax", 235);
  store.WriteInteger(kKeyProcessing, "ProcMode", 2);
  TSpecs d = BuiltInDefaultSpecs();
  ReadStartupOptions(store, d, env_);
  EXPECT_EQ(d.Vmin, 16);
  EXPECT_EQ(d.Vmax, 235);
  EXPECT_EQ(d.ProcMode, 2);
  EXPECT_EQ(d.Vblank, 16);
  EXPECT_EQ(d.Vblack, 16);
  EXPECT_EQ(d.Vwhite, 235);
  EXPECT_EQ(StoredInt(store, kKeyLevels, "Vblank"), 16);
  EXPECT_EQ(StoredInt(store, kKeyLevels, "Vblack"), 16);
  EXPECT_EQ(StoredInt(store, kKeyLevels, "Vwhite"), 235);

  // Vblack's default is the Vblank read, not Vmin.
  MemoryOptionStore store2;
  store2.WriteInteger(kKeyClipping, "Vmin", 16);
  store2.WriteInteger(kKeyLevels, "Vblank", 30);
  TSpecs d2 = BuiltInDefaultSpecs();
  ReadStartupOptions(store2, d2, env_);
  EXPECT_EQ(d2.Vblank, 30);
  EXPECT_EQ(d2.Vblack, 30);
}

TEST_F(StartupOptions, MistypedAndUnreadableValuesAreReplacedByTheirDefaults) {
  MemoryOptionStore store;
  store.WriteString(kKeyClipping, "Vmin", "16");
  store.WriteString(kKeyProcessing, "OpMode", "0");
  store.PutUnreadable(kKeyOptions, "ShowHints", "dword:zz");
  store.WriteInteger(kKeyOptions, "DefaultScene", 5);
  store.WriteInteger(kKeyOptions, "SceneFile", 7);
  store.WriteString(kKeyOptions, "DefaultPage", "3");
  TSpecs d = BuiltInDefaultSpecs();
  const Options o = ReadStartupOptions(store, d, env_);
  EXPECT_EQ(d.Vmin, 0);
  EXPECT_EQ(StoredInt(store, kKeyClipping, "Vmin"), 0);
  EXPECT_EQ(o.OpMode, 2);
  EXPECT_EQ(StoredInt(store, kKeyProcessing, "OpMode"), 2);
  EXPECT_EQ(o.ShowHints, 1);
  EXPECT_EQ(StoredInt(store, kKeyOptions, "ShowHints"), 1);
  EXPECT_EQ(StoredString(store, kKeyOptions, "DefaultScene"), "<none>");
  EXPECT_EQ(StoredString(store, kKeyOptions, "SceneFile"), "SCENES.KVS");
  EXPECT_EQ(o.DefaultPage, 1);
  EXPECT_EQ(StoredInt(store, kKeyOptions, "DefaultPage"), 1);
}

TEST_F(StartupOptions, AStartPageOutOfRangeIsUsedAsOneButStaysStored) {
  for (int32_t page : {9, -1, 7}) {
    MemoryOptionStore store;
    store.WriteInteger(kKeyOptions, "DefaultPage", page);
    TSpecs d = BuiltInDefaultSpecs();
    EXPECT_EQ(ReadStartupOptions(store, d, env_).DefaultPage, 1) << page;
    EXPECT_EQ(StoredInt(store, kKeyOptions, "DefaultPage"), page);
  }
  MemoryOptionStore store;
  store.WriteInteger(kKeyOptions, "DefaultPage", 6);
  TSpecs d = BuiltInDefaultSpecs();
  EXPECT_EQ(ReadStartupOptions(store, d, env_).DefaultPage, 6);
}

TEST_F(StartupOptions, ABlankDefaultSceneBecomesNone) {
  for (const char* blank : {" ", "", "\t"}) {
    MemoryOptionStore store;
    store.WriteString(kKeyOptions, "DefaultScene", blank);
    TSpecs d = BuiltInDefaultSpecs();
    EXPECT_EQ(ReadStartupOptions(store, d, env_).DefaultScene, "<none>");
    EXPECT_EQ(StoredString(store, kKeyOptions, "DefaultScene"), "<none>");
  }
  MemoryOptionStore store;
  store.WriteString(kKeyOptions, "DefaultScene", "Evening");
  TSpecs d = BuiltInDefaultSpecs();
  EXPECT_EQ(ReadStartupOptions(store, d, env_).DefaultScene, "Evening");
}

TEST_F(StartupOptions, SceneFilePathsAreAbsoluteOrRebuiltFromTheInstallPath) {
  struct Case {
    const char* stored;
    bool kept;
  } cases[] = {{"/abs/path/SCENES.KVS", true}, {"C:\\Scenes\\SCENES.KVS", true}, {"./rel/SCENES.KVS", false},
               {"../SCENES.KVS", false},       {"", false},                       {"/", true}};
  for (const Case& c : cases) {
    MemoryOptionStore store;
    store.WriteString(kKeyOptions, "SceneFile", c.stored);
    store.WriteString(kKeyAppPath, "Path", "/usr/lib/tarvo/");
    TSpecs d = BuiltInDefaultSpecs();
    const Options o = ReadStartupOptions(store, d, env_);
    const std::string expected = c.kept ? c.stored : "/usr/lib/tarvo/SCENES.KVS";
    EXPECT_EQ(o.SceneFile, expected) << c.stored;
    EXPECT_EQ(StoredString(store, kKeyOptions, "SceneFile"), expected) << c.stored;
  }
}

TEST_F(StartupOptions, TheDefaultSceneFileSitsInTheInstallFolder) {
  {
    // The install path keeps its text up to the last "/".
    MemoryOptionStore store;
    store.WriteString(kKeyAppPath, "Path", "/opt/tarvo/lib/tarvo-xfilter.so");
    TSpecs d = BuiltInDefaultSpecs();
    EXPECT_EQ(ReadStartupOptions(store, d, env_).SceneFile, "/opt/tarvo/lib/SCENES.KVS");
  }
  {
    // No install path: the plug-in's own folder, not the current folder.
    MemoryOptionStore store;
    TSpecs d = BuiltInDefaultSpecs();
    OptionsEnvironment env = env_;
    env.pluginFolder = "/usr/lib/x86_64-linux-gnu/tarvo";
    EXPECT_EQ(ReadStartupOptions(store, d, env).SceneFile, "/usr/lib/x86_64-linux-gnu/tarvo/SCENES.KVS");
  }
  {
    // A path without any "/" gives the bare name when nothing else is known.
    MemoryOptionStore store;
    store.WriteString(kKeyAppPath, "Path", "tarvo");
    TSpecs d = BuiltInDefaultSpecs();
    EXPECT_EQ(ReadStartupOptions(store, d, env_).SceneFile, "SCENES.KVS");
  }
  {
    MemoryOptionStore store;
    ASSERT_TRUE(SetInstallPath(store, "/opt/tarvo/./lib/tarvo-xfilter.so"));
    EXPECT_EQ(StoredString(store, kKeyAppPath, "Path"), "/opt/tarvo/lib/");
    TSpecs d = BuiltInDefaultSpecs();
    EXPECT_EQ(ReadStartupOptions(store, d, env_).SceneFile, "/opt/tarvo/lib/SCENES.KVS");
  }
}

TEST_F(StartupOptions, TheHelpFileIsSearchedBesideTheHostInItsOrder) {
  TempDir dir;
  std::filesystem::create_directories(dir / "PLUG-INS");
  std::filesystem::create_directories(dir / "VFT_PLUG");
  WriteText(dir / "PLUG-INS/FL-TARVO.HTML", "<html></html>");
  WriteText(dir / "VFT_PLUG/FL-TARVO.HTML", "<html></html>");
  OptionsEnvironment env = env_;
  env.hostExecutable = dir / "host";

  MemoryOptionStore store;
  TSpecs d = BuiltInDefaultSpecs();
  EXPECT_EQ(ReadStartupOptions(store, d, env).HelpFile, dir / "PLUG-INS/FL-TARVO.HTML");

  // An existing stored file is kept; once deleted it is searched again.
  WriteText(dir / "mine.html", "<html></html>");
  store.WriteString(kKeyOptions, "HelpFile", dir / "mine.html");
  EXPECT_EQ(ReadStartupOptions(store, d, env).HelpFile, dir / "mine.html");
  std::filesystem::remove(dir / "mine.html");
  std::filesystem::create_directories(dir / "PLUGINS");
  WriteText(dir / "PLUGINS/FL-TARVO.HTML", "<html></html>");
  EXPECT_EQ(ReadStartupOptions(store, d, env).HelpFile, dir / "PLUGINS/FL-TARVO.HTML");
  EXPECT_EQ(StoredString(store, kKeyOptions, "HelpFile"), dir / "PLUGINS/FL-TARVO.HTML");
}

TEST_F(StartupOptions, TheEnvironmentForcesTheOperatingModeWithoutStoringIt) {
  MemoryOptionStore store;
  store.WriteInteger(kKeyProcessing, "OpMode", 2);
  ::setenv("TARVO_OPMODE", "Draft", 1);
  TSpecs d = BuiltInDefaultSpecs();
  EXPECT_EQ(ReadStartupOptions(store, d, env_).OpMode, 1);
  EXPECT_EQ(StoredInt(store, kKeyProcessing, "OpMode"), 2);
  ::setenv("TARVO_OPMODE", "0", 1);
  EXPECT_EQ(ReadStartupOptions(store, d, env_).OpMode, 0);
  ::setenv("TARVO_OPMODE", "fast", 1);  // unreadable: ignored
  EXPECT_EQ(ReadStartupOptions(store, d, env_).OpMode, 2);
  OptionsEnvironment noEnv = env_;
  noEnv.useEnvironmentOpMode = false;
  ::setenv("TARVO_OPMODE", "bypass", 1);
  EXPECT_EQ(ReadStartupOptions(store, d, noEnv).OpMode, 2);
}

TEST_F(StartupOptions, AnOptionsFileFromBeforeTheThreadCountGetsItAndNothingElseChanges) {
  // A complete file as versions without the "Threads" value wrote it.
  const std::string older =
      "Windows Registry Editor Version 5.00\n"
      "\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Processing]\n"
      "\"ProcMode\"=dword:00000002\n\"OpMode\"=dword:00000001\n"
      "\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Clipping]\n"
      "\"Vmin\"=dword:00000010\n\"Vmax\"=dword:000000eb\n"
      "\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Levels]\n"
      "\"Vblank\"=dword:00000010\n\"Vblack\"=dword:00000012\n\"Vwhite\"=dword:000000eb\n"
      "\"NTSCBlacks\"=dword:00000001\n"
      "\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n"
      "\"DefaultScene\"=\"Evening\"\n\"UseMasters\"=dword:00000001\n\"ShowHints\"=dword:00000000\n"
      "\"DefaultPage\"=dword:00000003\n\"SceneFile\"=\"/srv/tarvo/SCENES.KVS\"\n"
      "\"HelpFile\"=\"FL-TARVO.HTML\"\n\"USTerminology\"=dword:00000000\n"
      "\"Top\"=dword:00000064\n\"Left\"=dword:000000c8\n"
      "\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Preview]\n"
      "\"Width\"=dword:00000280\n";
  TempDir dir;
  const std::string path = dir / "registry.reg";
  WriteText(path, older);
  TSpecs d = BuiltInDefaultSpecs();
  Options o;
  {
    FileOptionStore store(path);
    o = ReadStartupOptions(store, d, env_);
  }
  EXPECT_EQ(o.Threads, 0);
  EXPECT_EQ(o.OpMode, 1);
  EXPECT_EQ(o.NTSCBlacks, 1);
  EXPECT_EQ(o.DefaultScene, "Evening");
  EXPECT_EQ(o.UseMasters, 1);
  EXPECT_EQ(o.ShowHints, 0);
  EXPECT_EQ(o.DefaultPage, 3);
  EXPECT_EQ(o.SceneFile, "/srv/tarvo/SCENES.KVS");
  EXPECT_EQ(o.USTerminology, 0);
  EXPECT_EQ(d.ProcMode, 2);
  EXPECT_EQ(d.Vmin, 16);
  EXPECT_EQ(d.Vblack, 18);
  EXPECT_EQ(d.Vwhite, 235);
  // The one new line goes at the end of the Options key; every other byte
  // stays where it was.
  const std::string line = "\"Threads\"=dword:00000000\n";
  const std::string after = test::ReadText(path);
  const size_t at = after.find(line);
  ASSERT_NE(at, std::string::npos) << after;
  EXPECT_EQ(after.substr(0, at), older.substr(0, at));
  const std::string left = "\"Left\"=dword:000000c8\n";
  EXPECT_EQ(after.compare(at - left.size(), left.size(), left), 0);
  EXPECT_EQ(after.substr(0, at) + after.substr(at + line.size()), older);
}

TEST_F(StartupOptions, ANegativeOrMistypedThreadCountIsRepairedAndOthersAreKept) {
  struct Case {
    const char* what;
    std::function<void(MemoryOptionStore&)> put;
    int32_t used, stored;
  };
  const Case cases[] = {
      {"negative", [](MemoryOptionStore& s) { s.WriteInteger(kKeyOptions, "Threads", -3); }, 0, 0},
      {"a string", [](MemoryOptionStore& s) { s.WriteString(kKeyOptions, "Threads", "4"); }, 0, 0},
      {"unreadable", [](MemoryOptionStore& s) { s.PutUnreadable(kKeyOptions, "Threads", "dword:zz"); }, 0, 0},
      {"one", [](MemoryOptionStore& s) { s.WriteInteger(kKeyOptions, "Threads", 1); }, 1, 1},
      // More than the machine has is kept: the pool caps it at the cores.
      {"many", [](MemoryOptionStore& s) { s.WriteInteger(kKeyOptions, "Threads", 1000); }, 1000, 1000},
  };
  for (const Case& c : cases) {
    MemoryOptionStore store;
    c.put(store);
    TSpecs d = BuiltInDefaultSpecs();
    EXPECT_EQ(ReadStartupOptions(store, d, env_).Threads, c.used) << c.what;
    EXPECT_EQ(StoredInt(store, kKeyOptions, "Threads"), c.stored) << c.what;
  }
}

TEST_F(StartupOptions, TheEnvironmentForcesTheThreadCountWithoutStoringIt) {
  std::vector<std::string> heard;
  SetProcessNoticeHandler([&](Notice, const std::string& text) { heard.push_back(text); });
  MemoryOptionStore store;
  store.WriteInteger(kKeyOptions, "Threads", 2);
  TSpecs d = BuiltInDefaultSpecs();
  EXPECT_EQ(ReadStartupOptions(store, d, env_).Threads, 2);
  ::setenv("TARVO_THREADS", "3", 1);
  EXPECT_EQ(ReadStartupOptions(store, d, env_).Threads, 3);
  ::setenv("TARVO_THREADS", "0", 1);  // one per core, whatever is stored
  EXPECT_EQ(ReadStartupOptions(store, d, env_).Threads, 0);
  EXPECT_EQ(StoredInt(store, kKeyOptions, "Threads"), 2);
  EXPECT_TRUE(heard.empty());
  // Unreadable values are ignored, and said once for the process.
  for (const char* bad : {"-1", "two", "3 ", "+2", "99999999999"}) {
    ::setenv("TARVO_THREADS", bad, 1);
    EXPECT_EQ(ReadStartupOptions(store, d, env_).Threads, 2) << bad;
  }
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_NE(heard[0].find("TARVO_THREADS '-1'"), std::string::npos) << heard[0];
  OptionsEnvironment noEnv = env_;
  noEnv.useEnvironmentThreads = false;
  ::setenv("TARVO_THREADS", "5", 1);
  EXPECT_EQ(ReadStartupOptions(store, d, noEnv).Threads, 2);
  SetProcessNoticeHandler(nullptr);
}

TEST(ThreadCount, ReadsWholeNumbersAndResolvesZeroToTheCores) {
  EXPECT_EQ(ParseThreadCount("0"), 0);
  EXPECT_EQ(ParseThreadCount("12"), 12);
  EXPECT_EQ(ParseThreadCount("007"), 7);
  for (const char* bad : {"", "-1", "+2", " 2", "2 ", "1e3", "0x4", "1234567890"})
    EXPECT_FALSE(ParseThreadCount(bad).has_value()) << bad;
  const unsigned cores = std::thread::hardware_concurrency();
  EXPECT_EQ(ResolveThreadCount(0), cores > 0 ? static_cast<int32_t>(cores) : 1);
  EXPECT_EQ(ResolveThreadCount(5), 5);
  EXPECT_EQ(ResolveThreadCount(1), 1);
}

TEST_F(StartupOptions, TheOperatingModeIsHeldAsOneByte) {
  MemoryOptionStore store;
  store.WriteInteger(kKeyProcessing, "OpMode", 257);
  TSpecs d = BuiltInDefaultSpecs();
  EXPECT_EQ(ReadStartupOptions(store, d, env_).OpMode, 1);
}

}  // namespace
}  // namespace tarvo
