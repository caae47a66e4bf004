// Runs one fuzz target over its seed inputs. A failed check aborts with the
// target's message, which fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(FuzzCorpus, EverySeedPassesTheTargetsChecks) {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(TARVO_FUZZ_CORPUS))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty()) << "no seeds in " << TARVO_FUZZ_CORPUS;
  for (const auto& f : files) {
    SCOPED_TRACE(f.string());
    std::ifstream in(f, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  }
  // The empty input is a complete case for every target.
  EXPECT_EQ(LLVMFuzzerTestOneInput(nullptr, 0), 0);
}

}  // namespace
