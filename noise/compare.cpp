#include "noise/compare.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

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

// Erro's and Sinal_ruido's single-precision sums in one pass. Each square is exact in single
// precision, and adding two single-precision values in double precision and rounding the result
// gives the same value as adding them in single precision (53 >= 2 x 24 + 2 bits), so these are
// the library's sums to the bit, without its conversions on the chain of dependent additions.
struct SinglePrecisionSums {
  float signal;  // sum of b^2
  float noise;   // sum of (a - b)^2: Erro
};

SinglePrecisionSums single_precision_sums(const Image* a, const Image* b) {
  float signal = 0;
  float noise = 0;
  for (int32_t r = 0; r < a->dims->rows; ++r) {
    const unsigned char* pa = a->pixels[r];
    const unsigned char* pb = b->pixels[r];
    for (int32_t c = 0; c < a->dims->cols; ++c) {
      const int d = pa[c] - pb[c];
      signal += static_cast<float>(pb[c] * pb[c]);
      noise += static_cast<float>(d * d);
    }
  }
  return {signal, noise};
}

std::string size_of(const Image* image) {
  return std::to_string(image->dims->cols) + " columns x " + std::to_string(image->dims->rows) +
         " rows";
}

}  // namespace

bool same_size(const Image* a, const Image* b) {
  return a->dims->rows == b->dims->rows && a->dims->cols == b->dims->cols;
}

double mean_squared_error(const Image* a, const Image* b) {
  // Each square is at most 255^2 < 2^16, and two images in memory hold fewer than 2^47 pixels:
  // the total fits 64 bits. A row's total fits 64 bits for any width.
  uint64_t total = 0;
  for (int32_t r = 0; r < a->dims->rows; ++r) {
    const unsigned char* pa = a->pixels[r];
    const unsigned char* pb = b->pixels[r];
    uint64_t row = 0;
    for (int32_t c = 0; c < a->dims->cols; ++c) {
      const int d = pa[c] - pb[c];
      row += static_cast<uint32_t>(d * d);
    }
    total += row;
  }
  const int64_t pixels = static_cast<int64_t>(a->dims->rows) * a->dims->cols;
  return static_cast<double>(total) / static_cast<double>(pixels);
}

Comparison compare_images(const Image* a, const Image* b) {
  Comparison result{};
  const SinglePrecisionSums sums = single_precision_sums(a, b);
  result.erro = sums.noise;
  const int64_t pixels = static_cast<int64_t>(a->dims->rows) * a->dims->cols;
  // As Erro_medio forms it from Erro.
  const auto mean =
      static_cast<float>(static_cast<double>(result.erro) / static_cast<double>(pixels));
  result.erro_medio = static_cast<float>(std::sqrt(static_cast<double>(mean)));
  result.sinal_ruido = static_cast<double>(sums.signal) / static_cast<double>(sums.noise);
  result.mse = mean_squared_error(a, b);
  result.psnr = 10 * noise_detail::portable_log10(255.0 * 255.0 / result.mse);
  result.ssim = mean_ssim(a, b);
  return result;
}

std::string format_comparison(const Comparison& comparison) {
  return "Erro " + number(comparison.erro, 9) + "\nErro_medio " + number(comparison.erro_medio, 9) +
         "\nSinal_ruido " + number(comparison.sinal_ruido, 17) + "\nPSNR " +
         number(comparison.psnr, 17) + " dB\nMSE " + number(comparison.mse, 17) + "\nSSIM " +
         number(comparison.ssim, 17) + "\n";
}

std::string format_size_mismatch(const char* path_a, const Image* a, const char* path_b,
                                 const Image* b) {
  return std::string("'") + path_a + "' is " + size_of(a) + ", '" + path_b + "' is " + size_of(b);
}
