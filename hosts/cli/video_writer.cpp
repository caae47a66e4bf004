#include "video_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "util/atomic_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace tarvo::cli {
namespace {

std::string LowerExtension(const std::string& name) {
  std::string ext = std::filesystem::path(name).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

bool IsRgb(AVPixelFormat f) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
  return d && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

// The pixel format to encode in: BGRA itself when the encoder takes it (the
// lossless path then stores exactly the filter's output), else the best the
// encoder offers from a preference list.
AVPixelFormat ChoosePixelFormat(const AVCodec* codec, int width, int height) {
  const AVPixelFormat* fmts = codec->pix_fmts;
  if (!fmts) return AV_PIX_FMT_BGRA;
  auto supports = [&](AVPixelFormat f) {
    for (const AVPixelFormat* p = fmts; *p != AV_PIX_FMT_NONE; ++p)
      if (*p == f) return true;
    return false;
  };
  const bool odd = (width & 1) || (height & 1);
  if (std::string(codec->name) == "libx264") {
    // 4:2:0 plays everywhere; odd sizes cannot be subsampled, so they keep 4:4:4.
    if (!odd && supports(AV_PIX_FMT_YUV420P)) return AV_PIX_FMT_YUV420P;
    if (supports(AV_PIX_FMT_YUV444P)) return AV_PIX_FMT_YUV444P;
  }
  if (std::string(codec->name) == "prores_ks") {
    if (!(width & 1) && supports(AV_PIX_FMT_YUV422P10LE)) return AV_PIX_FMT_YUV422P10LE;
    if (supports(AV_PIX_FMT_YUV444P10LE)) return AV_PIX_FMT_YUV444P10LE;
  }
  for (AVPixelFormat f : {AV_PIX_FMT_BGRA, AV_PIX_FMT_BGR0, AV_PIX_FMT_RGBA, AV_PIX_FMT_RGB24, AV_PIX_FMT_GBRP,
                          AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV422P,
                          AV_PIX_FMT_YUV420P})
    if (supports(f)) return f;
  return fmts[0];
}

}  // namespace

std::vector<std::vector<std::pair<const char*, const char*>>> FfvSlicingFor(int width, int height) {
  // Level 3 with four slices (two by two), each with a checksum, decodes on
  // several threads and finds damage. Slices one or two pixels across do not
  // come back exactly, so pictures under three pixels wide or high take
  // level 1, which has no slices. Very large slices are refused by the
  // encoder; it then picks a finer grid itself, and level 1 is the last
  // resort.
  std::vector<std::vector<std::pair<const char*, const char*>>> choices;
  if (width >= 3 && height >= 3) {
    choices.push_back({{"level", "3"}, {"slicecrc", "1"}, {"slices", "4"}});
    if (width >= 16 && height >= 16) choices.push_back({{"level", "3"}, {"slicecrc", "1"}, {"slices", "0"}});
  }
  choices.push_back({{"level", "1"}});
  return choices;
}

AVPixelFormat PixelFormatFor(const AVCodec* codec, const std::string& name, std::string* error) {
  const AVPixelFormat f = av_get_pix_fmt(name.c_str());
  if (f == AV_PIX_FMT_NONE) {
    if (error) *error = "unknown pixel format '" + name + "' (see `ffmpeg -pix_fmts`)";
    return AV_PIX_FMT_NONE;
  }
  if (const AVPixelFormat* fmts = codec->pix_fmts) {
    std::string list;
    bool found = false;
    for (const AVPixelFormat* p = fmts; *p != AV_PIX_FMT_NONE; ++p) {
      if (*p == f) found = true;
      if (const char* n = av_get_pix_fmt_name(*p)) list += std::string(list.empty() ? "" : ", ") + n;
    }
    if (!found) {
      if (error) *error = "the " + std::string(codec->name) + " encoder cannot take pixel format '" + name + "'; it takes " + list;
      return AV_PIX_FMT_NONE;
    }
  }
  if (f != AV_PIX_FMT_BGRA && !sws_isSupportedOutput(f)) {
    if (error) *error = "pictures cannot be converted to pixel format '" + name + "'";
    return AV_PIX_FMT_NONE;
  }
  return f;
}

bool OwnYuvConversionFor(AVPixelFormat format, AVColorSpace matrix, AVColorRange range, ScaleQuality quality,
                         YuvLayout* layout, YuvCoefficients* coefficients) {
  if (quality != ScaleQuality::Fast) return false;
  YuvLayout l;
  switch (format) {
    case AV_PIX_FMT_YUV420P: l = YuvLayout::Yuv420; break;
    case AV_PIX_FMT_YUV422P: l = YuvLayout::Yuv422; break;
    case AV_PIX_FMT_YUV444P: l = YuvLayout::Yuv444; break;
    default: return false;
  }
  // The matrices swscale would take for these tags; any other (FCC,
  // SMPTE 240M, BT.2020 constant luminance...) stays with swscale.
  YuvMatrix m;
  switch (matrix) {
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: m = YuvMatrix::Bt601; break;
    case AVCOL_SPC_BT709: m = YuvMatrix::Bt709; break;
    case AVCOL_SPC_BT2020_NCL: m = YuvMatrix::Bt2020; break;
    default: return false;
  }
  if (layout) *layout = l;
  if (coefficients) *coefficients = YuvCoefficientsFor(m, range == AVCOL_RANGE_JPEG);
  return true;
}

std::string DefaultEncoderFor(const std::string& outputName, std::string* error) {
  const std::string ext = LowerExtension(outputName);
  if (ext == ".mkv" || ext == ".nut") return "ffv1";
  if (ext == ".mov") return "prores_ks";
  if (ext == ".mp4" || ext == ".m4v") {
    if (avcodec_find_encoder_by_name("libx264")) return "libx264";
    if (error)
      *error = "this FFmpeg has no libx264 encoder for .mp4 output; write .mkv (lossless) or .mov (ProRes), "
               "or name another encoder with --codec";
    return {};
  }
  if (error)
    *error = "unknown output type '" + (ext.empty() ? outputName : ext) +
             "': use .mkv (lossless FFV1), .mov (ProRes), .mp4 (H.264) or .nut, or --raw";
  return {};
}

VideoWriter::~VideoWriter() { Close(); }

void VideoWriter::Close() {
  if (syncFd_ >= 0) ::close(syncFd_);
  syncFd_ = -1;
  useSws_ = false;
  ownYuv_ = false;
  av_frame_free(&frame_);
  av_frame_free(&bgra_);
  av_packet_free(&pkt_);
  avcodec_free_context(&enc_);
  if (fmt_) {
    if (!(fmt_->oformat->flags & AVFMT_NOFILE)) avio_closep(&fmt_->pb);
    avformat_free_context(fmt_);
    fmt_ = nullptr;
  }
  open_ = false;
}

bool VideoWriter::Open(const std::string& displayName, const std::string& writePath, const VideoInfo& source,
                       AVStream* audio, const WriterSettings& settings, std::string* error) {
  name_ = displayName;
  std::string encoderName = settings.codec;
  if (encoderName.empty()) {
    encoderName = DefaultEncoderFor(displayName, error);
    if (encoderName.empty()) return false;
  }
  const AVCodec* codec = avcodec_find_encoder_by_name(encoderName.c_str());
  if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) {
    if (error) *error = "unknown video codec '" + encoderName + "' (see `ffmpeg -encoders`)";
    return false;
  }
  encoderName_ = codec->name;
  const AVOutputFormat* ofmt = av_guess_format(nullptr, displayName.c_str(), nullptr);
  if (!ofmt) {
    if (error) *error = "unknown output type for '" + displayName + "'";
    return false;
  }
  if (avformat_query_codec(ofmt, codec->id, FF_COMPLIANCE_NORMAL) != 1) {
    if (error) *error = "the " + std::string(ofmt->name) + " container cannot hold " + codec->name + " video";
    return false;
  }
  int r = avformat_alloc_output_context2(&fmt_, ofmt, nullptr, writePath.c_str());
  if (r < 0 || !fmt_) {
    if (error) *error = "cannot set up '" + displayName + "': " + AvError(r);
    return false;
  }

  frame_ = av_frame_alloc();
  bgra_ = av_frame_alloc();
  pkt_ = av_packet_alloc();
  if (!frame_ || !bgra_ || !pkt_) {
    if (error) *error = "out of memory";
    return false;
  }
  AVPixelFormat pixfmt = ChoosePixelFormat(codec, source.width, source.height);
  if (!settings.pixFmt.empty()) {
    pixfmt = PixelFormatFor(codec, settings.pixFmt, error);
    if (pixfmt == AV_PIX_FMT_NONE) return false;
  }
  AVColorSpace matrix = source.matrix;
  AVColorRange range = source.range;
  if (IsRgb(pixfmt)) {
    matrix = AVCOL_SPC_RGB;
    range = AVCOL_RANGE_JPEG;
  } else {
    // An RGB source says nothing about a YUV matrix or range: use the
    // usual ones for the picture size, in video range.
    if (matrix == AVCOL_SPC_UNSPECIFIED || matrix == AVCOL_SPC_RGB) {
      if (source.primaries == AVCOL_PRI_BT709) matrix = AVCOL_SPC_BT709;
      else if (source.primaries == AVCOL_PRI_BT470BG) matrix = AVCOL_SPC_BT470BG;
      else if (source.primaries == AVCOL_PRI_SMPTE170M) matrix = AVCOL_SPC_SMPTE170M;
      else matrix = DefaultMatrixFor(source.height);
      range = AVCOL_RANGE_MPEG;
    }
    if (range == AVCOL_RANGE_UNSPECIFIED) range = AVCOL_RANGE_MPEG;
  }
  // A fresh, fully described encoder context (one per attempt below: a
  // context whose opening failed cannot be opened again).
  auto describe = [&](AVCodecContext* c) {
    c->width = source.width;
    c->height = source.height;
    c->pix_fmt = pixfmt;
    // A time base of one tick per frame, as players and editors expect;
    // source time stamps are mapped onto it (to the nearest tick).
    c->time_base = source.frameRate.num > 0 && source.frameRate.den > 0 ? av_inv_q(source.frameRate) : source.timeBase;
    c->framerate = source.frameRate;
    c->sample_aspect_ratio = source.sampleAspect;
    c->thread_count = 0;
    c->color_primaries = source.primaries;
    c->color_trc = source.transfer;
    if (!IsRgb(pixfmt)) c->chroma_sample_location = source.chromaLocation;
    c->colorspace = matrix;
    c->color_range = range;
    switch (settings.fieldMode) {
      case FieldMode::TopFirst: c->field_order = AV_FIELD_TT; break;
      case FieldMode::BottomFirst: c->field_order = AV_FIELD_BB; break;
      case FieldMode::Progressive: c->field_order = AV_FIELD_PROGRESSIVE; break;
    }
    if (settings.fieldMode != FieldMode::Progressive) c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    if (fmt_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  };

  // Encoder options, most wanted first.
  std::vector<std::vector<std::pair<const char*, const char*>>> attempts;
  const std::string cname = codec->name;
  if (cname == "ffv1") {
    // Golomb-Rice coding: as small as the range coder on grainy pictures and
    // about twice as fast.
    for (const auto& slicing : FfvSlicingFor(source.width, source.height)) {
      std::vector<std::pair<const char*, const char*>> a = {{"coder", "0"}};
      a.insert(a.end(), slicing.begin(), slicing.end());
      attempts.push_back(a);
    }
  } else if (cname == "prores_ks") {
    attempts.push_back({{"profile", pixfmt == AV_PIX_FMT_YUV444P10LE ? "4" : "3"}, {"vendor", "apl0"}});
  } else if (cname == "libx264") {
    attempts.push_back({{"crf", "16"}, {"preset", "medium"}});
  } else {
    attempts.push_back({});
  }
  for (size_t i = 0; i < attempts.size(); ++i) {
    const bool lastAttempt = i + 1 == attempts.size();
    avcodec_free_context(&enc_);
    enc_ = avcodec_alloc_context3(codec);
    if (!enc_) {
      if (error) *error = "out of memory";
      return false;
    }
    describe(enc_);
    if (cname == "ffv1") enc_->gop_size = 1;
    AVDictionary* opts = nullptr;
    for (const auto& [key, value] : attempts[i]) av_dict_set(&opts, key, value, 0);
    // An attempt that may be refused does not show the encoder's complaint.
    const int logLevel = av_log_get_level();
    if (!lastAttempt) av_log_set_level(AV_LOG_QUIET);
    r = avcodec_open2(enc_, codec, &opts);
    if (!lastAttempt) av_log_set_level(logLevel);
    av_dict_free(&opts);
    if (r >= 0) break;
    if (lastAttempt) {
      if (error) *error = "cannot start the " + cname + " encoder for '" + displayName + "': " + AvError(r);
      return false;
    }
  }
  vst_ = avformat_new_stream(fmt_, nullptr);
  if (!vst_) {
    if (error) *error = "out of memory";
    return false;
  }
  vst_->time_base = enc_->time_base;
  vst_->avg_frame_rate = source.frameRate;
  vst_->sample_aspect_ratio = source.sampleAspect;
  avcodec_parameters_from_context(vst_->codecpar, enc_);
  videoInTb_ = source.timeBase;
  frameRate_ = source.frameRate;
  firstPts_ = settings.firstPts;

  if (audio) {
    if (avformat_query_codec(fmt_->oformat, audio->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 1) {
      ast_ = avformat_new_stream(fmt_, nullptr);
      if (!ast_ || avcodec_parameters_copy(ast_->codecpar, audio->codecpar) < 0) {
        if (error) *error = "out of memory";
        return false;
      }
      ast_->codecpar->codec_tag = 0;
      ast_->time_base = audio->time_base;
      audioInTb_ = audio->time_base;
      audioOffset_ = firstPts_ == kNoTimestamp ? 0 : av_rescale_q(firstPts_, videoInTb_, audioInTb_);
    } else {
      const char* an = avcodec_get_name(audio->codecpar->codec_id);
      audioNote_ = std::string("audio not copied: the ") + fmt_->oformat->name + " container cannot hold " + an +
                   " audio (use .mkv or .mov)";
    }
  }

  if (!(fmt_->oformat->flags & AVFMT_NOFILE)) {
    r = avio_open(&fmt_->pb, writePath.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
      if (error) *error = "cannot write '" + displayName + "': " + AvError(r);
      return false;
    }
    // A second descriptor of a regular output file, through which what has
    // been written is sent on to the disk while the render goes on.
    const int fd = ::open(writePath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) syncFd_ = fd;
    else if (fd >= 0) ::close(fd);
  }
  r = avformat_write_header(fmt_, nullptr);
  if (r < 0) {
    if (error) *error = "cannot write '" + displayName + "': " + AvError(r);
    return false;
  }
  headerWritten_ = true;

  if (!ReadyPicture(frame_, error)) return false;
  ownYuv_ = OwnYuvConversionFor(pixfmt, matrix, range, settings.quality, &yuvLayout_, &yuvCoefficients_);
  if (pixfmt != AV_PIX_FMT_BGRA && !ownYuv_) {
    scaleSetup_.width = source.width;
    scaleSetup_.height = source.height;
    scaleSetup_.from = AV_PIX_FMT_BGRA;
    scaleSetup_.to = pixfmt;
    scaleSetup_.flags = ScaleFlags(settings.quality);
    if (!IsRgb(pixfmt)) {
      scaleSetup_.details = true;
      scaleSetup_.fromSpace = SWS_CS_DEFAULT;
      scaleSetup_.fromFullRange = 1;
      scaleSetup_.toSpace = matrix;
      scaleSetup_.toFullRange = range == AVCOL_RANGE_JPEG ? 1 : 0;
    }
    if (!scaler_.Prepare(scaleSetup_, 1, nullptr)) {
      if (error) *error = "cannot convert to " + std::string(av_get_pix_fmt_name(pixfmt));
      return false;
    }
    useSws_ = true;
  }
  open_ = true;
  return true;
}

bool VideoWriter::Drain(AVFrame* picture, std::string* error) {
  const bool flush = picture == nullptr;
  int r = avcodec_send_frame(enc_, picture);
  if (r < 0 && !(flush && r == AVERROR_EOF)) {
    if (error) *error = "cannot encode '" + name_ + "': " + AvError(r);
    return false;
  }
  for (;;) {
    r = avcodec_receive_packet(enc_, pkt_);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) {
      if (error) *error = "cannot encode '" + name_ + "': " + AvError(r);
      return false;
    }
    av_packet_rescale_ts(pkt_, enc_->time_base, vst_->time_base);
    pkt_->stream_index = vst_->index;
    r = av_interleaved_write_frame(fmt_, pkt_);
    if (r < 0) {
      if (error) *error = "cannot write '" + name_ + "': " + AvError(r);
      return false;
    }
  }
}

bool VideoWriter::ReadyPicture(AVFrame* picture, std::string* error) {
  if (picture->buf[0] && av_frame_is_writable(picture)) return true;
  // A buffer the encoder still holds is left to it: a fresh one costs less
  // than a copy of the old picture, which is overwritten anyway.
  av_frame_unref(picture);
  picture->format = enc_->pix_fmt;
  picture->width = enc_->width;
  picture->height = enc_->height;
  // Some encoders (ProRes) write the colour description from the frame.
  picture->color_primaries = enc_->color_primaries;
  picture->color_trc = enc_->color_trc;
  picture->colorspace = enc_->colorspace;
  picture->color_range = enc_->color_range;
  picture->chroma_location = enc_->chroma_sample_location;
  if (av_frame_get_buffer(picture, 0) < 0) {
    if (error) *error = "out of memory";
    return false;
  }
  return true;
}

bool VideoWriter::WriteVideo(const Frame& frame, std::string* error) {
  return ConvertPicture(frame, frame_, SerialRunner(), error) && EncodePicture(frame_, frame.pts, error);
}

bool VideoWriter::ConvertPicture(const Frame& frame, AVFrame* picture, const BandRunner& runner,
                                 std::string* error) {
  if (!open_) return false;
  // The conversions read a whole picture of the size the file was opened with.
  if (frame.width != enc_->width || frame.height != enc_->height ||
      frame.bytes() < static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 4) {
    if (error)
      *error = "cannot encode '" + name_ + "': a " + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
               " picture in a " + std::to_string(enc_->width) + "x" + std::to_string(enc_->height) + " video";
    return false;
  }
  if (!ReadyPicture(picture, error)) return false;
  const int bands = ConversionBands(runner);
  if (ownYuv_) {
    YuvPlanes planes;
    for (int p = 0; p < 3; ++p) {
      planes.data[p] = picture->data[p];
      planes.stride[p] = picture->linesize[p];
    }
    const YuvRowKernels& kernels = YuvRowKernelsFor(ActiveKernelLevel());
    // 4:2:0 is made from pairs of rows: bands start on even rows.
    const int align = yuvLayout_ == YuvLayout::Yuv420 ? 2 : 1;
    const int units = (frame.height + align - 1) / align;
    ForEachBand(runner, units, bands, [&](RowRange u) {
      ConvertBgraToYuvRows(frame.pixels.data(), static_cast<ptrdiff_t>(frame.width) * 4, frame.width, frame.height,
                           u.begin * align, std::min(u.end * align, frame.height), yuvLayout_, yuvCoefficients_,
                           planes, kernels);
    });
    return true;
  }
  if (!useSws_) {
    const size_t rowBytes = static_cast<size_t>(frame.width) * 4;
    ForEachBand(runner, frame.height, bands, [&](RowRange r) {
      for (int y = r.begin; y < r.end; ++y)
        std::memcpy(picture->data[0] + static_cast<ptrdiff_t>(y) * picture->linesize[0], frame.row(y), rowBytes);
    });
    return true;
  }
  if (!scaler_.Prepare(scaleSetup_, bands, error)) return false;
  // swscale only reads the frame.
  if (!WrapPicture(bgra_, const_cast<uint8_t*>(frame.pixels.data()), frame.width, frame.height, AV_PIX_FMT_BGRA,
                   frame.width * 4)) {
    if (error) *error = "out of memory";
    return false;
  }
  const bool ok = scaler_.Convert(bgra_, picture, runner, error);
  av_frame_unref(bgra_);
  if (!ok && error) *error = "cannot encode '" + name_ + "': " + *error;
  return ok;
}

bool VideoWriter::EncodePicture(AVFrame* picture, int64_t sourcePts, std::string* error) {
  if (!open_) return false;
  // Source time stamps are kept (shifted when a frame range starts later);
  // frames without one, or out of order, continue the frame rate.
  int64_t pts = sourcePts;
  if (pts != kNoTimestamp && firstPts_ != kNoTimestamp) pts -= firstPts_;
  if (pts != kNoTimestamp)
    pts = av_rescale_q_rnd(pts, videoInTb_, enc_->time_base,
                           static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  if (pts == kNoTimestamp || pts <= lastPts_) {
    pts = lastPts_ == INT64_MIN ? av_rescale_q(count_, av_inv_q(frameRate_), enc_->time_base)
                                : lastPts_ + std::max<int64_t>(1, av_rescale_q(1, av_inv_q(frameRate_), enc_->time_base));
  }
  lastPts_ = pts;
  picture->pts = pts;
  picture->pkt_duration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(frameRate_), enc_->time_base));
  picture->interlaced_frame = enc_->field_order != AV_FIELD_PROGRESSIVE;
  picture->top_field_first = enc_->field_order == AV_FIELD_TT;
  ++count_;
  if (!Drain(picture, error)) return false;
  WriteBehind();
  return true;
}

void VideoWriter::WriteBehind() {
  // The system keeps what a render writes in memory and writes most of it
  // out only when the file is closed and synchronised at the end, which then
  // takes a while on one thread; started every few megabytes, the writing
  // goes on beside the render instead. It only starts the writing (nothing
  // waits for the disk), and its result changes nothing: the file is
  // synchronised before it is kept.
  if (syncFd_ < 0 || !fmt_->pb) return;
  constexpr int64_t kStep = 16 << 20;
  const int64_t written = avio_tell(fmt_->pb);
  if (written - syncedBytes_ < kStep) return;
  const int64_t upTo = written & ~(int64_t{1 << 20} - 1);
  if (::sync_file_range(syncFd_, syncedBytes_, upTo - syncedBytes_, SYNC_FILE_RANGE_WRITE) == 0) {
    syncedBytes_ = upTo;
  } else {
    // Not possible here: all is left to the end.
    ::close(syncFd_);
    syncFd_ = -1;
  }
}

bool VideoWriter::WriteAudio(AVPacket* packet, std::string* error) {
  if (!open_ || !ast_) return true;
  if (packet->pts != AV_NOPTS_VALUE && packet->pts < audioOffset_) return true;
  AVPacket* p = av_packet_clone(packet);
  if (!p) return false;
  if (p->pts != AV_NOPTS_VALUE) p->pts -= audioOffset_;
  if (p->dts != AV_NOPTS_VALUE) p->dts -= audioOffset_;
  av_packet_rescale_ts(p, audioInTb_, ast_->time_base);
  p->stream_index = ast_->index;
  p->pos = -1;
  const int r = av_interleaved_write_frame(fmt_, p);
  av_packet_free(&p);
  if (r < 0) {
    if (error) *error = "cannot write '" + name_ + "': " + AvError(r);
    return false;
  }
  return true;
}

void VideoWriter::SetFirstPts(int64_t pts) {
  firstPts_ = pts;
  if (ast_ && pts != kNoTimestamp) audioOffset_ = av_rescale_q(pts, videoInTb_, audioInTb_);
}

bool VideoWriter::Finish(std::string* error) {
  if (!open_) return false;
  if (!Drain(nullptr, error)) return false;
  int r = av_write_trailer(fmt_);
  if (r < 0) {
    if (error) *error = "cannot finish '" + name_ + "': " + AvError(r);
    return false;
  }
  if (!(fmt_->oformat->flags & AVFMT_NOFILE)) {
    avio_flush(fmt_->pb);
    r = fmt_->pb->error;
    if (r < 0) {
      if (error) *error = "cannot write '" + name_ + "': " + AvError(r);
      return false;
    }
    r = avio_closep(&fmt_->pb);
    if (r < 0) {
      if (error) *error = "cannot write '" + name_ + "': " + AvError(r);
      return false;
    }
  }
  Close();
  return true;
}

bool WritePng(const std::string& path, const Frame& frame, std::string* error) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!codec) {
    if (error) *error = "this FFmpeg has no PNG encoder";
    return false;
  }
  AVCodecContext* enc = avcodec_alloc_context3(codec);
  AVFrame* f = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  bool ok = false;
  if (enc && f && pkt) {
    enc->width = frame.width;
    enc->height = frame.height;
    enc->pix_fmt = AV_PIX_FMT_RGB24;
    enc->time_base = AVRational{1, 25};
    f->format = AV_PIX_FMT_RGB24;
    f->width = frame.width;
    f->height = frame.height;
    if (avcodec_open2(enc, codec, nullptr) >= 0 && av_frame_get_buffer(f, 0) >= 0) {
      for (int y = 0; y < frame.height; ++y) {
        const uint8_t* s = frame.row(y);
        uint8_t* d = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
        for (int x = 0; x < frame.width; ++x) {
          d[3 * x] = s[4 * x + 2];
          d[3 * x + 1] = s[4 * x + 1];
          d[3 * x + 2] = s[4 * x];
        }
      }
      if (avcodec_send_frame(enc, f) >= 0 && avcodec_receive_packet(enc, pkt) >= 0)
        ok = WriteFileAtomically(path, pkt->data, static_cast<size_t>(pkt->size), error);
      else if (error)
        *error = "cannot encode the PNG picture";
    } else if (error) {
      *error = "cannot start the PNG encoder";
    }
  } else if (error) {
    *error = "out of memory";
  }
  av_packet_free(&pkt);
  av_frame_free(&f);
  avcodec_free_context(&enc);
  return ok;
}

}  // namespace tarvo::cli
