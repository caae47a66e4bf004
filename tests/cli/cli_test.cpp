// The tarvo command against a stand-in plug-in that makes the host side of
// the call protocol observable: record handling, call record fields, the
// frame callback, errors that must leave no output behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "cli_test_support.h"
#include "clip_host.h"
#include "plugin_loader.h"
#include "project_file.h"
#include "types/specs_fields.h"
#include "util/specs_file.h"

namespace tarvo::cli::test {
namespace {

const std::string kFake = TARVO_FAKE_PLUGIN;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { IsolateOptions(); }
  ScratchDir dir;
};

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string Field(const std::string& line, const std::string& key) {
  const size_t p = line.find(key + "=");
  if (p == std::string::npos) return {};
  const size_t e = line.find(' ', p);
  return line.substr(p + key.size() + 1, e == std::string::npos ? std::string::npos : e - p - key.size() - 1);
}

std::vector<uint8_t> XorKey(std::vector<uint8_t> bytes, uint8_t key) {
  for (size_t i = 0; i < bytes.size(); ++i)
    if ((i & 3) != 3) bytes[i] ^= key;
  return bytes;
}

TSpecs ReadRecord(const std::string& path) {
  TSpecs s{};
  std::string error;
  EXPECT_TRUE(ReadSpecsFile(path, s, &error)) << error;
  return s;
}

int32_t CallCount(const TSpecs& s) {
  int32_t n;
  std::memcpy(&n, s.Reserved174, 4);
  return n;
}

TEST_F(CliTest, RawRenderDrivesEveryFrameWithOneRecordAndTheCallRecordFields) {
  const auto frames = MakeFrames(5, 33, 17);  // odd sizes
  WriteBytes(dir / "in.raw", Concat(frames));
  const auto r = RunTarvo({"render", "--raw", "33x17", dir / "in.raw", dir / "out.raw", "--plugin", kFake, "--fields",
                           "bff", "--op-mode", "draft", "--record", dir / "clip.tvr"},
                          {"TARVO_FAKE_LOG=" + (dir / "log")});
  ASSERT_EQ(r.code, 0) << r.err;
  // Default record: Gain 100, so every colour byte is XORed with 100.
  EXPECT_EQ(ReadBytes(dir / "out.raw"), XorKey(Concat(frames), 100));
  const auto log = Lines(dir / "log");
  ASSERT_EQ(log.size(), 5u);
  const std::string specs = Field(log[1], "specs");
  for (size_t i = 0; i < log.size(); ++i) {
    SCOPED_TRACE(log[i]);
    EXPECT_EQ(Field(log[i], "sel"), "0");
    EXPECT_EQ(Field(log[i], "part"), std::to_string(i));
    EXPECT_EQ(Field(log[i], "total"), "5");
    EXPECT_EQ(Field(log[i], "fields"), "2");
    EXPECT_EQ(Field(log[i], "cb"), "1");
    EXPECT_EQ(Field(log[i], "opmode"), "draft");
    EXPECT_EQ(Field(log[i], "priv"), Field(log[0], "priv"));
    if (i > 0) {
      EXPECT_EQ(Field(log[i], "specs"), specs) << "the host must keep the record handle the filter made";
    }
  }
  EXPECT_EQ(Field(log[0], "specs"), "(nil)") << "a clip without a record starts with none";
  EXPECT_EQ(CallCount(ReadRecord(dir / "clip.tvr")), 5);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"clip.tvr", "in.raw", "log", "out.raw"}));
}

TEST_F(CliTest, RecordRoundTripThroughRecordFileSetAndProject) {
  const auto frames = MakeFrames(3, 16, 8);
  WriteBytes(dir / "in.raw", Concat(frames));
  const std::string rec = dir / "clip.tvr";
  auto render = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"render", "--raw", "16x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTarvo(args);
  };
  // --set on a clip without a record: the filter makes one first.
  auto r = render({"--record", rec, "--set", "Gain=50", "--set=ProcMode=420"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.raw"), XorKey(Concat(frames), 50));
  TSpecs s = ReadRecord(rec);
  EXPECT_EQ(s.Gain, 50);
  EXPECT_EQ(s.ProcMode, 2);
  EXPECT_EQ(CallCount(s), 4);  // the preparing call and three frames
  // The saved record is used again.
  r = render({"--record", rec});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.raw"), XorKey(Concat(frames), 50));
  EXPECT_EQ(CallCount(ReadRecord(rec)), 7);

  // A project keeps the clip's record between runs.
  const std::string proj = dir / "edit.tproj";
  r = render({"--project", proj, "--set", "Gain=60"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = render({"--project", proj});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.raw"), XorKey(Concat(frames), 60));
  ProjectFile p;
  std::string error;
  ASSERT_TRUE(p.Load(proj, &error)) << error;
  ASSERT_TRUE(p.Find(dir / "in.raw").has_value());
  EXPECT_EQ(p.Find(dir / "in.raw")->Gain, 60);
  EXPECT_EQ(CallCount(*p.Find(dir / "in.raw")), 7);

  // record show / set on the saved file.
  r = RunTarvo({"record", "set", rec, "Gain=150", "SceneName=Évening"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunTarvo({"record", "show", rec, "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"Gain\": 150"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"SceneName\": \"Évening\""), std::string::npos) << r.out;
  EXPECT_EQ(SceneNameOf(ReadRecord(rec)), "\xC9vening");
  r = RunTarvo({"record", "show", rec});
  EXPECT_NE(r.out.find("ProcMode              2 (420)"), std::string::npos) << r.out;
}

TEST_F(CliTest, TheFilterGetsItsThreadCountForTheRunWithoutTheStoredOption) {
  WriteBytes(dir / "in.raw", Concat(MakeFrames(2, 8, 8)));
  struct Case {
    std::vector<std::string> args;
    std::string env;  // TARVO_THREADS in the command's environment
    std::string passed;
    bool complaint;
  };
  const std::vector<Case> cases = {
      {{}, "", "0", false},                    // one per core by default, whatever the option says
      {{"--threads", "3"}, "", "3", false},
      {{"--threads", "1"}, "4", "1", false},  // the option wins over the environment
      {{}, "2", "2", false},                   // a cap set for the process is kept
      {{}, "lots", "0", true},                 // an unreadable one is said and not used
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::filesystem::remove(dir / "log");
    const auto r = RunTarvo(args, {"TARVO_FAKE_LOG=" + (dir / "log"), "TARVO_THREADS=" + c.env});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto log = Lines(dir / "log");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(Field(log[0], "threads"), c.passed) << c.env;
    EXPECT_EQ(r.err.find("TARVO_THREADS 'lots' is not a thread count") != std::string::npos, c.complaint) << r.err;
  }
}

TEST_F(CliTest, BadSettingsAreRefusedBeforeAnythingIsWritten) {
  WriteBytes(dir / "in.raw", Concat(MakeFrames(2, 8, 8)));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--set", "Brightness=3"}, "unknown record field 'Brightness'"},
      {{"--set", "Gain=801"}, "Gain must be between 0 and 800"},
      {{"--set", "YDespeckle=x"}, "not a valid value for YDespeckle"},
      {{"--op-mode", "fast"}, "--op-mode must be bypass, draft or final"},
      {{"--threads", "-1"}, "--threads must be 0 (one per core) or a number of threads"},
      {{"--threads", "two"}, "--threads must be 0 (one per core) or a number of threads"},
      {{"--fields", "top"}, "--fields must be progressive, tff or bff"},
      {{"--frames", "5-2"}, "--frames expects FROM-TO"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake,
                                     "--record", dir / "r.tvr"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = RunTarvo(args);
    EXPECT_EQ(r.code, 2) << c.args[1];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  auto r = RunTarvo({"record", "set", dir / "r.tvr", "Sat=201"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Sat must be between 0 and 200"), std::string::npos) << r.err;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.raw"});
}

TEST_F(CliTest, DamagedInputAndUnwritableOutputLeaveNoOutputFile) {
  WriteBytes(dir / "garbage.mkv", std::vector<uint8_t>(5000, 0x5A));
  auto r = RunTarvo({"render", dir / "garbage.mkv", dir / "out.mkv", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("cannot read '" + (dir / "garbage.mkv") + "'"), std::string::npos) << r.err;

  r = RunTarvo({"render", dir / "missing.mkv", dir / "out.mkv", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;

  // A raw file that ends inside a frame.
  auto bytes = Concat(MakeFrames(2, 8, 8));
  bytes.resize(bytes.size() - 10);
  WriteBytes(dir / "short.raw", bytes);
  r = RunTarvo({"render", "--raw", "8x8", dir / "short.raw", dir / "out.raw", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("not a whole number of 8x8 BGRA frames"), std::string::npos) << r.err;

  // An empty raw file has no frames to render.
  WriteBytes(dir / "empty.raw", {});
  r = RunTarvo({"render", "--raw", "8x8", dir / "empty.raw", dir / "out.raw", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("holds no frames"), std::string::npos) << r.err;

  // A readable clip into a folder that does not exist, and into one without
  // write permission.
  std::string error;
  ASSERT_TRUE(EncodeClip(dir / "clip.mkv", MakeFrames(3, 16, 16), AVRational{25, 1}, &error)) << error;
  r = RunTarvo({"render", dir / "clip.mkv", dir / "nowhere/out.mkv", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
  if (geteuid() != 0) {
    ASSERT_EQ(mkdir((dir / "ro").c_str(), 0555), 0);
    r = RunTarvo({"render", dir / "clip.mkv", dir / "ro/out.mkv", "--plugin", kFake});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
    rmdir((dir / "ro").c_str());
  }
  r = RunTarvo({"render", dir / "clip.mkv", dir / "out.xyz", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("unknown output type '.xyz'"), std::string::npos) << r.err;
  r = RunTarvo({"render", dir / "clip.mkv", dir / "out.mkv", "--codec", "nosuchcodec", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("unknown video codec 'nosuchcodec'"), std::string::npos) << r.err;
  r = RunTarvo({"render", dir / "clip.mkv", dir / "out.mkv", "--plugin", dir / "clip.mkv"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("cannot load the plug-in"), std::string::npos) << r.err;
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"clip.mkv", "empty.raw", "garbage.mkv", "short.raw"}));
}

// A plug-in without the full-width entry point (the stand-in has none) takes
// frames as wide as a video host's descriptor can describe, 4095 pixels.
TEST_F(CliTest, FramesWiderThanTheFilterTakesAreRefused) {
  std::string error;
  ASSERT_TRUE(EncodeClip(dir / "wide.mkv", MakeFrames(1, 4096, 2), AVRational{25, 1}, &error)) << error;
  auto r = RunTarvo({"render", dir / "wide.mkv", dir / "out.mkv", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("4096 pixels wide; the filter takes frames up to 4095"), std::string::npos) << r.err;
  r = RunTarvo({"render", "--raw", "4096x1", "-", dir / "out.raw", "--plugin", kFake});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"wide.mkv"});
}

TEST_F(CliTest, AFrameTheFilterDidNotRenderFailsTheRenderAndLeavesNoOutput) {
  WriteBytes(dir / "in.raw", Concat(MakeFrames(4, 8, 8)));
  // The filter runs out of memory at the third frame and says so.
  auto r = RunTarvo({"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake},
                    {"TARVO_FAKE_OUT_OF_MEMORY=2"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the filter did not render frame 2: Not enough memory"), std::string::npos) << r.err;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.raw"});
#ifdef TARVO_REAL_PLUGIN
  // Frames taller than the real filter takes are refused before rendering.
  WriteBytes(dir / "tall.raw", Concat(MakeFrames(2, 2, kMaxFrameHeight + 1)));
  r = RunTarvo({"render", "--raw", "2x" + std::to_string(kMaxFrameHeight + 1), dir / "tall.raw", dir / "out.mkv",
                "--plugin", TARVO_REAL_PLUGIN});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("16384 rows high; the filter takes frames up to 16383 rows high"), std::string::npos)
      << r.err;
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.raw", "tall.raw"}));
#endif
}

// A render of 8x8 raw frames read from a pipe that the test holds open: once
// its temporary output exists it waits for frames, writing nothing, until the
// test feeds the pipe, closes it or sends a signal.
class WaitingRender {
 public:
  WaitingRender(const ScratchDir& dir, const std::string& name, const std::string& output,
                std::vector<std::string> extra = {}) {
    const std::string fifo = dir / (name + ".fifo");
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    feed_ = open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // does not block, and keeps the pipe open
    std::vector<std::string> args = {"render", "--raw", "8x8", "-", output, "--plugin", kFake, "-q"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = StartTarvo(args, fifo, dir / (name + ".log"));
    const auto out = std::filesystem::path(output);
    temp_ = (out.parent_path() / ("." + out.stem().string() + ".tarvo-" + std::to_string(pid_) + ".part" +
                                  out.extension().string()))
                .string();
    for (int i = 0; i < 500 && !Exists(temp_); ++i) usleep(10000);
    EXPECT_TRUE(Exists(temp_)) << "no temporary output appeared";
  }
  ~WaitingRender() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (feed_ >= 0) close(feed_);
  }
  int pid() const { return pid_; }
  const std::string& temp() const { return temp_; }
  void Feed(const std::vector<uint8_t>& bytes) { EXPECT_EQ(write(feed_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  void EndOfInput() {
    close(feed_);
    feed_ = -1;
  }
  // Exit status, or 128 + the signal that ended the process.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  int feed_ = -1;
  int pid_ = -1;
  std::string temp_;
};

TEST_F(CliTest, SignalsStopCleanlyAndRemoveThePartialOutput) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    {
      WaitingRender render(dir, "r", dir / "out.raw");
      kill(render.pid(), sig);
      EXPECT_EQ(render.Wait(), 128 + sig) << "a clean exit with the signal's status";
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"r.fifo", "r.log", "r.log.err"}));
    EXPECT_NE(ReadBytes(dir / "r.log.err").size(), 0u);
    for (const auto& e : dir.Entries()) std::remove((dir / e).c_str());
  }
}

TEST_F(CliTest, TemporariesOfKilledRendersAreRemovedAndLiveOnesKept) {
  WriteBytes(dir / "in.raw", Concat(MakeFrames(2, 8, 8)));
  // A render of the same output, still running: its file is in use.
  WaitingRender live(dir, "live", dir / "out.raw");
  std::string killedTemp;
  {
    WaitingRender killed(dir, "killed", dir / "out.raw");
    kill(killed.pid(), SIGKILL);
    EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
    killedTemp = killed.temp();
  }
  ASSERT_TRUE(Exists(killedTemp)) << "SIGKILL leaves the temporary behind";
  // A leftover whose process id now belongs to a process that started later.
  const pid_t reused = fork();
  if (reused == 0) {
    pause();
    _exit(0);
  }
  const std::string reusedTemp = dir / (".out.tarvo-" + std::to_string(reused) + ".part.raw");
  WriteBytes(reusedTemp, {1, 2, 3});
  const timespec hourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, reusedTemp.c_str(), hourAgo, 0), 0);
  // Without a lock, but its process runs and is older than the file: kept,
  // as a renderer that does not lock may still be writing it.
  const std::string unlockedTemp = dir / (".out.tarvo-" + std::to_string(getpid()) + ".part.raw");
  WriteBytes(unlockedTemp, {4, 5, 6});
  // Another output's leftover is not this render's business.
  const std::string otherTemp = dir / (".other.tarvo-" + std::to_string(reused + 100000) + ".part.raw");
  WriteBytes(otherTemp, {7});

  const auto r = RunTarvo({"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake, "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_FALSE(Exists(killedTemp));
  EXPECT_FALSE(Exists(reusedTemp));
  EXPECT_TRUE(Exists(live.temp()));
  EXPECT_TRUE(Exists(unlockedTemp));
  EXPECT_TRUE(Exists(otherTemp));
  EXPECT_NE(r.err.find("removed '" + std::filesystem::path(killedTemp).filename().string() + "'"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.raw"), XorKey(ReadBytes(dir / "in.raw"), 100));
  kill(live.pid(), SIGINT);
  EXPECT_EQ(live.Wait(), 130);
  EXPECT_FALSE(Exists(live.temp()));
  kill(reused, SIGKILL);
  waitpid(reused, nullptr, 0);
}

TEST_F(CliTest, NoOverwriteHoldsForAFileThatAppearsDuringTheRender) {
  const auto frames = Concat(MakeFrames(2, 8, 8));
  {
    WaitingRender render(dir, "n", dir / "out.raw", {"-n"});
    WriteBytes(dir / "out.raw", {'t', 'h', 'e', 'i', 'r', 's'});
    render.Feed(frames);
    render.EndOfInput();
    EXPECT_EQ(render.Wait(), 1);
  }
  EXPECT_EQ(ReadBytes(dir / "out.raw"), (std::vector<uint8_t>{'t', 'h', 'e', 'i', 'r', 's'}));
  EXPECT_NE(ReadBytes(dir / "n.log.err").size(), 0u);
  const std::string err(reinterpret_cast<const char*>(ReadBytes(dir / "n.log.err").data()),
                        ReadBytes(dir / "n.log.err").size());
  EXPECT_NE(err.find("appeared while rendering (and -n was given)"), std::string::npos) << err;
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"n.fifo", "n.log", "n.log.err", "out.raw"}));
  // Without -n the finished render replaces it.
  {
    WaitingRender render(dir, "y", dir / "out.raw");
    render.Feed(frames);
    render.EndOfInput();
    EXPECT_EQ(render.Wait(), 0);
  }
  EXPECT_EQ(ReadBytes(dir / "out.raw"), XorKey(frames, 100));
}

TEST_F(CliTest, FileArgumentsNamingTheSameFileAreRefusedBeforeAnythingIsWritten) {
  const auto input = Concat(MakeFrames(2, 8, 8));
  WriteBytes(dir / "in.raw", input);
  WriteBytes(dir / "old.raw", {'o', 'l', 'd'});
  ASSERT_EQ(link((dir / "in.raw").c_str(), (dir / "hard.raw").c_str()), 0);
  ASSERT_EQ(symlink("in.raw", (dir / "sym.raw").c_str()), 0);
  struct Case {
    std::string output;
    std::vector<std::string> args;
    std::string message;
  };
  const std::string in = dir / "in.raw";
  const std::vector<Case> cases = {
      {dir / "out.raw", {"--progress", in}, "--progress is the same file as INPUT"},
      {dir / "out.raw", {"--record", in}, "--record is the same file as INPUT"},
      {dir / "out.raw", {"--project", in}, "--project is the same file as INPUT"},
      {dir / "out.raw", {"--progress", dir / "hard.raw"}, "--progress is the same file as INPUT"},
      {dir / "out.raw", {"--record", dir / "sym.raw"}, "--record is the same file as INPUT"},
      {dir / "hard.raw", {}, "OUTPUT is the same file as INPUT"},
      {dir / "old.raw", {"--progress", dir / "old.raw"}, "--progress is the same file as OUTPUT"},
      {dir / "new.raw", {"--progress", dir / "./new.raw"}, "--progress is the same file as OUTPUT"},
      {dir / "out.raw", {"--record", dir / "r.tvr", "--project", dir / "./r.tvr"}, "--project is the same file as --record"},
      {"-", {"--progress", "-"}, "--progress is the same file as OUTPUT"},
      {"-", {"--progress", "fd:1"}, "--progress is the same file as OUTPUT"},
      {"-", {"--progress", "pipe:1"}, "--progress is the same file as OUTPUT"},
      {"-", {"--progress", "/dev/stdout"}, "--progress is the same file as OUTPUT"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"render", "--raw", "8x8", in, c.output, "--plugin", kFake};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.output + (c.args.empty() ? std::string() : " " + c.args.back()));
    const auto r = RunTarvo(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(ReadBytes(in), input);
  EXPECT_EQ(ReadBytes(dir / "old.raw"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"hard.raw", "in.raw", "old.raw", "sym.raw"}));
  // Progress beside raw frames on standard output is fine on another descriptor.
  const auto r = RunTarvo({"render", "--raw", "8x8", in, "-", "--plugin", kFake, "--progress", "fd:2"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.size(), input.size());
  EXPECT_NE(r.err.find("progress=end"), std::string::npos) << r.err;
}

TEST_F(CliTest, SetupHandsTheFilterAWorkingFrameCallback) {
  // 4 frames of 16x12, each a different flat colour with a marked top row.
  std::vector<Frame> frames(4);
  for (int i = 0; i < 4; ++i) {
    frames[i].Resize(16, 12);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16; ++x) {
        uint8_t* p = frames[i].row(y) + 4 * x;
        p[0] = static_cast<uint8_t>(10 * i);
        p[1] = static_cast<uint8_t>(y);
        p[2] = static_cast<uint8_t>(x);
        p[3] = 255;
      }
  }
  WriteBytes(dir / "in.raw", Concat(frames));
  const std::string proj = dir / "p.tproj";
  auto r = RunTarvo({"setup", "--raw", "16x12", dir / "in.raw", "--project", proj, "--frame", "2", "--plugin", kFake});
  ASSERT_EQ(r.code, 0) << r.err;
  ProjectFile p;
  std::string error;
  ASSERT_TRUE(p.Load(proj, &error)) << error;
  const auto rec = p.Find(dir / "in.raw");
  ASSERT_TRUE(rec.has_value());
  EXPECT_EQ(rec->Lift, 7);
  // The world's first row is the picture's bottom row: frame 2 scaled from
  // 16x12 to 8x6, bottom row = source row 10, columns 0, 2, 4...
  const uint8_t* got = rec->Reserved174 + 6;
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(got[4 * x + 0], 20) << x;
    EXPECT_EQ(got[4 * x + 1], 10) << x;
    EXPECT_EQ(got[4 * x + 2], 2 * x) << x;
  }
  // Cancel keeps the project as it was and says so with its own status.
  const auto before = ReadBytes(proj);
  r = RunTarvo({"setup", "--raw", "16x12", dir / "in.raw", "--project", proj, "--plugin", kFake},
               {"TARVO_FAKE_CANCEL=1"});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("setup cancelled"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(proj), before);
}

TEST_F(CliTest, EachClipHasItsOwnPrivateDataAndTheCallbackFindsItsClip) {
  PluginLibrary lib;
  std::string error;
  ASSERT_TRUE(lib.Load(kFake, &error)) << error;
  EXPECT_EQ(lib.filterName(), kFilterName);
  ClipHost a(lib.entry(), "/clips/a.mkv"), b(lib.entry(), "/clips/a.mkv");
  ASSERT_NE(a.privateData(), nullptr);
  ASSERT_NE(b.privateData(), nullptr);
  EXPECT_NE(std::memcmp(*a.privateData(), *b.privateData(), 14), 0)
      << "two instances of one clip must differ in the first 14 bytes";

  // Each clip's callback reads that clip's frames.
  struct Flat : FrameSource {
    uint8_t v;
    explicit Flat(uint8_t value) : v(value) {}
    bool ReadFrameAt(int64_t, Frame& out, std::string*) override {
      out.Resize(4, 4);
      std::fill(out.pixels.begin(), out.pixels.end(), v);
      return true;
    }
  } fa(11), fb(22);
  a.SetFrameSource(&fa);
  b.SetFrameSource(&fb);
  int16_t world = 0;
  ASSERT_EQ(InProcessHost().NewPWorld(&world, TRect{0, 0, 4, 4}), 0);
  PixBufferHandle bits = InProcessHost().GetPWorldBits(world);
  const TRect rect{1, 1, 3, 3};
  EXPECT_EQ(ClipHost::FrameCallback(0, bits, &rect, b.privateData()), 0);
  EXPECT_EQ((*bits)->Pixels[0], 0) << "outside the rectangle";
  EXPECT_EQ((*bits)->Pixels[(1 * 4 + 1) * 4], 22);
  EXPECT_EQ(ClipHost::FrameCallback(0, bits, &rect, a.privateData()), 0);
  EXPECT_EQ((*bits)->Pixels[(2 * 4 + 2) * 4], 11);
  EXPECT_EQ(ClipHost::FrameCallback(0, bits, &rect, nullptr), -1);
  InProcessHost().DisposePWorld(world);

  // Records: none until the filter makes one on the first call.
  EXPECT_FALSE(a.HasRecord());
  a.Prepare(0);
  ASSERT_TRUE(a.Record().has_value());
  EXPECT_EQ(a.Record()->Version, kSpecsVersion);
}

TEST_F(CliTest, DamagedProjectFilesAreRefusedAndLeftAlone) {
  WriteBytes(dir / "in.raw", Concat(MakeFrames(1, 8, 8)));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"hello\n", "not a tarvo project file"},
      {"tarvo-project 1\nclip /a\nrecord 00\n", "line 3: a record needs exactly 512 hex digits"},
      {"tarvo-project 1\nrecord " + std::string(512, '0') + "\n", "line 2: record without a clip line"},
      {"tarvo-project 1\nclip /a\nrecord " + std::string(511, '0') + "g\n", "line 3: not a hex digit"},
  };
  for (const auto& [text, message] : cases) {
    WriteBytes(dir / "p.tproj", std::vector<uint8_t>(text.begin(), text.end()));
    const auto r = RunTarvo({"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake,
                             "--project", dir / "p.tproj"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(dir / "p.tproj"), std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_FALSE(Exists(dir / "out.raw"));
  }
}

TEST_F(CliTest, ScenesAreKeptInTheSceneFileTheOptionsName) {
  // An options file of our own that names the scene file.
  const std::string reg = dir / "registry.reg";
  const std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n"
                           "\"SceneFile\"=\"" + (dir / "scenes.kvs") + "\"\n";
  WriteBytes(reg, std::vector<uint8_t>(text.begin(), text.end()));
  const std::vector<std::string> env = {"TARVO_REGISTRY=" + reg};
  auto r = RunTarvo({"record", "set", dir / "a.tvr", "Gain=40", "SceneName=Warm Évening"}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunTarvo({"scenes", "import", dir / "a.tvr", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunTarvo({"record", "set", dir / "b.tvr", "Gain=70"}, env);
  r = RunTarvo({"scenes", "import", dir / "b.tvr", "--name", "Dawn", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "scenes.kvs").size(), 512u);
  r = RunTarvo({"scenes", "list", "--json", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "[\"Dawn\", \"Warm Évening\"]\n");
  r = RunTarvo({"scenes", "export", "warm évening", dir / "c.tvr", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadRecord(dir / "c.tvr").Gain, 40);

  // --scene loads the scene into the clip's record before rendering.
  const auto frames = MakeFrames(2, 8, 8);
  WriteBytes(dir / "in.raw", Concat(frames));
  r = RunTarvo({"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake, "--scene", "Dawn",
                "--record", dir / "clip.tvr"},
               env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.raw"), XorKey(Concat(frames), 70));
  EXPECT_EQ(SceneNameOf(ReadRecord(dir / "clip.tvr")), "Dawn");
  r = RunTarvo({"render", "--raw", "8x8", dir / "in.raw", dir / "out2.raw", "--plugin", kFake, "--scene", "Dusk"}, env);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no scene named 'Dusk'"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(dir / "out2.raw"));

  r = RunTarvo({"scenes", "delete", "Dawn", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "scenes.kvs").size(), 256u);
}

// Directories, named pipes and huge files where a record, scene, options or
// project file belongs: a clear refusal and exit status 1, never an abort, a
// blocked command or gigabytes read; nothing at those paths is replaced.
TEST_F(CliTest, PathsThatAreNotReadableFilesAreRefusedWithTheReason) {
  const std::string folder = dir / "folder", pipe = dir / "pipe", huge = dir / "huge.tvr";
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  WriteBytes(huge, {});
  std::filesystem::resize_file(huge, uint64_t{20} << 30);  // sparse
  auto refused = [](const RunResult& r, const std::string& reason) {
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  };
  refused(RunTarvo({"record", "show", folder}), "'" + folder + "' is a directory");
  refused(RunTarvo({"record", "show", pipe}), "'" + pipe + "' is a named pipe");
  refused(RunTarvo({"record", "show", huge}), "holds 21474836480 bytes, a record is exactly 256");
  refused(RunTarvo({"record", "set", folder, "Gain=40"}), "is a directory");
  refused(RunTarvo({"scenes", "import", pipe, "--plugin", kFake}), "is a named pipe");

  // The scene file the options name.
  const std::string reg = dir / "registry.reg";
  auto sceneFileIs = [&](const std::string& path) {
    const std::string text = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n\"SceneFile\"=\"" +
                             path + "\"\n";
    WriteBytes(reg, std::vector<uint8_t>(text.begin(), text.end()));
  };
  const std::vector<std::string> env = {"TARVO_REGISTRY=" + reg};
  auto r = RunTarvo({"record", "set", dir / "a.tvr", "Gain=40", "SceneName=Dawn"}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  WriteBytes(dir / "in.raw", Concat(MakeFrames(1, 8, 8)));
  for (const std::string& path : {folder, pipe}) {
    sceneFileIs(path);
    const std::string reason = "cannot read the scene file: '" + path + "' is a ";
    refused(RunTarvo({"scenes", "list", "--plugin", kFake}, env), reason);
    refused(RunTarvo({"scenes", "import", dir / "a.tvr", "--plugin", kFake}, env), reason);
    refused(RunTarvo({"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake, "--scene", "Dawn"},
                     env),
            reason);
    EXPECT_FALSE(Exists(dir / "out.raw"));
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));

  // The options file itself.
  refused(RunTarvo({"scenes", "list", "--plugin", kFake}, {"TARVO_REGISTRY=" + folder}),
          "the options file cannot be read: '" + folder + "' is a directory");
  refused(RunTarvo({"scenes", "list", "--plugin", kFake}, {"TARVO_REGISTRY=" + pipe}), "is a named pipe");

  // The project file.
  refused(RunTarvo({"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake, "--project", pipe}),
          "cannot read the project: '" + pipe + "' is a named pipe");
  EXPECT_FALSE(Exists(dir / "out.raw"));
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
  EXPECT_EQ(std::filesystem::file_size(huge), uint64_t{20} << 30);
}

// A record saved by a newer version: shown with a note, never changed.
TEST_F(CliTest, ARecordOfANewerFormatIsShownButNotChanged) {
  TSpecs newer = BuiltInDefaultSpecs();
  newer.Version = 73;
  newer.Gain = 150;
  const std::string path = dir / "newer.tvr";
  std::string error;
  ASSERT_TRUE(WriteSpecsFile(path, newer, &error)) << error;
  const std::vector<uint8_t> bytes = ReadBytes(path);
  auto r = RunTarvo({"record", "show", path, "--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"Gain\": 150"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("record format 73, newer than this version knows (72)"), std::string::npos) << r.err;
  r = RunTarvo({"record", "set", path, "Gain=40"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("left unchanged"), std::string::npos) << r.err;
  WriteBytes(dir / "in.raw", Concat(MakeFrames(1, 8, 8)));
  r = RunTarvo({"render", "--raw", "8x8", dir / "in.raw", dir / "out.raw", "--plugin", kFake, "--record", path,
                "--set", "Gain=40"});
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("format 73"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(path), bytes);
}

TEST_F(CliTest, ProgressForScriptsAndStats) {
  WriteBytes(dir / "in.raw", Concat(MakeFrames(4, 8, 8)));
  const auto r = RunTarvo({"render", "--raw", "8x8", dir / "in.raw", "-", "--plugin", kFake, "--progress",
                           dir / "progress.txt", "--stats"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.size(), 4u * 8 * 8 * 4) << "raw frames on standard output";
  const auto lines = Lines(dir / "progress.txt");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "progress=end");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "frame=4"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "total_frames=4"), lines.end());
  EXPECT_NE(r.err.find("4 frames 8x8"), std::string::npos) << r.err;

  // A pipe on standard input: a stream of unknown length keeps one Total
  // throughout.
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const int pid = StartTarvo({"render", "--raw", "8x8", "-", dir / "piped.raw", "--plugin", kFake, "-q"},
                             dir / "fifo", dir / "piped.log", {"TARVO_FAKE_LOG=" + (dir / "log")});
  WriteBytes(dir / "fifo", ReadBytes(dir / "in.raw"));
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadBytes(dir / "piped.log.err").size();
  EXPECT_EQ(ReadBytes(dir / "piped.raw"), std::vector<uint8_t>(r.out.begin(), r.out.end()));
  const auto log = Lines(dir / "log");
  ASSERT_EQ(log.size(), 4u);
  for (const auto& l : log) EXPECT_EQ(Field(l, "total"), "2147483647") << l;
  EXPECT_NE(r.err.find("decode"), std::string::npos);
  EXPECT_NE(r.err.find("encode"), std::string::npos);
}

// Waits for every started command; true when all exited with status 0.
bool AllSucceed(const std::vector<int>& pids, const std::vector<std::string>& logs) {
  bool ok = true;
  for (size_t i = 0; i < pids.size(); ++i) {
    int status = 0;
    waitpid(pids[i], &status, 0);
    const bool good = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!good) {
      const auto err = ReadBytes(logs[i] + ".err");
      ADD_FAILURE() << "command " << i << " failed: " << std::string(err.begin(), err.end());
    }
    ok = ok && good;
  }
  return ok;
}

TEST_F(CliTest, RendersSharingAProjectKeepEveryClipsRecord) {
  constexpr int kRenders = 8;
  const std::string proj = dir / "shared.tproj";
  // Two programs that loaded the project before either saved.
  {
    TSpecs s = BuiltInDefaultSpecs();
    ProjectFile first, second;
    std::string error;
    ASSERT_TRUE(first.Load(proj, &error)) << error;
    ASSERT_TRUE(second.Load(proj, &error)) << error;
    s.Gain = 1;
    first.Put("/films/first.mkv", s);
    s.Gain = 2;
    second.Put("/films/second.mkv", s);
    ASSERT_TRUE(first.Save(proj, &error)) << error;
    ASSERT_TRUE(second.Save(proj, &error)) << error;
    EXPECT_EQ(second.size(), 2u);
    ProjectFile both;
    ASSERT_TRUE(both.Load(proj, &error)) << error;
    ASSERT_TRUE(both.Find("/films/first.mkv").has_value());
    EXPECT_EQ(both.Find("/films/first.mkv")->Gain, 1);
    ASSERT_TRUE(both.Find("/films/second.mkv").has_value());
    std::remove(proj.c_str());
  }
  std::vector<int> pids;
  std::vector<std::string> logs;
  for (int i = 0; i < kRenders; ++i) {
    const std::string clip = dir / ("clip" + std::to_string(i) + ".raw");
    WriteBytes(clip, Concat(MakeFrames(2, 8, 8)));
    logs.push_back(dir / ("render" + std::to_string(i) + ".log"));
    pids.push_back(StartTarvo({"render", "--raw", "8x8", clip, dir / ("out" + std::to_string(i) + ".raw"), "--plugin",
                               kFake, "-q", "--project", proj, "--set", "Gain=" + std::to_string(10 + i)},
                              "", logs.back()));
  }
  ASSERT_TRUE(AllSucceed(pids, logs));
  ProjectFile p;
  std::string error;
  ASSERT_TRUE(p.Load(proj, &error)) << error;
  EXPECT_EQ(p.size(), static_cast<size_t>(kRenders));
  for (int i = 0; i < kRenders; ++i) {
    const auto rec = p.Find(dir / ("clip" + std::to_string(i) + ".raw"));
    ASSERT_TRUE(rec.has_value()) << i;
    EXPECT_EQ(rec->Gain, 10 + i);
  }
}

TEST_F(CliTest, ProjectPathsWithLineBreaksAreEscapedAndOlderProjectsStillRead) {
  TSpecs a = BuiltInDefaultSpecs(), b = a, c = a;
  a.Gain = 11;
  b.Gain = 22;
  c.Gain = 33;
  const std::string plain = "/films/plain name.mkv", odd = "/films/two\nlines\\and\ttab\r.mkv",
                    ctrl = std::string("/films/bell\x07\x7F.mkv");
  const std::string proj = dir / "edit.tproj";
  {
    ProjectFile p;
    std::string error;
    ASSERT_TRUE(p.Load(proj, &error)) << error;
    p.Put(plain, a);
    p.Put(odd, b);
    p.Put(ctrl, c);
    ASSERT_TRUE(p.Save(proj, &error)) << error;
  }
  const auto text = ReadBytes(proj);
  const std::string saved(text.begin(), text.end());
  // Plain paths as before; the others escaped on lines of their own.
  EXPECT_NE(saved.find("\nclip /films/plain name.mkv\nrecord "), std::string::npos) << saved;
  EXPECT_NE(saved.find("\nclip-escaped /films/two\\nlines\\\\and\\ttab\\r.mkv\nrecord "), std::string::npos) << saved;
  EXPECT_NE(saved.find("\nclip-escaped /films/bell\\x07\\x7f.mkv\nrecord "), std::string::npos) << saved;
  ProjectFile back;
  std::string error;
  ASSERT_TRUE(back.Load(proj, &error)) << error;
  EXPECT_EQ(back.size(), 3u);
  ASSERT_TRUE(back.Find(plain).has_value());
  EXPECT_EQ(back.Find(plain)->Gain, 11);
  ASSERT_TRUE(back.Find(odd).has_value());
  EXPECT_EQ(back.Find(odd)->Gain, 22);
  ASSERT_TRUE(back.Find(ctrl).has_value());
  EXPECT_EQ(back.Find(ctrl)->Gain, 33);

  // A file written before escapes existed reads as it always did: a
  // backslash on a plain line is part of the path.
  std::string hex;
  for (size_t i = 0; i < sizeof a; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", reinterpret_cast<const uint8_t*>(&a)[i]);
    hex += two;
  }
  const std::string old = "tarvo-project 1\nclip /films/back\\nslash.mkv\nrecord " + hex + "\r\n";
  WriteBytes(dir / "old.tproj", std::vector<uint8_t>(old.begin(), old.end()));
  ProjectFile older;
  ASSERT_TRUE(older.Load(dir / "old.tproj", &error)) << error;
  ASSERT_TRUE(older.Find("/films/back\\nslash.mkv").has_value());
  EXPECT_EQ(older.Find("/films/back\\nslash.mkv")->Gain, 11);
  // An unreadable escape is a damaged file, named by its line.
  const std::string bad = "tarvo-project 1\nclip-escaped /films/\\q.mkv\nrecord " + hex + "\n";
  WriteBytes(dir / "bad.tproj", std::vector<uint8_t>(bad.begin(), bad.end()));
  EXPECT_FALSE(older.Load(dir / "bad.tproj", &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;

  // End to end: a clip whose name holds a line break does not spoil the
  // project for the next clip.
  WriteBytes(dir / "in\nput.raw", Concat(MakeFrames(1, 8, 8)));
  WriteBytes(dir / "next.raw", Concat(MakeFrames(1, 8, 8)));
  auto r = RunTarvo({"render", "--raw", "8x8", dir / "in\nput.raw", dir / "o1.raw", "--plugin", kFake, "--project",
                     dir / "cli.tproj", "--set", "Gain=44"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunTarvo({"render", "--raw", "8x8", dir / "next.raw", dir / "o2.raw", "--plugin", kFake, "--project",
                dir / "cli.tproj", "--set", "Gain=55"});
  ASSERT_EQ(r.code, 0) << r.err;
  ProjectFile both;
  ASSERT_TRUE(both.Load(dir / "cli.tproj", &error)) << error;
  ASSERT_TRUE(both.Find(dir / "in\nput.raw").has_value());
  EXPECT_EQ(both.Find(dir / "in\nput.raw")->Gain, 44);
  ASSERT_TRUE(both.Find(dir / "next.raw").has_value());
  EXPECT_EQ(both.Find(dir / "next.raw")->Gain, 55);
}

TEST_F(CliTest, SceneImportsAtOnceKeepEveryScene) {
  const std::string reg = dir / "registry.reg";
  const std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n"
                           "\"SceneFile\"=\"" + (dir / "scenes.kvs") + "\"\n";
  WriteBytes(reg, std::vector<uint8_t>(text.begin(), text.end()));
  const std::vector<std::string> env = {"TARVO_REGISTRY=" + reg};
  constexpr int kImports = 6;
  for (int i = 0; i < kImports; ++i) {
    const auto r = RunTarvo({"record", "set", dir / ("s" + std::to_string(i) + ".tvr"), "Gain=" + std::to_string(i),
                             "SceneName=Scene " + std::to_string(i)});
    ASSERT_EQ(r.code, 0) << r.err;
  }
  std::vector<int> pids;
  std::vector<std::string> logs;
  for (int i = 0; i < kImports; ++i) {
    logs.push_back(dir / ("import" + std::to_string(i) + ".log"));
    pids.push_back(StartTarvo({"scenes", "import", dir / ("s" + std::to_string(i) + ".tvr"), "--plugin", kFake}, "",
                              logs.back(), env));
  }
  ASSERT_TRUE(AllSucceed(pids, logs));
  const auto r = RunTarvo({"scenes", "list", "--json", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "[\"Scene 0\", \"Scene 1\", \"Scene 2\", \"Scene 3\", \"Scene 4\", \"Scene 5\"]\n");
}

TEST_F(CliTest, ScenesCommandsReportDuplicateNamesAndTrailingBytesAndKeepThem) {
  const std::string reg = dir / "registry.reg", kvs = dir / "scenes.kvs";
  const std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Morlund\\Tarvo\\Options]\n"
                           "\"SceneFile\"=\"" + kvs + "\"\n";
  WriteBytes(reg, std::vector<uint8_t>(text.begin(), text.end()));
  const std::vector<std::string> env = {"TARVO_REGISTRY=" + reg};
  std::vector<uint8_t> bytes;
  for (const auto& [name, gain] : std::vector<std::pair<std::string, int16_t>>{{"Dawn", 1}, {"DAWN", 2}, {"Noon", 3}}) {
    TSpecs s = BuiltInDefaultSpecs();
    SetSceneName(s, name);
    s.Gain = gain;
    const auto* p = reinterpret_cast<const uint8_t*>(&s);
    bytes.insert(bytes.end(), p, p + sizeof s);
  }
  for (int i = 0; i < 10; ++i) bytes.push_back(static_cast<uint8_t>(0xA0 + i));
  WriteBytes(kvs, bytes);

  auto r = RunTarvo({"scenes", "list", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "DAWN\nNoon\n");
  EXPECT_NE(r.err.find("Scene record 1 of '" + kvs + "' (\"Dawn\") has the name of the later record 2 (\"DAWN\")"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("The last 10 bytes of '" + kvs + "'"), std::string::npos) << r.err;
  r = RunTarvo({"scenes", "show", "dawn", "--json", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"Gain\": 2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"SceneName\": \"DAWN\""), std::string::npos) << r.out;

  // A change through the command writes every record and the tail back.
  r = RunTarvo({"record", "set", dir / "dusk.tvr", "Gain=4", "SceneName=Dusk"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunTarvo({"scenes", "import", dir / "dusk.tvr", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  const auto after = ReadBytes(kvs);
  ASSERT_EQ(after.size(), 4 * sizeof(TSpecs) + 10);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 512, after.begin()));  // Dawn, then DAWN
  EXPECT_TRUE(std::equal(bytes.end() - 10, bytes.end(), after.end() - 10));
  // Deleting the listed one lists the earlier record, and says so.
  r = RunTarvo({"scenes", "delete", "DAWN", "--plugin", kFake}, env);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("another scene record named 'Dawn'"), std::string::npos) << r.err;
  r = RunTarvo({"scenes", "list", "--plugin", kFake}, env);
  EXPECT_EQ(r.out, "Dawn\nDusk\nNoon\n");
}

TEST_F(CliTest, RecordFilesBehindLinksAreWrittenThroughTheLinkAndKeepTheirMode) {
  const std::string real = dir / "real.tvr", link = dir / "clip.tvr";
  auto r = RunTarvo({"record", "set", real, "Gain=10"});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(chmod(real.c_str(), 0600), 0);
  ASSERT_EQ(symlink("real.tvr", link.c_str()), 0);
  r = RunTarvo({"record", "set", link, "Gain=20"});
  ASSERT_EQ(r.code, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadRecord(real).Gain, 20);
}

}  // namespace
}  // namespace tarvo::cli::test
