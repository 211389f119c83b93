// SPDX-License-Identifier: MIT
#include "imagelib/lib.h"

int32_t seed = 132531;

namespace {

constexpr int32_t kA = 16807;
constexpr int32_t kM = 2147483647;
constexpr int32_t kQ = kM / kA;  // 127773
constexpr int32_t kR = kM % kA;  // 2836

}  // namespace

// Schrage's decomposition keeps every intermediate within signed 32 bits: |lo| < kQ makes
// kA * lo < kM, and |hi| <= 16807 keeps kR * hi small, for any state including negative ones.
double drand32() {
  const int32_t hi = seed / kQ;
  const int32_t lo = seed - hi * kQ;
  const int32_t t = kA * lo - kR * hi;
  seed = t > 0 ? t : t + kM;
  return static_cast<double>(seed) / kM;
}

void srand32(int32_t s) {
  seed = s;
}
