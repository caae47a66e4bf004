#include "video_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace tarvo::cli {

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

int ScaleFlags(ScaleQuality quality) {
  const int common = SWS_BICUBIC | SWS_BITEXACT | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
  return quality == ScaleQuality::Accurate ? common | SWS_ACCURATE_RND : common;
}

AVColorSpace DefaultMatrixFor(int height) { return height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_BT470BG; }

bool ParseScaleQuality(const std::string& text, ScaleQuality* out) {
  if (text == "fast") *out = ScaleQuality::Fast;
  else if (text == "accurate") *out = ScaleQuality::Accurate;
  else return false;
  return true;
}

bool ParseMatrixName(const std::string& text, AVColorSpace* out) {
  if (text == "bt601") *out = AVCOL_SPC_BT470BG;
  else if (text == "bt709") *out = AVCOL_SPC_BT709;
  else if (text == "bt2020") *out = AVCOL_SPC_BT2020_NCL;
  else return false;
  return true;
}

bool ParseRangeName(const std::string& text, AVColorRange* out) {
  if (text == "tv") *out = AVCOL_RANGE_MPEG;
  else if (text == "pc") *out = AVCOL_RANGE_JPEG;
  else return false;
  return true;
}

VideoReader::~VideoReader() {
  av_frame_free(&bgra_);
  av_frame_free(&frame_);
  av_packet_free(&pkt_);
  avcodec_free_context(&dec_);
  if (fmt_) avformat_close_input(&fmt_);
}

bool VideoReader::Open(const std::string& path, std::string* error) {
  path_ = path;
  auto fail = [&](const std::string& why) {
    if (error) *error = "cannot read '" + path + "': " + why;
    return false;
  };
  int r = avformat_open_input(&fmt_, path.c_str(), nullptr, nullptr);
  if (r < 0) return fail(AvError(r));
  r = avformat_find_stream_info(fmt_, nullptr);
  if (r < 0) return fail(AvError(r));
  const AVCodec* codec = nullptr;
  stream_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (stream_ == AVERROR_DECODER_NOT_FOUND) return fail("no decoder for its video stream");
  if (stream_ < 0) return fail("it holds no video stream");
  audio_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, stream_, nullptr, 0);
  if (audio_ < 0) audio_ = -1;
  AVStream* st = fmt_->streams[stream_];
  dec_ = avcodec_alloc_context3(codec);
  if (!dec_) return fail("out of memory");
  r = avcodec_parameters_to_context(dec_, st->codecpar);
  if (r < 0) return fail(AvError(r));
  dec_->thread_count = 0;
  dec_->pkt_timebase = st->time_base;
  r = avcodec_open2(dec_, codec, nullptr);
  if (r < 0) return fail("cannot open the " + std::string(codec->name) + " decoder: " + AvError(r));
  pkt_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!pkt_ || !frame_) return fail("out of memory");

  const AVCodecParameters* par = st->codecpar;
  info_.width = par->width;
  info_.height = par->height;
  if (info_.width <= 0 || info_.height <= 0) return fail("its video stream has no picture size");
  info_.timeBase = st->time_base;
  AVRational fps = st->avg_frame_rate;
  if (fps.num <= 0 || fps.den <= 0) fps = st->r_frame_rate;
  if (fps.num <= 0 || fps.den <= 0) fps = AVRational{25, 1};
  info_.frameRate = fps;
  info_.sampleAspect = av_guess_sample_aspect_ratio(fmt_, st, nullptr);
  info_.startPts = st->start_time;
  if (st->nb_frames > 0) {
    info_.frameCount = st->nb_frames;
  } else if (st->duration > 0 && st->duration != AV_NOPTS_VALUE) {
    info_.frameCount = av_rescale_q(st->duration, st->time_base, av_inv_q(fps));
  } else if (fmt_->duration > 0) {
    info_.frameCount = av_rescale_q(fmt_->duration, AVRational{1, AV_TIME_BASE}, av_inv_q(fps));
  }
  switch (par->field_order) {
    case AV_FIELD_TT:
    case AV_FIELD_BT: info_.fieldMode = FieldMode::TopFirst; break;
    case AV_FIELD_BB:
    case AV_FIELD_TB: info_.fieldMode = FieldMode::BottomFirst; break;
    default: info_.fieldMode = FieldMode::Progressive; break;
  }
  info_.primaries = par->color_primaries;
  info_.transfer = par->color_trc;
  info_.matrix = par->color_space;
  info_.range = par->color_range;
  info_.chromaLocation = par->chroma_location;
  info_.codecName = codec->name;
  return true;
}

AVStream* VideoReader::audioStream() const { return audio_ >= 0 ? fmt_->streams[audio_] : nullptr; }

int VideoReader::DecodeOne(AVFrame* out, std::string* error) {
  for (;;) {
    int r = avcodec_receive_frame(dec_, out);
    if (r == 0) {
      ++decoded_;
      return 1;
    }
    if (r == AVERROR_EOF) return 0;
    if (r != AVERROR(EAGAIN)) {
      if (error) *error = "'" + path_ + "' is damaged: cannot decode frame " + std::to_string(nextIndex_) + ": " + AvError(r);
      damaged_ = true;
      return -1;
    }
    if (drained_) return 0;
    r = av_read_frame(fmt_, pkt_);
    if (r == AVERROR_EOF) {
      drained_ = true;
      avcodec_send_packet(dec_, nullptr);
      continue;
    }
    if (r < 0) {
      if (error) *error = "cannot read '" + path_ + "': " + AvError(r);
      return -1;
    }
    if (pkt_->stream_index == stream_) {
      r = avcodec_send_packet(dec_, pkt_);
      av_packet_unref(pkt_);
      if (r < 0 && r != AVERROR(EAGAIN)) {
        if (error) *error = "'" + path_ + "' is damaged near frame " + std::to_string(nextIndex_) + ": " + AvError(r);
        damaged_ = true;
        return -1;
      }
    } else {
      if (pkt_->stream_index == audio_ && audioSink_ && !audioSink_(pkt_)) {
        av_packet_unref(pkt_);
        if (error) *error = "cannot copy the audio stream";
        return -1;
      }
      av_packet_unref(pkt_);
    }
  }
}

bool VideoReader::CheckSize(const AVFrame* in, std::string* error) const {
  if (in->width == info_.width && in->height == info_.height) return true;
  if (error)
    *error = "'" + path_ + "' changes its picture size at frame " + std::to_string(nextIndex_) + " (" +
             std::to_string(in->width) + "x" + std::to_string(in->height) + ")";
  return false;
}

bool VideoReader::ConvertPicture(const AVFrame* in, Frame& out, const BandRunner& runner, std::string* error) {
  out.Resize(in->width, in->height);
  out.pts = in->best_effort_timestamp == AV_NOPTS_VALUE ? kNoTimestamp : in->best_effort_timestamp;
  const auto fmt = static_cast<AVPixelFormat>(in->format);
  if (fmt == AV_PIX_FMT_BGRA) {
    const size_t rowBytes = static_cast<size_t>(in->width) * 4;
    ForEachBand(runner, in->height, ConversionBands(runner), [&](RowRange r) {
      for (int y = r.begin; y < r.end; ++y)
        std::memcpy(out.row(y), in->data[0] + static_cast<ptrdiff_t>(y) * in->linesize[0], rowBytes);
    });
    return true;
  }
  ScaleSetup setup;
  setup.width = in->width;
  setup.height = in->height;
  setup.from = fmt;
  setup.to = AV_PIX_FMT_BGRA;
  setup.flags = ScaleFlags(conversion_.quality);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(fmt);
  if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
    // The user's choice first, then the picture's tags, then the usual
    // matrix for the picture's height in limited range.
    int space = conversion_.matrix != AVCOL_SPC_UNSPECIFIED ? conversion_.matrix : in->colorspace;
    if (space == AVCOL_SPC_UNSPECIFIED || space == AVCOL_SPC_RGB) space = DefaultMatrixFor(in->height);
    int fullRange = in->color_range == AVCOL_RANGE_JPEG || fmt == AV_PIX_FMT_YUVJ420P ||
                    fmt == AV_PIX_FMT_YUVJ422P || fmt == AV_PIX_FMT_YUVJ444P;
    if (conversion_.range != AVCOL_RANGE_UNSPECIFIED) fullRange = conversion_.range == AVCOL_RANGE_JPEG;
    setup.details = true;
    setup.fromSpace = space;
    setup.fromFullRange = fullRange;
    setup.toSpace = SWS_CS_DEFAULT;
    setup.toFullRange = 1;
  }
  // The converters are kept while the format, matrix and range stay: setting
  // them up builds swscale's tables.
  if (!scaler_.Prepare(setup, ConversionBands(runner), error)) {
    if (error)
      *error = "cannot convert pictures of format " + std::string(av_get_pix_fmt_name(fmt) ? av_get_pix_fmt_name(fmt) : "?");
    return false;
  }
  if (!bgra_ && !(bgra_ = av_frame_alloc())) {
    if (error) *error = "out of memory";
    return false;
  }
  if (!WrapPicture(bgra_, out.pixels.data(), in->width, in->height, AV_PIX_FMT_BGRA, in->width * 4)) {
    if (error) *error = "out of memory";
    return false;
  }
  const bool ok = scaler_.Convert(in, bgra_, runner, error);
  av_frame_unref(bgra_);
  return ok;
}

int64_t VideoReader::IndexOf(int64_t pts) const {
  if (pts == AV_NOPTS_VALUE || info_.startPts == AV_NOPTS_VALUE) return -1;
  // (pts - start) * timeBase * frameRate, rounded to the nearest frame.
  const AVRational perFrame = av_mul_q(info_.timeBase, info_.frameRate);
  return av_rescale_rnd(pts - info_.startPts, perFrame.num, perFrame.den, AV_ROUND_NEAR_INF);
}

int VideoReader::Next(Frame& out, std::string* error) {
  if (!pending_) {
    const int r = DecodeOne(frame_, error);
    if (r <= 0) return r;
  }
  pending_ = false;
  const bool ok = CheckSize(frame_, error) && ConvertPicture(frame_, out, SerialRunner(), error);
  av_frame_unref(frame_);
  if (!ok) return -1;
  ++nextIndex_;
  return 1;
}

int VideoReader::NextPicture(AVFrame* out, std::string* error) {
  if (!pending_) {
    const int r = DecodeOne(frame_, error);
    if (r <= 0) return r;
  }
  pending_ = false;
  av_frame_unref(out);
  if (!CheckSize(frame_, error)) {
    av_frame_unref(frame_);
    return -1;
  }
  av_frame_move_ref(out, frame_);
  ++nextIndex_;
  return 1;
}

bool VideoReader::SeekTo(int64_t n, std::string* error) {
  if (n == nextIndex_) return true;
  if (pending_ && n > nextIndex_) {
    av_frame_unref(frame_);
    pending_ = false;
    ++nextIndex_;
    if (n == nextIndex_) return true;
  }
  const bool byTime = info_.startPts != AV_NOPTS_VALUE;
  // Close ahead: decoding on is cheaper than a seek.
  if (byTime && n > nextIndex_ && n - nextIndex_ <= 8) return DecodeUpTo(n, false, error) == 1;
  if (!byTime) {
    if (!SeekToTime(0, error)) return false;
    return DecodeUpTo(n, false, error) == 1;
  }
  // The demuxer goes to the key frame at or before the time asked for. A
  // file without an index (MPEG transport and program streams) is sought by
  // position and may land after the frame, or inside a group whose pictures
  // the decoder then drops up to the next key frame: aim further back, and
  // in the end at the start, until the frame is reached.
  const int64_t frameTicks = av_rescale_q(1, av_inv_q(info_.frameRate), info_.timeBase);
  for (int64_t back = 0;; back = back == 0 ? 16 : back * 4) {
    const int64_t from = std::max<int64_t>(0, n - back);
    if (!SeekToTime(info_.startPts + from * frameTicks, error)) return false;
    int r = DecodeUpTo(n, true, error);
    if (r != 0) return r == 1;
    if (from > 0) continue;
    // A format sought by position may miss even its own first time stamp;
    // its start is at its first byte.
    if (!(fmt_->iformat->flags & AVFMT_NO_BYTE_SEEK) && av_seek_frame(fmt_, stream_, 0, AVSEEK_FLAG_BYTE) >= 0) {
      AfterSeek();
      r = DecodeUpTo(n, true, error);
      if (r != 0) return r == 1;
    }
    // The first frame the decoder gives from the start on that is not
    // before n stands for n.
    if (!SeekToTime(info_.startPts, error)) return false;
    return DecodeUpTo(n, false, error) == 1;
  }
}

bool VideoReader::SeekToTime(int64_t target, std::string* error) {
  int r = av_seek_frame(fmt_, stream_, target, AVSEEK_FLAG_BACKWARD);
  if (r < 0 && info_.startPts != AV_NOPTS_VALUE) r = av_seek_frame(fmt_, stream_, info_.startPts, AVSEEK_FLAG_BACKWARD);
  if (r < 0) {
    if (error) *error = "cannot seek in '" + path_ + "': " + AvError(r);
    return false;
  }
  AfterSeek();
  return true;
}

void VideoReader::AfterSeek() {
  avcodec_flush_buffers(dec_);
  av_frame_unref(frame_);
  pending_ = false;
  drained_ = false;
  nextIndex_ = info_.startPts != AV_NOPTS_VALUE ? -1 : 0;  // learnt from the next frame's time stamp
}

int VideoReader::DecodeUpTo(int64_t n, bool afterSeek, std::string* error) {
  // Decode forward up to the frame before n; the frame found is kept for Next.
  bool first = true;
  for (;;) {
    AVFrame* f = av_frame_alloc();
    if (!f) {
      if (error) *error = "out of memory";
      return -1;
    }
    const int r = DecodeOne(f, error);
    if (r <= 0) {
      av_frame_free(&f);
      // Nothing came out after a seek: the decoder dropped what it was
      // given, so the seek went too far.
      if (r == 0 && afterSeek && first) return 0;
      if (r == 0 && error) *error = "'" + path_ + "' has no frame " + std::to_string(n);
      return -1;
    }
    int64_t idx = IndexOf(f->best_effort_timestamp);
    if (idx < 0) idx = nextIndex_ < 0 ? 0 : nextIndex_;
    if (afterSeek && first && idx > n) {
      // Landed after the frame.
      av_frame_free(&f);
      return 0;
    }
    first = false;
    if (idx >= n) {
      // Put the frame back in front of the decoder's output: decode it again
      // through Next by keeping it as the pending frame.
      av_frame_unref(frame_);
      av_frame_move_ref(frame_, f);
      av_frame_free(&f);
      pending_ = true;
      nextIndex_ = idx;
      return 1;
    }
    av_frame_free(&f);
    nextIndex_ = idx + 1;
  }
}

bool VideoReader::ReadFrameAt(int64_t n, Frame& out, std::string* error) {
  if (!SeekTo(n, error)) return false;
  const int r = Next(out, error);
  if (r == 0 && error) *error = "'" + path_ + "' has no frame " + std::to_string(n);
  return r == 1;
}

}  // namespace tarvo::cli
