// SPDX-License-Identifier: MIT
// The single-precision sums behind Erro, Erro_medio and Sinal_ruido, for pnm_compare, which
// reports all three from one pass. Internal to the measures and the command.
#ifndef NOISE_METRIC_SUMS_H
#define NOISE_METRIC_SUMS_H

#include <cstdint>

#include "imagelib/lib.h"

namespace noise_detail {

struct SinglePrecisionSums {
  float signal;  // sum of b^2: Sinal_ruido's numerator
  float noise;   // sum of (a - b)^2: Erro
};

// Both sums over a's rows and columns, each rounded to single precision after every addition.
SinglePrecisionSums single_precision_sums(const Image* a, const Image* b);

// Erro_medio from Erro and the pixel count: sqrt(erro / pixels) in single precision.
float root_mean_square(float erro, int64_t pixels);

}  // namespace noise_detail

#endif
