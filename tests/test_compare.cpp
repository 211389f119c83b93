// SPDX-License-Identifier: MIT
#include <cmath>
#include <utility>
#include <vector>

#include "noise/compare.h"
#include "noise/metrics.h"
#include "noise/portable_log10.h"
#include "noise/ssim.h"
#include "support.h"

using testsupport::image_of;

TEST(Compare, ReportsEveryMeasureWithRoundTripDigits) {
  const auto ten = image_of(1, 1, {10});
  const auto thirteen = image_of(1, 1, {13});
  EXPECT_EQ(format_comparison(compare_images(ten.get(), thirteen.get())),
            "Erro 9\nErro_medio 3\nSinal_ruido 18.777777777777779\n"
            "PSNR 38.58837851428585 dB\nMSE 9\nSSIM nan\nMAE 3\n");
}

// The decimal logarithm is the correctly rounded one on every platform: C libraries differ in the
// last bit (glibc's log10(7225) is one unit above), so the reference is the C library's value
// within one unit in the last place, and exact values where they are known.
TEST(PortableLog10, CorrectlyRoundedWhereKnownAndNearTheLibraryElsewhere) {
  using noise_detail::portable_log10;
  double power = 1;
  for (int k = 0; k <= 22; ++k, power *= 10) {
    EXPECT_EQ(portable_log10(power), k);
  }
  EXPECT_EQ(portable_log10(7225), 0x1.edee661239f17p+1);
  EXPECT_EQ(portable_log10(0x1p-1074), -0x1.434e6420f4374p+8);
  EXPECT_EQ(portable_log10(0), -INFINITY);
  EXPECT_EQ(portable_log10(INFINITY), INFINITY);
  EXPECT_TRUE(std::isnan(portable_log10(-1)));
  EXPECT_TRUE(std::isnan(portable_log10(NAN)));
  // Every ratio 255^2 / MSE that an image of up to a million pixels can give, sampled, and a
  // sweep across the whole range of doubles.
  for (double x = 0x1p-1070; x < 0x1p+1020; x *= 1.37) {
    const double expected = std::log10(x);
    EXPECT_NEAR(portable_log10(x), expected, std::abs(std::nextafter(expected, 0) - expected)) << x;
  }
  for (int total = 1; total < 1'000'000; total += 997) {
    const double x = 65025.0 / (total / 1e6);
    const double expected = std::log10(x);
    EXPECT_NEAR(portable_log10(x), expected, std::abs(std::nextafter(expected, 0) - expected)) << x;
  }
}

TEST(Compare, NonFiniteValuesPrintWithoutSign) {
  const auto black = image_of(1, 1, {0});
  EXPECT_EQ(format_comparison(compare_images(black.get(), black.get())),
            "Erro 0\nErro_medio 0\nSinal_ruido nan\nPSNR inf dB\nMSE 0\nSSIM nan\nMAE 0\n");
}

// Past 2^24 the single-precision total rounds at every addition; the exact mean does not.
TEST(Compare, MeanSquareIsExactWhereTheSinglePrecisionTotalDrifts) {
  std::vector<int> white(300001, 255);
  std::vector<int> dark(300001, 0);
  dark[7] = 254;  // one difference of 1
  const auto a = image_of(1, 300001, white);
  const auto b = image_of(1, 300001, dark);
  const Comparison result = compare_images(a.get(), b.get());
  const double exact_total = 300000.0 * 255 * 255 + 1;
  EXPECT_NE(static_cast<double>(result.erro), exact_total);
  EXPECT_EQ(result.mse, exact_total / 300001);
  EXPECT_EQ(result.psnr, 10 * noise_detail::portable_log10(255.0 * 255.0 / (exact_total / 300001)));
}

// The report's first three lines are the library's measures to the bit, though formed in one
// pass: on small and large totals, and with the signal or the noise 0.
TEST(Compare, SinglePrecisionLinesAreTheLibrarysMeasures) {
  uint32_t mix = 7;
  std::vector<int> noise;
  for (int i = 0; i < 200000; ++i) {
    mix = mix * 1103515245u + 12345u;
    noise.push_back(static_cast<int>((mix >> 16) & 0xFF));
  }
  const std::vector<std::pair<testsupport::ImagePtr, testsupport::ImagePtr>> pairs = [&] {
    std::vector<std::pair<testsupport::ImagePtr, testsupport::ImagePtr>> made;
    made.emplace_back(image_of(1, 1, {10}), image_of(1, 1, {13}));
    made.emplace_back(image_of(400, 500, noise), image_of(400, 500, std::vector<int>(200000, 255)));
    made.emplace_back(image_of(400, 500, noise), image_of(400, 500, std::vector<int>(200000, 0)));
    made.emplace_back(image_of(400, 500, noise), image_of(400, 500, noise));
    return made;
  }();
  for (const auto& [a, b] : pairs) {
    const Comparison result = compare_images(a.get(), b.get());
    EXPECT_EQ(result.erro, Erro(a.get(), b.get()));
    EXPECT_EQ(result.erro_medio, Erro_medio(a.get(), b.get()));
    const double ratio = Sinal_ruido(a.get(), b.get());
    EXPECT_TRUE(result.sinal_ruido == ratio ||
                (std::isnan(ratio) && std::isnan(result.sinal_ruido)));
  }
}

// Windows that do not fit give not a number, and equal images exactly 1, at sizes that leave the
// strips of columns a remainder.
TEST(Ssim, EqualImagesGiveOneAndSmallImagesNotANumber) {
  uint32_t mix = 11;
  auto pixels = [&mix](size_t count) {
    std::vector<int> values;
    for (size_t i = 0; i < count; ++i) {
      mix = mix * 1103515245u + 12345u;
      values.push_back(static_cast<int>((mix >> 16) & 0xFF));
    }
    return values;
  };
  for (const auto& [rows, cols] : {std::pair{11, 11}, {12, 523}, {30, 1100}, {40, 13}}) {
    const auto a = image_of(rows, cols, pixels(static_cast<size_t>(rows) * cols));
    const auto b = image_of(rows, cols, pixels(static_cast<size_t>(rows) * cols));
    const double ssim = mean_ssim(a.get(), b.get());
    EXPECT_TRUE(ssim > -1 && ssim < 1) << rows << " x " << cols;
    EXPECT_EQ(mean_ssim(a.get(), a.get()), 1.0) << rows << " x " << cols;
  }
  const auto narrow = image_of(11, 10, pixels(110));
  const auto low = image_of(10, 11, pixels(110));
  EXPECT_TRUE(std::isnan(mean_ssim(narrow.get(), narrow.get())));
  EXPECT_TRUE(std::isnan(mean_ssim(low.get(), low.get())));
}
