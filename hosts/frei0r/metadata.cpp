#include "metadata.h"

#include <cstdio>

#include "params.h"
#include "types/specs.h"

namespace tarvo::frei0r {

namespace {

// YAML double-quoted scalar.
std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

}  // namespace

std::string MetadataYaml() {
  const TSpecs defaults = BuiltInDefaultSpecs();
  std::string y;
  y += "schema_version: 0.3\n";
  y += "type: filter\n";
  y += "identifier: frei0r.tarvo\n";
  y += "title: Tarvo\n";
  y += "version: 0.1\n";
  y += "language: en\n";
  y += "tags:\n  - Video\n";
  y += "description: " +
       Quote("Video clean-up and colour correction: levels, colour balance, median, despeckle, temporal "
             "smoothing with motion detection, masks and sharpening. Temporal smoothing needs the frames in "
             "order: render with real_time=-1 and without slice threads.") +
       "\n";
  y += "parameters:\n";
  int index = 0;
  for (const Param& p : Params()) {
    y += "  - identifier: " + Quote(p.name) + "\n";
    if (!p.field) {
      y += "    title: " + Quote(index == kRecordParam ? "Record file" : "Scene") + "\n";
      y += "    type: string\n";
      y += "    description: " + Quote(p.explanation) + "\n";
      y += "    mutable: yes\n";
      if (index == kRecordParam) y += "    widget: fileopen\n";
    } else {
      const SpecsField& f = *p.field;
      const double def = ToParamValue(f, GetField(defaults, f));
      y += "    title: " + Quote(std::string(f.title)) + "\n";
      if (p.type == ParamType::Bool) {
        y += "    type: boolean\n";
        y += "    default: " + std::string(def != 0 ? "1" : "0") + "\n";
        y += "    widget: checkbox\n";
      } else {
        y += "    type: float\n";
        y += "    minimum: 0\n";
        y += "    maximum: 1\n";
        y += "    default: " + Number(def) + "\n";
        y += "    widget: spinner\n";
        // The field's own units: 0..1 spans min..max in (max - min) steps.
        y += "    unit: " + Quote(RangeText(f)) + "\n";
      }
      y += "    description: " + Quote(p.explanation) + "\n";
      y += "    mutable: yes\n";
      y += "    animation: no\n";
    }
    ++index;
  }
  return y;
}

std::string ParameterTableMarkdown() {
  const TSpecs defaults = BuiltInDefaultSpecs();
  std::string t = "| # | name | type | setting | range | default |\n|---|---|---|---|---|---|\n";
  int index = 0;
  for (const Param& p : Params()) {
    t += "| " + std::to_string(index) + " | `" + p.name + "` | ";
    if (!p.field) {
      t += "string | " + p.explanation + " | | (empty) |\n";
    } else {
      const SpecsField& f = *p.field;
      const int16_t def = GetField(defaults, f);
      std::string range = p.type == ParamType::Bool ? "y/n" : RangeText(f);
      if (f.kind == FieldKind::Choice) range += ": " + ChoiceListText(f);
      t += std::string(p.type == ParamType::Bool ? "bool" : "double") + " | " + std::string(f.title) + " | " +
           range + " | " + (p.type == ParamType::Bool ? std::string(def ? "y" : "n")
                                                      : std::to_string(def) + " = " + Number(ToParamValue(f, def))) +
           " |\n";
    }
    ++index;
  }
  return t;
}

std::string FfmpegParams(const TSpecs& specs) {
  std::string text;
  bool first = true;
  for (const Param& p : Params()) {
    if (!first) text += "|";
    first = false;
    if (!p.field) continue;
    const double v = ToParamValue(*p.field, GetField(specs, *p.field));
    if (p.type == ParamType::Bool) {
      text += v != 0 ? "y" : "n";
    } else {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", v);
      text += buf;
    }
  }
  return text;
}

}  // namespace tarvo::frei0r
