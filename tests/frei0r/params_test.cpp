// The frei0r parameter list and the mapping between frei0r values and record
// fields.
#include "params.h"

#include <fstream>
#include <sstream>

#include "metadata.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include <gtest/gtest.h>

namespace tarvo::frei0r {
namespace {

TEST(Frei0rParams, ListFollowsTheFieldTable) {
  const auto& params = Params();
  ASSERT_GE(params.size(), 2u);
  EXPECT_EQ(params[kRecordParam].name, "record");
  EXPECT_EQ(params[kRecordParam].type, ParamType::String);
  EXPECT_EQ(params[kSceneParam].name, "scene");
  EXPECT_EQ(params[kSceneParam].type, ParamType::String);
  // Every user-facing field exactly once, in table order, none internal.
  size_t next = 2;
  for (const SpecsField& f : SpecsFields()) {
    if (f.kind == FieldKind::Internal) continue;
    ASSERT_LT(next, params.size());
    EXPECT_EQ(params[next].field, &f);
    EXPECT_EQ(params[next].name, f.name);
    EXPECT_EQ(params[next].type, f.kind == FieldKind::Switch ? ParamType::Bool : ParamType::Double) << f.name;
    ++next;
  }
  // The field order comes last, so positional lists of earlier versions keep
  // their meaning.
  ASSERT_EQ(next + 1, params.size());
  EXPECT_EQ(FieldsParam(), static_cast<int>(next));
  EXPECT_EQ(params[next].name, "fields");
  EXPECT_EQ(params[next].type, ParamType::String);
  std::set<std::string> names;
  for (const Param& p : params) EXPECT_TRUE(names.insert(p.name).second) << p.name;
  for (const char* internal : {"Version", "PageIndex", "FramePos", "LastPart", "Vblack", "Bypass"})
    EXPECT_EQ(names.count(internal), 0u) << internal;
}

TEST(Frei0rParams, EveryValueOfEveryFieldRoundTrips) {
  for (const Param& p : Params()) {
    if (!p.field) continue;
    const SpecsField& f = *p.field;
    for (int v = f.min; v <= f.max; ++v) {
      const double x = ToParamValue(f, static_cast<int16_t>(v));
      ASSERT_GE(x, 0.0);
      ASSERT_LE(x, 1.0);
      int16_t back = -1;
      ASSERT_TRUE(FromParamValue(f, x, back));
      ASSERT_EQ(back, v) << f.name << " via " << x;
    }
  }
}

TEST(Frei0rParams, MappingEndsRoundingAndClamping) {
  const SpecsField& lift = *FindSpecsField("Lift");  // -100..100
  int16_t v = 0;
  ASSERT_TRUE(FromParamValue(lift, 0.0, v));
  EXPECT_EQ(v, -100);
  ASSERT_TRUE(FromParamValue(lift, 1.0, v));
  EXPECT_EQ(v, 100);
  ASSERT_TRUE(FromParamValue(lift, 0.5, v));
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(FromParamValue(lift, 0.5074, v));  // 101.48 steps -> 101
  EXPECT_EQ(v, 1);
  // Exact halves go to the even step: 0..4 with 0.625 -> 2.5 -> 2, 0.875 -> 3.5 -> 4.
  const SpecsField& despeckle = *FindSpecsField("YDespeckle");
  ASSERT_TRUE(FromParamValue(despeckle, 0.625, v));
  EXPECT_EQ(v, 2);
  ASSERT_TRUE(FromParamValue(despeckle, 0.875, v));
  EXPECT_EQ(v, 4);
  ASSERT_TRUE(FromParamValue(lift, -3.0, v));
  EXPECT_EQ(v, -100);
  ASSERT_TRUE(FromParamValue(lift, 7.0, v));
  EXPECT_EQ(v, 100);
  EXPECT_FALSE(FromParamValue(lift, NAN, v));
  EXPECT_EQ(ToParamValue(lift, 0), 0.5);

  const SpecsField& gain = *FindSpecsField("Gain");  // 0..800
  ASSERT_TRUE(FromParamValue(gain, 0.125, v));
  EXPECT_EQ(v, 100);

  const SpecsField& sw = *FindSpecsField("NoiseMaskYOnly");
  ASSERT_TRUE(FromParamValue(sw, 0.49, v));
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(FromParamValue(sw, 1.0, v));
  EXPECT_EQ(v, 1);
  EXPECT_EQ(ToParamValue(sw, 1), 1.0);
}

TEST(Frei0rParams, ExplanationsCarryRangeAndChoices) {
  for (const Param& p : Params()) {
    if (!p.field || p.type != ParamType::Double) continue;
    EXPECT_NE(p.explanation.find(RangeText(*p.field)), std::string::npos) << p.name;
  }
  const Param* proc = nullptr;
  for (const Param& p : Params())
    if (p.name == "ProcMode") proc = &p;
  ASSERT_NE(proc, nullptr);
  EXPECT_NE(proc->explanation.find("2 420"), std::string::npos) << proc->explanation;
}

TEST(Frei0rParams, ReadmeTableAndMetadataFollowTheList) {
  std::ifstream f(TARVO_SOURCE_DIR "/README.md");
  ASSERT_TRUE(f) << "README.md not found";
  std::stringstream readme;
  readme << f.rdbuf();
  EXPECT_NE(readme.str().find(ParameterTableMarkdown()), std::string::npos)
      << "README's frei0r parameter table is out of date; regenerate it with tarvo_frei0r_yml --markdown";
  const std::string yml = MetadataYaml();
  for (const Param& p : Params()) EXPECT_NE(yml.find("identifier: \"" + p.name + "\""), std::string::npos) << p.name;
}

// The metadata as editors read it: one block per parameter.
std::map<std::string, std::string> MetadataBlocks(const std::string& yml, std::string* head) {
  std::map<std::string, std::string> blocks;
  const std::string marker = "  - identifier: \"";
  size_t at = yml.find(marker);
  if (head) *head = yml.substr(0, at);
  while (at != std::string::npos) {
    const size_t nameEnd = yml.find('"', at + marker.size());
    const size_t next = yml.find(marker, nameEnd);
    blocks[yml.substr(at + marker.size(), nameEnd - at - marker.size())] = yml.substr(at, next - at);
    at = next;
  }
  return blocks;
}

TEST(Frei0rParams, MetadataGivesEditorsListsKeyframesTitlesAndDefaults) {
  std::string head;
  const auto blocks = MetadataBlocks(MetadataYaml(), &head);
  for (const char* key : {"\ncreator: ", "\nlicense: ", "\nnotes: "}) EXPECT_NE(head.find(key), std::string::npos) << key;
  // Parallel renders keep the order, and the note says so (nothing registers
  // the filter with MLT's thread list).
  EXPECT_NE(head.find("real_time below -1"), std::string::npos);
  EXPECT_NE(head.find("parallel processing) give the frames of one thread"), std::string::npos);
  EXPECT_EQ(head.find("parallel processing off"), std::string::npos);
  EXPECT_EQ(head.find("thread-safe"), std::string::npos);
  EXPECT_NE(head.find("field order"), std::string::npos);
  ASSERT_EQ(blocks.size(), Params().size());
  for (const Param& p : Params()) {
    SCOPED_TRACE(p.name);
    const std::string& b = blocks.at(p.name);
    EXPECT_EQ(b.find("(negated)"), std::string::npos);
    EXPECT_NE(b.find("\n    title: \"" + p.title + "\""), std::string::npos);
    EXPECT_NE(b.find("\n    default: "), std::string::npos);
    // A unit is a word after the number, never a range.
    EXPECT_EQ(b.find("unit:"), std::string::npos);
    if (!p.field) {
      EXPECT_NE(b.find("type: string"), std::string::npos);
      continue;
    }
    const SpecsField& f = *p.field;
    if (p.type == ParamType::Bool) {
      EXPECT_NE(b.find("type: boolean"), std::string::npos);
      continue;
    }
    EXPECT_NE(b.find("animation: yes"), std::string::npos);
    const bool listed = f.kind == FieldKind::Choice || f.kind == FieldKind::Bits;
    EXPECT_EQ(b.find("    values:\n") != std::string::npos, listed);
    if (!listed) continue;
    // Each listed value selects its own field value, in order.
    const std::vector<std::string> values = MetadataValues(f);
    ASSERT_EQ(values.size(), static_cast<size_t>(f.max - f.min + 1));
    for (int v = f.min; v <= f.max; ++v) {
      const std::string& text = values[static_cast<size_t>(v - f.min)];
      EXPECT_NE(b.find("      - " + text + "\n"), std::string::npos) << text;
      int16_t back = -1;
      ASSERT_TRUE(FromParamValue(f, std::stod(text), back));
      EXPECT_EQ(back, v) << text;
    }
  }
  EXPECT_NE(blocks.at("fields").find("default: \"progressive\""), std::string::npos);
  EXPECT_NE(blocks.at("record").find("default: \"\""), std::string::npos);
  EXPECT_NE(blocks.at("Gamma").find("title: \"Gamma\""), std::string::npos);
}

// The attributes of the parameter named `name` in Kdenlive's effect file.
std::map<std::string, std::string> KdenliveParameter(const std::string& xml, const std::string& name) {
  std::map<std::string, std::string> attrs;
  const size_t at = xml.find("name=\"" + name + "\"");
  if (at == std::string::npos) return attrs;
  const size_t start = xml.rfind("<parameter", at), end = xml.find('>', at);
  const std::string tag = xml.substr(start, end - start);
  for (size_t i = tag.find(' '); i != std::string::npos && i < tag.size();) {
    const size_t eq = tag.find("=\"", i);
    if (eq == std::string::npos) break;
    const size_t close = tag.find('"', eq + 2);
    attrs[tag.substr(i + 1, eq - i - 1)] = tag.substr(eq + 2, close - eq - 2);
    i = close + 1;
  }
  return attrs;
}

TEST(Frei0rParams, KdenliveEffectShowsRecordUnitsListsAndDefaults) {
  const std::string xml = KdenliveEffectXml();
  EXPECT_NE(xml.find("<effect tag=\"frei0r.tarvo\""), std::string::npos);
  const TSpecs defaults = BuiltInDefaultSpecs();
  for (const Param& p : Params()) {
    SCOPED_TRACE(p.name);
    auto a = KdenliveParameter(xml, p.name);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(xml.find("name=\"" + p.name + "\"", xml.find("name=\"" + p.name + "\"") + 1), std::string::npos);
    if (!p.field) {
      EXPECT_EQ(a["type"], p.name == "record" ? "url" : p.name == "fields" ? "list" : "keywords");
      EXPECT_EQ(a.count("default"), 1u);
      continue;
    }
    const SpecsField& f = *p.field;
    const int16_t def = GetField(defaults, f);
    if (p.type == ParamType::Bool) {
      EXPECT_EQ(a["type"], "bool");
      EXPECT_EQ(a["default"], def ? "1" : "0");
    } else if (f.kind == FieldKind::Choice || f.kind == FieldKind::Bits || (f.min != 0 && f.max - f.min <= 8)) {
      EXPECT_EQ(a["type"], "list");
      // The default is one of the listed values, and the one meaning the
      // default record value.
      EXPECT_NE((";" + a["paramlist"] + ";").find(";" + a["default"] + ";"), std::string::npos);
      int16_t back = -1;
      ASSERT_TRUE(FromParamValue(f, std::stod(a["default"]), back));
      EXPECT_EQ(back, def);
      // Every value of the field is listed, in order.
      std::stringstream list(a["paramlist"]);
      std::string item;
      int v = f.min;
      while (std::getline(list, item, ';')) {
        ASSERT_TRUE(FromParamValue(f, std::stod(item), back)) << item;
        EXPECT_EQ(back, v++) << item;
      }
      EXPECT_EQ(v, f.max + 1);
      if (f.kind == FieldKind::Number) {
        const size_t at = xml.find("name=\"" + p.name + "\"");
        EXPECT_NE(xml.find("<paramlistdisplay>" + std::to_string(f.min) + ",", at), std::string::npos);
      }
    } else {
      // Kdenlive 22.12 shows value * factor and has no offset: a range from
      // 0 in the record's units, a signed range shifted to start at 0, with
      // the shift in the title. No offset attribute, which a later Kdenlive
      // could add a second time.
      EXPECT_EQ(a["type"], "animated");
      EXPECT_EQ(a.count("offset"), 0u);
      const double factor = std::stod(a["factor"]);
      EXPECT_EQ(std::stod(a["min"]), 0);
      EXPECT_EQ(std::stod(a["max"]), f.max - f.min);
      EXPECT_EQ(factor, f.max - f.min);
      EXPECT_NEAR(std::stod(a["default"]) * factor + f.min, def, 1e-6);
      const size_t at = xml.find("name=\"" + p.name + "\"");
      const size_t nameAt = xml.find("<name>", at);
      const std::string title = xml.substr(nameAt + 6, xml.find("</name>", nameAt) - nameAt - 6);
      if (f.min != 0)
        EXPECT_NE(title.find("(" + std::to_string(-f.min) + " = 0)"), std::string::npos) << title;
      else
        EXPECT_EQ(title.find(" = 0)"), std::string::npos) << title;
    }
  }
}

TEST(Frei0rParams, FieldOrderNamesAreThoseOfTheCommand) {
  for (FieldOrder o : {FieldOrder::Progressive, FieldOrder::TopFirst, FieldOrder::BottomFirst}) {
    FieldOrder back = FieldOrder::Progressive;
    ASSERT_TRUE(ParseFieldOrder(FieldOrderName(o), back));
    EXPECT_EQ(back, o);
  }
  EXPECT_EQ(FieldFlagsOf(FieldOrder::TopFirst), 1);
  EXPECT_EQ(FieldFlagsOf(FieldOrder::BottomFirst), 2);
  FieldOrder o = FieldOrder::TopFirst;
  EXPECT_TRUE(ParseFieldOrder("", o));
  EXPECT_EQ(o, FieldOrder::Progressive);
  EXPECT_FALSE(ParseFieldOrder("TFF", o));
  const std::string list = FfmpegParams(BuiltInDefaultSpecs(), FieldOrder::BottomFirst);
  EXPECT_EQ(list.substr(list.rfind('|')), "|bff");
  EXPECT_EQ(std::count(list.begin(), list.end(), '|') + 1, ParamCount());
}

}  // namespace
}  // namespace tarvo::frei0r
