#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>

#include "commands.h"
#include "plugin_loader.h"
#include "record_source.h"

extern "C" {
#include <libavutil/log.h>
}

namespace tarvo::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;  // the signal number, 0 while none came

void OnInterrupt(int sig) {
  if (g_interrupted == 0) g_interrupted = sig;
  // A second one ends the process at once.
  std::signal(sig, SIG_DFL);
}

const char kUsage[] =
    "usage: tarvo render INPUT OUTPUT [options]   render a clip through the filter\n"
    "       tarvo setup CLIP (--record FILE | --project FILE) [--frame N]\n"
    "       tarvo record show FILE [--json]\n"
    "       tarvo record set FILE FIELD=VALUE...\n"
    "       tarvo scenes list | show NAME | export NAME FILE | import FILE | delete NAME\n"
    "       tarvo demo [OUTPUT-DIR] [--size WxH] [--frames N]\n"
    "       tarvo scopes CLIP --frame N [--record FILE] [--view VIEW] --out DIR [--counts FILE]\n"
    "       tarvo frei0r-params [--record FILE] [--fields MODE] [FIELD=VALUE...]\n"
    "       tarvo -h | --help | --version\n";

const char kHelp[] =
    "\n"
    "render INPUT OUTPUT: INPUT is any file FFmpeg reads; the container of OUTPUT\n"
    "follows its extension: .mkv (FFV1, lossless BGRA), .mov (ProRes 422 HQ),\n"
    ".mp4 (H.264, CRF 16) and .nut (FFV1). Frame rate, time stamps, field\n"
    "order and colour description are kept; audio is copied when the container\n"
    "can hold it. OUTPUT is written under a temporary name and renamed when done.\n"
    "  --raw WxH            INPUT and OUTPUT are raw frames: 4-byte pixels in the\n"
    "                       order blue, green, red, fourth byte, rows top first,\n"
    "                       frames back to back; '-' is standard input/output\n"
    "  --record FILE        the clip's 256-byte record: used when it exists, and\n"
    "                       written with the record the filter leaves after the run\n"
    "  --project FILE       project file holding every clip's record; read and\n"
    "                       updated like --record\n"
    "  --scene NAME         load a scene from the scene file into the record\n"
    "  --set FIELD=VALUE    change one record field before the first frame\n"
    "                       (repeatable; names as `tarvo record show` lists them)\n"
    "  --op-mode MODE       bypass, draft or final for this run only\n"
    "  --threads N          threads of the filter for this run (default 0: one per\n"
    "                       core); decoding and encoding have their own besides\n"
    "  --fields MODE        progressive, tff or bff (default: the input's order)\n"
    "  --frames FROM-TO     render frames FROM to TO (inclusive, first frame 0;\n"
    "                       FROM- renders to the end)\n"
    "  --codec NAME         video encoder to use instead of the default\n"
    "  --pix-fmt NAME       pixel format to encode in, by FFmpeg's names (yuv420p,\n"
    "                       yuv422p10le, bgra...); the encoder must take it\n"
    "  --scale-quality Q    fast (default) or accurate conversion between the\n"
    "                       file's YUV and the filter's RGB (accurate: accurate\n"
    "                       rounding, several times slower)\n"
    "  --in-matrix M        read YUV input with bt601, bt709 or bt2020, whatever its\n"
    "                       tags say (default: its tags; untagged: bt601 below 720\n"
    "                       lines, bt709 from 720 up)\n"
    "  --in-range R         read YUV input as tv (16-235) or pc (0-255) range\n"
    "                       (default: its tags; untagged: tv)\n"
    "  --serial             decode, filter and encode in turn on one thread\n"
    "                       (default: each on its own thread, overlapping)\n"
    "  --progress TARGET    write key=value progress blocks (frame=, fps=,\n"
    "                       total_frames=, out_time_us=, progress=continue|end)\n"
    "                       to TARGET: a file, '-' (standard output) or fd:N\n"
    "  --stats              print frames per second, with decoding and encoding\n"
    "                       time shown apart from the filter's own time\n"
    "  -q, --quiet          no progress line (it is only drawn on a terminal)\n"
    "  -n                   do not overwrite an existing OUTPUT\n"
    "  --plugin PATH        the plug-in library (default: TARVO_PLUGIN, beside the\n"
    "                       executable, the install's lib/tarvo, the build tree)\n"
    "\n"
    "setup CLIP: opens the filter's setup dialog on the clip's record with frame N\n"
    "  (--frame, default 0) current; the dialog can show any frame of CLIP.\n"
    "  --record FILE        the clip's record file (made from the defaults when\n"
    "                       FILE does not exist yet)\n"
    "  --project FILE       the project file holding the clip's record\n"
    "  On OK the record is saved to FILE (exit status 0); Cancel saves nothing\n"
    "  and exits with status 3.\n"
    "record show FILE [--json]: prints every field of a record file by name.\n"
    "record set FILE FIELD=VALUE...: changes fields (creates the file from the\n"
    "  built-in default record when it does not exist).\n"
    "scenes: works with the scene file named by the \"SceneFile\" option: list\n"
    "  [--json], show NAME [--json], export NAME FILE (to a record file), import\n"
    "  FILE [--name NAME] (a record file as a scene), delete NAME.\n"
    "demo [OUTPUT-DIR]: makes a short noisy clip, cleans it up and writes the\n"
    "  input, the result and a before/after picture into OUTPUT-DIR (default out);\n"
    "  --size WxH and --frames N change the clip (default 720x576, 48 frames).\n"
    "scopes CLIP --frame N: the setup dialog's picture, waveform and vectorscope\n"
    "  for frame N, rendered as the dialog renders them (240 x 180, options from\n"
    "  the options file), written as PNG files frame-N-picture.png,\n"
    "  frame-N-waveform-large.png, -small, frame-N-vectorscope-large.png, -small\n"
    "  into --out DIR.\n"
    "  --record FILE        the clip's record (default: the filter's defaults)\n"
    "  --view VIEW          picture, waveform or vectorscope: the button down in\n"
    "                       the dialog (default: the record's MonitorView)\n"
    "  --counts FILE        write the waveform then the vectorscope count buffer\n"
    "                       of the view's active sizes, for each frame\n"
    "  --raw WxH            CLIP is raw frames as for render; without --frame\n"
    "                       every frame is shown\n"
    "frei0r-params: prints FFmpeg's filter_params for the frei0r plug-in with\n"
    "  every setting of the built-in default record (or of --record FILE) and\n"
    "  the FIELD=VALUE changes, and the field order --fields (default progressive).\n"
    "\n"
    "Environment: TARVO_REGISTRY (options file), TARVO_PLUGIN (plug-in library).\n"
    "Exit status: 0 done, 1 error, 2 bad usage, 3 setup cancelled; stopped by a\n"
    "signal: 128 + its number (130 Ctrl-C, 129 hang-up, 143 terminate); nothing\n"
    "is left behind.\n";

}  // namespace

bool Interrupted() { return g_interrupted != 0; }

int InterruptSignal() { return g_interrupted; }

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  // A closed terminal (hang-up) or a polite kill stops a render like Ctrl-C:
  // the partial output is removed and the record is not written.
  // A signal the parent set to be ignored (nohup, a background job) stays
  // ignored.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &sa, nullptr);
  }
  std::signal(SIGPIPE, SIG_IGN);
}

void PrintUsage(bool full) {
  std::fputs(kUsage, full ? stdout : stderr);
  if (full) std::fputs(kHelp, stdout);
}

void Complain(const std::string& message) { std::fprintf(stderr, "tarvo: %s\n", message.c_str()); }

PluginLibrary* LoadPlugin(const std::string& explicitPath, std::string* error) {
  static std::unique_ptr<PluginLibrary> loaded;
  if (loaded) return loaded.get();
  std::string path = explicitPath;
  if (path.empty()) {
    std::string tried;
    path = FindDefaultPlugin(&tried);
    if (path.empty()) {
      if (error) *error = "cannot find the plug-in library tarvo-xfilter.so; give it with --plugin. Looked in:" + tried;
      return nullptr;
    }
  }
  // The filter reads the install path at its start-up.
  PrepareFilterEnvironment(path);
  auto lib = std::make_unique<PluginLibrary>();
  if (!lib->Load(path, error)) return nullptr;
  if (lib->filterName() != kFilterName) {
    if (error) *error = "'" + path + "' is the filter '" + lib->filterName() + "', not '" + kFilterName + "'";
    return nullptr;
  }
  loaded = std::move(lib);
  return loaded.get();
}

bool ArgScanner::Option(const char* name, std::string* value, std::string* error) {
  const std::string& a = args_[i_];
  const size_t n = std::strlen(name);
  if (a.compare(0, n, name) != 0) return false;
  if (a.size() == n) {
    if (i_ + 1 >= args_.size()) {
      if (error) *error = std::string(name) + " needs a value";
      i_ = args_.size();
      return true;
    }
    *value = args_[i_ + 1];
    i_ += 2;
    return true;
  }
  if (a[n] != '=') return false;
  *value = a.substr(n + 1);
  ++i_;
  return true;
}

bool ArgScanner::Flag(const char* name) {
  if (args_[i_] != name) return false;
  ++i_;
  return true;
}

int RunMain(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintUsage(false);
    return kExitUsage;
  }
  const std::string cmd = args[0];
  args.erase(args.begin());
  if (cmd == "-h" || cmd == "--help" || cmd == "help") {
    PrintUsage(true);
    return kExitOk;
  }
  if (cmd == "--version" || cmd == "-version") {
    std::printf("tarvo %s\n", TARVO_VERSION);
    return kExitOk;
  }
  InstallInterruptHandler();
  // FFmpeg's own chatter only when something is wrong; TARVO_FFMPEG_LOG=info
  // (or debug...) shows more.
  av_log_set_level(AV_LOG_ERROR);
  if (const char* lvl = std::getenv("TARVO_FFMPEG_LOG")) {
    if (std::strcmp(lvl, "info") == 0) av_log_set_level(AV_LOG_INFO);
    if (std::strcmp(lvl, "debug") == 0) av_log_set_level(AV_LOG_DEBUG);
  }
  if (cmd == "render") return CmdRender(args);
  if (cmd == "setup") return CmdSetup(args);
  if (cmd == "record") return CmdRecord(args);
  if (cmd == "scenes") return CmdScenes(args);
  if (cmd == "demo") return CmdDemo(args);
  if (cmd == "scopes") return CmdScopes(args);
  if (cmd == "frei0r-params") return CmdFrei0rParams(args);
  Complain("unknown command '" + cmd + "'");
  PrintUsage(false);
  return kExitUsage;
}

}  // namespace tarvo::cli
