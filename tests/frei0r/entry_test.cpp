// The frei0r entry points under allocation failure: every allocation an
// entry point makes is failed in turn. No exception may reach the host, a
// parameter is either set completely or left as it was, and a frame is either
// processed or passed through unchanged.
extern "C" {
#include <frei0r.h>
}

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_instance.h"
#include "instance.h"
#include "reference.h"
#include "types/frame_view.h"
#include "util/specs_file.h"

// Allocation with one planned failure: the allocation numbered by
// FailAllocation (0 = the next one) throws std::bad_alloc, once.
namespace {

std::atomic<long> g_allocationsBeforeFailure{-1};  // -1: none fails
std::atomic<bool> g_failed{false};

void* Allocate(std::size_t n, std::size_t align) {
  long left = g_allocationsBeforeFailure.load();
  while (left >= 0 && !g_allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) {
    g_failed = true;
    throw std::bad_alloc();
  }
  if (n == 0) n = 1;
  void* p = align > alignof(std::max_align_t) ? std::aligned_alloc(align, (n + align - 1) / align * align)
                                              : std::malloc(n);
  if (!p) throw std::bad_alloc();
  return p;
}

void FailAllocation(long n) {
  g_failed = false;
  g_allocationsBeforeFailure = n;
}

// True when the planned failure happened.
bool StopFailing() {
  g_allocationsBeforeFailure = -1;
  return g_failed.exchange(false);
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n, 0); }
void* operator new[](std::size_t n) { return Allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) { return Allocate(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return Allocate(n, static_cast<std::size_t>(a)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace tarvo::frei0r {
namespace {

constexpr int kWidth = 48, kHeight = 32;
constexpr long kMaxAllocations = 5000;  // far more than any one call makes

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("tarvo_frei0r_entry_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

class Frei0rEntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = TempPath("registry.reg");
    ::setenv("TARVO_REGISTRY", registry_.c_str(), 1);
    ::unsetenv("TARVO_OPMODE");
    record_ = TempPath("clip.rec");
    specs_ = test::TemporalRecord();
    std::string error;
    ASSERT_TRUE(WriteSpecsFile(record_, specs_, &error)) << error;
    ASSERT_EQ(f0r_init(), 1);
    testing::internal::CaptureStderr();  // the reports of the failures
  }
  void TearDown() override {
    testing::internal::GetCapturedStderr();
    std::filesystem::remove(record_);
    std::filesystem::remove(registry_);
    std::filesystem::remove(registry_ + ".lock");
  }

  // The clip's instance behind a frei0r handle.
  static Instance& Of(f0r_instance_t i) { return static_cast<HostInstance*>(i)->Target(); }
  static bool Same(const TSpecs& a, const TSpecs& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
  static std::string RecordParam(f0r_instance_t i) {
    const char* text = nullptr;
    f0r_get_param_value(i, &text, kRecordParam);
    return text ? text : "";
  }

  std::string registry_, record_;
  TSpecs specs_{};
};

TEST_F(Frei0rEntryPoints, ConstructionEitherSucceedsOrReturnsNull) {
  for (long n = 0; n < kMaxAllocations; ++n) {
    f0r_instance_t inst = nullptr;
    FailAllocation(n);
    EXPECT_NO_THROW(inst = f0r_construct(kWidth, kHeight)) << "allocation " << n;
    const bool failed = StopFailing();
    if (inst) f0r_destruct(inst);
    if (!failed) {
      EXPECT_NE(inst, nullptr);
      return;
    }
  }
  FAIL() << "construction never succeeded";
}

// A size the engine cannot take fails construction, which hosts report (FFmpeg
// stops with an error), instead of frames passing through unprocessed.
TEST_F(Frei0rEntryPoints, SizesTheEngineCannotTakeAreRefusedAtConstruction) {
  EXPECT_EQ(f0r_construct(kMaxOwnFrameWidth + 1, 2), nullptr);
  EXPECT_EQ(f0r_construct(0, 2), nullptr);
  EXPECT_EQ(f0r_construct(2, 0), nullptr);
  EXPECT_EQ(f0r_construct(2, kMaxOwnFrameHeight + 1), nullptr);
  // Standard error is captured from SetUp to TearDown.
  const std::string said = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  EXPECT_NE(said.find("at most " + std::to_string(kMaxOwnFrameWidth) + " pixels wide"), std::string::npos) << said;
  // Wider than a video host's descriptor can describe, but ours: made.
  f0r_instance_t widest = f0r_construct(kMaxOwnFrameWidth, 2);
  EXPECT_NE(widest, nullptr);
  if (widest) f0r_destruct(widest);
}

TEST_F(Frei0rEntryPoints, AParameterIsSetCompletelyOrNotAtAll) {
  for (int param : {kRecordParam, kSceneParam}) {
    for (long n = 0;; ++n) {
      ASSERT_LT(n, kMaxAllocations);
      f0r_instance_t inst = f0r_construct(kWidth, kHeight);
      ASSERT_NE(inst, nullptr);
      const TSpecs before = Of(inst).Record();
      const char* value = param == kRecordParam ? record_.c_str() : "Interview";
      FailAllocation(n);
      EXPECT_NO_THROW(f0r_set_param_value(inst, &value, param)) << "allocation " << n;
      const bool failed = StopFailing();
      const TSpecs after = Of(inst).Record();
      const char* shown = nullptr;
      f0r_get_param_value(inst, &shown, param);
      const bool set = shown && std::string(shown) == value;
      if (param == kRecordParam) {
        EXPECT_TRUE(set ? Same(after, specs_) : Same(after, before)) << "allocation " << n;
      } else {
        EXPECT_TRUE(set ? after.UseMaster == 1 && SceneNameOf(after) == "Interview" : Same(after, before))
            << "allocation " << n;
      }
      f0r_destruct(inst);
      if (!failed) {
        EXPECT_TRUE(set) << "no failure, yet the parameter was not set";
        break;
      }
    }
  }
}

TEST_F(Frei0rEntryPoints, AFrameIsProcessedOrPassedThroughUnchanged) {
  const test::Clip clip = test::MakeClip(kWidth, kHeight, 1, 5);
  const std::vector<uint32_t> expected = test::ReferenceRender(clip, specs_).frames[0];
  const std::vector<uint32_t>& in = clip.frames[0];
  ASSERT_NE(expected, in);
  for (bool inPlace : {false, true}) {
    for (long n = 0;; ++n) {
      ASSERT_LT(n, kMaxAllocations);
      f0r_instance_t inst = f0r_construct(kWidth, kHeight);
      ASSERT_NE(inst, nullptr);
      const char* path = record_.c_str();
      f0r_set_param_value(inst, &path, kRecordParam);
      std::vector<uint32_t> out = inPlace ? in : std::vector<uint32_t>(in.size(), 0xDEADBEEF);
      FailAllocation(n);
      EXPECT_NO_THROW(f0r_update(inst, 0.0, inPlace ? out.data() : in.data(), out.data())) << "allocation " << n;
      const bool failed = StopFailing();
      f0r_destruct(inst);
      if (!failed) {
        EXPECT_EQ(out, expected) << "no failure, yet the frame was not processed";
        break;
      }
      EXPECT_TRUE(out == in || out == expected) << "allocation " << n << (inPlace ? ", in place" : "");
    }
  }
}

}  // namespace
}  // namespace tarvo::frei0r
