// Scene names as the tarvo command reads them from its arguments and shows
// them: the same conversion the filter uses, and bad text refused whole.
#include <gtest/gtest.h>

#include <string>

#include "types/specs.h"
#include "record_source.h"
#include "scenes/cp1252.h"
#include "text_encoding.h"

namespace tarvo::cli {
namespace {

// Found by fuzzing (fuzz_cli_text): text that is not UTF-8 was cut short at
// the first bad byte and the rest reported as a good name.
TEST(CliTextEncoding, TextThatIsNotUtf8IsRefusedNotCutShort) {
  for (const std::string& bad : {std::string("Caf\xff", 4), std::string("Caf\xc3", 4), std::string("\xc0\x80x", 3),
                                std::string("A\xc3(", 3), std::string("\xed\xa0\x80", 3)}) {
    SCOPED_TRACE(bad);
    std::string out = "unchanged", error;
    EXPECT_FALSE(Utf8ToCp1252(bad, out, &error));
    EXPECT_FALSE(error.empty());
  }
  TSpecs record = BuiltInDefaultSpecs();
  std::string error;
  EXPECT_FALSE(ApplyUserAssignment(record, std::string("SceneName=Caf\xff", 14), &error));
  EXPECT_EQ(SceneNameOf(record), "<none>");
}

// Found by fuzzing: the five bytes Windows-1252 leaves unassigned were shown
// as U+FFFD, which no command could take back, while the scene commands and
// the filter show them as the control characters of the same number.
TEST(CliTextEncoding, EveryStoredByteIsShownAsTheFilterShowsItAndReadsBack) {
  for (int b = 1; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string stored(1, static_cast<char>(b));
    const std::string shown = Cp1252ToUtf8(stored);
    EXPECT_EQ(shown, tarvo::Cp1252ToUtf8(stored));
    std::string back;
    ASSERT_TRUE(Utf8ToCp1252(shown, back, nullptr));
    EXPECT_EQ(back, stored);
  }
  std::string out, error;
  EXPECT_TRUE(Utf8ToCp1252("Caf\xc3\xa9 \xe2\x82\xac", out, &error));
  EXPECT_EQ(out, "Caf\xe9 \x80");
  EXPECT_FALSE(Utf8ToCp1252("\xe2\x82\xad", out, &error));  // U+20AD has no single byte
}

}  // namespace
}  // namespace tarvo::cli
