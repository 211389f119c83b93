// SPDX-License-Identifier: MIT
#include "noise/portable_log10.h"

#include <cmath>
#include <limits>

namespace noise_detail {
namespace {

// A value carried as the unevaluated sum hi + lo, with |lo| at most half a unit of hi's last
// place. Every step is exact rounding arithmetic (the file is built without fused
// multiply-adds), so every platform gets the same bits.
struct Double2 {
  double hi;
  double lo;
};

Double2 quick_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

Double2 two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// Dekker's product: a x b exactly, as two doubles.
Double2 two_product(double a, double b) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double ca = kSplitter * a;
  const double a_hi = ca - (ca - a);
  const double a_lo = a - a_hi;
  const double cb = kSplitter * b;
  const double b_hi = cb - (cb - b);
  const double b_lo = b - b_hi;
  const double p = a * b;
  return {p, ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo};
}

Double2 add(Double2 a, Double2 b) {
  Double2 s = two_sum(a.hi, b.hi);
  const Double2 t = two_sum(a.lo, b.lo);
  s = quick_two_sum(s.hi, s.lo + t.hi);
  return quick_two_sum(s.hi, s.lo + t.lo);
}

Double2 multiply(Double2 a, Double2 b) {
  const Double2 p = two_product(a.hi, b.hi);
  return quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Double2 divide(Double2 a, Double2 b) {
  const double q1 = a.hi / b.hi;
  Double2 r = add(a, multiply(b, {-q1, 0}));
  const double q2 = r.hi / b.hi;
  r = add(r, multiply(b, {-q2, 0}));
  const double q3 = r.hi / b.hi;
  return add(quick_two_sum(q1, q2), {q3, 0});
}

// ln 2 and log10(e), each to about 106 bits.
constexpr Double2 kLn2{0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56};
constexpr Double2 kLog10E{0x1.bcb7b1526e50ep-2, 0x1.95355baaafad3p-57};

// ln m for m in [sqrt(1/2), sqrt(2)], as 2 atanh(s) with s = (m - 1) / (m + 1): |s| <= 0.172, so
// the odd powers' series reaches 2^-110 by its 23rd term.
Double2 log_near_one(double m) {
  constexpr int kTerms = 23;
  const Double2 s = divide({m - 1, 0}, two_sum(m, 1));
  const Double2 s2 = multiply(s, s);
  Double2 sum = divide({1, 0}, {2.0 * kTerms - 1, 0});
  for (int k = kTerms - 2; k >= 0; --k) {
    sum = add(multiply(sum, s2), divide({1, 0}, {2.0 * k + 1, 0}));
  }
  return multiply({2 * s.hi, 2 * s.lo}, sum);
}

}  // namespace

double portable_log10(double x) {
  if (std::isnan(x) || x < 0) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (x == 0) {
    return -std::numeric_limits<double>::infinity();
  }
  if (std::isinf(x)) {
    return x;
  }
  // x = m 2^e, both exact, with m brought into [sqrt(1/2), sqrt(2)).
  int e = 0;
  double m = std::frexp(x, &e);
  if (m < 0.70710678118654752) {
    m *= 2;
    --e;
  }
  const Double2 e_ln2 = add(two_product(e, kLn2.hi), {e * kLn2.lo, 0});
  const Double2 ln_x = add(e_ln2, log_near_one(m));
  const Double2 result = multiply(ln_x, kLog10E);
  return result.hi + result.lo;
}

}  // namespace noise_detail
