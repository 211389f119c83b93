// SPDX-License-Identifier: MIT
// funcao_exe run as a real process: exit statuses, both streams and the output file's bytes.
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "noise/command.h"
#include "noise/impulse.h"
#include "support.h"

using testsupport::RunResult;
using testsupport::slurp;

namespace {

const std::string kExe = testsupport::program(FUNCAO_EXE);
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
// Replays glibc's own rand() with the placement formula in long double arithmetic, unseeded and
// after srand(7).
TEST_F(CommandTest, NoiseLandsWhereGlibcRandPlacesItAndInputIsUnchanged) {
  const int size = 100;
  std::string input = "P5 100 100 255\n" + std::string(size * size, '\x80');
  const std::string path = file("in.pgm", input);
  for (const unsigned seed : {1u, 7u}) {
    std::vector<std::string> args{"in.pgm", "out.pgm", "30", "10", "ignored", "extra"};
    if (seed != 1) {
      args.insert(args.begin() + 2, {"--seed", std::to_string(seed)});
    }
    const RunResult r = run(kExe, args);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(slurp(path), input);

    std::vector<int> expected(size * size, 128);
    std::srand(seed);
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
      ASSERT_EQ(value, expected[i]) << "seed " << seed << ", pixel " << i;
    }
  }
}
#endif

// File names in the user's language, on every system: Windows programs get their arguments in
// UTF-16 and take paths as UTF-8, as the names this test gives them are. The output is written
// new, then replaced, and pnm_compare reads both names.
TEST_F(CommandTest, PathsInAnyLanguageAreReadWrittenAndNamed) {
  const std::string input =
      "ru\xc3\xad"
      "do-\xc3\xb1.pgm";  // ruído-ñ.pgm
  const std::string output =
      "sa\xc3\xad"
      "da-\xe6\x97\xa5\xe6\x9c\xac.pgm";  // saída-日本.pgm
  file(input, "P2 2 1 255\n7 200\n");
  for (int round = 0; round < 2; ++round) {
    const RunResult r = run(kExe, {input, output, "30", "0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, description("0.0", "30.0", "70.0") + success(output));
    EXPECT_EQ(slurp(dir_ / output), "P2\n#origin 0 0\n2 1 255\n7 200 \n\n");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            2);
  const RunResult compared = run(PNM_COMPARE, {input, output});
  EXPECT_EQ(compared.status, 0);
  EXPECT_EQ(compared.out.substr(0, 7), "Erro 0\n");
}

TEST_F(CommandTest, RunsAreReproducible) {
  const std::string coins = EXAMPLES_DIR "/coins.pgm";
  ASSERT_EQ(run(kExe, {coins, "a.pgm", "30", "10"}).status, 0);
  ASSERT_EQ(run(kExe, {coins, "b.pgm", "30", "10"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "a.pgm"), slurp(dir_ / "b.pgm"));
  EXPECT_EQ(slurp(dir_ / "a.pgm").substr(0, 27), "P2\n#origin 0 0\n384 303 255\n");
}

TEST_F(CommandTest, MalformedFilesAreRefusedCleanly) {
  std::vector<std::string> paths{TEST_DATA_DIR "/realfiles/negative_size.ppm"};
  if (!programs_have_png()) {
    // A PNG file under a PNM name: read by its content where the build has PNG.
    paths.push_back(TEST_DATA_DIR "/realfiles/courB08.pbm");
  }
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

TEST(ReadArguments, SeedOptionsAndTheirEnd) {
  struct Case {
    std::vector<std::string> args;
    ArgumentsStatus status;
    uint32_t seed;
    std::string first;  // the input path, or the refused seed text
  };
  const std::vector<Case> cases{
      {{"in", "out", "30", "10"}, ArgumentsStatus::ok, 1, "in"},
      {{"--seed", "7", "in", "out", "30", "10"}, ArgumentsStatus::ok, 7, "in"},
      {{"in", "--seed=007", "out", "30", "10", "x"}, ArgumentsStatus::ok, 7, "in"},
      {{"in", "--seed", "2", "out", "30", "10", "--seed", "4294967295"},
       ArgumentsStatus::ok,
       4294967295u,
       "in"},
      {{"--seed", "00000000000000000000004294967295", "in", "o", "1", "2"},
       ArgumentsStatus::ok,
       4294967295u,
       "in"},
      {{"--", "--seed", "out", "30", "10"}, ArgumentsStatus::ok, 1, "--seed"},
      {{"--seed=0", "--", "--", "out", "30", "10"}, ArgumentsStatus::ok, 0, "--"},
      {{"--seedling", "out", "30", "10"}, ArgumentsStatus::ok, 1, "--seedling"},
      {{"--seed", "--", "in", "out", "30", "10"}, ArgumentsStatus::bad_seed, 0, "--"},
      {{"in", "out", "30", "10", "--seed="}, ArgumentsStatus::bad_seed, 0, ""},
      {{"--seed", "-1", "in", "out", "30", "10"}, ArgumentsStatus::bad_seed, 0, "-1"},
      {{"--seed", "+1", "in", "out", "30", "10"}, ArgumentsStatus::bad_seed, 0, "+1"},
      {{"--seed", "1.0", "in", "out", "30", "10"}, ArgumentsStatus::bad_seed, 0, "1.0"},
      {{"--seed", " 1", "in", "out", "30", "10"}, ArgumentsStatus::bad_seed, 0, " 1"},
      {{"--seed", "4294967296", "in", "o", "1", "2"}, ArgumentsStatus::bad_seed, 0, "4294967296"},
      {{"--seed", "/tmp/x", "in", "o", "1", "2"}, ArgumentsStatus::bad_seed, 0, "/tmp/x"},
      {{"--seed=x", "--seed", "y"}, ArgumentsStatus::bad_seed, 0, "x"},
      {{"--seed", "5", "in", "out", "30"}, ArgumentsStatus::too_few, 0, ""},
      {{"in", "out", "30", "--seed"}, ArgumentsStatus::too_few, 0, ""},
      {{"in", "out", "30", "10", "--seed"}, ArgumentsStatus::too_few, 0, ""},
      {{"in", "out", "--", "30"}, ArgumentsStatus::too_few, 0, ""},
      {{"--exact", "--mask", "m.pgm", "--impulse", "random", "in", "o", "1", "2"},
       ArgumentsStatus::ok,
       1,
       "in"},
      {{"--", "--exact", "o", "1", "2"}, ArgumentsStatus::ok, 1, "--exact"},
      {{"--mask", "-", "in", "o", "1", "2"}, ArgumentsStatus::bad_mask, 0, ""},
      {{"--mask=-", "in", "o", "1", "2"}, ArgumentsStatus::bad_mask, 0, ""},
      {{"in", "o", "1", "2", "--mask"}, ArgumentsStatus::too_few, 0, ""},
      {{"in", "o", "1", "2", "--impulse"}, ArgumentsStatus::too_few, 0, ""},
      {{"--impulse", "Random", "in", "o", "1", "2"}, ArgumentsStatus::bad_impulse, 0, "Random"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"funcao_exe"};
    std::string shown;
    for (const std::string& a : c.args) {
      argv.push_back(a.c_str());
      shown += " '" + a + "'";
    }
    NoiseArguments arguments{};
    const ArgumentsStatus status =
        read_arguments(static_cast<int>(argv.size()), argv.data(), &arguments);
    ASSERT_EQ(status, c.status) << shown;
    if (status == ArgumentsStatus::ok) {
      EXPECT_EQ(arguments.seed, c.seed) << shown;
      EXPECT_EQ(arguments.input_path, c.first) << shown;
    } else if (status == ArgumentsStatus::bad_seed) {
      EXPECT_EQ(arguments.bad_seed, c.first) << shown;
    } else if (status == ArgumentsStatus::bad_impulse) {
      EXPECT_EQ(arguments.bad_impulse, c.first) << shown;
    }
  }
}

TEST(PercentageText, OneDecimalAndTheSignOfNotANumber) {
  EXPECT_EQ(percentage_text(12.25), "12.2");
  EXPECT_EQ(percentage_text(-0.0), "-0.0");
  EXPECT_EQ(percentage_text(static_cast<double>(-FLT_MAX)),
            "-340282346638528859811704183484516925440.0");
  EXPECT_EQ(percentage_text(-INFINITY), "-inf");
  EXPECT_EQ(percentage_text(std::nan("")), "nan");
  EXPECT_EQ(percentage_text(-std::nan("")), "-nan");
}

TEST_F(CommandTest, InvalidSeedIsRefusedBeforeTheArgumentCountAndTheInput) {
  for (const auto& [args, text] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--seed", "-3", "missing.pgm", "out.pgm", "30", "10"}, "-3"},
           {{"--seed=1e3"}, "1e3"}}) {
    const RunResult r = run(kExe, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Invalid seed '" + text + "': give a whole number from 0 to 4294967295.\n");
    EXPECT_EQ(r.err, "");
  }
  const RunResult dangling = run(kExe, {"in.pgm", "out.pgm", "30", "--seed"});
  EXPECT_EQ(dangling.status, 1);
  EXPECT_EQ(dangling.out, kUsage);
}

// Seeds 0 and 1 are the default sequence; other seeds are other realisations, and the library
// call with a seed changes an image in memory exactly as the command changes its copy.
TEST_F(CommandTest, SeedsGiveRealisationsThatTheLibraryCallReproduces) {
  const std::string coins = EXAMPLES_DIR "/coins.pgm";
  ASSERT_EQ(run(kExe, {coins, "default.pgm", "30", "10"}).status, 0);
  ASSERT_EQ(run(kExe, {"--seed=0", coins, "zero.pgm", "30", "10"}).status, 0);
  ASSERT_EQ(run(kExe, {coins, "two.pgm", "--seed", "2", "30", "10"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "zero.pgm"), slurp(dir_ / "default.pgm"));
  EXPECT_NE(slurp(dir_ / "two.pgm"), slurp(dir_ / "default.pgm"));

  for (const uint32_t seed : {1u, 2u}) {
    Image* image = Input_PBM(coins.c_str());
    ASSERT_NE(image, nullptr);
    const ImpulseCounts counts = add_impulse_noise(image, 30, 10, seed);
    EXPECT_EQ(counts.white, 3490);
    EXPECT_EQ(counts.black, 8144);
    const std::string path = (dir_ / "library.pgm").string();
    Output_PBM(image, path.c_str());
    freeimage(image);
    EXPECT_EQ(slurp(path), slurp(dir_ / (seed == 1 ? "default.pgm" : "two.pgm"))) << seed;
  }
}

TEST(ReadArguments, ImpulseOptionsAreKeptWithThePositionalArguments) {
  const std::vector<const char*> argv{"funcao_exe", "--mask=m.pgm", "--impulse=random",
                                      "--exact",    "--impulse",    "fixed",
                                      "in",         "out",          "30",
                                      "10"};
  NoiseArguments arguments{};
  ASSERT_EQ(read_arguments(static_cast<int>(argv.size()), argv.data(), &arguments),
            ArgumentsStatus::ok);
  EXPECT_STREQ(arguments.mask_path, "m.pgm");
  EXPECT_TRUE(arguments.exact);
  EXPECT_EQ(arguments.impulse, ImpulseKind::fixed);  // the last one counts
  EXPECT_STREQ(arguments.density_text, "10");
  const ImpulseOptions options = impulse_options(arguments);
  EXPECT_TRUE(options.exact);
  EXPECT_EQ(options.mask, nullptr);
}

// The mask is the ground truth of the noisy output: the same size and origin, 255 exactly where
// the counts' points landed; every pixel outside it is the input's. Both replace older files.
TEST_F(CommandTest, ExactRunWritesTheMaskOfItsPointsBesideTheOutput) {
  std::string input = "P2\n#origin 2 -3\n20 10 255\n";
  for (int i = 0; i < 200; ++i) {
    input += i % 7 == 0 ? "255 " : i % 11 == 0 ? "0 " : "90 ";
  }
  file("in.pgm", input);
  file("out.pgm", "old output\n");
  file("mask.pgm", "old mask\n");
  const RunResult r = run(kExe, {"--exact", "--mask", "mask.pgm", "in.pgm", "out.pgm", "25", "40"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, description("40.0", "25.0", "75.0") + success("out.pgm"));
  Image* original = Input_PBM((dir_ / "in.pgm").string().c_str());
  Image* noisy = Input_PBM((dir_ / "out.pgm").string().c_str());
  Image* mask = Input_PBM((dir_ / "mask.pgm").string().c_str());
  ASSERT_NE(original, nullptr);
  ASSERT_NE(noisy, nullptr);
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(slurp(dir_ / "mask.pgm").substr(0, 26), "P2\n#origin 2 -3\n20 10 255\n");
  const std::vector<int> before = testsupport::pixels_of(original);
  const std::vector<int> after = testsupport::pixels_of(noisy);
  const std::vector<int> marked = testsupport::pixels_of(mask);
  int white = 0;
  int black = 0;
  for (size_t i = 0; i < marked.size(); ++i) {
    ASSERT_TRUE(marked[i] == 0 || marked[i] == 255) << i;
    if (marked[i] == 0) {
      EXPECT_EQ(after[i], before[i]) << i;
    } else {
      white += after[i] == 255 ? 1 : 0;
      black += after[i] == 0 ? 1 : 0;
    }
  }
  EXPECT_EQ(white, 20);  // 25 % of 80 points
  EXPECT_EQ(black, 60);
  EXPECT_EQ(std::count(marked.begin(), marked.end(), 255), 80);
  freeimage(original);
  freeimage(noisy);
  freeimage(mask);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in.pgm", "mask.pgm", "out.pgm"}));
}

// Without --exact the mask holds every position drawn, fewer than the points where one repeats.
TEST_F(CommandTest, PlainRunsMaskEveryPositionTheyDraw) {
  std::string flat = "P2 4 4 255\n";
  for (int i = 0; i < 16; ++i) {
    flat += "128 ";
  }
  file("in.pgm", flat);
  ASSERT_EQ(run(kExe, {"--mask=mask.pgm", "in.pgm", "out.pgm", "50", "100"}).status, 0);
  ASSERT_EQ(run(kExe, {"in.pgm", "plain.pgm", "50", "100"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "out.pgm"), slurp(dir_ / "plain.pgm"));  // the mask changes nothing
  Image* noisy = Input_PBM((dir_ / "out.pgm").string().c_str());
  Image* mask = Input_PBM((dir_ / "mask.pgm").string().c_str());
  ASSERT_NE(noisy, nullptr);
  ASSERT_NE(mask, nullptr);
  const std::vector<int> after = testsupport::pixels_of(noisy);
  const std::vector<int> marked = testsupport::pixels_of(mask);
  for (size_t i = 0; i < marked.size(); ++i) {
    EXPECT_EQ(marked[i] == 255, after[i] != 128) << i;  // every hit on grey shows
  }
  freeimage(noisy);
  freeimage(mask);
}

// Random-valued impulses: one description line for the values, the white share read and checked
// but otherwise ignored; --exact makes the points' positions distinct.
TEST_F(CommandTest, RandomImpulsesDescribeTheirValuesAndIgnoreTheWhiteShare) {
  std::string flat = "P2 10 10 255\n";
  for (int i = 0; i < 100; ++i) {
    flat += "7 ";
  }
  file("in.pgm", flat);
  const RunResult r = run(kExe, {"--impulse", "random", "in.pgm", "out.pgm", "30", "10"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Ruido impulsivo com 10.0 % de pontos da imagem\n 100.0 % compostos de valores "
            "aleatorios\n" +
                success("out.pgm"));
  ASSERT_EQ(run(kExe, {"--impulse=random", "in.pgm", "other.pgm", "-40", "10"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "other.pgm"), output());
  EXPECT_EQ(run(kExe, {"--impulse=random", "in.pgm", "out.pgm", "101", "10"}).out, "Burro!!!\n");
  ASSERT_EQ(run(kExe, {"--impulse=random", "--exact", "--mask", "m.pgm", "in.pgm", "out.pgm", "30",
                       "100"})
                .status,
            0);
  Image* mask = Input_PBM((dir_ / "m.pgm").string().c_str());
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(testsupport::pixels_of(mask), std::vector<int>(100, 255));  // every pixel, once
  freeimage(mask);
}

TEST(ReadArguments, FormatQuietHelpAndVersionOptions) {
  struct Case {
    std::vector<std::string> args;
    ArgumentsStatus status;
    bool format_given;
    ImageFormat format;
    bool quiet;
  };
  const std::vector<Case> cases{
      {{"in", "out.png", "30", "10"}, ArgumentsStatus::ok, false, ImageFormat::p2, false},
      {{"--format", "p5", "in", "out", "30", "10"},
       ArgumentsStatus::ok,
       true,
       ImageFormat::p5,
       false},
      {{"--format=png", "--quiet", "in", "o", "1", "2"},
       ArgumentsStatus::ok,
       true,
       ImageFormat::png,
       true},
      {{"--format", "png", "--format=p2", "in", "o", "1", "2"},
       ArgumentsStatus::ok,
       true,
       ImageFormat::p2,
       false},
      {{"--", "--quiet", "o", "1", "2"}, ArgumentsStatus::ok, false, ImageFormat::p2, false},
      {{"--format", "PNG", "in", "o", "1", "2"},
       ArgumentsStatus::bad_format,
       false,
       ImageFormat::p2,
       false},
      {{"--format=", "in", "o", "1", "2"},
       ArgumentsStatus::bad_format,
       false,
       ImageFormat::p2,
       false},
      {{"in", "o", "1", "--format"}, ArgumentsStatus::too_few, false, ImageFormat::p2, false},
      {{"-h"}, ArgumentsStatus::help, false, ImageFormat::p2, false},
      {{"in", "o", "1", "2", "--help", "--seed=x"},
       ArgumentsStatus::help,
       false,
       ImageFormat::p2,
       false},
      {{"--version", "--help"}, ArgumentsStatus::version, false, ImageFormat::p2, false},
      {{"--", "-h", "o", "1", "2"}, ArgumentsStatus::ok, false, ImageFormat::p2, false},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"funcao_exe"};
    std::string shown;
    for (const std::string& a : c.args) {
      argv.push_back(a.c_str());
      shown += " '" + a + "'";
    }
    NoiseArguments arguments{};
    ASSERT_EQ(read_arguments(static_cast<int>(argv.size()), argv.data(), &arguments), c.status)
        << shown;
    if (c.status == ArgumentsStatus::ok) {
      EXPECT_EQ(arguments.format_given, c.format_given) << shown;
      EXPECT_EQ(arguments.format, c.format) << shown;
      EXPECT_EQ(arguments.quiet, c.quiet) << shown;
    }
  }
}

TEST_F(CommandTest, HelpAndVersionPrintOnStandardOutputAndSucceed) {
  for (const char* option : {"--help", "-h"}) {
    const RunResult r = run(kExe, {option});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, kUsage.size()), kUsage);
    for (const char* named : {"--seed", "--format p2|p5|png", "--quiet", "--version", "Exit status",
                              "man funcao_exe"}) {
      EXPECT_NE(r.out.find(named), std::string::npos) << named;
    }
    EXPECT_EQ(r.err, "");
  }
  const RunResult version = run(kExe, {"--version", "in", "out", "1", "2"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "funcao_exe " IMAGENOISE_VERSION "\n");
}

TEST_F(CommandTest, BadFormatIsRefusedBeforeTheInput) {
  const RunResult r = run(kExe, {"--format", "gif", "missing.pgm", "out.gif", "30", "10"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Unknown format 'gif': give p2, p5 or png.\n");
}

TEST_F(CommandTest, QuietLeavesOutTheDescriptionAndSuccessLinesOnly) {
  file("in.pgm", "P2 2 1 255\n1 2\n");
  const RunResult quiet = run(kExe, {"--quiet", "in.pgm", "out.pgm", "30", "0"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "\nPBM file class 2 size 2 columns X 1 rows Max=255\n");
  EXPECT_EQ(output(), "P2\n#origin 0 0\n2 1 255\n1 2 \n\n");
  const RunResult refused = run(kExe, {"--quiet", "in.pgm", "out.pgm", "300", "0"});
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.out, "Burro!!!\n");
}

// Without --format, only a name ending in .png (any case) changes the output: to PNG where the
// build has it. --format holds over the name.
TEST_F(CommandTest, OutputFormatFollowsTheOptionThenTheName) {
  file("in.pgm", "P2\n#origin 4 -2\n3 2 255\n1 2 3\n4 5 6\n");
  const std::string p2 = "P2\n#origin 4 -2\n3 2 255\n1 2 3 \n4 5 6 \n\n";
  const std::string p5 = std::string("P5\n#origin 4 -2\n3 2 255\n\x01\x02\x03\x04\x05\x06");
  const std::string png_magic = std::string(testsupport::kPngSignature, 8);
  const bool png = programs_have_png();
  struct Case {
    std::vector<std::string> options;
    std::string output;
    std::string starts;
  };
  const std::vector<Case> cases{
      {{}, "out.pgm", p2},
      {{}, "out.txt", p2},
      {{}, "out.png", png ? png_magic : p2},
      {{}, "UPPER.PNG", png ? png_magic : p2},
      {{}, "out.png.pgm", p2},
      {{"--format", "p2"}, "out.png", p2},
      {{"--format=p5"}, "out.png", p5},
      {{"--format", "p5"}, "out.pgm", p5},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"in.pgm", c.output, "30", "0"});
    const RunResult r = run(kExe, args);
    ASSERT_EQ(r.status, 0) << c.output;
    const std::string bytes = slurp(dir_ / c.output);
    EXPECT_EQ(bytes.substr(0, c.starts.size()), c.starts) << c.output;
    if (c.starts != png_magic) {
      EXPECT_EQ(bytes, c.starts) << c.output;
    }
    Image* image = Input_PBM((dir_ / c.output).string().c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(testsupport::pixels_of(image), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(image->dims->origin_col, 4);
    EXPECT_EQ(image->dims->origin_row, -2);
    freeimage(image);
  }
}

// A user goes from a PNG photograph to a noisy PNG in one command, with the noise a PNM input of
// the same pixels gets.
TEST_F(CommandTest, PngInputToPngOutputCarriesTheSameNoiseAsPnm) {
  if (!programs_have_png()) {
    GTEST_SKIP() << "this build has no PNG";
  }
  std::vector<int> values;
  std::string raw;
  for (int i = 0; i < 40 * 30; ++i) {
    values.push_back(i * 7 % 256);
    raw += static_cast<char>(values.back());
  }
  file("in.png", testsupport::grey_png(30, 40, values));
  file("in.pgm", "P5 40 30 255\n" + raw);
  ASSERT_EQ(run(kExe, {"in.png", "noisy.png", "30", "20"}).status, 0);
  ASSERT_EQ(run(kExe, {"in.pgm", "noisy.pgm", "30", "20"}).status, 0);
  Image* from_png = Input_PBM((dir_ / "noisy.png").string().c_str());
  Image* from_pgm = Input_PBM((dir_ / "noisy.pgm").string().c_str());
  ASSERT_NE(from_png, nullptr);
  ASSERT_NE(from_pgm, nullptr);
  EXPECT_EQ(testsupport::pixels_of(from_png), testsupport::pixels_of(from_pgm));
  EXPECT_NE(testsupport::pixels_of(from_png), values);
  freeimage(from_png);
  freeimage(from_pgm);
}

// A mask beside an output that is standard output, a device or a file that cannot take the image:
// the mask lands only with a whole image, and a mask that cannot be made fails the run with
// nothing replaced.
TEST_F(CommandTest, MaskBesideStreamsDevicesAndFailedFiles) {
  const std::string system = testsupport::program_system();
  if (system == "Windows" || system == "Emscripten" || !std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "uses the shell's redirections and /dev/full";
  }
  file("in.pgm", "P2 3 2 255\n1 2 3 4 5 6\n");
  ASSERT_EQ(run(kExe, {"in.pgm", "plain.pgm", "30", "50"}).status, 0);
  ASSERT_EQ(run(kExe, {"--mask", "plain_mask.pgm", "in.pgm", "other.pgm", "30", "50"}).status, 0);
  const std::string image = slurp(dir_ / "plain.pgm");
  const std::string mask = slurp(dir_ / "plain_mask.pgm");
  for (const char* command : {"exec \"$0\" --mask m.pgm in.pgm - 30 50 >out.pgm",
                              "exec \"$0\" --mask m.pgm in.pgm /dev/stdout 30 50 >out.pgm"}) {
    std::filesystem::remove(dir_ / "m.pgm");
    EXPECT_EQ(run("/bin/sh", {"-c", command, kExe}).status, 0) << command;
    EXPECT_EQ(slurp(dir_ / "out.pgm"), image) << command;
    EXPECT_EQ(slurp(dir_ / "m.pgm"), mask) << command;
  }
  EXPECT_EQ(run(kExe, {"--mask", "m2.pgm", "in.pgm", "/dev/null", "30", "50"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "m2.pgm"), mask);

  file("old.pgm", "old\n");
  file("old_mask.pgm", "old mask\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--mask", "missing/m.pgm", "in.pgm", "old.pgm", "30", "50"},
        std::vector<std::string>{"--mask", "/dev/full", "in.pgm", "old.pgm", "30", "50"},
        std::vector<std::string>{"--mask", "old_mask.pgm", "in.pgm", "missing/o.pgm", "30", "50"},
        std::vector<std::string>{"--mask", "old_mask.pgm", "in.pgm", "/dev/full", "30", "50"}}) {
    const RunResult r = run(kExe, args);
    EXPECT_EQ(r.status, 2) << args[1] << " " << args[3];
    EXPECT_NE(r.err.find("System library ABORT"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir_ / "old.pgm"), "old\n");
    EXPECT_EQ(slurp(dir_ / "old_mask.pgm"), "old mask\n");
  }
}

// The mask's format follows the output's rule, applied to the mask's own name: --format for both,
// else each name's extension.
TEST_F(CommandTest, MaskFollowsTheFormatRuleByItsOwnName) {
  file("in.pgm", "P2 3 2 255\n1 2 3 4 5 6\n");
  ASSERT_EQ(
      run(kExe, {"--format", "p5", "--mask", "m.pgm", "in.pgm", "out.pgm", "30", "50"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "m.pgm").substr(0, 3), "P5\n");
  EXPECT_EQ(slurp(dir_ / "out.pgm").substr(0, 3), "P5\n");
  ASSERT_EQ(run(kExe, {"--mask", "m.png", "in.pgm", "out.pgm", "30", "50"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "out.pgm").substr(0, 3), "P2\n");
  // Without PNG in the build every name gets P2.
  EXPECT_EQ(slurp(dir_ / "m.png").substr(0, 4), programs_have_png() ? "\x89PNG" : "P2\n#");
}

TEST_F(CommandTest, PngFormatWithoutPngIsRefusedBeforeTheInput) {
  if (programs_have_png()) {
    GTEST_SKIP() << "this build has PNG";
  }
  const RunResult r = run(kExe, {"--format", "png", "missing.pgm", "out.pgm", "30", "10"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "This build of funcao_exe cannot write PNG files (it was built without libspng): "
            "give --format p2 or p5.\n");
  EXPECT_EQ(r.err, "");
  file("in.pgm", "P2 1 1 255\n7\n");
  ASSERT_EQ(run(kExe, {"in.pgm", "out.png", "30", "0"}).status, 0);
  EXPECT_EQ(slurp(dir_ / "out.png"), "P2\n#origin 0 0\n1 1 255\n7 \n\n");
}
