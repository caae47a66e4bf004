#include "host/setup_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "planes/inout.h"
#include "ui/setup_api.h"

#ifndef TARVO_UI_INSTALL_DIR
#define TARVO_UI_INSTALL_DIR ""
#endif

namespace tarvo {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

bool IsFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

// Does the platform named in a QT_QPA_PLATFORM entry ("xcb", "offscreen",
// "wayland-egl", "vnc:size=...") have what it needs?
bool PlatformUsable(std::string name) {
  name = name.substr(0, name.find(':'));
  if (name == "xcb") return !Env("DISPLAY").empty();
  if (name.rfind("wayland", 0) == 0) return !Env("WAYLAND_DISPLAY").empty();
  return !name.empty();
}

// The loaded dialog library's entry (null until loaded); never unloaded.
TarvoUiSetupFn gEntry = nullptr;

void NoticeToEngine(void* context, const char* text) {
  Notifier& n = static_cast<Engine*>(context)->GetNotifier();
  // Every setup call is the user's own request, so every failure is reported.
  n.Clear(Notice::SetupUnavailable);
  n.Show(Notice::SetupUnavailable, text ? text : "");
  n.Clear(Notice::SetupUnavailable);
}

// The dialog's renders go through the engine's own pipeline, on the record
// the dialog edits in place.
struct DialogRenderer {
  Engine* engine = nullptr;
  TSpecs lastRendered{};
  bool rendered = false;
};

void RenderForDialog(void* context, PixBufferHandle source, PixBufferHandle destination, bool dialog,
                     MonitorSink* sink) {
  auto* r = static_cast<DialogRenderer*>(context);
  Engine& engine = *r->engine;
  Handle specs = engine.CurrentSpecs();
  // The dialog changes the record between renders without a new call: the
  // input conversion must rebuild its tables whenever the record differs
  // from the one rendered last.
  if (specs && *specs) {
    const TSpecs& now = *reinterpret_cast<const TSpecs*>(*specs);
    if (!r->rendered || !SpecsEqual(now, r->lastRendered)) {
      engine.Call().changed = true;
      r->lastRendered = now;
      r->rendered = true;
    }
  }
  // The dialog's pictures are described as a video host describes frames,
  // whichever entry point opened the dialog.
  engine.Call().frames = FrameRules::kHostProtocol;
  Pipeline& pipeline = engine.GetPipeline();
  pipeline.SetMonitorSink(dialog ? sink : nullptr);
  try {
    pipeline.Render(source, destination, specs, dialog, engine.Call());
  } catch (...) {
    engine.GetNotifier().Show(Notice::ProcessingError, kProcessingErrorText);
  }
  pipeline.SetMonitorSink(nullptr);
}

}  // namespace

std::string SetupDisplayProblem() {
  // The host runs Qt's widgets itself: the dialog joins its application.
  if (void* widgets = ::dlopen("libQt6Widgets.so.6", RTLD_NOW | RTLD_NOLOAD)) {
    ::dlclose(widgets);
    return "";
  }
  const std::string platforms = Env("QT_QPA_PLATFORM");
  if (!platforms.empty()) {
    size_t start = 0;
    while (start <= platforms.size()) {
      const size_t end = platforms.find(';', start);
      const std::string entry = platforms.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (PlatformUsable(entry)) return "";
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return "no display for QT_QPA_PLATFORM=" + platforms;
  }
  if (!Env("DISPLAY").empty() || !Env("WAYLAND_DISPLAY").empty()) return "";
  return "no display (DISPLAY and WAYLAND_DISPLAY are not set; QT_QPA_PLATFORM=offscreen runs it without one)";
}

std::string FindUiLibrary(const std::string& pluginFolder) {
  if (!pluginFolder.empty() && IsFile(pluginFolder + ui::kUiLibraryFile)) return pluginFolder + ui::kUiLibraryFile;
  const std::string installed = std::string(TARVO_UI_INSTALL_DIR) + "/" + ui::kUiLibraryFile;
  if (std::strlen(TARVO_UI_INSTALL_DIR) > 0 && IsFile(installed)) return installed;
  return "";
}

Engine::SetupHandler MakeUiSetupHandler(std::string pluginFolder) {
  return [pluginFolder](Engine& engine, CallRecordHandle record) -> int32_t {
    auto fail = [&engine](const std::string& why) {
      NoticeToEngine(&engine, ("Setup cannot be shown: " + why + ".").c_str());
      return kSetupCancel;
    };
    if (const std::string problem = SetupDisplayProblem(); !problem.empty()) return fail(problem);
    if (!gEntry) {
      const std::string file = FindUiLibrary(pluginFolder);
      if (file.empty())
        return fail(std::string("the dialog library ") + ui::kUiLibraryFile + " is not installed beside the plug-in (" +
                    (pluginFolder.empty() ? std::string("unknown folder") : pluginFolder) + ") nor in " +
                    TARVO_UI_INSTALL_DIR);
      // Qt cannot be unloaded safely, so the library stays for the process.
      void* lib = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
      if (!lib) {
        const char* err = ::dlerror();
        return fail("the dialog library cannot be loaded: " + std::string(err ? err : file));
      }
      auto entry = reinterpret_cast<TarvoUiSetupFn>(::dlsym(lib, ui::kSetupEntryName));
      if (!entry) return fail(file + " has no entry " + ui::kSetupEntryName);
      gEntry = entry;
    }
    Handle specs = engine.CurrentSpecs();
    ui::SetupCall call;
    call.specs = reinterpret_cast<TSpecs*>(*specs);
    call.previous = &engine.PreviousSpecs();
    call.defaults = &engine.DefaultSpecs();
    call.call = *record;
    call.host = &engine.Host();
    call.store = &engine.Store();
    call.options = &engine.GetOptions();
    call.changed = &engine.Call().changed;
    // The dialog lists the scenes at once, so the list is bound to its file now.
    engine.BindScenes();
    call.scenes = &engine.Scenes();
    // The dialog works on copies of the scene state, which go back to the
    // engine when it closes.
    int32_t sceneIndex = engine.SceneIndex();
    bool scenesDirty = engine.ScenesDirty();
    call.sceneIndex = &sceneIndex;
    call.scenesDirty = &scenesDirty;
    call.notice = NoticeToEngine;
    call.noticeContext = &engine;
    DialogRenderer renderer;
    renderer.engine = &engine;
    call.render = RenderForDialog;
    call.renderContext = &renderer;
    call.setDrawTarget = &SetDrawTarget;
    const int32_t result = gEntry(&call);
    engine.SetSceneIndex(sceneIndex);
    engine.SetScenesDirty(scenesDirty);
    return result == kSetupOk ? kSetupOk : kSetupCancel;
  };
}

}  // namespace tarvo
