// SPDX-License-Identifier: MIT
#include "noise/compare.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "noise/metric_sums.h"
#include "noise/portable_log10.h"
#include "noise/ssim.h"

namespace {

// printf spells a not-a-number with its sign bit ("-nan"), which 0 / 0 sets on x86; the report
// always says "nan" and "inf".
std::string number(double value, int digits) {
  if (std::isnan(value)) {
    return "nan";
  }
  if (std::isinf(value)) {
    return value > 0 ? "inf" : "-inf";
  }
  char text[40];
  // NOLINTNEXTLINE(cert-err33-c): a finite double in "%.17g" always fits the 40 characters.
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

std::string size_of(const Image* image) {
  return std::to_string(image->dims->cols) + " columns x " + std::to_string(image->dims->rows) +
         " rows";
}

}  // namespace

bool same_size(const Image* a, const Image* b) {
  return a->dims->rows == b->dims->rows && a->dims->cols == b->dims->cols;
}

namespace {

// The exact total of (a - b)^2, or of |a - b| when squared is false. Each term is at most
// 255^2 < 2^16, and two images in memory hold fewer than 2^47 pixels: the total fits 64 bits. A
// row's total fits 64 bits for any width.
uint64_t difference_total(const Image* a, const Image* b, bool squared) {
  uint64_t total = 0;
  for (int32_t r = 0; r < a->dims->rows; ++r) {
    const unsigned char* pa = a->pixels[r];
    const unsigned char* pb = b->pixels[r];
    uint64_t row = 0;
    for (int32_t c = 0; c < a->dims->cols; ++c) {
      const int d = pa[c] - pb[c];
      row += static_cast<uint32_t>(squared ? d * d : (d < 0 ? -d : d));
    }
    total += row;
  }
  return total;
}

double per_pixel(uint64_t total, const Image* a) {
  const int64_t pixels = static_cast<int64_t>(a->dims->rows) * a->dims->cols;
  return static_cast<double>(total) / static_cast<double>(pixels);
}

}  // namespace

double mean_squared_error(const Image* a, const Image* b) {
  return per_pixel(difference_total(a, b, true), a);
}

double mean_absolute_error(const Image* a, const Image* b) {
  return per_pixel(difference_total(a, b, false), a);
}

double image_enhancement_factor(const Image* first, const Image* reference, const Image* noisy) {
  // Both totals are exact; only their quotient rounds.
  return static_cast<double>(difference_total(noisy, reference, true)) /
         static_cast<double>(difference_total(first, reference, true));
}

Comparison compare_images(const Image* a, const Image* b) {
  Comparison result{};
  // Erro, Erro_medio and Sinal_ruido from one pass over the pixels.
  const noise_detail::SinglePrecisionSums sums = noise_detail::single_precision_sums(a, b);
  result.erro = sums.noise;
  result.erro_medio = noise_detail::root_mean_square(
      result.erro, static_cast<int64_t>(a->dims->rows) * a->dims->cols);
  result.sinal_ruido = static_cast<double>(sums.signal) / static_cast<double>(sums.noise);
  result.mse = mean_squared_error(a, b);
  result.psnr = 10 * noise_detail::portable_log10(255.0 * 255.0 / result.mse);
  result.ssim = mean_ssim(a, b);
  result.mae = mean_absolute_error(a, b);
  return result;
}

std::string format_comparison(const Comparison& comparison) {
  return "Erro " + number(comparison.erro, 9) + "\nErro_medio " + number(comparison.erro_medio, 9) +
         "\nSinal_ruido " + number(comparison.sinal_ruido, 17) + "\nPSNR " +
         number(comparison.psnr, 17) + " dB\nMSE " + number(comparison.mse, 17) + "\nSSIM " +
         number(comparison.ssim, 17) + "\nMAE " + number(comparison.mae, 17) + "\n";
}

std::string format_ief(double ief) {
  return "IEF " + number(ief, 17) + "\n";
}

std::string format_size_mismatch(const char* path_a, const Image* a, const char* path_b,
                                 const Image* b) {
  return std::string("'") + path_a + "' is " + size_of(a) + ", '" + path_b + "' is " + size_of(b);
}
