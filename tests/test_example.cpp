// SPDX-License-Identifier: MIT
// The README's library examples are this repository's examples/*.cpp, built and run.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "support.h"

using testsupport::RunResult;
using testsupport::slurp;

class LibraryExampleTest : public testsupport::TempDirTest {};

TEST_F(LibraryExampleTest, RunsAndWritesTheNoisyCopy) {
  const auto result = run(LIBRARY_EXAMPLE, {std::string(EXAMPLES_DIR) + "/coins.pgm"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "RMS error 31.487, signal/noise 12.28\n");
  Image* noisy = Input_PBM((dir_ / "noisy.pgm").c_str());
  ASSERT_NE(noisy, nullptr);
  EXPECT_EQ(noisy->dims->cols, 384);
  freeimage(noisy);
}

TEST(LibraryExample, IsQuotedWordForWordInTheReadme) {
  for (const char* name : {"library_example.cpp", "median_filter.cpp"}) {
    std::string source = slurp(std::string(EXAMPLES_DIR) + "/" + name);
    ASSERT_FALSE(source.empty()) << name;
    // The README quotes the program, not its licence line.
    const std::string licence = "// SPDX-License-Identifier: MIT\n";
    if (source.rfind(licence, 0) == 0) {
      source.erase(0, licence.size());
    }
    EXPECT_NE(slurp(README_PATH).find("```cpp\n" + source + "```\n"), std::string::npos) << name;
  }
}

TEST_F(LibraryExampleTest, MedianFilterRemovesIsolatedImpulsesAndRepeatsTheEdges) {
  file("in.pgm", "P2 4 3 255\n10 10 10 10\n10 255 10 10\n10 10 0 10\n");
  EXPECT_EQ(run(MEDIAN_FILTER, {"in.pgm", "out.pgm"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "out.pgm"),
            "P2\n#origin 0 0\n4 3 255\n10 10 10 10 \n10 10 10 10 \n10 10 10 10 \n\n");
  file("ramp.pgm", "P2 3 1 255\n0 5 9\n");
  EXPECT_EQ(run(MEDIAN_FILTER, {"ramp.pgm", "out.pgm"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "out.pgm"), "P2\n#origin 0 0\n3 1 255\n0 5 9 \n\n");
  EXPECT_EQ(run(MEDIAN_FILTER, {"in.pgm"}).status, 1);
  EXPECT_EQ(run(MEDIAN_FILTER, {"missing.pgm", "out.pgm"}).status, 2);
}

// The README's workflow, row by row as the commands give it today: an exact, seeded noisy copy
// with its mask, filtered, measured before and after against the clean photograph.
TEST_F(LibraryExampleTest, ReadmeWorkflowTableHoldsTheMeasuredValues) {
  const std::string readme = slurp(README_PATH);
  const std::string header =
      "| density | seed | corrupted (%) | PSNR noisy (dB) | SSIM noisy | MAE noisy | PSNR filtered "
      "(dB) | SSIM filtered | MAE filtered | IEF |\n"
      "|---|---|---|---|---|---|---|---|---|---|\n";
  const size_t start = readme.find(header);
  ASSERT_NE(start, std::string::npos);
  std::istringstream rows(readme.substr(start + header.size()));
  const std::string coins = std::string(EXAMPLES_DIR) + "/coins.pgm";
  // The value on the line that starts with name, or -1 without one.
  auto value = [](const std::string& out, const std::string& name) {
    const size_t at = out.find("\n" + name + " ");
    return at == std::string::npos ? -1 : std::strtod(out.c_str() + at + name.size() + 2, nullptr);
  };
  auto fixed = [](double v, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return std::string(text);
  };
  ASSERT_EQ(run(FUNCAO_EXE, {"--exact", coins, "black.pgm", "0", "100"}).status, 0);
  int checked = 0;
  for (std::string row; std::getline(rows, row) && row.rfind("| ", 0) == 0; ++checked) {
    std::istringstream fields(row);
    std::string bar;
    std::string density;
    std::string percent;
    std::string seed;
    fields >> bar >> density >> percent >> bar >> seed;
    ASSERT_EQ(run(FUNCAO_EXE, {"--exact", "--seed", seed, "--mask", "mask.pgm", coins, "noisy.pgm",
                               "50", density})
                  .status,
              0);
    ASSERT_EQ(run(MEDIAN_FILTER, {"noisy.pgm", "filtered.pgm"}).status, 0);
    const std::string mask = "\n" + run(PNM_COMPARE, {"mask.pgm", "black.pgm"}).out;
    const std::string noisy = "\n" + run(PNM_COMPARE, {"noisy.pgm", coins}).out;
    const std::string filtered =
        "\n" + run(PNM_COMPARE, {"--noisy", "noisy.pgm", "filtered.pgm", coins}).out;
    const std::string expected =
        "| " + density + " % | " + seed + " | " + fixed(value(mask, "MAE") / 255 * 100, 2) + " | " +
        fixed(value(noisy, "PSNR"), 2) + " | " + fixed(value(noisy, "SSIM"), 4) + " | " +
        fixed(value(noisy, "MAE"), 2) + " | " + fixed(value(filtered, "PSNR"), 2) + " | " +
        fixed(value(filtered, "SSIM"), 4) + " | " + fixed(value(filtered, "MAE"), 2) + " | " +
        fixed(value(filtered, "IEF"), 2) + " |";
    EXPECT_EQ(row, expected);
  }
  EXPECT_EQ(checked, 9);
}
