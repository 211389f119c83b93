#include "noise/metrics.h"

#include <cmath>
#include <cstdint>

namespace {

// Each square is a double, and each running sum is rounded back to single precision after every
// addition, so totals above 2^24 round exactly as the measures always have.
float accumulate(float sum, int difference) {
  return static_cast<float>(std::pow(static_cast<double>(difference), 2) + sum);
}

}  // namespace

float Erro(const Image* a, const Image* b) {
  float sum = 0;
  for (int32_t r = 0; r < a->dims->rows; ++r) {
    const unsigned char* pa = a->pixels[r];
    const unsigned char* pb = b->pixels[r];
    for (int32_t c = 0; c < a->dims->cols; ++c) {
      sum = accumulate(sum, pa[c] - pb[c]);
    }
  }
  return sum;
}

float Erro_medio(const Image* a, const Image* b) {
  const float e = Erro(a, b);
  // 64 bits: a pixel count above 2^31 - 1 is still counted exactly.
  const int64_t n = static_cast<int64_t>(a->dims->rows) * a->dims->cols;
  const auto mean = static_cast<float>(static_cast<double>(e) / static_cast<double>(n));
  return static_cast<float>(std::sqrt(static_cast<double>(mean)));
}

double Sinal_ruido(const Image* a, const Image* b) {
  float signal = 0;
  float noise = 0;
  for (int32_t r = 0; r < a->dims->rows; ++r) {
    const unsigned char* pa = a->pixels[r];
    const unsigned char* pb = b->pixels[r];
    for (int32_t c = 0; c < a->dims->cols; ++c) {
      signal = accumulate(signal, pb[c]);
      noise = accumulate(noise, pa[c] - pb[c]);
    }
  }
  return static_cast<double>(signal) / static_cast<double>(noise);
}
