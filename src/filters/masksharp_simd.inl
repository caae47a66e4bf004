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

// Accumulator lanes of the chunked blur: 16 bits for Depth 1, 32 for Depth 2.
template <int Bytes>
struct BlurLane {
  using Type = int32_t;
};
template <>
struct BlurLane<1> {
  using Type = uint16_t;
};

template <class I>
struct Simd {
  using V = typename I::V;
  static constexpr ptrdiff_t kB = I::kBytes;      // bytes per register
  static constexpr ptrdiff_t kN = I::kBytes / 2;  // 16-bit lanes per register

  static V Lo(V v) { return I::UnpackLo8(v, I::Zero()); }
  static V Hi(V v) { return I::UnpackHi8(v, I::Zero()); }
  // (a * b) >> 8 and (a * b) >> 6 for products whose shifted value fits 16 bits.
  static V MulShr8(V a, V b) {
    return I::Or(I::template Slli16<8>(I::Mulhi16(a, b)), I::template Srli16<8>(I::Mullo16(a, b)));
  }
  static V MulShr6(V a, V b) {
    return I::Or(I::template Slli16<10>(I::Mulhi16(a, b)), I::template Srli16<6>(I::Mullo16(a, b)));
  }
  static V Abs16(V v) { return I::Abs16(v); }
  static V Abs32(V v) {
    const V s = I::template Srai32<31>(v);
    return I::Sub32(I::Xor(v, s), s);
  }
  static V Pair(int w0, int w1) {
    return I::Set32(static_cast<int32_t>((static_cast<uint32_t>(w1) << 16) | (static_cast<uint32_t>(w0) & 0xFFFFu)));
  }

  struct WeightV {
    V centre, lo, hi, c128, c255;
    __m128i count;
    explicit WeightV(const WeightParams& wp)
        : centre(I::Set16(wp.centre)),
          lo(I::Set16(-128)),
          hi(I::Set16(127)),
          c128(I::Set16(128)),
          c255(I::Set16(255)),
          count(_mm_cvtsi32_si128(wp.shift)) {}
    // m: mask values 0..255 in 16-bit lanes.
    V operator()(V m) const {
      V d = I::Max16(I::Min16(I::Sub16(m, centre), hi), lo);
      d = I::Add16(I::Sll16(d, count), c128);
      return I::Max16(I::Min16(d, c255), I::Zero());
    }
  };

  // ---- Mask creation --------------------------------------------------------

  // With A = ul - dr, B = ur - dl: Gy = 2 (up - dn) + A + B and
  // Gx = 2 (l - r) + A - B.
  static V EdgeHalf8(V ul, V up, V ur, V l, V r, V dl, V dn, V dr) {
    const V a = I::Sub16(ul, dr), b = I::Sub16(ur, dl);
    const V u = I::Sub16(up, dn), h = I::Sub16(l, r);
    const V gy = I::Add16(I::Add16(u, u), I::Add16(a, b));
    const V gx = I::Add16(I::Add16(h, h), I::Sub16(a, b));
    return I::Add16(Abs16(gx), Abs16(gy));
  }

  // Even and odd bytes go into separate 16-bit lanes by mask and shift
  // (cheaper than unpacking) and are merged back the same way.
  static V Even(V v) { return I::And(v, I::Set16(0x00FF)); }
  static V Odd(V v) { return I::template Srli16<8>(v); }

  static void Edge8(const uint8_t* s, uint8_t* e, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    ptrdiff_t i = begin;
    const V c255 = I::Set16(255);
    for (; i + kB <= end; i += kB) {
      const uint8_t* p = s + i;
      const V ul = I::Load(p - w - 1), up = I::Load(p - w), ur = I::Load(p - w + 1);
      const V l = I::Load(p - 1), r = I::Load(p + 1);
      const V dl = I::Load(p + w - 1), dn = I::Load(p + w), dr = I::Load(p + w + 1);
      const V a =
          I::Min16(EdgeHalf8(Even(ul), Even(up), Even(ur), Even(l), Even(r), Even(dl), Even(dn), Even(dr)), c255);
      const V b = I::Min16(EdgeHalf8(Odd(ul), Odd(up), Odd(ur), Odd(l), Odd(r), Odd(dl), Odd(dn), Odd(dr)), c255);
      I::Store(e + i, I::Or(a, I::template Slli16<8>(b)));
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

  // ---- Chunked two-stage sums ------------------------------------------------
  //
  // The larger neighbourhoods are summed in two stages per chunk of outputs:
  // first vertical sums (over -W..+W or -2W..+2W) into small stack buffers,
  // then horizontal sums of those. Linear addressing makes "vertical" a fixed
  // offset of W, so the buffers simply follow the linear index. For outputs
  // [a, a + c) of a kernel reaching M = 1 or 2 samples (and rows) out, the
  // buffers cover indices a - M .. a + c + M - 1, whose vertical reads stay
  // inside the band of M * (W + 1) samples the caller keeps around the range.

  static constexpr ptrdiff_t kChunk = 512;
  static constexpr ptrdiff_t kBuf = kChunk + 4 + 2 * kB;

  template <class T>
  static V LoadWiden(const T* p) {
    if constexpr (sizeof(T) == 1)
      return I::LoadWidenU8(p);
    else
      return I::LoadS16ToS32(p);
  }

  // Sums over rows -W..W (v3) and -2W..2W (v5) of buffer positions
  // [0, cnt) = indices base .. base + cnt - 1, with lanes of type L.
  template <class T, class L, bool kWant3, bool kWant5, bool kWantCentre, int kCentreWeight3>
  static void ColumnSums(const T* base, ptrdiff_t w, ptrdiff_t cnt, L* v3, L* v5, L* centre) {
    constexpr ptrdiff_t kLanes = sizeof(L) == 2 ? kN : kN / 2;
    ptrdiff_t t = 0;
    for (; t + kLanes <= cnt; t += kLanes) {
      const T* p = base + t;
      const V c = LoadWiden(p), u = LoadWiden(p - w), d = LoadWiden(p + w);
      V s3;
      if constexpr (sizeof(L) == 2)
        s3 = I::Add16(I::Add16(u, d), kCentreWeight3 == 2 ? I::Add16(c, c) : c);
      else
        s3 = I::Add32(I::Add32(u, d), kCentreWeight3 == 2 ? I::Add32(c, c) : c);
      if constexpr (kWant3) I::Store(v3 + t, s3);
      if constexpr (kWant5) {
        const V u2 = LoadWiden(p - 2 * w), d2 = LoadWiden(p + 2 * w);
        if constexpr (sizeof(L) == 2)
          I::Store(v5 + t, I::Add16(s3, I::Add16(u2, d2)));
        else
          I::Store(v5 + t, I::Add32(s3, I::Add32(u2, d2)));
      }
      if constexpr (kWantCentre) I::Store(centre + t, c);
    }
    for (; t < cnt; ++t) {
      const T* p = base + t;
      const int32_t s3 = p[-w] + p[w] + kCentreWeight3 * p[0];
      if constexpr (kWant3) v3[t] = static_cast<L>(s3);
      if constexpr (kWant5) v5[t] = static_cast<L>(s3 + p[-2 * w] + p[2 * w]);
      if constexpr (kWantCentre) centre[t] = static_cast<L>(p[0]);
    }
  }

  // Box sums of edge values: 3x3 divided by 9, 5x5 divided by 25, from the
  // column sums q[-M .. c + M - 1] of c outputs.
  template <int R>
  static void BoxRow(const uint16_t* q, uint8_t* m, ptrdiff_t c) {
    auto sum = [q](ptrdiff_t o) {
      V s = I::Add16(I::Add16(I::Load(q + o - 1), I::Load(q + o)), I::Load(q + o + 1));
      if constexpr (R == 3) s = I::Add16(s, I::Add16(I::Load(q + o - 2), I::Load(q + o + 2)));
      return s;
    };
    auto divide = [](V s) {
      if constexpr (R == 2)
        return I::MulhiU16(s, I::Set16(7282));  // floor(x * 7282 / 2^16) == x / 9 for x <= 2295
      else
        return I::template Srli16<1>(I::MulhiU16(s, I::Set16(5243)));  // (x * 5243) >> 17 == x / 25, x <= 6375
    };
    ptrdiff_t o = 0;
    for (; o + 2 * kN <= c; o += 2 * kN) I::StorePackedUs16(m + o, divide(sum(o)), divide(sum(o + kN)));
    for (; o < c; ++o) {
      int32_t s = q[o - 1] + q[o] + q[o + 1];
      if constexpr (R == 3) s += q[o - 2] + q[o + 2];
      m[o] = static_cast<uint8_t>(R == 2 ? s / 9 : s / 25);
    }
  }

  template <int R>
  static void Box(const uint8_t* e, uint8_t* m, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    constexpr ptrdiff_t kM = R == 3 ? 2 : 1;
    alignas(32) uint16_t v[kBuf];
    for (ptrdiff_t a = begin; a < end; a += kChunk) {
      const ptrdiff_t c = end - a < kChunk ? end - a : kChunk;
      if constexpr (R == 2)
        ColumnSums<uint8_t, uint16_t, true, false, false, 1>(e + a - kM, w, c + 2 * kM, v, nullptr, nullptr);
      else
        ColumnSums<uint8_t, uint16_t, false, true, false, 1>(e + a - kM, w, c + 2 * kM, nullptr, v, nullptr);
      BoxRow<R>(v + kM, m + a, c);  // v[kM + o] is the column sum at index a + o
    }
  }

  // ---- One-sweep mask of a Depth 1 plane (radius 2 and 3) -----------------
  //
  // The edge operator is separable: with H = (1 2 1) and D = (1 0 -1) across
  // a source row and P = D(row) + D(row below), Gy = H(up) - H(down) and
  // Gx = P(up) + P(row) at the same linear position. One step per row t
  // makes H and D of source row t + 1, P of row t, edge row t, and moves the
  // running column sum C (edge rows t - 2M .. t, M = 1 or 2) down one row;
  // the mask row t - M is then the horizontal box sum of C, or the edge row
  // itself outside the smoothed range. All ring rows are read and written at
  // the same column within a step, so each lives in one buffer row updated in
  // place. Linear addressing carries over: column x of row t stands for index
  // t W + x, and the rows cover x = -M .. W + M - 1, the reach of the box
  // sums into the neighbouring rows.

  static constexpr ptrdiff_t kRingPad = kN + 2 > 32 ? 64 : 32;  // 16-bit slack either side of a ring row (>= kN + 2)

  static ptrdiff_t RingStride(ptrdiff_t w) { return w + 2 * kRingPad; }
  // 16-bit entries of scratch the one-sweep mask needs for width w.
  static ptrdiff_t OneSweepScratch(ptrdiff_t w) { return 10 * RingStride(w); }

  // Rows y0 .. y1 - 1 of the mask of a W x H Depth 1 plane (W, H >= 3; >= 5
  // for radius 3), bit-identical to the edge sweep followed by box3/box5 with
  // the bands outside the smoothed range taken from the edge plane. `scratch`
  // holds OneSweepScratch(W) entries (any contents). Only those mask rows are
  // written, so bands of one plane may run at once, each with its own scratch.
  //
  // A band starts its sweep M + 2 rows above its first row from a zero ring:
  // the first two steps leave wrong H, D and P behind, so the edge rows they
  // make are wrong, but every later step's are right (a step needs the two
  // before it), and the running sum C drops each edge row again kRows steps
  // after adding it (in wrapping 16-bit sums), so by the band's first row C
  // holds exactly the edge rows of its box.
  template <int R>
  static void OneSweep8(const uint8_t* src, uint8_t* m, ptrdiff_t w, ptrdiff_t h, ptrdiff_t y0, ptrdiff_t y1,
                        int16_t* scratch) {
    constexpr ptrdiff_t kM = R == 3 ? 2 : 1, kRows = 2 * kM + 1;
    const ptrdiff_t n = w * h, stride = RingStride(w), lo = -kM, hi = w + kM;  // ring columns [lo, hi)
    const ptrdiff_t edgeLo = w + 1, edgeHi = n - w - 2;                    // edge range, inclusive
    const ptrdiff_t boxLo = kM * w + kM, boxHi = n - kM * w - kM - 1;      // smoothed range, inclusive
    for (ptrdiff_t i = 0; i < OneSweepScratch(w); ++i) scratch[i] = 0;
    int16_t* const row0 = scratch + kRingPad;
    int16_t* hPrev = row0;               // H of source row t - 1; takes H of row t + 1
    int16_t* hCur = row0 + stride;       // H of source row t
    int16_t* const dRow = row0 + 2 * stride;  // D of source row t, then t + 1
    int16_t* const pRow = row0 + 3 * stride;  // P of row t - 1, then t
    int16_t* const cRow = row0 + 4 * stride;  // C, the column sums of the mask row t - M
    auto eRow = [&](ptrdiff_t t) {  // edge row t (t >= -8 kRows)
      return row0 + (5 + static_cast<ptrdiff_t>(static_cast<size_t>(t + 8 * kRows) % static_cast<size_t>(kRows))) * stride;
    };
    const V c255 = I::Set16(255);

    // Rows near the top and bottom: the same step, with every read of the
    // source and every edge value checked against the plane and the edge range.
    auto stepChecked = [&](ptrdiff_t t, ptrdiff_t from, ptrdiff_t to) {
      int16_t* const eNew = eRow(t);
      const ptrdiff_t sb = (t + 1) * w, eb = t * w;
      for (ptrdiff_t x = from; x < to; ++x) {
        const ptrdiff_t j = sb + x, k = eb + x;
        int32_t hN = 0, dN = 0;
        if (j >= 1 && j <= n - 2) {
          const int32_t a = src[j - 1], b = src[j], c = src[j + 1];
          hN = a + 2 * b + c;
          dN = a - c;
        }
        const int32_t p = dRow[x] + dN;
        int32_t e = 0;
        if (k >= edgeLo && k <= edgeHi) {
          const int32_t gx = pRow[x] + p, gy = hPrev[x] - hN;
          const int32_t v = (gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy);
          e = v < 255 ? v : 255;
        }
        cRow[x] = static_cast<int16_t>(cRow[x] + e - eNew[x]);
        eNew[x] = static_cast<int16_t>(e);
        pRow[x] = static_cast<int16_t>(p);
        dRow[x] = static_cast<int16_t>(dN);
        hPrev[x] = static_cast<int16_t>(hN);
      }
    };
    // Rows 2 .. H - 3: every column reads inside the plane and lies in the
    // edge range (W >= 3 > M). From W = M + kN on the last vector may run up
    // to kN - 1 columns past the ring row (into its slack): those columns read
    // source samples still inside the plane and are never used.
    const ptrdiff_t vecEnd = w >= kM + kN ? lo + (hi - lo + kN - 1) / kN * kN : hi;
    auto stepInner = [&](ptrdiff_t t) {
      int16_t* const eNew = eRow(t);
      const uint8_t* const s = src + (t + 1) * w;
      ptrdiff_t x = lo;
      for (; x + kN <= vecEnd; x += kN) {
        const V a = I::LoadWidenU8(s + x - 1), b = I::LoadWidenU8(s + x), c = I::LoadWidenU8(s + x + 1);
        const V hN = I::Add16(I::Add16(a, c), I::Add16(b, b));
        const V dN = I::Sub16(a, c);
        const V p = I::Add16(I::Load(dRow + x), dN);
        const V gx = I::Add16(I::Load(pRow + x), p), gy = I::Sub16(I::Load(hPrev + x), hN);
        const V e = I::Min16(I::Add16(Abs16(gx), Abs16(gy)), c255);
        I::Store(cRow + x, I::Add16(I::Load(cRow + x), I::Sub16(e, I::Load(eNew + x))));
        I::Store(eNew + x, e);
        I::Store(pRow + x, p);
        I::Store(dRow + x, dN);
        I::Store(hPrev + x, hN);
      }
      if (x < hi) stepChecked(t, x, hi);
    };

    const ptrdiff_t tBegin = y0 - kM - 2 > -kM ? y0 - kM - 2 : -kM;
    for (ptrdiff_t t = tBegin; t < y1 + kM; ++t) {
      if (t >= 2 && t <= h - 3)
        stepInner(t);
      else
        stepChecked(t, lo, hi);
      int16_t* const hNext = hPrev;
      hPrev = hCur;
      hCur = hNext;
      const ptrdiff_t y = t - kM;
      if (y < y0) continue;
      const ptrdiff_t base = y * w;
      const int16_t* const ey = eRow(y);
      uint8_t* const out = m + base;
      const ptrdiff_t a = (base > boxLo ? base : boxLo) - base;
      const ptrdiff_t b = (base + w - 1 < boxHi ? base + w - 1 : boxHi) - base;
      if (a > b) {
        for (ptrdiff_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(ey[x]);
        continue;
      }
      for (ptrdiff_t x = 0; x < a; ++x) out[x] = static_cast<uint8_t>(ey[x]);
      BoxRow<R>(reinterpret_cast<const uint16_t*>(cRow) + a, out + a, b - a + 1);
      for (ptrdiff_t x = b + 1; x < w; ++x) out[x] = static_cast<uint8_t>(ey[x]);
    }
  }

  // ---- Blur -----------------------------------------------------------------
  //
  // Radius 1 sums its five taps directly. Radius 2 is separable: (1 2 1)
  // vertically, then (1 2 1) horizontally. Radius 3 is rebuilt from column
  // sums: with v3 the sum over rows -1..1, v5 over rows -2..2 and s the sample,
  //   8c + 2 cross + the 16 ones = v3[-2] + v5[-1] + v5[0] + v5[1] + v3[2]
  //                                + v3[0] + s[-1] + s[1] + 6 s[0].

  static void Blur8Radius1(const uint8_t* s, uint8_t* d, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    ptrdiff_t i = begin;
    const V three = I::Set16(3);
    for (; i + kB <= end; i += kB) {
      const uint8_t* p = s + i;
      const V c = I::Load(p), l = I::Load(p - 1), r = I::Load(p + 1), u = I::Load(p - w), dn = I::Load(p + w);
      const V crossLo = I::Add16(I::Add16(Lo(l), Lo(r)), I::Add16(Lo(u), Lo(dn)));
      const V crossHi = I::Add16(I::Add16(Hi(l), Hi(r)), I::Add16(Hi(u), Hi(dn)));
      const V a = I::template Srli16<4>(I::Add16(I::template Slli16<2>(Lo(c)), I::Mullo16(crossLo, three)));
      const V b = I::template Srli16<4>(I::Add16(I::template Slli16<2>(Hi(c)), I::Mullo16(crossHi, three)));
      I::Store(d + i, I::PackUs16(a, b));
    }
    BlurScalar<uint8_t, 1>(s, d, w, i, end);
  }

  static void Blur16Radius1(const int16_t* s, int16_t* d, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    const V p43 = Pair(4, 3), p33 = Pair(3, 3), p30 = Pair(3, 0);
    ptrdiff_t i = begin;
    for (; i + kN <= end; i += kN) {
      const int16_t* p = s + i;
      const V c = I::Load(p), l = I::Load(p - 1), r = I::Load(p + 1), u = I::Load(p - w), dn = I::Load(p + w);
      const V z = I::Zero();
      const V lo = I::Add32(I::Add32(I::Madd16(I::UnpackLo16(c, l), p43), I::Madd16(I::UnpackLo16(r, u), p33)),
                            I::Madd16(I::UnpackLo16(dn, z), p30));
      const V hi = I::Add32(I::Add32(I::Madd16(I::UnpackHi16(c, l), p43), I::Madd16(I::UnpackHi16(r, u), p33)),
                            I::Madd16(I::UnpackHi16(dn, z), p30));
      I::Store(d + i, I::PackS32(I::template Srai32<4>(lo), I::template Srai32<4>(hi)));
    }
    BlurScalar<int16_t, 1>(s, d, w, i, end);
  }

  // Radius 2 and 3 on either depth: 16-bit lanes for Depth 1, 32-bit for Depth 2.
  template <class T, int R>
  static void BlurChunked(const T* s, T* d, ptrdiff_t w, ptrdiff_t begin, ptrdiff_t end) {
    using L = typename BlurLane<sizeof(T)>::Type;
    constexpr ptrdiff_t kLanes = sizeof(L) == 2 ? kN : kN / 2;
    constexpr ptrdiff_t kM = R == 3 ? 2 : 1;
    alignas(32) L v3[kBuf], v5[kBuf], c1[kBuf];
    auto add = [](V x, V y) { return sizeof(L) == 2 ? I::Add16(x, y) : I::Add32(x, y); };
    auto shifted = [](V x) {
      if constexpr (sizeof(L) == 2)
        return R == 2 ? I::template Srli16<4>(x) : I::template Srli16<5>(x);
      else
        return R == 2 ? I::template Srai32<4>(x) : I::template Srai32<5>(x);
    };
    for (ptrdiff_t a = begin; a < end; a += kChunk) {
      const ptrdiff_t c = end - a < kChunk ? end - a : kChunk;
      if constexpr (R == 2)
        ColumnSums<T, L, true, false, false, 2>(s + a - kM, w, c + 2 * kM, v3, nullptr, nullptr);
      else
        ColumnSums<T, L, true, true, true, 1>(s + a - kM, w, c + 2 * kM, v3, v5, c1);
      const L* q3 = v3 + kM;
      const L* q5 = v5 + kM;
      const L* qc = c1 + kM;
      auto block = [&](ptrdiff_t o) {
        if constexpr (R == 2) {
          const V m = I::Load(q3 + o);
          return shifted(add(add(I::Load(q3 + o - 1), I::Load(q3 + o + 1)), add(m, m)));
        } else {
          const V cc = I::Load(qc + o);
          const V six = add(add(cc, cc), add(add(cc, cc), add(cc, cc)));
          V t = add(add(I::Load(q3 + o - 2), I::Load(q3 + o + 2)), I::Load(q3 + o));
          t = add(t, add(add(I::Load(q5 + o - 1), I::Load(q5 + o)), I::Load(q5 + o + 1)));
          t = add(t, add(add(I::Load(qc + o - 1), I::Load(qc + o + 1)), six));
          return shifted(t);
        }
      };
      ptrdiff_t o = 0;
      for (; o + 2 * kLanes <= c; o += 2 * kLanes) {
        if constexpr (sizeof(T) == 1)
          I::StorePackedUs16(d + a + o, block(o), block(o + kLanes));
        else
          I::StorePackedS32(d + a + o, block(o), block(o + kLanes));
      }
      for (; o < c; ++o) {
        int32_t t;
        if constexpr (R == 2)
          t = (q3[o - 1] + 2 * q3[o] + q3[o + 1]) >> 4;
        else
          t = (q3[o - 2] + q3[o + 2] + q3[o] + q5[o - 1] + q5[o] + q5[o + 1] + qc[o - 1] + qc[o + 1] + 6 * qc[o]) >> 5;
        d[a + o] = static_cast<T>(t);
      }
    }
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
        const V sum =
            I::Add16(I::Add16(I::Mullo16(wid(tv), I::Add16(wv, one)), I::Mullo16(wid(fv), I::Sub16(c255, wv))), c128);
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

  // Depth 1 sharpening in 16-bit lanes: f >> 8 with f = b k + p (256 - k) is
  // p + ((k (b - p)) >> 8), and |k (b - p)| >> 8 <= 2040 fits. The caller's
  // pack to bytes does the clamp to 0..255.
  static V Sharp8(V p, V b, V k) { return I::Add16(p, MulShr8(k, I::Sub16(b, p))); }
  // Depth 2: f in 32 bits through madd, f >> 8 saturated to 16 bits, then
  // limited to -32767.
  static V Sharp16(V p, V b, V k) {
    const V k2 = I::Sub16(I::Set16(256), k);
    const V lo = I::Madd16(I::UnpackLo16(b, p), I::UnpackLo16(k, k2));
    const V hi = I::Madd16(I::UnpackHi16(b, p), I::UnpackHi16(k, k2));
    return I::Max16(I::PackS32(I::template Srai32<8>(lo), I::template Srai32<8>(hi)), I::Set16(-32767));
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
        out[h] = Sharp8(pp, bb, k);
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
        out[h] = Sharp8(wid(pv), wid(bv), MulShr8(k0v, weight(wid(mv))));
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
    k.box3 = Box<2>;
    k.box5 = Box<3>;
    k.oneSweep8[0] = OneSweep8<2>;
    k.oneSweep8[1] = OneSweep8<3>;
    k.oneSweepScratch = OneSweepScratch;
    k.blur8[0] = Blur8Radius1;
    k.blur8[1] = BlurChunked<uint8_t, 2>;
    k.blur8[2] = BlurChunked<uint8_t, 3>;
    k.blur16[0] = Blur16Radius1;
    k.blur16[1] = BlurChunked<int16_t, 2>;
    k.blur16[2] = BlurChunked<int16_t, 3>;
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
