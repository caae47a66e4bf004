#include "host/engine.h"

#include <cstring>

#include "host/specs_handle.h"
#include "scenes/cp1252.h"

namespace tarvo {

Engine::Engine(std::unique_ptr<OptionStore> store, std::unique_ptr<Collator> collator, HostServices& host,
               OptionsEnvironment env)
    : host_(host),
      store_(store ? std::move(store) : std::make_unique<MemoryOptionStore>()),
      collator_(collator ? std::move(collator) : std::make_unique<SimpleCollator>()),
      env_(std::move(env)),
      pipeline_(notifier_),
      scenes_(*collator_),
      defaults_(BuiltInDefaultSpecs()) {}

Engine::~Engine() {
  if (copy_) host_.DisposeHandle(copy_);
}

Handle Engine::CopyOfRecord(Handle h) {
  if (!copy_) copy_ = host_.NewHandle(kSpecsSize);
  if (!copy_ || !*copy_) return nullptr;
  int32_t n = UsableHandleSize(host_, h, kSpecsSize);
  if (n > kSpecsSize) n = kSpecsSize;
  std::memset(*copy_, 0, kSpecsSize);
  if (n > 0) std::memcpy(*copy_, *h, static_cast<size_t>(n));
  return copy_;
}

void Engine::Startup() {
  if (started_) return;
  // The configured processing mode, clipping and levels go into the record
  // new clips start from.
  options_ = ReadStartupOptions(*store_, defaults_, env_);
  pipeline_.SetOpMode(options_.OpMode);
  // The configured thread count (or TARVO_THREADS). The output is the same
  // for any count; should the threads not start, the frames run on the
  // calling thread.
  try {
    pipeline_.SetThreads(ResolveThreadCount(options_.Threads));
  } catch (const std::exception& e) {
    pipeline_.SetThreads(1);
    notifier_.Report(std::string("The filter's threads could not be started (") + e.what() +
                     "); frames are processed on one thread");
  }
  // The planes, tables and history belong to the pipeline, which made them;
  // the scene list starts empty and is bound to its file when first needed.
  std::memset(call_.privateBlock, 0, sizeof call_.privateBlock);
  started_ = true;
}

void Engine::BindScenes() {
  if (!scenes_.FileName().empty()) return;
  scenes_.SetFileName(options_.SceneFile);
  // Binding happens once: a scene file that cannot be read is reported once,
  // and clips that follow its scenes keep their own settings.
  if (!scenes_.LoadError().empty()) notifier_.Report(scenes_.LoadError());
  for (const std::string& problem : scenes_.LoadProblems()) notifier_.Report(problem);
}

bool Engine::SaveScenesIfDirty(std::string* error) {
  if (!scenesDirty_) return true;
  if (scenes_.FileName().empty()) BindScenes();
  if (!scenes_.SaveToFile(scenes_.FileName(), error)) return false;
  scenesDirty_ = false;
  return true;
}

int32_t Engine::ResolveScene(const std::string& utf8Name) {
  BindScenes();
  return scenes_.IndexOf(utf8Name);
}

bool Engine::EnsureFullRecord(Handle h) {
  if (UsableHandleSize(host_, h, kSpecsSize) >= kSpecsSize) return true;
  return host_.SetHandleSize(h, kSpecsSize);
}

bool Engine::Prepare(CallRecordHandle record) {
  TFilterCallRecord& rec = **record;
  record_ = record;
  call_.part = rec.Part;
  call_.total = rec.Total;
  call_.fieldWord = static_cast<uint16_t>(rec.FieldWordLow | (rec.FieldFlags << 8));

  // A clip's first call: a fresh record marked as never filled.
  if (!rec.SpecsHandle) {
    Handle fresh = host_.NewHandle(kSpecsSize);
    if (!fresh) return false;
    std::memset(*fresh, 0, kSpecsSize);
    rec.SpecsHandle = fresh;
  }
  Handle h = rec.SpecsHandle;
  specs_ = h;
  if (!*h) return false;
  // A block too small to hold even the format marker counts as never filled.
  // A record the host made itself is taken to hold the protocol's 256 bytes.
  if (UsableHandleSize(host_, h, kSpecsSize) < 2) {
    if (!host_.SetHandleSize(h, kSpecsSize)) return false;
    std::memset(*h, 0, kSpecsSize);
  }
  int16_t version;
  std::memcpy(&version, *h, sizeof version);
  // A record of a newer format than this version knows is used as far as it
  // is understood, with its fields where this version has them, but it is
  // not written: the call prepares and renders a copy, and the host keeps
  // its record byte for byte (bytes this version calls FramePos and LastPart
  // may mean something else there).
  int16_t newerFormat = IsNewerSpecsVersion(version) ? version : 0;
  if (newerFormat && !(h = CopyOfRecord(h))) return false;
  if (version != 0) UpgradeSpecs(h, host_);  // grows a short older record
  if (!EnsureFullRecord(h)) return false;
  TSpecs* s = reinterpret_cast<TSpecs*>(*h);

  if (version != 0) {
    const std::string name = SceneNameOf(*s);
    if (s->UseMaster == 1 && name.compare(" ") > 0 && name != kNoSceneName)
      sceneIndex_ = ResolveScene(Cp1252ToUtf8(name));
    else
      sceneIndex_ = -1;
  } else {
    sceneIndex_ = 0;
    const std::string& preferred = options_.DefaultScene;
    if (preferred.compare(" ") > 0 && preferred != kNoSceneName) {
      const int32_t index = ResolveScene(preferred);
      if (index >= 1) sceneIndex_ = index;
    }
    s->FramePos = static_cast<int16_t>(call_.part);
  }

  // Following a scene stored by a newer version would put its record into
  // the host's: render it from the copy instead.
  if (sceneIndex_ >= 1 && !newerFormat && scenes_.Scene(sceneIndex_) &&
      IsNewerSpecsVersion(scenes_.Scene(sceneIndex_)->Specs.Version)) {
    newerFormat = scenes_.Scene(sceneIndex_)->Specs.Version;
    if (!(h = CopyOfRecord(h))) return false;
    s = reinterpret_cast<TSpecs*>(*h);
  }
  specs_ = h;
  if (newerFormat)
    notifier_.Show(Notice::NewerRecordFormat, NewerRecordFormatText(newerFormat));

  if (call_.part != s->LastPart) {
    s->FramePos = static_cast<int16_t>(call_.part);
    s->LastPart = static_cast<int16_t>(call_.part);
  }

  if (sceneIndex_ >= 1) {
    TScene* scene = scenes_.Scene(sceneIndex_);
    if (scene) {
      const int16_t useMaster = s->UseMaster;
      const int16_t framePos = s->FramePos;
      std::memcpy(s, &scene->Specs, kSpecsSize);
      s->FramePos = framePos;
      if (UpgradeSpecs(h, host_)) {
        std::memcpy(&scene->Specs, *h, kSpecsSize);
        scenesDirty_ = true;
      }
      if (useMaster == 1) s->UseMaster = 1;
    }
  } else if (sceneIndex_ == 0) {
    defaults_.PageIndex = static_cast<int16_t>(options_.DefaultPage);
    std::memcpy(s, &defaults_, kSpecsSize);
  }

  // The changed flag stays set until the input conversion has rebuilt its
  // tables from the new record. Clearing it here when the record equals the
  // previous call's would lose a change seen by a call that rendered nothing
  // (setup, or any other selector), and the next frame would use stale tables.
  if (!SpecsEqual(*s, previous_)) {
    call_.changed = true;
    std::memcpy(&previous_, s, kSpecsSize);
  }

  if (rec.PrivateData) {
    // Private data the host made itself: the protocol's 64 bytes.
    int32_t n = UsableHandleSize(host_, rec.PrivateData, 64);
    if (n > 64) n = 64;
    if (n > 0) std::memcpy(call_.privateBlock, *rec.PrivateData, static_cast<size_t>(n));
  } else {
    std::memset(call_.privateBlock, 0, sizeof call_.privateBlock);
  }
  return true;
}

namespace {

// The clip's record as it was before a call, put back when the call fails
// half-way: a failed call leaves the host's record (and the handle it holds)
// as it found them.
class RecordGuard {
 public:
  RecordGuard(HostServices& host, CallRecordHandle record) : host_(host) {
    if (!record || !*record) return;
    rec_ = *record;
    handle_ = rec_->SpecsHandle;
    if (handle_ && *handle_) {
      size_ = UsableHandleSize(host_, handle_, kSpecsSize);
      if (size_ > kSpecsSize) size_ = kSpecsSize;
      if (size_ > 0) std::memcpy(bytes_, *handle_, static_cast<size_t>(size_));
    }
  }
  void Restore() {
    if (!rec_) return;
    if (rec_->SpecsHandle != handle_) {
      // A record made by the failed call goes away again.
      if (rec_->SpecsHandle) host_.DisposeHandle(rec_->SpecsHandle);
      rec_->SpecsHandle = handle_;
    }
    if (handle_ && *handle_ && size_ > 0) std::memcpy(*handle_, bytes_, static_cast<size_t>(size_));
  }

 private:
  HostServices& host_;
  TFilterCallRecord* rec_ = nullptr;
  Handle handle_ = nullptr;
  int32_t size_ = 0;
  uint8_t bytes_[kSpecsSize] = {};
};

}  // namespace

int32_t Engine::Filter(int16_t selector, CallRecordHandle record, FrameRules frames) {
  // Nothing may leave the entry point. A failed call puts the record back as
  // it was, leaves the frame as the failed stage left it (the pipeline sizes
  // its planes before it writes) and is reported once.
  RecordGuard guard(host_, record);
  call_.frames = frames;
  Notice kind = Notice::Failure;
  std::string why;
  try {
    return FilterUnguarded(selector, record);
  } catch (const std::bad_alloc&) {
    kind = Notice::OutOfMemory;
  } catch (const std::exception& e) {
    why = e.what();
  } catch (...) {
    why = "unknown error";
  }
  guard.Restore();
  call_.changed = true;  // tables may be half-built: the next frame rebuilds them
  try {
    if (kind == Notice::OutOfMemory)
      notifier_.Show(kind, "Not enough memory for the call; the frame and the record were left as they were");
    else
      notifier_.Show(kind, "The filter failed (" + why + "); the frame and the record were left as they were");
  } catch (...) {
    // Not even the report could be made (no memory left).
  }
  return selector == kSelectorSetup ? kSetupCancel : 0;
}

int32_t Engine::FilterUnguarded(int16_t selector, CallRecordHandle record) {
  Startup();
  if (!record || !*record || !Prepare(record)) {
    // No call record, or no usable parameter record: nothing can be done.
    notifier_.Show(Notice::ProcessingError, kProcessingErrorText);
    return selector == kSelectorSetup ? kSetupCancel : 0;
  }
  TFilterCallRecord& rec = **record;
  switch (selector) {
    case kSelectorExecute:
      call_.inSetup = false;
      if (pipeline_.OpMode() != kOpFinal) notifier_.Show(Notice::ModeWarning, kModeWarningText);
      else notifier_.Clear(Notice::ModeWarning);
      pipeline_.Render(rec.Source, rec.Destination, specs_, false, call_);
      return 0;
    case kSelectorSetup:
      // The dialog edits the host's record, which this version cannot write
      // when it is of a newer format.
      if (specs_ != rec.SpecsHandle) return kSetupCancel;
      if (!setup_) {
        notifier_.Show(Notice::SetupUnavailable, kSetupUnavailableText);
        return kSetupCancel;
      }
      call_.inSetup = true;
      return setup_(*this, record);
    default:
      return 0;
  }
}

}  // namespace tarvo
