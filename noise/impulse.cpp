// SPDX-License-Identifier: MIT
#include "noise/impulse.h"

#include <cstdlib>
#include <memory>

#include "noise/noise.h"

namespace {

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

using Bitmap = std::unique_ptr<uint64_t[], FreeDeleter>;

Bitmap zeroed_bitmap(int32_t rows, int32_t cols) {
  return Bitmap(static_cast<uint64_t*>(std::calloc(
      static_cast<size_t>(rows) * noise_detail::bitmap_row_words(cols), sizeof(uint64_t))));
}

int64_t at_most(int64_t count, int64_t limit) {
  return count < limit ? count : limit;
}

}  // namespace

ImpulseCounts add_impulse_noise(Image* image, float white, float density, uint32_t seed) {
  return add_impulse_noise(image, white, density, seed, ImpulseOptions{});
}

ImpulseCounts impulse_counts(int32_t rows, int32_t cols, float white, float density,
                             const ImpulseOptions& options) {
  const noise_detail::NoiseCounts counts = noise_detail::noise_counts(white, density, rows, cols);
  const int64_t pixels = static_cast<int64_t>(rows) * cols;
  ImpulseCounts result{counts.white, counts.black};
  if (options.kind == ImpulseKind::random) {
    const double points = static_cast<double>(counts.points);
    // The point count truncated, and never beyond the pixel count (which a density of at most
    // 100 never passes).
    if (!(points >= 1)) {
      result.white = 0;
    } else {
      result.white = points >= static_cast<double>(pixels) ? pixels : static_cast<int64_t>(points);
    }
    result.black = 0;
  }
  if (options.exact) {
    result.white = at_most(result.white, pixels);
    result.black = at_most(result.black, pixels - result.white);
  }
  return result;
}

ImpulseCounts add_impulse_noise(Image* image, float white, float density, uint32_t seed,
                                const ImpulseOptions& options) {
  using namespace noise_detail;
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  Image* const mask = options.mask;
  if (mask != nullptr && (mask->dims->rows != rows || mask->dims->cols != cols)) {
    return {-1, -1};
  }
  const ImpulseCounts counts = impulse_counts(rows, cols, white, density, options);
  RandState state{};
  rand_init(&state, seed);
  const bool random = options.kind == ImpulseKind::random;
  if (!options.exact && mask == nullptr) {
    if (random) {
      add_marked_impulses(image, counts.white, kRandomValue, false, &state, RunMarks{});
      return counts;
    }
    add_impulses_until_uniform(image, counts.white, 255, &state);
    add_impulses_until_uniform(image, counts.black, 0, &state);
    return counts;
  }
  const int64_t pixels = static_cast<int64_t>(rows) * cols;
  if (pixels == 0) {
    if (mask != nullptr) {
      mask->dims->origin_row = image->dims->origin_row;
      mask->dims->origin_col = image->dims->origin_col;
    }
    return counts;
  }
  const Bitmap landed = zeroed_bitmap(rows, cols);
  const Bitmap scratch = zeroed_bitmap(rows, cols);
  const Bitmap full(
      static_cast<uint64_t*>(std::calloc(summary_words(rows, cols), sizeof(uint64_t))));
  if (landed == nullptr || scratch == nullptr || full == nullptr) {
    return {-1, -1};
  }
  start_marks(landed.get(), rows, cols);
  const RunMarks marks{landed.get(), scratch.get(), full.get()};
  if (random) {
    add_marked_impulses(image, counts.white, kRandomValue, options.exact, &state, marks);
  } else {
    add_marked_impulses(image, counts.white, 255, options.exact, &state, marks);
    add_marked_impulses(image, counts.black, 0, options.exact, &state, marks);
  }
  if (mask != nullptr) {
    mask->dims->origin_row = image->dims->origin_row;
    mask->dims->origin_col = image->dims->origin_col;
    expand_marks(landed.get(), mask);
  }
  return counts;
}
