#include <cstring>

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
