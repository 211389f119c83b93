// SPDX-License-Identifier: MIT
// Impulse (salt and pepper) noise on an image in memory, exactly as funcao_exe adds it.
#ifndef NOISE_IMPULSE_H
#define NOISE_IMPULSE_H

#include <cstdint>

#include "imagelib/lib.h"

// The points drawn by each pass. A position can be drawn more than once, and black points can
// cover white ones, so fewer pixels than these may change (unless the points are exact).
struct ImpulseCounts {
  int64_t white;  // fixed kind: white points; random kind: all the points
  int64_t black;  // fixed kind: black points; random kind: 0
};

enum class ImpulseKind {
  fixed,   // white points 255, black points 0
  random,  // one pass of points, each with a value drawn uniformly from 0 .. 255
};

struct ImpulseOptions {
  // Distinct positions: a position already drawn in the run is drawn again, so that exactly the
  // counts' pixels receive noise (the counts capped at the pixel count).
  bool exact = false;
  ImpulseKind kind = ImpulseKind::fixed;
  // When not null, an image of the same size: filled with 255 where a point landed, 0 elsewhere,
  // and given the image's origin.
  Image* mask = nullptr;
};

// Adds noise to image in place: density percent of its pixels are drawn as noise points, white
// percent of those are set to 255 and the rest then set to 0, with positions from glibc's rand()
// after srand(seed), on every platform. Seeds 0 and 1 give funcao_exe's output without --seed.
//
// The percentages are read as funcao_exe reads them, without its check against 100: a density
// of 0 or less, or a percentage that is not a number, gives no points; counts beyond the 64-bit
// range saturate. A pass with more draws than pixels stops drawing once no draw can change the
// image, with the same result, so any percentages end in time bounded by the image's size. An
// image without pixels is left as it is; image must not be null. It works on the caller's thread
// and touches no state but the image, so threads may noise different images at once.
ImpulseCounts add_impulse_noise(Image* image, float white, float density, uint32_t seed);

// The counts as add_impulse_noise works them out for these options, without drawing: the random
// kind takes the truncated point count (at most the pixel count) as its white count; exact points
// cap white at the pixel count and black at the pixel count less white.
ImpulseCounts impulse_counts(int32_t rows, int32_t cols, float white, float density,
                             const ImpulseOptions& options);

// add_impulse_noise with options. With the random kind, each point draws a row, a column and then
// its value (the next draw shifted right by 23 bits), and later points cover earlier ones; white
// is ignored. With exact points, a point whose position was already drawn in this run is drawn
// again, value and all, until the pass has its count of new positions; the time this takes is
// about N ln(N / (N - k)) draws for k of N pixels, N ln N at most. Returns both counts -1, having
// changed nothing, when the mask is not the image's size or the scratch bitmap a mask or exact
// points need (an eighth of the image's pixel count, in bytes) cannot be had.
ImpulseCounts add_impulse_noise(Image* image, float white, float density, uint32_t seed,
                                const ImpulseOptions& options);

#endif
