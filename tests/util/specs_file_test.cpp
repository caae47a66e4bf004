#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
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

TEST(Specs, RecordPathsThatAreNotFilesOrTooLargeAreRefusedBeforeReading) {
  ::alarm(20);  // a read that blocks on the pipe ends the test
  test::TempDir dir;
  const TSpecs original = BuiltInDefaultSpecs();
  auto refused = [&](const std::string& path, const std::string& reason) {
    TSpecs untouched = original;
    std::string err;
    EXPECT_FALSE(ReadSpecsFile(path, untouched, &err)) << path;
    EXPECT_NE(err.find("'" + path + "'"), std::string::npos) << err;
    EXPECT_NE(err.find(reason), std::string::npos) << err;
    EXPECT_EQ(std::memcmp(&untouched, &original, sizeof original), 0);
  };
  refused(dir.path(), "directory");
  ASSERT_EQ(::mkfifo((dir / "pipe.rec").c_str(), 0600), 0);
  refused(dir / "pipe.rec", "named pipe");
  // 20 GB of nothing: refused by its size, not read.
  const std::string huge = dir / "huge.rec";
  const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  if (::ftruncate(fd, off_t{20} << 30) == 0) refused(huge, "it holds 21474836480 bytes, a record is exactly 256");
  ::close(fd);
  // One byte too many.
  const std::string bytes(257, '\0');
  test::WriteText(dir / "long.rec", bytes);
  refused(dir / "long.rec", "it holds 257 bytes");
  ::alarm(0);
}

}  // namespace
}  // namespace tarvo
