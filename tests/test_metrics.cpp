// SPDX-License-Identifier: MIT
#include <cmath>
#include <limits>

#include "noise/metrics.h"
#include "support.h"

using testsupport::image_of;

TEST(Metrics, OnePixelWorkedExamplesAndArgumentOrder) {
  const auto ten = image_of(1, 1, {10});
  const auto thirteen = image_of(1, 1, {13});
  EXPECT_EQ(Erro(ten.get(), thirteen.get()), 9.0f);
  EXPECT_EQ(Erro_medio(ten.get(), thirteen.get()), 3.0f);
  EXPECT_EQ(Sinal_ruido(ten.get(), thirteen.get()), 169.0 / 9.0);
  // Only the ratio takes its signal from the second image.
  EXPECT_EQ(Erro(thirteen.get(), ten.get()), 9.0f);
  EXPECT_EQ(Sinal_ruido(thirteen.get(), ten.get()), 100.0 / 9.0);
}

TEST(Metrics, EqualImagesGiveZeroErrorAndInfiniteRatio) {
  const auto a = image_of(2, 2, {1, 2, 3, 255});
  EXPECT_EQ(Erro(a.get(), a.get()), 0.0f);
  EXPECT_EQ(Erro_medio(a.get(), a.get()), 0.0f);
  EXPECT_EQ(Sinal_ruido(a.get(), a.get()), std::numeric_limits<double>::infinity());
  const auto black = image_of(1, 2, {0, 0});
  EXPECT_TRUE(std::isnan(Sinal_ruido(black.get(), black.get())));
}

TEST(Metrics, ImagesWithoutPixelsGiveZeroThenNotANumber) {
  for (auto [rows, cols] : {std::pair{0, 0}, {0, 4}, {4, 0}}) {
    const testsupport::ImagePtr empty(newimage(rows, cols));
    EXPECT_EQ(Erro(empty.get(), empty.get()), 0.0f);
    EXPECT_TRUE(std::isnan(Erro_medio(empty.get(), empty.get())));
    EXPECT_TRUE(std::isnan(Sinal_ruido(empty.get(), empty.get())));
  }
}

TEST(Metrics, SumsAreRoundedToSinglePrecisionAfterEveryAddition) {
  // 1000 differences of 255: the exact total 65025000 lies past 2^24, where a float's step is 4
  // or 8, so the rounded running sum drifts from it.
  const auto white = image_of(1, 1000, std::vector<int>(1000, 255));
  const auto black = image_of(1, 1000, std::vector<int>(1000, 0));
  float expected = 0;
  for (int i = 0; i < 1000; ++i) {
    expected += 65025.0f;
  }
  ASSERT_NE(expected, 65025000.0f);
  EXPECT_EQ(Erro(white.get(), black.get()), expected);
  EXPECT_EQ(
      Erro_medio(white.get(), black.get()),
      static_cast<float>(std::sqrt(static_cast<double>(static_cast<float>(expected / 1000.0)))));
  EXPECT_EQ(Sinal_ruido(black.get(), white.get()), 1.0);
}

TEST(Metrics, WalkOnlyTheFirstImagesSize) {
  const auto small = image_of(1, 1, {10});
  const auto large = image_of(2, 2, {13, 200, 200, 200});
  EXPECT_EQ(Erro(small.get(), large.get()), 9.0f);
}
