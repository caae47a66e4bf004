#include "clip_frames.h"

#include "raw_io.h"
#include "video_reader.h"

namespace tarvo::cli {

ClipFrames::~ClipFrames() = default;

bool ClipFrames::Open(std::string* error) {
  if (reader_) return true;
  if (rawWidth_ > 0) {
    auto r = std::make_unique<RawReader>();
    if (!r->Open(path_, rawWidth_, rawHeight_, error)) return false;
    rawFrames_ = r->frameCount();
    reader_ = std::move(r);
  } else {
    auto v = std::make_unique<VideoReader>();
    if (!v->Open(path_, error)) return false;
    video_ = v.get();
    reader_ = std::move(v);
  }
  return true;
}

int ClipFrames::width() const { return video_ ? video_->info().width : rawWidth_; }

int ClipFrames::height() const { return video_ ? video_->info().height : rawHeight_; }

int64_t ClipFrames::frameCount() const { return video_ ? video_->info().frameCount : rawFrames_; }

const VideoInfo* ClipFrames::videoInfo() const { return video_ ? &video_->info() : nullptr; }

int64_t ClipFrames::decodedFrames() const { return video_ ? video_->decodedFrames() : rawReads_; }

void ClipFrames::SetCacheLimits(size_t frames, size_t bytes) {
  maxFrames_ = frames;
  maxBytes_ = bytes;
  Evict();
}

void ClipFrames::Evict() {
  // The most recent picture stays (unless caching is off): it is the one the
  // dialog shows, and the next request is most likely the same frame again.
  const size_t keep = maxFrames_ == 0 ? 0 : 1;
  while (cache_.size() > keep && (cache_.size() > maxFrames_ || cacheBytes_ > maxBytes_)) {
    cacheBytes_ -= cache_.back().frame.bytes();
    cache_.pop_back();
  }
  if (maxFrames_ == 0 && !cache_.empty()) {
    cache_.clear();
    cacheBytes_ = 0;
  }
}

bool ClipFrames::ReadFrameAt(int64_t n, Frame& out, std::string* error) {
  for (auto it = cache_.begin(); it != cache_.end(); ++it) {
    if (it->index != n) continue;
    cache_.splice(cache_.begin(), cache_, it);
    out = cache_.front().frame;
    return true;
  }
  if (!Open(error)) return false;
  if (!reader_->ReadFrameAt(n, out, error)) return false;
  if (!video_) ++rawReads_;
  if (maxFrames_ == 0) return true;
  // Reuse the storage of the picture that would be dropped anyway.
  Cached entry{n, {}};
  if (cache_.size() >= maxFrames_) {
    cacheBytes_ -= cache_.back().frame.bytes();
    entry.frame = std::move(cache_.back().frame);
    cache_.pop_back();
  }
  entry.frame = out;
  cacheBytes_ += entry.frame.bytes();
  cache_.push_front(std::move(entry));
  Evict();
  return true;
}

}  // namespace tarvo::cli
