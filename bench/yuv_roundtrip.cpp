// Quality of the 4:2:0 round trip the render makes around the filter: raw
// yuv420p frames (limited range, BT.709 unless told) are converted to BGRA as
// the reader does and back to yuv420p by (a) our conversion after the `fast`
// reading, (b) swscale after the `fast` reading (the writer before our
// conversion), (c) swscale after the `accurate` reading (the `accurate` path).
// Prints the PSNR of each against the source over all samples of the three
// planes, and of the luma alone.
//   yuv_roundtrip FILE.yuv WIDTH HEIGHT [bt601|bt709|bt2020]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "video_reader.h"
#include "video_writer.h"
#include "yuv_write.h"

extern "C" {
#include <libswscale/swscale.h>
}

using namespace tarvo;
using namespace tarvo::cli;

namespace {

struct Sse {
  double all = 0, luma = 0;
  size_t nAll = 0, nLuma = 0;
  void Add(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t lumaSamples) {
    for (size_t i = 0; i < a.size(); ++i) {
      const double d = static_cast<double>(a[i]) - b[i];
      all += d * d;
      if (i < lumaSamples) luma += d * d;
    }
    nAll += a.size();
    nLuma += lumaSamples;
  }
  static double Psnr(double sse, size_t n) { return 10 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sse); }
};

SwsContext* Make(int w, int h, AVPixelFormat from, AVPixelFormat to, ScaleQuality q, int space) {
  SwsContext* c = sws_getContext(w, h, from, w, h, to, ScaleFlags(q), nullptr, nullptr, nullptr);
  if (!c) return nullptr;
  if (from == AV_PIX_FMT_BGRA)
    sws_setColorspaceDetails(c, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(space), 0, 0, 1 << 16,
                             1 << 16);
  else
    sws_setColorspaceDetails(c, sws_getCoefficients(space), 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                             1 << 16);
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: yuv_roundtrip FILE.yuv WIDTH HEIGHT [bt601|bt709|bt2020]\n");
    return 2;
  }
  const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
  const std::string m = argc > 4 ? argv[4] : "bt709";
  AVColorSpace space = AVCOL_SPC_BT709;
  if (m == "bt601") space = AVCOL_SPC_BT470BG;
  else if (m == "bt2020") space = AVCOL_SPC_BT2020_NCL;
  if (w < 2 || h < 2 || (w & 1) || (h & 1)) {
    std::fprintf(stderr, "even sizes only\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const size_t ySize = static_cast<size_t>(w) * h, cSize = ySize / 4, frameSize = ySize + 2 * cSize;
  SwsContext* readFast = Make(w, h, AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGRA, ScaleQuality::Fast, space);
  SwsContext* readAcc = Make(w, h, AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGRA, ScaleQuality::Accurate, space);
  SwsContext* writeFast = Make(w, h, AV_PIX_FMT_BGRA, AV_PIX_FMT_YUV420P, ScaleQuality::Fast, space);
  SwsContext* writeAcc = Make(w, h, AV_PIX_FMT_BGRA, AV_PIX_FMT_YUV420P, ScaleQuality::Accurate, space);
  if (!readFast || !readAcc || !writeFast || !writeAcc) {
    std::fprintf(stderr, "swscale set-up failed\n");
    return 1;
  }
  YuvLayout layout;
  YuvCoefficients coefficients;
  OwnYuvConversionFor(AV_PIX_FMT_YUV420P, space, AVCOL_RANGE_MPEG, ScaleQuality::Fast, &layout, &coefficients);
  std::vector<uint8_t> src(frameSize), fastRgb(ySize * 4), accRgb(ySize * 4), outOwn(frameSize),
      outFast(frameSize), outAcc(frameSize);
  auto planes = [&](std::vector<uint8_t>& v, uint8_t** p, int* s) {
    p[0] = v.data();
    p[1] = v.data() + ySize;
    p[2] = v.data() + ySize + cSize;
    p[3] = nullptr;
    s[0] = w;
    s[1] = s[2] = w / 2;
    s[3] = 0;
  };
  Sse own, fast, acc;
  int frames = 0;
  while (in.read(reinterpret_cast<char*>(src.data()), static_cast<std::streamsize>(frameSize))) {
    uint8_t* sp[4];
    int ss[4];
    planes(src, sp, ss);
    uint8_t* rgbF[4] = {fastRgb.data(), nullptr, nullptr, nullptr};
    uint8_t* rgbA[4] = {accRgb.data(), nullptr, nullptr, nullptr};
    int rgbS[4] = {w * 4, 0, 0, 0};
    sws_scale(readFast, sp, ss, 0, h, rgbF, rgbS);
    sws_scale(readAcc, sp, ss, 0, h, rgbA, rgbS);
    uint8_t* op[4];
    int os[4];
    planes(outOwn, op, os);
    YuvPlanes view;
    for (int i = 0; i < 3; ++i) {
      view.data[i] = op[i];
      view.stride[i] = os[i];
    }
    ConvertBgraToYuv(fastRgb.data(), w * 4, w, h, layout, coefficients, view, YuvRowKernelsFor(ActiveKernelLevel()));
    const uint8_t* cF[4] = {fastRgb.data(), nullptr, nullptr, nullptr};
    const uint8_t* cA[4] = {accRgb.data(), nullptr, nullptr, nullptr};
    planes(outFast, op, os);
    sws_scale(writeFast, cF, rgbS, 0, h, op, os);
    planes(outAcc, op, os);
    sws_scale(writeAcc, cA, rgbS, 0, h, op, os);
    own.Add(src, outOwn, ySize);
    fast.Add(src, outFast, ySize);
    acc.Add(src, outAcc, ySize);
    ++frames;
  }
  std::printf("%d frames %dx%d %s, PSNR against the source (all planes / luma):\n", frames, w, h, m.c_str());
  std::printf("  fast read, our write:       %.2f dB / %.2f dB\n", Sse::Psnr(own.all, own.nAll), Sse::Psnr(own.luma, own.nLuma));
  std::printf("  fast read, swscale write:   %.2f dB / %.2f dB\n", Sse::Psnr(fast.all, fast.nAll), Sse::Psnr(fast.luma, fast.nLuma));
  std::printf("  accurate read and write:    %.2f dB / %.2f dB\n", Sse::Psnr(acc.all, acc.nAll), Sse::Psnr(acc.luma, acc.nLuma));
  sws_freeContext(readFast);
  sws_freeContext(readAcc);
  sws_freeContext(writeFast);
  sws_freeContext(writeAcc);
  return frames > 0 ? 0 : 1;
}
