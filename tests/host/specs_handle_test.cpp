#include <gtest/gtest.h>

#include "host/specs_handle.h"
#include "platform/host_services.h"

namespace tarvo {
namespace {

TEST(SpecsHandle, Format69RecordGrowsAndPassesThroughEveryUpgrade) {
  HostServices& host = InProcessHost();
  OwnedHandle h(host.NewHandle(200));  // older records were shorter
  auto* s = reinterpret_cast<TSpecs*>(*h.get());
  s->Version = 69;
  s->Knee = 30;
  s->YSharpness = 40;
  s->CSharpness = 1;  // selector: luminance only
  EXPECT_TRUE(UpgradeSpecs(h.get(), host));
  ASSERT_EQ(host.GetHandleSize(h.get()), 256);
  s = reinterpret_cast<TSpecs*>(*h.get());
  EXPECT_EQ(s->Version, 72);
  EXPECT_EQ(s->Knee, 70);
  EXPECT_EQ(s->Slope, 50);
  EXPECT_EQ(SceneNameOf(*s), "<none>");
  EXPECT_EQ(s->YSharpness, 40);
  EXPECT_EQ(s->CSharpness, 0);
  EXPECT_FALSE(UpgradeSpecs(h.get(), host));
}

TEST(SpecsHandle, HandlesTooShortToHoldAVersionAreLeftAlone) {
  HostServices& host = InProcessHost();
  OwnedHandle h(host.NewHandle(1));
  (*h.get())[0] = 69;
  EXPECT_FALSE(UpgradeSpecs(h.get(), host));
  EXPECT_EQ(host.GetHandleSize(h.get()), 1);
  EXPECT_FALSE(UpgradeSpecs(nullptr, host));
}

}  // namespace
}  // namespace tarvo
