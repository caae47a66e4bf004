#include "scene_access.h"

#include <cstdio>
#include <cstring>

#include "options/options.h"
#include "platform/icu_collation.h"
#include "platform/os_registry_file.h"
#include "scenes/cp1252.h"
#include "scenes/scene_list.h"

namespace tarvo::cli {

void ApplyScene(TSpecs& record, const TSpecs& scene) {
  const int16_t framePos = record.FramePos;
  std::memcpy(&record, &scene, sizeof record);
  record.FramePos = framePos;
}

void RecordInstallPath(const std::string& pluginFile) {
  if (pluginFile.empty()) return;
  std::vector<std::string> notes;
  FileOptionStore store(DefaultRegistryPath(), [&](const std::string& m) { notes.push_back(m); });
  // An options file that cannot be read is the filter's to report, once.
  if (!store.ReadProblem().empty()) return;
  SetInstallPath(store, pluginFile);
  for (const auto& n : notes) std::fprintf(stderr, "tarvo: %s\n", n.c_str());
}

namespace {

class SceneFileAccess final : public SceneAccess {
 public:
  SceneFileAccess() : collator_(MakeIcuCollator()), list_(*collator_) {}

  bool Init(const std::string& pluginFile, std::string* error) {
    // Without its options the command cannot know which scene file is meant:
    // an options file that cannot be read stops it (the store would run on
    // defaults and name another scene file).
    std::vector<std::string> notes;
    bool holdNotes = true;
    FileOptionStore store(DefaultRegistryPath(), [&](const std::string& m) {
      if (holdNotes) notes.push_back(m);
      else std::fprintf(stderr, "tarvo: %s\n", m.c_str());
    });
    if (!store.ReadProblem().empty()) {
      if (error) *error = "the options file cannot be read: " + store.ReadProblem();
      return false;
    }
    holdNotes = false;
    for (const auto& n : notes) std::fprintf(stderr, "tarvo: %s\n", n.c_str());
    if (!pluginFile.empty()) SetInstallPath(store, pluginFile);
    TSpecs defaults = BuiltInDefaultSpecs();
    OptionsEnvironment env;
    env.pluginFolder = FolderOf(pluginFile);
    const Options o = ReadStartupOptions(store, defaults, env);
    sceneFile_ = o.SceneFile;
    defaultScene_ = o.DefaultScene;
    if (!list_.SetFileName(sceneFile_, error)) return false;
    if (!list_.LoadError().empty()) {
      if (error) *error = list_.LoadError();
      return false;
    }
    for (const auto& p : list_.LoadProblems()) std::fprintf(stderr, "tarvo: %s\n", p.c_str());
    return true;
  }

  const std::string& SceneFile() const override { return sceneFile_; }
  const std::string& DefaultScene() const override { return defaultScene_; }

  std::vector<std::string> Names() const override {
    std::vector<std::string> names;
    for (int i = 1; i < list_.Count(); ++i) names.push_back(list_.Name(i));
    return names;
  }

  bool Get(const std::string& name, TSpecs& out, std::string* error) const override {
    const int i = list_.IndexOf(name);
    if (i < 1 || !list_.Scene(i)) {
      if (error) *error = "no scene named '" + name + "' in '" + sceneFile_ + "'";
      return false;
    }
    out = list_.Scene(i)->Specs;
    return true;
  }

  bool Put(const TSpecs& specs, const std::string& name, std::string* usedName, std::string* error) override {
    auto scene = std::make_unique<TScene>();
    scene->Specs = specs;
    std::string n = name;
    if (n.empty()) {
      n = Cp1252ToUtf8(SceneNameOf(specs));
    } else {
      std::string stored;
      if (!list_.CheckName(n, &stored, error)) return false;
      SetSceneName(scene->Specs, stored);
    }
    const int at = list_.Add(n, std::move(scene), error);
    if (at < 1) return false;
    if (usedName) *usedName = list_.Name(at);
    return list_.SaveToFile(sceneFile_, error);
  }

  bool Delete(const std::string& name, std::string* error) override {
    const int i = list_.IndexOf(name);
    if (i < 1) {
      if (error) *error = "no scene named '" + name + "' in '" + sceneFile_ + "'";
      return false;
    }
    list_.Delete(i);
    if (!list_.SaveToFile(sceneFile_, error)) return false;
    // An earlier record of the same name was kept in the file; it is the
    // one listed now.
    if (const int again = list_.IndexOf(name); again >= 1)
      std::fprintf(stderr, "tarvo: the file holds another scene record named '%s'; it is listed now\n",
                   list_.Name(again).c_str());
    return true;
  }

 private:
  std::unique_ptr<Collator> collator_;
  TSceneList list_;
  std::string sceneFile_, defaultScene_;
};

}  // namespace

std::unique_ptr<SceneAccess> SceneAccess::Open(const std::string& pluginFile, std::string* error) {
  auto a = std::make_unique<SceneFileAccess>();
  if (!a->Init(pluginFile, error)) return nullptr;
  return a;
}

}  // namespace tarvo::cli
