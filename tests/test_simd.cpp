#include "imagelib/simd.h"

#include <gtest/gtest.h>

using imagelib_detail::SimdTier;

TEST(SimdTier, NamesReadBackAndUnknownNamesAllowOnlyThePlainTier) {
  for (SimdTier tier : {SimdTier::plain, SimdTier::avx2, SimdTier::avx512}) {
    EXPECT_EQ(imagelib_detail::simd_tier_from_name(imagelib_detail::simd_tier_name(tier)), tier);
  }
  for (const char* unknown : {"", "AVX512", "sse2", "avx512f", "1"}) {
    EXPECT_EQ(imagelib_detail::simd_tier_from_name(unknown), SimdTier::plain) << unknown;
  }
}

// A tier asked for is never above what the build and the processor have.
TEST(SimdTier, ChosenTierIsCappedByTheProcessor) {
  const SimdTier supported = imagelib_detail::simd_tier_supported();
  EXPECT_EQ(imagelib_detail::simd_tier_allowed(nullptr), supported);
  EXPECT_EQ(imagelib_detail::simd_tier_allowed("avx512"), supported);
  EXPECT_EQ(imagelib_detail::simd_tier_allowed("plain"), SimdTier::plain);
  EXPECT_EQ(imagelib_detail::simd_tier_allowed("anything"), SimdTier::plain);
  EXPECT_LE(imagelib_detail::simd_tier(), supported);
  imagelib_detail::set_simd_tier(SimdTier::avx512);
  EXPECT_EQ(imagelib_detail::simd_tier(), supported);
  imagelib_detail::set_simd_tier(SimdTier::plain);
  EXPECT_EQ(imagelib_detail::simd_tier(), SimdTier::plain);
}
