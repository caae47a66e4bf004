// The save-scene dialog's rules: the key filter, the saved name and the names
// OK refuses.
#include <gtest/gtest.h>

#include <string>

#include "ui/logic/scene_name.h"

namespace tarvo::ui {
namespace {

// Types `keys` one by one at the end of `start`, through the filter.
std::u32string TypeAtEnd(std::u32string start, std::u32string_view keys) {
  for (char32_t k : keys)
    if (auto c = FilterSceneNameKey(start, start.size(), k)) start.push_back(*c);
  return start;
}

TEST(SceneNameKeys, CapitalsAtTheStartAndAfterBlanks) {
  EXPECT_EQ(TypeAtEnd(U"", U"evening"), U"Evening");
  EXPECT_EQ(TypeAtEnd(U"", U"my scene"), U"My Scene");
  EXPECT_EQ(TypeAtEnd(U"", U"mY"), U"MY");
  EXPECT_EQ(TypeAtEnd(U"", U"old  film 2"), U"Old  Film 2");
  // Only a to z change case; other letters are kept as typed.
  EXPECT_EQ(TypeAtEnd(U"", U"\u00e9t\u00e9 x"), U"\u00e9t\u00e9 X");
}

TEST(SceneNameKeys, FirstCharacterBelowCapitalAIsRefused) {
  // A leading digit, blank or punctuation is dropped; the next letter then
  // starts the name.
  EXPECT_EQ(TypeAtEnd(U"", U"1st take"), U"St Take");
  EXPECT_EQ(TypeAtEnd(U"", U"  night"), U"Night");
  EXPECT_EQ(TypeAtEnd(U"", U"<none>"), U"None>");
  EXPECT_EQ(TypeAtEnd(U"", U"@A"), U"A");
  EXPECT_EQ(TypeAtEnd(U"", U"_x"), U"_x");  // "_" is above "A"
  // Digits later in the name are fine.
  EXPECT_EQ(TypeAtEnd(U"Take", U" 2"), U"Take 2");
}

TEST(SceneNameKeys, CaretInsideTheText) {
  // Typing at the start of an existing name.
  EXPECT_EQ(FilterSceneNameKey(U"ight", 0, U'n'), U'N');
  EXPECT_EQ(FilterSceneNameKey(U"ight", 0, U'9'), std::nullopt);
  // After a blank in the middle.
  EXPECT_EQ(FilterSceneNameKey(U"Old film", 4, U'x'), U'X');
  // After a letter.
  EXPECT_EQ(FilterSceneNameKey(U"Old film", 5, U'x'), U'x');
}

TEST(SceneNameSave, TrimsControlsAndBlanksAndCutsTo31Characters) {
  EXPECT_EQ(SceneNameToSave("  Evening \t\r\n"), "Evening");
  EXPECT_EQ(SceneNameToSave("\x01Night\x1f"), "Night");
  EXPECT_EQ(SceneNameToSave(std::string(40, 'A')), std::string(31, 'A'));
  // Characters, not bytes: 35 x "é" (two bytes each) keeps 31 of them.
  std::string accents;
  for (int i = 0; i < 35; ++i) accents += "\xc3\xa9";
  EXPECT_EQ(SceneNameToSave(accents).size(), 62u);
  EXPECT_EQ(SceneNameToSave("   "), "");
}

TEST(SceneNameSave, RefusesNoneBlankAndUnstorableNames) {
  EXPECT_EQ(RefuseSceneName("<none>"), "Cannot save scene \"<none>\"");
  // A name that would be saved as "<none>" is refused with the same words.
  EXPECT_EQ(RefuseSceneName("<none> "), "Cannot save scene \"<none>\"");
  EXPECT_FALSE(RefuseSceneName("").empty());
  EXPECT_FALSE(RefuseSceneName("   ").empty());
  // The scene file holds Windows-1252 only.
  EXPECT_FALSE(RefuseSceneName("Night \xe2\x98\x85").empty());
  EXPECT_EQ(RefuseSceneName("Evening"), "");
  EXPECT_EQ(RefuseSceneName("\xc3\x89t\xc3\xa9"), "");  // "Été"
}

}  // namespace
}  // namespace tarvo::ui
