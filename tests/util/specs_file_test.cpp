#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "util/atomic_file.h"
#include "util/specs_file.h"

namespace tarvo {
namespace {

TEST(Specs, RecordFilesOfTheWrongSizeAreRefusedWithoutTouchingTheRecord) {
  char dir[] = "/tmp/tarvo-specs-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/clip.rec";
  TSpecs s = BuiltInDefaultSpecs();
  s.Lift = 12;
  std::string err;
  ASSERT_TRUE(WriteSpecsFile(path, s, &err)) << err;
  TSpecs back{};
  ASSERT_TRUE(ReadSpecsFile(path, back, &err)) << err;
  EXPECT_EQ(back.Lift, 12);

  const uint8_t half[100] = {};
  ASSERT_TRUE(WriteFileAtomically(path, half, sizeof half, &err));
  TSpecs untouched = BuiltInDefaultSpecs();
  EXPECT_FALSE(ReadSpecsFile(path, untouched, &err));
  EXPECT_NE(err.find("100 bytes"), std::string::npos) << err;
  EXPECT_EQ(untouched.Lift, 0);
  EXPECT_FALSE(ReadSpecsFile(std::string(dir) + "/missing.rec", untouched, &err));
  EXPECT_FALSE(WriteSpecsFile("/nonexistent-dir/x.rec", s, &err));
  unlink(path.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace tarvo
