// Engines wired to this platform: options in the user's options file, scene
// names ordered by ICU in the user's locale, the in-process host services;
// and the one such engine the plug-in library's entry point drives.
#pragma once

#include <memory>
#include <string>

#include "host/engine.h"

namespace tarvo {

// The file the running filter code was loaded from (the plug-in library, or
// the program it is linked into), found with dladdr; "" when unknown.
std::string LoadedModuleFile();

// A new engine on the options file of DefaultRegistryPath(). The plug-in's
// own folder is where the default scene file goes when no install path is
// stored.
std::unique_ptr<Engine> MakePlatformEngine();

// The engine the plug-in library's xFilter drives, made by
// MakePlatformEngine() on first use, with the setup dialog library as its
// setup handler; freed when the library is unloaded.
Engine& ProcessEngine();

}  // namespace tarvo
