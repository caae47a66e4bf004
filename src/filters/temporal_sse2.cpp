#include "filters/temporal_kernels.h"

namespace tarvo::temporal_detail {

void Diff8Sse2(const uint8_t* cur, uint8_t* hist, ptrdiff_t a, ptrdiff_t b) { Diff8Scalar(cur, hist, a, b); }
void Diff16Sse2(const int16_t* cur, int16_t* hist, ptrdiff_t a, ptrdiff_t b) { Diff16Scalar(cur, hist, a, b); }
void Main8Sse2(uint8_t* cur, const uint8_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  Main8Scalar(cur, hist, w, a, b, t);
}
void Main16Sse2(int16_t* cur, const int16_t* hist, ptrdiff_t w, ptrdiff_t a, ptrdiff_t b, const TemporalTables& t) {
  Main16Scalar(cur, hist, w, a, b, t);
}

}  // namespace tarvo::temporal_detail
