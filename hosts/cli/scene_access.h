// The installation's options and scene file as the filter sees them: the
// options store (TARVO_REGISTRY or the user's configuration folder), the
// scene file named by its "SceneFile" option, scene names ordered like the
// filter orders them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "types/specs.h"

namespace tarvo::cli {

// Records the plug-in's folder as the install path, from which the filter
// builds its default scene file location. Call before the first xFilter call.
void RecordInstallPath(const std::string& pluginFile);

class SceneAccess {
 public:
  // Reads the options (filling in defaults, as the filter's start-up does)
  // and loads the scene file. `pluginFile` may be empty.
  static std::unique_ptr<SceneAccess> Open(const std::string& pluginFile, std::string* error);
  virtual ~SceneAccess() = default;

  virtual const std::string& SceneFile() const = 0;
  virtual const std::string& DefaultScene() const = 0;
  // Scene names in list order (UTF-8), without "<none>".
  virtual std::vector<std::string> Names() const = 0;
  // False with a message when there is no such scene.
  virtual bool Get(const std::string& name, TSpecs& out, std::string* error) const = 0;
  // Adds (or replaces) a scene named by its record's SceneName, or by `name`
  // when given; saves the scene file. Returns the name used.
  virtual bool Put(const TSpecs& specs, const std::string& name, std::string* usedName, std::string* error) = 0;
  virtual bool Delete(const std::string& name, std::string* error) = 0;
};

// Copies a scene over a clip's record, keeping the clip's FramePos (as the
// filter loads a scene into a clip).
void ApplyScene(TSpecs& record, const TSpecs& scene);

}  // namespace tarvo::cli
