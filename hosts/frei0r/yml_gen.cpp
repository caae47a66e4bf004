// Writes the MLT metadata of the frei0r filter (filter_frei0r.tarvo.yml) from
// the adapter's parameter list, so that editors show titles, ranges and units
// without a second hand-written copy of the list.
//   tarvo_frei0r_yml OUTPUT.yml
#include <cstdio>
#include <string>

#include "host/specs.h"
#include "params.h"
#include "util/atomic_file.h"

using namespace tarvo;
using namespace tarvo::frei0r;

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

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.yml\n", argv[0]);
    return 2;
  }
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
  std::string error;
  if (!WriteFileAtomically(argv[1], y.data(), y.size(), &error)) {
    std::fprintf(stderr, "tarvo_frei0r_yml: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
