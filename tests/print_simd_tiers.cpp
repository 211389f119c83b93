// Prints the tiers of wide kernels this build and processor can run, one name a line, plain first:
// CI runs the tests once under each.
#include <cstdio>
#include <initializer_list>

#include "imagelib/simd.h"

int main() {
  using imagelib_detail::SimdTier;
  for (SimdTier tier : {SimdTier::plain, SimdTier::avx2, SimdTier::avx512}) {
    if (tier <= imagelib_detail::simd_tier_supported()) {
      std::puts(imagelib_detail::simd_tier_name(tier));
    }
  }
  return 0;
}
