// SPDX-License-Identifier: MIT
// Impulse (salt and pepper) noise on an image in memory, exactly as funcao_exe adds it.
#ifndef NOISE_IMPULSE_H
#define NOISE_IMPULSE_H

#include <cstdint>

#include "imagelib/lib.h"

// The points drawn by each pass. A position can be drawn more than once, and black points can
// cover white ones, so fewer pixels than these may change.
struct ImpulseCounts {
  int64_t white;
  int64_t black;
};

// Adds noise to image in place: density percent of its pixels are drawn as noise points, white
// percent of those are set to 255 and the rest then set to 0, with positions from glibc's rand()
// after srand(seed), on every platform. Seeds 0 and 1 give funcao_exe's output without --seed.
//
// The percentages are read as funcao_exe reads them, without its check against 100: a density
// of 0 or less, or a percentage that is not a number, gives no points; counts beyond the 64-bit
// range saturate. A pass with more draws than pixels stops drawing once every pixel holds its
// value, with the same result, so any percentages end in time bounded by the image's size. An
// image without pixels is left as it is; image must not be null. It works on the caller's thread
// and touches no state but the image, so threads may noise different images at once.
ImpulseCounts add_impulse_noise(Image* image, float white, float density, uint32_t seed);

#endif
