// The frei0r entry points of tarvo.so. Everything else in the library is
// hidden (see exports.map).
// The header declares the entry points without C linkage.
extern "C" {
#include <frei0r.h>
}

#include <atomic>
#include <cstdio>

#include "host_instance.h"
#include "types/frame_view.h"
#include "params.h"

using tarvo::frei0r::HostInstance;
using tarvo::frei0r::ParamType;

#define TARVO_F0R_EXPORT __attribute__((visibility("default")))

namespace {

// No exception may leave an entry point: the host is C and would be torn
// down. What an instance can report it reports itself; what is left (out of
// memory outside any instance) is said once per kind, without allocating.
void ReportOnce(std::atomic<bool>& said, const char* text) noexcept {
  if (!said.exchange(true)) std::fprintf(stderr, "tarvo: %s\n", text);
}

std::atomic<bool> g_saidInfo{false}, g_saidConstruct{false}, g_saidParam{false}, g_saidUpdate{false},
    g_saidSize{false};

}  // namespace

extern "C" {

TARVO_F0R_EXPORT int f0r_init() { return 1; }

TARVO_F0R_EXPORT void f0r_deinit() {}

TARVO_F0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (!info) return;
  info->name = "Tarvo";
  info->author = "The Tarvo developers";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_BGRA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 0;
  info->minor_version = 1;
  info->explanation =
      "Video clean-up and colour correction: levels, colour balance, median, despeckle, temporal smoothing "
      "with motion detection, masks and sharpening";
  try {
    // The listed parameters and, last, the hidden one MLT fills with its
    // filter's number (see HostInstance).
    info->num_params = tarvo::frei0r::ParamCount() + 1;
  } catch (...) {
    // The parameter list could not be built (out of memory): none offered.
    info->num_params = 0;
    ReportOnce(g_saidInfo, "out of memory while listing the parameters");
  }
}

TARVO_F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
  try {
    const auto& params = tarvo::frei0r::Params();
    if (info && index == HostInstance::IdParam()) {
      info->name = HostInstance::kIdName;
      info->explanation = "Set by MLT: the number of the filter the instance belongs to; leave unset";
      info->type = F0R_PARAM_DOUBLE;
      return;
    }
    if (!info || index < 0 || index >= static_cast<int>(params.size())) return;
    const auto& p = params[index];
    info->name = p.name.c_str();
    info->explanation = p.explanation.c_str();
    info->type = p.type == ParamType::Bool     ? F0R_PARAM_BOOL
                 : p.type == ParamType::String ? F0R_PARAM_STRING
                                               : F0R_PARAM_DOUBLE;
  } catch (...) {
    ReportOnce(g_saidInfo, "out of memory while listing the parameters");
  }
}

TARVO_F0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  // A size the engine cannot take is refused here, where the host can still
  // report that the filter could not be made, rather than frame by frame
  // where frei0r has no way to report anything.
  // Some hosts try again with every frame: said once.
  if (width == 0 || height == 0 || width > static_cast<unsigned>(tarvo::kMaxOwnFrameWidth) ||
      height > static_cast<unsigned>(tarvo::kMaxOwnFrameHeight)) {
    if (!g_saidSize.exchange(true))
      std::fprintf(stderr,
                   "tarvo: frames of %ux%u cannot be processed (at most %d pixels wide and %d rows high); the filter "
                   "is not made\n",
                   width, height, static_cast<int>(tarvo::kMaxOwnFrameWidth),
                   static_cast<int>(tarvo::kMaxOwnFrameHeight));
    return nullptr;
  }
  try {
    return new HostInstance(width, height);
  } catch (...) {
    // The host reports that the filter could not be made.
    ReportOnce(g_saidConstruct, "the filter could not be set up (out of memory)");
    return nullptr;
  }
}

TARVO_F0R_EXPORT void f0r_destruct(f0r_instance_t instance) { delete static_cast<HostInstance*>(instance); }

// The instance keeps a parameter as it was when setting it fails, and passes
// a frame through unchanged when it cannot be processed; it reports what it
// can. These handlers only keep anything left from reaching the host.
TARVO_F0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  try {
    if (instance) static_cast<HostInstance*>(instance)->SetParam(param, index);
  } catch (...) {
    ReportOnce(g_saidParam, "a parameter could not be set (out of memory); it keeps its value");
  }
}

TARVO_F0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  try {
    if (instance) static_cast<HostInstance*>(instance)->GetParam(param, index);
  } catch (...) {
    ReportOnce(g_saidParam, "a parameter could not be read (out of memory)");
  }
}

TARVO_F0R_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
  try {
    if (instance) static_cast<HostInstance*>(instance)->Update(time, inframe, outframe);
  } catch (...) {
    ReportOnce(g_saidUpdate, "a frame could not be processed (out of memory)");
  }
}

}  // extern "C"
