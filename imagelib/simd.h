// Which instruction-set tier the library's wide kernels may use. Internal to the library and the
// commands; the tests use it to run every kernel the processor has against the plain one.
#ifndef IMAGELIB_SIMD_H
#define IMAGELIB_SIMD_H

namespace imagelib_detail {

// Ordered: each tier may use what the tiers below it use.
enum class SimdTier : int {
  plain = 0,   // portable C++ only
  avx2 = 1,    // x86-64 with AVX2
  avx512 = 2,  // x86-64 with AVX2 and AVX-512 F, BW, VL, VBMI and VBMI2
};

// The highest tier this build has kernels for, the processor runs and the environment variable
// IMAGENOISE_SIMD allows ("plain", "avx2" or "avx512"; any other text allows only "plain").
// Decided once, at the first call.
SimdTier simd_tier();

// The highest tier of this build and processor, whatever the environment says.
SimdTier simd_tier_supported();

// The tier simd_tier() starts from when IMAGENOISE_SIMD holds allowed (null when it is unset).
SimdTier simd_tier_allowed(const char* allowed);

// Makes simd_tier() return min(tier, simd_tier_supported()) from now on; for tests that hold
// each tier's kernels to the plain ones.
void set_simd_tier(SimdTier tier);

// The tier named by text as IMAGENOISE_SIMD reads it; plain for anything unknown.
SimdTier simd_tier_from_name(const char* text);
const char* simd_tier_name(SimdTier tier);

}  // namespace imagelib_detail

#endif
