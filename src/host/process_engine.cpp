#include "host/process_engine.h"

#include <dlfcn.h>

#include <filesystem>

#include "host/setup_loader.h"
#include "platform/icu_collation.h"
#include "platform/os_registry_file.h"

namespace tarvo {
namespace {
int gModuleAnchor = 0;
}  // namespace

std::string LoadedModuleFile() {
  Dl_info info{};
  if (::dladdr(&gModuleAnchor, &info) == 0 || !info.dli_fname || !*info.dli_fname) return "";
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::weakly_canonical(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : p.string();
}

std::unique_ptr<Engine> MakePlatformEngine() {
  OptionsEnvironment env;
  env.pluginFolder = FolderOf(LoadedModuleFile());
  return std::make_unique<Engine>(OpenDefaultOptionStore(), MakeIcuCollator(), InProcessHost(), env);
}

Engine& ProcessEngine() {
  // Made on the first call of the entry point, not at load; destroyed when
  // the library is unloaded (or the program ends), writing nothing.
  static const std::unique_ptr<Engine> engine = [] {
    std::unique_ptr<Engine> e = MakePlatformEngine();
    // The setup dialog comes from its own library, loaded at the first setup.
    e->SetSetupHandler(MakeUiSetupHandler(FolderOf(LoadedModuleFile())));
    return e;
  }();
  return *engine;
}

}  // namespace tarvo
