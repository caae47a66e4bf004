// The parameter record on arbitrary bytes: reading a record file, upgrading
// a handle of any size up to 300 bytes, and the FIELD=VALUE assignments.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "host/specs_handle.h"
#include "platform/host_services.h"
#include "types/specs.h"
#include "types/specs_fields.h"
#include "util/specs_file.h"

using namespace tarvo;

namespace {

const std::string& RecordPath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvo-fuzz-specs-" + std::to_string(::getpid()) + ".rec";
  }();
  // Registered after `path` is made, so it runs before `path` goes away.
  static const bool removeAtExit = (std::atexit([] { std::remove(RecordPath().c_str()); }), true);
  (void)removeAtExit;
  return path;
}

void CheckReadFile(const std::string& bytes) {
  FILE* f = std::fopen(RecordPath().c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  TSpecs s;
  std::memset(&s, 0x5A, sizeof s);
  const TSpecs before = s;
  std::string error;
  const bool ok = ReadSpecsFile(RecordPath(), s, &error);
  if (ok != (bytes.size() == static_cast<size_t>(kSpecsSize))) fuzz::Fail("record file of the wrong size accepted");
  if (ok && std::memcmp(&s, bytes.data(), kSpecsSize) != 0) fuzz::Fail("record file read wrongly");
  if (!ok && (error.empty() || std::memcmp(&s, &before, sizeof s) != 0)) fuzz::Fail("failed read changed the record");
}

// The handle upgrade must agree with the upgrade of the same bytes padded to
// a full image with zeros (the bytes a grown handle gets).
void CheckUpgrade(const std::string& bytes) {
  HostServices& host = InProcessHost();
  const auto size = static_cast<int32_t>(bytes.size());
  Handle h = host.NewHandle(size);
  if (!h) return;
  if (size > 0) std::memcpy(*h, bytes.data(), bytes.size());
  TSpecs image;
  std::memset(&image, 0, sizeof image);
  std::memcpy(&image, bytes.data(), bytes.size() < sizeof image ? bytes.size() : sizeof image);
  int16_t version = 0;
  if (size >= 2) std::memcpy(&version, bytes.data(), 2);

  const bool changed = UpgradeSpecs(h, host);
  const int32_t after = host.GetHandleSize(h);
  if (size >= 2 && version >= 69 && version <= 71) {
    UpgradeSpecs(image);
    if (!changed) fuzz::Fail("older record not upgraded");
    if (after != (size < kSpecsSize ? kSpecsSize : size)) fuzz::Fail("upgraded handle has the wrong size");
    if (std::memcmp(*h, &image, kSpecsSize) != 0) fuzz::Fail("handle and image upgrades differ");
    if (reinterpret_cast<const TSpecs*>(*h)->Version != kSpecsVersion) fuzz::Fail("upgrade stops short");
    if (size > kSpecsSize && std::memcmp(*h + kSpecsSize, bytes.data() + kSpecsSize, bytes.size() - kSpecsSize) != 0)
      fuzz::Fail("bytes past the record changed");
  } else {
    if (changed || after != size || (size > 0 && std::memcmp(*h, bytes.data(), bytes.size()) != 0))
      fuzz::Fail("record of another format changed");
  }
  host.DisposeHandle(h);
}

void CheckAssignment(TSpecs& s, const std::string& text) {
  const TSpecs before = s;
  std::string error;
  if (!ApplyFieldAssignment(s, text, &error)) {
    if (error.empty()) fuzz::Fail("refusal without a message");
    if (std::memcmp(&s, &before, sizeof s) != 0) fuzz::Fail("refused assignment changed the record");
    return;
  }
  const size_t eq = text.find('=');
  const std::string name = text.substr(0, eq);
  if (name == "SceneName") {
    if (SceneNameOf(s) != text.substr(eq + 1)) fuzz::Fail("scene name not set");
    return;
  }
  const SpecsField* f = FindSpecsField(name);
  if (!f) fuzz::Fail("unknown field accepted");
  const int16_t v = GetField(s, *f);
  if (v < f->min || v > f->max) fuzz::Fail("value outside the field's range accepted");
  // Only the named field's two bytes change.
  for (size_t i = 0; i < sizeof s; ++i)
    if ((i < f->offset || i >= f->offset + 2u) &&
        reinterpret_cast<const uint8_t*>(&s)[i] != reinterpret_cast<const uint8_t*>(&before)[i])
      fuzz::Fail("assignment changed another field");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  fuzz::FuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  switch (mode % 3) {
    case 0:
      CheckReadFile(in.Rest());
      break;
    case 1:
      CheckUpgrade(in.Bytes(static_cast<size_t>(in.Range(0, 300))));
      break;
    default: {
      // Several assignments in a row, lines of the rest; a leading byte
      // below 64 names a field from the table, so values get exercised.
      TSpecs s = BuiltInDefaultSpecs();
      const std::string rest = in.Rest();
      size_t start = 0;
      while (start <= rest.size()) {
        size_t end = rest.find('\n', start);
        if (end == std::string::npos) end = rest.size();
        std::string line = rest.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && static_cast<uint8_t>(line[0]) < 64) {
          const auto fields = SpecsFields();
          const size_t k = static_cast<uint8_t>(line[0]) % (fields.size() + 1);
          line = (k == fields.size() ? std::string("SceneName") : std::string(fields[k].name)) + "=" + line.substr(1);
        }
        CheckAssignment(s, line);
      }
    }
  }
  return 0;
}
