// SPDX-License-Identifier: MIT
// The noise command's logic: percentages, point counts and the random placement of impulses.
#ifndef NOISE_NOISE_H
#define NOISE_NOISE_H

#include <cstddef>
#include <cstdint>

#include "imagelib/lib.h"
#include "noise/impulse.h"

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
// The same for a whole run, besides the image and the mask; marked when the run keeps a record of
// where its points land (exact points or a mask).
uint64_t impulse_run_scratch_bytes(int32_t rows, int32_t cols, bool marked);

// Draws count positions (row, then column) and sets each to value; nothing for count <= 0.
void add_impulses(Image* image, int64_t count, unsigned char value, RandState* state);

// add_impulses, except that once no draw can change the image it stops drawing and skips the
// generator past the draws left, so that the image and the state are as add_impulses leaves them,
// however large count is: about N ln N draws at most for N pixels, each of them a bit in a bitmap.
// Returns the positions actually drawn.
int64_t add_impulses_until_uniform(Image* image, int64_t count, unsigned char value,
                                   RandState* state);

// A pass's value when each point draws its own, 0 .. 255, after its column.
constexpr int kRandomValue = -1;

// One bit a pixel, rows of bitmap_row_words(cols) 64-bit words; column c of a row is bit c % 64
// of word c / 64.
size_t bitmap_row_words(int32_t cols);

// What a run with a record of where its points landed keeps beside the image: two bitmaps of
// the image's size and a small summary.
struct RunMarks {
  uint64_t* landed;   // a bit set for every position drawn in the run so far; see start_marks
  uint64_t* scratch;  // all 0 between passes
  uint64_t* full;     // summary_words of scratch: one bit per word of a bitmap that fills up
};

size_t summary_words(int32_t rows, int32_t cols);

// Makes landed a run's record with nothing landed yet: all 0 but the bits past each row's last
// column, which are set.
void start_marks(uint64_t* landed, int32_t rows, int32_t cols);

// A pass of count points storing value (0 .. 255, or kRandomValue) that marks every position it
// draws in marks.landed. With exact, a position already marked is drawn again, until count new
// positions are marked; count must not exceed the positions left. Without it, a pass of more
// points than pixels stops as add_impulses_until_uniform does, once no draw can change the image
// or the marks. Only a pass of random values without exact may have its marks null. Returns the
// positions drawn.
int64_t add_marked_impulses(Image* image, int64_t count, int value, bool exact, RandState* state,
                            const RunMarks& marks);

// Sets each pixel of mask to 255 where landed has its bit, to 0 elsewhere.
void expand_marks(const uint64_t* landed, Image* mask);

}  // namespace noise_detail

#endif
