// A host's side of one clip for tests: the call record with its handles.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>

#include "types/call_record.h"
#include "types/specs.h"
#include "platform/host_services.h"

namespace tarvo::test {

// A handle holding `size` bytes of `specs` (a short block for old formats).
inline Handle SpecsHandleOf(const TSpecs& specs, int32_t size = kSpecsSize) {
  Handle h = InProcessHost().NewHandle(size);
  std::memcpy(*h, &specs, static_cast<size_t>(size < kSpecsSize ? size : kSpecsSize));
  return h;
}

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

class TestClip {
 public:
  TestClip() : ptr_(&rec_) {}
  ~TestClip() {
    if (rec_.SpecsHandle) InProcessHost().DisposeHandle(rec_.SpecsHandle);
    if (rec_.PrivateData) InProcessHost().DisposeHandle(rec_.PrivateData);
  }
  TestClip(const TestClip&) = delete;
  TestClip& operator=(const TestClip&) = delete;

  CallRecordHandle handle() { return &ptr_; }
  TFilterCallRecord& rec() { return rec_; }
  TSpecs& specs() { return *reinterpret_cast<TSpecs*>(*rec_.SpecsHandle); }
  void SetSpecs(const TSpecs& s, int32_t size = kSpecsSize) {
    if (rec_.SpecsHandle) InProcessHost().DisposeHandle(rec_.SpecsHandle);
    rec_.SpecsHandle = SpecsHandleOf(s, size);
  }
  void SetPrivate(const std::string& bytes) {
    if (rec_.PrivateData) InProcessHost().DisposeHandle(rec_.PrivateData);
    Handle h = InProcessHost().NewHandle(static_cast<int32_t>(bytes.size()));
    std::memcpy(*h, bytes.data(), bytes.size());
    rec_.PrivateData = h;
  }
  void SetPart(int32_t part, int32_t total = 100) {
    rec_.Part = part;
    rec_.Total = total;
  }

 private:
  TFilterCallRecord rec_{};
  TFilterCallRecord* ptr_;
};

}  // namespace tarvo::test
