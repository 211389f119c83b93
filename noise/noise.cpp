#include "noise/noise.h"

#include <cstddef>
#include <cstdio>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define NOISE_WIDE_DRAWS 1
#endif

namespace {

// float(size), worked out once per pass rather than once per draw.
struct IndexScale {
  uint64_t scale;
  int32_t size;
};

IndexScale index_scale(int32_t size) {
  return {static_cast<uint64_t>(static_cast<float>(size)), size};
}

int32_t scaled_index(int32_t draw, IndexScale s) {
  // float(size) is an integer below 2^31 + 1 and draw is below 2^31: the product fits 64 bits.
  const auto index = static_cast<int64_t>((static_cast<uint64_t>(draw) * s.scale) >> 31);
  return index < s.size ? static_cast<int32_t>(index) : s.size - 1;
}

}  // namespace

int32_t draw_index(int32_t draw, int32_t size) {
  return scaled_index(draw, index_scale(size));
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

int64_t to_count(double value) {
  if (!(value > 0)) {
    return 0;
  }
  // 2^63, the first value past the signed 64-bit range.
  if (value >= 9223372036854775808.0) {
    return INT64_MAX;
  }
  return static_cast<int64_t>(value);
}

}  // namespace

NoiseCounts noise_counts(float white, float density, int32_t rows, int32_t cols) {
  NoiseCounts counts{};
  counts.points = static_cast<float>(static_cast<double>(density) / 100.0 *
                                     static_cast<double>(rows) * static_cast<double>(cols));
  if (!(counts.points > 0)) {
    return counts;
  }
  const auto white_fraction = static_cast<float>(static_cast<double>(white) / 100.0);
  const auto black_fraction = static_cast<float>((100.0 - static_cast<double>(white)) / 100.0);
  counts.white = to_count(static_cast<double>(white_fraction) * static_cast<double>(counts.points));
  counts.black = to_count(static_cast<double>(black_fraction) * static_cast<double>(counts.points));
  return counts;
}

void place_draws_plain(int32_t* draws, int32_t pairs, int32_t rows, int32_t cols) {
  const IndexScale row_scale = index_scale(rows);
  const IndexScale col_scale = index_scale(cols);
  for (int32_t i = 0; i < pairs; ++i) {
    int32_t* pair = draws + 2 * static_cast<ptrdiff_t>(i);
    pair[0] = scaled_index(pair[0], row_scale);
    pair[1] = scaled_index(pair[1], col_scale);
  }
}

#ifdef NOISE_WIDE_DRAWS
#define NOISE_WIDE_TARGET __attribute__((target("avx512f")))

namespace {

// Every lane. GCC 12 warns inside target functions about the intrinsics that leave lanes
// undefined; their zero-masked forms do the same work.
constexpr __mmask8 kAll = 0xFF;

// min(draw * scale >> 31, last) for the lower 32 bits of each 64-bit lane, as scaled_index.
NOISE_WIDE_TARGET inline __m512i scale_lanes(__m512i draws, __m512i scale, __m512i last) {
  return _mm512_maskz_min_epu64(
      kAll, _mm512_maskz_srli_epi64(kAll, _mm512_maskz_mul_epu32(kAll, draws, scale), 31), last);
}

}  // namespace

// Eight pairs at a time: each pair is one 64-bit lane, row draw below, column draw above.
NOISE_WIDE_TARGET void place_draws_wide(int32_t* draws, int32_t pairs, int32_t rows, int32_t cols) {
  const __m512i row_scale = _mm512_set1_epi64(static_cast<int64_t>(index_scale(rows).scale));
  const __m512i col_scale = _mm512_set1_epi64(static_cast<int64_t>(index_scale(cols).scale));
  const __m512i last_row = _mm512_set1_epi64(rows - 1);
  const __m512i last_col = _mm512_set1_epi64(cols - 1);
  for (int32_t i = 0; i < pairs; i += 8) {
    const __mmask8 lanes = pairs - i >= 8 ? kAll : static_cast<__mmask8>((1u << (pairs - i)) - 1);
    int32_t* pair = draws + 2 * static_cast<ptrdiff_t>(i);
    const __m512i both = _mm512_maskz_loadu_epi64(lanes, pair);
    const __m512i row = scale_lanes(both, row_scale, last_row);
    const __m512i col = scale_lanes(_mm512_maskz_srli_epi64(kAll, both, 32), col_scale, last_col);
    _mm512_mask_storeu_epi64(pair, lanes,
                             _mm512_or_si512(row, _mm512_maskz_slli_epi64(kAll, col, 32)));
  }
}

bool wide_draws_available() {
  static const bool available = __builtin_cpu_supports("avx512f");
  return available;
}
#else
void place_draws_wide(int32_t* draws, int32_t pairs, int32_t rows, int32_t cols) {
  place_draws_plain(draws, pairs, rows, cols);
}

bool wide_draws_available() {
  return false;
}
#endif

void add_impulses(Image* image, int64_t count, unsigned char value, RandState* state) {
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
  const bool wide = wide_draws_available();
  unsigned char* const* const pixels = image->pixels;
  int32_t pending = 0;  // positions of the previous batch, requested but not yet written
  int current = 0;
  for (int64_t done = 0; done < count;) {
    const int32_t n = count - done < kBatch ? static_cast<int32_t>(count - done) : kBatch;
    rand_fill(state, draws, 2 * n);
    // cppcheck reads the build without AVX-512 support, where wide is always false.
    // cppcheck-suppress knownConditionTrueFalse
    if (wide) {
      place_draws_wide(draws, n, rows, cols);
    } else {
      place_draws_plain(draws, n, rows, cols);
    }
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

void add_impulses_until_uniform(Image* image, int64_t count, unsigned char value,
                                RandState* state) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  const int64_t pixels = static_cast<int64_t>(rows) * cols;
  if (pixels == 0) {
    return;  // as add_impulses: no draws at all
  }
  // Up to one draw per pixel the plain pass runs: it is the common case, and counting the pixels
  // left to change would cost as much as the pass itself.
  if (count <= pixels) {
    add_impulses(image, count, value, state);
    return;
  }
  add_impulses(image, pixels, value, state);
  count -= pixels;
  int64_t left = 0;  // pixels that do not hold value yet
  for (int32_t r = 0; r < rows; ++r) {
    const unsigned char* row = image->pixels[r];
    for (int32_t c = 0; c < cols; ++c) {
      left += row[c] != value ? 1 : 0;
    }
  }
  constexpr int32_t kBatch = 128;
  int32_t draws[2 * kBatch];
  while (left > 0 && count > 0) {
    const int32_t n = count < kBatch ? static_cast<int32_t>(count) : kBatch;
    rand_fill(state, draws, 2 * n);
    place_draws_plain(draws, n, rows, cols);
    for (int32_t i = 0; i < n; ++i) {
      // NOLINTBEGIN(bugprone-implicit-widening-of-multiplication-result): i < kBatch, 2 * i < 256.
      unsigned char& pixel = image->pixels[draws[2 * i]][draws[2 * i + 1]];
      // NOLINTEND(bugprone-implicit-widening-of-multiplication-result)
      left -= pixel != value ? 1 : 0;
      pixel = value;
    }
    count -= n;
  }
  // Two draws per position; count < 2^63, so twice it fits 64 bits unsigned.
  rand_skip(state, 2 * static_cast<uint64_t>(count));
}
