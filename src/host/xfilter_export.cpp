// The plug-in library's exports: the entry point a video host calls, and the
// description blocks it reads to list the filter. Loading the library does
// nothing else; the process-wide engine is made by the first xFilter call and
// freed when the library is unloaded, writing nothing.
#include <cstring>

#include "types/call_record.h"
#include "host/process_engine.h"

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

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t xFilter(int16_t selector, tarvo::CallRecordHandle record) {
  return tarvo::ProcessEngine().Filter(selector, record);
}

__attribute__((visibility("default"))) int32_t xFilterDescription(const char* type, int32_t id,
                                                                   const uint8_t** bytes) {
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
static_assert(std::is_same_v<decltype(&xFilterDescription), XFilterDescriptionFn>);
