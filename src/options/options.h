// The installation-wide options: where they live in the options store, their
// defaults, and the start-up read that fills them and the built-in default
// record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "options/option_store.h"
#include "types/specs.h"

namespace tarvo {

// Keys, below the store's root.
extern const char kKeyProcessing[];  // "\Software\Morlund\Tarvo\Processing"
extern const char kKeyClipping[];    // "\Software\Morlund\Tarvo\Clipping"
extern const char kKeyLevels[];      // "\Software\Morlund\Tarvo\Levels"
extern const char kKeyOptions[];     // "\Software\Morlund\Tarvo\Options"
extern const char kKeyPreview[];     // "\Software\Morlund\Tarvo\Preview"
// Where the install step records the plug-in's folder (value "Path").
extern const char kKeyAppPath[];  // "\Software\Microsoft\Windows\CurrentVersion\App Paths\Fl-tarvo.prm"

extern const char kSceneFileName[];   // "SCENES.KVS"
extern const char kHelpFileName[];    // "FL-TARVO.HTML"

// The process-wide option variables read at start-up.
struct Options {
  uint8_t OpMode = 2;  // 0 Bypass, 1 Draft, 2 Final; held as one byte
  int32_t NTSCBlacks = 0;
  std::string DefaultScene = kNoSceneName;  // UTF-8
  int32_t UseMasters = 0;
  int32_t ShowHints = 1;
  int32_t DefaultPage = 1;  // always 0..6 here, whatever the store holds
  std::string SceneFile;
  std::string HelpFile;
  int32_t USTerminology = 1;
  // Threads the filter may use inside one frame: 0 = one per core, n = at
  // most n. Never negative here.
  int32_t Threads = 0;
};

// What the start-up read needs to know about the running process.
struct OptionsEnvironment {
  // Folder of the plug-in library, ending in "/" (empty: unknown). The
  // default scene file goes there when the store has no install path.
  std::string pluginFolder;
  // The host program; empty: the running program (/proc/self/exe). The help
  // file is looked for below its folder.
  std::string hostExecutable;
  // Whether TARVO_OPMODE may override the stored operating mode.
  bool useEnvironmentOpMode = true;
  // Whether TARVO_THREADS may override the stored thread count.
  bool useEnvironmentThreads = true;
};

// The start-up read, in its fixed order (a default may be a value read just
// before). Missing and mistyped values are replaced by their defaults and
// written back; a complete set of values is not written at all. Puts ProcMode, Vmin, Vmax, Vblank, Vblack and Vwhite into
// `defaults` (the built-in default record) and returns the rest.
Options ReadStartupOptions(OptionStore& store, TSpecs& defaults, const OptionsEnvironment& env = {});

// Records the folder of `pluginFile` (with its trailing "/") as the install
// path the default scene file location is built from. Hosts and the install
// step call it; the store is written only when the folder differs from the
// one stored.
bool SetInstallPath(OptionStore& store, const std::string& pluginFile);

// A stored path is taken when it starts with "/" or compares (ordinally)
// greater than or equal to "A"; missing, empty and "./"-style relative paths
// are not.
bool IsAcceptedPath(const std::string& path);

// Text up to and including the last "/", or "" when there is none.
std::string FolderOf(const std::string& path);

// "bypass", "draft", "final" (any letter case) or "0", "1", "2".
std::optional<uint8_t> ParseOpMode(const std::string& text);

// The operating mode forced by TARVO_OPMODE for this process, if any. A value
// that cannot be read is reported once to the process-wide message sink and
// ignored.
std::optional<uint8_t> OpModeFromEnvironment();

// A thread count as users type it: a whole number from 0 (one per core) up,
// in decimal, nothing else around it.
std::optional<int32_t> ParseThreadCount(const std::string& text);

// The thread count forced by TARVO_THREADS for this process, if any. A value
// that cannot be read is reported once to the process-wide message sink and
// ignored.
std::optional<int32_t> ThreadsFromEnvironment();

// The threads a count stands for: 0 becomes the number of cores this process
// may run on (at least 1).
int32_t ResolveThreadCount(int32_t threads);

}  // namespace tarvo
