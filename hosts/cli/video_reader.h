// Reads the video stream of any file FFmpeg can open and hands out frames as
// 4-byte BGRA pictures; packets of the first audio stream can be passed on
// untouched for stream copy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "banded_scale.h"
#include "clip_host.h"
#include "frame.h"
#include "util/band_runner.h"

extern "C" {
#include <libavformat/avformat.h>
}

struct AVCodecContext;
struct SwsContext;

namespace tarvo::cli {

// How pictures are converted between the codec's formats and BGRA. Fast:
// bicubic vertical chroma with full horizontal chroma, exact C arithmetic
// (the same bytes on every x86-64 processor), without the slow "accurate
// rounding" path; about 1 ms a 1080p frame into BGRA and 3-4 ms out of it.
// Accurate: the same with accurate rounding, about 20 ms a 1080p frame into
// BGRA, a round trip within a few hundredths of a dB of the fast one.
enum class ScaleQuality { Fast, Accurate };

// The swscale flags for a quality.
int ScaleFlags(ScaleQuality quality);
// The YUV matrix untagged pictures of a height are read and written with:
// BT.601 below 720 lines, BT.709 from 720 up.
AVColorSpace DefaultMatrixFor(int height);
// Parses "fast" or "accurate"; false for anything else.
bool ParseScaleQuality(const std::string& text, ScaleQuality* out);
// Parses "bt601" or "bt709" (and "bt2020"); false for anything else.
bool ParseMatrixName(const std::string& text, AVColorSpace* out);
// Parses "tv" (limited, 16-235) or "pc" (full, 0-255); false otherwise.
bool ParseRangeName(const std::string& text, AVColorRange* out);

// How YUV input is read: the quality of the conversion, and a matrix and
// range that replace the file's own tags (unspecified: the tags, or for an
// untagged file the default for its height in limited range).
struct InputConversion {
  ScaleQuality quality = ScaleQuality::Fast;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

struct VideoInfo {
  int width = 0;
  int height = 0;
  AVRational timeBase{1, 25};
  AVRational frameRate{25, 1};
  AVRational sampleAspect{0, 1};
  int64_t startPts = kNoTimestamp;  // first video time stamp, if known
  int64_t frameCount = -1;          // known or estimated from the duration; -1 unknown
  FieldMode fieldMode = FieldMode::Progressive;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  AVChromaLocation chromaLocation = AVCHROMA_LOC_UNSPECIFIED;
  std::string codecName;
};

class VideoReader final : public FrameSource {
 public:
  VideoReader() = default;
  ~VideoReader() override;
  VideoReader(const VideoReader&) = delete;
  VideoReader& operator=(const VideoReader&) = delete;

  // Opens the file and its best video stream. False with a message when the
  // file cannot be read, holds no video or its codec cannot be decoded.
  bool Open(const std::string& path, std::string* error);
  const VideoInfo& info() const { return info_; }
  // Sets how YUV pictures are converted to BGRA; call before the first frame.
  void SetConversion(const InputConversion& conversion) { conversion_ = conversion; }

  // The next frame: 1 with a frame, 0 at the end of the stream, -1 on a read
  // or decode error (message in *error).
  int Next(Frame& out, std::string* error);
  // The next frame as the decoder gave it, not yet converted (moved into
  // `out`, which ConvertPicture then takes): returns as Next. Decoding and
  // converting can so run on different threads: this and ConvertPicture
  // share nothing but the settings made before the first frame.
  int NextPicture(AVFrame* out, std::string* error);
  // Converts a picture from NextPicture to BGRA (with its time stamp), cut
  // into as many row bands as `runner` runs at once; the bytes are those of
  // Next whatever the number of bands.
  bool ConvertPicture(const AVFrame* in, Frame& out, const BandRunner& runner, std::string* error);
  // Whether the last error was damage in the stream (a packet the decoder
  // refused), rather than a failure to read at all.
  bool damaged() const { return damaged_; }
  // Index of the frame Next() returns next.
  int64_t nextIndex() const { return nextIndex_; }
  // Positions the reader so that Next() returns frame n.
  bool SeekTo(int64_t n, std::string* error);
  bool ReadFrameAt(int64_t n, Frame& out, std::string* error) override;
  // Pictures the decoder has put out since Open, including those decoded
  // only to reach a frame after a seek.
  int64_t decodedFrames() const { return decoded_; }

  // Audio stream for stream copy, or nullptr. While a sink is set, Next()
  // passes every packet of that stream to it.
  AVStream* audioStream() const;
  void SetAudioSink(std::function<bool(AVPacket*)> sink) { audioSink_ = std::move(sink); }

 private:
  int DecodeOne(AVFrame* out, std::string* error);
  // Seeks the demuxer to the key frame at or before `target` (stream time)
  // and resets the decoder.
  bool SeekToTime(int64_t target, std::string* error);
  // Resets the decoder and the frame count after a seek.
  void AfterSeek();
  // Decodes up to frame n and keeps it for Next: 1 done, -1 error, and 0
  // when `afterSeek` and the first frame that came out is past n, or none
  // came out at all (the seek went too far).
  int DecodeUpTo(int64_t n, bool afterSeek, std::string* error);
  // Whether a decoded picture has the stream's size; a message if not.
  bool CheckSize(const AVFrame* in, std::string* error) const;
  int64_t IndexOf(int64_t pts) const;

  AVFormatContext* fmt_ = nullptr;
  AVCodecContext* dec_ = nullptr;
  BandedScaler scaler_;          // used by ConvertPicture only
  AVFrame* bgra_ = nullptr;      // the BGRA picture being converted into, as swscale takes it
  AVPacket* pkt_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  int audio_ = -1;
  bool pending_ = false;  // frame_ holds a decoded frame that Next returns first
  bool drained_ = false;  // the demuxer is at its end and the decoder was flushed
  bool damaged_ = false;
  int64_t nextIndex_ = 0;
  int64_t decoded_ = 0;
  VideoInfo info_;
  InputConversion conversion_;
  std::string path_;
  std::function<bool(AVPacket*)> audioSink_;
};

// FFmpeg's error text for a code.
std::string AvError(int code);

}  // namespace tarvo::cli
