// The tarvo command's sub-commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "types/specs.h"

namespace tarvo::cli {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 3;  // setup ended with Cancel; nothing was saved
constexpr int kExitInterrupted = 130;  // Ctrl-C; other signals: 128 + their number

struct RenderOptions {
  std::string input, output;
  std::string project;       // --project FILE
  std::string record;        // --record FILE
  std::string scene;         // --scene NAME
  std::vector<std::string> sets;  // --set FIELD=VALUE
  std::string opMode;        // --op-mode bypass|draft|final
  std::string threads;       // --threads N: the filter's threads (0 = one per core)
  std::string fields;        // --fields progressive|tff|bff
  std::string frames;        // --frames FROM-TO
  std::string raw;           // --raw WxH
  std::string codec;         // --codec NAME
  std::string pixFmt;        // --pix-fmt NAME
  std::string scaleQuality;  // --scale-quality fast|accurate
  std::string inMatrix;      // --in-matrix bt601|bt709|bt2020
  std::string inRange;       // --in-range tv|pc
  bool serial = false;       // --serial: decode, filter and encode in turn on one thread
  std::string progress;      // --progress TARGET
  std::string plugin;        // --plugin PATH
  bool quiet = false;
  bool stats = false;
  bool overwrite = true;     // -n turns this off
};

// Time spent, for --stats.
struct RenderStats {
  int64_t frames = 0;
  int width = 0, height = 0;
  double total = 0, decode = 0, filter = 0, encode = 0;  // seconds
  int threads = 0;  // the threads the filter ran with
};

// Hands the filter its thread count for this run (TARVO_THREADS, which the
// plug-in reads at its start-up instead of the stored "Threads" option):
// `requested` when given (0 = one per core), else a readable TARVO_THREADS
// already set, else one per core. Returns the threads that will run (the
// count capped at the cores), or 0 with `error` set when `requested` is not
// a thread count. Call before the plug-in's first call.
int PassFilterThreads(const std::string& requested, std::string* error);

// Each returns the process exit code and prints its own messages.
int RunRender(const RenderOptions& options, RenderStats* stats = nullptr);
int CmdRender(const std::vector<std::string>& args);
int CmdSetup(const std::vector<std::string>& args);
int CmdRecord(const std::vector<std::string>& args);
int CmdScenes(const std::vector<std::string>& args);
int CmdDemo(const std::vector<std::string>& args);
int CmdScopes(const std::vector<std::string>& args);
// Prints the frei0r plug-in's positional parameter list for FFmpeg.
int CmdFrei0rParams(const std::vector<std::string>& args);
int RunMain(int argc, char** argv);

void PrintUsage(bool full);
// Every field of a record by name (text or one JSON object) on standard output.
void PrintRecord(const TSpecs& specs, bool json);
// A UTF-8 text as a quoted JSON string.
std::string JsonString(const std::string& utf8);
// "tarvo: message" on standard error.
void Complain(const std::string& message);

// Set by SIGINT, SIGTERM or SIGHUP; long loops stop when it is set.
bool Interrupted();
// The first of those signals that came, or 0.
int InterruptSignal();
void InstallInterruptHandler();

// Loads the plug-in (--plugin or the default places). Null with a message.
class PluginLibrary;
PluginLibrary* LoadPlugin(const std::string& explicitPath, std::string* error);

// Small argument scanner: "--name VALUE" and "--name=VALUE" forms.
class ArgScanner {
 public:
  explicit ArgScanner(const std::vector<std::string>& args) : args_(args) {}
  bool Done() const { return i_ >= args_.size(); }
  const std::string& Peek() const { return args_[i_]; }
  // True when the current argument is option `name` (taking a value when
  // `value` is given); the value is stored and the scanner moves on.
  bool Option(const char* name, std::string* value, std::string* error);
  bool Flag(const char* name);
  std::string Take() { return args_[i_++]; }

 private:
  const std::vector<std::string>& args_;
  size_t i_ = 0;
};

}  // namespace tarvo::cli
