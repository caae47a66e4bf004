#include "instance.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/process_engine.h"
#include "platform/host_services.h"
#include "scenes/cp1252.h"
#include "util/specs_file.h"

namespace tarvo::frei0r {
namespace {

// Serial numbers that make each instance's private data distinct, so that two
// clips never look like one run even to an engine that compared them.
std::atomic<uint64_t> g_nextSerial{1};

}  // namespace

Instance::Instance(unsigned width, unsigned height)
    : width_(static_cast<int32_t>(width)), height_(static_cast<int32_t>(height)),
      clip_(&Instance::CallEngine, this) {
  // Each instance has its own engine on the user's options file (planes,
  // history, run detection, scene list), so instances never share state.
  engine_ = MakePlatformEngine();
  // Everything the engine reports (processing errors, the mode warning, the
  // scene file) comes out as this instance's messages, each once.
  engine_->GetNotifier().SetHandler([this](Notice, const std::string& text) {
    std::string line = text;
    for (char& c : line)
      if (c == '\r' || c == '\n') c = ' ';
    Report(line);
  });
  engine_->Startup();
  // The configured default record (processing mode, clip levels), so that
  // the parameters start from what a new clip would get. Should anything
  // below throw, clip_ releases the handles as the constructor unwinds.
  clip_.SetRecord(engine_->DefaultSpecs());
  uint8_t privateData[64] = {};
  const uint64_t serial = g_nextSerial.fetch_add(1);
  std::memcpy(privateData, "f0r", 3);
  std::memcpy(privateData + 3, &serial, sizeof serial);
  clip_.SetPrivateData(privateData, sizeof privateData);
  const auto& params = Params();
  lastSet_.assign(params.size(), NAN);
  for (size_t i = 0; i < params.size(); ++i)
    if (params[i].field && clip_.HasRecord())
      lastSet_[i] = ToParamValue(*params[i].field, GetField(Specs(), *params[i].field));

  const size_t pixels = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  source_.resize(pixels);
  cached_.resize(pixels);
  sourceSlot_.Describe(reinterpret_cast<uint8_t*>(source_.data()), width_, height_);
  destinationSlot_.Describe(nullptr, width_, height_);
  clip_.SetFrames(sourceSlot_.handle(), destinationSlot_.handle());
  clip_.SetTotal(FrameClock::kTotal);
}

Instance::~Instance() {
  // The engine goes first; the clip's handles (whatever record handle the
  // engine left in the call record) go with clip_.
  engine_.reset();
}

int32_t Instance::CallEngine(void* self, int16_t selector, CallRecordHandle record) {
  // The frames are ours, described with their full row stride: frames wider
  // than a video host's descriptor can describe are processed as any other.
  return static_cast<Instance*>(self)->engine_->Filter(selector, record, FrameRules::kOwnHosts);
}

void Instance::Report(const std::string& message) noexcept {
  // Each distinct message once per instance: hosts set parameters every frame.
  uint64_t print = 1469598103934665603ull;
  for (unsigned char c : message) {
    print ^= c;
    print *= 1099511628211ull;
  }
  if (std::find(reported_.begin(), reported_.end(), print) != reported_.end()) return;
  try {
    if (reported_.size() >= kRememberedMessages) reported_.pop_front();
    reported_.push_back(print);
  } catch (...) {
    // No memory to remember it by: said now, perhaps again later.
  }
  std::fprintf(stderr, "tarvo: %s\n", message.c_str());
}

TSpecs Instance::Record() {
  std::lock_guard lock(mutex_);
  return clip_.Record().value_or(TSpecs{});
}

int Instance::FilterThreads() {
  std::lock_guard lock(mutex_);
  return engine_->GetPipeline().Threads();
}

void Instance::LoadRecord(const std::string& path) {
  if (path.empty()) return;  // clearing the path keeps the current settings
  TSpecs loaded;
  std::string error;
  if (!ReadSpecsFile(path, loaded, &error)) {
    Report("record \"" + path + "\" not loaded: " + error);
    return;
  }
  Specs() = loaded;
  sceneName_.clear();
}

void Instance::FollowScene(const std::string& name) {
  TSpecs& s = Specs();
  if (name.empty()) {
    s.UseMaster = 0;
    return;
  }
  // Scene names are stored as Windows-1252 in the record, at most
  // kSceneNameMax bytes.
  std::string stored, error;
  if (!Utf8ToCp1252(name, stored, &error)) {
    Report("scene name \"" + name + "\" cannot be stored: " + error + "; not followed");
    return;
  }
  if (stored.size() > kSceneNameMax) {
    Report("scene name \"" + name + "\" is longer than " + std::to_string(kSceneNameMax) +
           " characters; not followed");
    return;
  }
  // The engine copies the named scene over the record on every call while
  // UseMaster is 1, as for a clip that follows a master scene.
  SetSceneName(s, stored);
  s.UseMaster = 1;
}

void Instance::SetFieldOrder(const std::string& text) {
  FieldOrder order;
  if (!ParseFieldOrder(text, order)) {
    Report("field order \"" + text + "\" is not progressive, tff or bff; the clip keeps its field order");
    return;
  }
  clip_.SetFieldFlags(FieldFlagsOf(order));
}

void Instance::SetParam(const void* param, int index) {
  const auto& params = Params();
  if (!param || index < 0 || index >= static_cast<int>(params.size()) || !clip_.HasRecord()) return;
  std::lock_guard lock(mutex_);
  // A change that fails half way (out of memory) is undone: the parameter
  // and the record stay as they were.
  TSpecs savedSpecs;
  std::memcpy(&savedSpecs, &Specs(), kSpecsSize);
  std::string savedRecordPath = recordPath_, savedSceneName = sceneName_, savedFieldOrder = fieldOrderText_;
  const double savedLastSet = lastSet_[static_cast<size_t>(index)];
  const uint64_t savedGeneration = generation_;
  try {
    SetParamLocked(params[static_cast<size_t>(index)], param, index);
  } catch (...) {
    std::memcpy(&Specs(), &savedSpecs, kSpecsSize);
    recordPath_.swap(savedRecordPath);
    sceneName_.swap(savedSceneName);
    fieldOrderText_.swap(savedFieldOrder);
    lastSet_[static_cast<size_t>(index)] = savedLastSet;
    generation_ = savedGeneration;
    Report("parameter " + params[static_cast<size_t>(index)].name + " could not be set (out of memory); unchanged");
  }
}

void Instance::SetParamLocked(const Param& p, const void* param, int index) {
  if (p.type == ParamType::String) {
    const char* text = *static_cast<const char* const*>(param);
    const std::string value = text ? text : "";
    std::string& current = index == kRecordParam ? recordPath_ : index == kSceneParam ? sceneName_ : fieldOrderText_;
    if (value == current) return;
    current = value;
    if (index == kRecordParam)
      LoadRecord(value);
    else if (index == kSceneParam)
      FollowScene(value);
    else
      SetFieldOrder(value);
    ++generation_;
    return;
  }
  const double v = *static_cast<const double*>(param);
  if (v == lastSet_[index] || std::isnan(v)) return;
  lastSet_[index] = v;
  int16_t fieldValue;
  if (!FromParamValue(*p.field, v, fieldValue)) return;
  TSpecs& s = Specs();
  if (GetField(s, *p.field) == fieldValue) return;
  SetField(s, *p.field, fieldValue);
  // A setting changed by hand no longer follows the scene (UseMaster itself
  // is the exception: it is the link).
  if (p.field->offset != offsetof(TSpecs, UseMaster)) s.UseMaster = 0;
  ++generation_;
}

void Instance::GetParam(void* param, int index) {
  const auto& params = Params();
  if (!param || index < 0 || index >= static_cast<int>(params.size())) return;
  std::lock_guard lock(mutex_);
  const Param& p = params[index];
  if (p.type == ParamType::String) {
    // Valid until the parameter is set again.
    const std::string& text = index == kRecordParam ? recordPath_ : index == kSceneParam ? sceneName_ : fieldOrderText_;
    *static_cast<const char**>(param) = text.c_str();
    return;
  }
  *static_cast<double*>(param) = clip_.HasRecord() ? ToParamValue(*p.field, GetField(Specs(), *p.field)) : 0.0;
}

void Instance::PassThrough(const uint32_t* in, uint32_t* out) {
  if (in != out) std::memcpy(out, in, source_.size() * sizeof(uint32_t));
}

void Instance::Update(double time, const uint32_t* in, uint32_t* out) {
  if (!in || !out || source_.empty()) return;
  std::lock_guard lock(mutex_);
  struct Remember {
    Instance& self;
    double time;
    const uint32_t* in;
    uint32_t* out;
    ~Remember() {
      self.lastTime_ = time;
      self.lastIn_ = in;
      self.lastOut_ = out;
    }
  } remember{*this, time, in, out};
  if (strips_.active || IsFurtherStrip(time, in, out)) {
    UpdateStrip(time, in, out);
    return;
  }
  bool sourceHoldsInput = false;
  try {
    UpdateLocked(time, in, out, sourceHoldsInput);
  } catch (...) {
    // A frame that cannot be processed goes out as it came in. When the host
    // renders in place, the copy taken before rendering is the input (unless
    // a test pattern was drawn into it, which is then what goes out).
    const size_t bytes = source_.size() * sizeof(uint32_t);
    if (in != out) std::memcpy(out, in, bytes);
    else if (sourceHoldsInput) std::memcpy(out, source_.data(), bytes);
    haveCache_ = false;
    Report("a frame could not be processed (out of memory); passed through unchanged");
  }
}

namespace {

intptr_t Address(const void* p) { return static_cast<intptr_t>(reinterpret_cast<uintptr_t>(p)); }

// More strips than any host cuts a frame into; a larger distance between two
// calls is not taken for strips of one frame.
constexpr intptr_t kMaxStrips = 256;

}  // namespace

bool Instance::IsFurtherStrip(double time, const uint32_t* in, const uint32_t* out) const {
  // MLT cuts a frame into strips of the height the instance was made with and
  // calls once per strip, with the frame's time, the strips lying one after
  // another in one input and one output buffer. So a further strip of the
  // previous call's frame has the same time, and its input and output lie the
  // same whole number of strips away from the previous call's. Frames the
  // host allocated one by one are never laid out like that (the allocator
  // puts its own bookkeeping between two blocks).
  if (!lastIn_ || in == out || lastIn_ == lastOut_ || !FrameClock::Usable(time) || time != lastTime_) return false;
  const intptr_t strip = static_cast<intptr_t>(source_.size() * sizeof(uint32_t));
  const intptr_t d = Address(in) - Address(lastIn_);
  return d != 0 && d % strip == 0 && d / strip < kMaxStrips && -d / strip < kMaxStrips &&
         Address(out) - Address(lastOut_) == d;
}

void Instance::UpdateStrip(double time, const uint32_t* in, uint32_t* out) {
  // The strips of a frame are put together and rendered as the one frame they
  // are, so every pixel sees its real neighbours and the temporal run goes on
  // from frame to frame. The host's frame buffers hold the whole frame before
  // the first strip is called and are read only after the last strip
  // returns, so the last strip can render them all; the others leave their
  // own rows as they came (should the last never come, the host gets the
  // picture unprocessed rather than stale memory).
  //
  // How many strips make a frame is learnt from the first frame: until then
  // each strip renders every strip of its frame seen so far, as a new run,
  // and the last one's render is the frame's. From then on only the last
  // strip renders, continuing the run.
  const size_t stripPixels = source_.size();
  const intptr_t outOffset = Address(out) - Address(in);
  Strips& s = strips_;
  if (!s.active) {
    // The previous call was this frame's first strip, rendered on its own.
    s.active = true;
    s.started = true;
    s.time = time;
    s.low = lastIn_;
    s.high = lastIn_ + stripPixels;
    s.outOffset = Address(lastOut_) - Address(lastIn_);
    s.count = 1;
    s.perFrame = 0;
  }
  auto whole = [&] { return static_cast<size_t>(s.high - s.low) == static_cast<size_t>(s.count) * stripPixels; };
  // A strip of the frame being put together: its time, output offset and
  // place (a whole number of strips from the others, not too far) fit.
  const intptr_t stripBytes = static_cast<intptr_t>(stripPixels * sizeof(uint32_t));
  const intptr_t low = std::min(Address(in), Address(s.low));
  const intptr_t high = std::max(Address(in) + stripBytes, Address(s.high));
  const bool sameFrame = s.started && time == s.time && outOffset == s.outOffset &&
                         (s.perFrame == 0 || s.count < s.perFrame) &&
                         (Address(in) - Address(s.low)) % stripBytes == 0 && high - low <= kMaxStrips * stripBytes;
  if (sameFrame) {
    s.low = std::min(s.low, in);
    s.high = std::max(s.high, in + stripPixels);
    ++s.count;
  } else {
    // A new frame (or the same frame again, as a paused editor renders it):
    // the strips of the one before, when they made a whole frame, say how
    // many a frame has.
    if (s.started && whole()) s.perFrame = s.count;
    s.started = true;
    s.time = time;
    s.low = in;
    s.high = in + stripPixels;
    s.outOffset = outOffset;
    s.count = 1;
  }
  haveCache_ = false;
  if (in != out) std::memcpy(out, in, stripPixels * sizeof(uint32_t));
  if (!whole() || (s.perFrame > 0 && s.count < s.perFrame)) return;
  if (width_ > kMaxFrameWidth || !clip_.HasRecord() || !clip_.PrivateData()) {
    Report(width_ > kMaxFrameWidth ? "frames wider than " + std::to_string(kMaxFrameWidth) + " pixels (" +
                                         std::to_string(width_) + ") cannot be processed; passing them through unchanged"
                                   : std::string("out of memory; passing frames through unchanged"));
    return;
  }

  const int32_t rows = static_cast<int32_t>(static_cast<size_t>(s.high - s.low) / static_cast<size_t>(width_));
  uint32_t* frameOut = reinterpret_cast<uint32_t*>(Address(s.low) + s.outOffset);
  if (rows > kMaxFrameHeight) {
    Report("frames cut into strips more than " + std::to_string(kMaxFrameHeight) +
           " rows high cannot be processed; passing them through unchanged");
    return;
  }
  const int32_t part = s.perFrame > 0 ? clock_.Next(time).part : clock_.Restart().part;
  try {
    RenderRows(s.low, frameOut, rows, part);
  } catch (...) {
    // The engine may have written part of the output: the input goes out
    // (when there was no room for its copy, every strip has already put its
    // own input rows out).
    const size_t pixels = static_cast<size_t>(rows) * static_cast<size_t>(width_);
    if (frameSource_.size() >= pixels) std::memcpy(frameOut, frameSource_.data(), pixels * sizeof(uint32_t));
    Report("a frame could not be processed (out of memory); passed through unchanged");
  }
}

void Instance::RenderRows(const uint32_t* in, uint32_t* out, int32_t rows, int32_t part) {
  const size_t pixels = static_cast<size_t>(width_) * static_cast<size_t>(rows);
  if (frameSource_.size() < pixels) frameSource_.resize(pixels);
  std::memcpy(frameSource_.data(), in, pixels * sizeof(uint32_t));
  if (out != in) std::memcpy(out, in, pixels * sizeof(uint32_t));
  frameSourceSlot_.Describe(reinterpret_cast<uint8_t*>(frameSource_.data()), width_, rows);
  frameDestinationSlot_.Describe(reinterpret_cast<uint8_t*>(out), width_, rows);
  struct Restore {
    Instance& self;
    ~Restore() { self.clip_.SetFrames(self.sourceSlot_.handle(), self.destinationSlot_.handle()); }
  } restore{*this};
  clip_.SetFrames(frameSourceSlot_.handle(), frameDestinationSlot_.handle());
  clip_.SetTotal(FrameClock::kTotal);
  clip_.Execute(part);
  ++renders_;
  if (Specs().UseMaster == 1 && engine_->SceneIndex() < 0)
    Report("scene \"" + Cp1252ToUtf8(SceneNameOf(Specs())) + "\" is not in the scene file " +
           engine_->Scenes().FileName() + "; the clip keeps its own settings");
}

void Instance::UpdateLocked(double time, const uint32_t* in, uint32_t* out, bool& sourceHoldsInput) {
  if (width_ > kMaxOwnFrameWidth || height_ > kMaxOwnFrameHeight || !clip_.HasRecord() || !clip_.PrivateData()) {
    if (width_ > kMaxOwnFrameWidth || height_ > kMaxOwnFrameHeight)
      Report("frames of " + std::to_string(width_) + "x" + std::to_string(height_) +
             " cannot be processed (at most " + std::to_string(kMaxOwnFrameWidth) + " pixels wide and " +
             std::to_string(kMaxOwnFrameHeight) + " rows high); passing them through unchanged");
    else
      Report("out of memory; passing frames through unchanged");
    PassThrough(in, out);
    return;
  }
  const size_t bytes = source_.size() * sizeof(uint32_t);
  // The same time again with the same picture and settings (an editor
  // re-rendering while paused): the cached result, history untouched.
  if (haveCache_ && cachedGeneration_ == generation_ && clock_.IsRepeat(time) &&
      std::memcmp(in, source_.data(), bytes) == 0) {
    std::memcpy(out, cached_.data(), bytes);
    return;
  }
  // The engine may draw test patterns into its source, and the host's input
  // may be its output buffer: work on a copy.
  std::memcpy(source_.data(), in, bytes);
  sourceHoldsInput = true;
  // Should the engine skip the frame (out of memory), the host still gets the
  // picture rather than stale memory.
  if (in != out) std::memcpy(out, in, bytes);
  const FrameClock::Tick tick = clock_.Next(time);
  clip_.SetTotal(FrameClock::kTotal);
  destinationSlot_.SetPixels(reinterpret_cast<uint8_t*>(out));
  // Should the engine throw, Update passes the input through: the engine
  // may have written part of the output already.
  clip_.Execute(tick.part);
  ++renders_;
  if (Specs().UseMaster == 1 && engine_->SceneIndex() < 0)
    Report("scene \"" + Cp1252ToUtf8(SceneNameOf(Specs())) + "\" is not in the scene file " +
           engine_->Scenes().FileName() + "; the clip keeps its own settings");
  std::memcpy(cached_.data(), out, bytes);
  cachedGeneration_ = generation_;
  haveCache_ = true;
  // A test pattern is drawn into the engine's source; put the host's picture
  // back for the repeat check (when `in` was the output buffer it is gone, and
  // the next repeat simply renders again).
  if (Specs().TestSignal > 1 && in != out) std::memcpy(source_.data(), in, bytes);
}

}  // namespace tarvo::frei0r
