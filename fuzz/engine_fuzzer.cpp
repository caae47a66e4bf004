// The engine's per-call work on whatever a host may hand over: record blocks
// of any length and content (0..300 bytes), private blocks of any size and
// content, odd frame numbers and field words, options of any value, and
// renders of a tiny frame, of a frame 600 to 4200 pixels wide (so that the
// kernels' vector main loops run; a few rows only, to keep each case fast), and
// of frames whose bounds lie anywhere in the 32-bit range, with spans that do
// not fit 32 bits. Nothing may crash or trip a sanitizer, and the kernel level
// must not change a single bit of what the host gets back.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "types/call_record.h"
#include "host/engine.h"
#include "hostkit/clip_call.h"
#include "options/option_store.h"
#include "options/options.h"
#include "support/kernel_level.h"
#include "types/specs.h"
#include "util/cpu_features.h"

using namespace tarvo;

namespace {

// A scene file with a current scene, an older-format one and one whose name
// ignores letter case, made once per process.
const std::string& SceneFile() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    const std::string p =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvo-fuzz-engine-" + std::to_string(::getpid()) + ".kvs";
    TSpecs a = BuiltInDefaultSpecs();
    SetSceneName(a, "Alpha");
    a.UseMaster = 1;
    a.YSharpness = 40;
    a.MedianLimit = 30;
    a.MedianWhen = 3;
    a.TempFlags = 3;
    a.TempYThreshold = 20;
    TSpecs b = BuiltInDefaultSpecs();
    SetSceneName(b, "beta");
    b.Version = 70;
    b.CDespeckle = 2;
    b.YDespeckle = 3;
    TSpecs c = BuiltInDefaultSpecs();
    SetSceneName(c, "Gamma");
    c.ProcMode = 2;
    c.NoiseMask = 3;
    c.SharpMask = 2;
    c.CSharpness = -50;
    if (FILE* f = std::fopen(p.c_str(), "wb")) {
      std::fwrite(&a, sizeof a, 1, f);
      std::fwrite(&b, sizeof b, 1, f);
      std::fwrite(&c, sizeof c, 1, f);
      std::fclose(f);
    }
    return p;
  }();
  // Registered after `path` is made, so it runs before `path` goes away.
  static const bool removeAtExit = (std::atexit([] { std::remove(SceneFile().c_str()); }), true);
  (void)removeAtExit;
  return path;
}

// Most pixels one wide frame may have (a few rows of the widest).
constexpr int kMaxWidePixels = 16384;

// One side of hostile bounds: an origin anywhere in the 32-bit range, and a
// span (worked out in 64 bits) that is the frame's own size, one too large
// for 32 bits, or negative. Never another size that fits: the buffer holds
// only this frame's rows.
void HostileSpan(fuzz::FuzzInput& in, int size, int32_t& from, int32_t& to) {
  int64_t origin = static_cast<int32_t>(static_cast<uint32_t>(in.Word()) << 16 | in.Word());
  const uint8_t how = in.Byte() % 3;
  const int64_t span = how == 0   ? size
                       : how == 1 ? int64_t{INT32_MAX} + 1 + in.Word()
                                  : -int64_t{in.Word()} - 1;
  if (origin + span > INT32_MAX || origin + span < INT32_MIN)
    origin = span > 0 ? int64_t{INT32_MIN} + (origin & 0xFFFF) : int64_t{INT32_MAX} - (origin & 0xFFFF);
  from = static_cast<int32_t>(origin);
  to = static_cast<int32_t>(origin + span);
}

// A frame as a host may describe it: any position, a row stride with
// padding, bits above the 14 that count, or too short for a row; the buffer
// holds exactly the bytes the rows reach, so any stray access is caught. A
// wide frame's pixels come from a generator seeded by the input, so that the
// input stays short.
struct Frame {
  std::vector<uint8_t> pixels;
  hostkit::FrameSlot slot;
  Frame(int w, int h, fuzz::FuzzInput& in, bool wide = false, bool hostile = false) {
    TPixBuffer& desc = slot.desc();
    const uint8_t shape = in.Byte();
    int stride = w * 4;
    if (shape & 1) stride += in.Range(0, 12);
    if (shape & 2) stride -= in.Range(1, 4);
    if (stride < 0) stride = 0;
    pixels.resize(static_cast<size_t>(h - 1) * static_cast<size_t>(stride) + static_cast<size_t>(w) * 4);
    if (wide) {
      std::minstd_rand gen(in.Word());
      for (uint8_t& p : pixels) p = static_cast<uint8_t>(gen() >> 7);
    } else {
      const std::string bytes = in.Bytes(pixels.size());
      std::memcpy(pixels.data(), bytes.data(), bytes.size());
    }
    const int left = (shape & 4) ? in.Range(-3, 3) : 0, top = (shape & 8) ? in.Range(-3, 3) : 0;
    desc.Bounds = {left, top, left + w, top + h};
    desc.RowBytes = stride | ((shape >> 4 & 3) << 14);
    if (shape & 64) desc.RowBytes = static_cast<int32_t>(static_cast<uint32_t>(desc.RowBytes) | 0x80000000u);
    desc.Pixels = (shape & 128) && (shape & 3) == 3 ? nullptr : pixels.data();
    if (hostile) {
      HostileSpan(in, w, desc.Bounds.left, desc.Bounds.right);
      HostileSpan(in, h, desc.Bounds.top, desc.Bounds.bottom);
    }
  }
  PixBufferHandle handle() { return slot.handle(); }
};

// `n` bytes: those the input still has, then zeros.
std::vector<uint8_t> Block(fuzz::FuzzInput& in, int n) {
  std::vector<uint8_t> block(static_cast<size_t>(n));
  const std::string bytes = in.Bytes(block.size());
  if (!bytes.empty()) std::memcpy(block.data(), bytes.data(), bytes.size());
  return block;
}

const char* const kSceneNames[] = {"<none>", "Alpha", "BETA", "gamma", "missing", ""};

// Runs one case and returns what a host sees: the results, the destination
// pixels and the record block after every call.
std::string RunCase(const uint8_t* data, size_t size) {
  fuzz::FuzzInput in(data, size);
  HostServices& host = InProcessHost();
  std::string seen;

  // Options as a store may hold them, wild values included.
  auto store = std::make_unique<MemoryOptionStore>();
  store->WriteString(kKeyOptions, "SceneFile", SceneFile());
  const uint8_t optionBits = in.Byte();
  if (optionBits & 1) store->WriteInteger(kKeyProcessing, "ProcMode", static_cast<int16_t>(in.Word()));
  if (optionBits & 2) store->WriteInteger(kKeyProcessing, "OpMode", in.Range(0, 3));
  if (optionBits & 4) {
    store->WriteInteger(kKeyClipping, "Vmin", static_cast<int16_t>(in.Word()));
    store->WriteInteger(kKeyClipping, "Vmax", static_cast<int16_t>(in.Word()));
  }
  if (optionBits & 8) {
    store->WriteInteger(kKeyLevels, "Vblank", static_cast<int16_t>(in.Word()));
    store->WriteInteger(kKeyLevels, "Vblack", static_cast<int16_t>(in.Word()));
    store->WriteInteger(kKeyLevels, "Vwhite", static_cast<int16_t>(in.Word()));
  }
  if (optionBits & 16) store->WriteString(kKeyOptions, "DefaultScene", kSceneNames[in.Range(0, 5)]);
  if (optionBits & 32) store->WriteInteger(kKeyOptions, "DefaultPage", static_cast<int32_t>(in.Word()) - 32768);
  OptionsEnvironment env;
  env.useEnvironmentOpMode = false;
  Engine engine(std::move(store), nullptr, host, env);

  hostkit::ClipCall clip(
      [](void* e, int16_t selector, CallRecordHandle record) {
        return static_cast<Engine*>(e)->Filter(selector, record);
      },
      &engine);
  // The record block: absent, or 0..300 bytes from the input.
  const uint8_t recordKind = in.Byte();
  if (recordKind & 1) {
    const int n = in.Range(0, 300);
    std::vector<uint8_t> block = Block(in, n);
    // Often a plausible format marker, so the later checks are reached.
    if ((recordKind & 6) && n >= 2) {
      const int16_t versions[] = {72, 69, 70, 71};
      std::memcpy(block.data(), &versions[(recordKind >> 1) & 3], 2);
    }
    clip.SetRecordBlock(block.data(), n);
  }
  // The private block: absent, or 0..100 bytes.
  if (recordKind & 8) {
    const int n = in.Range(0, 100);
    const std::vector<uint8_t> block = Block(in, n);
    clip.SetPrivateData(block.data(), n);
  }
  // Usually one size for both frames, sometimes a larger source or a
  // smaller one; a tiny frame or a wide one; bounds near the frame's origin
  // or anywhere.
  int w = in.Range(1, 12), h = in.Range(1, 8);
  const uint8_t sizes = in.Byte();
  const bool wide = sizes & 16, hostile = sizes & 32;
  if (wide) {
    w = in.Range(600, 4200);
    h = 1 + (h - 1) % std::max(1, kMaxWidePixels / w);
  }
  const int sw = (sizes & 3) == 3 ? (wide ? std::max(1, w + in.Range(-13, 2)) : in.Range(1, 14)) : w;
  const int sh = (sizes & 12) == 12 ? in.Range(1, 10) : h;
  Frame source(sw, sh, in, wide, hostile), destination(w, h, in, wide, hostile);
  clip.SetFrames(source.handle(), destination.handle());
  clip.SetPart(static_cast<int32_t>(in.Word() | (in.Word() << 16)));
  clip.SetTotal(static_cast<int32_t>(in.Word() | (in.Word() << 16)));
  clip.CallRecord().FieldWordLow = in.Byte();
  clip.SetFieldFlags(in.Byte());

  // A few calls: prepare only (2) or render (0), frame numbers moving on.
  const int calls = 1 + in.Range(0, 3);
  for (int k = 0; k < calls; ++k) {
    const uint8_t step = in.Byte();
    const int16_t selector = (step & 1) ? kSelectorExecute : 2;
    const int32_t result = clip.Call(selector);
    seen.append(reinterpret_cast<const char*>(&result), sizeof result);
    seen.append(destination.pixels.begin(), destination.pixels.end());
    const Handle record = clip.RecordHandle();
    if (record && *record)
      seen.append(reinterpret_cast<const char*>(*record), static_cast<size_t>(host.GetHandleSize(record)));
    if (step & 2) clip.SetPart(static_cast<int32_t>(static_cast<uint32_t>(clip.Part()) + 1u));
    if (step & 4 && record && host.GetHandleSize(record) >= kSpecsSize) {
      // The host changes a field between calls.
      const int at = in.Range(0, kSpecsSize - 2);
      const uint16_t v = in.Word();
      std::memcpy(*record + at, &v, 2);
    }
  }
  return seen;
}

}  // namespace

// Every case runs with the plain kernels and with the fastest ones (every
// third case also with SSE2): a host must see the same bits either way.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string plain;
  {
    test::KernelLevelGuard guard;
    guard.Cap(KernelLevel::Scalar);
    plain = RunCase(data, size);
  }
  if (RunCase(data, size) != plain) fuzz::Fail("the engine's results depend on the kernel level (AVX2)");
  if (size % 3 == 0) {
    test::KernelLevelGuard guard;
    guard.Cap(KernelLevel::Sse2);
    if (RunCase(data, size) != plain) fuzz::Fail("the engine's results depend on the kernel level (SSE2)");
  }
  return 0;
}
