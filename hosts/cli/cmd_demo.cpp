#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "commands.h"
#include "output_file.h"
#include "raw_io.h"
#include "synthetic_clip.h"
#include "typical_record.h"
#include "types/frame_view.h"
#include "video_reader.h"
#include "video_writer.h"

namespace tarvo::cli {
namespace {

struct DemoSize {
  int width = 720, height = 576, frames = 48;
};

bool WriteDemoInput(const std::string& path, const DemoSize& size, std::string* error) {
  VideoInfo info;
  info.width = size.width;
  info.height = size.height;
  info.timeBase = AVRational{1, 25};
  info.frameRate = AVRational{25, 1};
  info.sampleAspect = AVRational{16, 15};
  PendingOutput pending(path);
  VideoWriter w;
  if (!w.Open(path, pending.tempPath(), info, nullptr, WriterSettings{}, error)) return false;
  Frame f;
  for (int i = 0; i < size.frames; ++i) {
    SynthesizeFrame(i, size.width, size.height, 2026, GrainSettings{}, f);
    if (!w.WriteVideo(f, error)) return false;
  }
  return w.Finish(error) && pending.Commit(error);
}

// Before on the left, after on the right, a thin white line between them.
bool WriteComparison(const std::string& before, const std::string& after, int frame, const std::string& png,
                     std::string* error) {
  VideoReader a, b;
  Frame fa, fb;
  if (!a.Open(before, error) || !a.ReadFrameAt(frame, fa, error)) return false;
  if (!b.Open(after, error) || !b.ReadFrameAt(frame, fb, error)) return false;
  Frame both;
  const int gap = 4;
  both.Resize(fa.width + gap + fb.width, std::max(fa.height, fb.height));
  std::fill(both.pixels.begin(), both.pixels.end(), 255);
  for (int y = 0; y < fa.height; ++y) std::copy(fa.row(y), fa.row(y) + fa.width * 4, both.row(y));
  for (int y = 0; y < fb.height; ++y)
    std::copy(fb.row(y), fb.row(y) + fb.width * 4, both.row(y) + static_cast<size_t>(fa.width + gap) * 4);
  return WritePng(png, both, error);
}

}  // namespace

int CmdDemo(const std::vector<std::string>& args) {
  std::string dir = "out", plugin, sizeText, framesText, error;
  DemoSize size;
  ArgScanner a(args);
  bool dirGiven = false;
  while (!a.Done()) {
    if (a.Flag("-h") || a.Flag("--help")) {
      PrintUsage(true);
      return kExitOk;
    }
    if (a.Option("--plugin", &plugin, &error) || a.Option("--size", &sizeText, &error) ||
        a.Option("--frames", &framesText, &error))
      continue;
    if (a.Flag("--stats")) continue;  // always shown
    const std::string arg = a.Take();
    if ((arg.size() > 1 && arg[0] == '-') || dirGiven) {
      Complain("demo takes one optional OUTPUT-DIR, got '" + arg + "'");
      return kExitUsage;
    }
    dir = arg;
    dirGiven = true;
  }
  if (error.empty() && !sizeText.empty() && ParseFrameSize(sizeText, size.width, size.height, &error) &&
      (size.width > kMaxOwnFrameWidth || size.height > kMaxOwnFrameHeight))
    error = "--size: the filter takes frames up to " + std::to_string(kMaxOwnFrameWidth) + " pixels wide and " +
            std::to_string(kMaxOwnFrameHeight) + " rows high";
  if (error.empty() && !framesText.empty()) {
    size.frames = std::atoi(framesText.c_str());
    if (size.frames < 1 || size.frames > 100000) error = "--frames needs a count from 1 to 100000";
  }
  if (!error.empty()) {
    Complain(error);
    return kExitUsage;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    Complain("cannot create folder '" + dir + "': " + ec.message());
    return kExitError;
  }
  const std::string input = (std::filesystem::path(dir) / "demo-input.mkv").string();
  const std::string output = (std::filesystem::path(dir) / "demo-output.mkv").string();
  const std::string record = (std::filesystem::path(dir) / "demo-record.tvr").string();
  const std::string png = (std::filesystem::path(dir) / "demo-before-after.png").string();
  std::printf("Making a noisy %dx%d clip of %d frames...\n", size.width, size.height, size.frames);
  std::fflush(stdout);
  if (!WriteDemoInput(input, size, &error)) {
    Complain(error);
    return kExitError;
  }
  std::filesystem::remove(record, ec);  // start from the defaults plus the settings below
  RenderOptions o;
  o.input = input;
  o.output = output;
  o.record = record;
  o.plugin = plugin;
  o.opMode = "final";
  for (auto s : kTypicalCleanup) o.sets.emplace_back(s);
  std::printf("Cleaning it up (levels, despeckle, temporal smoothing, sharpening)...\n");
  std::fflush(stdout);
  RenderStats stats;
  const int rc = RunRender(o, &stats);
  if (rc != kExitOk) return rc;
  if (!WriteComparison(input, output, size.frames / 2, png, &error)) {
    Complain(error);
    return kExitError;
  }
  auto ms = [&](double s) { return stats.frames ? 1000.0 * s / static_cast<double>(stats.frames) : 0.0; };
  std::printf("Rendered %lld frames at %.1f frames per second; the filter alone %.1f fps (%.2f ms/frame), "
              "decoding %.2f ms/frame, encoding %.2f ms/frame.\n",
              static_cast<long long>(stats.frames), stats.total > 0 ? static_cast<double>(stats.frames) / stats.total : 0.0,
              stats.filter > 0 ? static_cast<double>(stats.frames) / stats.filter : 0.0, ms(stats.filter),
              ms(stats.decode), ms(stats.encode));
  std::printf("Wrote:\n  %s  (noisy input, FFV1 lossless)\n  %s  (cleaned up, FFV1 lossless)\n"
              "  %s  (the record used; see `tarvo record show`)\n  %s  (frame %d, before | after)\n",
              input.c_str(), output.c_str(), record.c_str(), png.c_str(), size.frames / 2);
  return kExitOk;
}

}  // namespace tarvo::cli
