#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "platform/host_services.h"

namespace tarvo {
namespace {

TEST(HostServices, HandlesGrowKeepingTheirBytes) {
  HostServices& host = InProcessHost();
  OwnedHandle h(host.NewHandle(10));
  ASSERT_NE(h.get(), nullptr);
  EXPECT_EQ(host.GetHandleSize(h.get()), 10);
  std::memcpy(*h.get(), "abcdefghij", 10);
  ASSERT_TRUE(host.SetHandleSize(h.get(), 256));
  EXPECT_EQ(host.GetHandleSize(h.get()), 256);
  EXPECT_EQ(std::memcmp(*h.get(), "abcdefghij", 10), 0);
  EXPECT_EQ((*h.get())[255], 0);
  EXPECT_EQ(host.GetHandleSize(nullptr), 0);
  EXPECT_FALSE(host.SetHandleSize(nullptr, 4));
}

TEST(HostServices, AHandleTheHostMadeItselfIsNeverReadPastItsMasterPointer) {
  HostServices& host = InProcessHost();
  // A host's own handle: a lone master pointer on the heap, so that reading
  // past it is caught by the address sanitizer.
  uint8_t block[4] = {1, 2, 3, 4};
  auto master = std::make_unique<uint8_t*>(block);
  Handle foreign = master.get();
  EXPECT_FALSE(host.OwnsHandle(foreign));
  EXPECT_EQ(host.GetHandleSize(foreign), 0);
  EXPECT_FALSE(host.SetHandleSize(foreign, 256));
  host.DisposeHandle(foreign);  // not ours: left alone
  EXPECT_EQ(*foreign, block);
  EXPECT_EQ(block[3], 4);
  EXPECT_EQ(UsableHandleSize(host, foreign, 64), 64);
  uint8_t* nil = nullptr;
  EXPECT_EQ(UsableHandleSize(host, &nil, 64), 0);

  // Our own handles are known by their address, until they are freed.
  Handle own = host.NewHandle(10);
  ASSERT_NE(own, nullptr);
  EXPECT_TRUE(host.OwnsHandle(own));
  EXPECT_EQ(UsableHandleSize(host, own, 64), 10);
  host.DisposeHandle(own);
  EXPECT_FALSE(host.OwnsHandle(own));
  EXPECT_FALSE(host.OwnsHandle(nullptr));
}

TEST(HostServices, WorldsAreBottomUpFramesOfTheRequestedSize) {
  HostServices& host = InProcessHost();
  int16_t world = 0;
  ASSERT_EQ(host.NewPWorld(&world, TRect{0, 0, 240, 180}), 0);
  PixBufferHandle bits = host.GetPWorldBits(world);
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(FrameWidth(**bits), 240);
  EXPECT_EQ(FrameHeight(**bits), 180);
  EXPECT_EQ((**bits).RowBytes, 960);
  int drawn = 0;
  SetDrawTarget([&](const TPixBuffer& f, void*, const TRect&, const TRect&) { drawn += FrameWidth(f); });
  host.PPixToScreen(bits, nullptr, TRect{0, 0, 240, 180}, TRect{0, 0, 120, 90});
  SetDrawTarget({});
  host.PPixToScreen(bits, nullptr, TRect{0, 0, 240, 180}, TRect{0, 0, 120, 90});
  EXPECT_EQ(drawn, 240);
  host.DisposePWorld(world);
  EXPECT_EQ(host.GetPWorldBits(world), nullptr);
  EXPECT_NE(host.NewPWorld(&world, TRect{0, 0, 0, 10}), 0);
  EXPECT_EQ(host.HostMainWindow(), nullptr);
}

}  // namespace
}  // namespace tarvo
