// SPDX-License-Identifier: MIT
// pnm_compare run as a process: its report, its usage line and its refusals.
#include <string>
#include <vector>

#include "support.h"

using testsupport::RunResult;

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
            "PSNR 16.175288467324904 dB\nMSE 1568.741964040154\nSSIM 0.29000016730215422\n"
            "MAE 10.833445063256326\n");
}

TEST_F(CompareCommandTest, IdenticalImagesHaveInfiniteRatios) {
  const RunResult result = compare({coins(), coins()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Erro 0\nErro_medio 0\nSinal_ruido inf\nPSNR inf dB\nMSE 0\nSSIM 1\nMAE 0\n");
}

TEST_F(CompareCommandTest, EmptyImagesGiveNotANumber) {
  const std::string empty = file("empty.pgm", "P2 0 3 255\n");
  const RunResult result = compare({empty, empty});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Erro 0\nErro_medio nan\nSinal_ruido nan\nPSNR nan dB\nMSE nan\nSSIM nan\nMAE nan\n");
}

TEST_F(CompareCommandTest, WrongArgumentCountPrintsUsage) {
  for (const auto& args : {std::vector<std::string>{}, {"a"}, {"a", "b", "c"}}) {
    const RunResult result = compare(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Usage: pnm_compare [--noisy <noisy image>] <image a> <image b>\n");
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
