// One declarative table of the record's fields. The built-in default record,
// the record dump, the command-line --set names, the frei0r parameters and
// the range checks all read it, so a field's name, place, range and default
// are written down once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "types/specs.h"

namespace tarvo {

enum class FieldKind {
  Number,    // a plain integer setting (slider)
  Switch,    // 0 or 1 (check box or radio pair)
  Bits,      // a small bit set (MedianWhen, TempFlags)
  Choice,    // one of a few named values (ProcMode, TestSignal...)
  Internal,  // kept by the filter or the host, not a user setting
};

struct SpecsField {
  std::string_view name;     // TSpecs field name
  uint16_t offset;           // byte offset in the record (int16 field)
  int16_t min;
  int16_t max;
  int16_t def;               // value in the built-in default record
  FieldKind kind;
  std::string_view title;    // readable title, as the dialog words it
  std::string_view unit;     // "%", "" ...
  // Choice: the name of each value, from 0 (= min) up to max.
  std::span<const std::string_view> choices;
};

// Every int16 field of the record in offset order (SceneName, a string, is
// handled separately).
std::span<const SpecsField> SpecsFields();
const SpecsField* FindSpecsField(std::string_view name);

int16_t GetField(const TSpecs& s, const SpecsField& f);
void SetField(TSpecs& s, const SpecsField& f, int16_t value);

// The name of a Choice field's value; empty when the value has none.
std::string_view ChoiceName(const SpecsField& f, int value);
// The value a Choice field's name stands for; nothing for an unknown name.
std::optional<int16_t> ChoiceValue(const SpecsField& f, std::string_view name);
// Every value with its name, for help texts: "0 444, 1 422, 2 420, 3 411".
std::string ChoiceListText(const SpecsField& f);

// Parses "NAME=VALUE" (VALUE a number, or a choice name for Choice fields)
// and applies it. Unknown names and values outside the field's range are
// refused with a message; the record is then unchanged. "SceneName=TEXT" sets
// the scene name (at most kSceneNameMax bytes).
bool ApplyFieldAssignment(TSpecs& s, std::string_view assignment, std::string* error);

}  // namespace tarvo
