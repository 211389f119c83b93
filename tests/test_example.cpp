// The README's library example is this repository's examples/library_example.cpp, built and run.
#include "support.h"

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
  const std::string source = slurp(std::string(EXAMPLES_DIR) + "/library_example.cpp");
  ASSERT_FALSE(source.empty());
  EXPECT_NE(slurp(README_PATH).find("```cpp\n" + source + "```\n"), std::string::npos);
}
