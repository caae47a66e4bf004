// tarvo setup: the command as the host of the filter's setup dialog. It
// opens the clip, gives the filter the clip's record and a frame callback
// that decodes any frame of the clip, runs the setup selector, and keeps the
// record the dialog leaves only when the user pressed OK.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "clip_frames.h"
#include "clip_host.h"
#include "commands.h"
#include "file_identity.h"
#include "plugin_loader.h"
#include "project_file.h"
#include "raw_io.h"
#include "types/call_record.h"
#include "types/notice.h"
#include "util/specs_file.h"
#include "video_reader.h"

extern "C" {
#include <libavutil/log.h>
}

namespace tarvo::cli {
namespace {

struct SetupArgs {
  std::string clip, project, record, frame, plugin, raw;
};

// Checks everything typed; "" when the arguments make sense.
std::string ParseSetupArgs(const std::vector<std::string>& args, SetupArgs& a, bool& help) {
  std::string error;
  std::vector<std::string> positional;
  ArgScanner s(args);
  while (!s.Done() && error.empty()) {
    if (s.Flag("-h") || s.Flag("--help")) {
      help = true;
      return {};
    }
    if (s.Option("--project", &a.project, &error) || s.Option("--record", &a.record, &error) ||
        s.Option("--frame", &a.frame, &error) || s.Option("--plugin", &a.plugin, &error) ||
        s.Option("--raw", &a.raw, &error))
      continue;
    const std::string arg = s.Take();
    if (arg.size() > 1 && arg[0] == '-') error = "unknown option '" + arg + "' for setup";
    else positional.push_back(arg);
  }
  if (!error.empty()) return error;
  if (positional.size() != 1) return "setup needs one CLIP";
  a.clip = positional[0];
  if (a.clip == "-") return "setup needs a clip file it can seek in, not standard input";
  if (!a.record.empty() && !a.project.empty()) return "--record and --project cannot be used together in setup";
  // The dialog's work would be lost on OK with nowhere to keep it.
  if (a.record.empty() && a.project.empty()) return "setup needs --record FILE or --project FILE to keep the record in";
  return {};
}

// Why the record could not be saved at `path`, or "". Checked before the
// dialog opens: finding out after OK would lose the user's work. Saving
// writes a new file in the folder of the file (of the file a link points
// to) and renames it over the old one, so the folder must take new files.
std::string SaveProblem(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target = fs::exists(path, ec) ? fs::canonical(path, ec) : fs::absolute(path, ec);
  if (ec) return "cannot save to '" + path + "': " + ec.message();
  const std::string folder = target.parent_path().string();
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return "cannot save to '" + path + "': there is no folder '" + folder + "'";
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    return "cannot save to '" + path + "': the folder '" + folder + "' cannot be written (" + std::strerror(errno) + ")";
  return {};
}

// While the dialog is open nothing of ours is half written, so a signal
// (Ctrl-C in the terminal, a closed terminal) ends the command at once, as
// it ends any program; the command's own handlers, which let a write finish
// and clean up, come back for the save. Signals ignored from the start
// (nohup) stay ignored.
void DefaultSignalsWhileOpen() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) std::signal(sig, SIG_DFL);
  }
}

// What the filter reports while setup runs. When the dialog cannot be shown
// (no display, no dialog library) or the call fails, the filter says why and
// returns as Cancel would; that reason, not a Cancel, is what the command
// reports, with the error status. Other messages are shown as they come.
// A filter without a message sink writes its messages to standard error
// itself.
class SetupMessages {
 public:
  explicit SetupMessages(const PluginLibrary& plugin) : setSink_(plugin.setMessageSink()) {
    if (setSink_) setSink_(&SetupMessages::Receive, this);
  }
  ~SetupMessages() {
    if (setSink_) setSink_(nullptr, nullptr);
  }
  SetupMessages(const SetupMessages&) = delete;
  SetupMessages& operator=(const SetupMessages&) = delete;

  // Why setup could not run, or "".
  const std::string& failure() const { return failure_; }

 private:
  static bool IsFailure(int32_t kind) {
    if (kind < 0 || kind >= kNoticeKinds) return false;
    const auto n = static_cast<Notice>(kind);
    return n == Notice::SetupUnavailable || IsFrameFailure(n);
  }

  static void Receive(void* context, int32_t kind, const char* text) {
    auto* self = static_cast<SetupMessages*>(context);
    std::string line = text ? text : "";
    for (char& c : line)
      if (c == '\r' || c == '\n') c = ' ';
    if (IsFailure(kind)) {
      if (self->failure_.empty()) self->failure_ = line.empty() ? "the filter's setup failed" : line;
      return;
    }
    Complain(line);
  }

  XFilterSetMessageSinkFn setSink_;
  std::string failure_;
};

// Opens the clip with FFmpeg's own complaints held back (unless the user
// asked for them with TARVO_FFMPEG_LOG): a clip that cannot be read gets our
// one message, not the demuxer's account of it as well.
bool OpenQuietly(ClipFrames& frames, std::string* error) {
  const int level = av_log_get_level();
  if (!std::getenv("TARVO_FFMPEG_LOG")) av_log_set_level(AV_LOG_QUIET);
  const bool ok = frames.Open(error);
  av_log_set_level(level);
  return ok;
}

}  // namespace

int CmdSetup(const std::vector<std::string>& args) {
  SetupArgs a;
  bool help = false;
  std::string error = ParseSetupArgs(args, a, help);
  auto fail = [](const std::string& message, int code) {
    Complain(message);
    return code;
  };
  if (help) {
    PrintUsage(true);
    return kExitOk;
  }
  if (!error.empty()) return fail(error, kExitUsage);
  long long frame = 0;
  if (!a.frame.empty()) {
    char* end = nullptr;
    frame = std::strtoll(a.frame.c_str(), &end, 10);
    if (*end != '\0' || frame < 0 || frame > INT32_MAX)
      return fail("--frame needs a frame number (0 or more), got '" + a.frame + "'", kExitUsage);
  }
  int rawW = 0, rawH = 0;
  if (!a.raw.empty() && !ParseFrameSize(a.raw, rawW, rawH, &error)) return fail("--raw: " + error, kExitUsage);
  // Writing the record over the clip would destroy the clip.
  {
    std::vector<FileIdentity> ids{IdentifyPath("CLIP", a.clip)};
    if (!a.record.empty()) ids.push_back(IdentifyPath("--record", a.record));
    if (!a.project.empty()) ids.push_back(IdentifyPath("--project", a.project));
    if (const std::string clash = FirstSameFile(ids); !clash.empty()) return fail(clash, kExitUsage);
  }

  // The clip, the record and the project are all read and checked before the
  // filter is called, so that bad input stops here with nothing changed.
  ClipFrames frames(a.clip, rawW, rawH);
  if (!OpenQuietly(frames, &error)) return fail(error, kExitError);
  const int64_t frameCount = frames.frameCount();
  if (frameCount > 0 && frame >= frameCount)
    return fail("--frame " + std::to_string(frame) + " is past the clip's last frame (" +
                    std::to_string(frameCount - 1) + ")",
                kExitUsage);

  ProjectFile project;
  std::optional<TSpecs> record;
  if (!a.project.empty()) {
    if (!project.Load(a.project, &error)) return fail(error, kExitError);
    record = project.Find(a.clip);
  } else if (std::error_code ec; std::filesystem::exists(a.record, ec)) {
    TSpecs s;
    if (!ReadSpecsFile(a.record, s, &error)) return fail(error, kExitError);
    record = s;
  }
  if (const std::string problem = SaveProblem(a.record.empty() ? a.project : a.record); !problem.empty())
    return fail(problem, kExitError);
  if (record && IsNewerSpecsVersion(record->Version))
    return fail("the clip's record is of format " + std::to_string(record->Version) +
                    ", newer than this version knows (" + std::to_string(kSpecsVersion) +
                    "); edit it with the version that saved it",
                kExitError);

  // The dialog's previews use every core (or TARVO_THREADS), whatever the
  // stored option says.
  PassFilterThreads("", &error);
  PluginLibrary* lib = LoadPlugin(a.plugin, &error);
  if (!lib) return fail(error, kExitError);
  ClipHost clip(lib->entry(), ProjectFile::ClipKey(a.clip));
  clip.SetTotal(frameCount > 0 ? static_cast<int32_t>(std::min<int64_t>(frameCount, INT32_MAX)) : 0);
  if (const VideoInfo* info = frames.videoInfo()) clip.SetFieldMode(info->fieldMode);
  // Setup renders no frames of its own: the callback is the only reader.
  clip.SetFrameSource(&frames);
  if (record) clip.SetRecord(*record);

  if (Interrupted()) return 128 + InterruptSignal();
  int32_t result;
  std::string failure;
  {
    SetupMessages messages(*lib);
    DefaultSignalsWhileOpen();
    // A clip without a record gets one from the filter's first call, which
    // starts it at frame 0; a preparing call first lets the setup call move
    // it to the chosen frame, as an editing host's earlier calls would.
    if (!record) clip.Prepare(static_cast<int32_t>(frame));
    result = clip.Setup(static_cast<int32_t>(frame));
    InstallInterruptHandler();
    failure = messages.failure();
  }
  if (!failure.empty())
    return fail(failure + (failure.back() == '.' ? " Nothing was saved." : "; nothing was saved"), kExitError);
  if (result == kSetupCancel) return fail("setup cancelled; nothing was saved", kExitCancelled);
  if (result != kSetupOk)
    return fail("the filter's setup ended with the unknown result " + std::to_string(result) + "; nothing was saved",
                kExitError);
  const std::optional<TSpecs> edited = clip.Record();
  if (!edited) return fail("the filter's setup left no record for the clip; nothing was saved", kExitError);
  if (!a.record.empty()) {
    if (!WriteSpecsFile(a.record, *edited, &error)) return fail(error, kExitError);
  } else {
    project.Put(a.clip, *edited);
    if (!project.Save(a.project, &error)) return fail(error, kExitError);
  }
  return kExitOk;
}

}  // namespace tarvo::cli
