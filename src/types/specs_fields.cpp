#include "types/specs_fields.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstring>

namespace tarvo {
namespace {

using K = FieldKind;

constexpr std::string_view kProcModes[] = {"444", "422", "420", "411"};
constexpr std::string_view kChannelViews[] = {"all", "luma", "chroma"};
constexpr std::string_view kTestSignals[] = {"off", "monitor", "bars100", "smpte", "greyscale", "sawtooth", "pluge1", "pluge2"};

// A row names its field once: the name and the offset both come from the
// record's member.
#define TARVO_FIELD(member, lo, hi, def, kind, title, unit, choices) \
  SpecsField { #member, offsetof(TSpecs, member), lo, hi, def, kind, title, unit, choices }

constexpr std::array kFields = {
    TARVO_FIELD(Version, 0, 72, kSpecsVersion, K::Internal, "Record format", "", {}),
    TARVO_FIELD(Vmin, 0, 255, 0, K::Number, "Clip floor", "", {}),
    TARVO_FIELD(Vmax, 0, 255, 255, K::Number, "Clip ceiling", "", {}),
    TARVO_FIELD(PageIndex, 0, 7, 0, K::Internal, "Dialog page", "", {}),
    TARVO_FIELD(ProcMode, 0, 3, 0, K::Choice, "Chroma processing", "", kProcModes),
    TARVO_FIELD(MonitorView, 0, 2, 0, K::Internal, "Monitor view", "", {}),
    TARVO_FIELD(ChannelView, 0, 2, 0, K::Choice, "Channel view", "", kChannelViews),
    TARVO_FIELD(Bypass, 0, 1, 0, K::Internal, "Dialog bypass", "", {}),
    TARVO_FIELD(TestSignal, 0, 7, 0, K::Choice, "Test signal", "", kTestSignals),
    TARVO_FIELD(BalanceLabels, 0, 1, 0, K::Internal, "Readout labels", "", {}),
    TARVO_FIELD(Vblack, 0, 255, 0, K::Internal, "Black level", "", {}),
    TARVO_FIELD(UseMaster, 0, 1, 0, K::Switch, "Follow master scene", "", {}),
    TARVO_FIELD(Vblank, 0, 255, 0, K::Internal, "Blanking level", "", {}),
    TARVO_FIELD(Vwhite, 0, 255, 255, K::Internal, "White level", "", {}),
    TARVO_FIELD(FramePos, -32768, 32767, 0, K::Internal, "Dialog frame", "", {}),
    TARVO_FIELD(LastPart, -32768, 32767, 0, K::Internal, "Last frame seen", "", {}),
    TARVO_FIELD(Lift, -100, 100, 0, K::Number, "Lift", "", {}),
    TARVO_FIELD(Gain, 0, 800, 100, K::Number, "Gain", "%", {}),
    TARVO_FIELD(Gamma, -100, 100, 0, K::Number, "Gamma (negated)", "", {}),
    TARVO_FIELD(Sat, 0, 200, 100, K::Number, "Saturation", "%", {}),
    TARVO_FIELD(Knee, 0, 100, 100, K::Number, "Knee", "%", {}),
    TARVO_FIELD(Slope, 0, 100, 50, K::Number, "Knee slope", "%", {}),
    TARVO_FIELD(RLift, -100, 100, 0, K::Number, "Red lift", "", {}),
    TARVO_FIELD(GLift, -100, 100, 0, K::Number, "Green lift", "", {}),
    TARVO_FIELD(BLift, -100, 100, 0, K::Number, "Blue lift", "", {}),
    TARVO_FIELD(RGain, 0, 200, 100, K::Number, "Red gain", "%", {}),
    TARVO_FIELD(GGain, 0, 200, 100, K::Number, "Green gain", "%", {}),
    TARVO_FIELD(BGain, 0, 200, 100, K::Number, "Blue gain", "%", {}),
    TARVO_FIELD(RGamma, -100, 100, 0, K::Number, "Red gamma (negated)", "", {}),
    TARVO_FIELD(GGamma, -100, 100, 0, K::Number, "Green gamma (negated)", "", {}),
    TARVO_FIELD(BGamma, -100, 100, 0, K::Number, "Blue gamma (negated)", "", {}),
    TARVO_FIELD(YDespeckle, 0, 4, 0, K::Number, "Luminance despeckle", "", {}),
    TARVO_FIELD(CDespeckle, 0, 4, 0, K::Number, "Colour despeckle", "", {}),
    TARVO_FIELD(NoiseMask, 0, 4, 0, K::Number, "Noise mask", "", {}),
    TARVO_FIELD(NoiseMaskYOnly, 0, 1, 1, K::Switch, "Noise mask on luminance only", "", {}),
    TARVO_FIELD(NoiseShowMask, 0, 1, 0, K::Switch, "Show noise mask", "", {}),
    TARVO_FIELD(NoiseSmooth, -100, 100, 0, K::Number, "Noise mask offset", "", {}),
    TARVO_FIELD(MaskRadius, 1, 3, 2, K::Number, "Mask aperture", "", {}),
    TARVO_FIELD(MedianLimit, 0, 100, 0, K::Number, "Median limit", "", {}),
    TARVO_FIELD(MedianThreshold, 0, 100, 0, K::Number, "Median threshold", "", {}),
    TARVO_FIELD(MedianWhen, 0, 3, 0, K::Bits, "Median before (1) / after (2)", "", {}),
    TARVO_FIELD(MedianWeighted, 0, 1, 0, K::Switch, "Weighted median", "", {}),
    TARVO_FIELD(YSharpness, -100, 100, 0, K::Number, "Luminance sharpness", "", {}),
    TARVO_FIELD(CSharpness, -100, 100, 0, K::Number, "Colour sharpness", "", {}),
    TARVO_FIELD(SharpShowEdges, 0, 1, 0, K::Switch, "Show edges", "", {}),
    TARVO_FIELD(SharpMask, 0, 4, 0, K::Number, "Sharpening mask", "", {}),
    TARVO_FIELD(SharpShowMask, 0, 1, 0, K::Switch, "Show sharpening mask", "", {}),
    TARVO_FIELD(SharpSmooth, -100, 100, 0, K::Number, "Sharpening mask offset", "", {}),
    TARVO_FIELD(SharpRadius, 1, 3, 1, K::Number, "Sharpening aperture", "", {}),
    TARVO_FIELD(LevelDepend, 0, 100, 0, K::Number, "Level dependence", "%", {}),
    TARVO_FIELD(TempYThreshold, 0, 100, 0, K::Number, "Temporal luminance threshold", "", {}),
    TARVO_FIELD(TempRecursion, 0, 100, 0, K::Number, "Temporal recursion", "", {}),
    TARVO_FIELD(TempOnset, 0, 100, 0, K::Number, "Motion onset", "", {}),
    TARVO_FIELD(TempLimit, 0, 100, 50, K::Number, "Motion limit", "", {}),
    TARVO_FIELD(TempResponse, 0, 100, 50, K::Number, "Motion response", "", {}),
    TARVO_FIELD(TempFlags, 0, 3, 0, K::Bits, "Motion detection (1) / smoothing (2)", "", {}),
    TARVO_FIELD(TempCThreshold, 0, 100, 0, K::Number, "Temporal colour threshold", "", {}),
};

#undef TARVO_FIELD

// The parts of the record that are not int16 fields: the reserved gaps and
// the scene name.
struct Bytes {
  size_t offset, size;
};
constexpr Bytes kOtherBytes[] = {
    {offsetof(TSpecs, Reserved36), sizeof(TSpecs::Reserved36)},
    {offsetof(TSpecs, Reserved46), sizeof(TSpecs::Reserved46)},
    {offsetof(TSpecs, Reserved82), sizeof(TSpecs::Reserved82)},
    {offsetof(TSpecs, Reserved100), sizeof(TSpecs::Reserved100)},
    {offsetof(TSpecs, Reserved112), sizeof(TSpecs::Reserved112)},
    {offsetof(TSpecs, Reserved122), sizeof(TSpecs::Reserved122)},
    {offsetof(TSpecs, Reserved136), sizeof(TSpecs::Reserved136)},
    {offsetof(TSpecs, Reserved146), sizeof(TSpecs::Reserved146)},
    {offsetof(TSpecs, Reserved174), sizeof(TSpecs::Reserved174)},
    {offsetof(TSpecs, SceneName), sizeof(TSpecs::SceneName)},
};

// Every byte of the record belongs to exactly one row or one of the other
// parts, so no field can be missing from the table or listed twice.
constexpr bool TableCoversRecordOnce() {
  std::array<int, kSpecsSize> uses{};
  for (const SpecsField& f : kFields)
    for (size_t b = f.offset; b < f.offset + sizeof(int16_t); ++b) ++uses[b];
  for (const Bytes& p : kOtherBytes)
    for (size_t b = p.offset; b < p.offset + p.size; ++b) ++uses[b];
  for (int n : uses)
    if (n != 1) return false;
  return true;
}
static_assert(TableCoversRecordOnce(), "the field table must cover every byte of the record exactly once");

// Rows in offset order; each default within its range; a Choice field names
// each of its values, counted from 0.
constexpr bool RowsAreConsistent() {
  for (size_t i = 0; i < kFields.size(); ++i) {
    const SpecsField& f = kFields[i];
    if (i > 0 && kFields[i - 1].offset >= f.offset) return false;
    if (f.min > f.max || f.def < f.min || f.def > f.max) return false;
    if (f.kind == K::Choice ? (f.min != 0 || f.choices.size() != static_cast<size_t>(f.max) + 1)
                            : !f.choices.empty())
      return false;
  }
  return true;
}
static_assert(RowsAreConsistent());

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

std::string_view ChoiceName(const SpecsField& f, int value) {
  if (value < 0 || static_cast<size_t>(value) >= f.choices.size()) return {};
  return f.choices[static_cast<size_t>(value)];
}

std::optional<int16_t> ChoiceValue(const SpecsField& f, std::string_view name) {
  for (size_t i = 0; i < f.choices.size(); ++i)
    if (f.choices[i] == name) return static_cast<int16_t>(i);
  return std::nullopt;
}

std::string ChoiceListText(const SpecsField& f) {
  std::string text;
  for (size_t i = 0; i < f.choices.size(); ++i) {
    if (i) text += ", ";
    text += std::to_string(i) + " " + std::string(f.choices[i]);
  }
  return text;
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
    if (text.size() > kSceneNameMax) {
      if (error) *error = "SceneName holds at most " + std::to_string(kSceneNameMax) + " characters";
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
  if (const std::optional<int16_t> choice = ChoiceValue(*f, text)) {
    value = *choice;
    ok = true;
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
