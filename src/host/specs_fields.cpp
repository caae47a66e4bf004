#include "host/specs_fields.h"

#include <array>
#include <charconv>
#include <cstring>

namespace tarvo {
namespace {

using K = FieldKind;

constexpr std::array kFields = {
    SpecsField{"Version", 0, 0, 72, K::Internal, "Record format", "", ""},
    SpecsField{"Vmin", 2, 0, 255, K::Number, "Clip floor", "", ""},
    SpecsField{"Vmax", 4, 0, 255, K::Number, "Clip ceiling", "", ""},
    SpecsField{"PageIndex", 6, 0, 7, K::Internal, "Dialog page", "", ""},
    SpecsField{"ProcMode", 8, 0, 3, K::Choice, "Chroma processing", "", "444|422|420|411"},
    SpecsField{"MonitorView", 10, 0, 2, K::Internal, "Monitor view", "", ""},
    SpecsField{"ChannelView", 12, 0, 2, K::Choice, "Channel view", "", "all|luma|chroma"},
    SpecsField{"Bypass", 14, 0, 1, K::Internal, "Dialog bypass", "", ""},
    SpecsField{"TestSignal", 16, 0, 7, K::Choice, "Test signal", "",
               "off|monitor|bars100|smpte|greyscale|sawtooth|pluge1|pluge2"},
    SpecsField{"BalanceLabels", 18, 0, 1, K::Internal, "Readout labels", "", ""},
    SpecsField{"Vblack", 20, 0, 255, K::Internal, "Black level", "", ""},
    SpecsField{"UseMaster", 22, 0, 1, K::Switch, "Follow master scene", "", ""},
    SpecsField{"Vblank", 24, 0, 255, K::Internal, "Blanking level", "", ""},
    SpecsField{"Vwhite", 26, 0, 255, K::Internal, "White level", "", ""},
    SpecsField{"FramePos", 28, -32768, 32767, K::Internal, "Dialog frame", "", ""},
    SpecsField{"LastPart", 30, -32768, 32767, K::Internal, "Last frame seen", "", ""},
    SpecsField{"Lift", 32, -100, 100, K::Number, "Lift", "", ""},
    SpecsField{"Gain", 34, 0, 800, K::Number, "Gain", "%", ""},
    SpecsField{"Gamma", 38, -100, 100, K::Number, "Gamma (negated)", "", ""},
    SpecsField{"Sat", 40, 0, 200, K::Number, "Saturation", "%", ""},
    SpecsField{"Knee", 42, 0, 100, K::Number, "Knee", "%", ""},
    SpecsField{"Slope", 44, 0, 100, K::Number, "Knee slope", "%", ""},
    SpecsField{"RLift", 64, -100, 100, K::Number, "Red lift", "", ""},
    SpecsField{"GLift", 66, -100, 100, K::Number, "Green lift", "", ""},
    SpecsField{"BLift", 68, -100, 100, K::Number, "Blue lift", "", ""},
    SpecsField{"RGain", 70, 0, 200, K::Number, "Red gain", "%", ""},
    SpecsField{"GGain", 72, 0, 200, K::Number, "Green gain", "%", ""},
    SpecsField{"BGain", 74, 0, 200, K::Number, "Blue gain", "%", ""},
    SpecsField{"RGamma", 76, -100, 100, K::Number, "Red gamma (negated)", "", ""},
    SpecsField{"GGamma", 78, -100, 100, K::Number, "Green gamma (negated)", "", ""},
    SpecsField{"BGamma", 80, -100, 100, K::Number, "Blue gamma (negated)", "", ""},
    SpecsField{"YDespeckle", 96, 0, 4, K::Number, "Luminance despeckle", "", ""},
    SpecsField{"CDespeckle", 98, 0, 4, K::Number, "Colour despeckle", "", ""},
    SpecsField{"NoiseMask", 102, 0, 4, K::Number, "Noise mask", "", ""},
    SpecsField{"NoiseMaskYOnly", 104, 0, 1, K::Switch, "Noise mask on luminance only", "", ""},
    SpecsField{"NoiseShowMask", 106, 0, 1, K::Switch, "Show noise mask", "", ""},
    SpecsField{"NoiseSmooth", 108, -100, 100, K::Number, "Noise mask offset", "", ""},
    SpecsField{"MaskRadius", 110, 1, 3, K::Number, "Mask aperture", "", ""},
    SpecsField{"MedianLimit", 114, 0, 100, K::Number, "Median limit", "", ""},
    SpecsField{"MedianThreshold", 116, 0, 100, K::Number, "Median threshold", "", ""},
    SpecsField{"MedianWhen", 118, 0, 3, K::Bits, "Median before (1) / after (2)", "", ""},
    SpecsField{"MedianWeighted", 120, 0, 1, K::Switch, "Weighted median", "", ""},
    SpecsField{"YSharpness", 128, -100, 100, K::Number, "Luminance sharpness", "", ""},
    SpecsField{"CSharpness", 130, -100, 100, K::Number, "Colour sharpness", "", ""},
    SpecsField{"SharpShowEdges", 132, 0, 1, K::Switch, "Show edges", "", ""},
    SpecsField{"SharpMask", 134, 0, 4, K::Number, "Sharpening mask", "", ""},
    SpecsField{"SharpShowMask", 138, 0, 1, K::Switch, "Show sharpening mask", "", ""},
    SpecsField{"SharpSmooth", 140, -100, 100, K::Number, "Sharpening mask offset", "", ""},
    SpecsField{"SharpRadius", 142, 1, 3, K::Number, "Sharpening aperture", "", ""},
    SpecsField{"LevelDepend", 144, 0, 100, K::Number, "Level dependence", "%", ""},
    SpecsField{"TempYThreshold", 160, 0, 100, K::Number, "Temporal luminance threshold", "", ""},
    SpecsField{"TempRecursion", 162, 0, 100, K::Number, "Temporal recursion", "", ""},
    SpecsField{"TempOnset", 164, 0, 100, K::Number, "Motion onset", "", ""},
    SpecsField{"TempLimit", 166, 0, 100, K::Number, "Motion limit", "", ""},
    SpecsField{"TempResponse", 168, 0, 100, K::Number, "Motion response", "", ""},
    SpecsField{"TempFlags", 170, 0, 3, K::Bits, "Motion detection (1) / smoothing (2)", "", ""},
    SpecsField{"TempCThreshold", 172, 0, 100, K::Number, "Temporal colour threshold", "", ""},
};

bool ParseInt(std::string_view text, long& out) {
  if (text.empty()) return false;
  const char* b = text.data();
  const char* e = b + text.size();
  if (*b == '+') ++b;
  auto r = std::from_chars(b, e, out);
  return r.ec == std::errc() && r.ptr == e;
}

}  // namespace

std::span<const SpecsField> SpecsFields() { return kFields; }

const SpecsField* FindSpecsField(std::string_view name) {
  for (const auto& f : kFields)
    if (f.name == name) return &f;
  return nullptr;
}

int16_t GetField(const TSpecs& s, const SpecsField& f) {
  int16_t v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&s) + f.offset, 2);
  return v;
}

void SetField(TSpecs& s, const SpecsField& f, int16_t value) {
  std::memcpy(reinterpret_cast<uint8_t*>(&s) + f.offset, &value, 2);
}

bool ApplyFieldAssignment(TSpecs& s, std::string_view assignment, std::string* error) {
  const size_t eq = assignment.find('=');
  if (eq == std::string_view::npos || eq == 0) {
    if (error) *error = "expected FIELD=VALUE, got '" + std::string(assignment) + "'";
    return false;
  }
  const std::string_view name = assignment.substr(0, eq);
  const std::string_view text = assignment.substr(eq + 1);
  if (name == "SceneName") {
    if (text.size() > 31) {
      if (error) *error = "SceneName holds at most 31 characters";
      return false;
    }
    SetSceneName(s, std::string(text));
    return true;
  }
  const SpecsField* f = FindSpecsField(name);
  if (!f) {
    if (error) *error = "unknown record field '" + std::string(name) + "'";
    return false;
  }
  long value = 0;
  bool ok = false;
  // Choice names first: "420" names 4:2:0, not the number 420.
  if (f->kind == FieldKind::Choice) {
    std::string_view rest = f->choices;
    for (long i = 0; !rest.empty() && !ok; ++i) {
      const size_t bar = rest.find('|');
      if (rest.substr(0, bar) == text) {
        value = i;
        ok = true;
      }
      rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    }
  }
  if (!ok) ok = ParseInt(text, value);
  if (!ok) {
    if (error) *error = "'" + std::string(text) + "' is not a valid value for " + std::string(name);
    return false;
  }
  if (value < f->min || value > f->max) {
    if (error)
      *error = std::string(name) + " must be between " + std::to_string(f->min) + " and " +
               std::to_string(f->max) + ", got " + std::to_string(value);
    return false;
  }
  SetField(s, *f, static_cast<int16_t>(value));
  return true;
}

}  // namespace tarvo
