// Internal: vector range kernels, written once over an instruction-set
// wrapper I (16-bit lanes in a register of I::kBytes bytes). Included by each
// kernel unit inside an unnamed namespace after masksharp_scalar.inl.
//
// Depth 1 kernels load I::kBytes bytes, widen them into two halves of 16-bit
// lanes with the in-lane unpacks and pack the halves back with the matching
// in-lane pack, so the sample order is restored on every width. Depth 2
// kernels that need 32-bit products use madd on interleaved pairs and pack
// the two 32-bit halves back in the same way. Anything left over at the end of
// a range goes through the scalar kernels.

template <class I>
struct Simd {
  using V = typename I::V;
  static constexpr ptrdiff_t kB = I::kBytes;      // bytes per register
  static constexpr ptrdiff_t kN = I::kBytes / 2;  // 16-bit lanes per register

  static V Lo(V v) { return I::UnpackLo8(v, I::Zero()); }
  static V Hi(V v) { return I::UnpackHi8(v, I::Zero()); }
  // (a * b) >> 8 and (a * b) >> 6 for products whose shifted value fits 16 bits.
  static V MulShr8(V a, V b) { return I::Or(I::template Slli16<8>(I::Mulhi16(a, b)), I::template Srli16<8>(I::Mullo16(a, b))); }
  static V MulShr6(V a, V b) { return I::Or(I::template Slli16<10>(I::Mulhi16(a, b)), I::template Srli16<6>(I::Mullo16(a, b))); }
  static V Abs16(V v) { return I::Max16(v, I::Sub16(I::Zero(), v)); }
  static V Abs32(V v) {
    const V s = I::template Srai32<31>(v);
    return I::Sub32(I::Xor(v, s), s);
  }
  static V Pair(int w0, int w1) { return I::Set32(static_cast<int32_t>((static_cast<uint32_t>(w1) << 16) | (static_cast<uint32_t>(w0) & 0xFFFFu))); }

  struct WeightV {
    V centre, lo, hi, c128, c255;
    __m128i count;
    explicit WeightV(const WeightParams& wp)
        : centre(I::Set16(wp.centre)), lo(I::Set16(-128)), hi(I::Set16(127)), c128(I::Set16(128)),
          c255(I::Set16(255)), count(_mm_cvtsi32_si128(wp.shift)) {}
    // m: mask values 0..255 in 16-bit lanes.
    V operator()(V m) const {
      V d = I::Max16(I::Min16(I::Sub16(m, centre), hi), lo);
      d = I::Add16(I::Sll16(d, count), c128);
      return I::Max16(I::Min16(d, c255), I::Zero());
    }
  };

  // ---- Mask creation --------------------------------------------------------

  static V EdgeHalf8(V ul, V up, V ur, V l, V r, V dl, V dn, V dr) {
    const V gy = I::Sub16(I::Add16(I::Add16(I::Add16(up, up), ul), ur), I::Add16(I::Add16(I::Add16(dn, dn), dl), dr));
    const V gx = I::Sub16(I::Add16(I::Add16(I::Add16(l, l), ul), dl), I::Add16(I::Add16(I::Add16(r, r), ur), dr));
    return I::Add16(Abs16(gx), Abs16(gy));
  }

  static void Edge8(const uint8_t* s, uint8_t* e, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    ptrdiff_t i = begin;
    for (; i + kB <= end; i += kB) {
      const uint8_t* p = s + i;
      const V ul = I::Load(p - w - 1), up = I::Load(p - w), ur = I::Load(p - w + 1);
      const V l = I::Load(p - 1), r = I::Load(p + 1);
      const V dl = I::Load(p + w - 1), dn = I::Load(p + w), dr = I::Load(p + w + 1);
      const V a = EdgeHalf8(Lo(ul), Lo(up), Lo(ur), Lo(l), Lo(r), Lo(dl), Lo(dn), Lo(dr));
      const V b = EdgeHalf8(Hi(ul), Hi(up), Hi(ur), Hi(l), Hi(r), Hi(dl), Hi(dn), Hi(dr));
      I::Store(e + i, I::PackUs16(a, b));  // saturation gives min(.., 255)
    }
    EdgeScalar(s, e, w, i, end);
  }

  // |Gx| + |Gy| of kN 16-bit samples, saturated into 0..32767.
  static V Edge16Block(const int16_t* p, ptrdiff_t w) {
    const V ul = I::Load(p - w - 1), up = I::Load(p - w), ur = I::Load(p - w + 1);
    const V l = I::Load(p - 1), r = I::Load(p + 1);
    const V dl = I::Load(p + w - 1), dn = I::Load(p + w), dr = I::Load(p + w + 1);
    const V p21 = Pair(2, 1), p1m2 = Pair(1, -2), pm1 = Pair(-1, -1);
    auto sum3 = [](V a0, V a1, V b0, V b1, V c0, V c1, V wa, V wb, V wc, bool hi) {
      auto mix = [hi](V x, V y) { return hi ? I::UnpackHi16(x, y) : I::UnpackLo16(x, y); };
      return I::Add32(I::Add32(I::Madd16(mix(a0, a1), wa), I::Madd16(mix(b0, b1), wb)), I::Madd16(mix(c0, c1), wc));
    };
    V half[2];
    for (int h = 0; h < 2; ++h) {
      const V gy = sum3(up, ul, ur, dn, dl, dr, p21, p1m2, pm1, h == 1);
      const V gx = sum3(l, ul, dl, r, ur, dr, p21, p1m2, pm1, h == 1);
      half[h] = I::Add32(Abs32(gx), Abs32(gy));
    }
    return I::PackS32(half[0], half[1]);
  }

  static void Edge16(const int16_t* s, uint8_t* e, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    ptrdiff_t i = begin;
    for (; i + 2 * kN <= end; i += 2 * kN) {
      const V a = Edge16Block(s + i, w), b = Edge16Block(s + i + kN, w);
      I::StorePackedUs16(e + i, a, b);
    }
    EdgeScalar(s, e, w, i, end);
  }

  static void Box3(const uint8_t* e, uint8_t* m, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    const V magic = I::Set16(7282);  // floor(x * 7282 / 65536) == x / 9 for x <= 2295
    ptrdiff_t i = begin;
    for (; i + kB <= end; i += kB) {
      V a = I::Zero(), b = I::Zero();
      for (ptrdiff_t dy = -w; dy <= w; dy += w)
        for (ptrdiff_t dx = -1; dx <= 1; ++dx) {
          const V v = I::Load(e + i + dy + dx);
          a = I::Add16(a, Lo(v));
          b = I::Add16(b, Hi(v));
        }
      I::Store(m + i, I::PackUs16(I::MulhiU16(a, magic), I::MulhiU16(b, magic)));
    }
    Box3Scalar(e, m, w, i, end);
  }

  // The 5x5 sum as five column sums (two rows up to two rows down) spread over
  // the five columns; 16-bit lanes hold up to 25 * 255.
  static void Box5(const uint8_t* e, uint8_t* m, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    const V magic = I::Set16(5243);  // (x * 5243) >> 17 == x / 25 for x <= 6375
    ptrdiff_t i = begin;
    for (; i + kB <= end; i += kB) {
      V a = I::Zero(), b = I::Zero();
      for (ptrdiff_t dy = -2 * w; dy <= 2 * w; dy += w)
        for (ptrdiff_t dx = -2; dx <= 2; ++dx) {
          const V v = I::Load(e + i + dy + dx);
          a = I::Add16(a, Lo(v));
          b = I::Add16(b, Hi(v));
        }
      a = I::template Srli16<1>(I::MulhiU16(a, magic));
      b = I::template Srli16<1>(I::MulhiU16(b, magic));
      I::Store(m + i, I::PackUs16(a, b));
    }
    Box5Scalar(e, m, w, i, end);
  }

  // ---- Blur -----------------------------------------------------------------

  template <int R>
  static void Blur8(const uint8_t* s, uint8_t* d, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    ptrdiff_t i = begin;
    const V three = I::Set16(3);
    for (; i + kB <= end; i += kB) {
      const uint8_t* p = s + i;
      V out[2];
      const V c = I::Load(p), l = I::Load(p - 1), r = I::Load(p + 1), u = I::Load(p - w), dn = I::Load(p + w);
      for (int h = 0; h < 2; ++h) {
        auto wid = [h](V v) { return h ? Hi(v) : Lo(v); };
        const V cc = wid(c);
        const V cross = I::Add16(I::Add16(wid(l), wid(r)), I::Add16(wid(u), wid(dn)));
        if constexpr (R == 1) {
          out[h] = I::template Srli16<4>(I::Add16(I::template Slli16<2>(cc), I::Mullo16(cross, three)));
        } else if constexpr (R == 2) {
          const V diag = I::Add16(I::Add16(wid(I::Load(p - w - 1)), wid(I::Load(p - w + 1))),
                                  I::Add16(wid(I::Load(p + w - 1)), wid(I::Load(p + w + 1))));
          out[h] = I::template Srli16<4>(
              I::Add16(I::Add16(I::template Slli16<2>(cc), I::template Slli16<1>(cross)), diag));
        } else {
          const ptrdiff_t w2 = 2 * w;
          static constexpr int kOnes = 16;
          const ptrdiff_t offs[kOnes] = {-w - 1, -w + 1, w - 1,  w + 1,  -2,     2,      -w2,    w2,
                                         -w2 - 1, -w2 + 1, w2 - 1, w2 + 1, -w - 2, -w + 2, w - 2, w + 2};
          V ones = I::Zero();
          for (int k = 0; k < kOnes; ++k) ones = I::Add16(ones, wid(I::Load(p + offs[k])));
          out[h] = I::template Srli16<5>(
              I::Add16(I::Add16(I::template Slli16<3>(cc), I::template Slli16<1>(cross)), ones));
        }
      }
      I::Store(d + i, I::PackUs16(out[0], out[1]));
    }
    BlurScalar<uint8_t, R>(s, d, w, i, end);
  }

  // Depth 2: weighted sums in 32 bits through madd over pairs of taps.
  template <int R>
  static void Blur16(const int16_t* s, int16_t* d, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    const ptrdiff_t w2 = 2 * w;
    struct Tap {
      ptrdiff_t off;
      int weight;
    };
    // Taps with the centre first; an odd count is padded with a zero-weight tap.
    Tap taps[22];
    int n = 0;
    if constexpr (R == 1) {
      const Tap t[] = {{0, 4}, {-1, 3}, {1, 3}, {-w, 3}, {w, 3}, {0, 0}};
      for (const Tap& x : t) taps[n++] = x;
    } else if constexpr (R == 2) {
      const Tap t[] = {{0, 4}, {-1, 2}, {1, 2}, {-w, 2}, {w, 2}, {-w - 1, 1}, {-w + 1, 1}, {w - 1, 1}, {w + 1, 1}, {0, 0}};
      for (const Tap& x : t) taps[n++] = x;
    } else {
      const Tap t[] = {{0, 8},       {-1, 2},      {1, 2},      {-w, 2},     {w, 2},      {-w - 1, 1},
                       {-w + 1, 1},  {w - 1, 1},   {w + 1, 1},  {-2, 1},     {2, 1},      {-w2, 1},
                       {w2, 1},      {-w2 - 1, 1}, {-w2 + 1, 1}, {w2 - 1, 1}, {w2 + 1, 1}, {-w - 2, 1},
                       {-w + 2, 1},  {w - 2, 1},   {w + 2, 1},  {0, 0}};
      for (const Tap& x : t) taps[n++] = x;
    }
    constexpr int kShift = R == 3 ? 5 : 4;
    V pairs[11];
    for (int k = 0; k < n / 2; ++k) pairs[k] = Pair(taps[2 * k].weight, taps[2 * k + 1].weight);
    ptrdiff_t i = begin;
    for (; i + kN <= end; i += kN) {
      const int16_t* p = s + i;
      V lo = I::Zero(), hi = I::Zero();
      for (int k = 0; k < n / 2; ++k) {
        const V a = I::Load(p + taps[2 * k].off), b = I::Load(p + taps[2 * k + 1].off);
        lo = I::Add32(lo, I::Madd16(I::UnpackLo16(a, b), pairs[k]));
        hi = I::Add32(hi, I::Madd16(I::UnpackHi16(a, b), pairs[k]));
      }
      I::Store(d + i, I::PackS32(I::template Srai32<kShift>(lo), I::template Srai32<kShift>(hi)));
    }
    BlurScalar<int16_t, R>(s, d, w, i, end);
  }

  // ---- Per-sample operations -------------------------------------------------

  static void ApplyMask8(const uint8_t* f, uint8_t* t, const uint8_t* m, ptrdiff_t n, WeightParams wp) {
    const WeightV weight(wp);
    const V one = I::Set16(1), c255 = I::Set16(255), c128 = I::Set16(128);
    ptrdiff_t i = 0;
    for (; i + kB <= n; i += kB) {
      const V tv = I::Load(t + i), fv = I::Load(f + i), mv = I::Load(m + i);
      V out[2];
      for (int h = 0; h < 2; ++h) {
        auto wid = [h](V v) { return h ? Hi(v) : Lo(v); };
        const V wv = weight(wid(mv));
        // At most 255 * 256 + 128: fits unsigned 16-bit lanes.
        const V sum = I::Add16(I::Add16(I::Mullo16(wid(tv), I::Add16(wv, one)), I::Mullo16(wid(fv), I::Sub16(c255, wv))), c128);
        out[h] = I::template Srli16<8>(sum);
      }
      I::Store(t + i, I::PackUs16(out[0], out[1]));
    }
    ApplyMask8Scalar(f + i, t + i, m + i, n - i, wp);
  }

  static void ApplyMask16(const int16_t* f, int16_t* t, const uint8_t* m, ptrdiff_t n, WeightParams wp) {
    const WeightV weight(wp);
    const V one = I::Set16(1), c255 = I::Set16(255), r128 = I::Set32(128);
    ptrdiff_t i = 0;
    for (; i + kN <= n; i += kN) {
      const V tv = I::Load(t + i), fv = I::Load(f + i);
      const V wv = weight(I::LoadWidenU8(m + i));
      const V wt = I::Add16(wv, one), wf = I::Sub16(c255, wv);
      const V lo = I::Madd16(I::UnpackLo16(tv, fv), I::UnpackLo16(wt, wf));
      const V hi = I::Madd16(I::UnpackHi16(tv, fv), I::UnpackHi16(wt, wf));
      I::Store(t + i, I::PackS32(I::template Srai32<8>(I::Add32(lo, r128)), I::template Srai32<8>(I::Add32(hi, r128))));
    }
    ApplyMask16Scalar(f + i, t + i, m + i, n - i, wp);
  }

  static void ShowMask8(const uint8_t* m, uint8_t* o, ptrdiff_t n, WeightParams wp) {
    const WeightV weight(wp);
    ptrdiff_t i = 0;
    for (; i + kB <= n; i += kB) {
      const V mv = I::Load(m + i);
      I::Store(o + i, I::PackUs16(weight(Lo(mv)), weight(Hi(mv))));
    }
    ShowMask8Scalar(m + i, o + i, n - i, wp);
  }

  static void ShowMask16(const uint8_t* m, int16_t* o, ptrdiff_t n, WeightParams wp) {
    const WeightV weight(wp);
    ptrdiff_t i = 0;
    for (; i + kN <= n; i += kN) I::Store(o + i, weight(I::LoadWidenU8(m + i)));
    ShowMask16Scalar(m + i, o + i, n - i, wp);
  }

  // Depth 1 result of plane p, blur b and gain k in 16-bit lanes:
  // clamp((b * k + p * (256 - k)) >> 8, 0, 255), left in 16-bit lanes.
  static V SharpHalf8(V p, V b, V k) {
    const V k2 = I::Sub16(I::Set16(256), k);
    const V lo = I::Madd16(I::UnpackLo16(b, p), I::UnpackLo16(k, k2));
    const V hi = I::Madd16(I::UnpackHi16(b, p), I::UnpackHi16(k, k2));
    return I::PackS32(I::template Srai32<8>(lo), I::template Srai32<8>(hi));
  }
  static V Sharp16(V p, V b, V k) {
    const V r = SharpHalf8(p, b, k);
    return I::Max16(r, I::Set16(-32767));
  }
  // Depth 2 edge view ((p - b) * x) >> 6, clamped to -32767..32767.
  static V Edges16(V p, V b, V x) {
    const V xx = I::UnpackLo16(x, I::Sub16(I::Zero(), x));
    const V xh = I::UnpackHi16(x, I::Sub16(I::Zero(), x));
    const V lo = I::Madd16(I::UnpackLo16(p, b), xx);
    const V hi = I::Madd16(I::UnpackHi16(p, b), xh);
    return I::Max16(I::PackS32(I::template Srai32<6>(lo), I::template Srai32<6>(hi)), I::Set16(-32767));
  }
  // x = min(|b| + g, 256) for Depth 2 samples; |b| + g < 256 exactly when
  // -lim < b < lim with lim = 256 - g (0..255).
  static V LevelX16(V b, V g, V lim, V nlim) {
    const V small = I::And(I::CmpGt16(lim, b), I::CmpGt16(b, nlim));
    const V s = I::Add16(Abs16(b), g);
    const V c256 = I::Set16(256);
    return I::Or(I::And(small, s), I::AndNot(small, c256));
  }

  static void PlainSharpen8(uint8_t* p, const uint8_t* b, ptrdiff_t n, int32_t k0, int32_t g) {
    const V k0v = I::Set16(k0), gv = I::Set16(g), c256 = I::Set16(256);
    ptrdiff_t i = 0;
    for (; i + kB <= n; i += kB) {
      const V pv = I::Load(p + i), bv = I::Load(b + i);
      V out[2];
      for (int h = 0; h < 2; ++h) {
        const V bb = h ? Hi(bv) : Lo(bv), pp = h ? Hi(pv) : Lo(pv);
        const V k = MulShr8(k0v, I::Min16(I::Add16(bb, gv), c256));
        out[h] = SharpHalf8(pp, bb, k);
      }
      I::Store(p + i, I::PackUs16(out[0], out[1]));
    }
    PlainSharpen8Scalar(p + i, b + i, n - i, k0, g);
  }

  static void PlainSharpen16(int16_t* p, const int16_t* b, ptrdiff_t n, int32_t k0, int32_t g) {
    const V k0v = I::Set16(k0), gv = I::Set16(g), lim = I::Set16(256 - g), nlim = I::Set16(g - 256);
    ptrdiff_t i = 0;
    for (; i + kN <= n; i += kN) {
      const V pv = I::Load(p + i), bv = I::Load(b + i);
      I::Store(p + i, Sharp16(pv, bv, MulShr8(k0v, LevelX16(bv, gv, lim, nlim))));
    }
    PlainSharpen16Scalar(p + i, b + i, n - i, k0, g);
  }

  static void MaskSharpen8(uint8_t* p, const uint8_t* b, const uint8_t* m, ptrdiff_t n, int32_t k0, WeightParams wp) {
    const WeightV weight(wp);
    const V k0v = I::Set16(k0);
    ptrdiff_t i = 0;
    for (; i + kB <= n; i += kB) {
      const V pv = I::Load(p + i), bv = I::Load(b + i), mv = I::Load(m + i);
      V out[2];
      for (int h = 0; h < 2; ++h) {
        auto wid = [h](V v) { return h ? Hi(v) : Lo(v); };
        out[h] = SharpHalf8(wid(pv), wid(bv), MulShr8(k0v, weight(wid(mv))));
      }
      I::Store(p + i, I::PackUs16(out[0], out[1]));
    }
    MaskSharpen8Scalar(p + i, b + i, m + i, n - i, k0, wp);
  }

  static void MaskSharpen16(int16_t* p, const int16_t* b, const uint8_t* m, ptrdiff_t n, int32_t k0, WeightParams wp) {
    const WeightV weight(wp);
    const V k0v = I::Set16(k0);
    ptrdiff_t i = 0;
    for (; i + kN <= n; i += kN) {
      const V pv = I::Load(p + i), bv = I::Load(b + i);
      I::Store(p + i, Sharp16(pv, bv, MulShr8(k0v, weight(I::LoadWidenU8(m + i)))));
    }
    MaskSharpen16Scalar(p + i, b + i, m + i, n - i, k0, wp);
  }

  // Depth 1 edge view: ((p - b) * x) >> 6 fits 16 bits (|p - b| <= 255, x <= 256).
  static void PlainEdges8(uint8_t* p, const uint8_t* b, ptrdiff_t n, int32_t g) {
    const V gv = I::Set16(g), c256 = I::Set16(256), c128 = I::Set16(128);
    ptrdiff_t i = 0;
    for (; i + kB <= n; i += kB) {
      const V pv = I::Load(p + i), bv = I::Load(b + i);
      V out[2];
      for (int h = 0; h < 2; ++h) {
        const V bb = h ? Hi(bv) : Lo(bv), pp = h ? Hi(pv) : Lo(pv);
        const V x = I::Min16(I::Add16(bb, gv), c256);
        out[h] = I::Add16(MulShr6(I::Sub16(pp, bb), x), c128);
      }
      I::Store(p + i, I::PackUs16(out[0], out[1]));
    }
    PlainEdges8Scalar(p + i, b + i, n - i, g);
  }

  static void PlainEdges16(int16_t* p, const int16_t* b, ptrdiff_t n, int32_t g) {
    const V gv = I::Set16(g), lim = I::Set16(256 - g), nlim = I::Set16(g - 256);
    ptrdiff_t i = 0;
    for (; i + kN <= n; i += kN) {
      const V pv = I::Load(p + i), bv = I::Load(b + i);
      I::Store(p + i, Edges16(pv, bv, LevelX16(bv, gv, lim, nlim)));
    }
    PlainEdges16Scalar(p + i, b + i, n - i, g);
  }

  static void MaskEdges8(uint8_t* p, const uint8_t* b, const uint8_t* m, ptrdiff_t n, WeightParams wp) {
    const WeightV weight(wp);
    const V c128 = I::Set16(128);
    ptrdiff_t i = 0;
    for (; i + kB <= n; i += kB) {
      const V pv = I::Load(p + i), bv = I::Load(b + i), mv = I::Load(m + i);
      V out[2];
      for (int h = 0; h < 2; ++h) {
        auto wid = [h](V v) { return h ? Hi(v) : Lo(v); };
        out[h] = I::Add16(MulShr6(I::Sub16(wid(pv), wid(bv)), weight(wid(mv))), c128);
      }
      I::Store(p + i, I::PackUs16(out[0], out[1]));
    }
    MaskEdges8Scalar(p + i, b + i, m + i, n - i, wp);
  }

  static void MaskEdges16(int16_t* p, const int16_t* b, const uint8_t* m, ptrdiff_t n, WeightParams wp) {
    const WeightV weight(wp);
    ptrdiff_t i = 0;
    for (; i + kN <= n; i += kN) {
      const V pv = I::Load(p + i), bv = I::Load(b + i);
      I::Store(p + i, Edges16(pv, bv, weight(I::LoadWidenU8(m + i))));
    }
    MaskEdges16Scalar(p + i, b + i, m + i, n - i, wp);
  }

  static Kernels Table() {
    Kernels k{};
    k.edge8 = Edge8;
    k.edge16 = Edge16;
    k.box3 = Box3;
    k.box5 = Box5;
    k.blur8[0] = Blur8<1>;
    k.blur8[1] = Blur8<2>;
    k.blur8[2] = Blur8<3>;
    k.blur16[0] = Blur16<1>;
    k.blur16[1] = Blur16<2>;
    k.blur16[2] = Blur16<3>;
    k.applyMask8 = ApplyMask8;
    k.applyMask16 = ApplyMask16;
    k.showMask8 = ShowMask8;
    k.showMask16 = ShowMask16;
    k.plainSharpen8 = PlainSharpen8;
    k.plainSharpen16 = PlainSharpen16;
    k.maskSharpen8 = MaskSharpen8;
    k.maskSharpen16 = MaskSharpen16;
    k.plainEdges8 = PlainEdges8;
    k.plainEdges16 = PlainEdges16;
    k.maskEdges8 = MaskEdges8;
    k.maskEdges16 = MaskEdges16;
    return k;
  }
};
