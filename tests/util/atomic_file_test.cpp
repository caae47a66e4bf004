#include "util/atomic_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::TempDir;
using test::WriteText;

bool Write(const std::string& path, const std::string& text, std::string* error = nullptr) {
  return WriteFileAtomically(path, text.data(), text.size(), error);
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Field 22 of /proc/PID/stat: the process's start time.
std::string StartTimeText(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int k = 3; k <= 22; ++k) rest >> field;
  return field;
}

TEST(AtomicFile, ALinkedFileIsReplacedAtTheEndOfItsChainAndTheLinksStay) {
  TempDir dir;
  fs::create_directories(dir / "dotfiles/tarvo");
  WriteText(dir / "dotfiles/tarvo/SCENES.KVS", "old");
  // home/SCENES.KVS -> ../dotfiles/SCENES.KVS (relative) -> <abs>/dotfiles/tarvo/SCENES.KVS
  fs::create_directories(dir / "home");
  fs::create_symlink(dir / "dotfiles/tarvo/SCENES.KVS", dir / "dotfiles/SCENES.KVS");
  fs::create_symlink("../dotfiles/SCENES.KVS", dir / "home/SCENES.KVS");

  ASSERT_TRUE(Write(dir / "home/SCENES.KVS", "new"));
  EXPECT_TRUE(fs::is_symlink(dir / "home/SCENES.KVS"));
  EXPECT_TRUE(fs::is_symlink(dir / "dotfiles/SCENES.KVS"));
  EXPECT_EQ(ReadText(dir / "dotfiles/tarvo/SCENES.KVS"), "new");
  EXPECT_EQ(Names(dir / "dotfiles/tarvo"), std::vector<std::string>{"SCENES.KVS"});
  EXPECT_EQ(Names(dir / "home"), std::vector<std::string>{"SCENES.KVS"});

  // A dangling link names the file to create.
  fs::create_symlink("made/later.tvr", dir / "record.tvr");
  fs::create_directories(dir / "made");
  ASSERT_TRUE(Write(dir / "record.tvr", "rec"));
  EXPECT_TRUE(fs::is_symlink(dir / "record.tvr"));
  EXPECT_EQ(ReadText(dir / "made/later.tvr"), "rec");

  // A loop is refused with the path in the message, and nothing is written.
  fs::create_symlink("loop-b", dir / "loop-a");
  fs::create_symlink("loop-a", dir / "loop-b");
  std::string error;
  EXPECT_FALSE(Write(dir / "loop-a", "x", &error));
  EXPECT_NE(error.find(dir / "loop-a"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_symlink(dir / "loop-a"));

  // A link whose target folder is missing: the message names both.
  fs::create_symlink("nowhere/x.tvr", dir / "lost.tvr");
  EXPECT_FALSE(Write(dir / "lost.tvr", "x", &error));
  EXPECT_NE(error.find("nowhere/x.tvr"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_symlink(dir / "lost.tvr"));

  // What is not a regular file, linked or not, is not replaced.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  fs::create_symlink("pipe", dir / "to-pipe.tvr");
  fs::create_directories(dir / "folder.kvs");
  for (const char* name : {"pipe", "to-pipe.tvr", "folder.kvs"}) {
    error.clear();
    EXPECT_FALSE(Write(dir / name, "x", &error)) << name;
    EXPECT_NE(error.find(dir / name), std::string::npos) << error;
  }
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
  EXPECT_TRUE(fs::is_symlink(dir / "to-pipe.tvr"));
  EXPECT_TRUE(fs::is_directory(dir / "folder.kvs"));
}

TEST(AtomicFile, TheReplacedFilesModeAndOwnerStayAndNewFilesFollowTheUmask) {
  TempDir dir;
  const std::string priv = dir / "private.tvr", shared = dir / "shared.kvs";
  WriteText(priv, "a");
  ASSERT_EQ(::chmod(priv.c_str(), 0600), 0);
  WriteText(shared, "a");
  ASSERT_EQ(::chmod(shared.c_str(), 0664), 0);
  ASSERT_TRUE(Write(priv, "b"));
  ASSERT_TRUE(Write(shared, "b"));
  EXPECT_EQ(ModeOf(priv), 0600u);
  EXPECT_EQ(ModeOf(shared), 0664u);
  EXPECT_EQ(ReadText(priv), "b");

  const mode_t saved = ::umask(027);
  const bool madeRestricted = Write(dir / "new-027", "n");
  ::umask(0);
  const bool madeOpen = Write(dir / "new-000", "n");
  ::umask(saved);
  ASSERT_TRUE(madeRestricted);
  ASSERT_TRUE(madeOpen);
  EXPECT_EQ(ModeOf(dir / "new-027"), 0640u);
  EXPECT_EQ(ModeOf(dir / "new-000"), 0666u);

  // Another user's file keeps its owner when the process may set it.
  if (::geteuid() != 0) GTEST_SKIP() << "setting another owner needs root";
  const std::string theirs = dir / "theirs.reg";
  WriteText(theirs, "a");
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(theirs.c_str(), 0640), 0);
  ASSERT_TRUE(Write(theirs, "b"));
  struct stat st {};
  ASSERT_EQ(::stat(theirs.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(AtomicFile, TemporariesOfKilledWritersGoAtTheNextSaveAndLiveOnesStay) {
  TempDir dir;
  const std::string file = dir / "SCENES.KVS";
  WriteText(file, "old");

  // A writer killed half way: a file-size limit stops its write with SIGXFSZ.
  const pid_t killed = ::fork();
  ASSERT_GE(killed, 0);
  if (killed == 0) {
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    rlimit small{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::signal(SIGXFSZ, SIG_DFL);
    const std::string big(1 << 20, 'x');
    Write(file, big);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  std::vector<std::string> left = Names(dir.path());
  ASSERT_EQ(left.size(), 2u);
  const std::string leftover = left[1];
  EXPECT_EQ(leftover.rfind("SCENES.KVS.tmp-" + std::to_string(killed) + "-", 0), 0u) << leftover;
  EXPECT_EQ(ReadText(file), "old");

  // A writer that is still running (stopped here) keeps its temporary.
  const pid_t live = ::fork();
  ASSERT_GE(live, 0);
  if (live == 0) {
    ::pause();
    ::_exit(0);
  }
  const std::string liveTemp = "SCENES.KVS.tmp-" + std::to_string(live) + "-" + StartTimeText(live) + "-aB3dE6";
  WriteText(dir / liveTemp, "partial");
  // A process id now used by a later process (another start time) is not
  // the writer's any more.
  const std::string reused = "SCENES.KVS.tmp-" + std::to_string(live) + "-1-zzzzzz";
  WriteText(dir / reused, "partial");
  // Ownerless temporaries of earlier versions: an old one goes, a fresh one
  // stays; names that are not ours stay.
  WriteText(dir / "SCENES.KVS.tmp-Ab12Cd", "old version");
  const timespec hoursAgo[2] = {{std::time(nullptr) - 7200, 0}, {std::time(nullptr) - 7200, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "SCENES.KVS.tmp-Ab12Cd").c_str(), hoursAgo, 0), 0);
  WriteText(dir / "SCENES.KVS.tmp-Xy34Zw", "old version, fresh");
  WriteText(dir / "SCENES.KVS.tmp-notes.txt", "the user's");
  WriteText(dir / "OTHER.KVS.tmp-1-1-abcdef", "another file's");

  ASSERT_TRUE(Write(file, "new"));
  ::kill(live, SIGKILL);
  ::waitpid(live, &status, 0);

  EXPECT_EQ(ReadText(file), "new");
  const std::vector<std::string> expected = {"OTHER.KVS.tmp-1-1-abcdef", "SCENES.KVS", "SCENES.KVS.tmp-Xy34Zw",
                                             "SCENES.KVS.tmp-notes.txt", liveTemp};
  std::vector<std::string> sortedExpected = expected;
  std::sort(sortedExpected.begin(), sortedExpected.end());
  EXPECT_EQ(Names(dir.path()), sortedExpected);
}

}  // namespace
}  // namespace tarvo
