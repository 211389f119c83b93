// SPDX-License-Identifier: MIT
#include <cstdint>

#include "support.h"

namespace {
constexpr double kM = 2147483647.0;
}

// Each test runs in a process of its own, so the first one sees the initial state.
TEST(Drand32, FirstDrawFromTheInitialState) {
  EXPECT_EQ(seed, 132531);
  EXPECT_EQ(drand32(), 79964870 / kM);
  EXPECT_EQ(seed, 79964870);
}

TEST(Drand32, TenThousandthDrawFromOne) {
  srand32(1);
  EXPECT_EQ(drand32(), 16807 / kM);
  for (int i = 2; i <= 10000; ++i) {
    const double value = drand32();
    ASSERT_GT(value, 0.0);
    ASSERT_LT(value, 1.0);
  }
  EXPECT_EQ(seed, 1043618065);
}

TEST(Drand32, FixedPointStatesYieldExactlyOneForEver) {
  for (const int32_t state : {0, 2147483647, -2147483647}) {
    srand32(state);
    EXPECT_EQ(seed, state);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(drand32(), 1.0) << state;
      EXPECT_EQ(seed, 2147483647) << state;
    }
  }
}

TEST(Drand32, NegativeStatesAreBroughtIntoRange) {
  for (const int32_t state : {-1, INT32_MIN}) {
    srand32(state);
    drand32();
    EXPECT_EQ(seed, 2147466840) << state;
  }
  srand32(-123456789);
  for (int i = 0; i < 1000; ++i) {
    drand32();
    ASSERT_GE(seed, 1);
    ASSERT_LE(seed, 2147483646);
  }
}
