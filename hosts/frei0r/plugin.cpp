// The frei0r entry points of tarvo.so. Everything else in the library is
// hidden (see exports.map).
// The header declares the entry points without C linkage.
extern "C" {
#include <frei0r.h>
}

#include <exception>

#include "instance.h"
#include "params.h"

using tarvo::frei0r::Instance;
using tarvo::frei0r::ParamType;

#define TARVO_F0R_EXPORT __attribute__((visibility("default")))

extern "C" {

TARVO_F0R_EXPORT int f0r_init() { return 1; }

TARVO_F0R_EXPORT void f0r_deinit() {}

TARVO_F0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = "Tarvo";
  info->author = "The Tarvo developers";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_BGRA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 0;
  info->minor_version = 1;
  info->num_params = tarvo::frei0r::ParamCount();
  info->explanation =
      "Video clean-up and colour correction: levels, colour balance, median, despeckle, temporal smoothing "
      "with motion detection, masks and sharpening";
}

TARVO_F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
  const auto& params = tarvo::frei0r::Params();
  if (!info || index < 0 || index >= static_cast<int>(params.size())) return;
  const auto& p = params[index];
  info->name = p.name.c_str();
  info->explanation = p.explanation.c_str();
  info->type = p.type == ParamType::Bool     ? F0R_PARAM_BOOL
               : p.type == ParamType::String ? F0R_PARAM_STRING
                                             : F0R_PARAM_DOUBLE;
}

TARVO_F0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  try {
    return new Instance(width, height);
  } catch (const std::exception&) {
    return nullptr;  // out of memory: the host reports that the filter failed
  }
}

TARVO_F0R_EXPORT void f0r_destruct(f0r_instance_t instance) { delete static_cast<Instance*>(instance); }

TARVO_F0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  if (instance) static_cast<Instance*>(instance)->SetParam(param, index);
}

TARVO_F0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  if (instance) static_cast<Instance*>(instance)->GetParam(param, index);
}

TARVO_F0R_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
  if (instance) static_cast<Instance*>(instance)->Update(time, inframe, outframe);
}

}  // extern "C"
