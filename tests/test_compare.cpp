#include <cmath>
#include <utility>
#include <vector>

#include "noise/compare.h"
#include "noise/metrics.h"
#include "noise/ssim.h"
#include "support.h"

using testsupport::image_of;
using testsupport::RunResult;

TEST(Compare, ReportsEveryMeasureWithRoundTripDigits) {
  const auto ten = image_of(1, 1, {10});
  const auto thirteen = image_of(1, 1, {13});
  EXPECT_EQ(format_comparison(compare_images(ten.get(), thirteen.get())),
            "Erro 9\nErro_medio 3\nSinal_ruido 18.777777777777779\n"
            "PSNR 38.588378514285857 dB\nMSE 9\nSSIM nan\n");
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

class CompareCommandTest : public testsupport::TempDirTest {
 protected:
  RunResult compare(const std::vector<std::string>& args) const { return run(PNM_COMPARE, args); }
  std::string coins() const { return std::string(EXAMPLES_DIR) + "/coins.pgm"; }
};

TEST_F(CompareCommandTest, MeasuresNoisyPlainCopyAgainstItsBinarySource) {
  ASSERT_EQ(run(FUNCAO_EXE, {coins(), "noisy.pgm", "30", "10"}).status, 0);
  const RunResult result = compare({"noisy.pgm", coins()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Erro 182522960\nErro_medio 39.606987\nSinal_ruido 7.7638707590540941\n"
            "PSNR 16.175288467324904 dB\nMSE 1568.741964040154\nSSIM 0.29000016730215422\n");
}

TEST_F(CompareCommandTest, IdenticalImagesHaveInfiniteRatios) {
  const RunResult result = compare({coins(), coins()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Erro 0\nErro_medio 0\nSinal_ruido inf\nPSNR inf dB\nMSE 0\nSSIM 1\n");
}

TEST_F(CompareCommandTest, EmptyImagesGiveNotANumber) {
  const std::string empty = file("empty.pgm", "P2 0 3 255\n");
  const RunResult result = compare({empty, empty});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Erro 0\nErro_medio nan\nSinal_ruido nan\nPSNR nan dB\nMSE nan\nSSIM nan\n");
}

TEST_F(CompareCommandTest, WrongArgumentCountPrintsUsage) {
  for (const auto& args : {std::vector<std::string>{}, {"a"}, {"a", "b", "c"}}) {
    const RunResult result = compare(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Usage: pnm_compare <image a> <image b>\n");
  }
}

TEST_F(CompareCommandTest, UnreadableInputEndsWithStatusTwo) {
  const std::string text = file("text.pgm", "hello\n");
  for (const auto& [a, b, named] :
       {std::tuple{std::string("missing.pgm"), coins(), std::string("missing.pgm")},
        {coins(), text, text}}) {
    const RunResult result = compare({a, b});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out.find("Erro"), std::string::npos);
    EXPECT_NE(result.err.find("pnm_compare: cannot read '" + named + "'\n"), std::string::npos);
  }
}

TEST_F(CompareCommandTest, ImagesOfDifferentSizeAreRefused) {
  const std::string wide = file("wide.pgm", "P2 2 1 255\n1 2\n");
  const std::string tall = file("tall.pgm", "P2 1 2 255\n1 2\n");
  const RunResult result = compare({"wide.pgm", "tall.pgm"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  const std::string message =
      "pnm_compare: the images differ in size: 'wide.pgm' is 2 columns x 1 rows, 'tall.pgm' is 1 "
      "columns x 2 rows\n";
  ASSERT_GE(result.err.size(), message.size());
  EXPECT_EQ(result.err.substr(result.err.size() - message.size()), message);
}
