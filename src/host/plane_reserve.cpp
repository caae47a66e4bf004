#include "host/plane_reserve.h"

#include <new>

namespace tarvo {

void PlaneReserver::Reserve(TChannel& plane, int32_t width, int32_t height, int32_t depth) {
  const bool sameSize = plane.Width() == width && plane.Height() == height && plane.Depth() == depth;
  const bool empty = width <= 0 || height <= 0 || depth <= 0;
  if (sameSize && (plane.HasBuffer() || empty)) return;
  if (!empty && failAt_.load() > 0 && failAt_.fetch_sub(1) == 1) throw std::bad_alloc();
  // Depth 0 first, so that changing the other two dimensions allocates
  // nothing and the final depth allocates once. A plane left without buffer
  // by an earlier failure gets one here as well.
  plane.SetDepth(0);
  plane.SetWidth(width);
  plane.SetHeight(height);
  plane.SetDepth(depth);
}

}  // namespace tarvo
