// SPDX-License-Identifier: MIT
#include "noise/ssim.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "noise/ssim_kernel.h"

namespace noise_detail {

void add_ssim_strip_plain(const Image* a, const Image* b, const Weights& weights, int32_t first,
                          int32_t n, Ring* ring, double* column_sums) {
  add_ssim_strip(a, b, weights, first, n, ring, column_sums);
}

}  // namespace noise_detail

namespace {

using noise_detail::kRadius;
using noise_detail::kRows;
using noise_detail::kSide;
using noise_detail::kSpan;
using noise_detail::kStrip;
using noise_detail::Ring;
using noise_detail::Weights;

Weights gaussian_weights() {
  // exp(-i^2 / (2 sigma^2)) for sigma 1.5 and i from 0 to 5, correctly rounded. Written out, as
  // C libraries' exp may differ in the last bit, and the measure should not.
  constexpr double kTaps[kSide] = {0x1p+0,
                                   0x1.99fa40bc6c5f7p-1,
                                   0x1.a4fa9ecad91c2p-2,
                                   0x1.152aaa3bf81ccp-3,
                                   0x1.d40464ea76e2cp-6,
                                   0x1.fab6c122cebaap-9};
  Weights raw{};
  for (int i = 0; i < kSide; ++i) {
    raw.weight[i] = kTaps[i];
  }
  // Summed from -5 to 5, as the taps stand.
  double sum = 0;
  for (int i = -kRadius; i <= kRadius; ++i) {
    sum += raw.weight[i < 0 ? -i : i];
  }
  Weights weights{};
  for (int i = 0; i < kSide; ++i) {
    weights.weight[i] = raw.weight[i] / sum;
  }
  return weights;
}

}  // namespace

bool ssim_loop_available(SsimLoop loop) {
  return loop == SsimLoop::plain || noise_detail::avx2_available();
}

double mean_ssim(const Image* a, const Image* b) {
  return mean_ssim(a, b, ssim_loop_available(SsimLoop::avx2) ? SsimLoop::avx2 : SsimLoop::plain);
}

uint64_t ssim_scratch_bytes(int32_t cols) {
  constexpr uint64_t kRings = 4 * uint64_t{kRows} * kSpan * sizeof(float);
  return kRings + static_cast<uint64_t>(cols < 0 ? 0 : cols) * sizeof(double);
}

double mean_ssim(const Image* a, const Image* b, SsimLoop loop) {
  const int32_t rows = a->dims->rows;
  const int32_t cols = a->dims->cols;
  if (rows < kRows || cols < kRows) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  static const Weights weights = gaussian_weights();
  const auto add_ssim_strip = loop == SsimLoop::avx2 && noise_detail::avx2_available()
                                  ? noise_detail::add_ssim_strip_avx2
                                  : noise_detail::add_ssim_strip_plain;
  constexpr size_t kRingSize = static_cast<size_t>(kRows) * kSpan;
  Ring ring{std::vector<float>(kRingSize), std::vector<float>(kRingSize),
            std::vector<float>(kRingSize), std::vector<float>(kRingSize)};
  std::vector<double> column_sums(static_cast<size_t>(cols), 0.0);
  for (int32_t first = kRadius; first < cols - kRadius; first += kStrip) {
    const int32_t left = cols - kRadius - first;
    const int32_t n = left < kStrip ? left : kStrip;
    add_ssim_strip(a, b, weights, first, n, &ring, column_sums.data());
  }
  // In column order, whatever the build.
  const double total = std::accumulate(column_sums.begin(), column_sums.end(), 0.0);
  const int64_t counted = static_cast<int64_t>(rows - 2 * kRadius) * (cols - 2 * kRadius);
  return total / static_cast<double>(counted);
}
