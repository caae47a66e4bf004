#include "params.h"

#include <cmath>

#include "types/rounding.h"

namespace tarvo::frei0r {

bool IsUserField(const SpecsField& f) { return f.kind != FieldKind::Internal; }

std::string RangeText(const SpecsField& f) {
  std::string text = std::to_string(f.min) + ".." + std::to_string(f.max);
  if (!f.unit.empty()) text += " " + std::string(f.unit);
  return text;
}

namespace {

std::string Explain(const SpecsField& f) {
  std::string text(f.title);
  if (f.kind == FieldKind::Switch) return text + " (on/off)";
  text += ", " + RangeText(f);
  if (f.kind == FieldKind::Choice) text += " (" + ChoiceListText(f) + ")";
  return text + "; 0..1 spans the range";
}

std::vector<Param> BuildParams() {
  std::vector<Param> list;
  list.push_back({"record", "Path of a 256-byte Tarvo record file to load", ParamType::String, nullptr});
  list.push_back({"scene", "Name of a scene in the scene file to follow (empty: none)", ParamType::String, nullptr});
  for (const SpecsField& f : SpecsFields()) {
    if (!IsUserField(f)) continue;
    list.push_back({std::string(f.name), Explain(f),
                    f.kind == FieldKind::Switch ? ParamType::Bool : ParamType::Double, &f});
  }
  return list;
}

}  // namespace

const std::vector<Param>& Params() {
  static const std::vector<Param> list = BuildParams();
  return list;
}

int ParamCount() { return static_cast<int>(Params().size()); }

double ToParamValue(const SpecsField& f, int16_t value) {
  if (f.kind == FieldKind::Switch) return value != 0 ? 1.0 : 0.0;
  const int span = f.max - f.min;
  if (span <= 0) return 0.0;
  const double v = static_cast<double>(value - f.min) / span;
  return v < 0 ? 0.0 : v > 1 ? 1.0 : v;
}

bool FromParamValue(const SpecsField& f, double value, int16_t& out) {
  if (std::isnan(value)) return false;
  if (f.kind == FieldKind::Switch) {
    out = value >= 0.5 ? 1 : 0;
    return true;
  }
  const double v = value < 0 ? 0.0 : value > 1 ? 1.0 : value;
  const int64_t step = Rnd(static_cast<long double>(v) * (f.max - f.min));
  out = static_cast<int16_t>(f.min + step);
  return true;
}

}  // namespace tarvo::frei0r
