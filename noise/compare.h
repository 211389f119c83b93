// SPDX-License-Identifier: MIT
// pnm_compare's logic: the measures of one image against another and their printed report.
#ifndef NOISE_COMPARE_H
#define NOISE_COMPARE_H

#include <string>

#include "imagelib/lib.h"

struct Comparison {
  float erro;
  float erro_medio;
  double sinal_ruido;
  double psnr;  // decibels, for 8-bit pixels: 10 log10(255^2 / mse)
  double mse;   // exact: the integer total of squared differences over the pixel count
  double ssim;  // mean structural similarity; not a number below 11 x 11
  double mae;   // exact: the integer total of absolute differences over the pixel count
};

bool same_size(const Image* a, const Image* b);
// The mean of (a - b)^2 from its exact integer total; not a number without pixels.
double mean_squared_error(const Image* a, const Image* b);
// The mean of |a - b| from its exact integer total; not a number without pixels.
double mean_absolute_error(const Image* a, const Image* b);
// The image enhancement factor of first (a filtered image, say) over noisy, both against
// reference: sum (noisy - reference)^2 / sum (first - reference)^2 from the exact integer totals.
// Infinite when first equals reference and noisy does not, not a number when all three are equal.
// All three must be the same size.
double image_enhancement_factor(const Image* first, const Image* reference, const Image* noisy);
// a and b must be the same size.
Comparison compare_images(const Image* a, const Image* b);
// One line per measure, each value with enough digits to read back exactly.
std::string format_comparison(const Comparison& comparison);
// The line that follows them when a noisy image is given: "IEF <v>\n".
std::string format_ief(double ief);
// "'a' is C columns x R rows, 'b' is ..." for a refused pair.
std::string format_size_mismatch(const char* path_a, const Image* a, const char* path_b,
                                 const Image* b);

#endif
