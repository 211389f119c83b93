#include <cmath>
#include <utility>
#include <vector>

#include "noise/compare.h"
#include "noise/metrics.h"
#include "noise/ssim.h"
#include "support.h"

using testsupport::image_of;

TEST(Compare, ReportsEveryMeasureWithRoundTripDigits) {
  const auto ten = image_of(1, 1, {10});
  const auto thirteen = image_of(1, 1, {13});
  EXPECT_TRUE(
      testsupport::reports_match(format_comparison(compare_images(ten.get(), thirteen.get())),
                                 "Erro 9\nErro_medio 3\nSinal_ruido 18.777777777777779\n"
                                 "PSNR 38.588378514285857 dB\nMSE 9\nSSIM nan\n"));
}

TEST(Compare, NonFiniteValuesPrintWithoutSign) {
  const auto black = image_of(1, 1, {0});
  EXPECT_EQ(format_comparison(compare_images(black.get(), black.get())),
            "Erro 0\nErro_medio 0\nSinal_ruido nan\nPSNR inf dB\nMSE 0\nSSIM nan\n");
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
  EXPECT_EQ(result.psnr, 10 * std::log10(255.0 * 255.0 / (exact_total / 300001)));
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

// Every vector width gives the same bits; windows that do not fit give not a number, and equal
// images exactly 1.
TEST(Ssim, EveryTierAgreesToTheBitAndEdgesHold) {
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
    const double plain = mean_ssim(a.get(), b.get(), imagelib_detail::SimdTier::plain);
    for (const auto tier : testsupport::wide_tiers()) {
      EXPECT_EQ(mean_ssim(a.get(), b.get(), tier), plain)
          << imagelib_detail::simd_tier_name(tier) << ": " << rows << " x " << cols;
    }
    EXPECT_EQ(mean_ssim(a.get(), a.get()), 1.0) << rows << " x " << cols;
  }
  const auto narrow = image_of(11, 10, pixels(110));
  const auto low = image_of(10, 11, pixels(110));
  EXPECT_TRUE(std::isnan(mean_ssim(narrow.get(), narrow.get())));
  EXPECT_TRUE(std::isnan(mean_ssim(low.get(), low.get())));
}
