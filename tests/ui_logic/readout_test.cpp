#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "ui/logic/readout.h"

namespace tarvo::ui {
namespace {

TEST(Readout, GammaReadsTenToTheMinusPositionOverHundred) {
  EXPECT_EQ(ReadoutText(ReadoutCode::G, 50, "."), "0.32");
  EXPECT_EQ(ReadoutText(ReadoutCode::G, -100, "."), "10.00");
  EXPECT_EQ(ReadoutText(ReadoutCode::G, 100, "."), "0.10");
  EXPECT_EQ(ReadoutText(ReadoutCode::G, 0, "."), "1.00");
  EXPECT_EQ(ReadoutText(ReadoutCode::G, -50, ","), "3,16");
}

TEST(Readout, RecursionReadsTwoTimesTwoToThePositionOverFifty) {
  EXPECT_EQ(ReadoutText(ReadoutCode::R, 0, "."), "2.00");
  EXPECT_EQ(ReadoutText(ReadoutCode::R, 50, "."), "4.00");
  EXPECT_EQ(ReadoutText(ReadoutCode::R, 100, "."), "8.00");
  EXPECT_EQ(ReadoutText(ReadoutCode::R, 25, ","), "2,83");
}

TEST(Readout, PercentAndIntegerReadouts) {
  EXPECT_EQ(ReadoutText(ReadoutCode::P, 150, "."), "1.50");
  EXPECT_EQ(ReadoutText(ReadoutCode::P, 5, ","), "0,05");
  EXPECT_EQ(ReadoutText(ReadoutCode::P, 200, "."), "2.00");
  EXPECT_EQ(ReadoutText(ReadoutCode::P, 0, "."), "0.00");
  EXPECT_EQ(ReadoutText(ReadoutCode::P, -5, "."), "-0.05");
  EXPECT_EQ(ReadoutText(ReadoutCode::I, -100, ","), "-100");
  EXPECT_EQ(ReadoutText(ReadoutCode::None, 7, "."), "");
}

// Every position of the two exponential readouts is the value rounded to
// hundredths, whatever separator is asked for.
TEST(Readout, EveryExponentialPositionIsRoundedToHundredths) {
  for (int p = -100; p <= 100; ++p) {
    const long double g = std::pow(10.0L, -p / 100.0L);
    const long double r = 2.0L * std::pow(2.0L, p / 50.0L);
    for (auto [code, value] : {std::pair{ReadoutCode::G, g}, std::pair{ReadoutCode::R, r}}) {
      const long long hundredths = std::llround(value * 100.0L);
      const std::string want = std::to_string(hundredths / 100) + "'" + (hundredths % 100 < 10 ? "0" : "") +
                               std::to_string(hundredths % 100);
      EXPECT_EQ(ReadoutText(code, p, "'"), want) << static_cast<char>(code) << " at " << p;
    }
  }
}

// A Qt application sets the C locale from the environment; the readouts must
// not pick up its separator on their own.
TEST(Readout, TheCLocaleDoesNotChangeTheText) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
    GTEST_SKIP() << "no locale with a decimal comma installed";
  EXPECT_EQ(ReadoutText(ReadoutCode::G, 50, "."), "0.32");
  EXPECT_EQ(ReadoutText(ReadoutCode::R, 25, "."), "2.83");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ClipLevelText, DecimalIntegersOnly) {
  EXPECT_EQ(ParseClipLevel("300"), 300);
  EXPECT_EQ(ParseClipLevel(" 16 "), 16);
  EXPECT_EQ(ParseClipLevel("-5"), -5);
  EXPECT_EQ(ParseClipLevel("+7"), 7);
  EXPECT_EQ(ParseClipLevel("0016"), 16);
  EXPECT_EQ(ParseClipLevel("99999999999"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ParseClipLevel("-99999999999"), std::numeric_limits<int32_t>::min());
  for (const char* bad : {"", " ", "abc", "12a", "1 2", "-", "+", "1.5", "0x10", "$10"})
    EXPECT_FALSE(ParseClipLevel(bad).has_value()) << '"' << bad << '"';
}

}  // namespace
}  // namespace tarvo::ui
