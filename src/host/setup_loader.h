// The setup selector of the plug-in library: it loads the dialog library
// (tarvo-ui.so) only when the host asks for setup, so hosts that only render
// never load Qt. The library is looked for beside the plug-in, then in the
// install tree; once loaded it stays loaded for the life of the process (Qt
// cannot be unloaded safely).
#pragma once

#include <string>

#include "host/engine.h"

namespace tarvo {

// Why no window can be shown here, or "" when one can: a display is
// available when DISPLAY or WAYLAND_DISPLAY is set, when QT_QPA_PLATFORM names
// a platform that needs no display server (offscreen, minimal...), or when
// the process already runs Qt's widgets (the host's own application).
std::string SetupDisplayProblem();

// The dialog library's file: `pluginFolder` + tarvo-ui.so when that exists,
// else the install tree's; "" when neither exists.
std::string FindUiLibrary(const std::string& pluginFolder);

// A setup handler that runs the dialog library's entry for the engine's
// current call. When the library or a display is missing it reports why
// through the engine's notifier and returns kSetupCancel, changing nothing.
Engine::SetupHandler MakeUiSetupHandler(std::string pluginFolder);

}  // namespace tarvo
