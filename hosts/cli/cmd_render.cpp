#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

#include "bounded_queue.h"
#include "clip_frames.h"
#include "clip_host.h"
#include "commands.h"
#include "file_identity.h"
#include "output_file.h"
#include "plugin_loader.h"
#include "progress.h"
#include "project_file.h"
#include "raw_io.h"
#include "record_source.h"
#include "host/notify.h"
#include "options/options.h"
#include "util/thread_pool.h"
#include "types/specs_fields.h"
#include "video_reader.h"
#include "video_writer.h"

namespace tarvo::cli {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

bool ParseRange(const std::string& text, int64_t& from, int64_t& to, std::string* error) {
  const size_t dash = text.find('-');
  char* end = nullptr;
  auto bad = [&] {
    if (error) *error = "--frames expects FROM-TO (for example 0-99, or 100- to the end), got '" + text + "'";
    return false;
  };
  if (dash == std::string::npos || dash == 0) return bad();
  from = std::strtoll(text.c_str(), &end, 10);
  if (end != text.c_str() + dash || from < 0) return bad();
  if (dash + 1 == text.size()) {
    to = INT64_MAX;
    return true;
  }
  to = std::strtoll(text.c_str() + dash + 1, &end, 10);
  if (*end != '\0' || to < from) return bad();
  return true;
}

// What the filter reports while the command renders. A report that a frame
// was not rendered (out of memory, a frame it refuses, a failed call) fails
// the render; anything else is shown as the filter's own messages were.
class FilterMessages {
 public:
  explicit FilterMessages(const PluginLibrary& plugin) : setSink_(plugin.setMessageSink()) {
    if (setSink_) setSink_(&FilterMessages::Receive, this);
  }
  ~FilterMessages() {
    if (setSink_) setSink_(nullptr, nullptr);
  }
  FilterMessages(const FilterMessages&) = delete;
  FilterMessages& operator=(const FilterMessages&) = delete;

  // The first report of a frame that was not rendered, or "".
  const std::string& failure() const { return failure_; }

 private:
  static void Receive(void* context, int32_t kind, const char* text) {
    auto* self = static_cast<FilterMessages*>(context);
    std::string line = text ? text : "";
    for (char& c : line)
      if (c == '\r' || c == '\n') c = ' ';
    if (kind >= 0 && kind < kNoticeKinds && IsFrameFailure(static_cast<Notice>(kind))) {
      if (self->failure_.empty()) self->failure_ = line.empty() ? "the filter did not render the frame" : line;
      return;
    }
    Complain(line);
  }

  XFilterSetMessageSinkFn setSink_;
  std::string failure_;
};

// INPUT, OUTPUT and the files named by options must all be different files:
// writing progress, a record or a project over the video (or over each
// other) would destroy it. An empty result when they are.
std::string CheckDistinctFiles(const RenderOptions& o) {
  std::vector<FileIdentity> ids;
  ids.push_back(o.input == "-" ? IdentifyDescriptor("INPUT", 0) : IdentifyPath("INPUT", o.input));
  ids.push_back(o.output == "-" ? IdentifyDescriptor("OUTPUT", 1) : IdentifyPath("OUTPUT", o.output));
  if (!o.record.empty()) ids.push_back(IdentifyPath("--record", o.record));
  if (!o.project.empty()) ids.push_back(IdentifyPath("--project", o.project));
  if (!o.progress.empty()) {
    const int fd = ProgressTargetDescriptor(o.progress);
    if (fd >= 0) ids.push_back(IdentifyDescriptor("--progress", fd));
    else if (o.progress.rfind("fd:", 0) != 0 && o.progress.rfind("pipe:", 0) != 0)
      ids.push_back(IdentifyPath("--progress", o.progress));
  }
  return FirstSameFile(ids);
}

// "'clip.ts' holds 20 frames, not the 10 its container announced", when the
// input's real length differs from what its container said.
void ReportFrameCount(const std::string& input, int64_t announced, int64_t seen, bool atEnd) {
  if (announced <= 0) return;
  const std::string name = "'" + input + "'";
  if (atEnd && seen < announced)
    Complain(name + " ended after " + std::to_string(seen) + " frames, not the " + std::to_string(announced) +
             " its container announced: it may be cut short or damaged");
  else if (atEnd && seen > announced)
    Complain(name + " holds " + std::to_string(seen) + " frames, not the " + std::to_string(announced) +
             " its container announced");
  else if (!atEnd && seen > announced)
    Complain(name + " holds more than the " + std::to_string(announced) + " frames its container announced");
}

// Copies of the audio packets read while one frame was decoded, written
// just before that frame, in the order a one-thread render writes them.
class AudioPackets {
 public:
  AudioPackets() = default;
  AudioPackets(AudioPackets&& other) noexcept { packets_.swap(other.packets_); }
  AudioPackets& operator=(AudioPackets&& other) noexcept {
    if (this != &other) {
      Clear();
      packets_.swap(other.packets_);
    }
    return *this;
  }
  AudioPackets(const AudioPackets&) = delete;
  AudioPackets& operator=(const AudioPackets&) = delete;
  ~AudioPackets() { Clear(); }

  bool Add(const AVPacket* packet) {
    AVPacket* copy = av_packet_clone(packet);
    if (!copy) return false;
    packets_.push_back(copy);
    return true;
  }
  void Clear() {
    for (AVPacket*& p : packets_) av_packet_free(&p);
    packets_.clear();
  }
  const std::vector<AVPacket*>& packets() const { return packets_; }

 private:
  std::vector<AVPacket*> packets_;
};

struct FreePicture {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Picture = std::unique_ptr<AVFrame, FreePicture>;

// A picture on its way from the decoding thread to the filter's, as the
// decoder made it (the filter's thread converts it).
struct DecodedFrame {
  Picture picture{av_frame_alloc()};
  int result = 0;  // as VideoReader::Next: 1 a frame, 0 the end, -1 an error
  bool damaged = false;
  std::string error;
  AudioPackets audio;
};

// A picture on its way from the filter's thread to the encoding thread,
// converted to the file's format; `last` carries only the audio read at the
// end of the input.
struct FilteredFrame {
  Picture picture{av_frame_alloc()};
  int64_t pts = kNoTimestamp;
  AudioPackets audio;
  bool last = false;
  bool first = false;  // its time stamp becomes the output's zero
};

// Frames in flight between two stages. When the filter's threads take every
// core, one: a frame decoded or encoded ahead would only be worked on by
// preempting a filter thread, which holds up the whole stage at its end, and
// the extra frames in flight push each other out of the caches (on two cores,
// one frame in flight renders about 15 % more frames per second than four).
// Otherwise a few, fewer for very large pictures so that memory stays
// bounded.
size_t QueueDepthFor(int width, int height, int filterThreads) {
  if (filterThreads + 2 > ThreadPool::HardwareThreads()) return 1;
  const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
  return bytes > (64u << 20) ? 2 : 4;
}

}  // namespace

int PassFilterThreads(const std::string& requested, std::string* error) {
  std::optional<int32_t> threads;
  if (!requested.empty()) {
    threads = ParseThreadCount(requested);
    if (!threads) {
      *error = "--threads must be 0 (one per core) or a number of threads, got '" + requested + "'";
      return 0;
    }
  } else if (const char* env = std::getenv("TARVO_THREADS"); env && *env) {
    threads = ParseThreadCount(env);
    if (!threads) Complain(std::string("TARVO_THREADS '") + env + "' is not a thread count; using one per core");
  }
  const int32_t count = threads.value_or(0);
  setenv("TARVO_THREADS", std::to_string(count).c_str(), 1);
  return std::min(ResolveThreadCount(count), ResolveThreadCount(0));
}

int RunRender(const RenderOptions& o, RenderStats* statsOut) {
  std::string error;
  auto fail = [&](const std::string& msg, int code = kExitError) {
    Complain(msg);
    return code;
  };
  // Check everything the user typed before touching any file.
  if (!o.opMode.empty() && o.opMode != "bypass" && o.opMode != "draft" && o.opMode != "final")
    return fail("--op-mode must be bypass, draft or final, got '" + o.opMode + "'", kExitUsage);
  if (!o.threads.empty() && !ParseThreadCount(o.threads))
    return fail("--threads must be 0 (one per core) or a number of threads, got '" + o.threads + "'", kExitUsage);
  FieldMode fieldMode = FieldMode::Progressive;
  const bool fieldsGiven = !o.fields.empty();
  if (o.fields == "tff") fieldMode = FieldMode::TopFirst;
  else if (o.fields == "bff") fieldMode = FieldMode::BottomFirst;
  else if (fieldsGiven && o.fields != "progressive")
    return fail("--fields must be progressive, tff or bff, got '" + o.fields + "'", kExitUsage);
  int64_t from = 0, to = INT64_MAX;
  if (!o.frames.empty() && !ParseRange(o.frames, from, to, &error)) return fail(error, kExitUsage);
  int rawW = 0, rawH = 0;
  const bool raw = !o.raw.empty();
  if (raw && !ParseFrameSize(o.raw, rawW, rawH, &error)) return fail("--raw: " + error, kExitUsage);
  if (!raw && (o.input == "-" || o.output == "-")) return fail("'-' (standard input/output) needs --raw WxH", kExitUsage);
  {
    TSpecs probe = BuiltInDefaultSpecs();
    for (const auto& s : o.sets)
      if (!ApplyUserAssignment(probe, s, &error)) return fail("--set " + s + ": " + error, kExitUsage);
  }
  if (const std::string clash = CheckDistinctFiles(o); !clash.empty()) return fail(clash, kExitUsage);
  if (!o.overwrite && o.output != "-" && std::filesystem::exists(o.output))
    return fail("'" + o.output + "' exists (and -n was given)");
  if (!raw && o.codec.empty() && DefaultEncoderFor(o.output, &error).empty()) return fail(error);
  InputConversion conversion;
  if (!o.scaleQuality.empty() && !ParseScaleQuality(o.scaleQuality, &conversion.quality))
    return fail("--scale-quality must be fast or accurate, got '" + o.scaleQuality + "'", kExitUsage);
  if (!o.inMatrix.empty() && !ParseMatrixName(o.inMatrix, &conversion.matrix))
    return fail("--in-matrix must be bt601, bt709 or bt2020, got '" + o.inMatrix + "'", kExitUsage);
  if (!o.inRange.empty() && !ParseRangeName(o.inRange, &conversion.range))
    return fail("--in-range must be tv or pc, got '" + o.inRange + "'", kExitUsage);
  if (raw && (!o.pixFmt.empty() || !o.scaleQuality.empty() || !o.inMatrix.empty() || !o.inRange.empty()))
    return fail("--pix-fmt, --scale-quality, --in-matrix and --in-range apply to video files, not to --raw frames",
                kExitUsage);
  if (!raw && !o.pixFmt.empty()) {
    const std::string encoderName = o.codec.empty() ? DefaultEncoderFor(o.output, &error) : o.codec;
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
      return fail("unknown video codec '" + encoderName + "' (see `ffmpeg -encoders`)", kExitUsage);
    if (PixelFormatFor(codec, o.pixFmt, &error) == AV_PIX_FMT_NONE) return fail("--pix-fmt: " + error, kExitUsage);
  }

  // The operating mode override and the thread count are read by the filter
  // at its start-up.
  if (!o.opMode.empty()) setenv("TARVO_OPMODE", o.opMode.c_str(), 1);
  const int filterThreads = PassFilterThreads(o.threads, &error);
  if (filterThreads == 0) return fail(error, kExitUsage);

  // Input.
  std::unique_ptr<VideoReader> video;
  std::unique_ptr<RawReader> rawIn;
  VideoInfo info;
  if (raw) {
    rawIn = std::make_unique<RawReader>();
    if (!rawIn->Open(o.input, rawW, rawH, &error)) return fail(error);
    info.width = rawW;
    info.height = rawH;
    info.frameCount = rawIn->frameCount();
    info.timeBase = AVRational{1, 25};
    info.frameRate = AVRational{25, 1};
  } else {
    video = std::make_unique<VideoReader>();
    if (!video->Open(o.input, &error)) return fail(error);
    video->SetConversion(conversion);
    info = video->info();
    // The output describes its colour as the input was read.
    if (conversion.matrix != AVCOL_SPC_UNSPECIFIED && info.matrix != AVCOL_SPC_RGB) info.matrix = conversion.matrix;
    if (conversion.range != AVCOL_RANGE_UNSPECIFIED && info.matrix != AVCOL_SPC_RGB) info.range = conversion.range;
  }
  if (!fieldsGiven) fieldMode = info.fieldMode;
  // A raw file's count is exact; a container's may be an estimate, so there
  // the seek finds out.
  if (raw && info.frameCount > 0 && from >= info.frameCount)
    return fail("--frames starts at " + std::to_string(from) + " but '" + o.input + "' has " +
                std::to_string(info.frameCount) + " frames");

  PluginLibrary* plugin = LoadPlugin(o.plugin, &error);
  if (!plugin) return fail(error);
  // Frames go through the plug-in's full-width entry point whatever their
  // size, so that a 720-pixel clip and an 8K clip take the same path; a
  // plug-in without one takes frames as wide as a video host's.
  if (info.width > plugin->maxFrameWidth())
    return fail("'" + o.input + "' is " + std::to_string(info.width) + " pixels wide; the filter takes frames up to " +
                std::to_string(plugin->maxFrameWidth()) + " pixels wide");
  if (info.height > plugin->maxFrameHeight())
    return fail("'" + o.input + "' is " + std::to_string(info.height) + " rows high; the filter takes frames up to " +
                std::to_string(plugin->maxFrameHeight()) + " rows high");
  FilterMessages filterMessages(*plugin);

  // The clip and its record.
  const std::string clipKey = o.input == "-" ? std::string("standard input") : ProjectFile::ClipKey(o.input);
  ClipHost clip(plugin->frameEntry(), clipKey);
  clip.SetFieldMode(fieldMode);
  // Total stays the same for the whole render (the filter's run detection
  // compares it from frame to frame); a stream of unknown length gets the
  // largest count.
  clip.SetTotal(info.frameCount > 0 ? static_cast<int32_t>(std::min<int64_t>(info.frameCount, INT32_MAX)) : INT32_MAX);
  ClipFrames callbackFrames(o.input, raw ? rawW : 0, rawH);
  if (o.input != "-") clip.SetFrameSource(&callbackFrames);
  ProjectFile project;
  if (!o.project.empty() && !project.Load(o.project, &error)) return fail(error);
  if (!LoadClipRecord(clip, o.record, o.project.empty() ? nullptr : &project, o.input, &error)) return fail(error);
  if (!o.scene.empty() || !o.sets.empty()) {
    if (!clip.HasRecord()) clip.Prepare(static_cast<int32_t>(from));
    TSpecs* rec = clip.MutableRecord();
    if (!rec) return fail("the filter made no record for the clip");
    if (!o.scene.empty() && !LoadSceneInto(*rec, o.scene, plugin->path(), &error)) return fail(error);
    for (const auto& s : o.sets)
      if (!ApplyUserAssignment(*rec, s, &error)) return fail("--set " + s + ": " + error, kExitUsage);
  }

  // Position the input.
  if (from > 0) {
    if (video ? !video->SeekTo(from, &error) : !rawIn->SeekTo(from, &error)) return fail(error);
  }
  // The input is read to its end (or to TO): the count a container announces
  // is often estimated from its duration and may be short or long. It only
  // sets the expected total for the progress report.
  const int64_t announced = info.frameCount;
  int64_t expected = -1;
  if (announced > 0 && from < announced) expected = std::min(to, announced - 1) - from + 1;
  else if (to != INT64_MAX) expected = to - from + 1;

  // Output.
  std::unique_ptr<PendingOutput> pending;
  FILE* rawOut = nullptr;
  VideoWriter writer;
  if (o.output == "-") {
    rawOut = stdout;
  } else {
    pending = std::make_unique<PendingOutput>(o.output);
    if (!pending->CheckWritable(&error)) return fail(error);
    for (const auto& name : RemoveStaleTemporaries(o.output))
      Complain("removed '" + name + "', the unfinished output of an earlier render that was killed");
    if (!pending->Create(&error)) return fail(error);
    if (raw) {
      rawOut = std::fopen(pending->tempPath().c_str(), "wb");
      if (!rawOut) return fail("cannot write '" + o.output + "': " + std::strerror(errno));
    } else {
      WriterSettings ws;
      ws.codec = o.codec;
      ws.pixFmt = o.pixFmt;
      ws.quality = conversion.quality;
      ws.fieldMode = fieldMode;
      if (!writer.Open(o.output, pending->tempPath(), info, video->audioStream(), ws, &error)) {
        pending->Discard();
        return fail(error);
      }
      if (!writer.audioNote().empty() && !o.quiet) Complain(writer.audioNote());
    }
  }
  auto closeRaw = [&] {
    if (rawOut && rawOut != stdout) std::fclose(rawOut);
    rawOut = nullptr;
  };
  auto abandon = [&](const std::string& msg, int code) {
    closeRaw();
    if (pending) pending->Discard();
    return fail(msg, code);
  };

  FILE* machine = nullptr;
  if (!o.progress.empty()) {
    machine = OpenProgressTarget(o.progress, &error);
    if (!machine) return abandon(error, kExitError);
  }
  Progress progress(!o.quiet && isatty(STDERR_FILENO), machine);
  progress.Start(expected, av_q2d(info.frameRate));

  RenderStats st;
  st.threads = filterThreads;
  st.width = info.width;
  st.height = info.height;
  const auto t0 = Clock::now();
  int64_t part = from;
  bool ok = true;
  bool atEnd = false;
  std::string loopError;
  // The raw path and --serial run in turn on this thread.
  const bool overlap = video && !o.serial;
  if (!overlap) {
    Frame in, out;
    if (video) video->SetAudioSink([&writer](AVPacket* p) { return writer.WriteAudio(p, nullptr); });
    while (part <= to) {
      if (Interrupted()) break;
      auto t = Clock::now();
      const int r = video ? video->Next(in, &loopError) : rawIn->Next(in, &loopError);
      st.decode += Since(t);
      if (r == 0) {
        atEnd = true;
        break;
      }
      if (r < 0) {
        // Damage stops the render: an output with frames left out would not
        // match its source frame for frame. What came before can be had.
        if (video && video->damaged() && part > from)
          loopError += "; frames " + std::to_string(from) + " to " + std::to_string(part - 1) +
                       " can be rendered with --frames " + std::to_string(from) + "-" + std::to_string(part - 1);
        ok = false;
        break;
      }
      // A frame range starts its time stamps at zero.
      if (in.pts != kNoTimestamp && from > 0 && st.frames == 0 && video) writer.SetFirstPts(in.pts);
      out.Resize(in.width, in.height);
      out.pts = in.pts;
      t = Clock::now();
      clip.Execute(static_cast<int32_t>(part), in.pixels.data(), out.pixels.data(), in.width, in.height);
      st.filter += Since(t);
      if (!filterMessages.failure().empty()) {
        loopError = "the filter did not render frame " + std::to_string(part) + ": " + filterMessages.failure();
        ok = false;
        break;
      }
      t = Clock::now();
      const bool written = rawOut ? WriteRawFrame(rawOut, out, o.output == "-" ? "standard output" : "'" + o.output + "'", &loopError)
                                  : writer.WriteVideo(out, &loopError);
      st.encode += Since(t);
      if (!written) {
        ok = false;
        break;
      }
      ++part;
      ++st.frames;
      // Longer than announced: the total is unknown until the end.
      if (progress.total() >= 0 && st.frames > progress.total()) progress.SetTotal(-1);
      progress.Frame(st.frames);
    }
  } else {
    // Decoding, filtering and encoding overlap on three threads; frames go
    // through two small queues in order, and their buffers come back through
    // two more, so the bytes written are those of the one-thread loop above.
    // The decoding thread only decodes and the encoding thread only encodes:
    // the conversions to BGRA and back run on the filter's thread, each cut
    // into as many row bands as the filter has threads and run on workers of
    // the command's own, so that they take every core for a moment instead
    // of one core beside the filter's bands (a band held up by another
    // thread holds up the whole stage at its end).
    const size_t depth = QueueDepthFor(info.width, info.height, filterThreads);
    ThreadPool convertPool;
    PoolRunner convert(convertPool);
    convert.SetThreads(filterThreads);
    BoundedQueue<DecodedFrame> decoded(depth), decodedFree(depth);
    BoundedQueue<FilteredFrame> filtered(depth), filteredFree(depth);
    for (size_t i = 0; i < depth; ++i) {
      DecodedFrame d;
      decodedFree.Push(d);
      FilteredFrame f;
      filteredFree.Push(f);
    }
    auto cancelAll = [&] {
      decoded.Cancel();
      decodedFree.Cancel();
      filtered.Cancel();
      filteredFree.Cancel();
    };
    std::atomic<bool> encodeFailed{false};
    std::string encodeError;  // written by the encoding thread before it sets encodeFailed
    double decodeSeconds = 0, encodeSeconds = 0;
    int64_t written = 0;
    AudioPackets* collecting = nullptr;  // used by the decoding thread only
    video->SetAudioSink([&collecting](AVPacket* p) { return collecting && collecting->Add(p); });

    std::thread decoder([&] {
      for (int64_t n = from; n <= to; ++n) {
        DecodedFrame item;
        if (decodedFree.Pop(item) != BoundedQueue<DecodedFrame>::PopResult::Item) return;
        item.audio.Clear();
        item.error.clear();
        if (!item.picture) {
          item.result = -1;
          item.error = "out of memory";
          decoded.Push(item);
          return;
        }
        collecting = &item.audio;
        const auto t = Clock::now();
        item.result = video->NextPicture(item.picture.get(), &item.error);
        decodeSeconds += Since(t);
        collecting = nullptr;
        item.damaged = video->damaged();
        const int r = item.result;
        if (!decoded.Push(item) || r <= 0) return;
      }
    });
    std::thread encoder([&] {
      for (;;) {
        FilteredFrame item;
        if (filtered.Pop(item) != BoundedQueue<FilteredFrame>::PopResult::Item) return;
        std::string why;
        bool good = true;
        for (AVPacket* p : item.audio.packets()) {
          if (!writer.WriteAudio(p, nullptr)) {
            why = "cannot copy the audio stream";
            good = false;
            break;
          }
        }
        item.audio.Clear();
        if (good && !item.last) {
          if (item.first) writer.SetFirstPts(item.pts);
          const auto t = Clock::now();
          good = writer.EncodePicture(item.picture.get(), item.pts, &why);
          encodeSeconds += Since(t);
          if (good) ++written;
        }
        filteredFree.Push(item);
        if (!good) {
          encodeError = why.empty() ? "cannot write '" + o.output + "'" : why;
          encodeFailed = true;
          cancelAll();
          return;
        }
      }
    });

    // Waits for an item while watching for a signal; false when stopped.
    auto take = [&](auto& queue, auto& item) {
      using Q = std::remove_reference_t<decltype(queue)>;
      for (;;) {
        if (Interrupted()) return false;
        const auto got = queue.PopFor(item, std::chrono::milliseconds(100));
        if (got == Q::PopResult::Item) return true;
        if (got == Q::PopResult::Closed) return false;
      }
    };
    int64_t filteredCount = 0;
    double convertSeconds = 0, unconvertSeconds = 0;
    Frame in, out;
    while (part <= to) {
      DecodedFrame item;
      if (!take(decoded, item)) {
        ok = false;
        break;
      }
      if (item.result == 0) {
        atEnd = true;
        // The audio read at the end still goes out, after the last frame.
        FilteredFrame end;
        if (!take(filteredFree, end)) {
          ok = false;
          break;
        }
        end.audio = std::move(item.audio);
        end.last = true;
        if (!filtered.Push(end)) ok = false;
        break;
      }
      if (item.result < 0) {
        loopError = item.error;
        if (item.damaged && part > from)
          loopError += "; frames " + std::to_string(from) + " to " + std::to_string(part - 1) +
                       " can be rendered with --frames " + std::to_string(from) + "-" + std::to_string(part - 1);
        ok = false;
        break;
      }
      auto t = Clock::now();
      if (!video->ConvertPicture(item.picture.get(), in, convert, &loopError)) {
        ok = false;
        break;
      }
      convertSeconds += Since(t);
      AudioPackets audio = std::move(item.audio);
      // The decoder may go on into the picture's buffer.
      av_frame_unref(item.picture.get());
      decodedFree.Push(item);
      out.Resize(in.width, in.height);
      t = Clock::now();
      clip.Execute(static_cast<int32_t>(part), in.pixels.data(), out.pixels.data(), in.width, in.height);
      st.filter += Since(t);
      if (!filterMessages.failure().empty()) {
        loopError = "the filter did not render frame " + std::to_string(part) + ": " + filterMessages.failure();
        ok = false;
        break;
      }
      FilteredFrame outItem;
      if (!take(filteredFree, outItem)) {
        ok = false;
        break;
      }
      t = Clock::now();
      if (!writer.ConvertPicture(out, outItem.picture.get(), convert, &loopError)) {
        ok = false;
        break;
      }
      unconvertSeconds += Since(t);
      outItem.pts = in.pts;
      outItem.audio = std::move(audio);
      outItem.first = in.pts != kNoTimestamp && from > 0 && filteredCount == 0;
      outItem.last = false;
      if (!filtered.Push(outItem)) {
        ok = false;
        break;
      }
      ++part;
      ++filteredCount;
      if (progress.total() >= 0 && filteredCount > progress.total()) progress.SetTotal(-1);
      progress.Frame(filteredCount);
    }
    if (ok) {
      // Everything is queued: the encoder writes it out and stops.
      decoded.Cancel();
      filtered.Close();
    } else {
      cancelAll();
    }
    encoder.join();
    decoder.join();
    video->SetAudioSink(nullptr);
    st.decode += decodeSeconds + convertSeconds;
    st.encode += encodeSeconds + unconvertSeconds;
    st.frames = written;
    if (encodeFailed) {
      ok = false;
      loopError = encodeError;
    } else if (!ok && loopError.empty() && !Interrupted()) {
      loopError = "the render stopped";
    }
  }
  if (Interrupted()) {
    progress.Finish(st.frames, false);
    if (machine && machine != stdout && machine != stderr) std::fclose(machine);
    const int sig = InterruptSignal();
    return abandon(std::string("interrupted (") + strsignal(sig) + "); no output written", 128 + sig);
  }
  if (ok) {
    ReportFrameCount(o.input, announced, part, atEnd);
    if (atEnd) progress.SetTotal(st.frames);
  }
  if (ok) {
    const auto t = Clock::now();
    if (rawOut) {
      if (std::fflush(rawOut) != 0 || std::ferror(rawOut)) {
        ok = false;
        loopError = "cannot write '" + o.output + "': " + std::strerror(errno);
      }
    } else if (!writer.Finish(&loopError)) {
      ok = false;
    }
    st.encode += Since(t);
  }
  closeRaw();
  progress.Finish(st.frames, ok);
  if (machine && machine != stdout && machine != stderr) std::fclose(machine);
  if (!ok) return abandon(loopError, kExitError);
  if (st.frames == 0)
    return abandon(o.frames.empty() ? "'" + o.input + "' holds no frames" : "no frames in the range " + o.frames,
                   kExitError);
  if (pending && !pending->Commit(&error, !o.overwrite)) return fail(error);
  st.total = Since(t0);

  // The record the filter leaves goes back to where it came from.
  if (!SaveClipRecord(clip, o.record, o.project.empty() ? nullptr : &project, o.project, o.input, &error))
    return fail(error);

  if (o.stats) {
    auto perFrame = [&](double s) { return st.frames ? s * 1000.0 / static_cast<double>(st.frames) : 0.0; };
    std::fprintf(stderr,
                 "tarvo: %" PRId64 " frames %dx%d in %.2f s: %.1f fps overall; filter %.1f fps (%.2f ms/frame, "
                 "%d thread%s); decode %.2f ms/frame; encode %.2f ms/frame\n",
                 st.frames, st.width, st.height, st.total, st.total > 0 ? static_cast<double>(st.frames) / st.total : 0.0,
                 st.filter > 0 ? static_cast<double>(st.frames) / st.filter : 0.0, perFrame(st.filter), st.threads,
                 st.threads == 1 ? "" : "s", perFrame(st.decode), perFrame(st.encode));
  }
  if (statsOut) *statsOut = st;
  return kExitOk;
}

int CmdRender(const std::vector<std::string>& args) {
  RenderOptions o;
  ArgScanner a(args);
  std::string error, v;
  std::vector<std::string> positional;
  while (!a.Done() && error.empty()) {
    if (a.Flag("-h") || a.Flag("--help")) {
      PrintUsage(true);
      return kExitOk;
    }
    if (a.Option("--project", &o.project, &error) || a.Option("--record", &o.record, &error) ||
        a.Option("--scene", &o.scene, &error) || a.Option("--op-mode", &o.opMode, &error) ||
        a.Option("--threads", &o.threads, &error) ||
        a.Option("--fields", &o.fields, &error) || a.Option("--frames", &o.frames, &error) ||
        a.Option("--raw", &o.raw, &error) || a.Option("--codec", &o.codec, &error) ||
        a.Option("--pix-fmt", &o.pixFmt, &error) || a.Option("--scale-quality", &o.scaleQuality, &error) ||
        a.Option("--in-matrix", &o.inMatrix, &error) || a.Option("--in-range", &o.inRange, &error) ||
        a.Option("--progress", &o.progress, &error) || a.Option("--plugin", &o.plugin, &error))
      continue;
    if (a.Option("--set", &v, &error)) {
      o.sets.push_back(v);
      continue;
    }
    if (a.Flag("-q") || a.Flag("--quiet")) {
      o.quiet = true;
      continue;
    }
    if (a.Flag("--serial")) {
      o.serial = true;
      continue;
    }
    if (a.Flag("--stats")) {
      o.stats = true;
      continue;
    }
    if (a.Flag("-n")) {
      o.overwrite = false;
      continue;
    }
    if (a.Flag("-y")) {
      o.overwrite = true;
      continue;
    }
    const std::string arg = a.Take();
    if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option '" + arg + "' for render";
      break;
    }
    positional.push_back(arg);
  }
  if (error.empty() && positional.size() != 2) error = "render needs INPUT and OUTPUT";
  if (!error.empty()) {
    Complain(error);
    PrintUsage(false);
    return kExitUsage;
  }
  o.input = positional[0];
  o.output = positional[1];
  return RunRender(o);
}

}  // namespace tarvo::cli
