#include "noise/ssim_kernel.h"

namespace noise_detail {

__attribute__((target("avx2"))) void add_ssim_strip_avx2(const Image* a, const Image* b,
                                                         const Weights& weights, int32_t first,
                                                         int32_t n, Ring* ring,
                                                         double* column_sums) {
  add_ssim_strip(a, b, weights, first, n, ring, column_sums);
}

}  // namespace noise_detail
