// SPDX-License-Identifier: MIT
#include "noise/impulse.h"

#include "noise/noise.h"

ImpulseCounts add_impulse_noise(Image* image, float white, float density, uint32_t seed) {
  using namespace noise_detail;
  const NoiseCounts counts = noise_counts(white, density, image->dims->rows, image->dims->cols);
  RandState state{};
  rand_init(&state, seed);
  add_impulses_until_uniform(image, counts.white, 255, &state);
  add_impulses_until_uniform(image, counts.black, 0, &state);
  return {counts.white, counts.black};
}
