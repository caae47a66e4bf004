#include "metadata.h"

#include <cstdio>
#include <string>
#include <vector>

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

// Whom the plug-in is by, and under what terms, for the editors' about boxes.
constexpr const char* kCreator = "The Tarvo developers";
constexpr const char* kLicence = "Proprietary";

// The frei0r values a choice or bit-set field can take, in value order.
std::vector<std::string> ListedValues(const SpecsField& f) {
  std::vector<std::string> values;
  for (int v = f.min; v <= f.max; ++v) values.push_back(Number(ToParamValue(f, static_cast<int16_t>(v))));
  return values;
}

// "0 = 444, 0.333333 = 422, ...": what each listed value means.
std::string ListedMeanings(const SpecsField& f) {
  std::string text;
  const std::vector<std::string> values = ListedValues(f);
  for (int v = f.min; v <= f.max; ++v) {
    if (!text.empty()) text += ", ";
    std::string meaning;
    if (f.kind == FieldKind::Choice) meaning = std::string(ChoiceName(f, v));
    if (meaning.empty()) meaning = std::to_string(v);
    text += values[static_cast<size_t>(v - f.min)] + " = " + meaning;
  }
  return text;
}

}  // namespace

std::vector<std::string> MetadataValues(const SpecsField& f) {
  if (f.kind != FieldKind::Choice && f.kind != FieldKind::Bits) return {};
  return ListedValues(f);
}

std::string MetadataYaml() {
  const TSpecs defaults = BuiltInDefaultSpecs();
  std::string y;
  y += "schema_version: 7.0\n";
  y += "type: filter\n";
  y += "identifier: frei0r.tarvo\n";
  y += "title: Tarvo\n";
  y += "version: 0.1\n";
  y += "language: en\n";
  y += "creator: " + Quote(kCreator) + "\n";
  y += "copyright: " + Quote(kCreator) + "\n";
  y += "license: " + Quote(kLicence) + "\n";
  y += "tags:\n  - Video\n";
  y += "description: " +
       Quote("Video clean-up and colour correction: levels, colour balance, median, despeckle, temporal "
             "smoothing with motion detection, masks and sharpening.") +
       "\n";
  y += "notes: " +
       Quote("Temporal smoothing works on a run of consecutive frames of one clip: render without slice threads "
             "(leave threads unset). Several render threads (real_time below -1; in the editors: parallel "
             "processing) give the frames of one thread: the instances of one filter take the frames in order. "
             "A jump, a seek or a restarted preview starts a new run. Interlaced clips need their field order (parameter fields: tff or bff). "
             "Numeric settings take keyframes; every number is the record value scaled so that 0..1 spans the "
             "setting's range (see each description).") +
       "\n";
  y += "parameters:\n";
  for (const Param& p : Params()) {
    y += "  - identifier: " + Quote(p.name) + "\n";
    y += "    title: " + Quote(p.title) + "\n";
    if (!p.field) {
      y += "    type: string\n";
      const bool fields = p.name == "fields";
      y += "    default: " + Quote(fields ? "progressive" : "") + "\n";
      if (fields) y += "    values:\n      - progressive\n      - tff\n      - bff\n";
      y += "    description: " + Quote(p.explanation) + "\n";
      y += "    mutable: yes\n";
      y += "    animation: no\n";
      y += std::string("    widget: ") + (p.name == "record" ? "fileopen" : fields ? "dropdown" : "text") + "\n";
      continue;
    }
    const SpecsField& f = *p.field;
    const double def = ToParamValue(f, GetField(defaults, f));
    if (p.type == ParamType::Bool) {
      y += "    type: boolean\n";
      y += "    default: " + std::string(def != 0 ? "1" : "0") + "\n";
      y += "    description: " + Quote(p.explanation) + "\n";
      y += "    mutable: yes\n";
      y += "    animation: no\n";
      y += "    widget: checkbox\n";
      continue;
    }
    y += "    type: float\n";
    y += "    minimum: 0\n";
    y += "    maximum: 1\n";
    y += "    default: " + Number(def) + "\n";
    const std::vector<std::string> values = MetadataValues(f);
    std::string description = p.explanation;
    if (!values.empty()) {
      y += "    values:\n";
      for (const std::string& v : values) y += "      - " + v + "\n";
      description += "; values: " + ListedMeanings(f);
    } else {
      // Enough digits to reach every step of the range.
      const int steps = f.max - f.min;
      const int scale = steps <= 10 ? 2 : steps <= 100 ? 3 : 4;
      y += "    scale: " + std::to_string(scale) + "\n";
    }
    y += "    description: " + Quote(description) + "\n";
    y += "    mutable: yes\n";
    y += "    animation: yes\n";
    y += std::string("    widget: ") + (values.empty() ? "slider" : "dropdown") + "\n";
  }
  return y;
}

namespace {

std::string XmlEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Precise(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

// What each value of a choice or bit-set field is called in a list.
std::string ValueNames(const SpecsField& f) {
  std::string names;
  for (int v = f.min; v <= f.max; ++v) {
    if (!names.empty()) names += ",";
    std::string name;
    if (f.kind == FieldKind::Choice) name = std::string(ChoiceName(f, v));
    if (f.kind == FieldKind::Bits) {
      const std::string bits = BitsText(f);  // "0 off, 1 before, ..."
      const std::string key = std::to_string(v) + " ";
      size_t at = bits.find(key);
      while (at != std::string::npos && at != 0 && bits[at - 1] != ' ') at = bits.find(key, at + 1);
      if (at != std::string::npos) name = bits.substr(at + key.size(), bits.find(',', at) - at - key.size());
    }
    if (name.empty()) name = std::to_string(v);
    names += name;
  }
  return names;
}

// Ranges not starting at 0 up to this many steps are offered to Kdenlive as
// lists of their values rather than as sliders.
constexpr int kKdenliveListedSpan = 8;

}  // namespace

std::string KdenliveEffectXml() {
  const TSpecs defaults = BuiltInDefaultSpecs();
  std::string x;
  x += "<!DOCTYPE kpartgui>\n";
  x += "<effect tag=\"frei0r.tarvo\" id=\"frei0r.tarvo\">\n";
  x += "  <name>Tarvo clean-up and colour</name>\n";
  x += "  <description>Video clean-up and colour correction: levels, colour balance, median, despeckle, temporal "
       "smoothing with motion detection, masks and sharpening.</description>\n";
  x += "  <author>" + XmlEscape(kCreator) + "</author>\n";
  for (const Param& p : Params()) {
    const std::string name = XmlEscape(p.name);
    std::string title = XmlEscape(p.title), comment = XmlEscape(p.explanation);
    if (!p.field) {
      if (p.name == "fields") {
        x += "  <parameter type=\"list\" name=\"fields\" default=\"progressive\" paramlist=\"progressive;tff;bff\">\n"
             "    <paramlistdisplay>Progressive,Top field first,Bottom field first</paramlistdisplay>\n";
      } else if (p.name == "record") {
        x += "  <parameter type=\"url\" name=\"record\" default=\"\" optional=\"1\" filter=\"*|All files\">\n";
      } else {
        x += "  <parameter type=\"keywords\" name=\"" + name + "\" default=\"\" optional=\"1\" keywords=\"\" "
             "keywordsdisplay=\"\">\n";
      }
    } else {
      const SpecsField& f = *p.field;
      const double def = ToParamValue(f, GetField(defaults, f));
      if (p.type == ParamType::Bool) {
        x += "  <parameter type=\"bool\" name=\"" + name + "\" default=\"" + (def != 0 ? "1" : "0") + "\">\n";
      } else if (f.kind == FieldKind::Choice || f.kind == FieldKind::Bits ||
                 (f.min != 0 && f.max - f.min <= kKdenliveListedSpan)) {
        // Choices by name; a short range that does not start at 0 (the
        // apertures, 1..3) as its record values.
        std::string list;
        for (const std::string& v : ListedValues(f)) list += (list.empty() ? "" : ";") + v;
        x += "  <parameter type=\"list\" name=\"" + name + "\" default=\"" + Number(def) + "\" paramlist=\"" + list +
             "\">\n    <paramlistdisplay>" + XmlEscape(ValueNames(f)) + "</paramlistdisplay>\n";
      } else {
        // A slider with keyframes. Kdenlive 22.12 shows value * factor and
        // reads no offset, so a range starting at 0 is shown in the record's
        // units, and a signed one (-100..100) shifted to start at 0, which
        // its title and comment say.
        const int span = f.max - f.min;
        x += "  <parameter type=\"animated\" name=\"" + name + "\" default=\"" + Precise(def) + "\" min=\"0\" max=\"" +
             std::to_string(span) + "\" factor=\"" + std::to_string(span) + "\"" +
             (f.unit.empty() ? std::string() : " suffix=\"" + XmlEscape(std::string(f.unit)) + "\"") + ">\n";
        if (f.min != 0) {
          const std::string zero = std::to_string(-f.min);
          title += " (" + zero + " = 0)";
          comment += "; shown here from 0 to " + std::to_string(span) + ": " + zero +
                     " is the record value 0, the record value is the number shown minus " + zero;
        }
      }
    }
    x += "    <name>" + title + "</name>\n";
    x += "    <comment>" + comment + "</comment>\n";
    x += "  </parameter>\n";
  }
  x += "</effect>\n";
  return x;
}

std::string ParameterTableMarkdown() {
  const TSpecs defaults = BuiltInDefaultSpecs();
  std::string t = "| # | name | type | setting | range | default |\n|---|---|---|---|---|---|\n";
  int index = 0;
  for (const Param& p : Params()) {
    t += "| " + std::to_string(index) + " | `" + p.name + "` | ";
    if (!p.field) {
      t += "string | " + p.explanation + " | " + (p.name == "fields" ? "progressive/tff/bff | progressive" : "| (empty)") +
           " |\n";
    } else {
      const SpecsField& f = *p.field;
      const int16_t def = GetField(defaults, f);
      std::string range = p.type == ParamType::Bool ? "y/n" : RangeText(f);
      if (f.kind == FieldKind::Choice) range += ": " + ChoiceListText(f);
      if (f.kind == FieldKind::Bits) range += ": " + BitsText(f);
      t += std::string(p.type == ParamType::Bool ? "bool" : "double") + " | " + p.title + " | " +
           range + " | " + (p.type == ParamType::Bool ? std::string(def ? "y" : "n")
                                                      : std::to_string(def) + " = " + Number(ToParamValue(f, def))) +
           " |\n";
    }
    ++index;
  }
  return t;
}

std::string FfmpegParams(const TSpecs& specs, FieldOrder order) {
  std::string text;
  bool first = true;
  for (const Param& p : Params()) {
    if (!first) text += "|";
    first = false;
    if (p.name == "fields") text += FieldOrderName(order);
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
