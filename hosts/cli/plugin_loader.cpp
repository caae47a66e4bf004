#include "plugin_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tarvo::cli {

PluginLibrary::~PluginLibrary() {
  // The library stays mapped until the process ends: its state (planes,
  // options) is released by its own unload handler, and handles it made may
  // still be owned by the caller.
}

bool PluginLibrary::Load(const std::string& path, std::string* error) {
  path_ = path;
  dlerror();
  lib_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib_) {
    const char* why = dlerror();
    if (error) *error = "cannot load the plug-in '" + path + "': " + (why ? why : "unknown error");
    return false;
  }
  entry_ = reinterpret_cast<XFilterFn>(dlsym(lib_, "xFilter"));
  describe_ = reinterpret_cast<XFilterDescriptionFn>(dlsym(lib_, "xFilterDescription"));
  setSink_ = reinterpret_cast<XFilterSetMessageSinkFn>(dlsym(lib_, "xFilterSetMessageSink"));
  wide_ = reinterpret_cast<XFilterWideFn>(dlsym(lib_, "xFilterWide"));
  if (!entry_) {
    if (error) *error = "'" + path + "' is not a filter plug-in: it does not export xFilter";
    return false;
  }
  if (!describe_) {
    if (error) *error = "'" + path + "' does not export xFilterDescription";
    return false;
  }
  // TYPE 1000: two zero bytes, then the four-character code VFlt stored as a
  // little-endian 32-bit value (bytes t, l, F, V).
  const uint8_t* bytes = nullptr;
  int32_t n = describe_("TYPE", 1000, &bytes);
  if (n < 6 || !bytes || std::memcmp(bytes + 2, "tlFV", 4) != 0) {
    if (error) *error = "'" + path + "' does not describe itself as a video filter";
    return false;
  }
  // TEXT 1000: two zero bytes, then the name and a terminating zero.
  n = describe_("TEXT", 1000, &bytes);
  if (n < 3 || !bytes) {
    if (error) *error = "'" + path + "' has no filter name";
    return false;
  }
  const char* text = reinterpret_cast<const char*>(bytes + 2);
  name_.assign(text, strnlen(text, static_cast<size_t>(n - 2)));
  return true;
}

namespace {

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

std::string FindDefaultPlugin(std::string* triedPlaces) {
  std::vector<std::string> candidates;
  if (const char* env = std::getenv("TARVO_PLUGIN"); env && *env) candidates.emplace_back(env);
  const auto exeDir = ExecutableFolder();
  if (!exeDir.empty()) {
    candidates.push_back((exeDir / "tarvo-xfilter.so").string());
    candidates.push_back((exeDir.parent_path() / TARVO_INSTALL_LIBDIR / "tarvo" / "tarvo-xfilter.so").string());
  }
  candidates.emplace_back(TARVO_BUILD_PLUGIN_PATH);
  std::string tried;
  for (const auto& c : candidates) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(c, ec)) return c;
    tried += "\n  " + c;
  }
  if (triedPlaces) *triedPlaces = tried;
  return {};
}

}  // namespace tarvo::cli
