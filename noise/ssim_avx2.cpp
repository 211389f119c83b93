// SPDX-License-Identifier: MIT
// SSIM's loop compiled for AVX2, chosen where the processor has it (x86-64 builds with GCC or
// Clang); elsewhere the plain loop stands in.
#include "noise/ssim_kernel.h"

namespace noise_detail {

#if defined(IMAGENOISE_SSIM_AVX2)
bool avx2_available() {
  static const bool kHas = __builtin_cpu_supports("avx2") != 0;
  return kHas;
}

__attribute__((target("avx2"))) void add_ssim_strip_avx2(const Image* a, const Image* b,
                                                         const Weights& weights, int32_t first,
                                                         int32_t n, Ring* ring,
                                                         double* column_sums) {
  add_ssim_strip(a, b, weights, first, n, ring, column_sums);
}
#else
bool avx2_available() {
  return false;
}

void add_ssim_strip_avx2(const Image* a, const Image* b, const Weights& weights, int32_t first,
                         int32_t n, Ring* ring, double* column_sums) {
  add_ssim_strip_plain(a, b, weights, first, n, ring, column_sums);
}
#endif

}  // namespace noise_detail
