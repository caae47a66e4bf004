// Splitting work on a plane into row bands and running the bands, perhaps in
// parallel. Kernels stay row or band functions; the caller chooses how many
// bands to cut and hands them to a runner. A band always reads complete input
// planes and writes only its own rows, so the result never depends on the
// number of bands or threads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo {

// Rows [begin, end) of a plane.
struct RowRange {
  int32_t begin = 0;
  int32_t end = 0;
};

// Band `index` of `count` nearly equal bands over `rows` rows: the first
// rows % count bands are one row taller. count >= 1, 0 <= index < count.
inline RowRange BandRows(int32_t rows, int32_t count, int32_t index) {
  const int32_t base = rows / count, extra = rows % count;
  const int32_t begin = index * base + (index < extra ? index : extra);
  return RowRange{begin, begin + base + (index < extra ? 1 : 0)};
}

// Runs jobs 0..count-1 of one function and returns when every job is done.
// Jobs of one call may run at once on different threads, in any order; a job
// must not call Run on the same runner. A job that throws makes Run throw
// (the first exception) after every job of the call has ended.
class BandRunner {
 public:
  using Job = void (*)(void* context, int32_t index);
  virtual ~BandRunner() = default;
  // How many jobs may run at once (>= 1): the useful number of bands.
  virtual int32_t Parallelism() const = 0;
  virtual void Run(int32_t count, Job job, void* context) const = 0;
};

// Runs every job in turn on the calling thread.
class SerialRunner final : public BandRunner {
 public:
  int32_t Parallelism() const override { return 1; }
  void Run(int32_t count, Job job, void* context) const override {
    for (int32_t i = 0; i < count; ++i) job(context, i);
  }
};

// Runs fn(range, index) for each of `bands` bands of `rows` rows on the
// runner (fewer when there are fewer rows: every band has at least one row;
// index counts the bands actually cut). fn is any callable; it is called by
// reference, so nothing is allocated.
template <class Fn>
void ForEachIndexedBand(const BandRunner& runner, int32_t rows, int32_t bands, Fn&& fn) {
  if (bands > rows) bands = rows;
  if (bands <= 1) {
    if (rows > 0) fn(RowRange{0, rows}, int32_t{0});
    return;
  }
  struct Context {
    Fn* fn;
    int32_t rows;
    int32_t bands;
  } context{&fn, rows, bands};
  runner.Run(
      bands,
      [](void* c, int32_t index) {
        auto* ctx = static_cast<Context*>(c);
        (*ctx->fn)(BandRows(ctx->rows, ctx->bands, index), index);
      },
      &context);
}

// Runs fn(range) for each of `bands` bands of `rows` rows on the runner. fn is
// any callable taking a RowRange; it is called by reference, so nothing is
// allocated.
template <class Fn>
void ForEachBand(const BandRunner& runner, int32_t rows, int32_t bands, Fn&& fn) {
  ForEachIndexedBand(runner, rows, bands, [&fn](RowRange r, int32_t) { fn(r); });
}

// The part [a, b) of the linear index range [begin, end) of a plane `width`
// samples wide that lies in the rows of `band`; empty (a >= b) when none does.
struct LinearSpan {
  ptrdiff_t a, b;
  bool Empty() const { return a >= b; }
};
inline LinearSpan SpanInBand(RowRange band, ptrdiff_t width, ptrdiff_t begin, ptrdiff_t end) {
  const ptrdiff_t lo = band.begin * width, hi = band.end * width;
  return LinearSpan{begin > lo ? begin : lo, end < hi ? end : hi};
}

}  // namespace tarvo
