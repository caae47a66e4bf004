#include "hostkit/clip_call.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace tarvo::hostkit {
namespace {

// An entry point that records what each call saw, and makes a record on a
// clip's first call as a filter does.
struct FakeFilter {
  struct Seen {
    int16_t selector;
    int32_t part;
    bool frames;
    int32_t sourceWidth;
  };
  std::vector<Seen> calls;
  bool throwOnExecute = false;

  static int32_t Entry(void* self, int16_t selector, CallRecordHandle record) {
    auto& f = *static_cast<FakeFilter*>(self);
    TFilterCallRecord& r = **record;
    f.calls.push_back({selector, r.Part, r.Source && r.Destination,
                       r.Source && *r.Source ? FrameWidth(**r.Source) : -1});
    if (!r.SpecsHandle) {
      r.SpecsHandle = InProcessHost().NewHandle(kSpecsSize);
      TSpecs s = BuiltInDefaultSpecs();
      s.Gain = 123;
      std::memcpy(*r.SpecsHandle, &s, kSpecsSize);
    }
    if (selector == kSelectorExecute && f.throwOnExecute) throw std::runtime_error("refused");
    return selector == kSelectorSetup ? kSetupCancel : 0;
  }
};

TEST(ClipCall, TheRecordTheFilterMakesBecomesTheClips) {
  FakeFilter filter;
  ClipCall clip(&FakeFilter::Entry, &filter);
  EXPECT_FALSE(clip.HasRecord());
  EXPECT_FALSE(clip.Record().has_value());
  EXPECT_EQ(clip.Prepare(7), 0);
  ASSERT_TRUE(clip.Record().has_value());
  EXPECT_EQ(clip.Record()->Gain, 123);
  EXPECT_EQ(clip.Setup(8), kSetupCancel);
  ASSERT_EQ(filter.calls.size(), 2u);
  EXPECT_EQ(filter.calls[0].selector, kSelectorPrepare);
  EXPECT_EQ(filter.calls[0].part, 7);
  EXPECT_FALSE(filter.calls[1].frames);

  // A block shorter than a record is kept as given but is not a record.
  const uint8_t shortBlock[10] = {1, 2, 3};
  ASSERT_TRUE(clip.SetRecordBlock(shortBlock, sizeof shortBlock));
  EXPECT_EQ(InProcessHost().GetHandleSize(clip.RecordHandle()), 10);
  EXPECT_EQ(clip.MutableRecord(), nullptr);
  TSpecs s = BuiltInDefaultSpecs();
  s.Gain = 55;
  ASSERT_TRUE(clip.SetRecord(s));
  EXPECT_EQ(clip.Record()->Gain, 55);
}

TEST(ClipCall, PackedFramesAreHandedForOneCallEvenWhenTheEntryPointThrows) {
  FakeFilter filter;
  ClipCall clip(&FakeFilter::Entry, &filter);
  std::vector<uint8_t> src(6 * 4 * 4), dst(src.size());
  EXPECT_EQ(clip.Execute(3, src.data(), dst.data(), 6, 4), 0);
  ASSERT_EQ(filter.calls.size(), 1u);
  EXPECT_TRUE(filter.calls[0].frames);
  EXPECT_EQ(filter.calls[0].sourceWidth, 6);
  EXPECT_EQ(clip.CallRecord().Source, nullptr);
  EXPECT_EQ(clip.CallRecord().Destination, nullptr);

  filter.throwOnExecute = true;
  EXPECT_THROW(clip.Execute(4, src.data(), dst.data(), 6, 4), std::runtime_error);
  EXPECT_EQ(clip.CallRecord().Source, nullptr);
  EXPECT_EQ(clip.CallRecord().Destination, nullptr);
}

TEST(ClipCall, WithoutAnEntryPointACallFails) {
  ClipCall clip;
  EXPECT_EQ(clip.Prepare(0), -1);
  EXPECT_FALSE(clip.HasRecord());
}

struct Solid : FrameProvider {
  uint8_t value;
  int32_t lastFrame = -100;
  explicit Solid(uint8_t v) : value(v) {}
  int32_t RenderFrame(int32_t frame, TPixBuffer& destination, const TRect&) override {
    lastFrame = frame;
    destination.Pixels[0] = value;
    return 0;
  }
};

TEST(ClipCall, TheFrameCallbackReachesTheProviderOfTheClipItNames) {
  ClipCall a, b;
  const char tagA[] = "clip a", tagB[] = "clip b";
  ASSERT_TRUE(a.SetPrivateData(tagA, sizeof tagA));
  ASSERT_TRUE(b.SetPrivateData(tagB, sizeof tagB));
  Solid pa(11), pb(22);
  // The call record is packed: its fields are read into locals before they
  // are compared, as a reference to one may be misaligned.
  FrameCallbackFn noneYet = a.CallRecord().FrameCallback;
  EXPECT_EQ(noneYet, nullptr);
  a.SetFrameProvider(&pa);
  b.SetFrameProvider(&pb);
  FrameCallbackFn set = a.CallRecord().FrameCallback;
  ASSERT_NE(set, nullptr);

  uint8_t pixels[4] = {};
  FrameSlot world(pixels, 1, 1);
  const TRect bounds{0, 0, 1, 1};
  FrameCallbackFn callback = b.CallRecord().FrameCallback;
  EXPECT_EQ(callback(5, world.handle(), &bounds, b.PrivateData()), 0);
  EXPECT_EQ(pixels[0], 22);
  EXPECT_EQ(pb.lastFrame, 5);
  EXPECT_EQ(callback(6, world.handle(), &bounds, a.PrivateData()), 0);
  EXPECT_EQ(pixels[0], 11);

  // New private data: the callback follows it.
  const char other[] = "clip a, again";
  ASSERT_TRUE(a.SetPrivateData(other, sizeof other));
  EXPECT_EQ(callback(7, world.handle(), &bounds, a.PrivateData()), 0);
  EXPECT_EQ(pa.lastFrame, 7);

  b.SetFrameProvider(nullptr);
  FrameCallbackFn cleared = b.CallRecord().FrameCallback;
  EXPECT_EQ(cleared, nullptr);
  EXPECT_EQ(callback(8, world.handle(), &bounds, b.PrivateData()), -1);
  EXPECT_EQ(callback(8, world.handle(), &bounds, nullptr), -1);
  EXPECT_EQ(callback(8, nullptr, &bounds, a.PrivateData()), -1);
}

TEST(FrameSlot, ACopyHandsOutItsOwnDescriptor) {
  uint8_t pixels[16] = {};
  FrameSlot a(pixels, 2, 2);
  FrameSlot b(a);
  EXPECT_EQ(*b.handle(), &b.desc());
  uint8_t* described = (*b.handle())->Pixels;
  EXPECT_EQ(described, pixels);
  b.Describe(pixels, 1, 1, 8);
  EXPECT_EQ(FrameWidth(**a.handle()), 2);
  EXPECT_EQ(FrameStride(**b.handle()), 8);
}

}  // namespace
}  // namespace tarvo::hostkit
