// A stand-in filter library for testing the host side of the call protocol.
// It creates the record from the built-in defaults like the real filter, then:
//  - execute: writes source XOR (Gain & 0xFF) to the destination (fourth byte
//    copied), so record changes show in the output;
//  - setup: asks the host's frame callback for frame Part scaled to 8x6
//    into an off-screen world and keeps the first 32 bytes of the world in the
//    record (reserved bytes 180..211); sets Lift to 7; returns OK, or Cancel
//    when TARVO_FAKE_CANCEL is set. More, through the environment:
//      TARVO_FAKE_SETUP=cancel        Cancel after the edits below
//      TARVO_FAKE_SETUP=wait          OK after 20 seconds, as a user who
//                                     keeps the dialog open
//      TARVO_FAKE_SETUP=unavailable   reports that the dialog cannot be
//                                     shown and returns as Cancel, as the
//                                     filter does without a display
//      TARVO_FAKE_EDIT=F=V,F=V...     record fields to change (as `record set`)
//      TARVO_FAKE_FRAMES=5,1,7...     frames to ask the callback for, each
//                                     into a world of TARVO_FAKE_FRAME_SIZE
//                                     (WxH, default 8x6) filled with 0xEE
//                                     first; the worlds' pixels, rows top
//                                     first, are appended to TARVO_FAKE_DUMP
//      TARVO_FAKE_RECORD_OUT=FILE     the record as setup leaves it
// Every call bumps a counter in reserved bytes 174..177 and, when
// TARVO_FAKE_LOG names a file, appends one line describing the call. With
// TARVO_FAKE_OUT_OF_MEMORY set, execute from that frame number on writes
// nothing and reports running out of memory through the host's message sink.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/host_services.h"
#include "types/call_record.h"
#include "types/notice.h"
#include "types/specs.h"
#include "types/specs_fields.h"

using namespace tarvo;

namespace {

const uint8_t kType[] = {0, 0, 't', 'l', 'F', 'V'};
const uint8_t kText[] = {0, 0, '-', ' ', 'T', 'a', 'r', 'v', 'o', ' ', '-', 0};

XFilterMessageSinkFn gSink = nullptr;
void* gSinkContext = nullptr;

void Log(int16_t selector, const TFilterCallRecord& r) {
  const char* path = std::getenv("TARVO_FAKE_LOG");
  if (!path) return;
  FILE* f = std::fopen(path, "a");
  if (!f) return;
  std::fprintf(f, "sel=%d part=%d total=%d fields=%d specs=%p cb=%d opmode=%s threads=%s priv=", selector, r.Part,
               r.Total, r.FieldFlags, static_cast<void*>(r.SpecsHandle), r.FrameCallback ? 1 : 0,
               std::getenv("TARVO_OPMODE") ? std::getenv("TARVO_OPMODE") : "-",
               std::getenv("TARVO_THREADS") ? std::getenv("TARVO_THREADS") : "-");
  if (r.PrivateData && *r.PrivateData)
    for (int i = 0; i < 16; ++i) std::fprintf(f, "%02x", (*r.PrivateData)[i]);
  std::fprintf(f, "\n");
  std::fclose(f);
}

// The items of a comma-separated list.
std::vector<std::string> Items(const char* list) {
  std::vector<std::string> items;
  std::string item;
  for (const char* p = list; p && *p; ++p) {
    if (*p == ',') {
      items.push_back(item);
      item.clear();
    } else {
      item += *p;
    }
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

// Asks the callback for each frame of TARVO_FAKE_FRAMES and appends what it
// delivered to TARVO_FAKE_DUMP. False when the host failed a request.
bool FetchFrames(TFilterCallRecord& r, HostServices& host) {
  const char* list = std::getenv("TARVO_FAKE_FRAMES");
  if (!list) return true;
  int w = 8, h = 6;
  if (const char* size = std::getenv("TARVO_FAKE_FRAME_SIZE")) std::sscanf(size, "%dx%d", &w, &h);
  FILE* dump = std::getenv("TARVO_FAKE_DUMP") ? std::fopen(std::getenv("TARVO_FAKE_DUMP"), "ab") : nullptr;
  bool ok = true;
  for (const std::string& item : Items(list)) {
    int16_t world = 0;
    const TRect bounds{0, 0, w, h};
    if (host.NewPWorld(&world, bounds) != 0) return false;
    PixBufferHandle bits = host.GetPWorldBits(world);
    TPixBuffer& b = **bits;
    for (int y = 0; y < h; ++y) std::memset(b.Pixels + static_cast<size_t>(y) * FrameStride(b), 0xEE, w * 4u);
    if (r.FrameCallback(std::atoi(item.c_str()), bits, &bounds, r.PrivateData) != 0) ok = false;
    // Worlds keep their rows bottom-up.
    for (int y = h - 1; dump && y >= 0; --y) std::fwrite(b.Pixels + static_cast<size_t>(y) * FrameStride(b), 4, w, dump);
    host.DisposePWorld(world);
  }
  if (dump) std::fclose(dump);
  return ok;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t xFilterDescription(const char* type, int32_t id,
                                                                            const uint8_t** bytes) {
  if (id != 1000) return -1;
  if (std::strcmp(type, "TYPE") == 0) {
    *bytes = kType;
    return sizeof kType;
  }
  if (std::strcmp(type, "TEXT") == 0) {
    *bytes = kText;
    return sizeof kText;
  }
  return -1;
}

extern "C" __attribute__((visibility("default"))) int32_t xFilterSetMessageSink(XFilterMessageSinkFn sink,
                                                                               void* context) {
  gSink = sink;
  gSinkContext = context;
  return 0;
}

extern "C" __attribute__((visibility("default"))) int32_t xFilter(int16_t selector, CallRecordHandle rec) {
  TFilterCallRecord& r = **rec;
  HostServices& host = InProcessHost();
  Log(selector, r);
  if (!r.SpecsHandle) {
    r.SpecsHandle = host.NewHandle(kSpecsSize);
    const TSpecs d = BuiltInDefaultSpecs();
    std::memcpy(*r.SpecsHandle, &d, kSpecsSize);
  }
  auto* specs = reinterpret_cast<TSpecs*>(*r.SpecsHandle);
  int32_t calls;
  std::memcpy(&calls, specs->Reserved174, 4);
  ++calls;
  std::memcpy(specs->Reserved174, &calls, 4);
  if (selector == kSelectorExecute) {
    if (const char* from = std::getenv("TARVO_FAKE_OUT_OF_MEMORY"); from && r.Part >= std::atoi(from)) {
      if (gSink) gSink(gSinkContext, 2, "Not enough memory to process the frame; it was left unchanged");
      return 0;
    }
    const TPixBuffer& s = **r.Source;
    TPixBuffer& d = **r.Destination;
    const auto key = static_cast<uint8_t>(specs->Gain & 0xFF);
    for (int y = 0; y < FrameHeight(s); ++y) {
      const uint8_t* sp = s.Pixels + static_cast<size_t>(y) * FrameStride(s);
      uint8_t* dp = d.Pixels + static_cast<size_t>(y) * FrameStride(d);
      for (int x = 0; x < FrameWidth(s) * 4; ++x) dp[x] = (x & 3) == 3 ? sp[x] : static_cast<uint8_t>(sp[x] ^ key);
    }
    return 0;
  }
  if (selector == kSelectorSetup) {
    if (std::getenv("TARVO_FAKE_CANCEL")) return kSetupCancel;
    if (const char* mode = std::getenv("TARVO_FAKE_SETUP"); mode && std::strcmp(mode, "unavailable") == 0) {
      const char text[] = "Setup cannot be shown: no display for this test.";
      if (gSink) gSink(gSinkContext, static_cast<int32_t>(Notice::SetupUnavailable), text);
      else std::fprintf(stderr, "%s\n", text);
      return kSetupCancel;
    }
    int16_t world = 0;
    const TRect bounds{0, 0, 8, 6};
    if (host.NewPWorld(&world, bounds) != 0) return kSetupCancel;
    PixBufferHandle bits = host.GetPWorldBits(world);
    r.FrameCallback(r.Part, bits, &bounds, r.PrivateData);
    std::memcpy(specs->Reserved174 + 6, (*bits)->Pixels, 32);
    host.DisposePWorld(world);
    specs->Lift = 7;
    for (const std::string& a : Items(std::getenv("TARVO_FAKE_EDIT"))) ApplyFieldAssignment(*specs, a, nullptr);
    if (!FetchFrames(r, host)) specs->Reserved174[4] = 1;  // a request failed
    if (const char* out = std::getenv("TARVO_FAKE_RECORD_OUT")) {
      if (FILE* f = std::fopen(out, "wb")) {
        std::fwrite(specs, kSpecsSize, 1, f);
        std::fclose(f);
      }
    }
    const char* mode = std::getenv("TARVO_FAKE_SETUP");
    if (mode && std::strcmp(mode, "cancel") == 0) return kSetupCancel;
    if (mode && std::strcmp(mode, "wait") == 0) std::this_thread::sleep_for(std::chrono::seconds(20));
    return kSetupOk;
  }
  return 0;
}
