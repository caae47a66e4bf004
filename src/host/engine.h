// The filter's working state for one loaded library, and the per-call work
// of the exported entry point: preparing the clip's record (new records,
// default and master scenes, format upgrades, frame position, change
// detection, the host's private block) and dispatching on the selector.
// The plug-in library drives one process-wide engine; tests and adapters may
// make as many as they like, each with its own store, collator and host.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "host/call_state.h"
#include "host/notify.h"
#include "host/pipeline.h"
#include "options/option_store.h"
#include "options/options.h"
#include "platform/host_services.h"
#include "scenes/collator.h"
#include "scenes/scene_list.h"
#include "types/call_record.h"
#include "types/specs.h"

namespace tarvo {

class Engine {
 public:
  // Runs the setup selector for a prepared record; returns kSetupOk or
  // kSetupCancel.
  using SetupHandler = std::function<int32_t(Engine&, CallRecordHandle)>;

  // A null store means an in-memory one, a null collator the simple one.
  explicit Engine(std::unique_ptr<OptionStore> store = nullptr, std::unique_ptr<Collator> collator = nullptr,
                  HostServices& host = InProcessHost(), OptionsEnvironment env = {});
  // Frees everything; writes nothing (neither options nor scenes).
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The entry point's work. Selector 0 renders, 1 runs setup, any other only
  // prepares the record; returns 0, or for setup kSetupCancel when cancelled
  // or unavailable. Never throws: a call that fails is reported once through
  // the notifier, leaves the clip's record as it was and returns as a call
  // that did nothing would (kSetupCancel for setup). Not thread-safe: one
  // call at a time per engine.
  //
  // `frames` says how the record's source and destination descriptors are
  // read: as a video host's (the default; frames up to kMaxFrameWidth wide)
  // or as our own hosts' (RowBytes in full, up to kMaxOwnFrameWidth wide).
  // The setup dialog's own pictures are always read as a video host's.
  int32_t Filter(int16_t selector, CallRecordHandle record, FrameRules frames = FrameRules::kHostProtocol);

  // Installs the setup dialog. Without one the setup selector reports that
  // setup is not available and returns as Cancel does.
  void SetSetupHandler(SetupHandler handler) { setup_ = std::move(handler); }

  // The one-time start-up (the first Filter call runs it).
  void Startup();
  bool Started() const { return started_; }

  // Binds the scene list to the configured scene file unless it is bound.
  void BindScenes();
  // Saves the scene list when scenes are dirty. The flag is cleared only when
  // the file was written; on failure the message says why and the old file
  // is unchanged.
  bool SaveScenesIfDirty(std::string* error);

  // State shared with the dialog and visible to tests.
  Options& GetOptions() { return options_; }
  TSpecs& DefaultSpecs() { return defaults_; }
  const TSpecs& PreviousSpecs() const { return previous_; }
  TSceneList& Scenes() { return scenes_; }
  int32_t SceneIndex() const { return sceneIndex_; }
  void SetSceneIndex(int32_t index) { sceneIndex_ = index; }
  bool ScenesDirty() const { return scenesDirty_; }
  void SetScenesDirty(bool dirty) { scenesDirty_ = dirty; }
  CallState& Call() { return call_; }
  CallRecordHandle CurrentRecord() const { return record_; }
  Handle CurrentSpecs() const { return specs_; }
  Notifier& GetNotifier() { return notifier_; }
  Pipeline& GetPipeline() { return pipeline_; }
  OptionStore& Store() { return *store_; }
  HostServices& Host() { return host_; }
  const Collator& GetCollator() const { return *collator_; }

 private:
  int32_t FilterUnguarded(int16_t selector, CallRecordHandle record);
  bool Prepare(CallRecordHandle record);
  // Makes sure the clip's record block is a full 256 bytes; false when it
  // cannot be grown.
  bool EnsureFullRecord(Handle h);
  int32_t ResolveScene(const std::string& utf8Name);
  // The engine's own 256-byte copy of a record it must not write.
  Handle CopyOfRecord(Handle h);

  HostServices& host_;
  std::unique_ptr<OptionStore> store_;
  std::unique_ptr<Collator> collator_;
  OptionsEnvironment env_;
  Notifier notifier_;
  Pipeline pipeline_;
  TSceneList scenes_;
  Options options_;
  TSpecs defaults_;
  TSpecs previous_{};
  CallState call_;
  CallRecordHandle record_ = nullptr;
  Handle specs_ = nullptr;  // the record prepared and rendered: the host's, or copy_
  Handle copy_ = nullptr;
  int32_t sceneIndex_ = 0;
  bool scenesDirty_ = false;
  bool started_ = false;
  SetupHandler setup_;
};

}  // namespace tarvo
