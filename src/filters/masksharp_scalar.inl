// Internal: scalar range kernels. Included by each kernel unit inside an
// unnamed namespace, so every instruction set gets its own copy (no inline
// function compiled with AVX2 can be shared with the plain path).
// Requires filters/masksharp_kernels.h.

template <class T>
void EdgeScalar(const T* s, uint8_t* e, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
  for (ptrdiff_t i = begin; i < end; ++i) {
    const int32_t ul = s[i - w - 1], up = s[i - w], ur = s[i - w + 1];
    const int32_t l = s[i - 1], r = s[i + 1];
    const int32_t dl = s[i + w - 1], dn = s[i + w], dr = s[i + w + 1];
    const int32_t gy = 2 * up + ul + ur - 2 * dn - dl - dr;
    const int32_t gx = 2 * l + ul + dl - 2 * r - ur - dr;
    const int32_t v = (gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy);
    e[i] = static_cast<uint8_t>(v < 255 ? v : 255);
  }
}

inline void Box3Scalar(const uint8_t* e, uint8_t* m, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
  for (ptrdiff_t i = begin; i < end; ++i) {
    int32_t sum = 0;
    for (ptrdiff_t dy = -w; dy <= w; dy += w)
      for (ptrdiff_t dx = -1; dx <= 1; ++dx) sum += e[i + dy + dx];
    m[i] = static_cast<uint8_t>(sum / 9);
  }
}

inline void Box5Scalar(const uint8_t* e, uint8_t* m, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
  for (ptrdiff_t i = begin; i < end; ++i) {
    int32_t sum = 0;
    for (ptrdiff_t dy = -2 * w; dy <= 2 * w; dy += w)
      for (ptrdiff_t dx = -2; dx <= 2; ++dx) sum += e[i + dy + dx];
    m[i] = static_cast<uint8_t>(sum / 25);
  }
}

template <class T, int R>
void BlurScalar(const T* s, T* d, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
  for (ptrdiff_t i = begin; i < end; ++i) {
    const int32_t c = s[i];
    const int32_t cross = s[i - 1] + s[i + 1] + s[i - w] + s[i + w];
    int32_t v;
    if constexpr (R == 1) {
      v = (4 * c + 3 * cross) >> 4;
    } else if constexpr (R == 2) {
      const int32_t diag = s[i - w - 1] + s[i - w + 1] + s[i + w - 1] + s[i + w + 1];
      v = (4 * c + 2 * cross + diag) >> 4;
    } else {
      const ptrdiff_t w2 = 2 * w;
      const int32_t ones = s[i - w - 1] + s[i - w + 1] + s[i + w - 1] + s[i + w + 1] +      // diagonals
                           s[i - 2] + s[i + 2] + s[i - w2] + s[i + w2] +                    // distance 2
                           s[i - w2 - 1] + s[i - w2 + 1] + s[i + w2 - 1] + s[i + w2 + 1] +  // knight
                           s[i - w - 2] + s[i - w + 2] + s[i + w - 2] + s[i + w + 2];
      v = (8 * c + 2 * cross + ones) >> 5;
    }
    d[i] = static_cast<T>(v);
  }
}

inline void ApplyMask8Scalar(const uint8_t* f, uint8_t* t, const uint8_t* m, ptrdiff_t n, WeightParams wp) {
  for (ptrdiff_t i = 0; i < n; ++i) t[i] = static_cast<uint8_t>(Blend(t[i], f[i], FastWeight(m[i], wp)));
}
inline void ApplyMask16Scalar(const int16_t* f, int16_t* t, const uint8_t* m, ptrdiff_t n, WeightParams wp) {
  for (ptrdiff_t i = 0; i < n; ++i) t[i] = static_cast<int16_t>(Blend(t[i], f[i], FastWeight(m[i], wp)));
}
inline void ShowMask8Scalar(const uint8_t* m, uint8_t* o, ptrdiff_t n, WeightParams wp) {
  for (ptrdiff_t i = 0; i < n; ++i) o[i] = static_cast<uint8_t>(FastWeight(m[i], wp));
}
inline void ShowMask16Scalar(const uint8_t* m, int16_t* o, ptrdiff_t n, WeightParams wp) {
  for (ptrdiff_t i = 0; i < n; ++i) o[i] = static_cast<int16_t>(FastWeight(m[i], wp));
}
inline void PlainSharpen8Scalar(uint8_t* p, const uint8_t* b, ptrdiff_t n, int32_t k0, int32_t g) {
  for (ptrdiff_t i = 0; i < n; ++i) p[i] = Sharpen8(p[i], b[i], (k0 * LevelX8(b[i], g)) >> 8);
}
inline void PlainSharpen16Scalar(int16_t* p, const int16_t* b, ptrdiff_t n, int32_t k0, int32_t g) {
  for (ptrdiff_t i = 0; i < n; ++i) p[i] = Sharpen16(p[i], b[i], (k0 * LevelX16(b[i], g)) >> 8);
}
inline void MaskSharpen8Scalar(uint8_t* p, const uint8_t* b, const uint8_t* m, ptrdiff_t n, int32_t k0,
                               WeightParams wp) {
  for (ptrdiff_t i = 0; i < n; ++i) p[i] = Sharpen8(p[i], b[i], (k0 * FastWeight(m[i], wp)) >> 8);
}
inline void MaskSharpen16Scalar(int16_t* p, const int16_t* b, const uint8_t* m, ptrdiff_t n, int32_t k0,
                                WeightParams wp) {
  for (ptrdiff_t i = 0; i < n; ++i) p[i] = Sharpen16(p[i], b[i], (k0 * FastWeight(m[i], wp)) >> 8);
}
inline void PlainEdges8Scalar(uint8_t* p, const uint8_t* b, ptrdiff_t n, int32_t g) {
  for (ptrdiff_t i = 0; i < n; ++i) p[i] = Edge8(p[i], b[i], LevelX8(b[i], g));
}
inline void PlainEdges16Scalar(int16_t* p, const int16_t* b, ptrdiff_t n, int32_t g) {
  for (ptrdiff_t i = 0; i < n; ++i) p[i] = Edge16(p[i], b[i], LevelX16(b[i], g));
}
inline void MaskEdges8Scalar(uint8_t* p, const uint8_t* b, const uint8_t* m, ptrdiff_t n, WeightParams wp) {
  for (ptrdiff_t i = 0; i < n; ++i) p[i] = Edge8(p[i], b[i], FastWeight(m[i], wp));
}
inline void MaskEdges16Scalar(int16_t* p, const int16_t* b, const uint8_t* m, ptrdiff_t n, WeightParams wp) {
  for (ptrdiff_t i = 0; i < n; ++i) p[i] = Edge16(p[i], b[i], FastWeight(m[i], wp));
}
