// The plug-in library's exports: the entry point a video host calls, the
// description blocks it reads to list the filter, and the message sink and
// the full-width entry point our own hosts use. Loading the library does nothing else; the process-wide
// engine is made by the first xFilter call and freed when the library is
// unloaded, writing nothing.
#include <atomic>
#include <cstring>
#include <mutex>

#include "host/notify.h"
#include "host/process_engine.h"
#include "types/call_record.h"

namespace {

// The filter description block: 107 little-endian 16-bit values.
constexpr uint16_t kFilterDescription[107] = {
    0, 0, 32, 2, 0, 2, 0, 0, 2, 2, 0, 2, 0, 2, 0, 2, 0, 0, 18, 2, 0, 2, 0, 2, 0, 2, 0,
    2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 0, 14, 2, 0, 2, 0, 0, 2, 2, 0, 0, 2, 0, 2, 2, 0, 2,
    0, 0, 2, 2, 0, 2, 0, 0, 2, 0, 2, 0, 6, 2, 0, 2, 0, 0, 2, 2, 0, 0, 2, 0, 2, 2, 0,
    2, 0, 2, 0, 0, 14, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 0, 2, 2, 0, 0, 18, 0, 32, 0, 32,
};

struct FltdBytes {
  uint8_t bytes[sizeof kFilterDescription];
  constexpr FltdBytes() : bytes{} {
    for (size_t i = 0; i < 107; ++i) {
      bytes[2 * i] = static_cast<uint8_t>(kFilterDescription[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<uint8_t>(kFilterDescription[i] >> 8);
    }
  }
};
constexpr FltdBytes kFltd;
static_assert(sizeof kFltd.bytes == 214);

constexpr uint8_t kFlvs[] = {0x00, 0x00, 0x02, 0x00};
constexpr uint8_t kText[] = {0, 0, '-', ' ', 'T', 'a', 'r', 'v', 'o', ' ', '-', 0};
// The four-character code VFlt as a little-endian 32-bit value.
constexpr uint8_t kType[] = {0, 0, 't', 'l', 'F', 'V'};

// The library has one working state (planes, history, options, scene list),
// so xFilter serves one call at a time. The lock is recursive because the
// setup dialog calls the host's frame callback, and a host may render that
// frame through this filter again on the same thread.
std::recursive_mutex& EntryMutex() {
  static std::recursive_mutex m;
  return m;
}

// Bumped by every xFilterSetMessageSink; the next xFilter call lets the
// engine report again what it reported to the previous sink.
std::atomic<uint64_t> gSinkGeneration{0};
uint64_t gSinkSeen = 0;  // guarded by EntryMutex

int32_t FilterLocked(int16_t selector, tarvo::CallRecordHandle record, tarvo::FrameRules frames) {
  tarvo::Engine* engine = nullptr;
  try {
    engine = &tarvo::ProcessEngine();
    const uint64_t generation = gSinkGeneration.load();
    if (generation != gSinkSeen) {
      engine->GetNotifier().ClearAll();
      gSinkSeen = generation;
    }
    return engine->Filter(selector, record, frames);  // catches everything itself
  } catch (...) {
    // The engine could not even be made (no memory, no options file).
    try {
      tarvo::ReportToProcess(tarvo::Notice::Failure, "The filter could not start; the frame was not processed");
    } catch (...) {
    }
  }
  return selector == tarvo::kSelectorSetup ? tarvo::kSetupCancel : 0;
}

}  // namespace

extern "C" {

// Contract with the host: xFilter may be called from any thread, but calls
// are serialised (a call waits until the one running has returned), because
// every clip shares the library's one working state. No C++ exception leaves
// it: a call that fails is reported once through the message sink, leaves
// the clip's record as it was and returns as a call that did nothing would
// (0, or -1 for setup).
__attribute__((visibility("default"))) int32_t xFilter(int16_t selector, tarvo::CallRecordHandle record) {
  try {
    std::lock_guard<std::recursive_mutex> lock(EntryMutex());
    return FilterLocked(selector, record, tarvo::FrameRules::kHostProtocol);
  } catch (...) {
    // Only the lock itself can fail here.
  }
  return selector == tarvo::kSelectorSetup ? tarvo::kSetupCancel : 0;
}

// xFilter for our own hosts; see XFilterWideFn. The same engine, lock and
// messages as xFilter: only the reading of the call's two frame descriptors
// differs (RowBytes in full, frames up to 8192 pixels wide).
__attribute__((visibility("default"))) int32_t xFilterWide(int16_t selector, tarvo::CallRecordHandle record) {
  try {
    std::lock_guard<std::recursive_mutex> lock(EntryMutex());
    return FilterLocked(selector, record, tarvo::FrameRules::kOwnHosts);
  } catch (...) {
    // Only the lock itself can fail here.
  }
  return selector == tarvo::kSelectorSetup ? tarvo::kSetupCancel : 0;
}

// Where the filter's messages go; see XFilterSetMessageSinkFn.
__attribute__((visibility("default"))) int32_t xFilterSetMessageSink(XFilterMessageSinkFn sink, void* context) {
  try {
    std::lock_guard<std::recursive_mutex> lock(EntryMutex());
    if (sink)
      tarvo::SetProcessNoticeHandler([sink, context](tarvo::Notice kind, const std::string& text) {
        sink(context, static_cast<int32_t>(kind), text.c_str());
      });
    else
      tarvo::SetProcessNoticeHandler({});
    gSinkGeneration.fetch_add(1);
    return 0;
  } catch (...) {
    return -1;
  }
}

__attribute__((visibility("default"))) int32_t xFilterDescription(const char* type, int32_t id,
                                                                   const uint8_t** bytes) {
  // Plain look-ups of constant data: nothing here can throw.
  if (!type) return -1;
  const uint8_t* data = nullptr;
  int32_t size = -1;
  if (std::strcmp(type, "FLTD") == 0 && id == 1) {
    data = kFltd.bytes;
    size = sizeof kFltd.bytes;
  } else if (id == 1000 && std::strcmp(type, "FLVS") == 0) {
    data = kFlvs;
    size = sizeof kFlvs;
  } else if (id == 1000 && std::strcmp(type, "TEXT") == 0) {
    data = kText;
    size = sizeof kText;
  } else if (id == 1000 && std::strcmp(type, "TYPE") == 0) {
    data = kType;
    size = sizeof kType;
  }
  if (size >= 0 && bytes) *bytes = data;
  return size;
}

}  // extern "C"

// The exports must keep the types hosts look them up with.
static_assert(std::is_same_v<decltype(&xFilter), XFilterFn>);
static_assert(std::is_same_v<decltype(&xFilterWide), XFilterWideFn>);
static_assert(std::is_same_v<decltype(&xFilterDescription), XFilterDescriptionFn>);
static_assert(std::is_same_v<decltype(&xFilterSetMessageSink), XFilterSetMessageSinkFn>);
