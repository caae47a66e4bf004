#include "support/test_support.h"

#include <cstdlib>
#include <cstring>

namespace tarvo::test {

uint32_t TestSeed() {
  static const uint32_t seed = [] {
    if (const char* s = std::getenv("TARVO_TEST_SEED")) return static_cast<uint32_t>(std::strtoul(s, nullptr, 10));
    return static_cast<uint32_t>(std::random_device{}());
  }();
  return seed;
}

void FillRandom(TChannel& plane, std::mt19937& rng, int lo, int hi, bool extremes) {
  const int n = plane.Samples();
  if (plane.Depth() == 1) {
    std::uniform_int_distribution<int> d(0, 255), pick(0, 15);
    uint8_t* p = plane.Data();
    for (int i = 0; i < n; ++i) {
      int r = extremes ? pick(rng) : 2;
      p[i] = static_cast<uint8_t>(r == 0 ? 0 : r == 1 ? 255 : d(rng));
    }
  } else if (plane.Depth() == 2) {
    std::uniform_int_distribution<int> d(lo, hi), pick(0, 15);
    int16_t* p = plane.Data16();
    for (int i = 0; i < n; ++i) {
      int r = extremes ? pick(rng) : 2;
      p[i] = static_cast<int16_t>(r == 0 ? -32768 : r == 1 ? 32767 : d(rng));
    }
  }
}

bool PlanesEqual(const TChannel& a, const TChannel& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && a.Depth() == b.Depth() &&
         (a.ByteSize() == 0 || std::memcmp(a.Data(), b.Data(), a.ByteSize()) == 0);
}

std::string FirstDifference(const TChannel& a, const TChannel& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Depth() != b.Depth()) return "sizes differ";
  for (int i = 0; i < a.Samples(); ++i) {
    int va = a.Depth() == 1 ? a.Data()[i] : a.Data16()[i];
    int vb = b.Depth() == 1 ? b.Data()[i] : b.Data16()[i];
    if (va != vb)
      return "index " + std::to_string(i) + " (x " + std::to_string(i % a.Width()) + ", y " +
             std::to_string(i / a.Width()) + "): " + std::to_string(va) + " vs " + std::to_string(vb);
  }
  return "";
}

int Sample(const TChannel& p, int x, int y) {
  const int i = y * p.Width() + x;
  return p.Depth() == 1 ? p.Data()[i] : p.Data16()[i];
}

void SetSample(TChannel& p, int x, int y, int v) {
  const int i = y * p.Width() + x;
  if (p.Depth() == 1)
    p.Data()[i] = static_cast<uint8_t>(v);
  else
    p.Data16()[i] = static_cast<int16_t>(v);
}

TestFrame::TestFrame(int width, int height, int padBytesPerRow) : width_(width), height_(height) {
  const size_t stride = static_cast<size_t>(width) * 4 + padBytesPerRow;
  storage_.assign(kGuard * 2 + stride * height, kMarker);
  slot_.Describe(storage_.data() + kGuard, width, height, static_cast<int32_t>(stride));
}

void TestFrame::FillRandom(std::mt19937& rng) {
  std::uniform_int_distribution<int> d(0, 255);
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_ * 4; ++x) pixel(0, y)[x] = static_cast<uint8_t>(d(rng));
}

bool TestFrame::GuardsIntact() const {
  for (size_t i = 0; i < kGuard; ++i)
    if (storage_[i] != kMarker || storage_[storage_.size() - 1 - i] != kMarker) return false;
  return true;
}

}  // namespace tarvo::test
