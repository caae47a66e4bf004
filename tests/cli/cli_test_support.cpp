#include "cli_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "output_file.h"
#include "synthetic_clip.h"
#include "video_writer.h"

namespace tarvo::cli::test {

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& in,
            const std::string& out, const std::string& err) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // As a shell would start it, whatever this test program ignores.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
  for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
  const int i = open(in.empty() ? "/dev/null" : in.c_str(), O_RDONLY);
  const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(i, 0);
  dup2(o, 1);
  dup2(e, 2);
  std::vector<char*> argv;
  std::string exe = TARVO_EXE;
  argv.push_back(exe.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

}  // namespace

RunResult RunTarvo(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const std::string& stdinPath) {
  ScratchDir io;
  const pid_t pid = Spawn(args, env, stdinPath, io / "out", io / "err");
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Slurp(io / "out");
  r.err = Slurp(io / "err");
  return r;
}

int StartTarvo(const std::vector<std::string>& args, const std::string& stdinPath, const std::string& outPath,
               const std::vector<std::string>& env) {
  return Spawn(args, env, stdinPath, outPath, outPath + ".err");
}

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "tarvo-cli-XXXXXX").string();
  path_ = mkdtemp(tmpl.data());
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<std::string> ScratchDir::Entries() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string s = Slurp(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::vector<Frame> MakeFrames(int count, int width, int height, uint32_t seed) {
  std::vector<Frame> frames(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) SynthesizeFrame(i, width, height, seed, GrainSettings{}, frames[static_cast<size_t>(i)]);
  return frames;
}

std::vector<uint8_t> Concat(const std::vector<Frame>& frames) {
  std::vector<uint8_t> all;
  for (const auto& f : frames) all.insert(all.end(), f.pixels.begin(), f.pixels.end());
  return all;
}

bool EncodeClip(const std::string& path, const std::vector<Frame>& frames, AVRational rate, std::string* error,
                FieldMode fields) {
  VideoInfo info;
  info.width = frames.at(0).width;
  info.height = frames.at(0).height;
  info.frameRate = rate;
  info.timeBase = av_inv_q(rate);
  VideoWriter w;
  WriterSettings ws;
  ws.fieldMode = fields;
  if (!w.Open(path, path, info, nullptr, ws, error)) return false;
  for (const auto& f : frames)
    if (!w.WriteVideo(f, error)) return false;
  return w.Finish(error);
}

bool EncodeClip(const std::string& path, const std::vector<Frame>& frames, const VideoInfo& info, std::string* error,
                const std::string& codec) {
  VideoWriter w;
  WriterSettings ws;
  ws.codec = codec;
  ws.fieldMode = info.fieldMode;
  if (!w.Open(path, path, info, nullptr, ws, error)) return false;
  for (const auto& f : frames)
    if (!w.WriteVideo(f, error)) return false;
  return w.Finish(error);
}

std::vector<Frame> DecodeAll(const std::string& path, VideoInfo* info) {
  VideoReader r;
  std::string error;
  std::vector<Frame> frames;
  if (!r.Open(path, &error)) {
    ADD_FAILURE() << error;
    return frames;
  }
  if (info) *info = r.info();
  Frame f;
  int rc;
  while ((rc = r.Next(f, &error)) == 1) frames.push_back(f);
  if (rc < 0) ADD_FAILURE() << error;
  return frames;
}

void IsolateOptions() {
  static ScratchDir dir;  // removed when the program ends
  setenv("TARVO_REGISTRY", (dir / "registry.reg").c_str(), 1);
}

}  // namespace tarvo::cli::test
