// SPDX-License-Identifier: MIT
#include "noise/ssim.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

namespace {

// An 11-tap Gaussian with sigma 1.5, as scipy builds it for sigma 1.5 and truncate 3.5, kept as
// its centre and one side: weight[i] applies at offsets -i and +i.
constexpr int kRadius = 5;
constexpr int kSide = kRadius + 1;

struct Weights {
  double weight[kSide];
};

constexpr double kC1 = (0.01 * 255) * (0.01 * 255);
constexpr double kC2 = (0.03 * 255) * (0.03 * 255);
constexpr int kRows = 2 * kRadius + 1;

// The image is taken in strips of this many output columns, all rows of one strip before the
// next, so that the rows a window needs stay in the second-level cache.
constexpr int32_t kStrip = 512;
constexpr int32_t kSpan = kStrip + 2 * kRadius;

// The last 11 rows of a strip as single-precision planes x, y, x^2 + y^2 and xy: every value,
// and the sum of any two, is an integer below 2^24, so exact. Each input row is converted once,
// into the slot of the row that left the window.
struct Ring {
  std::vector<float> x, y, sq, xy;  // kRows slots of kSpan values each
};

// The Gaussian across a row at centre: the taps written out, so that the loop around it is one
// straight block that compilers turn into vector code.
double smooth(const double* centre, const double* w) {
  return w[0] * centre[0] + w[1] * (centre[-1] + centre[1]) + w[2] * (centre[-2] + centre[2]) +
         w[3] * (centre[-3] + centre[3]) + w[4] * (centre[-4] + centre[4]) +
         w[5] * (centre[-5] + centre[5]);
}

// The Gaussian down the window: rows[k] is the plane's slot for the window's row k. The pairs
// are added in single precision, exactly.
void smooth_down(const float* const* rows, const double* w, int32_t span, double* out) {
  for (int32_t j = 0; j < span; ++j) {
    double s = w[0] * static_cast<double>(rows[kRadius][j]);
    for (int i = 1; i <= kRadius; ++i) {
      s += w[i] * static_cast<double>(rows[kRadius - i][j] + rows[kRadius + i][j]);
    }
    out[j] = s;
  }
}

// One output row of a strip whose window is in the ring (first_slot holds its top row): adds
// each pixel's SSIM to sums[0..n). Every column is worked out on its own, in the same order of
// operations whatever the vector width, so all builds of this give the same bits. The variances
// are only ever used in their sum, so x^2 + y^2 is smoothed as one plane.
void add_ssim_row(const Ring& ring, int first_slot, const Weights& weights, int32_t n,
                  double* sums) {
  // A copy the compiler can see no store reaches, so it stays in registers.
  double w[kSide];
  for (int i = 0; i < kSide; ++i) {
    w[i] = weights.weight[i];
  }
  const float* rows[4][kRows];
  for (int k = 0; k < kRows; ++k) {
    const size_t offset = static_cast<size_t>((first_slot + k) % kRows) * kSpan;
    rows[0][k] = ring.x.data() + offset;
    rows[1][k] = ring.y.data() + offset;
    rows[2][k] = ring.sq.data() + offset;
    rows[3][k] = ring.xy.data() + offset;
  }
  const int32_t span = n + 2 * kRadius;
  double vx[kSpan];
  double vy[kSpan];
  double vsq[kSpan];
  double vxy[kSpan];
  smooth_down(rows[0], w, span, vx);
  smooth_down(rows[1], w, span, vy);
  smooth_down(rows[2], w, span, vsq);
  smooth_down(rows[3], w, span, vxy);
  // Across, in two loops: one holding all four planes' taps would not fit in registers.
  double ux_row[kStrip];
  double uy_row[kStrip];
  for (int32_t j = 0; j < n; ++j) {
    ux_row[j] = smooth(vx + j + kRadius, w);
    uy_row[j] = smooth(vy + j + kRadius, w);
  }
  for (int32_t j = 0; j < n; ++j) {
    const int32_t m = j + kRadius;
    const double ux = ux_row[j];
    const double uy = uy_row[j];
    const double usq = smooth(vsq + m, w);
    const double uxy = smooth(vxy + m, w);
    const double means = ux * ux + uy * uy;
    const double a1 = 2 * ux * uy + kC1;
    const double a2 = 2 * (uxy - ux * uy) + kC2;
    const double b1 = means + kC1;
    const double b2 = (usq - means) + kC2;
    sums[j] += (a1 * a2) / (b1 * b2);
  }
}

// Converts columns [start, start + span) of one row of a and b into the ring's slot. The pixels
// are copied first: stores through float pointers could change bytes reached through others, as
// far as the compiler knows, but not a local array.
void fill_slot(Ring* ring, int slot, const unsigned char* a, const unsigned char* b, int32_t span) {
  unsigned char pa[kSpan];
  unsigned char pb[kSpan];
  std::memcpy(pa, a, static_cast<size_t>(span));
  std::memcpy(pb, b, static_cast<size_t>(span));
  const size_t offset = static_cast<size_t>(slot) * kSpan;
  float* x = ring->x.data() + offset;
  float* y = ring->y.data() + offset;
  float* sq = ring->sq.data() + offset;
  float* xy = ring->xy.data() + offset;
  for (int32_t j = 0; j < span; ++j) {
    const int xa = pa[j];
    const int yb = pb[j];
    x[j] = static_cast<float>(xa);
    y[j] = static_cast<float>(yb);
    sq[j] = static_cast<float>(xa * xa + yb * yb);
    xy[j] = static_cast<float>(xa * yb);
  }
}

// Adds the SSIM of every pixel of output columns [first, first + n) to column_sums[first..].
void add_ssim_strip(const Image* a, const Image* b, const Weights& weights, int32_t first,
                    int32_t n, Ring* ring, double* column_sums) {
  const int32_t start = first - kRadius;
  const int32_t span = n + 2 * kRadius;
  for (int32_t r = 0; r < a->dims->rows; ++r) {
    fill_slot(ring, r % kRows, a->pixels[r] + start, b->pixels[r] + start, span);
    if (r >= kRows - 1) {
      add_ssim_row(*ring, (r + 1) % kRows, weights, n, column_sums + first);
    }
  }
}

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

uint64_t ssim_scratch_bytes(int32_t cols) {
  constexpr uint64_t kRings = 4 * uint64_t{kRows} * kSpan * sizeof(float);
  return kRings + static_cast<uint64_t>(cols < 0 ? 0 : cols) * sizeof(double);
}

double mean_ssim(const Image* a, const Image* b) {
  const int32_t rows = a->dims->rows;
  const int32_t cols = a->dims->cols;
  if (rows < kRows || cols < kRows) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  static const Weights weights = gaussian_weights();
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
