// Ordering of scene names: a locale-aware comparison that ignores letter
// case. The platform layer supplies the real one (ICU); the simple one here
// keeps the core usable on its own.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvo {

class Collator {
 public:
  virtual ~Collator() = default;
  // Compares two UTF-8 texts: negative, zero (equal but for letter case) or
  // positive.
  virtual int Compare(const std::string& a, const std::string& b) const = 0;

  // The positions 0..count-1 ordered by Compare on name(i), positions of
  // equal names in their original order. Implementations may sort by
  // precomputed sort keys instead of comparing texts again and again; the
  // result is the same.
  using NameAt = std::function<const std::string&(size_t)>;
  virtual std::vector<size_t> StableOrder(size_t count, const NameAt& name) const;
};

// Locale-free: blanks before punctuation and symbols, then digits, then
// letters; ASCII letters compare without regard to case; other characters
// by their UTF-8 bytes.
class SimpleCollator : public Collator {
 public:
  int Compare(const std::string& a, const std::string& b) const override;
};

}  // namespace tarvo
