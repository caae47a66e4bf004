// Shotcut's filter files for the plug-in (hosts/frei0r/shotcut): the panel's
// settings and the keyframes panel must name real parameters, in the record's
// own ranges and defaults, so that a slider shows what the plug-in does.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "params.h"

namespace tarvo::frei0r {
namespace {

std::string ReadText(const std::string& name) {
  std::ifstream f(std::string(TARVO_SOURCE_DIR) + "/hosts/frei0r/shotcut/" + name);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

const Param* FindParam(const std::string& name) {
  for (const Param& p : Params())
    if (p.name == name) return &p;
  return nullptr;
}

TEST(ShotcutFiles, PanelSettingsMatchTheParameters) {
  const std::string ui = ReadText("ui.qml");
  ASSERT_FALSE(ui.empty());
  const std::regex line(
      R"(\{ property: '(\w+)', title: qsTr\('[^']+'\), minimum: (-?\d+), maximum: (-?\d+), defaultValue: (-?\d+), suffix: '([^']*)' \})");
  const TSpecs defaults = BuiltInDefaultSpecs();
  std::set<std::string> panel;
  for (auto it = std::sregex_iterator(ui.begin(), ui.end(), line); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    const std::string name = m[1];
    SCOPED_TRACE(name);
    EXPECT_TRUE(panel.insert(name).second) << "listed twice";
    const Param* p = FindParam(name);
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->field, nullptr);
    ASSERT_EQ(p->type, ParamType::Double);
    const SpecsField& f = *p->field;
    EXPECT_EQ(std::stoi(m[2]), f.min);
    EXPECT_EQ(std::stoi(m[3]), f.max);
    EXPECT_EQ(std::stoi(m[4]), GetField(defaults, f));
    EXPECT_EQ(m[5].str(), f.unit.empty() ? "" : " " + std::string(f.unit));
    // The panel's mapping reaches every value of the range exactly.
    for (int v = f.min; v <= f.max; ++v) {
      int16_t back = 0;
      ASSERT_TRUE(FromParamValue(f, static_cast<double>(v - f.min) / (f.max - f.min), back));
      ASSERT_EQ(back, v);
    }
  }
  // The record, the scene, the field order and the settings people change most.
  EXPECT_EQ(panel, (std::set<std::string>{"Lift", "Gain", "Gamma", "Sat", "YDespeckle", "CDespeckle", "YSharpness",
                                          "TempYThreshold", "TempCThreshold"}));
  for (const char* s : {"'record'", "'scene'", "'fields'"}) EXPECT_NE(ui.find(s), std::string::npos) << s;
  EXPECT_NE(ui.find("['progressive', 'tff', 'bff']"), std::string::npos);
  // The record goes in as a keyframe at 0, so that Shotcut keeps its whole
  // path when it saves the project.
  EXPECT_NE(ui.find("return path === '' ? '' : '0=' + path;"), std::string::npos);
  EXPECT_EQ(ui.find("filter.set('record', recordField.text)"), std::string::npos);
}

TEST(ShotcutFiles, MetadataNamesTheServiceAndKeyframesThePanelSettings) {
  const std::string meta = ReadText("meta.qml");
  ASSERT_FALSE(meta.empty());
  EXPECT_NE(meta.find("mlt_service: 'frei0r.tarvo'"), std::string::npos);
  EXPECT_NE(meta.find("qml: 'ui.qml'"), std::string::npos);
  const std::regex keyframed(R"(Parameter \{ name: qsTr\('[^']+'\); property: '(\w+)'; isCurve: true; minimum: 0; maximum: 1 \})");
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(meta.begin(), meta.end(), keyframed); it != std::sregex_iterator(); ++it) {
    const Param* p = FindParam((*it)[1]);
    ASSERT_NE(p, nullptr) << (*it)[1];
    EXPECT_EQ(p->type, ParamType::Double) << (*it)[1];
    names.insert((*it)[1]);
  }
  EXPECT_EQ(names, (std::set<std::string>{"Lift", "Gain", "Gamma", "Sat", "YDespeckle", "CDespeckle", "YSharpness",
                                          "TempYThreshold", "TempCThreshold"}));
}

}  // namespace
}  // namespace tarvo::frei0r
