// SPDX-License-Identifier: MIT
// Bad inputs given to funcao_exe and pnm_compare as processes: exact messages on each stream, in
// their order, the exit status, and funcao_exe's output file, which a run that fails before
// writing leaves untouched.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support.h"

using testsupport::RunResult;
using testsupport::slurp;

namespace {

const std::string kExe = testsupport::program(FUNCAO_EXE);
const std::string kCompare = testsupport::program(PNM_COMPARE);
const std::string kKept = "earlier content\n";
const std::string kGood = "P2 1 1 255\n0\n";  // good.pgm, pnm_compare's other input

enum class Stream { out, err };

struct Piece {
  Stream stream;
  std::string text;
};

Piece out(std::string text) {
  return {Stream::out, std::move(text)};
}

Piece err(std::string text) {
  return {Stream::err, std::move(text)};
}

Piece class_line(int pnm_class, int cols, int rows, int max) {
  return err("\nPBM file class " + std::to_string(pnm_class) + " size " + std::to_string(cols) +
             " columns X " + std::to_string(rows) + " rows Max=" + std::to_string(max) + "\n");
}

Piece png_class_line(int cols, int rows, int depth) {
  return err("\nPNG file size " + std::to_string(cols) + " columns X " + std::to_string(rows) +
             " rows depth " + std::to_string(depth) + "\n");
}

Piece abort_line(const std::string& message) {
  return err("**** System library ABORT 0: " + message + " ****\n");
}

Piece description(const std::string& density, const std::string& white, const std::string& black) {
  return out("Ruido impulsivo com " + density + " % de pontos da imagem\n " + white +
             " % compostos de pontos brancos\n " + black + " % compostos de pontos pretos\n");
}

Piece success(const std::string& output) {
  return out("SUCESSO!\nO arquivo se encontra em '" + output + "'.\n");
}

struct Case {
  std::string name;
  std::string bytes;  // written to in.pnm
  std::string input = "in.pnm";
  std::vector<std::string> percentages{"30", "10"};
  std::string output = "out.pgm";  // holds kKept before the run
  int status = 2;
  std::vector<Piece> transcript;          // everything printed, in order
  std::string written = kKept;            // out.pgm afterwards
  std::vector<std::string> compare_args;  // runs pnm_compare with these instead, when given
  std::string feed;  // a shell command whose output is the command's standard input, when given
  std::vector<std::string> options;  // funcao_exe's options, before the four arguments
};

// Standard input as the path /dev/stdin exists on POSIX systems only: a Windows program under
// wine reaches the pipe through wine's own mapping of Unix paths, which is no Windows behaviour.
// "-" is skipped there too: the runs feed it from a shell pipe, which a wasm program under node
// cannot read and a Windows one reaches only through wine.
bool names_stdin(const Case& c) {
  for (const char* name : {"/dev/stdin", "-"}) {
    if (c.input == name ||
        std::find(c.compare_args.begin(), c.compare_args.end(), name) != c.compare_args.end()) {
      return true;
    }
  }
  return false;
}

Case refused(std::string name, std::string bytes, const std::string& message) {
  Case c;
  c.name = std::move(name);
  c.bytes = std::move(bytes);
  c.transcript = {out(message + "No input image ('in.pnm')\n")};
  return c;
}

Case not_pnm(std::string name, std::string bytes) {
  return refused(std::move(name), std::move(bytes), "Not a PBM/PGM/PPM file.\n");
}

Case bad_header(std::string name, std::string bytes) {
  return refused(std::move(name), std::move(bytes), "Bad PBM/PGM/PPM header.\n");
}

Case colour(std::string name, std::string bytes, int pnm_class, int cols, int rows) {
  Case c;
  c.name = std::move(name);
  c.bytes = std::move(bytes);
  c.transcript = {class_line(pnm_class, cols, rows, 255), abort_line("Colour image.")};
  return c;
}

// A file that is read (a short or odd raster is not an error) and written back with density 0.
Case read_as(std::string name, std::string bytes, Piece class_text, const std::string& written) {
  Case c;
  c.name = std::move(name);
  c.bytes = std::move(bytes);
  c.percentages = {"30", "0"};
  c.status = 0;
  c.transcript = {std::move(class_text), description("0.0", "30.0", "70.0"), success("out.pgm")};
  c.written = written;
  return c;
}

// The percentages given to a one-pixel image of value 7.
Case percentages(std::string name, std::string white, std::string density, int status,
                 std::vector<Piece> said, const std::string& pixel = "7") {
  Case c;
  c.name = std::move(name);
  c.bytes = "P2 1 1 255\n7\n";
  c.percentages = {std::move(white), std::move(density)};
  c.status = status;
  c.transcript = {class_line(2, 1, 1, 255)};
  c.transcript.insert(c.transcript.end(), said.begin(), said.end());
  if (status == 0) {
    c.transcript.push_back(success("out.pgm"));
    c.written = "P2\n#origin 0 0\n1 1 255\n" + pixel + " \n\n";
  }
  return c;
}

// png_programs: whether the programs under test have PNG.
std::vector<Case> cases(bool png_programs) {
  const std::string cant_open_missing = "Can't open the PBM file named 'missing.pgm'\n";
  std::vector<Case> all;

  Case missing = refused("missing file", "", cant_open_missing);
  missing.input = "missing.pgm";
  missing.transcript = {out(cant_open_missing + "No input image ('missing.pgm')\n")};
  all.push_back(missing);
  Case directory = refused("directory", "", "");
  directory.input = ".";
  directory.transcript = {out("Can't open the PBM file named '.'\nNo input image ('.')\n")};
  all.push_back(directory);
  // The input's faults come first, even with percentages that would be refused.
  Case before_percentages = missing;
  before_percentages.name = "missing file, percentages above 100";
  before_percentages.percentages = {"200", "200"};
  all.push_back(before_percentages);

  all.push_back(not_pnm("empty file", ""));
  all.push_back(not_pnm("only comments and blank lines", "#origin 1 2\n\n# x\n"));
  all.push_back(not_pnm("magic P7", "P7\nWIDTH 1\n"));
  all.push_back(not_pnm("magic P0", "P0 1 1 255\n"));
  all.push_back(not_pnm("magic P8", "P8 1 1 255\n"));
  all.push_back(not_pnm("lower-case magic", "p2 1 1 255\n7\n"));
  all.push_back(not_pnm("other letter", "X2 1 1 255\n"));
  all.push_back(not_pnm("P alone", "P\n"));
  all.push_back(not_pnm("P and a letter", "PX 1 1 255\n"));
  all.push_back(not_pnm("blank before magic", " P2 1 1 255\n7\n"));
  all.push_back(not_pnm("byte order mark", "\xef\xbb\xbfP2 1 1 255\n7\n"));
  all.push_back(not_pnm("NUL before magic", std::string("\0P2 1 1 255\n7\n", 14)));

  all.push_back(bad_header("letter after magic", "P2x 1 1 255\n"));
  all.push_back(bad_header("CR alone ends no header line", "P2 3\r2\r255\r1 2 3 4 5 6\r"));
  all.push_back(bad_header("hash after a number", "P2 3 #2 255\n"));
  all.push_back(bad_header("signed width", "P2 -3 2 255\n"));
  all.push_back(bad_header("signed maximum", "P2 3 2 +255\n"));
  all.push_back(bad_header("garbage token in header", "P2 3 two 255\n"));
  all.push_back(bad_header("NUL between numbers", std::string("P2 3\0 2 255\n1\n", 14)));
  all.push_back(bad_header("NUL as a header line", std::string("P5 3 2\n\0\n", 9)));
  all.push_back(bad_header("magic only, no newline", "P5"));
  all.push_back(bad_header("ends inside the header line", "P2 3 2"));
  all.push_back(bad_header("ends after the header line", "P2 3 2\n"));
  all.push_back(bad_header("ends after a comment", "P2 3 2\n# the maximum never comes\n"));
  all.push_back(bad_header("P1 without its rows", "P1 3\n"));
  all.push_back(bad_header("P4 without its rows", "P4\n3"));
  all.push_back(bad_header("width beyond 32 bits", "P2 2147483648 1 255\n"));
  all.push_back(bad_header("giant maximum", "P2 1 1 99999999999999999999999\n"));
  all.push_back(bad_header("width of 5000 digits", "P5 " + std::string(5000, '9') + " 1 255\n"));
  all.push_back(bad_header("header line over 1 MiB",
                           "P2" + std::string(size_t{1} << 21, ' ') + "1 1 255\n7\n"));

  all.push_back(colour("P3", "P3 2 1 255\n1 2 3 4 5 6\n", 3, 2, 1));
  all.push_back(colour("P6", "P6 1 1 255\n\x01\x02\x03", 6, 1, 1));
  all.push_back(colour("P3 truncated", "P3 2 1 255\n1 2", 3, 2, 1));
  all.push_back(colour("P6 without raster", "P6 1 1 255\n", 6, 1, 1));
  all.push_back(colour("P6 of 16 bits", "P6 1 1 65535\n\x01\x02\x03\x04\x05\x06", 6, 1, 1));
  all.back().transcript[0] = class_line(6, 1, 1, 65535);

  for (const auto& [pnm_class, maximum] : {std::pair{5, 65535}, {2, 256}, {5, 1023}, {2, 4095}}) {
    const std::string max = std::to_string(maximum);
    Case deep = refused("P" + std::to_string(pnm_class) + " of maximum " + max,
                        "P" + std::to_string(pnm_class) + " 2 1 " + max + "\n",
                        "More than 8 bits per sample (maximum " + max + ").\n");
    deep.bytes += pnm_class == 5 ? std::string("\x00\x01\x00\x02", 4) : "1 2\n";
    deep.transcript.insert(deep.transcript.begin(), class_line(pnm_class, 2, 1, maximum));
    all.push_back(deep);
  }

  // Endless input ends at the header's caps, at once for a line that passes its own; each runs
  // under the time limit of the harness.
  Case zeros = not_pnm("endless NUL bytes", "");
  zeros.input = "/dev/zero";
  zeros.transcript = {out("Not a PBM/PGM/PPM file.\nNo input image ('/dev/zero')\n")};
  all.push_back(zeros);
  for (const auto& [name, feed, message] :
       {std::tuple{"endless comment", "printf 'P2\\n#'; cat /dev/zero",
                   "Bad PBM/PGM/PPM header.\n"},
        {"endless blank lines after the magic", "printf 'P2\\n'; yes ''",
         "Bad PBM/PGM/PPM header.\n"},
        {"endless blank lines before the magic", "yes ''", "Not a PBM/PGM/PPM file.\n"},
        {"endless header line", "printf 'P2 1'; yes ' ' | tr -d '\\n'",
         "Bad PBM/PGM/PPM header.\n"}}) {
    Case endless = refused(name, "", message);
    endless.feed = feed;
    endless.input = "/dev/stdin";
    endless.transcript = {out(std::string(message) + "No input image ('/dev/stdin')\n")};
    all.push_back(endless);
  }

  // Sizes no machine can hold end at once, before any pixel is touched.
  for (const auto& [cols, rows] :
       {std::pair{1, INT32_MAX}, {INT32_MAX, INT32_MAX}, {0, INT32_MAX}}) {
    const std::string size = std::to_string(cols) + " " + std::to_string(rows);
    all.push_back(
        refused("P5 of size " + size, "P5 " + size + " 255\n", "Out of storage in NEWIMAGE.\n"));
    all.back().transcript.insert(all.back().transcript.begin(), class_line(5, cols, rows, 255));
  }

  const std::string head = "P2\n#origin 0 0\n";
  all.push_back(read_as("P1 truncated", "P1 3 2\n0 1", class_line(1, 3, 2, 1),
                        head + "3 2 255\n0 1 1 \n1 1 1 \n\n"));
  all.push_back(read_as("P2 raster missing", "P2 3 1 255\n", class_line(2, 3, 1, 255),
                        head + "3 1 255\n0 0 0 \n\n"));
  all.push_back(read_as("P2 garbage token in raster", "P2 3 1 255\n1 x 3\n",
                        class_line(2, 3, 1, 255), head + "3 1 255\n1 1 1 \n\n"));
  all.push_back(read_as("P2 giant raster values", "P2 3 1 255\n99999999999 -99999999999 300\n",
                        class_line(2, 3, 1, 255), head + "3 1 255\n255 0 44 \n\n"));
  all.push_back(read_as("P4 truncated", "P4 2 2\n\xc0", class_line(4, 2, 2, 1),
                        head + "2 2 255\n1 1 \n1 1 \n\n"));
  all.push_back(read_as("P4 padding bits", "P4 3 2\n\xbf\x5f", class_line(4, 3, 2, 1),
                        head + "3 2 255\n1 0 1 \n0 1 0 \n\n"));
  all.push_back(read_as("P1 digits run together", "P1 3 2\n010\n11", class_line(1, 3, 2, 1),
                        head + "3 2 255\n0 1 0 \n1 1 1 \n\n"));
  all.push_back(read_as("CR LF header", "P2 3\r\n2\r\n255\r\n1 2 3 4 5 6\r\n",
                        class_line(2, 3, 2, 255), head + "3 2 255\n1 2 3 \n4 5 6 \n\n"));
  all.push_back(read_as("P5 truncated", "P5 2 2 255\n\x01\x02\x03", class_line(5, 2, 2, 255),
                        head + "2 2 255\n1 2 \n3 3 \n\n"));
  all.push_back(read_as("P5 raster missing", "P5 2 1 255", class_line(5, 2, 1, 255),
                        head + "2 1 255\n0 0 \n\n"));
  // A run of white space or of digits in a text raster is capped at 1 MiB, as a header line is:
  // past the cap the raster ends and the remaining pixels repeat the last value, so that endless
  // rasters end too.
  const size_t cap = size_t{1} << 20;
  const std::string p2_size = "P2 2 2 255\n";
  all.push_back(read_as("P2 white space of 1 MiB", p2_size + "1" + std::string(cap, ' ') + "2 3 4",
                        class_line(2, 2, 2, 255), head + "2 2 255\n1 2 \n3 4 \n\n"));
  all.push_back(read_as("P2 white space over 1 MiB",
                        p2_size + "1" + std::string(cap + 1, ' ') + "2 3 4",
                        class_line(2, 2, 2, 255), head + "2 2 255\n1 1 \n1 1 \n\n"));
  all.push_back(read_as("P2 number of 1 MiB of digits",
                        p2_size + "1 " + std::string(cap - 1, '0') + "7 3 4",
                        class_line(2, 2, 2, 255), head + "2 2 255\n1 7 \n3 4 \n\n"));
  all.push_back(read_as("P2 number over 1 MiB of digits",
                        p2_size + "1 " + std::string(cap, '0') + "7 3 4", class_line(2, 2, 2, 255),
                        head + "2 2 255\n1 1 \n1 1 \n\n"));
  all.push_back(read_as("P1 white space over 1 MiB",
                        "P1 2 2\n1" + std::string(cap + 1, '\n') + "0 0 0", class_line(1, 2, 2, 1),
                        head + "2 2 255\n1 1 \n1 1 \n\n"));
  for (const auto& [name, feed, pnm_class, written] :
       {std::tuple{"endless white space in a P2 raster", "printf 'P2 2 2 255\\n'; yes ' '", 2,
                   "0 0 \n0 0 \n"},
        {"endless white space in a P1 raster", "printf 'P1 2 2\\n1'; yes ' '", 1, "1 1 \n1 1 \n"},
        {"endless number in a P2 raster", "printf 'P2 2 2 255\\n'; yes 9 | tr -d '\\n'", 2,
         "0 0 \n0 0 \n"},
        {"endless number after a P2 value", "printf 'P2 2 2 255\\n5 '; yes 9 | tr -d '\\n'", 2,
         "5 5 \n5 5 \n"}}) {
    Case endless = read_as(name, "", class_line(pnm_class, 2, 2, pnm_class == 1 ? 1 : 255),
                           head + "2 2 255\n" + written + "\n");
    endless.feed = feed;
    endless.input = "/dev/stdin";
    all.push_back(endless);
  }
  all.push_back(read_as("NUL in an origin comment",
                        std::string("#origin 3\0 5\nP2 1 1 255\n7\n", 26), class_line(2, 1, 1, 255),
                        "P2\n#origin 3 0\n1 1 255\n7 \n\n"));

  const Piece burro = out("Burro!!!\n");
  all.push_back(percentages("white above 100", "100.5", "10", 3, {burro}));
  all.push_back(percentages("density above 100", "30", "100.5", 3, {burro}));
  all.push_back(percentages("white infinite", "inf", "10", 3, {burro}));
  all.push_back(percentages("density infinite", "10", "infinity", 3, {burro}));
  all.push_back(percentages("white huge", "1e39", "10", 3, {burro}));
  all.push_back(percentages("density huge", "10", "3e9", 3, {burro}));
  all.push_back(percentages("hexadecimal above 100", "0x65", "10", 3, {burro}));
  // %f reads hexadecimal: 0x10 is 16 and 0x64 is 100.
  all.push_back(
      percentages("hexadecimal", "0x10", "0x64", 0, {description("100.0", "16.0", "84.0")}));
  all.push_back(
      percentages("white not a number", "nan", "100", 0, {description("100.0", "nan", "nan")}));
  all.push_back(
      percentages("density not a number", "30", "-nan", 0, {description("-nan", "30.0", "70.0")}));
  all.push_back(percentages("white minus infinity", "-inf", "100", 0,
                            {description("100.0", "-inf", "inf")}, "0"));
  all.push_back(percentages("density minus infinity", "30", "-inf", 0,
                            {description("-inf", "30.0", "70.0")}));
  all.push_back(percentages("unparsable white", "abc", "100", 0,
                            {description("100.0", "0.0", "100.0")}, "0"));
  all.push_back(
      percentages("unparsable density", "30", "0x", 0, {description("0.0", "30.0", "70.0")}));
  all.push_back(percentages("negative white", "-10", "100", 0,
                            {description("100.0", "-10.0", "110.0")}, "0"));
  all.push_back(
      percentages("negative density", "30", "-100", 0, {description("-100.0", "30.0", "70.0")}));
  // Billions of black draws end as soon as every pixel is black.
  Case vast = percentages("hugely negative white", "-1e10", "100", 0,
                          {description("100.0", "-10000000000.0", "10000000100.0")});
  vast.bytes = "P5 5 5 255\n" + std::string(25, '\x07');
  vast.transcript[0] = class_line(5, 5, 5, 255);
  vast.written = "P2\n#origin 0 0\n5 5 255\n";
  for (int row = 0; row < 5; ++row) {
    vast.written += "0 0 0 0 0 \n";
  }
  vast.written += "\n";
  all.push_back(vast);

  Case no_directory =
      percentages("output in a missing directory", "30", "10", 2,
                  {description("10.0", "30.0", "70.0"), abort_line("Can't open output file.")});
  no_directory.output = "no/such/dir.pgm";
  all.push_back(no_directory);
  Case full = no_directory;
  full.name = "output to a full device";
  full.output = "/dev/full";
  full.transcript.back() = abort_line("Can't write output file.");
  all.push_back(full);

  // The mask and the output replace their targets together or not at all: out.pgm is the mask's
  // target or the output's, and stays as it was when the other file fails.
  const std::string usage =
      "Usage: funcao_exe <image> <output> <white points percentage> <image points percentage>\n";
  Case mask_dash = percentages("mask named -", "30", "10", 1, {});
  mask_dash.transcript = {out(usage)};
  mask_dash.options = {"--mask", "-"};
  all.push_back(mask_dash);
  Case mask_alone = mask_dash;
  mask_alone.name = "mask without its name";
  mask_alone.options = {"--mask"};
  all.push_back(mask_alone);
  Case impulse_kind = mask_dash;
  impulse_kind.name = "unknown impulse kind";
  impulse_kind.options = {"--impulse=salt"};
  impulse_kind.transcript = {out("Invalid impulse kind 'salt': give fixed or random.\n")};
  all.push_back(impulse_kind);
  Case mask_no_directory = no_directory;
  mask_no_directory.name = "mask in a missing directory";
  mask_no_directory.output = "out.pgm";
  mask_no_directory.options = {"--mask", "no/such/mask.pgm"};
  mask_no_directory.transcript.back() = abort_line("Can't open mask file.");
  all.push_back(mask_no_directory);
  Case mask_full = mask_no_directory;
  mask_full.name = "mask to a full device";
  mask_full.options = {"--mask=/dev/full"};
  mask_full.transcript.back() = abort_line("Can't write mask file.");
  all.push_back(mask_full);
  Case output_full_with_mask = full;
  output_full_with_mask.name = "output to a full device, mask kept";
  output_full_with_mask.options = {"--exact", "--mask", "out.pgm"};
  all.push_back(output_full_with_mask);
  Case output_missing_with_mask = no_directory;
  output_missing_with_mask.name = "output in a missing directory, mask kept";
  output_missing_with_mask.options = {"--mask", "out.pgm"};
  all.push_back(output_missing_with_mask);

  Case compare_noisy_size;
  compare_noisy_size.name = "pnm_compare, noisy image of another size";
  compare_noisy_size.bytes = "P2 2 1 255\n0 0\n";
  compare_noisy_size.compare_args = {"--noisy", "in.pnm", "good.pgm", "good.pgm"};
  compare_noisy_size.transcript = {
      class_line(2, 1, 1, 255), class_line(2, 1, 1, 255), class_line(2, 2, 1, 255),
      err("pnm_compare: the images differ in size: 'in.pnm' is 2 columns x 1 rows, 'good.pgm' is "
          "1 columns x 1 rows\n")};
  all.push_back(compare_noisy_size);
  Case compare_noisy_missing = compare_noisy_size;
  compare_noisy_missing.name = "pnm_compare, noisy image missing";
  compare_noisy_missing.compare_args = {"--noisy=missing.pgm", "good.pgm", "good.pgm"};
  compare_noisy_missing.transcript = {class_line(2, 1, 1, 255), class_line(2, 1, 1, 255),
                                      out(cant_open_missing),
                                      err("pnm_compare: cannot read 'missing.pgm'\n")};
  all.push_back(compare_noisy_missing);
  Case compare_noisy_alone = compare_noisy_size;
  compare_noisy_alone.name = "pnm_compare, noisy option and one image";
  compare_noisy_alone.compare_args = {"--noisy", "good.pgm", "good.pgm"};
  compare_noisy_alone.status = 1;
  compare_noisy_alone.transcript = {
      err("Usage: pnm_compare [--noisy <noisy image>] <image a> <image b>\n")};
  all.push_back(compare_noisy_alone);

  Case compare_missing;
  compare_missing.name = "pnm_compare, first input missing";
  compare_missing.compare_args = {"missing.pgm", "good.pgm"};
  compare_missing.transcript = {out(cant_open_missing),
                                err("pnm_compare: cannot read 'missing.pgm'\n")};
  all.push_back(compare_missing);
  Case compare_directory = compare_missing;
  compare_directory.name = "pnm_compare, directory";
  compare_directory.compare_args = {"good.pgm", "."};
  compare_directory.transcript = {class_line(2, 1, 1, 255),
                                  out("Can't open the PBM file named '.'\n"),
                                  err("pnm_compare: cannot read '.'\n")};
  all.push_back(compare_directory);
  Case giant = refused("giant size", "P5 1 2147483647 255\n", "Out of storage in NEWIMAGE.\n");
  giant.transcript.insert(giant.transcript.begin(), class_line(5, 1, INT32_MAX, 255));
  for (const Case& reader :
       {bad_header("letter after magic", "P2x 1 1 255\n"), not_pnm("empty file", ""), giant}) {
    Case c = reader;
    c.name = "pnm_compare, second input: " + reader.name;
    c.compare_args = {"good.pgm", "in.pnm"};
    c.transcript.insert(c.transcript.begin(), class_line(2, 1, 1, 255));
    c.transcript.back().text.erase(c.transcript.back().text.find("No input image"));
    c.transcript.push_back(err("pnm_compare: cannot read 'in.pnm'\n"));
    all.push_back(c);
  }
  // Its own line ends every refusal, the library's included.
  Case compare_colour = colour("pnm_compare, colour input", "P6 1 1 255\n\x01\x02\x03", 6, 1, 1);
  compare_colour.compare_args = {"in.pnm", "good.pgm"};
  compare_colour.transcript.back() = err("pnm_compare: cannot read 'in.pnm'\n");
  all.push_back(compare_colour);
  Case compare_deep = compare_colour;
  compare_deep.name = "pnm_compare, 16-bit input";
  compare_deep.bytes = "P5 1 1 65535\n\x01\x02";
  compare_deep.transcript = {class_line(5, 1, 1, 65535),
                             out("More than 8 bits per sample (maximum 65535).\n"),
                             err("pnm_compare: cannot read 'in.pnm'\n")};
  all.push_back(compare_deep);
  Case compare_endless = compare_colour;
  compare_endless.name = "pnm_compare, endless comment";
  compare_endless.feed = "printf 'P5\\n#'; cat /dev/zero";
  compare_endless.compare_args = {"good.pgm", "/dev/stdin"};
  compare_endless.transcript = {class_line(2, 1, 1, 255), out("Bad PBM/PGM/PPM header.\n"),
                                err("pnm_compare: cannot read '/dev/stdin'\n")};
  all.push_back(compare_endless);
  Case compare_short = compare_colour;
  compare_short.name = "pnm_compare, raster missing reads as zeros";
  compare_short.bytes = "P5 1 1 255\n";
  compare_short.status = 0;
  compare_short.transcript = {
      class_line(5, 1, 1, 255), class_line(2, 1, 1, 255),
      out("Erro 0\nErro_medio 0\nSinal_ruido nan\nPSNR inf dB\nMSE 0\nSSIM nan\nMAE 0\n")};
  all.push_back(compare_short);

  // "-" is standard input, a pipe included; "./-" is the file.
  Case dash = read_as("- as standard input", "", class_line(2, 1, 1, 255),
                      "P2\n#origin 0 0\n1 1 255\n7 \n\n");
  dash.input = "-";
  dash.feed = "printf 'P2 1 1 255\\n7\\n'";
  all.push_back(dash);
  Case dash_file = refused("./- names a file", "", "");
  dash_file.input = "./-";
  dash_file.transcript = {out("Can't open the PBM file named './-'\nNo input image ('./-')\n")};
  all.push_back(dash_file);
  Case dash_empty = not_pnm("- as an empty standard input", "");
  dash_empty.input = "-";
  dash_empty.feed = "true";
  dash_empty.transcript = {out("Not a PBM/PGM/PPM file.\nNo input image ('-')\n")};
  all.push_back(dash_empty);
  Case compare_dash = compare_short;
  compare_dash.name = "pnm_compare, - as standard input";
  compare_dash.feed = "printf 'P2 1 1 255\\n0\\n'";
  compare_dash.compare_args = {"-", "good.pgm"};
  compare_dash.transcript = {
      class_line(2, 1, 1, 255), class_line(2, 1, 1, 255),
      out("Erro 0\nErro_medio 0\nSinal_ruido nan\nPSNR inf dB\nMSE 0\nSSIM nan\nMAE 0\n")};
  all.push_back(compare_dash);

  // PNG files: refused after their class line with a reason naming a conversion, or as damaged;
  // in a build without PNG, as any other file that is not PNM.
  using testsupport::png_chunk;
  using testsupport::png_file;
  using testsupport::png_ihdr;
  const std::string grey = testsupport::grey_png(1, 1, {7});
  if (!png_programs) {
    all.push_back(not_pnm("PNG without PNG support", grey));
    return all;
  }
  const std::string to_grey = "convert it to 8-bit grey first (pngtopnm in.png";
  const std::string no_input = "No input image ('in.pnm')\n";
  for (const auto& [name, colour_type, depth, reason] :
       {std::tuple{"PNG colour", 2, 8, "PNG colour image: " + to_grey + " | ppmtopgm > in.pgm).\n"},
        {"PNG colour with alpha", 6, 8,
         "PNG colour image: " + to_grey + " | ppmtopgm > in.pgm).\n"},
        {"PNG grey with alpha", 4, 8,
         "PNG image with an alpha channel: " + to_grey + " > in.pgm).\n"},
        {"PNG 16-bit grey", 0, 16,
         "PNG image of 16 bits per sample: " + to_grey + " | pamdepth 255 > in.pgm).\n"}}) {
    Case c = refused(name, png_file(png_ihdr(3, 2, depth, colour_type), ""), "");
    c.transcript = {png_class_line(3, 2, depth), out(reason + no_input)};
    all.push_back(c);
  }
  Case palette = refused("PNG palette with a colour entry",
                         png_file(png_ihdr(1, 1, 8, 3), std::string(2, '\0'),
                                  png_chunk("PLTE", std::string("\x01\x02\x03", 3))),
                         "");
  palette.transcript = {png_class_line(1, 1, 8), out("PNG colour image: " + to_grey +
                                                     " | ppmtopgm > in.pgm).\n" + no_input)};
  all.push_back(palette);
  const std::string damaged = "Bad PNG file: cut off, or damaged.\n";
  all.push_back(refused("PNG signature only", grey.substr(0, 8), damaged));
  Case cut = refused("PNG cut off in its pixels", grey.substr(0, 40), "");
  cut.transcript = {png_class_line(1, 1, 8), out(damaged + no_input)};
  all.push_back(cut);
  Case huge = refused("PNG of 2147483647 x 2147483647 pixels",
                      png_file(png_ihdr(INT32_MAX, INT32_MAX, 8, 0), ""), "");
  huge.transcript = {png_class_line(INT32_MAX, INT32_MAX, 8),
                     out("Out of storage in NEWIMAGE.\n" + no_input)};
  all.push_back(huge);
  Case png = read_as(
      "PNG read",
      testsupport::grey_png(1, 2, {7, 9}, png_chunk("tEXt", std::string("origin\0-2 5", 11))),
      png_class_line(2, 1, 8), "P2\n#origin -2 5\n2 1 255\n7 9 \n\n");
  all.push_back(png);
  Case empty_png = percentages("PNG output of an image without pixels", "30", "10", 2, {});
  empty_png.bytes = "P2 0 3 255\n";
  empty_png.output = "out.png";
  empty_png.transcript = {class_line(2, 0, 3, 255), description("10.0", "30.0", "70.0"),
                          abort_line("An image without pixels cannot be written as PNG.")};
  all.push_back(empty_png);
  Case png_stream = png;
  png_stream.name = "PNG from - as standard input";
  png_stream.input = "-";
  png_stream.feed = "cat in.pnm";
  all.push_back(png_stream);
  Case compare_png = compare_short;
  compare_png.name = "pnm_compare, PNG colour input";
  compare_png.bytes = png_file(png_ihdr(1, 1, 8, 2), "");
  compare_png.status = 2;
  compare_png.transcript = {png_class_line(1, 1, 8),
                            out("PNG colour image: " + to_grey + " | ppmtopgm > in.pgm).\n"),
                            err("pnm_compare: cannot read 'in.pnm'\n")};
  all.push_back(compare_png);
  return all;
}

class BadInputTest : public testsupport::TempDirTest {};

}  // namespace

TEST_F(BadInputTest, EachEndsWithItsMessagesStatusAndOutput) {
  const bool windows = testsupport::program_system() == "Windows";
  const bool wasm = testsupport::program_system() == "Emscripten";
  for (const Case& c : cases(programs_have_png())) {
    SCOPED_TRACE(c.name);
    if (windows && names_stdin(c)) {
      std::printf("not on Windows: %s (/dev/stdin)\n", c.name.c_str());
      continue;
    }
    if (wasm && names_stdin(c)) {
      // Emscripten's raw file access under node reads every file at an offset; a pipe refuses.
      std::printf("not on wasm: %s (/dev/stdin, a pipe)\n", c.name.c_str());
      continue;
    }
    file("in.pnm", c.bytes);
    std::string out_text;
    std::string err_text;
    std::string all_text;
    for (const Piece& piece : c.transcript) {
      (piece.stream == Stream::out ? out_text : err_text) += piece.text;
      all_text += piece.text;
    }
    file("good.pgm", kGood);
    const bool compare = !c.compare_args.empty();
    std::vector<std::string> args = c.options;
    if (compare) {
      args = c.compare_args;
    } else {
      args.insert(args.end(), {c.input, c.output, c.percentages[0], c.percentages[1]});
    }
    const std::string program = compare ? kCompare : kExe;
    for (const bool merged : {false, true}) {
      file("out.pgm", kKept);
      std::vector<std::string> shell_args{"-c", "{ " + c.feed + "; } | exec \"$0\" \"$@\"",
                                          program};
      shell_args.insert(shell_args.end(), args.begin(), args.end());
      const RunResult r =
          c.feed.empty() ? run(program, args, merged, 60) : run("/bin/sh", shell_args, merged, 60);
      EXPECT_FALSE(r.timed_out);
      EXPECT_EQ(r.status, c.status);
      if (merged) {
        EXPECT_EQ(r.out, all_text);
      } else {
        EXPECT_EQ(r.out, out_text);
        EXPECT_EQ(r.err, err_text);
      }
      EXPECT_EQ(slurp(dir_ / "out.pgm"), c.written);
    }
  }
}

TEST_F(BadInputTest, CompareResultsThatCannotBeWrittenAreAFailure) {
  file("good.pgm", kGood);
  const RunResult r =
      run("/bin/sh", {"-c", "exec \"$0\" \"$@\" >/dev/full", kCompare, "good.pgm", "good.pgm"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, class_line(2, 1, 1, 255).text + class_line(2, 1, 1, 255).text +
                       "pnm_compare: cannot write the results\n");
}

TEST_F(BadInputTest, FailedRunsCreateNoOutput) {
  file("in.pnm", "P3 1 1 255\n1 2 3\n");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"missing.pgm", "new.pgm", "30", "10"},
           {"in.pnm", "new.pgm", "30", "10"},
           {TEST_DATA_DIR "/realfiles/hopper_8bit.pgm", "new.pgm", "101", "10"}}) {
    EXPECT_NE(run(kExe, args).status, 0) << args[0];
    EXPECT_FALSE(std::filesystem::exists(dir_ / "new.pgm")) << args[0];
  }
}

// An in-place run whose output cannot be written whole, on a full file system (a small tmpfs,
// where mounting is allowed) and under a file size limit, keeps its input and leaves nothing else.
TEST_F(BadInputTest, InPlaceRunThatCannotWriteKeepsTheInput) {
  const std::string input = "P5 100 100 255\n" + std::string(10000, '\x80');
  const std::string small = (dir_ / "small").string();
  std::filesystem::create_directory(small);
  const bool mounted =
      std::system(("mount -t tmpfs -o size=32k tmpfs '" + small + "' 2>/dev/null").c_str()) == 0;
  for (const bool full_disk : {true, false}) {
    if (full_disk && !mounted) {
      std::printf("no tmpfs could be mounted here: the full disk is not tried\n");
      continue;
    }
    SCOPED_TRACE(full_disk ? "full disk" : "file size limit");
    const std::string v = small + "/v.pgm";
    testsupport::spit(v, input);
    const std::string limit = full_disk ? "" : "ulimit -f 20; trap '' XFSZ; ";
    const RunResult r = run("/bin/sh", {"-c", limit + "exec \"$0\" \"$1\" \"$1\" 30 10", kExe, v});
    EXPECT_EQ(r.status, 2);
    // A coverage build's own counters cannot be saved under the file size limit either.
    std::string err = r.err;
    for (size_t at = 0; (at = err.find("libgcov profiling error")) != std::string::npos;) {
      err.erase(at, err.find('\n', at) + 1 - at);
    }
    EXPECT_EQ(err, class_line(5, 100, 100, 255).text + abort_line("Can't write output file.").text);
    EXPECT_EQ(slurp(v), input);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(small)) {
      left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"v.pgm"});
    std::filesystem::remove(v);
  }
  if (mounted) {
    EXPECT_EQ(std::system(("umount '" + small + "'").c_str()), 0);
  }
}

// A replaced file keeps its permission bits, a new one gets 0666 less the umask, a symbolic link
// stays a link to the new text, and a file with a second name is written in place, so both
// names see the new text.
TEST_F(BadInputTest, ReplacedOutputsKeepModesLinksAndNames) {
  if (testsupport::program_system() == "Windows") {
    GTEST_SKIP() << "permission bits, the umask and symbolic links are POSIX's; under wine a Unix "
                    "link is no Windows link (a reparse point)";
  }
  file("in.pgm", "P2 1 1 255\n7\n");
  const std::string written = "P2\n#origin 0 0\n1 1 255\n7 \n\n";
  const std::filesystem::path old_file = file("old.pgm", kKept);
  std::filesystem::permissions(old_file, std::filesystem::perms(0604));
  file("target.pgm", kKept);
  std::filesystem::create_symlink("target.pgm", dir_ / "link.pgm");
  file("twice.pgm", kKept);
  std::filesystem::create_hard_link(dir_ / "twice.pgm", dir_ / "other_name.pgm");
  for (const std::string output : {"old.pgm", "new.pgm", "link.pgm", "twice.pgm"}) {
    EXPECT_EQ(
        run("/bin/sh", {"-c", "umask 027; exec \"$0\" in.pgm \"$1\" 30 0", kExe, output}).status, 0)
        << output;
    EXPECT_EQ(slurp(dir_ / output), written) << output;
  }
  EXPECT_EQ(std::filesystem::status(old_file).permissions(), std::filesystem::perms(0604));
  EXPECT_EQ(std::filesystem::status(dir_ / "new.pgm").permissions(), std::filesystem::perms(0640));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.pgm"));
  EXPECT_EQ(slurp(dir_ / "target.pgm"), written);
  EXPECT_EQ(slurp(dir_ / "other_name.pgm"), written);
  EXPECT_EQ(std::filesystem::hard_link_count(dir_ / "twice.pgm"), 2u);
}

// On every system: an old file is replaced and a new one made, with no other file left behind,
// and a file with a second name is written in place, so both names see the new text.
TEST_F(BadInputTest, OutputsAreReplacedOrWrittenInPlaceWhenTheyHaveOtherNames) {
  file("in.pgm", "P2 1 1 255\n7\n");
  const std::string written = "P2\n#origin 0 0\n1 1 255\n7 \n\n";
  file("old.pgm", kKept);
  file("twice.pgm", kKept);
  std::filesystem::create_hard_link(dir_ / "twice.pgm", dir_ / "other_name.pgm");
  for (const std::string output : {"old.pgm", "new.pgm", "twice.pgm"}) {
    EXPECT_EQ(run(kExe, {"in.pgm", output, "30", "0"}).status, 0) << output;
    EXPECT_EQ(slurp(dir_ / output), written) << output;
  }
  EXPECT_EQ(slurp(dir_ / "other_name.pgm"), written);
  EXPECT_EQ(std::filesystem::hard_link_count(dir_ / "twice.pgm"), 2u);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in.pgm", "new.pgm", "old.pgm", "other_name.pgm",
                                             "twice.pgm"}));
}

// An output path naming the file standard output already is (a file, or a pipe) gets the image
// alone there; every message goes to standard error instead. A reader that goes away early is a
// failed write.
TEST_F(BadInputTest, OutputNamedAsStandardOutputHoldsOnlyTheImage) {
  if (testsupport::program_system() == "Emscripten") {
    GTEST_SKIP() << "a wasm program's standard streams under node are not the host's descriptors: "
                    "it cannot tell that a path names its standard output, nor move its messages";
  }
  file("in.pgm", "P5 400 300 255\n" + std::string(400 * 300, '\x80'));
  ASSERT_EQ(run(kExe, {"in.pgm", "reference.pgm", "30", "10"}).status, 0);
  const std::string image = slurp(dir_ / "reference.pgm");
  const std::string messages =
      class_line(5, 400, 300, 255).text + description("10.0", "30.0", "70.0").text;
  // Windows has neither /dev/stdout nor a path for a pipe: there, only a file is named.
  const bool windows = testsupport::program_system() == "Windows";
  for (const auto& [command, output] :
       {std::pair{"exec \"$0\" in.pgm /dev/stdout 30 10 >image.pgm", "/dev/stdout"},
        {"exec \"$0\" in.pgm image.pgm 30 10 >image.pgm", "image.pgm"},
        {"\"$0\" in.pgm /dev/stdout 30 10 | cat >image.pgm", "/dev/stdout"}}) {
    if (windows && std::string(output) == "/dev/stdout") {
      continue;
    }
    const RunResult r = run("/bin/sh", {"-c", command, kExe});
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_EQ(r.out, "") << command;
    EXPECT_EQ(r.err, messages + success(output).text) << command;
    EXPECT_EQ(slurp(dir_ / "image.pgm"), image) << command;
  }
  if (!windows) {
    const RunResult closed =
        run("/bin/sh",
            {"-c", "{ \"$0\" in.pgm /dev/stdout 30 10; echo $? >status; } | head -c 1 >/dev/null",
             kExe});
    EXPECT_EQ(closed.err, messages + abort_line("Can't write output file.").text);
    EXPECT_EQ(slurp(dir_ / "status"), "2\n");
  }
  // The null device stays an ordinary output.
  const std::string null_device = windows ? "NUL" : "/dev/null";
  const RunResult null =
      run("/bin/sh", {"-c", "exec \"$0\" in.pgm \"$1\" 30 10 >/dev/null", kExe, null_device});
  EXPECT_EQ(null.status, 0);
  EXPECT_EQ(null.err, class_line(5, 400, 300, 255).text);
}

// "-" as the output is standard output, whatever it is: the image alone there, the messages on
// standard error, the stream's own mode kept (an append redirection appends); "./-" is a file.
TEST_F(BadInputTest, DashAsOutputIsStandardOutputInItsOwnMode) {
  if (testsupport::program_system() == "Emscripten") {
    GTEST_SKIP() << "a wasm program's standard streams under node are not the host's descriptors";
  }
  file("in.pgm", "P5 40 30 255\n" + std::string(40 * 30, '\x80'));
  ASSERT_EQ(run(kExe, {"in.pgm", "reference.pgm", "30", "10"}).status, 0);
  const std::string image = slurp(dir_ / "reference.pgm");
  const std::string messages =
      class_line(5, 40, 30, 255).text + description("10.0", "30.0", "70.0").text;
  file("image.pgm", kKept);
  for (const auto& [command, expected] : {std::pair{"exec \"$0\" in.pgm - 30 10 >image.pgm", image},
                                          {"exec \"$0\" in.pgm - 30 10 >>image.pgm", image + image},
                                          {"\"$0\" in.pgm - 30 10 | cat >image.pgm", image}}) {
    const RunResult r = run("/bin/sh", {"-c", command, kExe});
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_EQ(r.out, "") << command;
    EXPECT_EQ(r.err, messages + success("-").text) << command;
    EXPECT_EQ(slurp(dir_ / "image.pgm"), expected) << command;
  }
  const RunResult named = run(kExe, {"in.pgm", "./-", "30", "10"});
  EXPECT_EQ(named.status, 0);
  EXPECT_EQ(slurp(dir_ / "-"), image);
}

namespace {

// The names in directory, sorted.
std::vector<std::string> names_in(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A coverage build's own counters cannot be saved under a file size limit, nor by another user.
std::string without_coverage_errors(std::string text) {
  for (const char* report : {"libgcov profiling error", "profiling:"}) {
    for (size_t at = 0; (at = text.find(report)) != std::string::npos;) {
      text.erase(at, text.find('\n', at) + 1 - at);
    }
  }
  return text;
}

const std::string kWritten = "P2\n#origin 0 0\n1 1 255\n7 \n\n";           // in.pgm with density 0
const std::string kBig = "P5 100 100 255\n" + std::string(10000, '\x80');  // 40 KB of P2 text
// Runs the command in the shell under a file size limit that the big input's text exceeds.
const std::string kLimited = "ulimit -f 20; trap '' XFSZ; exec \"$0\" big.pgm \"$1\" 30 10";

bool posix_programs() {
  const std::string system = testsupport::program_system();
  return system != "Windows" && system != "Emscripten";
}

}  // namespace

// A name whose temporary file would pass the limits, of a name (255 bytes) or of a path (4096),
// is still replaced only once complete.
TEST_F(BadInputTest, LongNamesAreReplacedWholeOrNotAtAll) {
  if (!posix_programs()) {
    GTEST_SKIP() << "the file size limit and the name limits tried are POSIX's";
  }
  file("big.pgm", kBig);
  file("in.pgm", "P2 1 1 255\n7\n");
  const std::string long_name(250, 'q');
  file(long_name, kKept);
  RunResult r = run("/bin/sh", {"-c", kLimited, kExe, long_name});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(slurp(dir_ / long_name), kKept);
  EXPECT_EQ(names_in(dir_), (std::vector<std::string>{"big.pgm", "in.pgm", long_name}));
  EXPECT_EQ(run(kExe, {"in.pgm", long_name, "30", "0"}).status, 0);
  EXPECT_EQ(slurp(dir_ / long_name), kWritten);

  // 20 directories of 200 letters and one of 70, then a one-letter name: 4092 bytes from the
  // scratch directory, which the test works in, since the whole path from / passes PATH_MAX.
  std::string deep;
  for (int i = 0; i < 20; ++i) {
    deep += std::string(200, 'd') + "/";
  }
  deep += std::string(70, 'd');
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  std::filesystem::create_directories(deep);
  const std::string name = deep + "/o";
  testsupport::spit(name, kKept);
  r = run("/bin/sh", {"-c", kLimited, kExe, name});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(slurp(name), kKept);
  EXPECT_EQ(names_in(deep), std::vector<std::string>{"o"});
  EXPECT_EQ(run(kExe, {"in.pgm", name, "30", "0"}).status, 0);
  EXPECT_EQ(slurp(name), kWritten);
  EXPECT_EQ(names_in(deep), std::vector<std::string>{"o"});
  std::filesystem::remove_all(std::string(200, 'd'));
  std::filesystem::current_path(home);
}

// A link to a file that does not exist yet makes that file, in the link's target directory
// (relative to the link's own), only by renaming a complete one into place: a failed run leaves
// nothing there. The links stay links.
TEST_F(BadInputTest, LinksToNoFileMakeItOnlyWhenComplete) {
  if (!posix_programs()) {
    GTEST_SKIP() << "symbolic links, the umask and the file size limit are POSIX's";
  }
  file("big.pgm", kBig);
  file("in.pgm", "P2 1 1 255\n7\n");
  std::filesystem::create_directories(dir_ / "links");
  std::filesystem::create_directories(dir_ / "small");
  std::filesystem::create_symlink("../small/new.pgm", dir_ / "links" / "first");
  std::filesystem::create_symlink("links/first", dir_ / "second");
  const bool mounted = std::system(("mount -t tmpfs -o size=32k tmpfs '" +
                                    (dir_ / "small").string() + "' 2>/dev/null")
                                       .c_str()) == 0;
  for (const bool full_disk : {true, false}) {
    if (full_disk && !mounted) {
      std::printf("no tmpfs could be mounted here: the full disk is not tried\n");
      continue;
    }
    SCOPED_TRACE(full_disk ? "full disk" : "file size limit");
    const std::string command = full_disk ? "exec \"$0\" big.pgm \"$1\" 30 10" : kLimited;
    const RunResult r = run("/bin/sh", {"-c", command, kExe, "second"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(without_coverage_errors(r.err),
              class_line(5, 100, 100, 255).text + abort_line("Can't write output file.").text);
    EXPECT_EQ(names_in(dir_ / "small"), std::vector<std::string>{});
  }
  EXPECT_EQ(run("/bin/sh", {"-c", "umask 027; exec \"$0\" in.pgm second 30 0", kExe}).status, 0);
  EXPECT_EQ(slurp(dir_ / "small" / "new.pgm"), kWritten);
  EXPECT_EQ(std::filesystem::status(dir_ / "small" / "new.pgm").permissions(),
            std::filesystem::perms(0640));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "second"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "links" / "first"));
  EXPECT_EQ(names_in(dir_ / "small"), std::vector<std::string>{"new.pgm"});
  // A link into a directory that does not exist makes nothing anywhere.
  std::filesystem::create_symlink("nowhere/new.pgm", dir_ / "lost");
  const RunResult lost = run(kExe, {"in.pgm", "lost", "30", "0"});
  EXPECT_EQ(lost.status, 2);
  EXPECT_EQ(lost.err, class_line(2, 1, 1, 255).text + abort_line("Can't open output file.").text);
  // Nor does a loop of links.
  std::filesystem::create_symlink("loop_b", dir_ / "loop_a");
  std::filesystem::create_symlink("loop_a", dir_ / "loop_b");
  const RunResult loop = run(kExe, {"in.pgm", "loop_a", "30", "0"});
  EXPECT_EQ(loop.status, 2);
  EXPECT_EQ(loop.err, lost.err);
  if (mounted) {
    EXPECT_EQ(std::system(("umount '" + (dir_ / "small").string() + "'").c_str()), 0);
  }
}

namespace {

// A directory under the build tree, which another user can reach (unlike a scratch directory
// under /tmp with a private mode) and whose file system keeps user attributes (which a tmpfs may
// refuse). Runs as nobody need root; a test says why it skips.
class SharedDirectoryTest : public BadInputTest {
 protected:
  void SetUp() override {
    BadInputTest::SetUp();
    shared_ = std::filesystem::path(TEST_BUILD_DIR) / ("shared-" + dir_.filename().string());
    std::filesystem::create_directory(shared_);
    std::filesystem::permissions(shared_, std::filesystem::perms(0755));
    testsupport::spit(shared_ / "in.pgm", "P2 1 1 255\n7\n");
    std::filesystem::permissions(shared_ / "in.pgm", std::filesystem::perms(0644));
  }
  void TearDown() override {
    std::filesystem::remove_all(shared_);
    BadInputTest::TearDown();
  }

  static const char* why_not_as_nobody() {
    if (!posix_programs()) {
      return "another user's runs are tried on POSIX systems only";
    }
#if defined(IMAGENOISE_TEST_PROCESSES)
    if (geteuid() != 0) {
      return "only root can run the command as another user (nobody) here";
    }
#endif
    if (std::system("command -v setpriv >/dev/null") != 0) {
      return "setpriv (util-linux) is missing";
    }
    return nullptr;
  }

  // The command as nobody, from directory, on in.pgm with density 0.
  RunResult as_nobody(const std::filesystem::path& directory, const std::string& output) const {
    return run("/bin/sh", {"-c",
                           "cd \"$1\" && exec setpriv --reuid=65534 --regid=65534 --clear-groups "
                           "\"$0\" \"$2\" \"$3\" 30 0",
                           kExe, directory.string(), (shared_ / "in.pgm").string(), output});
  }

  std::filesystem::path shared_;
};

void owned_by(const std::filesystem::path& path, const std::string& owner) {
  ASSERT_EQ(std::system(("chown -h " + owner + " '" + path.string() + "'").c_str()), 0) << path;
}

}  // namespace

// In a sticky directory anyone may write (as /tmp), a link to no file is followed only when it
// belongs to the user running the command or to the directory's owner, as the kernel's
// fs.protected_symlinks rule has it; and where the kernel refuses to open a link's file, the run
// is refused, the file untouched.
TEST_F(SharedDirectoryTest, StickyDirectoriesFollowOnlyTrustedLinks) {
  if (const char* reason = why_not_as_nobody()) {
    GTEST_SKIP() << reason;
  }
  const std::filesystem::path sticky = shared_ / "sticky";
  std::filesystem::create_directory(sticky);
  std::filesystem::permissions(sticky, std::filesystem::perms(01777));
  for (const auto& [link, owner] :
       {std::pair{"planted", "daemon"}, {"own", "nobody"}, {"by_directory_owner", "root"}}) {
    std::filesystem::create_symlink(std::string(link) + ".pgm", sticky / link);
    owned_by(sticky / link, owner);
  }
  const std::string refused = abort_line("Can't open output file.").text;
  RunResult r = as_nobody(sticky, "planted");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(without_coverage_errors(r.err), class_line(2, 1, 1, 255).text + refused);
  EXPECT_FALSE(std::filesystem::exists(sticky / "planted.pgm"));
  for (const std::string link : {"own", "by_directory_owner"}) {
    EXPECT_EQ(as_nobody(sticky, link).status, 0) << link;
    EXPECT_EQ(slurp(sticky / (link + ".pgm")), kWritten) << link;
  }
  // A file nobody may write, in a directory nobody may not add to, is written in place.
  testsupport::spit(shared_ / "in_place.pgm", kKept);
  owned_by(shared_ / "in_place.pgm", "nobody:nogroup");
  EXPECT_EQ(as_nobody(shared_, "in_place.pgm").status, 0);
  EXPECT_EQ(slurp(shared_ / "in_place.pgm"), kWritten);
  EXPECT_EQ(names_in(sticky),
            (std::vector<std::string>{"by_directory_owner", "by_directory_owner.pgm", "own",
                                      "own.pgm", "planted"}));

  // The kernel's refusal: a file nobody may not write, and (where the kernel protects links) a
  // planted link to a file nobody may write.
  testsupport::spit(sticky / "root.pgm", kKept);
  std::filesystem::permissions(sticky / "root.pgm", std::filesystem::perms(0644));
  std::filesystem::create_symlink("root.pgm", sticky / "to_root");
  owned_by(sticky / "to_root", "nobody");
  r = as_nobody(sticky, "to_root");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(without_coverage_errors(r.err), class_line(2, 1, 1, 255).text + refused);
  EXPECT_EQ(slurp(sticky / "root.pgm"), kKept);
  if (slurp("/proc/sys/fs/protected_symlinks") != "1\n") {
    std::printf(
        "fs.protected_symlinks is off here: the kernel's refusal of a planted link to an "
        "existing file is not tried\n");
    return;
  }
  testsupport::spit(sticky / "victim.pgm", kKept);
  owned_by(sticky / "victim.pgm", "nobody:nogroup");
  std::filesystem::create_symlink("victim.pgm", sticky / "planted_to_file");
  owned_by(sticky / "planted_to_file", "daemon");
  r = as_nobody(sticky, "planted_to_file");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(without_coverage_errors(r.err), class_line(2, 1, 1, 255).text + refused);
  EXPECT_EQ(slurp(sticky / "victim.pgm"), kKept);
}

// A replaced file keeps its ACL and extended attributes; when the new file cannot take them, the
// run fails and the old file stays as it was, with nothing left beside it.
TEST_F(SharedDirectoryTest, ReplacedFilesKeepTheirAclAndAttributes) {
  if (!posix_programs()) {
    GTEST_SKIP() << "ACLs and extended attributes are tried on POSIX systems only";
  }
  const std::filesystem::path target = shared_ / "target.pgm";
  testsupport::spit(target, kKept);
  std::filesystem::permissions(target, std::filesystem::perms(0640));
  const std::string quoted = "'" + target.string() + "'";
  if (std::system(("setfacl -m u::rw,u:nobody:rw,g::r,m::rw " + quoted + " 2>/dev/null && " +
                   "setfattr -n user.tag -v hello " + quoted + " 2>/dev/null")
                      .c_str()) != 0) {
    GTEST_SKIP() << "setfacl and setfattr (Debian acl, attr) are missing, or this file system "
                    "takes no ACL or user attribute";
  }
  const std::vector<std::string> dump{"-c", "getfattr -d -m - -e hex --absolute-names \"$0\"",
                                      target.string()};
  const std::string before = run("/bin/sh", dump).out;
  ASSERT_NE(before.find("system.posix_acl_access"), std::string::npos);
  ASSERT_NE(before.find("user.tag"), std::string::npos);
  EXPECT_EQ(run(kExe, {(shared_ / "in.pgm").string(), target.string(), "30", "0"}).status, 0);
  EXPECT_EQ(slurp(target), kWritten);
  EXPECT_EQ(run("/bin/sh", dump).out, before);
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0660));

  // A file capability only a privileged user may set: nobody's run cannot carry it over.
  if (const char* reason = why_not_as_nobody()) {
    GTEST_SKIP() << reason;
  }
  const std::filesystem::path own = shared_ / "nobody";
  std::filesystem::create_directory(own);
  owned_by(own, "nobody:nogroup");
  const std::filesystem::path capable = own / "capable.pgm";
  testsupport::spit(capable, kKept);
  owned_by(capable, "nobody:nogroup");
  if (std::system(("setfattr -n security.capability -v "
                   "0x0000000200200000000000000000000000000000 '" +
                   capable.string() + "' 2>/dev/null")
                      .c_str()) != 0) {
    GTEST_SKIP() << "this file system or container takes no file capability";
  }
  const RunResult r = as_nobody(own, "capable.pgm");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(without_coverage_errors(r.err),
            class_line(2, 1, 1, 255).text +
                abort_line("Can't keep the output file's ACL and attributes.").text);
  EXPECT_EQ(slurp(capable), kKept);
  EXPECT_EQ(names_in(own), std::vector<std::string>{"capable.pgm"});
}

#if defined(IMAGENOISE_TEST_PROCESSES)
// A run ended by a signal while it writes removes its temporary file, leaves the old file as it
// was, and ends as the signal ends a process. The signal is sent once the temporary file exists.
TEST_F(BadInputTest, SignalsDuringTheWriteLeaveNothingBehind) {
  if (!posix_programs()) {
    GTEST_SKIP() << "signals from outside are POSIX's";
  }
  // 16 million pixels: some 64 MB of text, which takes a while to write.
  file("big.pgm", "P5 4000 4000 255\n" + std::string(size_t{4000} * 4000, '\x80'));
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    file("out.pgm", kKept);
    const std::vector<std::string> before = names_in(dir_);
    const pid_t pid = fork();
    if (pid == 0) {
      const int null_fd = open("/dev/null", O_WRONLY);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
      if (chdir(dir_.c_str()) != 0) {
        _exit(127);
      }
      execl(kExe.c_str(), kExe.c_str(), "big.pgm", "out.pgm", "30", "0", nullptr);
      _exit(127);
    }
    // Polled without a pause: the write may be short on a fast machine. A run that would not
    // end is killed after a minute.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int wstatus = 0;
    bool ended = false;
    bool sent = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
      ended = waitpid(pid, &wstatus, WNOHANG) == pid;
      if (!ended && !sent && names_in(dir_).size() > before.size()) {
        sent = kill(pid, signal_number) == 0;
      }
    }
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
    }
    ASSERT_TRUE(sent) << "the run ended before its temporary file was seen";
    EXPECT_TRUE(WIFSIGNALED(wstatus));
    EXPECT_EQ(WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0, signal_number);
    EXPECT_EQ(slurp(dir_ / "out.pgm"), kKept);
    EXPECT_EQ(names_in(dir_), before);
  }
}
#endif

// An output that is the file standard output was opened on, without truncation (1<>) or to
// append (>>), holds the image alone, also when the output is the input too.
TEST_F(BadInputTest, StandardOutputOpenedToUpdateOrAppendHoldsTheImageAlone) {
  if (!posix_programs()) {
    GTEST_SKIP() << "a Windows or wasm program cannot tell that a path names its standard output "
                    "opened by a Unix shell";
  }
  file("in.pgm", "P2 1 1 255\n7\n");
  const std::string padded = "P2 2 1 255\n7" + std::string(100, ' ') + "8\n";
  const std::string messages =
      class_line(2, 1, 1, 255).text + description("0.0", "30.0", "70.0").text;
  for (const std::string redirection : {"1<>old.pgm", ">>old.pgm"}) {
    SCOPED_TRACE(redirection);
    file("old.pgm", std::string(5000, 'x'));
    RunResult r = run("/bin/sh", {"-c", "exec \"$0\" in.pgm old.pgm 30 0 " + redirection, kExe});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, messages + success("old.pgm").text);
    EXPECT_EQ(slurp(dir_ / "old.pgm"), kWritten);
    file("old.pgm", padded);
    r = run("/bin/sh", {"-c", "exec \"$0\" old.pgm old.pgm 30 0 " + redirection, kExe});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(slurp(dir_ / "old.pgm"), "P2\n#origin 0 0\n2 1 255\n7 8 \n\n");
  }
}

// A link the system follows to something its text does not name, as /dev/fd/3 to a pipe, is
// written as the system reaches it.
TEST_F(BadInputTest, DescriptorLinksToPipesAreWrittenAsReached) {
  if (!posix_programs()) {
    GTEST_SKIP() << "/dev/fd is a POSIX system's";
  }
  file("in.pgm", "P2 1 1 255\n7\n");
  const RunResult r =
      run("/bin/sh",
          {"-c", "{ \"$0\" in.pgm /dev/fd/3 30 0 3>&1 >/dev/null; } | cat >piped.pgm", kExe});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(slurp(dir_ / "piped.pgm"), kWritten);
}
