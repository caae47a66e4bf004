// The frei0r parameter list of the adapter, derived from the record's field
// table: two string parameters first ("record", "scene"), then every
// user-facing field of the record in table order. Switches become frei0r
// booleans; every other field becomes a frei0r double whose 0..1 maps
// linearly onto the field's range, rounded to the nearest step.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "types/specs.h"
#include "types/specs_fields.h"

namespace tarvo::frei0r {

enum class ParamType { Bool, Double, String };

struct Param {
  std::string name;         // frei0r parameter name
  std::string explanation;  // one line for the host's user interface
  ParamType type = ParamType::Double;
  const SpecsField* field = nullptr;  // nullptr for the string parameters
};

constexpr int kRecordParam = 0;  // path of a 256-byte record file to load
constexpr int kSceneParam = 1;   // name of a scene to follow

// The whole list, built once (thread-safe).
const std::vector<Param>& Params();
int ParamCount();

// True for the fields that the adapter offers as parameters.
bool IsUserField(const SpecsField& f);

// A field value as the frei0r double 0..1 (bool: 0 or 1).
double ToParamValue(const SpecsField& f, int16_t value);
// A frei0r double (or bool) as a field value: clamped to 0..1, mapped onto
// the range and rounded to the nearest value; NaN gives false (no value).
bool FromParamValue(const SpecsField& f, double value, int16_t& out);

// The field's range as text for explanations: "-100..100 %".
std::string RangeText(const SpecsField& f);

}  // namespace tarvo::frei0r
