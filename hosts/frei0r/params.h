// The frei0r parameter list of the adapter, derived from the record's field
// table: two string parameters first ("record", "scene"), then every
// user-facing field of the record in table order, then the clip's field
// order ("fields", a string). Switches become frei0r booleans; every other
// field becomes a frei0r double whose 0..1 maps linearly onto the field's
// range, rounded to the nearest step. New parameters go at the end, so that
// positional lists written for an earlier version keep their meaning.
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
  std::string title;        // label for an editor's panel
};

constexpr int kRecordParam = 0;  // path of a 256-byte record file to load
constexpr int kSceneParam = 1;   // name of a scene to follow
// The clip's field order, the last parameter.
int FieldsParam();

// How the clip's frames are scanned, as `tarvo render --fields` names it:
// "progressive", "tff" (top field first) or "bff" (bottom field first).
enum class FieldOrder { Progressive, TopFirst, BottomFirst };
const char* FieldOrderName(FieldOrder order);
// Parses one of the three names; an empty text is progressive.
bool ParseFieldOrder(const std::string& text, FieldOrder& out);
// The call record's field flags for the order (0, 1 or 2).
uint8_t FieldFlagsOf(FieldOrder order);

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
// The field's title for an editor's panel: the dialog's wording without
// notes about how the record stores it.
std::string UserTitle(const SpecsField& f);
// For bit-set fields: what each bit means ("1 motion detection, 2 smoothing").
std::string BitsText(const SpecsField& f);

}  // namespace tarvo::frei0r
