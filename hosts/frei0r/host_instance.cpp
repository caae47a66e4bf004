#include "host_instance.h"

#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

#include "params.h"

namespace tarvo::frei0r {

struct HostInstance::Group {
  explicit Group(std::unique_ptr<Instance> first, FrameOrder::Bounds bounds)
      : instance(std::move(first)), order(bounds) {}
  std::unique_ptr<Instance> instance;
  FrameOrder order;
};

namespace {

// The groups alive, by the host's filter number and the frame size.
using GroupKey = std::tuple<double, unsigned, unsigned>;
std::mutex g_groupsMutex;
std::map<GroupKey, std::weak_ptr<HostInstance::Group>>& Groups() {
  static auto* groups = new std::map<GroupKey, std::weak_ptr<HostInstance::Group>>();
  return *groups;
}
FrameOrder::Bounds g_bounds;

}  // namespace

int HostInstance::IdParam() { return static_cast<int>(ParamCount()); }

void HostInstance::SetBoundsForTests(FrameOrder::Bounds bounds) {
  std::lock_guard lock(g_groupsMutex);
  g_bounds = bounds;
}

HostInstance::HostInstance(unsigned width, unsigned height)
    : width_(width), height_(height), own_(std::make_unique<Instance>(width, height)), id_(NAN) {}

HostInstance::~HostInstance() {
  if (shared_) shared_->order.Leave(this);
}

Instance& HostInstance::Target() {
  std::lock_guard lock(mutex_);
  return shared_ ? *shared_->instance : *own_;
}

void HostInstance::SetParam(const void* param, int index) {
  if (!param) return;
  std::lock_guard lock(mutex_);
  if (index == IdParam()) {
    // The filter's number; it never changes for one MLT filter.
    const double id = *static_cast<const double*>(param);
    if (!shared_ && std::isfinite(id)) {
      id_ = id;
      idThread_ = std::this_thread::get_id();
    }
    return;
  }
  const auto& params = Params();
  if (index < 0 || index >= static_cast<int>(params.size())) return;
  Setting s{index, false, 0, {}};
  if (params[static_cast<size_t>(index)].type == ParamType::String) {
    const char* text = *static_cast<const char* const*>(param);
    s.isNull = !text;
    if (text) s.text = text;
  } else {
    s.number = *static_cast<const double*>(param);
  }
  // One entry per parameter: the host's latest value for this frame.
  bool replaced = false;
  for (Setting& old : settings_)
    if (old.index == index) {
      old = std::move(s);
      replaced = true;
      break;
    }
  if (!replaced) settings_.push_back(std::move(s));
  // Alone, the instance takes the value at once, as it always did.
  if (!shared_) own_->SetParam(param, index);
}

void HostInstance::GetParam(void* param, int index) {
  if (!param) return;
  std::lock_guard lock(mutex_);
  if (index == IdParam()) {
    *static_cast<double*>(param) = std::isfinite(id_) ? id_ : 0.0;
    return;
  }
  (shared_ ? *shared_->instance : *own_).GetParam(param, index);
}

void HostInstance::Join() {
  std::lock_guard lock(g_groupsMutex);
  auto& groups = Groups();
  // Forget the groups whose filters are gone.
  for (auto it = groups.begin(); it != groups.end();)
    it = it->second.expired() ? groups.erase(it) : std::next(it);
  const GroupKey key{id_, width_, height_};
  auto found = groups.find(key);
  if (found != groups.end()) {
    shared_ = found->second.lock();
    own_.reset();  // the group's instance serves this one too
    return;
  }
  // The first of its filter: its instance becomes the shared one (the
  // parameters of this frame are already in it).
  shared_ = std::make_shared<Group>(std::move(own_), g_bounds);
  groups.emplace(key, shared_);
}

void HostInstance::Update(double time, const uint32_t* in, uint32_t* out) {
  std::lock_guard lock(mutex_);
  const bool onIdThread = std::this_thread::get_id() == idThread_;
  if (!shared_ && std::isfinite(id_) && onIdThread) Join();
  if (!shared_) {
    own_->Update(time, in, out);
    settings_.clear();
    return;
  }
  if (!onIdThread) {
    // A strip from a slice thread: rendered at once, without waiting.
    shared_->instance->Update(time, in, out);
    return;
  }
  FrameOrder& order = shared_->order;
  order.Enter(this, time);
  // The turn passes on however the frame ends.
  struct Turn {
    FrameOrder& order;
    double time;
    ~Turn() { order.Exit(time); }
  } turn{order, time};
  Instance& instance = *shared_->instance;
  // This frame's parameters, as the host set them for it.
  for (const Setting& s : settings_) {
    if (Params()[static_cast<size_t>(s.index)].type == ParamType::String) {
      const char* text = s.isNull ? nullptr : s.text.c_str();
      instance.SetParam(&text, s.index);
    } else {
      instance.SetParam(&s.number, s.index);
    }
  }
  settings_.clear();
  instance.Update(time, in, out);
}

}  // namespace tarvo::frei0r
