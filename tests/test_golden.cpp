// SPDX-License-Identifier: MIT
// Golden runs: funcao_exe's exact output bytes, pinned by hash, over every input class and a
// spread of densities and white shares. Any change to reading, noise placement or writing that
// alters a single byte shows up here.
#include <cstdio>
#include <string>
#include <vector>

#include "support.h"

using testsupport::RunResult;
using testsupport::slurp;

namespace {

const std::string kExe = testsupport::program(FUNCAO_EXE);

uint64_t fnv1a(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : bytes) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  }
  return hash;
}

// The sample photograph's 384 x 303 pixels.
std::string coins_pixels() {
  const std::string file = slurp(EXAMPLES_DIR "/coins.pgm");
  return file.substr(file.size() - 384 * 303);
}

// The photograph as P2 text written the way many tools write it: single spaces, short lines.
std::string plain_p2(const std::string& pixels) {
  std::string text = "P2\n384 303\n255\n";
  for (size_t i = 0; i < pixels.size(); ++i) {
    text += std::to_string(static_cast<unsigned char>(pixels[i]));
    text += i % 17 == 16 ? '\n' : ' ';
  }
  return text;
}

// The same pixels in every spelling "%d" accepts: signs, leading zeros, values that keep only
// their low 8 bits, runs of mixed white space including CR and form feed.
std::string odd_p2(const std::string& pixels) {
  static const char* const kSeparators[] = {" ", "\n", "\t", "  ", "\r\n", " \f\v ", "\n\n"};
  std::string text =
      "# made for the tests\nP2\n#ORIGIN 7 -3\n384\n# height next\n303 255 ignored\n";
  for (size_t i = 0; i < pixels.size(); ++i) {
    const int v = static_cast<unsigned char>(pixels[i]);
    switch (i % 9) {
      case 1:
        text += "+" + std::to_string(v);
        break;
      case 3:
        text += "000" + std::to_string(v);
        break;
      case 5:
        text += std::to_string(v + 256 * static_cast<int>(i % 5));
        break;
      case 7:
        text += std::to_string(v - 256);
        break;
      default:
        text += std::to_string(v);
    }
    text += kSeparators[i % 7];
  }
  return text;
}

// Stops at a comment in the raster: every later pixel repeats the last value read.
std::string interrupted_p2(const std::string& pixels) {
  std::string text = plain_p2(pixels);
  const size_t cut = text.find(' ', text.size() / 3);
  return text.substr(0, cut) + "\n# not a number\n1 2 3\n";
}

// Ends early, in the middle of a number.
std::string truncated_p5(const std::string& pixels) {
  return "P5\n384 303\n255\n" + pixels.substr(0, pixels.size() / 2 + 77);
}

std::string p1(const std::string& pixels) {
  std::string text = "P1\n# threshold at 128\n384 303\n";
  for (size_t i = 0; i < pixels.size(); ++i) {
    text += static_cast<unsigned char>(pixels[i]) >= 128 ? '1' : '0';
    text += i % 35 == 34 ? '\n' : ' ';
  }
  return text;
}

// P1 digits with and without white space between them, each one pixel.
std::string run_together_p1() {
  std::string text = "P1\n40 30\n";
  for (int i = 0; i < 40 * 30; ++i) {
    text += static_cast<char>('0' + (i * 7 / 3) % 2);
    if (i % 3 == 2) {
      text += ' ';
    }
  }
  return text;
}

// The photograph's bytes as P4 bits, eight pixels each.
std::string p4(const std::string& pixels) {
  return "P4\n#origin 12 34\n384 303\n" + pixels;
}

// Narrow and wide synthetic images for the line-breaking rule: 13 columns puts one image row on
// each text line, 1001 columns runs lines of 21 values across rows. A large one draws millions
// of positions.
std::string synthetic_p5(int cols, int rows) {
  std::string text = "P5 " + std::to_string(cols) + " " + std::to_string(rows) + " 255\n";
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      text += static_cast<char>((r * 3 + c * 5 + (r * c) % 7) & 0xFF);
    }
  }
  return text;
}

struct Golden {
  const char* input;
  const char* white;
  const char* density;
  uint64_t hash;
};

class GoldenTest : public testsupport::TempDirTest {};

}  // namespace

TEST_F(GoldenTest, OutputBytesStayExactlyAsPinned) {
  const std::string pixels = coins_pixels();
  file("p5.pgm", slurp(EXAMPLES_DIR "/coins.pgm"));
  file("p2.pgm", plain_p2(pixels));
  file("p2_odd.pgm", odd_p2(pixels));
  file("p2_interrupted.pgm", interrupted_p2(pixels));
  file("p5_truncated.pgm", truncated_p5(pixels));
  file("p1.pbm", p1(pixels));
  file("p1_run_together.pbm", run_together_p1());
  file("p4.pbm", p4(pixels));
  file("narrow.pgm", synthetic_p5(13, 2000));
  file("wide.pgm", synthetic_p5(1001, 37));
  file("large.pgm", synthetic_p5(3001, 2003));

  const std::vector<Golden> runs = {
      {"p5.pgm", "30", "10", 0x2ef9c0727944ce1e},
      {"p5.pgm", "30", "0", 0xd7060cb95d701615},
      {"p5.pgm", "50", "100", 0x683059bd03ec20eb},
      {"p5.pgm", "0", "100", 0x476ad9f2351a7273},
      {"p5.pgm", "100", "55.5", 0xa800e594f9a46de1},
      {"p5.pgm", "-10", "20", 0x6b5b3fb8a4ba0144},
      {"p5.pgm", "30", "-100", 0xd7060cb95d701615},
      {"p2.pgm", "30", "10", 0x2ef9c0727944ce1e},
      {"p2.pgm", "70", "100", 0x489d0c4cf330483f},
      {"p2_odd.pgm", "30", "10", 0x914fa7990915ce63},
      {"p2_odd.pgm", "30", "0", 0x0bd4f82ab6816a82},
      {"p2_interrupted.pgm", "30", "0", 0x03d9c0d2b8a466bd},
      {"p5_truncated.pgm", "30", "5", 0x06c6a116d18d80fb},
      {"p1.pbm", "30", "10", 0xc100dd1ae0440d5e},
      {"p1.pbm", "50", "100", 0xcbbd21b50b42923e},
      {"p1_run_together.pbm", "30", "0", 0x7e6eca769ffe80a9},
      {"p4.pbm", "30", "10", 0xd30c64c57a5a0257},
      {"p4.pbm", "100", "100", 0x78a13ff3eda63bfd},
      {"narrow.pgm", "30", "10", 0x2c2595710ac396d1},
      {"narrow.pgm", "30", "0", 0xfff843b4310a80dd},
      {"wide.pgm", "30", "10", 0xef70ec6926150f75},
      {"wide.pgm", "20", "100", 0xcbc7cbe4f2f3631c},
      {"large.pgm", "30", "100", 0x8784479bd110fb0d},
  };
  for (const Golden& g : runs) {
    const RunResult r = run(kExe, {g.input, "out.pgm", g.white, g.density});
    EXPECT_EQ(r.status, 0) << g.input << ' ' << g.white << ' ' << g.density;
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%016llx",
                  static_cast<unsigned long long>(fnv1a(slurp(dir_ / "out.pgm"))));
    char pinned[32];
    std::snprintf(pinned, sizeof pinned, "0x%016llx", static_cast<unsigned long long>(g.hash));
    EXPECT_EQ(std::string(hex), std::string(pinned))
        << g.input << ' ' << g.white << ' ' << g.density;
  }
}

// The raw output holds the P2 output's pixels and origin; its bytes are pinned the same way. A
// PNG input gives the very bytes its PNM twin gives.
TEST_F(GoldenTest, RawOutputAndPngInputStayAsPinned) {
  file("p5.pgm", slurp(EXAMPLES_DIR "/coins.pgm"));
  file("wide.pgm", synthetic_p5(1001, 37));
  std::vector<std::vector<std::string>> runs = {
      {"--format", "p5", "p5.pgm", "30", "10", "0x2a6e2408a77ef5f4"},
      {"--format", "p5", "p5.pgm", "50", "100", "0xdb37d83cafb3a193"},
      {"--format", "p5", "wide.pgm", "20", "100", "0xbc75791925b90eb9"},
  };
  if (programs_have_png()) {
    const std::string pixels = coins_pixels();
    file("coins.png",
         testsupport::grey_png(303, 384, std::vector<int>(pixels.begin(), pixels.end())));
    runs.push_back({"--format", "p2", "coins.png", "30", "10", "0x2ef9c0727944ce1e"});
  }
  for (const std::vector<std::string>& g : runs) {
    const RunResult r = run(kExe, {g[0], g[1], g[2], "out.pgm", g[3], g[4]});
    EXPECT_EQ(r.status, 0) << g[2];
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%016llx",
                  static_cast<unsigned long long>(fnv1a(slurp(dir_ / "out.pgm"))));
    EXPECT_EQ(std::string(hex), g[5]) << g[1] << ' ' << g[2] << ' ' << g[3] << ' ' << g[4];
  }
}
