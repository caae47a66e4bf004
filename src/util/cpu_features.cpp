#include "util/cpu_features.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace tarvo {
namespace {

KernelLevel DetectLevel() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return KernelLevel::Avx2;
  if (__builtin_cpu_supports("sse2")) return KernelLevel::Sse2;
#endif
  return KernelLevel::Scalar;
}

KernelLevel EnvironmentCap() {
  const char* v = std::getenv("TARVO_KERNELS");
  if (!v) return KernelLevel::Avx2;
  if (std::strcmp(v, "scalar") == 0) return KernelLevel::Scalar;
  if (std::strcmp(v, "sse2") == 0) return KernelLevel::Sse2;
  return KernelLevel::Avx2;
}

std::atomic<int> g_cap{static_cast<int>(KernelLevel::Avx2)};
std::atomic<bool> g_wideAllowed{true};
std::atomic<uint32_t> g_generation{0};

// True unless TARVO_KERNELS names a level ("avx2", "sse2", "scalar").
bool EnvironmentAllowsWide() {
  const char* v = std::getenv("TARVO_KERNELS");
  return !v || (std::strcmp(v, "avx2") != 0 && std::strcmp(v, "sse2") != 0 && std::strcmp(v, "scalar") != 0);
}

}  // namespace

KernelLevel ActiveKernelLevel() {
  static const KernelLevel detected = DetectLevel();
  static const KernelLevel env = EnvironmentCap();
  int level = static_cast<int>(detected);
  if (static_cast<int>(env) < level) level = static_cast<int>(env);
  const int cap = g_cap.load(std::memory_order_relaxed);
  if (cap < level) level = cap;
  return static_cast<KernelLevel>(level);
}

bool WideVectorsAllowed() {
  static const bool env = EnvironmentAllowsWide();
  return env && g_wideAllowed.load(std::memory_order_relaxed) && ActiveKernelLevel() == KernelLevel::Avx2;
}

void SetKernelLevelCap(KernelLevel cap) {
  g_cap.store(static_cast<int>(cap), std::memory_order_relaxed);
  g_generation.fetch_add(1, std::memory_order_release);
}

void AllowWideVectors(bool allowed) {
  g_wideAllowed.store(allowed, std::memory_order_relaxed);
  g_generation.fetch_add(1, std::memory_order_release);
}

uint32_t KernelChoiceGeneration() { return g_generation.load(std::memory_order_acquire); }

}  // namespace tarvo
