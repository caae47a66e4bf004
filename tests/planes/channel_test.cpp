#include <gtest/gtest.h>

#include "planes/channel.h"

namespace tarvo {
namespace {

TEST(Channel, BufferAppearsOnlyWhenAllThreeDimensionsAreSet) {
  TChannel c;
  EXPECT_FALSE(c.HasBuffer());
  c.SetWidth(720);
  c.SetHeight(576);
  EXPECT_FALSE(c.HasBuffer());
  c.SetDepth(1);
  ASSERT_TRUE(c.HasBuffer());
  EXPECT_EQ(c.ByteSize(), 414720u);
}

TEST(Channel, SameValueKeepsSamplesAndNewValueReallocates) {
  TChannel c;
  c.SetSize(720, 576, 2);
  c.Fill(7);
  uint8_t* before = c.Data();
  c.SetWidth(720);
  EXPECT_EQ(c.Data(), before);
  EXPECT_EQ(c.Data()[1000], 7);
  c.SetWidth(360);
  EXPECT_EQ(c.ByteSize(), 414720u);
  c.SetDepth(0);
  EXPECT_FALSE(c.HasBuffer());
  c.SetDepth(2);
  EXPECT_EQ(c.ByteSize(), 360u * 576u * 2u);
}

TEST(Channel, ExchangeSwapsBuffersAndCopyFillWorkOnWholeBuffer) {
  TChannel a, b;
  a.SetSize(4, 3, 2);
  b.SetSize(4, 3, 2);
  a.Fill(0);
  b.Fill(128);
  uint8_t* pa = a.Data();
  a.Exchange(b);
  EXPECT_EQ(b.Data(), pa);
  EXPECT_EQ(a.Data()[23], 128);
  b.CopyFrom(a);
  EXPECT_EQ(b.Data()[0], 128);
  EXPECT_EQ(b.Data()[23], 128);
}

}  // namespace
}  // namespace tarvo
