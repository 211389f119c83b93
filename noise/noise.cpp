#include "noise/noise.h"

#include <cstdio>

int32_t draw_index(int32_t draw, int32_t size) {
  // float(size) is an integer below 2^31 + 1 and draw is below 2^31: the product fits 64 bits.
  const auto scale = static_cast<uint64_t>(static_cast<float>(size));
  const auto index = static_cast<int64_t>((static_cast<uint64_t>(draw) * scale) >> 31);
  return index < size ? static_cast<int32_t>(index) : size - 1;
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

void add_impulses(Image* image, int32_t count, unsigned char value, RandState* state) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  if (rows == 0 || cols == 0) {
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    const int32_t row = draw_index(rand_next(state), rows);
    const int32_t col = draw_index(rand_next(state), cols);
    image->pixels[row][col] = value;
  }
}
