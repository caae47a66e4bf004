#include "banded_scale.h"

#include <algorithm>

#include "video_reader.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace tarvo::cli {
namespace {

void KeepMemory(void*, uint8_t*) {}

std::string FormatName(AVPixelFormat f) {
  const char* n = av_get_pix_fmt_name(f);
  return n ? n : "?";
}

}  // namespace

bool WrapPicture(AVFrame* frame, uint8_t* data, int width, int height, AVPixelFormat format, int stride) {
  av_frame_unref(frame);
  frame->buf[0] = av_buffer_create(data, static_cast<size_t>(stride) * static_cast<size_t>(height), KeepMemory,
                                   nullptr, 0);
  if (!frame->buf[0]) return false;
  frame->data[0] = data;
  frame->linesize[0] = stride;
  frame->width = width;
  frame->height = height;
  frame->format = format;
  return true;
}

BandedScaler::~BandedScaler() { Free(); }

void BandedScaler::Free() {
  for (SwsContext*& c : contexts_) sws_freeContext(c);
  contexts_.clear();
}

RowRange BandedScaler::AlignedBand(int rows, int align, int count, int index) {
  const int units = (rows + align - 1) / align;
  const RowRange u = BandRows(units, count, index);
  return RowRange{u.begin * align, std::min(u.end * align, rows)};
}

bool BandedScaler::Prepare(const ScaleSetup& setup, int bands, std::string* error) {
  bands = std::max(bands, 1);
  if (!(setup == setup_)) Free();
  setup_ = setup;
  while (static_cast<int>(contexts_.size()) < bands) {
    SwsContext* c = sws_getContext(setup.width, setup.height, setup.from, setup.width, setup.height, setup.to,
                                   setup.flags, nullptr, nullptr, nullptr);
    if (!c) {
      if (error) *error = "cannot convert pictures from " + FormatName(setup.from) + " to " + FormatName(setup.to);
      return false;
    }
    if (setup.details)
      sws_setColorspaceDetails(c, sws_getCoefficients(setup.fromSpace), setup.fromFullRange,
                               sws_getCoefficients(setup.toSpace), setup.toFullRange, 0, 1 << 16, 1 << 16);
    contexts_.push_back(c);
  }
  align_ = static_cast<int>(std::max(1u, sws_receive_slice_alignment(contexts_[0])));
  return true;
}

bool BandedScaler::Convert(const AVFrame* src, AVFrame* dst, const BandRunner& runner, std::string* error) {
  if (contexts_.empty()) {
    if (error) *error = "no converter was set up";
    return false;
  }
  const int rows = setup_.height;
  // swscale takes output slices at multiples of its alignment only; a
  // picture whose height is not one is converted whole.
  int bands = static_cast<int>(contexts_.size());
  if (rows % align_ != 0) bands = 1;
  // swscale 6 (FFmpeg 5.1) places an output slice's luma rows as if they were
  // subsampled like its colour rows when the output's colour is subsampled
  // vertically: such pictures are converted whole.
  const AVPixFmtDescriptor* to = av_pix_fmt_desc_get(setup_.to);
  if (!to || to->log2_chroma_h != 0) bands = 1;
  bands = std::min(bands, (rows + align_ - 1) / align_);
  int results[kMaxConversionBands] = {};
  bands = std::min(bands, kMaxConversionBands);
  ForEachIndexedBand(runner, bands, bands, [&](RowRange, int32_t index) {
    const RowRange r = AlignedBand(rows, align_, bands, index);
    SwsContext* c = contexts_[static_cast<size_t>(index)];
    int ret = sws_frame_start(c, dst, src);
    if (ret >= 0) ret = sws_send_slice(c, 0, static_cast<unsigned>(rows));
    if (ret >= 0)
      ret = sws_receive_slice(c, static_cast<unsigned>(r.begin), static_cast<unsigned>(r.end - r.begin));
    sws_frame_end(c);
    results[index] = ret;
  });
  for (int i = 0; i < bands; ++i) {
    if (results[i] < 0) {
      if (error)
        *error = "cannot convert pictures from " + FormatName(setup_.from) + " to " + FormatName(setup_.to) + ": " +
                 AvError(results[i]);
      return false;
    }
  }
  return true;
}

}  // namespace tarvo::cli
