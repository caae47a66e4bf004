#include <cstdio>

#include "commands.h"
#include "plugin_loader.h"
#include "scene_access.h"
#include "types/specs_fields.h"
#include "util/specs_file.h"

namespace tarvo::cli {

int CmdScenes(const std::vector<std::string>& args) {
  std::string plugin, name, error;
  bool json = false;
  std::vector<std::string> words;
  ArgScanner a(args);
  while (!a.Done() && error.empty()) {
    if (a.Flag("-h") || a.Flag("--help")) {
      PrintUsage(true);
      return kExitOk;
    }
    if (a.Option("--plugin", &plugin, &error) || a.Option("--name", &name, &error)) continue;
    if (a.Flag("--json")) {
      json = true;
      continue;
    }
    const std::string w = a.Take();
    if (w.size() > 1 && w[0] == '-') error = "unknown option '" + w + "' for scenes";
    else words.push_back(w);
  }
  const std::string verb = words.empty() ? "" : words[0];
  const size_t need = verb == "list" ? 1 : verb == "show" || verb == "import" || verb == "delete" ? 2 : verb == "export" ? 3 : 0;
  if (error.empty() && (need == 0 || words.size() != need))
    error = "scenes needs one of: list | show NAME | export NAME FILE | import FILE [--name NAME] | delete NAME";
  if (!error.empty()) {
    Complain(error);
    return kExitUsage;
  }
  // The plug-in's place decides the default scene file; it is not loaded.
  if (plugin.empty()) plugin = FindDefaultPlugin(nullptr);
  auto scenes = SceneAccess::Open(plugin, &error);
  if (!scenes) {
    Complain(error);
    return kExitError;
  }
  if (verb == "list") {
    if (json) {
      std::printf("[");
      bool first = true;
      for (const auto& n : scenes->Names()) {
        std::printf("%s%s", first ? "" : ", ", JsonString(n).c_str());
        first = false;
      }
      std::printf("]\n");
    } else {
      for (const auto& n : scenes->Names())
        std::printf("%s%s\n", n.c_str(), n == scenes->DefaultScene() ? "  (default for new clips)" : "");
      std::fprintf(stderr, "tarvo: scene file '%s'\n", scenes->SceneFile().c_str());
    }
    return kExitOk;
  }
  TSpecs s;
  if (verb == "show" || verb == "export") {
    if (!scenes->Get(words[1], s, &error)) {
      Complain(error);
      return kExitError;
    }
    if (verb == "show") {
      PrintRecord(s, json);
      return kExitOk;
    }
    if (!WriteSpecsFile(words[2], s, &error)) {
      Complain(error);
      return kExitError;
    }
    return kExitOk;
  }
  if (verb == "delete") {
    if (!scenes->Delete(words[1], &error)) {
      Complain(error);
      return kExitError;
    }
    return kExitOk;
  }
  // import
  if (!ReadSpecsFile(words[1], s, &error)) {
    Complain(error);
    return kExitError;
  }
  std::string used;
  if (!scenes->Put(s, name, &used, &error)) {
    Complain(error);
    return kExitError;
  }
  std::fprintf(stderr, "tarvo: scene '%s' saved in '%s'\n", used.c_str(), scenes->SceneFile().c_str());
  return kExitOk;
}

}  // namespace tarvo::cli
