// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostkit/frame_slot.h"
#include "planes/channel.h"
#include "types/pix_buffer.h"

namespace tarvo::test {

// A seeded generator; the seed is printed with any failure of the test that
// made it (SCOPED_TRACE) so the case can be replayed with TARVO_TEST_SEED.
uint32_t TestSeed();

// Fills a plane with random samples: Depth 1 over 0..255, Depth 2 over
// [lo, hi]. With `extremes`, roughly one sample in eight is an extreme value
// (0/255 or -32768/32767).
void FillRandom(TChannel& plane, std::mt19937& rng, int lo = -32768, int hi = 32767, bool extremes = true);
bool PlanesEqual(const TChannel& a, const TChannel& b);
// First differing sample as "index i: a vs b", or "" when equal.
std::string FirstDifference(const TChannel& a, const TChannel& b);

int Sample(const TChannel& p, int x, int y);
void SetSample(TChannel& p, int x, int y, int v);

// A frame buffer owned by the test, with optional padding at the end of each
// row (RowBytes > width * 4) and a guard band filled with a marker byte before
// and after the pixels to catch stray writes.
class TestFrame {
 public:
  TestFrame(int width, int height, int padBytesPerRow = 0);
  // Moving keeps the pixels (the storage moves with the frame); a copy would
  // share them.
  TestFrame(TestFrame&&) = default;
  TestFrame& operator=(TestFrame&&) = default;
  TestFrame(const TestFrame&) = delete;
  TestFrame& operator=(const TestFrame&) = delete;
  TPixBuffer& desc() { return slot_.desc(); }
  PixBufferHandle handle() { return slot_.handle(); }
  uint8_t* pixel(int x, int y) { return desc().Pixels + static_cast<size_t>(y) * desc().RowBytes + x * 4; }
  void FillRandom(std::mt19937& rng);
  bool GuardsIntact() const;
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kMarker = 0xA5;
  int width_, height_;
  std::vector<uint8_t> storage_;
  hostkit::FrameSlot slot_;
};

}  // namespace tarvo::test
