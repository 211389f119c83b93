// SPDX-License-Identifier: MIT
#include "noise/metrics.h"

#include <cmath>
#include <cstdint>

#include "noise/metric_sums.h"

namespace noise_detail {

SinglePrecisionSums single_precision_sums(const Image* a, const Image* b) {
  // Each square is an integer below 2^16, exact in single precision. Adding it to a
  // single-precision sum in double precision and rounding the result to single precision gives
  // the single-precision sum (53 >= 2 x 24 + 2 bits), so these sums are those of squares raised
  // in double precision and added with a rounding after every addition, to the bit.
  float signal = 0;
  float noise = 0;
  for (int32_t r = 0; r < a->dims->rows; ++r) {
    const unsigned char* pa = a->pixels[r];
    const unsigned char* pb = b->pixels[r];
    for (int32_t c = 0; c < a->dims->cols; ++c) {
      const int d = pa[c] - pb[c];
      signal += static_cast<float>(pb[c] * pb[c]);
      noise += static_cast<float>(d * d);
    }
  }
  return {signal, noise};
}

float root_mean_square(float erro, int64_t pixels) {
  // The count is exact in 64 bits, beyond 2^31 - 1 pixels too.
  const auto mean = static_cast<float>(static_cast<double>(erro) / static_cast<double>(pixels));
  return static_cast<float>(std::sqrt(static_cast<double>(mean)));
}

}  // namespace noise_detail

float Erro(const Image* a, const Image* b) {
  return noise_detail::single_precision_sums(a, b).noise;
}

float Erro_medio(const Image* a, const Image* b) {
  return noise_detail::root_mean_square(Erro(a, b),
                                        static_cast<int64_t>(a->dims->rows) * a->dims->cols);
}

double Sinal_ruido(const Image* a, const Image* b) {
  const noise_detail::SinglePrecisionSums sums = noise_detail::single_precision_sums(a, b);
  return static_cast<double>(sums.signal) / static_cast<double>(sums.noise);
}
