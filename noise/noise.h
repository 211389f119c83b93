// SPDX-License-Identifier: MIT
// The noise command's logic: percentages, point counts and the random placement of impulses.
#ifndef NOISE_NOISE_H
#define NOISE_NOISE_H

#include <cstdint>

#include "imagelib/lib.h"

// Internal to the noise step and the command; only impulse.h is installed for callers.
namespace noise_detail {

// The sequence of glibc's rand() (an additive feedback generator over 31 words), made here so
// that every platform draws the same positions.
struct RandState {
  uint32_t table[31];
  int front;
  int back;
};

// The state glibc's srand(seed) sets; seeds 0 and 1 give the sequence of an unseeded rand().
void rand_init(RandState* state, uint32_t seed = 1);
// Next value in 0 .. 2147483647.
int32_t rand_next(RandState* state);
// The next count values into out, as count calls of rand_next would give them, only faster.
void rand_fill(RandState* state, int32_t* out, int32_t count);
// The state after count calls of rand_next, in time that grows with log(count).
void rand_skip(RandState* state, uint64_t count);

// floor(draw * float(size) / 2^31), formed exactly; never size or more, even where float(size)
// rounds above size (sizes of 2^24 and up).
int32_t draw_index(int32_t draw, int32_t size);

// A percentage read by the "%f" conversion; 0 when the text does not begin with a number.
float parse_percentage(const char* text);

struct NoiseCounts {
  float points;
  int64_t white;
  int64_t black;
};

// A count that is not a number or is negative becomes 0, one beyond the 64-bit range saturates.
// Without points (density 0 or less, or not a number) both counts are 0, whatever white is.
NoiseCounts noise_counts(float white, float density, int32_t rows, int32_t cols);

// Turns pairs of draws (row draw, column draw) into positions (row, column) in place, each as
// draw_index gives it.
void place_draws(int32_t* draws, int32_t pairs, int32_t rows, int32_t cols);

// The most memory a pass over a rows x cols image takes besides the image: its bitmap of marks.
uint64_t impulse_scratch_bytes(int32_t rows, int32_t cols);

// Draws count positions (row, then column) and sets each to value; nothing for count <= 0.
void add_impulses(Image* image, int64_t count, unsigned char value, RandState* state);

// add_impulses, except that once every pixel holds value no draw can change the image: it then
// stops drawing and skips the generator past the draws left, so that the image and the state
// are as add_impulses leaves them, however large count is.
void add_impulses_until_uniform(Image* image, int64_t count, unsigned char value, RandState* state);

}  // namespace noise_detail

#endif
