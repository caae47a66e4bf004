// A host's side of one clip for tests: the call record with its handles.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "hostkit/clip_call.h"
#include "platform/host_services.h"
#include "types/call_record.h"
#include "types/specs.h"

namespace tarvo::test {

// A scene record: the built-in default with a name and a gain.
inline TSpecs Scene(const std::string& name, int16_t gain) {
  TSpecs s = BuiltInDefaultSpecs();
  SetSceneName(s, name);
  s.Gain = gain;
  return s;
}

// The bytes of a scene file holding these records in this order.
inline std::string FileOf(std::initializer_list<TSpecs> records) {
  std::string out;
  for (const TSpecs& r : records) out.append(reinterpret_cast<const char*>(&r), sizeof r);
  return out;
}

// A clip's call for tests that call the entry point themselves with
// handle() and set any field of the record with rec(). Every handle in the
// record is released with the clip.
class TestClip : public hostkit::ClipCall {
 public:
  CallRecordHandle handle() { return CallHandle(); }
  TFilterCallRecord& rec() { return CallRecord(); }
  TSpecs& specs() { return *reinterpret_cast<TSpecs*>(*rec().SpecsHandle); }
  // A record block of `size` bytes starting with `s` (a short block for old
  // formats).
  void SetSpecs(const TSpecs& s, int32_t size = kSpecsSize) {
    std::vector<uint8_t> block(static_cast<size_t>(size));
    std::memcpy(block.data(), &s, static_cast<size_t>(size < kSpecsSize ? size : kSpecsSize));
    SetRecordBlock(block.data(), size);
  }
  void SetPrivate(const std::string& bytes) {
    SetPrivateData(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  void SetPart(int32_t part, int32_t total = 100) {
    rec().Part = part;
    rec().Total = total;
  }
};

}  // namespace tarvo::test
