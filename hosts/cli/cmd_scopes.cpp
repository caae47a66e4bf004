// tarvo scopes: the setup dialog's monitors for chosen frames of a clip,
// without a display. The frame is prepared and processed exactly as the
// dialog does it, by the filter's engine linked into this program and called
// through the host kit: the setup selector prepares the clip's record
// (defaults, master scene, upgrades), the frame is scaled to the 240 x 180
// work image by the frame scaler and runs through the pipeline in dialog
// mode, and the output conversion feeds the monitors.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "frame.h"
#include "host/process_engine.h"
#include "hostkit/clip_call.h"
#include "hostkit/frame_slot.h"
#include "monitor/graticule.h"
#include "monitor/monitor.h"
#include "raw_io.h"
#include "types/call_record.h"
#include "util/atomic_file.h"
#include "util/scaler.h"
#include "util/specs_file.h"
#include "video_reader.h"
#include "video_writer.h"

namespace tarvo::cli {
namespace {

using monitor::Graticules;
using monitor::MonitorImage;
using monitor::Monitors;

// Which button is down under the main panel; the values of MonitorView.
enum class View { kPicture = 0, kWaveform = 1, kVectorscope = 2 };

std::optional<View> ParseView(const std::string& text) {
  if (text == "picture") return View::kPicture;
  if (text == "waveform") return View::kWaveform;
  if (text == "vectorscope") return View::kVectorscope;
  return std::nullopt;
}

// Hands every pixel to both monitor sets, so that one render gives the large
// and the small displays.
struct BothSizes final : MonitorSink {
  Monitors* large;
  Monitors* small;
  void Accumulate(int32_t level, int32_t u, int32_t v, int32_t column) override {
    large->Accumulate(level, u, v, column);
    small->Accumulate(level, u, v, column);
  }
};

Frame ToFrame(const MonitorImage& img) {
  Frame f;
  f.Resize(img.width, img.height);
  f.pixels = img.pixels;
  return f;
}

// The host kit's entry point for an engine in this program.
int32_t EngineEntry(void* engine, int16_t selector, CallRecordHandle record) {
  return static_cast<Engine*>(engine)->Filter(selector, record);
}

// One frame's dialog render: the work and display images, the monitors and
// what was taken from them.
class ScopeRender {
 public:
  explicit ScopeRender(std::optional<View> view) : view_(view) {
    work_.Resize(monitor::kFrameWidth, monitor::kFrameHeight);
    display_.Resize(monitor::kFrameWidth, monitor::kFrameHeight);
    workDesc_ = Describe(work_);
    displayDesc_ = Describe(display_);
    workPtr_ = &workDesc_;
    displayPtr_ = &displayDesc_;
  }

  // The setup selector's work for this frame; returns Cancel, so the host
  // keeps its record as it was.
  int32_t Run(Engine& engine, CallRecordHandle record) {
    ran_ = true;
    error_.clear();
    TFilterCallRecord& rec = **record;
    if (!rec.Source || !*rec.Source || !ScaleFrame(**rec.Source, workDesc_, &error_)) {
      if (error_.empty()) error_ = "no source frame";
      return kSetupCancel;
    }
    TSpecs& specs = *reinterpret_cast<TSpecs*>(*engine.CurrentSpecs());
    activeView_ = view_ ? *view_ : static_cast<View>(specs.MonitorView >= 0 && specs.MonitorView <= 2
                                                         ? specs.MonitorView
                                                         : 0);
    const monitor::ScaleLevels levels =
        monitor::LevelsOf(specs, engine.DefaultSpecs(), engine.GetOptions().NTSCBlacks);
    // The graticules carry the NTSC datum as the option says; they are drawn
    // once, as the dialog loads them once per level change.
    if (!graticules_ || ntsc_ != levels.ntscBlacks) {
      graticules_ = std::make_unique<Graticules>(monitor::MakeGraticules(levels.ntscBlacks));
      ntsc_ = levels.ntscBlacks;
    }
    large_.ScaleBuild(levels, true, true);
    small_.ScaleBuild(levels, false, false);
    BothSizes sink;
    sink.large = &large_;
    sink.small = &small_;
    Pipeline& pipe = engine.GetPipeline();
    pipe.SetMonitorSink(&sink);
    pipe.Render(&workPtr_, &displayPtr_, engine.CurrentSpecs(), true, engine.Call());
    pipe.SetMonitorSink(nullptr);

    // The count buffers of the sizes the chosen view makes active.
    const Monitors& wf = activeView_ == View::kWaveform ? large_ : small_;
    const Monitors& vs = activeView_ == View::kVectorscope ? large_ : small_;
    counts_.assign(wf.WaveformCounts().begin(), wf.WaveformCounts().end());
    counts_.insert(counts_.end(), vs.VectorscopeCounts().begin(), vs.VectorscopeCounts().end());

    large_.RenderWaveform(*graticules_, wfmLarge_);
    small_.RenderWaveform(*graticules_, wfmSmall_);
    large_.RenderVectorscope(*graticules_, vecLarge_);
    small_.RenderVectorscope(*graticules_, vecSmall_);
    return kSetupCancel;
  }

  bool Ran() const { return ran_; }
  void ClearRan() { ran_ = false; }
  const std::string& Error() const { return error_; }
  const std::vector<uint8_t>& Counts() const { return counts_; }

  // Writes the five pictures of the frame into `dir`.
  bool WritePictures(const std::string& dir, int64_t frame, std::string* error) const {
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "frame-%06lld-", static_cast<long long>(frame));
    const std::filesystem::path base(dir);
    struct Item {
      const char* name;
      Frame picture;
    };
    const Item items[] = {
        {"picture.png", display_},
        {"waveform-large.png", ToFrame(wfmLarge_)},
        {"waveform-small.png", ToFrame(wfmSmall_)},
        {"vectorscope-large.png", ToFrame(vecLarge_)},
        {"vectorscope-small.png", ToFrame(vecSmall_)},
    };
    for (const Item& item : items)
      if (!WritePng((base / (std::string(prefix) + item.name)).string(), item.picture, error)) return false;
    return true;
  }

 private:
  static TPixBuffer Describe(Frame& f) {
    TPixBuffer b{};
    b.Bounds = TRect{0, 0, f.width, f.height};
    b.RowBytes = f.width * 4;
    b.Pixels = f.pixels.data();
    return b;
  }

  std::optional<View> view_;
  View activeView_ = View::kPicture;
  Frame work_, display_;
  TPixBuffer workDesc_{}, displayDesc_{};
  TPixBuffer* workPtr_ = nullptr;
  TPixBuffer* displayPtr_ = nullptr;
  Monitors large_, small_;
  std::unique_ptr<Graticules> graticules_;
  bool ntsc_ = false;
  MonitorImage wfmLarge_, wfmSmall_, vecLarge_, vecSmall_;
  std::vector<uint8_t> counts_;
  bool ran_ = false;
  std::string error_;
};

}  // namespace

int CmdScopes(const std::vector<std::string>& args) {
  std::string recordPath, frameText, viewText, outDir, countsPath, rawSize, error;
  std::vector<std::string> positional;
  ArgScanner a(args);
  while (!a.Done() && error.empty()) {
    if (a.Flag("-h") || a.Flag("--help")) {
      PrintUsage(true);
      return kExitOk;
    }
    if (a.Option("--record", &recordPath, &error) || a.Option("--frame", &frameText, &error) ||
        a.Option("--view", &viewText, &error) || a.Option("--out", &outDir, &error) ||
        a.Option("--counts", &countsPath, &error) || a.Option("--raw", &rawSize, &error))
      continue;
    const std::string arg = a.Take();
    if (arg.size() > 1 && arg[0] == '-') error = "unknown option '" + arg + "' for scopes";
    else positional.push_back(arg);
  }
  if (error.empty() && positional.size() != 1) error = "scopes needs one CLIP";
  std::optional<View> view;
  if (error.empty() && !viewText.empty() && !(view = ParseView(viewText)))
    error = "--view must be picture, waveform or vectorscope, got '" + viewText + "'";
  long long frame = -1;
  if (error.empty() && !frameText.empty()) {
    char* end = nullptr;
    errno = 0;
    frame = std::strtoll(frameText.c_str(), &end, 10);
    if (frameText.empty() || *end != '\0' || frame < 0 || errno != 0 || frame > INT32_MAX)
      error = "--frame needs a frame number (0 or more), got '" + frameText + "'";
  }
  if (error.empty() && frame < 0 && rawSize.empty()) error = "scopes needs --frame N for a video file";
  if (error.empty() && outDir.empty() && countsPath.empty()) error = "scopes needs --out DIR or --counts FILE";
  if (error.empty() && !countsPath.empty() && !recordPath.empty()) {
    std::error_code e1, e2;
    const auto counts = std::filesystem::weakly_canonical(countsPath, e1);
    const auto rec = std::filesystem::weakly_canonical(recordPath, e2);
    if (!e1 && !e2 && counts == rec) error = "--counts and --record name the same file";
  }
  if (!error.empty()) {
    Complain(error);
    return kExitUsage;
  }
  const std::string clipPath = positional[0];

  // The clip's frames.
  std::unique_ptr<RawReader> raw;
  std::unique_ptr<VideoReader> video;
  int64_t frames = -1;
  if (!rawSize.empty()) {
    int w = 0, h = 0;
    if (!ParseFrameSize(rawSize, w, h, &error)) {
      Complain("--raw: " + error);
      return kExitUsage;
    }
    raw = std::make_unique<RawReader>();
    if (!raw->Open(clipPath, w, h, &error)) {
      Complain(error);
      return kExitError;
    }
    frames = raw->frameCount();
  } else {
    video = std::make_unique<VideoReader>();
    if (!video->Open(clipPath, &error)) {
      Complain(error);
      return kExitError;
    }
    frames = video->info().frameCount;
  }
  if (frame >= 0 && frames > 0 && frame >= frames) {
    Complain("--frame " + std::to_string(frame) + " is past the clip's last frame (" + std::to_string(frames - 1) +
             ")");
    return kExitUsage;
  }

  // The clip's record: the file's, or none (the filter then makes one from
  // its defaults, as for a clip it sees for the first time).
  std::optional<TSpecs> record;
  if (!recordPath.empty()) {
    TSpecs s{};
    if (!ReadSpecsFile(recordPath, s, &error)) {
      Complain(error);
      return kExitError;
    }
    record = s;
  }

  if (!outDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec || !std::filesystem::is_directory(outDir)) {
      Complain("cannot make the folder " + outDir + ": " + (ec ? ec.message() : "not a folder"));
      return kExitError;
    }
  }

  std::unique_ptr<Engine> engine = MakePlatformEngine();
  ScopeRender render(view);
  engine->SetSetupHandler([&render](Engine& e, CallRecordHandle rec) { return render.Run(e, rec); });

  hostkit::ClipCall clip(&EngineEntry, engine.get());
  if (record && !clip.SetRecord(*record)) {
    Complain("out of memory");
    return kExitError;
  }
  clip.SetTotal(frames > 0 ? static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX)) : 0);
  Frame source;
  hostkit::FrameSlot sourceSlot;
  std::vector<uint8_t> counts;
  int exitCode = kExitOk;
  int64_t done = 0;
  for (int64_t n = frame >= 0 ? frame : 0;; ++n) {
    if (Interrupted()) {
      exitCode = 128 + InterruptSignal();
      break;
    }
    if (raw && frame < 0) {
      const int got = raw->Next(source, &error);
      if (got == 0) break;
      if (got < 0) {
        Complain(error);
        exitCode = kExitError;
        break;
      }
    } else {
      FrameSource* reader = raw ? static_cast<FrameSource*>(raw.get()) : video.get();
      if (!reader->ReadFrameAt(n, source, &error)) {
        Complain(error);
        exitCode = kExitError;
        break;
      }
    }
    // The setup call carries the current frame as its source, as a host
    // opening the dialog does.
    sourceSlot.Describe(source.pixels.data(), source.width, source.height);
    clip.SetFrames(sourceSlot.handle(), nullptr);
    clip.SetPart(static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
    render.ClearRan();
    clip.Call(kSelectorSetup);
    if (!render.Ran()) {
      Complain("the filter did not open its setup for this record (a record of a newer format is never edited)");
      exitCode = kExitError;
      break;
    }
    if (!render.Error().empty()) {
      Complain("frame " + std::to_string(n) + ": " + render.Error());
      exitCode = kExitError;
      break;
    }
    counts.insert(counts.end(), render.Counts().begin(), render.Counts().end());
    if (!outDir.empty() && !render.WritePictures(outDir, n, &error)) {
      Complain(error);
      exitCode = kExitError;
      break;
    }
    ++done;
    if (frame >= 0) break;
  }
  if (exitCode == kExitOk && done == 0) {
    Complain("the clip has no frames");
    exitCode = kExitError;
  }
  if (exitCode == kExitOk && !countsPath.empty() &&
      !WriteFileAtomically(countsPath, counts.data(), counts.size(), &error)) {
    Complain(error);
    exitCode = kExitError;
  }
  return exitCode;
}

}  // namespace tarvo::cli
