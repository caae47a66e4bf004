// Encodes BGRA frames into a video file: container from the file name's
// extension, a high-quality default codec for it (or one the user names),
// the source's frame rate, time stamps, field order and colour description,
// and the source's audio stream copied when the container can hold it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "banded_scale.h"
#include "clip_host.h"
#include "frame.h"
#include "util/band_runner.h"
#include "video_reader.h"
#include "yuv_write.h"

struct AVCodecContext;
struct SwsContext;

namespace tarvo::cli {

struct WriterSettings {
  std::string codec;  // encoder name; empty: the container's default
  std::string pixFmt;  // pixel format by FFmpeg's name; empty: chosen for the encoder
  ScaleQuality quality = ScaleQuality::Fast;  // conversion from BGRA
  FieldMode fieldMode = FieldMode::Progressive;
  int64_t firstPts = kNoTimestamp;  // source time stamp that becomes 0 (frame range renders)
};

// The default encoder for an output name's extension ("ffv1", "prores_ks",
// "libx264"), or "" with a message for an unknown extension.
std::string DefaultEncoderFor(const std::string& outputName, std::string* error);

// The FFV1 options tried for a picture size, in order: the encoder takes the
// first it accepts. Each choice decodes bit for bit.
std::vector<std::vector<std::pair<const char*, const char*>>> FfvSlicingFor(int width, int height);

// The pixel format named `name` if the encoder can take it and it can be
// converted to from BGRA; AV_PIX_FMT_NONE with a message otherwise.
AVPixelFormat PixelFormatFor(const AVCodec* codec, const std::string& name, std::string* error);

class VideoWriter {
 public:
  VideoWriter() = default;
  ~VideoWriter();
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;

  // `displayName` chooses the container (by extension) and names the file in
  // messages; the bytes go to `writePath`. `audio` is the source's audio
  // stream or nullptr. False with a message for an unknown extension or
  // codec, or a file that cannot be created.
  bool Open(const std::string& displayName, const std::string& writePath, const VideoInfo& source, AVStream* audio,
            const WriterSettings& settings, std::string* error);
  bool WriteVideo(const Frame& frame, std::string* error);
  // WriteVideo in two steps, which may run on different threads: the
  // conversion of a frame into a picture of the file's format (`picture`
  // is given a buffer of its own when it has none or shares it, with the
  // encoder, say), cut into as many row bands as `runner` runs at once, the
  // bytes the same for any number; then the encoding of that picture with
  // the frame's time stamp. Pictures are encoded in the order converted.
  bool ConvertPicture(const Frame& frame, AVFrame* picture, const BandRunner& runner, std::string* error);
  bool EncodePicture(AVFrame* picture, int64_t pts, std::string* error);
  // Copies one packet of the source's audio stream (time stamps in the
  // source stream's time base). Packets before the first frame are dropped.
  bool WriteAudio(AVPacket* packet, std::string* error);
  // The source time stamp that becomes 0 in the output (and the matching
  // shift of the audio); call before the first frame.
  void SetFirstPts(int64_t pts);
  // Flushes the encoder and finishes the file.
  bool Finish(std::string* error);
  // What the audio stream came to, for the user: "" when copied or absent.
  const std::string& audioNote() const { return audioNote_; }
  const std::string& encoderName() const { return encoderName_; }

 private:
  bool Drain(AVFrame* picture, std::string* error);  // nullptr: flush
  // Starts writing out to the disk what the file has got so far.
  void WriteBehind();
  // Gives `picture` a writable buffer of the file's format and size.
  bool ReadyPicture(AVFrame* picture, std::string* error);
  void Close();

  AVFormatContext* fmt_ = nullptr;
  AVCodecContext* enc_ = nullptr;
  bool useSws_ = false;         // swscale's conversion, when ours does not apply
  ScaleSetup scaleSetup_;
  BandedScaler scaler_;
  AVFrame* bgra_ = nullptr;     // the frame being converted, as swscale takes it
  bool ownYuv_ = false;        // our conversion to planar YUV (the fast path)
  YuvLayout yuvLayout_ = YuvLayout::Yuv420;
  YuvCoefficients yuvCoefficients_;
  AVFrame* frame_ = nullptr;    // the picture of WriteVideo
  AVPacket* pkt_ = nullptr;
  AVStream* vst_ = nullptr;
  AVStream* ast_ = nullptr;
  AVRational audioInTb_{1, 1};
  AVRational videoInTb_{1, 1};
  int64_t audioOffset_ = 0;  // subtracted from audio time stamps (source time base)
  bool audioStarted_ = false;
  int64_t firstPts_ = kNoTimestamp;
  int64_t lastPts_ = INT64_MIN;
  int64_t count_ = 0;
  AVRational frameRate_{25, 1};
  bool open_ = false;
  bool headerWritten_ = false;
  int syncFd_ = -1;           // the output file, for WriteBehind; -1 when not a regular file
  int64_t syncedBytes_ = 0;   // bytes sent on to the disk so far
  std::string name_;
  std::string audioNote_;
  std::string encoderName_;
};

// Whether pictures for `format` with `matrix` and `range` are converted by our
// own kernels at `quality` (planar 8-bit 4:2:0, 4:2:2 or 4:4:4; BT.601,
// BT.709 or BT.2020 non-constant luminance; `fast`), and with what layout
// and coefficients. Everything else goes through swscale.
bool OwnYuvConversionFor(AVPixelFormat format, AVColorSpace matrix, AVColorRange range, ScaleQuality quality,
                         YuvLayout* layout, YuvCoefficients* coefficients);

// Writes one picture as a PNG file (atomically).
bool WritePng(const std::string& path, const Frame& frame, std::string* error);

}  // namespace tarvo::cli
