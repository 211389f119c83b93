// funcao_exe run as a real process: exit statuses, both streams and the output file's bytes.
#include <cmath>
#include <cstdlib>

#include "support.h"

using testsupport::RunResult;
using testsupport::slurp;

namespace {

const std::string kExe = FUNCAO_EXE;
const std::string kUsage =
    "Usage: funcao_exe <image> <output> <white points percentage> <image points percentage>\n";

std::string description(const char* density, const char* white, const char* black) {
  return std::string("Ruido impulsivo com ") + density + " % de pontos da imagem\n " + white +
         " % compostos de pontos brancos\n " + black + " % compostos de pontos pretos\n";
}

std::string success(const std::string& output) {
  return "SUCESSO!\nO arquivo se encontra em '" + output + "'.\n";
}

class CommandTest : public testsupport::TempDirTest {
 protected:
  RunResult noise(const std::string& input, const std::string& white, const std::string& density,
                  bool merged = false) {
    return run(kExe, {input, "out.pgm", white, density}, merged);
  }
  bool output_exists() const { return std::filesystem::exists(dir_ / "out.pgm"); }
  std::string output() const { return slurp(dir_ / "out.pgm"); }
};

}  // namespace

TEST_F(CommandTest, FewerThanFourArgumentsPrintUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"a"}, {"a", "b", "30"}}) {
    const RunResult r = run(kExe, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(CommandTest, DensityZeroRewritesTheInputAsP2WithItsOrigin) {
  file("in.pgm", std::string("#origin 3 5\nP5 2 2 255\n\x01\xff\x00\x80", 28));
  const RunResult r = noise("in.pgm", "100", "0");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, description("0.0", "100.0", "0.0") + success("out.pgm"));
  EXPECT_EQ(r.err, "\nPBM file class 5 size 2 columns X 2 rows Max=255\n");
  EXPECT_EQ(output(), "P2\n#origin 3 5\n2 2 255\n1 255 \n0 128 \n\n");
}

TEST_F(CommandTest, BitmapKeepsItsValuesAndGainsFullRangeNoise) {
  file("in.pbm", "P1\n4 1\n0 1 1 0\n");
  EXPECT_EQ(noise("in.pbm", "50", "0").status, 0);
  EXPECT_EQ(output(), "P2\n#origin 0 0\n4 1 255\n0 1 1 0 \n\n");
  EXPECT_EQ(noise("in.pbm", "100", "100").status, 0);
  EXPECT_EQ(output().substr(23), "255 255 1 255 \n\n");  // four white draws, one repeated
}

TEST_F(CommandTest, AcceptsHundredAndValuesThatRoundToIt) {
  file("in.pgm", "P2 1 1 255\n7\n");
  const RunResult r = noise("in.pgm", "100.000001", "100%", false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, description("100.0", "100.0", "0.0") + success("out.pgm"));
  EXPECT_EQ(output(), "P2\n#origin 0 0\n1 1 255\n255 \n\n");
}

#ifdef __GLIBC__
// Replays glibc's own rand() with the placement formula in long double arithmetic.
TEST_F(CommandTest, NoiseLandsWhereGlibcRandPlacesItAndInputIsUnchanged) {
  const int size = 100;
  std::string input = "P5 100 100 255\n" + std::string(size * size, '\x80');
  const std::string path = file("in.pgm", input);
  const RunResult r = run(kExe, {"in.pgm", "out.pgm", "30", "10", "ignored", "extra"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(slurp(path), input);

  std::vector<int> expected(size * size, 128);
  std::srand(1);
  auto draw = [] { return static_cast<int>(std::floor(std::rand() * 100.0L / 2147483648.0L)); };
  for (int i = 0; i < 300 + 699; ++i) {
    const int row = draw();
    const int col = draw();
    expected[row * size + col] = i < 300 ? 255 : 0;
  }
  std::istringstream text(output().substr(output().find("255\n") + 4));
  for (int i = 0; i < size * size; ++i) {
    int value = -1;
    text >> value;
    ASSERT_EQ(value, expected[i]) << "pixel " << i;
  }
}
#endif

TEST_F(CommandTest, RunsAreReproducible) {
  const std::string coins = EXAMPLES_DIR "/coins.pgm";
  ASSERT_EQ(run(kExe, {coins, "a.pgm", "30", "10"}).status, 0);
  ASSERT_EQ(run(kExe, {coins, "b.pgm", "30", "10"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "a.pgm"), slurp(dir_ / "b.pgm"));
  EXPECT_EQ(slurp(dir_ / "a.pgm").substr(0, 27), "P2\n#origin 0 0\n384 303 255\n");
}

TEST_F(CommandTest, MalformedFilesAreRefusedCleanly) {
  std::vector<std::string> paths{TEST_DATA_DIR "/realfiles/negative_size.ppm",
                                 TEST_DATA_DIR "/realfiles/courB08.pbm"};
  for (const auto& entry : std::filesystem::directory_iterator(TEST_DATA_DIR "/malformed")) {
    if (entry.path().extension() != ".md") {
      paths.push_back(entry.path().string());
    }
  }
  for (const std::string& path : paths) {
    const RunResult r = noise(path, "30", "10");
    EXPECT_EQ(r.status, 2) << path;
    const std::string last = "No input image ('" + path + "')\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), last.size())), last) << path;
    EXPECT_FALSE(output_exists()) << path;
  }
}
