#include "noise/compare.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "noise/metrics.h"

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

Comparison compare_images(const Image* a, const Image* b) {
  Comparison result{};
  result.erro = Erro(a, b);
  result.erro_medio = Erro_medio(a, b);
  result.sinal_ruido = Sinal_ruido(a, b);
  const int64_t pixels = static_cast<int64_t>(a->dims->rows) * a->dims->cols;
  const double mean_square = static_cast<double>(result.erro) / static_cast<double>(pixels);
  result.psnr = 10 * std::log10(255.0 * 255.0 / mean_square);
  return result;
}

std::string format_comparison(const Comparison& comparison) {
  return "Erro " + number(comparison.erro, 9) + "\nErro_medio " + number(comparison.erro_medio, 9) +
         "\nSinal_ruido " + number(comparison.sinal_ruido, 17) + "\nPSNR " +
         number(comparison.psnr, 17) + " dB\n";
}

std::string format_size_mismatch(const char* path_a, const Image* a, const char* path_b,
                                 const Image* b) {
  return std::string("'") + path_a + "' is " + size_of(a) + ", '" + path_b + "' is " + size_of(b);
}
