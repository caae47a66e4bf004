#include "util/scaler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/test_support.h"

namespace tarvo {
namespace {

// A frame whose pixels name their own column and row.
test::TestFrame CoordinateFrame(int w, int h) {
  test::TestFrame f(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = f.pixel(x, y);
      p[0] = static_cast<uint8_t>(x & 0xFF);
      p[1] = static_cast<uint8_t>(x >> 8);
      p[2] = static_cast<uint8_t>(y & 0xFF);
      p[3] = static_cast<uint8_t>(y >> 8);
    }
  return f;
}

int ColumnOf(const uint8_t* p) { return p[0] | p[1] << 8; }
int RowOf(const uint8_t* p) { return p[2] | p[3] << 8; }

TEST(ScaleFrame, ReducesToTheWorkImageWithNearestRowsAndColumns) {
  test::TestFrame src = CoordinateFrame(720, 480);
  test::TestFrame dst(240, 180);
  ASSERT_TRUE(ScaleFrame(src.desc(), dst.desc()));
  EXPECT_EQ(ColumnOf(dst.pixel(239, 0)), 719);
  EXPECT_EQ(RowOf(dst.pixel(0, 179)), 479);
  EXPECT_EQ(ColumnOf(dst.pixel(1, 0)), 3);  // rnd(719 / 239)
  EXPECT_EQ(ColumnOf(dst.pixel(0, 0)), 0);
  // Every entry is the nearest source index, ties to even: 719 * i / 239 and
  // 479 * j / 179 never tie, so plain rounding checks them.
  for (int j = 0; j < 180; ++j)
    for (int i = 0; i < 240; ++i) {
      ASSERT_EQ(ColumnOf(dst.pixel(i, j)), static_cast<int>(719.0 * i / 239 + 0.5)) << i;
      ASSERT_EQ(RowOf(dst.pixel(i, j)), static_cast<int>(479.0 * j / 179 + 0.5)) << j;
    }
  EXPECT_TRUE(dst.GuardsIntact());
}

TEST(ScaleFrame, SameSizeCopiesAndEnlargingTiesGoToEven) {
  std::mt19937 rng(test::TestSeed());
  test::TestFrame src(33, 7), dst(33, 7);
  src.FillRandom(rng);
  ASSERT_TRUE(ScaleFrame(src.desc(), dst.desc()));
  EXPECT_EQ(std::memcmp(src.pixel(0, 0), dst.pixel(0, 0), 33 * 7 * 4), 0);

  // 3 columns onto 5: 2 * i / 4 = 0, 0.5, 1, 1.5, 2 -> 0, 0, 1, 2, 2.
  test::TestFrame small = CoordinateFrame(3, 2), big(5, 3);
  ASSERT_TRUE(ScaleFrame(small.desc(), big.desc()));
  const int expect[5] = {0, 0, 1, 2, 2};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ColumnOf(big.pixel(i, 0)), expect[i]);
  EXPECT_EQ(RowOf(big.pixel(0, 1)), 0);  // 1 * 1 / 2 = 0.5 -> 0
  EXPECT_EQ(RowOf(big.pixel(0, 2)), 1);
  EXPECT_TRUE(big.GuardsIntact());
}

TEST(ScaleFrame, RefusesSizesItCannotMap) {
  test::TestFrame src(16, 16);
  std::string error;
  for (auto [w, h] : {std::pair{1, 180}, std::pair{240, 1}, std::pair{0, 0}, std::pair{4097, 2}}) {
    test::TestFrame dst(std::max(w, 1), std::max(h, 1));
    dst.desc().Bounds.right = w;
    dst.desc().Bounds.bottom = h;
    error.clear();
    EXPECT_FALSE(ScaleFrame(src.desc(), dst.desc(), &error)) << w << " x " << h;
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(dst.GuardsIntact());
  }
  test::TestFrame widest(4096, 2);
  EXPECT_TRUE(ScaleFrame(src.desc(), widest.desc()));
  EXPECT_TRUE(widest.GuardsIntact());

  TPixBuffer empty = src.desc();
  empty.Pixels = nullptr;
  test::TestFrame dst(4, 4);
  EXPECT_FALSE(ScaleFrame(empty, dst.desc(), &error));
  empty = src.desc();
  empty.Bounds.right = 0;
  EXPECT_FALSE(ScaleFrame(empty, dst.desc(), &error));
  EXPECT_TRUE(ScaleFrame(src.desc(), dst.desc(), nullptr));
}

}  // namespace
}  // namespace tarvo
