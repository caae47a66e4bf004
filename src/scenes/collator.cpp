#include "scenes/collator.h"

#include <algorithm>

namespace tarvo {
namespace {

// Sort weight of one byte: blanks and controls, punctuation and symbols,
// digits, letters (either case), then the bytes of non-ASCII characters.
int Weight(unsigned char c) {
  if (c <= ' ') return c;
  if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
  if (c >= 0x80) return 0x300 + c;
  if (c >= 'a' && c <= 'z') return 0x200 + c;
  if (c >= '0' && c <= '9') return 0x100 + c;
  return 0x40 + c;
}

}  // namespace

std::vector<size_t> Collator::StableOrder(size_t count, const NameAt& name) const {
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return Compare(name(a), name(b)) < 0; });
  return order;
}

int SimpleCollator::Compare(const std::string& a, const std::string& b) const {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int d = Weight(static_cast<unsigned char>(a[i])) - Weight(static_cast<unsigned char>(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace tarvo
