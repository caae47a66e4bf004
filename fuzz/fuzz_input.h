// Reads a fuzzer's input as a sequence of small numbers and byte runs. Past
// the end every read gives zero, so any input (the empty one too) is a
// complete test case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

namespace tarvo::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  // A number in lo..hi (hi - lo below 65536).
  int Range(int lo, int hi) {
    const unsigned span = static_cast<unsigned>(hi - lo) + 1u;
    const unsigned raw = span <= 256 ? Byte() : Word();
    return lo + static_cast<int>(raw % span);
  }
  // Up to n bytes; fewer when the input runs out.
  std::string Bytes(size_t n) {
    const size_t k = n < size_ - pos_ ? n : size_ - pos_;
    std::string out(reinterpret_cast<const char*>(data_ + pos_), k);
    pos_ += k;
    return out;
  }
  std::string Rest() { return Bytes(size_ - pos_); }
  size_t Remaining() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Stops the run with a message when a checked property fails; libFuzzer keeps
// the input that did it.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

}  // namespace tarvo::fuzz
