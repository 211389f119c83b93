#include "noise/noise.h"

#include <cstddef>
#include <cstdio>

namespace {

// float(size), worked out once per pass rather than once per draw. It is a whole number of at
// most 2^31 (where size rounds up), so it fits 32 bits unsigned.
uint32_t index_scale(int32_t size) {
  return static_cast<uint32_t>(static_cast<float>(size));
}

// floor(draw * scale / 2^31), and never size or more. draw is below 2^31 and scale at most 2^31,
// so the product fits 64 bits and the quotient is below 2^31. All of it unsigned, with a 32-bit
// minimum: every step has a vector instruction on every processor's baseline, so the compiler
// vectorises the loops over draws as they stand.
int32_t scaled_index(int32_t draw, uint32_t scale, int32_t size) {
  const auto index =
      static_cast<uint32_t>((static_cast<uint64_t>(static_cast<uint32_t>(draw)) * scale) >> 31);
  const auto last = static_cast<uint32_t>(size - 1);
  return static_cast<int32_t>(index < last ? index : last);
}

}  // namespace

int32_t draw_index(int32_t draw, int32_t size) {
  return scaled_index(draw, index_scale(size), size);
}

float parse_percentage(const char* text) {
  float value = 0;
  // Exactly the "%f" conversion: leading blanks, sign, decimal or hexadecimal, inf and nan; a
  // trailing "%" or other text is ignored.
  // NOLINTNEXTLINE(cert-err34-c): "%f" is the documented reading; its outcome is checked.
  if (std::sscanf(text, "%f", &value) != 1) {
    value = 0;
  }
  return value;
}

namespace {

int32_t to_count(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) {
    return 0;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

NoiseCounts noise_counts(float white, float density, int32_t rows, int32_t cols) {
  NoiseCounts counts{};
  counts.points = static_cast<float>(static_cast<double>(density) / 100.0 *
                                     static_cast<double>(rows) * static_cast<double>(cols));
  const auto white_fraction = static_cast<float>(static_cast<double>(white) / 100.0);
  const auto black_fraction = static_cast<float>((100.0 - static_cast<double>(white)) / 100.0);
  counts.white = to_count(static_cast<double>(white_fraction) * static_cast<double>(counts.points));
  counts.black = to_count(static_cast<double>(black_fraction) * static_cast<double>(counts.points));
  return counts;
}

void place_draws(int32_t* draws, int32_t pairs, int32_t rows, int32_t cols) {
  const uint32_t row_scale = index_scale(rows);
  const uint32_t col_scale = index_scale(cols);
  for (int32_t i = 0; i < pairs; ++i) {
    int32_t* pair = draws + 2 * static_cast<ptrdiff_t>(i);
    pair[0] = scaled_index(pair[0], row_scale, rows);
    pair[1] = scaled_index(pair[1], col_scale, cols);
  }
}

void add_impulses(Image* image, int32_t count, unsigned char value, RandState* state) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  if (rows == 0 || cols == 0) {
    return;
  }
  // Positions are drawn a batch at a time and their cache lines requested one batch before they
  // are written: on a large image nearly every write misses the cache, and waiting for the misses
  // one after another is what a pass costs. Every write of a pass stores the same value, so only
  // the draws need to keep their order.
  constexpr int32_t kBatch = 128;
  int32_t draws[2 * kBatch];
  unsigned char* targets[2][kBatch];
  unsigned char* const* const pixels = image->pixels;
  int32_t pending = 0;  // positions of the previous batch, requested but not yet written
  int current = 0;
  for (int32_t done = 0; done < count;) {
    const int32_t n = count - done < kBatch ? count - done : kBatch;
    rand_fill(state, draws, 2 * n);
    place_draws(draws, n, rows, cols);
    unsigned char** next = targets[current];
    for (int32_t i = 0; i < n; ++i) {
      // NOLINTBEGIN(bugprone-implicit-widening-of-multiplication-result): i < kBatch, 2 * i < 256.
      unsigned char* target = pixels[draws[2 * i]] + draws[2 * i + 1];
      // NOLINTEND(bugprone-implicit-widening-of-multiplication-result)
      __builtin_prefetch(target, 1);
      next[i] = target;
    }
    unsigned char* const* previous = targets[current ^ 1];
    for (int32_t i = 0; i < pending; ++i) {
      *previous[i] = value;
    }
    pending = n;
    current ^= 1;
    done += n;
  }
  unsigned char* const* last = targets[current ^ 1];
  for (int32_t i = 0; i < pending; ++i) {
    *last[i] = value;
  }
}
