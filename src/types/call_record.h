// The host's per-call record and the exported entry point's types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "types/handle.h"
#include "types/pix_buffer.h"

namespace tarvo {

// Renders source frame `frame` of the clip, scaled to *bounds, into the frame
// buffer `destination`. Supplied by the host in the call record; the result is
// ignored.
using FrameCallbackFn = int32_t (*)(int32_t frame, PixBufferHandle destination, const TRect* bounds,
                                    Handle privateData);

// Selectors of xFilter.
constexpr int16_t kSelectorExecute = 0;
constexpr int16_t kSelectorSetup = 1;
// Results of the setup selector.
constexpr int32_t kSetupOk = 0;
constexpr int32_t kSetupCancel = -1;

// The record is packed: 32-bit fields stand at odd offsets. On a 32-bit build
// the offsets are SpecsHandle 0, Source 4, Destination 8, Part 12, Total 16,
// PrivateData 21, FrameCallback 25, field word 35 (FieldFlags 36). On x86-64,
// where handles and function pointers take 8 bytes, they are SpecsHandle 0,
// Source 8, Destination 16, Part 24, Total 28, PrivateData 33,
// FrameCallback 41, field word 55 (FieldFlags 56).
#pragma pack(push, 1)
struct TFilterCallRecord {
  Handle SpecsHandle;          // the clip's 256-byte TSpecs; nil on a clip's first call
  PixBufferHandle Source;      // source frame
  PixBufferHandle Destination; // destination frame
  int32_t Part;                // frame number within the clip
  int32_t Total;               // frames in the clip
  uint8_t Reserved1;
  Handle PrivateData;          // host data of this clip instance, or nil
  FrameCallbackFn FrameCallback;
  uint8_t Reserved2[6];
  uint8_t FieldWordLow;        // low byte of the 16-bit field word
  uint8_t FieldFlags;          // bit 0 or 1: the clip renders as interlaced fields
};
#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(TFilterCallRecord, Source) == 4);
static_assert(offsetof(TFilterCallRecord, Destination) == 8);
static_assert(offsetof(TFilterCallRecord, Part) == 12);
static_assert(offsetof(TFilterCallRecord, Total) == 16);
static_assert(offsetof(TFilterCallRecord, PrivateData) == 21);
static_assert(offsetof(TFilterCallRecord, FrameCallback) == 25);
static_assert(offsetof(TFilterCallRecord, FieldWordLow) == 35);
static_assert(offsetof(TFilterCallRecord, FieldFlags) == 36);
#else
static_assert(offsetof(TFilterCallRecord, Source) == 8);
static_assert(offsetof(TFilterCallRecord, Destination) == 16);
static_assert(offsetof(TFilterCallRecord, Part) == 24);
static_assert(offsetof(TFilterCallRecord, Total) == 28);
static_assert(offsetof(TFilterCallRecord, PrivateData) == 33);
static_assert(offsetof(TFilterCallRecord, FrameCallback) == 41);
static_assert(offsetof(TFilterCallRecord, FieldWordLow) == 55);
static_assert(offsetof(TFilterCallRecord, FieldFlags) == 56);
#endif

using CallRecordHandle = TFilterCallRecord**;

}  // namespace tarvo

// The plug-in library's exports, with C linkage so that hosts find them with
// dlsym under the names "xFilter", "xFilterDescription",
// "xFilterSetMessageSink" and "xFilterWide".
extern "C" {
// Selector 0 renders one frame, 1 runs setup, anything else only prepares the
// clip's record. Execute returns 0; setup returns -1 for Cancel, else 0.
// Calls from several threads are served one at a time. A frame that could not
// be rendered is reported through the message sink.
typedef int32_t (*XFilterFn)(int16_t selector, tarvo::CallRecordHandle record);

// xFilter for this project's own hosts (the command line, the frei0r
// adapter), whose frames may be wider than a video host's descriptor can
// describe. The same call, record and results as xFilter, with one
// difference: the call record's Source and Destination descriptors are read
// with RowBytes in full (all 32 bits: the byte distance from one row to the
// next) instead of its low 14 bits, so frames may be up to 8192 pixels wide
// (and, as with xFilter, up to 16383 rows high). A larger frame is refused as
// xFilter refuses an unusable one: reported as a frame that cannot be
// processed, the destination left untouched. The pictures the setup dialog
// asks the frame callback for are described as xFilter describes them.
// Calls through both entry points share the one working state and are served
// one at a time.
typedef int32_t (*XFilterWideFn)(int16_t selector, tarvo::CallRecordHandle record);

// Looks up one plug-in description block by type ("FLTD", "FLVS", "TEXT",
// "TYPE") and id. Returns the block's size and stores a pointer to its bytes,
// or returns -1 when there is no such block.
typedef int32_t (*XFilterDescriptionFn)(const char* type, int32_t id, const uint8_t** bytes);

// Receives one message of the filter: its kind (the values of tarvo::Notice:
// 0 "Processing Error", 1 mode warning, 2 out of memory, 3 unusable frame, 4
// setup unavailable, 5 a call that failed, 6 any other message), its text in
// UTF-8, and the context given with the sink. Called on the thread of the
// call that reports; it must not throw and must not call the filter.
typedef void (*XFilterMessageSinkFn)(void* context, int32_t kind, const char* text);

// Sends every message of the filter to `sink` (nullptr: back to standard
// error). Conditions already reported once are reported again to the new
// sink when they recur. Returns 0.
typedef int32_t (*XFilterSetMessageSinkFn)(XFilterMessageSinkFn sink, void* context);
}
