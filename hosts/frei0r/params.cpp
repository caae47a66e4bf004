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

std::string UserTitle(const SpecsField& f) {
  std::string t(f.title);
  // "Gamma (negated)": the record keeps the negated slider position; the
  // parameter is the record value, explained in its description.
  if (const size_t at = t.find(" (negated)"); at != std::string::npos) t.erase(at, 10);
  if (f.name == "MedianWhen") return "Median position";
  if (f.name == "TempFlags") return "Motion handling";
  return t;
}

std::string BitsText(const SpecsField& f) {
  if (f.name == "MedianWhen") return "0 off, 1 before, 2 after, 3 both";
  if (f.name == "TempFlags") return "0 off, 1 motion detection, 2 smoothing, 3 both";
  return {};
}

const char* FieldOrderName(FieldOrder order) {
  switch (order) {
    case FieldOrder::TopFirst: return "tff";
    case FieldOrder::BottomFirst: return "bff";
    case FieldOrder::Progressive: break;
  }
  return "progressive";
}

bool ParseFieldOrder(const std::string& text, FieldOrder& out) {
  if (text.empty() || text == "progressive") out = FieldOrder::Progressive;
  else if (text == "tff") out = FieldOrder::TopFirst;
  else if (text == "bff") out = FieldOrder::BottomFirst;
  else return false;
  return true;
}

uint8_t FieldFlagsOf(FieldOrder order) {
  switch (order) {
    case FieldOrder::TopFirst: return 1;
    case FieldOrder::BottomFirst: return 2;
    case FieldOrder::Progressive: break;
  }
  return 0;
}

namespace {

std::string Explain(const SpecsField& f) {
  std::string text = UserTitle(f);
  if (f.kind == FieldKind::Switch) return text + " (on/off)";
  text += ", " + RangeText(f);
  if (f.kind == FieldKind::Choice) text += " (" + ChoiceListText(f) + ")";
  if (f.kind == FieldKind::Bits) text += " (" + BitsText(f) + ")";
  text += "; 0..1 spans the range";
  if (f.title.find("(negated)") != std::string_view::npos) text += "; the setup dialog shows the opposite sign";
  return text;
}

std::vector<Param> BuildParams() {
  std::vector<Param> list;
  list.push_back({"record", "Path of a 256-byte Tarvo record file to load", ParamType::String, nullptr,
                  "Record file"});
  list.push_back({"scene", "Name of a scene in the scene file to follow (empty: none)", ParamType::String, nullptr,
                  "Scene"});
  for (const SpecsField& f : SpecsFields()) {
    if (!IsUserField(f)) continue;
    list.push_back({std::string(f.name), Explain(f),
                    f.kind == FieldKind::Switch ? ParamType::Bool : ParamType::Double, &f, UserTitle(f)});
  }
  list.push_back({"fields",
                  "Field order of the clip: progressive, tff (top field first) or bff (bottom field first)",
                  ParamType::String, nullptr, "Field order"});
  return list;
}

}  // namespace

const std::vector<Param>& Params() {
  static const std::vector<Param> list = BuildParams();
  return list;
}

int ParamCount() { return static_cast<int>(Params().size()); }

int FieldsParam() { return ParamCount() - 1; }

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
