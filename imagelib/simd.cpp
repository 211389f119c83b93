#include "imagelib/simd.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace imagelib_detail {
namespace {

// The build defines IMAGELIB_X86_KERNELS where it compiles the x86-64 kernels (GCC or Clang, which
// give target attributes and the processor checks used here).
#ifdef IMAGELIB_X86_KERNELS
SimdTier detect() {
  __builtin_cpu_init();
  // Every feature is asked for, without short cuts: one decision, the same on every processor.
  const int avx2 = __builtin_cpu_supports("avx2") ? 1 : 0;
  const int avx512 =
      (__builtin_cpu_supports("avx512f") ? 1 : 0) + (__builtin_cpu_supports("avx512bw") ? 1 : 0) +
      (__builtin_cpu_supports("avx512vl") ? 1 : 0) +
      (__builtin_cpu_supports("avx512vbmi") ? 1 : 0) +
      (__builtin_cpu_supports("avx512vbmi2") ? 1 : 0) + (__builtin_cpu_supports("popcnt") ? 1 : 0);
  const SimdTier tiers[] = {SimdTier::plain, SimdTier::avx2, SimdTier::avx512};
  return tiers[avx2 + avx2 * (avx512 == 6 ? 1 : 0)];
}
#else
SimdTier detect() {
  return SimdTier::plain;
}
#endif

SimdTier lower(SimdTier a, SimdTier b) {
  return static_cast<int>(a) < static_cast<int>(b) ? a : b;
}

// -1 until decided.
std::atomic<int> chosen{-1};

}  // namespace

SimdTier simd_tier_supported() {
  static const SimdTier supported = detect();
  return supported;
}

SimdTier simd_tier_allowed(const char* allowed) {
  const SimdTier supported = simd_tier_supported();
  return allowed == nullptr ? supported : lower(simd_tier_from_name(allowed), supported);
}

SimdTier simd_tier() {
  int tier = chosen.load(std::memory_order_relaxed);
  if (tier < 0) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read once; nothing here sets the environment.
    tier = static_cast<int>(simd_tier_allowed(std::getenv("IMAGENOISE_SIMD")));
    chosen.store(tier, std::memory_order_relaxed);
  }
  return static_cast<SimdTier>(tier);
}

void set_simd_tier(SimdTier tier) {
  chosen.store(static_cast<int>(lower(tier, simd_tier_supported())), std::memory_order_relaxed);
}

SimdTier simd_tier_from_name(const char* text) {
  if (std::strcmp(text, "avx512") == 0) {
    return SimdTier::avx512;
  }
  if (std::strcmp(text, "avx2") == 0) {
    return SimdTier::avx2;
  }
  return SimdTier::plain;
}

const char* simd_tier_name(SimdTier tier) {
  switch (tier) {
    case SimdTier::avx512:
      return "avx512";
    case SimdTier::avx2:
      return "avx2";
    case SimdTier::plain:
      break;
  }
  return "plain";
}

}  // namespace imagelib_detail
