// SPDX-License-Identifier: MIT
// Interoperability with the PNM and PNG tools users have beside this one: netpbm, ImageMagick
// and Pillow, run as installed on this machine. Each test skips, saying so, when its tool is
// absent.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "noise/ssim.h"
#include "support.h"

using testsupport::image_of;
using testsupport::pixels_of;
using testsupport::RunResult;
using testsupport::slurp;

namespace {

const std::string kExe = FUNCAO_EXE;

enum class Tool { netpbm, imagemagick, pillow };

const char* name_of(Tool tool) {
  switch (tool) {
    case Tool::netpbm:
      return "netpbm";
    case Tool::imagemagick:
      return "ImageMagick";
    case Tool::pillow:
      return "Pillow";
  }
  return "?";
}

void PrintTo(Tool tool, std::ostream* out) {
  *out << name_of(tool);
}

struct Shell {
  int status = -1;
  std::string out;
};

// Runs a command line through /bin/sh and keeps its standard output, bytes as they come.
Shell sh(const std::string& command) {
  Shell result;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return result;
  }
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    result.out.append(buffer, got);
  }
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string quoted(const std::string& text) {
  return "'" + text + "'";
}

// The real ImageMagick only: a "convert" earlier on the PATH may be something else entirely.
std::string imagemagick(const std::string& program) {
  for (const std::string& candidate : {program + "-im6.q16", "/usr/bin/" + program}) {
    if (sh(candidate + " -version 2>/dev/null").out.find("ImageMagick") != std::string::npos) {
      return candidate;
    }
  }
  return "";
}

// Debian's Pillow belongs to the system Python, which need not be the first python3 on the PATH.
std::string pillow_python() {
  for (const std::string candidate : {"/usr/bin/python3", "python3"}) {
    if (sh(candidate + " -c 'import PIL' 2>/dev/null").status == 0) {
      return candidate;
    }
  }
  return "";
}

struct Tools {
  bool netpbm = sh("command -v pamfile >/dev/null && command -v pamtopnm >/dev/null").status == 0;
  std::string convert = imagemagick("convert");
  std::string identify = imagemagick("identify");
  std::string python = pillow_python();

  bool has(Tool tool) const {
    switch (tool) {
      case Tool::netpbm:
        return netpbm;
      case Tool::imagemagick:
        return !convert.empty() && !identify.empty();
      case Tool::pillow:
        return !python.empty();
    }
    return false;
  }
};

const Tools& tools() {
  static const Tools found;
  return found;
}

// What a tool makes of a file: its size and its pixels in row-major order, as the file's own
// values (for a bitmap 1 is black and 0 white, whatever the tool calls them).
struct Seen {
  bool accepted = false;
  int32_t cols = 0;
  int32_t rows = 0;
  std::vector<int> pixels;
};

bool is_png(const std::string& path) {
  return slurp(path).compare(0, 8, testsupport::kPngSignature, 8) == 0;
}

// netpbm rewrites the file as plain PNM, which this parses; a plain bitmap's digits may run
// together, so each one is a pixel. A PNG file goes through pngtopnm and then to maximum 255,
// which scales its samples as PNG does.
Seen seen_by_netpbm(const std::string& path) {
  Seen seen;
  const Shell plain =
      sh(is_png(path) ? "pngtopnm " + quoted(path) + " | pamdepth 255 2>/dev/null | pamtopnm -plain"
                      : "pamtopnm -plain " + quoted(path));
  if (plain.status != 0 || plain.out.size() < 2) {
    return seen;
  }
  const bool bitmap = plain.out.compare(0, 2, "P1") == 0;
  size_t pos = 2;
  auto next_number = [&](int* value) {
    while (pos < plain.out.size() && !std::isdigit(static_cast<unsigned char>(plain.out[pos]))) {
      ++pos;
    }
    const size_t start = pos;
    const size_t end = bitmap && seen.cols > 0 && seen.rows > 0 ? start + 1 : plain.out.size();
    while (pos < end && std::isdigit(static_cast<unsigned char>(plain.out[pos]))) {
      ++pos;
    }
    if (pos == start) {
      return false;
    }
    *value = std::stoi(plain.out.substr(start, pos - start));
    return true;
  };
  int cols = 0;
  int rows = 0;
  int maxval = 1;
  if (!next_number(&cols) || !next_number(&rows) || (!bitmap && !next_number(&maxval))) {
    return seen;
  }
  seen.cols = cols;
  seen.rows = rows;
  for (int value = 0; next_number(&value);) {
    seen.pixels.push_back(value);
  }
  seen.accepted = true;
  return seen;
}

// ImageMagick and Pillow report grey levels, black 0 and white 255.
std::vector<int> as_file_values(const std::string& grey, bool bitmap) {
  std::vector<int> values;
  for (const char byte : grey) {
    const int level = static_cast<unsigned char>(byte);
    values.push_back(bitmap ? (level == 0 ? 1 : 0) : level);
  }
  return values;
}

// A report of "<cols> <rows>\n" followed by one grey byte per pixel.
Seen from_grey_report(const Shell& grey, bool bitmap) {
  Seen seen;
  const size_t newline = grey.out.find('\n');
  if (grey.status != 0 || newline == std::string::npos ||
      std::sscanf(grey.out.c_str(), "%d %d", &seen.cols, &seen.rows) != 2) {
    return seen;
  }
  seen.pixels = as_file_values(grey.out.substr(newline + 1), bitmap);
  seen.accepted = true;
  return seen;
}

Seen seen_by_imagemagick(const std::string& path, bool bitmap) {
  return from_grey_report(sh(tools().convert + " " + quoted(path) +
                             " -format '%w %h\\n' -write info:- -depth 8 gray:-"),
                          bitmap);
}

Seen seen_by_pillow(const std::string& path, bool bitmap) {
  const Shell grey = sh(tools().python +
                        " -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                        "im.load(); print(im.width, im.height, flush=True); "
                        "sys.stdout.buffer.write(im.convert(\"L\").tobytes())' " +
                        quoted(path));
  return from_grey_report(grey, bitmap);
}

Seen seen_by(Tool tool, const std::string& path, bool bitmap) {
  switch (tool) {
    case Tool::netpbm:
      return seen_by_netpbm(path);
    case Tool::imagemagick:
      return seen_by_imagemagick(path, bitmap);
    case Tool::pillow:
      return seen_by_pillow(path, bitmap);
  }
  return {};
}

struct Size {
  int32_t cols;
  int32_t rows;
};

// Sizes around the writers' line breaks (20 and 21 values; netpbm's and ImageMagick's at 70
// characters) and a bitmap byte's 8 pixels.
const Size kSizes[] = {{1, 1}, {8, 3}, {21, 4}, {129, 67}};

// A raw greymap with an origin comment; from 21x4 on its values span 0..255.
std::string source_image(Size size) {
  std::string bytes =
      "P5\n#origin 3 5\n" + std::to_string(size.cols) + " " + std::to_string(size.rows) + "\n255\n";
  for (int32_t r = 0; r < size.rows; ++r) {
    for (int32_t c = 0; c < size.cols; ++c) {
      bytes += static_cast<char>((r * 37 + c * 11 + (r * c) % 7 * 29) % 256);
    }
  }
  return bytes;
}

class InteropTest : public testsupport::TempDirTest {
 protected:
  // Reads a file through Input_PBM, quietly; an empty result when it is refused.
  std::vector<int> read_with_imagelib(const std::string& path, Size* size) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Image* image = Input_PBM(path.c_str());
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    if (image == nullptr) {
      return {};
    }
    *size = {image->dims->cols, image->dims->rows};
    std::vector<int> pixels = pixels_of(image);
    freeimage(image);
    PBM_SE_ORIGIN_ROW = 0;
    PBM_SE_ORIGIN_COL = 0;
    return pixels;
  }
};

// Every file funcao_exe writes, read by each tool in turn.
class WrittenFiles : public InteropTest, public testing::WithParamInterface<Tool> {};

TEST_P(WrittenFiles, AreAcceptedAndReadBackPixelForPixel) {
  const Tool tool = GetParam();
  if (!tools().has(tool)) {
    GTEST_SKIP() << name_of(tool) << " is not installed; install it to run this test";
  }
  struct Written {
    const char* format;
    const char* name;
    const char* pamfile;  // what pamfile says of it (after pngtopnm for PNG)
    const char* identify;
  };
  std::vector<Written> formats{{"p2", "out.pgm", "PGM plain", "PGM"},
                               {"p5", "out.pgm", "PGM raw", "PGM"}};
  if (programs_have_png()) {
    formats.push_back({"png", "out.png", "PGM raw", "PNG"});
  }
  for (const Size size : kSizes) {
    for (const char* density : {"0", "40"}) {
      for (const Written& format : formats) {
        SCOPED_TRACE(std::to_string(size.cols) + "x" + std::to_string(size.rows) + ", density " +
                     density + ", " + format.format);
        file("in.pgm", source_image(size));
        const RunResult made =
            run(kExe, {"--format", format.format, "in.pgm", format.name, "30", density});
        ASSERT_EQ(made.status, 0) << made.out;
        const std::string out = (dir_ / format.name).string();
        Size read_size{};
        const std::vector<int> written = read_with_imagelib(out, &read_size);
        ASSERT_EQ(written.size(), static_cast<size_t>(size.cols) * size.rows);

        const std::string dims = std::to_string(size.cols) + " by " + std::to_string(size.rows);
        if (tool == Tool::netpbm) {
          const Shell described =
              sh(std::string(format.format) == "png" ? "pngtopnm " + quoted(out) + " | pamfile"
                                                     : "pamfile " + quoted(out));
          EXPECT_EQ(described.status, 0);
          EXPECT_NE(described.out.find(std::string(format.pamfile) + ", " + dims + "  maxval 255"),
                    std::string::npos)
              << described.out;
        }
        if (tool == Tool::imagemagick) {
          const Shell described = sh(tools().identify + " " + quoted(out));
          EXPECT_EQ(described.status, 0);
          EXPECT_NE(
              described.out.find(" " + std::string(format.identify) + " " +
                                 std::to_string(size.cols) + "x" + std::to_string(size.rows) + " "),
              std::string::npos)
              << described.out;
        }
        const Seen seen = seen_by(tool, out, /*bitmap=*/false);
        ASSERT_TRUE(seen.accepted) << name_of(tool) << " refused " << out;
        EXPECT_EQ(seen.cols, size.cols);
        EXPECT_EQ(seen.rows, size.rows);
        EXPECT_EQ(seen.pixels, written);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Interop, WrittenFiles,
                         testing::Values(Tool::netpbm, Tool::imagemagick, Tool::pillow),
                         [](const testing::TestParamInfo<Tool>& info) {
                           return std::string(name_of(info.param));
                         });

// Files the other tools write, read by Input_PBM.
constexpr const char* kPng = "\x89P";

struct ForeignCase {
  Tool tool;
  const char* label;
  // A shell command with {in} and {out}; {convert} and {python} stand for the tools.
  const char* command;
  const char* magic;
  bool comment;
};

const ForeignCase kForeign[] = {
    {Tool::netpbm, "plain_P2", "pamtopnm -plain {in} > {out}", "P2", false},
    {Tool::netpbm, "raw_P5", "pamtopnm {in} > {out}", "P5", false},
    {Tool::netpbm, "plain_P1", "pamthreshold -simple {in} | pamtopnm -plain > {out}", "P1", false},
    {Tool::netpbm, "raw_P4", "pamthreshold -simple {in} | pamtopnm > {out}", "P4", false},
    {Tool::imagemagick, "plain_P1",
     "{convert} {in} -threshold 50% +set comment -compress none pbm:{out}", "P1", false},
    {Tool::imagemagick, "plain_P1_comment",
     "{convert} {in} -threshold 50% -set comment 'made by ImageMagick' -compress none pbm:{out}",
     "P1", true},
    {Tool::imagemagick, "raw_P4", "{convert} {in} -threshold 50% +set comment pbm:{out}", "P4",
     false},
    {Tool::imagemagick, "plain_P2", "{convert} {in} -depth 8 +set comment -compress none pgm:{out}",
     "P2", false},
    {Tool::imagemagick, "plain_P2_comment",
     "{convert} {in} -depth 8 -set comment 'made by ImageMagick' -compress none pgm:{out}", "P2",
     true},
    {Tool::imagemagick, "raw_P5", "{convert} {in} -depth 8 +set comment pgm:{out}", "P5", false},
    {Tool::imagemagick, "raw_P5_comment",
     "{convert} {in} -depth 8 -set comment 'made by ImageMagick' pgm:{out}", "P5", true},
    {Tool::pillow, "raw_P5",
     "{python} -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2], "
     "\"PPM\")' {in} {out}",
     "P5", false},
    // PNG files: grey of every depth, palettes, interlacing; compared as grey levels 0..255.
    {Tool::netpbm, "png_8bit", "pnmtopng {in} > {out}", kPng, false},
    {Tool::netpbm, "png_interlaced", "pnmtopng -interlace {in} > {out}", kPng, false},
    {Tool::netpbm, "png_1bit", "pamthreshold -simple {in} | pamtopnm | pnmtopng > {out}", kPng,
     false},
    {Tool::netpbm, "png_2bit", "pamdepth 3 {in} | pnmtopng > {out}", kPng, false},
    {Tool::netpbm, "png_4bit", "pamdepth 15 {in} | pnmtopng > {out}", kPng, false},
    {Tool::imagemagick, "png_8bit", "{convert} {in} -depth 8 png:{out}", kPng, false},
    {Tool::imagemagick, "png_palette", "{convert} {in} -colors 16 png8:{out}", kPng, false},
    {Tool::imagemagick, "png_interlaced", "{convert} {in} -interlace PNG png:{out}", kPng, false},
    {Tool::imagemagick, "png_palette_interlaced",
     "{convert} {in} -colors 16 -interlace PNG png8:{out}", kPng, false},
    {Tool::pillow, "png_8bit",
     "{python} -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2], "
     "\"PNG\")' {in} {out}",
     kPng, false},
    {Tool::pillow, "png_palette",
     "{python} -c 'import sys; from PIL import Image; "
     "Image.open(sys.argv[1]).convert(\"P\").save(sys.argv[2], \"PNG\")' {in} {out}",
     kPng, false},
    {Tool::pillow, "png_1bit",
     "{python} -c 'import sys; from PIL import Image; "
     "Image.open(sys.argv[1]).convert(\"1\").save(sys.argv[2], \"PNG\")' {in} {out}",
     kPng, false},
};

void PrintTo(const ForeignCase& writer, std::ostream* out) {
  *out << name_of(writer.tool) << " " << writer.label;
}

std::string expand(std::string command, const std::string& in, const std::string& out) {
  const std::pair<std::string, std::string> fields[] = {{"{in}", quoted(in)},
                                                        {"{out}", quoted(out)},
                                                        {"{convert}", tools().convert},
                                                        {"{python}", tools().python}};
  for (const auto& [field, value] : fields) {
    for (size_t at = command.find(field); at != std::string::npos; at = command.find(field)) {
      command.replace(at, field.size(), value);
    }
  }
  return command;
}

class ForeignFiles : public InteropTest, public testing::WithParamInterface<ForeignCase> {};

// The tool that wrote the file reports its pixels, and netpbm too when it is installed, as a
// second opinion.
TEST_P(ForeignFiles, ReadWithThePixelValuesTheToolsReport) {
  const ForeignCase& writer = GetParam();
  if (!tools().has(writer.tool)) {
    GTEST_SKIP() << name_of(writer.tool) << " is not installed; install it to run this test";
  }
  const bool png = writer.magic == kPng;
  if (png && !image_png_supported()) {
    GTEST_SKIP() << "this build has no PNG";
  }
  const bool bitmap = std::string(writer.magic) == "P1" || std::string(writer.magic) == "P4";
  for (const Size size : kSizes) {
    SCOPED_TRACE(std::to_string(size.cols) + "x" + std::to_string(size.rows));
    const std::string in = file("source.pgm", source_image(size));
    const std::string out = (dir_ / "foreign.pnm").string();
    ASSERT_EQ(sh(expand(writer.command, in, out)).status, 0) << writer.command;
    const std::string bytes = slurp(out);
    ASSERT_EQ(bytes.substr(0, 2), writer.magic);
    if (!png) {
      EXPECT_EQ(bytes.find("\n#") != std::string::npos, writer.comment) << bytes.substr(0, 60);
    }

    Size read_size{};
    const std::vector<int> read = read_with_imagelib(out, &read_size);
    EXPECT_EQ(read_size.cols, size.cols);
    EXPECT_EQ(read_size.rows, size.rows);
    for (const Tool tool : {writer.tool, Tool::netpbm}) {
      if (tools().has(tool)) {
        const Seen seen = seen_by(tool, out, bitmap);
        ASSERT_TRUE(seen.accepted) << name_of(tool) << " refused the file";
        EXPECT_EQ(seen.pixels, read) << name_of(tool) << " sees other pixels";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Interop, ForeignFiles, testing::ValuesIn(kForeign),
                         [](const testing::TestParamInfo<ForeignCase>& info) {
                           return std::string(name_of(info.param.tool)) + "_" + info.param.label;
                         });

// Greymaps of more than 8 bits, as the tools write them, are refused with the maximum named.
TEST_F(InteropTest, DeepGreymapsFromTheToolsAreRefused) {
  const std::string in = file("source.pgm", source_image({21, 4}));
  const std::string out = (dir_ / "deep.pgm").string();
  int asked = 0;
  for (const auto& [tool, command] :
       {std::pair{Tool::netpbm, "pamdepth 65535 {in} > {out}"},
        {Tool::netpbm, "pamdepth 1023 {in} | pamtopnm -plain > {out}"},
        {Tool::imagemagick, "{convert} {in} -depth 16 pgm:{out}"},
        {Tool::imagemagick, "{convert} {in} -depth 16 -compress none pgm:{out}"}}) {
    if (!tools().has(tool)) {
      continue;
    }
    ++asked;
    ASSERT_EQ(sh(expand(command, in, out)).status, 0) << command;
    const RunResult r = run(kExe, {out, "o.pgm", "30", "10"});
    EXPECT_EQ(r.status, 2) << command;
    const std::string maximum =
        std::string(command).find("1023") != std::string::npos ? "1023" : "65535";
    EXPECT_EQ(r.out, "More than 8 bits per sample (maximum " + maximum + ").\nNo input image ('" +
                         out + "')\n")
        << command;
  }
  if (asked == 0) {
    GTEST_SKIP() << "neither netpbm nor ImageMagick is installed";
  }
}

// The greymaps kept in the repository, written by other programs, read as every installed tool
// reads them.
TEST_F(InteropTest, CommittedGreymapsReadAsTheToolsReadThem) {
  int asked = 0;
  for (const char* name : {"hopper_8bit.pgm", "hopper_8bit_plain.pgm"}) {
    const std::string path = std::string(TEST_DATA_DIR) + "/realfiles/" + name;
    Size size{};
    const std::vector<int> read = read_with_imagelib(path, &size);
    ASSERT_EQ(read.size(), 128u * 128u) << name;
    for (const Tool tool : {Tool::netpbm, Tool::imagemagick, Tool::pillow}) {
      if (tools().has(tool)) {
        EXPECT_EQ(seen_by(tool, path, /*bitmap=*/false).pixels, read)
            << name_of(tool) << " " << name;
        ++asked;
      }
    }
  }
  if (asked == 0) {
    GTEST_SKIP() << "none of netpbm, ImageMagick and Pillow is installed";
  }
}

// PNG files the tools write in a kind this reader refuses give the reason, then the usual line.
TEST_F(InteropTest, RefusedPngFromTheToolsGiveTheirMessages) {
  if (!programs_have_png()) {
    GTEST_SKIP() << "this build has no PNG";
  }
  const std::string in = file("source.pgm", source_image({21, 4}));
  const std::string colour = std::string(TEST_DATA_DIR) + "/realfiles/hopper_8bit_plain.ppm";
  const std::string to_grey = "convert it to 8-bit grey first (pngtopnm in.png";
  const std::string colour_text = "PNG colour image: " + to_grey + " | ppmtopgm > in.pgm).\n";
  const std::string alpha_text = "PNG image with an alpha channel: " + to_grey + " > in.pgm).\n";
  const std::string deep_text =
      "PNG image of 16 bits per sample: " + to_grey + " | pamdepth 255 > in.pgm).\n";
  const std::string pillow =
      "{python} -c 'import sys; from PIL import Image; "
      "Image.open(sys.argv[1]).convert(\"";
  const std::string save = "\").save(sys.argv[2], \"PNG\")' {in} {out}";
  struct Refusal {
    Tool tool;
    std::string command;
    std::string text;
  };
  const std::vector<Refusal> refusals{
      {Tool::netpbm, "pnmtopng " + quoted(colour) + " > {out}", colour_text},
      // -force: without it pnmtopng writes the smallest file that holds the same pixels.
      {Tool::netpbm, "pnmtopng -force -alpha={in} {in} > {out}", alpha_text},
      {Tool::netpbm, "pamdepth 65535 {in} | pnmtopng -force > {out}", deep_text},
      {Tool::imagemagick, "{convert} {in} -type TrueColor png24:{out}", colour_text},
      {Tool::imagemagick, "{convert} {in} -depth 16 -define png:bit-depth=16 png:{out}", deep_text},
      {Tool::pillow, pillow + "RGB" + save, colour_text},
      {Tool::pillow, pillow + "LA" + save, alpha_text},
  };
  int asked = 0;
  for (const Refusal& refusal : refusals) {
    if (!tools().has(refusal.tool)) {
      continue;
    }
    ++asked;
    const std::string out = (dir_ / "refused.png").string();
    ASSERT_EQ(sh(expand(refusal.command, in, out)).status, 0) << refusal.command;
    const RunResult r = run(kExe, {out, "o.pgm", "30", "10"});
    EXPECT_EQ(r.status, 2) << refusal.command;
    EXPECT_EQ(r.out, refusal.text + "No input image ('" + out + "')\n") << refusal.command;
  }
  if (asked == 0) {
    GTEST_SKIP() << "none of netpbm, ImageMagick and Pillow is installed";
  }
}

// Pillow refuses large plain greymaps (its text reader's limit); the raw one is read whole.
TEST_F(InteropTest, PillowReadsALargeRawGreymap) {
  if (!tools().has(Tool::pillow)) {
    GTEST_SKIP() << "Pillow is not installed; install it to run this test";
  }
  const Size size{4096, 4096};
  std::string raw = "P5\n4096 4096\n255\n";
  for (int32_t i = 0; i < size.cols * size.rows; ++i) {
    raw += static_cast<char>(i % 251);
  }
  file("big.pgm", raw);
  ASSERT_EQ(run(kExe, {"--format", "p5", "big.pgm", "noisy.pgm", "30", "10"}).status, 0);
  const std::string out = (dir_ / "noisy.pgm").string();
  Size read_size{};
  const std::vector<int> written = read_with_imagelib(out, &read_size);
  const Seen seen = seen_by(Tool::pillow, out, /*bitmap=*/false);
  ASSERT_TRUE(seen.accepted);
  EXPECT_EQ(seen.cols, size.cols);
  EXPECT_EQ(seen.rows, size.rows);
  EXPECT_TRUE(seen.pixels == written);
}

// scikit-image's structural_similarity with the settings pnm_compare follows. Debian's
// python3-skimage belongs to the system Python, like its Pillow.
std::string skimage_python() {
  for (const std::string candidate : {"/usr/bin/python3", "python3"}) {
    if (sh(candidate + " -c 'import skimage.metrics' 2>/dev/null").status == 0) {
      return candidate;
    }
  }
  return "";
}

struct SsimPair {
  std::string label;
  int32_t rows;
  int32_t cols;
  std::vector<int> a;
  std::vector<int> b;
};

// b follows a with noise, so that the measure is neither near 0 nor near 1.
SsimPair random_pair(const std::string& label, int32_t rows, int32_t cols, uint32_t mix) {
  auto next = [&mix] {
    mix = mix * 1103515245u + 12345u;
    return static_cast<int>((mix >> 16) & 0xFF);
  };
  SsimPair pair{label, rows, cols, {}, {}};
  for (int32_t i = 0; i < rows * cols; ++i) {
    pair.a.push_back(next());
    pair.b.push_back(std::clamp(pair.a.back() / 2 + 60 + next() % 41 - 20, 0, 255));
  }
  return pair;
}

// The value pnm_compare prints on its SSIM line.
double printed_ssim(const std::string& report) {
  const size_t at = report.find("\nSSIM ");
  return at == std::string::npos ? -1 : std::strtod(report.c_str() + at + 6, nullptr);
}

// Several pairs against scikit-image in one Python run: in memory through mean_ssim, and a
// noisy photograph through pnm_compare itself.
TEST_F(InteropTest, SsimMatchesScikitImage) {
  const std::string python = skimage_python();
  if (python.empty()) {
    GTEST_SKIP() << "scikit-image (Debian package python3-skimage) is not installed; install it "
                    "to run this test";
  }
  std::vector<SsimPair> pairs{
      random_pair("smallest, 11 x 11", 11, 11, 1),
      random_pair("odd shape, 13 x 29", 13, 29, 2),
      random_pair("wider than a strip, 17 x 1100", 17, 1100, 3),
      {"black against white", 12, 12, std::vector<int>(144, 0), std::vector<int>(144, 255)}};
  const std::string coins = std::string(EXAMPLES_DIR) + "/coins.pgm";
  const std::string noisy = (dir_ / "noisy.pgm").string();
  ASSERT_EQ(sh(quoted(kExe) + " --seed 5 " + quoted(coins) + " " + quoted(noisy) +
               " 30 10 >/dev/null 2>&1")
                .status,
            0);
  Size size{};
  pairs.push_back({"noisy photograph, through pnm_compare", 303, 384,
                   read_with_imagelib(noisy, &size), read_with_imagelib(coins, &size)});

  file("ssim.py",
       "import sys, numpy as np\n"
       "from skimage.metrics import structural_similarity as ssim\n"
       "a = sys.argv[1:]\n"
       "for i in range(0, len(a), 4):\n"
       "    r, c = int(a[i]), int(a[i + 1])\n"
       "    x, y = (np.fromfile(p, dtype=np.uint8).reshape(r, c) for p in a[i + 2:i + 4])\n"
       "    print(repr(ssim(x, y, gaussian_weights=True, sigma=1.5,\n"
       "                    use_sample_covariance=False, data_range=255)))\n");
  std::string command = python + " " + quoted((dir_ / "ssim.py").string());
  std::vector<double> ours;
  for (size_t k = 0; k < pairs.size(); ++k) {
    const SsimPair& pair = pairs[k];
    const std::string n = std::to_string(k);
    command += " " + std::to_string(pair.rows) + " " + std::to_string(pair.cols) + " " +
               quoted(file("a" + n, std::string(pair.a.begin(), pair.a.end()))) + " " +
               quoted(file("b" + n, std::string(pair.b.begin(), pair.b.end())));
    const auto a = image_of(pair.rows, pair.cols, pair.a);
    const auto b = image_of(pair.rows, pair.cols, pair.b);
    ours.push_back(mean_ssim(a.get(), b.get()));
  }
  ours.back() = printed_ssim(
      sh(quoted(PNM_COMPARE) + " " + quoted(noisy) + " " + quoted(coins) + " 2>/dev/null").out);
  const Shell theirs = sh(command + " 2>&1");
  ASSERT_EQ(theirs.status, 0) << theirs.out;
  std::istringstream values(theirs.out);
  for (size_t k = 0; k < pairs.size(); ++k) {
    double value = 0;
    ASSERT_TRUE(values >> value) << theirs.out;
    EXPECT_NEAR(ours[k], value, 1e-7) << pairs[k].label;
  }
}

}  // namespace
