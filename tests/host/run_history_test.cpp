#include "host/run_history.h"

#include <climits>
#include <cstring>

#include <gtest/gtest.h>

#include "host/frame_plan.h"

namespace tarvo {
namespace {

struct History {
  PlaneReserver reserver;
  RunHistory history{reserver};
  uint8_t privateBlock[RunHistory::kPrivateBytes] = {};

  void Call(int32_t part) { history.Detect(part, 100, 1, 0, privateBlock); }
};

void Picture(TChannel& plane, uint8_t value) {
  plane.SetSize(8, 6, 1);
  plane.Fill(value);
}

TEST(RunHistory, PartNumbersDoNotWrapIntoARun) {
  History h;
  h.Call(INT32_MAX - 1);
  h.Call(INT32_MAX);
  ASSERT_EQ(h.history.RunLength(), 1);
  h.Call(INT32_MIN);
  EXPECT_EQ(h.history.RunLength(), 0);
  // A break asked for by the pipeline wins over matching values.
  h.Call(INT32_MIN + 1);
  ASSERT_EQ(h.history.RunLength(), 1);
  h.history.Break();
  h.Call(INT32_MIN + 2);
  EXPECT_EQ(h.history.RunLength(), 0);
}

TEST(RunHistory, SavesMoveBuffersWithoutCopying) {
  History h;
  TChannel work;
  Picture(work, 1);
  const uint8_t* first = work.Data();
  h.history.Save(kChainY, work, 2);
  Picture(work, 2);
  h.history.Save(kChainY, work, 2);
  Picture(work, 3);
  const uint8_t* third = work.Data();
  h.history.Save(kChainY, work, 2);

  const TChannel& prev = h.history.Previous(kChainY);
  const TChannel& prev2 = h.history.SecondPrevious(kChainY);
  EXPECT_EQ(prev.Data(), third);
  EXPECT_EQ(prev.Data()[0], 3);
  EXPECT_EQ(prev2.Data()[prev2.ByteSize() - 1], 2);
  // The working plane got the buffer of the oldest picture back.
  EXPECT_EQ(work.Data(), first);
  EXPECT_EQ(work.Width(), 8);
  EXPECT_EQ(work.Height(), 6);
  // The other chains were left alone.
  EXPECT_FALSE(h.history.Previous(kChainU).HasBuffer());

  Picture(work, 4);
  h.history.Save(kChainY, work, 1);  // frame mode keeps no picture two back
  EXPECT_EQ(h.history.Previous(kChainY).Data()[0], 4);
  EXPECT_FALSE(h.history.SecondPrevious(kChainY).HasBuffer());

  h.history.Save(kChainY, work, kNoSave);
  EXPECT_TRUE(h.history.Previous(kChainY).HasBuffer());
  h.history.Save(kChainY, work, 0);
  EXPECT_FALSE(h.history.Previous(kChainY).HasBuffer());
}

TEST(RunHistory, UsableOnlyAtTheSizeAndDepthOfItsOwnChain) {
  History h;
  TChannel y, u, v;
  y.SetSize(8, 6, 1);
  u.SetSize(4, 6, 2);
  v.SetSize(4, 6, 2);
  h.history.Save(kChainY, y, 1);
  h.history.Save(kChainU, u, 1);
  h.history.Save(kChainV, v, 1);

  h.history.NoteUsable(8, 6, 4, 6);
  for (int chain : {kChainY, kChainU, kChainV}) {
    EXPECT_TRUE(h.history.Usable(chain, 1)) << chain;
    EXPECT_FALSE(h.history.Usable(chain, 2)) << chain;  // never saved in field mode
  }
  h.history.NoteUsable(8, 6, 8, 6);  // 4:4:4 now: the colour history is of the old size
  EXPECT_TRUE(h.history.Usable(kChainY, 1));
  EXPECT_FALSE(h.history.Usable(kChainU, 1));
  EXPECT_FALSE(h.history.Usable(kChainV, 1));

  h.history.Drop();
  h.history.NoteUsable(8, 6, 4, 6);
  EXPECT_FALSE(h.history.Usable(kChainY, 1));
  EXPECT_EQ(h.history.RunLength(), 0);
}

}  // namespace
}  // namespace tarvo
