#include "options/options.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "util/message_sink.h"
#include "util/thread_pool.h"

namespace tarvo {

const char kKeyProcessing[] = "\\Software\\Morlund\\Tarvo\\Processing";
const char kKeyClipping[] = "\\Software\\Morlund\\Tarvo\\Clipping";
const char kKeyLevels[] = "\\Software\\Morlund\\Tarvo\\Levels";
const char kKeyOptions[] = "\\Software\\Morlund\\Tarvo\\Options";
const char kKeyPreview[] = "\\Software\\Morlund\\Tarvo\\Preview";
const char kKeyAppPath[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Fl-tarvo.prm";

const char kSceneFileName[] = "SCENES.KVS";
const char kHelpFileName[] = "FL-TARVO.HTML";

namespace {

// Reads an integer; a missing or mistyped value takes its default, which is
// written at once.
int32_t ReadInteger(OptionStore& store, const char* key, const char* name, int32_t def) {
  int32_t v = 0;
  if (store.ReadInteger(key, name, v) == ValueStatus::Present) return v;
  store.WriteInteger(key, name, def);
  return def;
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

std::string RunningExecutable() {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string DefaultSceneFile(OptionStore& store, const OptionsEnvironment& env) {
  store.CreateKey(kKeyAppPath);
  std::string installPath;
  if (store.ReadString(kKeyAppPath, "Path", installPath) == ValueStatus::Present) {
    const std::string folder = FolderOf(installPath);
    if (!folder.empty()) return folder + kSceneFileName;
  }
  // No usable install path: next to the plug-in itself rather than in
  // whatever the current folder happens to be.
  if (!env.pluginFolder.empty()) {
    std::string folder = env.pluginFolder;
    if (folder.back() != '/') folder += '/';
    return folder + kSceneFileName;
  }
  return kSceneFileName;
}

std::string DefaultHelpFile(const OptionsEnvironment& env) {
  const std::string exe = env.hostExecutable.empty() ? RunningExecutable() : env.hostExecutable;
  const std::string folder = FolderOf(exe);
  if (!folder.empty()) {
    for (const char* sub : {"PLUGINS/", "PLUG-INS/", "VFT_PLUG/"}) {
      const std::string candidate = folder + sub + kHelpFileName;
      if (IsRegularFile(candidate)) return candidate;
    }
  }
  return kHelpFileName;
}

}  // namespace

bool IsAcceptedPath(const std::string& path) {
  return (!path.empty() && path[0] == '/') || path.compare("A") >= 0;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<uint8_t> ParseOpMode(const std::string& text) {
  std::string t;
  for (char c : text) t += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (t == "bypass" || t == "0") return 0;
  if (t == "draft" || t == "1") return 1;
  if (t == "final" || t == "2") return 2;
  return std::nullopt;
}

std::optional<uint8_t> OpModeFromEnvironment() {
  const char* v = std::getenv("TARVO_OPMODE");
  if (!v || !*v) return std::nullopt;
  std::optional<uint8_t> mode = ParseOpMode(v);
  static bool reported = false;
  if (!mode && !reported) {
    reported = true;
    ReportToProcess(Notice::Message,
                    std::string("TARVO_OPMODE '") + v + "' is not bypass, draft or final (0, 1, 2); ignored");
  }
  return mode;
}

std::optional<int32_t> ParseThreadCount(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::optional<int32_t> ThreadsFromEnvironment() {
  const char* v = std::getenv("TARVO_THREADS");
  if (!v || !*v) return std::nullopt;
  std::optional<int32_t> threads = ParseThreadCount(v);
  static bool reported = false;
  if (!threads && !reported) {
    reported = true;
    ReportToProcess(Notice::Message, std::string("TARVO_THREADS '") + v +
                                         "' is not a thread count (0 for one per core, or 1, 2, ...); ignored");
  }
  return threads;
}

int32_t ResolveThreadCount(int32_t threads) {
  return threads > 0 ? threads : ThreadPool::HardwareThreads();
}

bool SetInstallPath(OptionStore& store, const std::string& pluginFile) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(pluginFile, ec);
  if (ec) p = pluginFile;
  const std::string folder = FolderOf(p.lexically_normal().string());
  if (folder.empty()) return false;
  // Hosts call this at every start; the file is written only when the
  // folder is new.
  std::string stored;
  if (store.ReadString(kKeyAppPath, "Path", stored) == ValueStatus::Present && stored == folder) return true;
  return store.WriteString(kKeyAppPath, "Path", folder);
}

Options ReadStartupOptions(OptionStore& store, TSpecs& defaults, const OptionsEnvironment& env) {
  OptionUpdate group(store);
  Options o;

  store.CreateKey(kKeyProcessing);
  defaults.ProcMode = static_cast<int16_t>(ReadInteger(store, kKeyProcessing, "ProcMode", 0));
  o.OpMode = static_cast<uint8_t>(ReadInteger(store, kKeyProcessing, "OpMode", 2));

  store.CreateKey(kKeyClipping);
  defaults.Vmin = static_cast<int16_t>(ReadInteger(store, kKeyClipping, "Vmin", 0));
  defaults.Vmax = static_cast<int16_t>(ReadInteger(store, kKeyClipping, "Vmax", 255));

  store.CreateKey(kKeyLevels);
  defaults.Vblank = static_cast<int16_t>(ReadInteger(store, kKeyLevels, "Vblank", defaults.Vmin));
  defaults.Vblack = static_cast<int16_t>(ReadInteger(store, kKeyLevels, "Vblack", defaults.Vblank));
  defaults.Vwhite = static_cast<int16_t>(ReadInteger(store, kKeyLevels, "Vwhite", defaults.Vmax));
  o.NTSCBlacks = ReadInteger(store, kKeyLevels, "NTSCBlacks", 0);

  store.CreateKey(kKeyOptions);
  std::string s;
  if (store.ReadString(kKeyOptions, "DefaultScene", s) == ValueStatus::Present && s.compare(" ") > 0) {
    o.DefaultScene = s;
  } else {
    o.DefaultScene = kNoSceneName;
    store.WriteString(kKeyOptions, "DefaultScene", o.DefaultScene);
  }
  o.UseMasters = ReadInteger(store, kKeyOptions, "UseMasters", 0);
  o.ShowHints = ReadInteger(store, kKeyOptions, "ShowHints", 1);
  o.DefaultPage = ReadInteger(store, kKeyOptions, "DefaultPage", 1);
  if (o.DefaultPage < 0 || o.DefaultPage > 6) o.DefaultPage = 1;  // used, not written

  if (store.ReadString(kKeyOptions, "SceneFile", s) == ValueStatus::Present && IsAcceptedPath(s)) {
    o.SceneFile = s;
  } else {
    o.SceneFile = DefaultSceneFile(store, env);
    store.WriteString(kKeyOptions, "SceneFile", o.SceneFile);
  }
  const bool helpStored = store.ReadString(kKeyOptions, "HelpFile", s) == ValueStatus::Present;
  if (helpStored && IsAcceptedPath(s) && IsRegularFile(s)) {
    o.HelpFile = s;
  } else {
    o.HelpFile = DefaultHelpFile(env);
    // Only a missing value or a changed one is written: a help file that is
    // not installed is looked for at every start, and writing the same name
    // back each time would rewrite the options file at every start.
    if (!helpStored || s != o.HelpFile) store.WriteString(kKeyOptions, "HelpFile", o.HelpFile);
  }
  o.USTerminology = ReadInteger(store, kKeyOptions, "USTerminology", 1);
  // Added after the others: an older options file gets it with its default
  // at its next start, like any other missing value. A negative count has no
  // meaning and is repaired as a mistyped value is.
  o.Threads = ReadInteger(store, kKeyOptions, "Threads", 0);
  if (o.Threads < 0) {
    o.Threads = 0;
    store.WriteInteger(kKeyOptions, "Threads", 0);
  }

  if (env.useEnvironmentOpMode)
    if (std::optional<uint8_t> forced = OpModeFromEnvironment()) o.OpMode = *forced;
  if (env.useEnvironmentThreads)
    if (std::optional<int32_t> forced = ThreadsFromEnvironment()) o.Threads = *forced;
  return o;
}

}  // namespace tarvo
