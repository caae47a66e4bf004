#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/os_registry_file.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

const char kOptions[] = "\\Software\\Morlund\\Tarvo\\Options";
const char kLevels[] = "\\Software\\Morlund\\Tarvo\\Levels";

TEST(FileOptionStore, ValuesSurviveAReopenWithTheirTypes) {
  TempDir dir;
  const std::string file = dir / "sub/folder/registry.reg";
  {
    FileOptionStore store(file);
    EXPECT_TRUE(store.WriteInteger(kOptions, "ShowHints", 1));
    EXPECT_TRUE(store.WriteInteger(kLevels, "Vblack", -5));
    EXPECT_TRUE(store.WriteInteger(kLevels, "Big", static_cast<int32_t>(0x80000000u)));
    EXPECT_TRUE(store.WriteString(kOptions, "SceneFile", "C:\\Scenes\\\"odd\" name\nsecond line \xC3\xA9"));
    EXPECT_TRUE(store.WriteString(kOptions, "Empty", ""));
  }
  const std::string text = ReadText(file);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n\"ShowHints\"=dword:00000001\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"Vblack\"=dword:fffffffb"), std::string::npos) << text;
  EXPECT_NE(text.find("\"SceneFile\"=\"C:\\\\Scenes\\\\\\\"odd\\\" name\\x0asecond line \xC3\xA9\""),
            std::string::npos)
      << text;

  FileOptionStore again(file);
  int32_t i = 0;
  std::string s;
  EXPECT_EQ(again.ReadInteger(kOptions, "showhints", i), ValueStatus::Present);  // names ignore case
  EXPECT_EQ(i, 1);
  EXPECT_EQ(again.ReadInteger("\\software\\morlund\\tarvo\\levels", "Vblack", i), ValueStatus::Present);
  EXPECT_EQ(i, -5);
  EXPECT_EQ(again.ReadInteger(kLevels, "Big", i), ValueStatus::Present);
  EXPECT_EQ(i, INT32_MIN);
  EXPECT_EQ(again.ReadString(kOptions, "SceneFile", s), ValueStatus::Present);
  EXPECT_EQ(s, "C:\\Scenes\\\"odd\" name\nsecond line \xC3\xA9");
  EXPECT_EQ(again.ReadString(kOptions, "Empty", s), ValueStatus::Present);
  EXPECT_EQ(s, "");
  // Type and presence are told apart.
  EXPECT_EQ(again.ReadInteger(kOptions, "SceneFile", i), ValueStatus::WrongType);
  EXPECT_EQ(again.ReadString(kOptions, "ShowHints", s), ValueStatus::WrongType);
  EXPECT_EQ(again.ReadInteger(kOptions, "Nothing", i), ValueStatus::Missing);
  EXPECT_EQ(again.ReadInteger("\\Software\\Nowhere", "ShowHints", i), ValueStatus::Missing);
  EXPECT_TRUE(again.DamagedCopy().empty());
}

TEST(FileOptionStore, AcceptsTextSavedByAnEditor) {
  TempDir dir;
  const std::string file = dir / "registry.reg";
  WriteText(file,
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; edited by hand\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\r\n"
            "  \"ShowHints\"=DWORD:0  \r\n");
  FileOptionStore store(file);
  EXPECT_TRUE(store.DamagedCopy().empty());
  int32_t v = -1;
  EXPECT_EQ(store.ReadInteger(kOptions, "ShowHints", v), ValueStatus::Present);
  EXPECT_EQ(v, 0);
}

TEST(FileOptionStore, GroupedWritesReachTheFileTogetherAtTheEnd) {
  TempDir dir;
  const std::string file = dir / "registry.reg";
  FileOptionStore store(file);
  {
    OptionUpdate group(store);
    store.WriteInteger(kOptions, "A", 1);
    store.WriteInteger(kOptions, "B", 2);
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  FileOptionStore other(file);
  int32_t v = 0;
  EXPECT_EQ(other.ReadInteger(kOptions, "B", v), ValueStatus::Present);
  EXPECT_EQ(v, 2);
}

TEST(FileOptionStore, ADamagedFileIsKeptAsideAndTheReadablePartKept) {
  TempDir dir;
  const std::string file = dir / "registry.reg";
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n"
      "\"ShowHints\"=dword:00000000\n"
      "\"UseMasters\"=dword:zz\n"
      "garbage \x01\x02 here\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Levels]\n"
      "\"Vblank\"=dword:00000010\n"
      "\"HelpFile\"=\"/usr/sha";  // cut off in the middle of a write
  WriteText(file, damaged);
  std::vector<std::string> messages;
  FileOptionStore store(file, [&](const std::string& m) { messages.push_back(m); });
  ASSERT_FALSE(store.DamagedCopy().empty());
  EXPECT_EQ(ReadText(store.DamagedCopy()), damaged);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("damaged"), std::string::npos);

  int32_t v = -1;
  std::string s;
  EXPECT_EQ(store.ReadInteger(kOptions, "ShowHints", v), ValueStatus::Present);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(store.ReadInteger(kLevels, "Vblank", v), ValueStatus::Present);
  EXPECT_EQ(v, 16);
  EXPECT_NE(store.ReadInteger(kOptions, "UseMasters", v), ValueStatus::Present);
  EXPECT_NE(store.ReadString(kLevels, "HelpFile", s), ValueStatus::Present);

  // The repaired file reads cleanly and holds the readable values.
  OptionTree tree;
  EXPECT_TRUE(ParseRegistryText(ReadText(file), tree, nullptr));
  FileOptionStore reopened(file);
  EXPECT_TRUE(reopened.DamagedCopy().empty());
  EXPECT_EQ(reopened.ReadInteger(kLevels, "Vblank", v), ValueStatus::Present);
  EXPECT_EQ(reopened.ReadInteger(kOptions, "UseMasters", v), ValueStatus::Missing);
}

TEST(FileOptionStore, ALinkedFileStaysLinkedAndKeepsItsModeThroughWritesAndRepairs) {
  TempDir dir;
  std::filesystem::create_directories(dir / "dotfiles");
  const std::string real = dir / "dotfiles/registry.reg", link = dir / "registry.reg";
  WriteText(real, "Windows Registry Editor Version 5.00\n");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  std::filesystem::create_symlink("dotfiles/registry.reg", link);
  {
    FileOptionStore store(link);
    EXPECT_TRUE(store.WriteInteger(kOptions, "ShowHints", 0));
  }
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_NE(ReadText(real).find("\"ShowHints\"=dword:00000000"), std::string::npos);
  EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // Damaged: the file behind the link is kept aside beside it and repaired.
  const std::string damaged = ReadText(real) + "garbage\n";
  WriteText(real, damaged);
  std::vector<std::string> messages;
  FileOptionStore store(link, [&](const std::string& m) { messages.push_back(m); });
  ASSERT_FALSE(store.DamagedCopy().empty());
  EXPECT_EQ(store.DamagedCopy().rfind(real + ".damaged-", 0), 0u) << store.DamagedCopy();
  EXPECT_EQ(ReadText(store.DamagedCopy()), damaged);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  int32_t v = -1;
  FileOptionStore reopened(real);
  EXPECT_TRUE(reopened.DamagedCopy().empty());
  EXPECT_EQ(reopened.ReadInteger(kOptions, "ShowHints", v), ValueStatus::Present);
  EXPECT_EQ(v, 0);
}

TEST(FileOptionStore, TwoProcessesWritingAtOnceKeepEachOthersValues) {
  TempDir dir;
  const std::string file = dir / "registry.reg";
  constexpr int kValues = 40;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      FileOptionStore store(file);
      bool ok = true;
      for (int i = 0; i < kValues; ++i)
        ok = store.WriteInteger(kOptions, "P" + std::to_string(c) + "_" + std::to_string(i), i) && ok;
      ::_exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  FileOptionStore store(file);
  int missing = 0;
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < kValues; ++i) {
      int32_t v = -1;
      if (store.ReadInteger(kOptions, "P" + std::to_string(c) + "_" + std::to_string(i), v) != ValueStatus::Present ||
          v != i)
        ++missing;
    }
  EXPECT_EQ(missing, 0);
  EXPECT_TRUE(store.DamagedCopy().empty());
}

TEST(FileOptionStore, AnUnwritableFileRunsFromMemoryAndSaysSoOnce) {
  TempDir dir;
  WriteText(dir / "plain", "not a folder");
  const std::string file = dir / "plain/registry.reg";  // its folder is a file
  std::vector<std::string> messages;
  FileOptionStore store(file, [&](const std::string& m) { messages.push_back(m); });
  EXPECT_FALSE(store.WriteInteger(kOptions, "ShowHints", 0));
  EXPECT_FALSE(store.WriteString(kOptions, "SceneFile", "/x"));
  EXPECT_FALSE(store.Persistent());
  EXPECT_EQ(messages.size(), 1u);
  int32_t v = -1;
  EXPECT_EQ(store.ReadInteger(kOptions, "ShowHints", v), ValueStatus::Present);
  EXPECT_EQ(v, 0);
}

TEST(FileOptionStore, AFileThatCannotBeReadIsLeftAsItIsAndTheStoreRunsOnDefaults) {
  ::alarm(20);  // a read that blocks on the pipe ends the test
  TempDir dir;
  std::filesystem::create_directory(dir / "folder.reg");
  ASSERT_EQ(::mkfifo((dir / "pipe.reg").c_str(), 0600), 0);
  // Readable text, but larger than any options file read (sparse).
  const std::string huge = dir / "huge.reg";
  WriteText(huge, "Windows Registry Editor Version 5.00\n");
  std::filesystem::resize_file(huge, kMaxOptionsFileSize + 1);
  const std::pair<std::string, std::string> cases[] = {
      {dir / "folder.reg", "is a directory"},
      {dir / "pipe.reg", "is a named pipe"},
      {huge, "more than the 16 MiB"},
  };
  for (const auto& [path, reason] : cases) {
    std::vector<std::string> messages;
    {
      FileOptionStore store(path, [&](const std::string& m) { messages.push_back(m); });
      EXPECT_NE(store.ReadProblem().find(reason), std::string::npos) << store.ReadProblem();
      int32_t v = -1;
      EXPECT_EQ(store.ReadInteger(kOptions, "ShowHints", v), ValueStatus::Missing);
      EXPECT_FALSE(store.WriteInteger(kOptions, "ShowHints", 0));
      EXPECT_FALSE(store.Persistent());
      EXPECT_EQ(store.ReadInteger(kOptions, "ShowHints", v), ValueStatus::Present);
      EXPECT_EQ(v, 0);
    }
    ASSERT_EQ(messages.size(), 1u) << path;
    EXPECT_NE(messages[0].find("'" + path + "'"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find(reason), std::string::npos) << messages[0];
  }
  // Replaced by a pipe while a store has it open: the values read stay.
  const std::string file = dir / "registry.reg";
  std::vector<std::string> messages;
  FileOptionStore store(file, [&](const std::string& m) { messages.push_back(m); });
  ASSERT_TRUE(store.WriteInteger(kOptions, "ShowHints", 0));
  std::filesystem::remove(file);
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  int32_t v = -1;
  EXPECT_EQ(store.ReadInteger(kOptions, "ShowHints", v), ValueStatus::Present);
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(store.WriteInteger(kOptions, "ShowHints", 1));
  EXPECT_TRUE(std::filesystem::is_fifo(file));
  EXPECT_EQ(messages.size(), 1u);

  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.reg"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "folder.reg"));
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "pipe.reg"));
  EXPECT_EQ(std::filesystem::file_size(huge), kMaxOptionsFileSize + 1);
  ::alarm(0);
}

TEST(OptionTree, ManyValuesKeepTheirOrderAndAreFoundInAnyLetterCase) {
  OptionTree t;
  for (int i = 0; i < 3000; ++i) {
    OptionValue v;
    v.integer = i;
    t.Set(i % 2 ? "\\Software\\Tarvo\\Recent\\" : "\\SOFTWARE\\tarvo\\recent", "Clip" + std::to_string(i), v);
  }
  ASSERT_EQ(t.Keys().size(), 1u);
  EXPECT_EQ(t.Keys()[0].path, "\\SOFTWARE\\tarvo\\recent");  // the spelling it was made with
  OptionValue changed;
  changed.integer = -5;
  t.Set("\\software\\TARVO\\RECENT", "CLIP1234", changed);
  const auto& values = t.Keys()[0].values;
  ASSERT_EQ(values.size(), 3000u);
  for (int i = 0; i < 3000; ++i) {
    EXPECT_EQ(values[static_cast<size_t>(i)].name, "Clip" + std::to_string(i));
    const OptionValue* v = t.Find("\\Software\\Tarvo\\Recent", "cLIP" + std::to_string(i));
    ASSERT_NE(v, nullptr) << i;
    EXPECT_EQ(v->integer, i == 1234 ? -5 : i);
  }
  EXPECT_EQ(t.Find("\\Software\\Tarvo\\Recent", "Clip3000"), nullptr);
  EXPECT_EQ(t.Find("\\Software\\Tarvo", "Clip1"), nullptr);
  EXPECT_NE(t.FindKey("Software\\Tarvo\\Recent\\"), nullptr);
}

TEST(FileOptionStore, SeesWritesOfAnotherStoreOnTheSameFile) {
  TempDir dir;
  const std::string file = dir / "registry.reg";
  FileOptionStore a(file), b(file);
  a.WriteInteger(kOptions, "Top", 7);
  b.WriteInteger(kOptions, "Left", 9);
  int32_t v = 0;
  EXPECT_EQ(a.ReadInteger(kOptions, "Left", v), ValueStatus::Present);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(b.ReadInteger(kOptions, "Top", v), ValueStatus::Present);
  EXPECT_EQ(v, 7);
}

TEST(FileOptionStore, TheDefaultLocationFollowsTheEnvironment) {
  const char* oldReg = std::getenv("TARVO_REGISTRY");
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedReg = oldReg ? oldReg : "", savedXdg = oldXdg ? oldXdg : "";
  ::setenv("TARVO_REGISTRY", "/tmp/x.reg", 1);
  EXPECT_EQ(DefaultRegistryPath(), "/tmp/x.reg");
  ::unsetenv("TARVO_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(DefaultRegistryPath(), "/cfg/tarvo/registry.reg");
  if (oldReg) ::setenv("TARVO_REGISTRY", savedReg.c_str(), 1);
  if (oldXdg) ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace tarvo
