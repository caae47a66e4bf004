// What a frei0r host holds as an instance (f0r_instance_t): a clip's
// Instance, either its own or one shared by the instances an MLT filter makes
// for its render threads.
//
// MLT gives each render thread its own frei0r instance of a filter, and
// frei0r has no notion of "the same filter" across instances. But MLT sets
// every frei0r parameter from the filter's property of that name, and every
// MLT filter carries a process-wide unique number in its `_unique_id`
// property; so a last, hidden parameter of that name tells the instances of
// one filter apart from those of another. Instances with the same number (and
// frame size) share one Instance, and FrameOrder makes them take turns in
// frame order; each brings the parameters the host set for its frame, which
// are applied just before that frame, as a single instance would have seen
// them. Hosts that do not set the number (FFmpeg, GStreamer, MLT's other
// callers) get an instance of their own, as before.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_order.h"
#include "instance.h"

namespace tarvo::frei0r {

class HostInstance {
 public:
  // The hidden parameter's index (after every listed parameter) and name.
  static int IdParam();
  static constexpr const char* kIdName = "_unique_id";

  HostInstance(unsigned width, unsigned height);
  ~HostInstance();
  HostInstance(const HostInstance&) = delete;
  HostInstance& operator=(const HostInstance&) = delete;

  void SetParam(const void* param, int index);
  void GetParam(void* param, int index);
  void Update(double time, const uint32_t* in, uint32_t* out);

  // Test access: the Instance frames go to (shared or own).
  Instance& Target();
  bool Shared() const { return shared_ != nullptr; }

  // The order of frames for instances that share; tests shorten its bounds.
  static void SetBoundsForTests(FrameOrder::Bounds bounds);

  struct Group;  // one filter's shared Instance and frame order

 private:
  void Join();

  // Slice threads may render strips of one frame through one instance at
  // once; its own state is kept under this lock.
  std::mutex mutex_;
  const unsigned width_, height_;
  std::unique_ptr<Instance> own_;
  std::shared_ptr<Group> shared_;
  double id_;  // NaN until the host sets it
  // The thread that set the number. MLT renders a frame on the thread that
  // sets the parameters, except when it cuts the frame into strips for slice
  // threads (the filter's "threads" property): those strips are rendered
  // apart, as before, without waiting for other frames (the waiting thread
  // would hold MLT's lock on the filter, which the thread bringing the frame
  // before it needs).
  std::thread::id idThread_;
  // The parameters set since the last frame, in the order set; replayed into
  // the shared Instance when the frame's turn comes.
  struct Setting {
    int index;
    bool isNull;  // a string parameter set to a null pointer
    double number;
    std::string text;
  };
  std::vector<Setting> settings_;
};

}  // namespace tarvo::frei0r
