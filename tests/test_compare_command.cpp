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
  for (const auto& args : {std::vector<std::string>{},
                           {"a"},
                           {"a", "b", "c"},
                           {"--noisy"},
                           {"--noisy", "a", "b"},
                           {"--noisy=n", "a"}}) {
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

namespace {

// A rows x cols P2 image of a simple hash of each position, different for each salt.
std::string hashed_image(int rows, int cols, unsigned salt) {
  std::string text = "P2 " + std::to_string(cols) + " " + std::to_string(rows) + " 255\n";
  unsigned state = salt;
  for (int i = 0; i < rows * cols; ++i) {
    state = state * 1103515245u + 12345u;
    text += std::to_string((state >> 16) % 256) + " ";
  }
  return text + "\n";
}

}  // namespace

// MAE and IEF as numpy computes them from the same files, digit for digit.
TEST_F(CompareCommandTest, MaeAndIefAgreeWithNumpy) {
  if (run("/usr/bin/python3", {"-c", "import numpy"}).status != 0) {
    GTEST_SKIP() << "no /usr/bin/python3 with numpy";
  }
  const std::string a = file("a.pgm", hashed_image(37, 53, 1));
  const std::string b = file("b.pgm", hashed_image(37, 53, 2));
  const std::string noisy = file("noisy.pgm", hashed_image(37, 53, 3));
  const RunResult ours = compare({"--noisy", noisy, a, b});
  ASSERT_EQ(ours.status, 0);
  const std::string script =
      "import sys, numpy as np\n"
      "def read(path):\n"
      "    words = open(path).read().split()\n"
      "    cols, rows = int(words[1]), int(words[2])\n"
      "    return np.array(words[4:], dtype=np.int64).reshape(rows, cols)\n"
      "a, b, n = (read(p) for p in sys.argv[1:4])\n"
      "print('MAE %.17g' % (np.abs(a - b).sum() / a.size))\n"
      "print('IEF %.17g' % (float(((n - b) ** 2).sum()) / float(((a - b) ** 2).sum())))\n";
  const RunResult numpy = run("/usr/bin/python3", {"-c", script, a, b, noisy});
  ASSERT_EQ(numpy.status, 0) << numpy.err;
  EXPECT_EQ(ours.out.substr(ours.out.find("MAE ")), numpy.out);
}

// The first image equal to the reference: inf, or nan when the noisy one is equal too.
TEST_F(CompareCommandTest, IefOfAPerfectFilterIsInfiniteAndOfNoNoiseNotANumber) {
  const std::string a = file("a.pgm", hashed_image(3, 4, 1));
  const std::string noisy = file("noisy.pgm", hashed_image(3, 4, 2));
  const RunResult perfect = compare({"--noisy=" + noisy, a, a});
  EXPECT_EQ(perfect.status, 0);
  EXPECT_EQ(perfect.out.substr(perfect.out.find("MAE ")), "MAE 0\nIEF inf\n");
  const RunResult none = compare({"--noisy", a, a, a});
  EXPECT_EQ(none.out.substr(none.out.find("MAE ")), "MAE 0\nIEF nan\n");
}

TEST_F(CompareCommandTest, HelpAndVersionPrintOnStandardOutputAndSucceed) {
  for (const char* option : {"--help", "-h"}) {
    const RunResult result = compare({option});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(
        result.out.rfind("Usage: pnm_compare [--noisy <noisy image>] <image a> <image b>\n", 0),
        0u);
    EXPECT_NE(result.out.find("man pnm_compare"), std::string::npos);
  }
  const RunResult version = compare({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "pnm_compare " IMAGENOISE_VERSION "\n");
}

TEST_F(CompareCommandTest, PngImagesMeasureAsTheirPnmCopies) {
  if (!programs_have_png()) {
    GTEST_SKIP() << "this build has no PNG";
  }
  ASSERT_EQ(run(FUNCAO_EXE, {coins(), "noisy.pgm", "30", "10"}).status, 0);
  ASSERT_EQ(run(FUNCAO_EXE, {coins(), "noisy.png", "30", "10"}).status, 0);
  ASSERT_EQ(run(FUNCAO_EXE, {coins(), "clean.png", "30", "0"}).status, 0);
  EXPECT_EQ(compare({"noisy.png", "clean.png"}).out, compare({"noisy.pgm", coins()}).out);
}
