// The one call between the plug-in and its setup dialog library
// (tarvo-ui.so). The plug-in loads the library only when the host asks for
// setup, fills a SetupCall with pointers to its state for this one call, and
// calls the library's exported C function. The library edits the clip's
// record in place and returns kSetupOk or kSetupCancel; no exception leaves
// it.
//
// Both sides are built from the same sources; the version and size fields let
// the library refuse a plug-in built from other sources instead of reading
// its state wrongly. Raise kSetupCallVersion whenever a field is added,
// removed or changes meaning.
#pragma once

#include <cstdint>

#include "options/option_store.h"
#include "options/options.h"
#include "platform/host_services.h"
#include "scenes/scene_list.h"
#include "types/call_record.h"
#include "types/specs.h"

namespace tarvo {
class MonitorSink;
}

namespace tarvo::ui {

constexpr uint32_t kSetupCallVersion = 2;

// Tells the user why setup could not run (a message box when the host has a
// user interface, otherwise a line on standard error). `text` is UTF-8.
using SetupNoticeFn = void (*)(void* context, const char* text);

// Renders one frame with the plug-in's own pipeline, for the clip's record as
// it stands, in the setup call's dialog mode. `dialog` is true for the
// dialog's main monitor frame: each converted pixel then goes to `sink` (may
// be null); false for the floating preview. The dialog never links the
// pipeline itself, so its picture is exactly what the plug-in renders.
using SetupRenderFn = void (*)(void* context, PixBufferHandle source, PixBufferHandle destination, bool dialog,
                               MonitorSink* sink);

// Registers (or, with an empty function, removes) where the call's host
// services draw a frame for PPixToScreen. Filled by the side that owns
// `host`, so the dialog's target reaches that side's services.
using SetDrawTargetFn = void (*)(DrawTarget target);

struct SetupCall {
  uint32_t version = kSetupCallVersion;   // of the plug-in that filled the call
  uint32_t size = sizeof(SetupCall);      // sizeof(SetupCall) as the plug-in sees it

  TSpecs* specs = nullptr;                // the clip's record, edited in place
  const TSpecs* previous = nullptr;       // the record before the dialog opened: Cancel restores it
  TSpecs* defaults = nullptr;             // the built-in default record new clips start from
  TFilterCallRecord* call = nullptr;      // Part, Total, FrameCallback, PrivateData of this call
  HostServices* host = nullptr;           // handles, off-screen worlds, the host's main window
  OptionStore* store = nullptr;           // the installation-wide options store
  Options* options = nullptr;             // the options read at start-up (help file, OpMode...)
  bool* changed = nullptr;                // the engine's changed flag; editors set it
  TSceneList* scenes = nullptr;           // the scene list, bound to the scene file
  int32_t* sceneIndex = nullptr;          // the clip's scene index: 0 none, -1 master missing, >= 1 position
  bool* scenesDirty = nullptr;            // the scene list must be written back when the dialog closes

  SetupNoticeFn notice = nullptr;         // may be null: then the library writes to standard error
  void* noticeContext = nullptr;

  SetupRenderFn render = nullptr;         // may be null: the monitors then show the unprocessed frame
  void* renderContext = nullptr;
  SetDrawTargetFn setDrawTarget = &SetDrawTarget;  // the filler's own in-process host by default
};

}  // namespace tarvo::ui

extern "C" {
// The library's one export: runs the setup dialog for one call. Returns 0
// (kSetupOk) when the dialog ended with OK, -1 (kSetupCancel) when it was
// cancelled or could not be shown (the reason then goes to `notice`).
typedef int32_t (*TarvoUiSetupFn)(tarvo::ui::SetupCall* call);
}

namespace tarvo::ui {
// The export's name for dlsym, and the library's file name.
constexpr char kSetupEntryName[] = "tarvo_ui_setup";
constexpr char kUiLibraryFile[] = "tarvo-ui.so";
}  // namespace tarvo::ui
