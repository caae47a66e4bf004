// The reader of stored files: what lies at a path is checked before a byte
// is read, and nothing at a path can block it or make it read without end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "util/file_read.h"

namespace tarvo {
namespace {

using test::TempDir;
using test::WriteText;

// A read that blocks ends the test program instead of hanging the suite.
class Watchdog {
 public:
  explicit Watchdog(unsigned seconds) { ::alarm(seconds); }
  ~Watchdog() { ::alarm(0); }
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(StoredFileReader, ReadsRegularFilesUpToTheLimitAndRefusesEverythingElse) {
  Watchdog watchdog(20);
  TempDir dir;
  std::vector<uint8_t> out;
  std::string error;
  uint64_t size = 99;

  WriteText(dir / "ten", "0123456789");
  ASSERT_EQ(ReadStoredFile(dir / "ten", 10, out, &error, &size), ReadStatus::Ok) << error;
  EXPECT_EQ(std::string(out.begin(), out.end()), "0123456789");
  EXPECT_EQ(size, 10u);
  // Through a symbolic link, as dotfile managers keep them.
  std::filesystem::create_symlink(dir / "ten", dir / "link");
  ASSERT_EQ(ReadStoredFile(dir / "link", 10, out, &error), ReadStatus::Ok) << error;
  EXPECT_EQ(out.size(), 10u);
  WriteText(dir / "empty", "");
  EXPECT_EQ(ReadStoredFile(dir / "empty", 0, out, &error), ReadStatus::Ok);
  EXPECT_TRUE(out.empty());

  // One byte over the limit: nothing is read.
  EXPECT_EQ(ReadStoredFile(dir / "ten", 9, out, &error, &size), ReadStatus::TooLarge);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(size, 10u);
  EXPECT_TRUE(Contains(error, dir / "ten")) << error;
  EXPECT_TRUE(Contains(error, "10 bytes")) << error;

  EXPECT_EQ(ReadStoredFile(dir / "none", 10, out, &error), ReadStatus::Missing);
  EXPECT_TRUE(Contains(error, dir / "none")) << error;

  error.clear();
  EXPECT_EQ(ReadStoredFile(dir.path(), 1 << 20, out, &error), ReadStatus::NotRegular);
  EXPECT_TRUE(Contains(error, dir.path()) && Contains(error, "directory")) << error;

  // A named pipe without a writer would block an ordinary open for ever.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(ReadStoredFile(dir / "pipe", 1 << 20, out, &error), ReadStatus::NotRegular);
  EXPECT_TRUE(Contains(error, "named pipe")) << error;

  // A device that never ends.
  EXPECT_EQ(ReadStoredFile("/dev/zero", 1 << 20, out, &error), ReadStatus::NotRegular);
  EXPECT_TRUE(Contains(error, "device")) << error;
}

TEST(StoredFileReader, AHugeSparseFileIsRefusedWithoutBeingRead) {
  Watchdog watchdog(20);
  TempDir dir;
  const std::string path = dir / "huge";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  const off_t twentyGb = off_t{20} << 30;
  const bool sparse = ::ftruncate(fd, twentyGb) == 0;
  ::close(fd);
  if (!sparse) GTEST_SKIP() << "no sparse files here";
  std::vector<uint8_t> out;
  std::string error;
  uint64_t size = 0;
  EXPECT_EQ(ReadStoredFile(path, 64 << 20, out, &error, &size), ReadStatus::TooLarge);
  EXPECT_EQ(size, static_cast<uint64_t>(twentyGb));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(Contains(error, "more than the 64 MiB")) << error;
}

TEST(StoredFileReader, AFileWithoutReadPermissionIsAFailureNotMissing) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not apply to root";
  TempDir dir;
  WriteText(dir / "secret", "x");
  ::chmod((dir / "secret").c_str(), 0);
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_EQ(ReadStoredFile(dir / "secret", 10, out, &error), ReadStatus::Failed);
  EXPECT_TRUE(Contains(error, dir / "secret")) << error;
}

}  // namespace
}  // namespace tarvo
