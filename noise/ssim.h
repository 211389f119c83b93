// SPDX-License-Identifier: MIT
// The mean structural similarity index (Wang et al., 2004) of two greyscale images, computed as
// scikit-image's structural_similarity does with gaussian_weights=True, sigma=1.5,
// use_sample_covariance=False and data_range=255.
#ifndef NOISE_SSIM_H
#define NOISE_SSIM_H

#include <cstdint>

#include "imagelib/lib.h"

// a and b must be the same size. The mean over every pixel whose 11 x 11 window lies wholly
// inside the image; not a number for images under 11 rows or 11 columns.
double mean_ssim(const Image* a, const Image* b);

// The most memory mean_ssim takes for images of cols columns.
uint64_t ssim_scratch_bytes(int32_t cols);

#endif
