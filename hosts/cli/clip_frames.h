// The frames the filter's frame callback asks for, read through a reader of
// their own, so a callback never moves the reader a render is using.
//
// The setup dialog asks for whatever frame its frame bar points at, often
// going back and forth over the same few frames. Decoded pictures are kept
// in a small cache (least recently used first out), and a frame that is not
// there is reached by the reader's seek to the key frame at or before it, so
// a step back never decodes the clip from its start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "frame.h"

namespace tarvo::cli {

class VideoReader;
struct VideoInfo;

class ClipFrames final : public FrameSource {
 public:
  // Default bounds of the cache: a few seconds of standard-definition
  // pictures, three or four of ultra-high-definition ones.
  static constexpr size_t kDefaultCacheFrames = 16;
  static constexpr size_t kDefaultCacheBytes = size_t{128} << 20;

  // A video file, or raw frames when rawWidth > 0. The file is opened by
  // Open() or on the first request.
  ClipFrames(std::string path, int rawWidth = 0, int rawHeight = 0)
      : path_(std::move(path)), rawWidth_(rawWidth), rawHeight_(rawHeight) {}
  ~ClipFrames() override;
  ClipFrames(const ClipFrames&) = delete;
  ClipFrames& operator=(const ClipFrames&) = delete;

  // Opens the clip now. False with a message when it cannot be read.
  bool Open(std::string* error);
  // After Open: the picture size, the number of frames (a raw file's exact
  // count, a container's announced or estimated one; -1 when unknown) and,
  // for a video file, its description (nullptr for raw frames).
  int width() const;
  int height() const;
  int64_t frameCount() const;
  const VideoInfo* videoInfo() const;

  // Frame n: from the cache, or read (and then cached).
  bool ReadFrameAt(int64_t n, Frame& out, std::string* error) override;

  // The cache keeps at most `frames` pictures and `bytes` bytes of them, but
  // always the most recent picture. Zero frames turns caching off.
  void SetCacheLimits(size_t frames, size_t bytes);
  size_t cachedFrames() const { return cache_.size(); }
  // Pictures decoded so far, including those decoded only on the way from a
  // key frame to the one asked for (for raw frames: frames read). Lets tests
  // and measurements see what the requests cost.
  int64_t decodedFrames() const;

 private:
  struct Cached {
    int64_t index;
    Frame frame;
  };
  void Evict();

  std::string path_;
  int rawWidth_, rawHeight_;
  std::unique_ptr<FrameSource> reader_;
  VideoReader* video_ = nullptr;  // reader_ when the clip is a video file
  int64_t rawFrames_ = -1;
  int64_t rawReads_ = 0;
  std::list<Cached> cache_;       // most recently used first
  size_t cacheBytes_ = 0;
  size_t maxFrames_ = kDefaultCacheFrames;
  size_t maxBytes_ = kDefaultCacheBytes;
};

}  // namespace tarvo::cli
