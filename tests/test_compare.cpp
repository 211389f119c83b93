#include "noise/compare.h"
#include "support.h"

using testsupport::image_of;
using testsupport::RunResult;

TEST(Compare, ReportsEveryMeasureWithRoundTripDigits) {
  const auto ten = image_of(1, 1, {10});
  const auto thirteen = image_of(1, 1, {13});
  EXPECT_EQ(format_comparison(compare_images(ten.get(), thirteen.get())),
            "Erro 9\nErro_medio 3\nSinal_ruido 18.777777777777779\n"
            "PSNR 38.588378514285857 dB\n");
}

TEST(Compare, NonFiniteValuesPrintWithoutSign) {
  const auto black = image_of(1, 1, {0});
  EXPECT_EQ(format_comparison(compare_images(black.get(), black.get())),
            "Erro 0\nErro_medio 0\nSinal_ruido nan\nPSNR inf dB\n");
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
            "PSNR 16.175367105665405 dB\n");
}

TEST_F(CompareCommandTest, IdenticalImagesHaveInfiniteRatios) {
  const RunResult result = compare({coins(), coins()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Erro 0\nErro_medio 0\nSinal_ruido inf\nPSNR inf dB\n");
}

TEST_F(CompareCommandTest, EmptyImagesGiveNotANumber) {
  const std::string empty = file("empty.pgm", "P2 0 3 255\n");
  const RunResult result = compare({empty, empty});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Erro 0\nErro_medio nan\nSinal_ruido nan\nPSNR nan dB\n");
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
