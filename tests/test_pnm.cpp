// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "imagelib/file_ptr.h"
#include "support.h"

using testsupport::pixels_of;
using testsupport::slurp;

namespace {

class PnmTest : public testsupport::TempDirTest {
 protected:
  void TearDown() override {
    freeimage(image_);
    PBM_SE_ORIGIN_ROW = 0;
    PBM_SE_ORIGIN_COL = 0;
    TempDirTest::TearDown();
  }

  // Reads bytes through Input_PBM, keeping what it printed on each stream.
  Image* read(const std::string& bytes) {
    const std::string path = file("in.pnm", bytes);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    freeimage(image_);
    image_ = Input_PBM(path.c_str());
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return image_;
  }

  std::string written(Image* image) {
    const std::string path = (dir_ / "out.pgm").string();
    Output_PBM(image, path.c_str());
    return slurp(path);
  }

  Image* image_ = nullptr;
  std::string out_;
  std::string err_;
};

using imagelib_detail::FilePtr;

std::vector<int> seq(std::initializer_list<int> values) {
  return values;
}

}  // namespace

// Each status has a sentence of its own; the reader's refusals and the writer's failure read as
// the classic calls print them.
TEST(ImageStatusText, EveryStatusHasItsOwnSentence) {
  std::vector<std::string> texts;
  for (int value = 0; value <= static_cast<int>(ImageStatus::write_error); ++value) {
    const std::string text = image_strerror(static_cast<ImageStatus>(value));
    EXPECT_EQ(text.back(), '.') << value;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
  EXPECT_STREQ(image_strerror(ImageStatus::not_pnm), "Not a PBM/PGM/PPM file.");
  EXPECT_STREQ(image_strerror(ImageStatus::bad_header), "Bad PBM/PGM/PPM header.");
  EXPECT_STREQ(image_strerror(ImageStatus::colour), "Colour image.");
  EXPECT_STREQ(image_strerror(ImageStatus::write_error), "Can't write output file.");
  EXPECT_STREQ(image_strerror(static_cast<ImageStatus>(99)), "Unknown status.");
}

TEST_F(PnmTest, ReadsP2WithHeaderOnMagicLine) {
  ASSERT_NE(read("P2 3 2 255\n1 2 3 4 5 6\n"), nullptr);
  EXPECT_EQ(image_->dims->cols, 3);
  EXPECT_EQ(image_->dims->rows, 2);
  EXPECT_EQ(pixels_of(image_), seq({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(err_, "\nPBM file class 2 size 3 columns X 2 rows Max=255\n");
  EXPECT_EQ(out_, "");
}

TEST_F(PnmTest, SkipsBlankAndCommentLinesBetweenHeaderNumbers) {
  ASSERT_NE(read("#c\n\nP2\n3\n#c\n2\n\n# c\n255\n1 2 3\n4 5 6\n"), nullptr);
  EXPECT_EQ(pixels_of(image_), seq({1, 2, 3, 4, 5, 6}));
}

TEST_F(PnmTest, OriginCommentRules) {
  struct Case {
    const char* comment;
    int32_t col, row;
  };
  for (const Case& c : {Case{"#origin 4 7", 4, 7},
                        {"#ORIGIN 4 7", 4, 7},
                        {"# origin 4 7", 0, 0},
                        {"#origin 4", 4, 0},
                        {"#origin\t4 7", 0, 0},
                        {"#origin -3 +5", -3, 5},
                        {"#originx 4 7", 0, 0},
                        {"#orig1n 4 7", 0, 0},
                        {"#origin x 7", 0, 0},
                        {"#origin 99999999999 -99999999999", INT32_MAX, INT32_MIN}}) {
    ASSERT_NE(read(std::string(c.comment) + "\nP2 1 1 255\n9\n"), nullptr) << c.comment;
    EXPECT_EQ(image_->dims->origin_col, c.col) << c.comment;
    EXPECT_EQ(image_->dims->origin_row, c.row) << c.comment;
  }
  ASSERT_NE(read("P2 1\n#origin 3 5\n1 255\n9\n"), nullptr);
  EXPECT_EQ(image_->dims->origin_col, 3);
}

TEST_F(PnmTest, PendingOriginSurvivesARefusedReadAndResetsAfterAnImage) {
  EXPECT_EQ(read("#origin 1 2\nP7\n"), nullptr);
  ASSERT_NE(read("P2 1 1 255\n9\n"), nullptr);
  EXPECT_EQ(image_->dims->origin_col, 1);
  EXPECT_EQ(image_->dims->origin_row, 2);
  ASSERT_NE(read("P2 1 1 255\n9\n"), nullptr);
  EXPECT_EQ(image_->dims->origin_col, 0);
  EXPECT_EQ(image_->dims->origin_row, 0);
}

TEST_F(PnmTest, ReadsBitmapsAsTheyStandWithMaximumOne) {
  ASSERT_NE(read("P1\n2 2\n0 1\n1 0\n"), nullptr);
  EXPECT_EQ(pixels_of(image_), seq({0, 1, 1, 0}));
  EXPECT_EQ(err_, "\nPBM file class 1 size 2 columns X 2 rows Max=1\n");
}

// netpbm runs a row's digits together; each digit is a pixel, with or without white space.
TEST_F(PnmTest, PlainBitmapDigitsAreOnePixelEach) {
  struct Case {
    std::string bytes;
    std::vector<int> pixels;
  };
  for (const Case& c : {Case{"P1\n3 2\n010\n110\n", {0, 1, 0, 1, 1, 0}},
                        {"P1 3 2\n0 1\t0\r\n1\n\n1 0", {0, 1, 0, 1, 1, 0}},
                        {"P1 3 2\n0110", {0, 1, 1, 0, 0, 0}},
                        {"P1 3 2\n01 2 1", {0, 1, 1, 1, 1, 1}},
                        {"P1 3 2\n01-1", {0, 1, 1, 1, 1, 1}},
                        {"P1 3 1\n# not a comment here\n1", {0, 0, 0}},
                        {"P1 3 1\n", {0, 0, 0}}}) {
    ASSERT_NE(read(c.bytes), nullptr) << c.bytes;
    EXPECT_EQ(pixels_of(image_), c.pixels) << c.bytes;
  }
}

// Eight pixels to a byte, most significant bit first; each row starts on a new byte, and the
// padding bits are never pixels.
TEST_F(PnmTest, RawBitmapBitsAreUnpackedRowByRow) {
  struct Case {
    std::string bytes;
    std::vector<int> pixels;
  };
  for (const Case& c :
       {Case{std::string("P4 3 2\n\xbf\x40", 9), {1, 0, 1, 0, 1, 0}},
        {std::string("P4 10 1\n\x81\xff", 10), {1, 0, 0, 0, 0, 0, 0, 1, 1, 1}},
        {std::string("P4 8 2\n\x0f", 8), {0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {std::string("P4 9 2\n\xf0\x00\x01", 10),
         {1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1}},
        {std::string("P4 2 2\n", 7), {0, 0, 0, 0}}}) {
    ASSERT_NE(read(c.bytes), nullptr) << c.bytes;
    EXPECT_EQ(pixels_of(image_), c.pixels) << c.bytes;
    EXPECT_NE(err_.find("Max=1\n"), std::string::npos);
  }
}

TEST_F(PnmTest, AsciiValuesKeepTheLowEightBitsOfTheirClampedInteger) {
  ASSERT_NE(read("P2 6 1 255\n300 -1 +7 99999999999 -99999999999\t\r\v\f 256\n"), nullptr);
  EXPECT_EQ(pixels_of(image_), seq({44, 255, 7, 255, 0, 0}));
}

// The raster is read in chunks of 64 KiB less 64 bytes; a number, its sign or the white space
// before it may be cut by a chunk's end at any place.
TEST_F(PnmTest, AsciiValuesReadTheSameAcrossTheReadersChunks) {
  constexpr size_t kChunk = (size_t{1} << 16) - 64;
  for (const std::string token : {"123", "-123", "+77", "0009", "1234567", " \t 45", "5"}) {
    for (size_t cut = 0; cut <= token.size(); ++cut) {
      // Values of 7 and single spaces up to the token, which starts cut bytes before the chunk's
      // end; then one last value.
      std::string raster;
      const size_t start = kChunk - cut;
      while (raster.size() + 2 <= start) {
        raster += "7 ";
      }
      raster.append(start - raster.size(), ' ');
      raster += token + " 9\n";
      const int count = static_cast<int>(start / 2) + 2;
      ASSERT_NE(read("P2 " + std::to_string(count) + " 1 255\n" + raster), nullptr);
      const std::vector<int> pixels = pixels_of(image_);
      const int expected = static_cast<int>(static_cast<uint32_t>(std::stoi(token)) & 0xFFu);
      EXPECT_EQ(pixels[count - 2], expected) << token << " cut " << cut;
      EXPECT_EQ(pixels[count - 1], 9) << token << " cut " << cut;
      EXPECT_EQ(pixels[count - 3], 7) << token << " cut " << cut;
    }
  }
}

// A file's binary raster is read straight into the rows; the stream still ends up just past it,
// so a caller can read on, and a short raster still repeats its last byte.
TEST_F(PnmTest, BinaryRasterFromAFileLeavesTheStreamAfterIt) {
  for (const auto& [bytes, pixels, next] :
       {std::tuple{std::string("P5 3 2 255\n\x01\x02\x03\x04\x05\x06XY"), seq({1, 2, 3, 4, 5, 6}),
                   int{'X'}},
        {std::string("P5 3 2 255\n\x01\x02\x03\x04"), seq({1, 2, 3, 4, 4, 4}), EOF}}) {
    const FilePtr in(std::fopen(file("raster.pgm", bytes).c_str(), "rb"));
    PnmHeader header{};
    ASSERT_EQ(pbm_read_header(in.get(), &header), PnmStatus::ok);
    Image* image = newimage(header.rows, header.cols);
    EXPECT_EQ(pbm_read_raster(in.get(), &header, image), PnmStatus::ok);
    EXPECT_EQ(pixels_of(image), pixels);
    EXPECT_EQ(std::fgetc(in.get()), next);
    freeimage(image);
  }
}

// A file's binary raster passes through the reader's buffer many rows at a time: each row gets
// its own values, over more rows than one buffer holds, and a raster that ends inside a row
// repeats its last byte.
TEST_F(PnmTest, BinaryRasterOfManyRowsGivesEachRowItsBytes) {
  constexpr int kRows = 9100;
  constexpr int kCols = 37;
  for (const int have : {kRows * kCols, 7500 * kCols + 20}) {
    std::string bytes = "P5 " + std::to_string(kCols) + " " + std::to_string(kRows) + " 255\n";
    std::vector<int> expected;
    for (int i = 0; i < kRows * kCols; ++i) {
      const int value = i < have ? (i * 7 + i / kCols) & 0xFF : expected.back();
      if (i < have) {
        bytes += static_cast<char>(value);
      }
      expected.push_back(value);
    }
    ASSERT_NE(read(bytes), nullptr);
    EXPECT_EQ(pixels_of(image_), expected) << have << " bytes";
  }
}

TEST_F(PnmTest, BinaryGreymapsReadOneBytePerPixel) {
  ASSERT_NE(read("P5\n2\n1\n255\n\x0a\x14"), nullptr);
  EXPECT_EQ(pixels_of(image_), seq({10, 20}));
  ASSERT_NE(read("P5 2 1 255 trailing # text\r\n\x0a\x14"), nullptr);
  EXPECT_EQ(pixels_of(image_), seq({10, 20}));
}

// Header lines written by Windows tools end in CR LF. Only a CR just before a newline belongs to
// the line end; the raster begins right after that newline, whatever its first byte.
TEST_F(PnmTest, CarriageReturnBeforeAHeaderNewlineEndsTheLine) {
  ASSERT_NE(read("P2 3\r\n2\r\n255\r\n1 2 3 4 5 6\r\n"), nullptr);
  EXPECT_EQ(pixels_of(image_), seq({1, 2, 3, 4, 5, 6}));
  ASSERT_NE(read("P5\r\n#origin 4 7\r\n\r\n2 1\r\n255\r\n\r\x0d"), nullptr);
  EXPECT_EQ(pixels_of(image_), seq({13, 13}));
  EXPECT_EQ(image_->dims->origin_col, 4);
  EXPECT_EQ(image_->dims->origin_row, 7);
  EXPECT_EQ(read("P2 3\r 2 255\n"), nullptr);
  EXPECT_EQ(out_, "Bad PBM/PGM/PPM header.\n");
  EXPECT_EQ(read("P2 3\r\r\n2 255\n"), nullptr);
}

TEST_F(PnmTest, ShortRasterRepeatsTheLastValueOrZero) {
  struct Case {
    std::string bytes;
    std::vector<int> pixels;
  };
  for (const Case& c : {Case{"P2 2 2 255\n1 2\n", {1, 2, 2, 2}},
                        {"P2 2 2 255\n5\n# x\n1 2 3\n", {5, 5, 5, 5}},
                        {"P2 2 2 255\n5 x 7\n", {5, 5, 5, 5}},
                        {"P2 2 2 255\n5 - 7\n", {5, 5, 5, 5}},
                        {"P2 2 2 255\n", {0, 0, 0, 0}},
                        {"P5 2 2 255", {0, 0, 0, 0}},
                        {"P5 2 2 255\n\x01\x02\x03", {1, 2, 3, 3}},
                        {"P5 3 2 255\n\x01", {1, 1, 1, 1, 1, 1}}}) {
    ASSERT_NE(read(c.bytes), nullptr) << c.bytes;
    EXPECT_EQ(pixels_of(image_), c.pixels) << c.bytes;
  }
}

TEST_F(PnmTest, CursorStartsJustPastTheMagic) {
  ASSERT_NE(read("P23 2 255\n1 2 3 4 5 6\n"), nullptr);
  EXPECT_EQ(err_, "\nPBM file class 2 size 3 columns X 2 rows Max=255\n");
}

TEST_F(PnmTest, FilesFromOtherProgramsRead) {
  const std::string dir = TEST_DATA_DIR "/realfiles/";
  Image* raw = Input_PBM((dir + "hopper_8bit.pgm").c_str());
  Image* plain = Input_PBM((dir + "hopper_8bit_plain.pgm").c_str());
  ASSERT_NE(raw, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(raw->dims->cols, 128);
  EXPECT_EQ(pixels_of(raw), pixels_of(plain));
  freeimage(raw);
  freeimage(plain);
  ASSERT_NE(read(slurp(dir + "hopper_1bit.pbm")), nullptr);
  const std::vector<int> bits = pixels_of(image_);
  ASSERT_NE(read(slurp(dir + "hopper_1bit_plain.pbm")), nullptr);
  EXPECT_EQ(pixels_of(image_), bits);
  EXPECT_EQ(bits.size(), 128u * 128u);
  EXPECT_EQ(read(slurp(dir + "hopper_16bit.pgm")), nullptr);
  EXPECT_EQ(out_, "More than 8 bits per sample (maximum 65535).\n");
}

TEST_F(PnmTest, WriterBreaksLinesAfterEveryTwentyFirstValueAcrossRows) {
  struct Case {
    int32_t rows, cols;
    std::string raster;
  };
  auto values = [](int from, int to) {
    std::string text;
    for (int v = from; v <= to; ++v) {
      text += std::to_string(v) + " ";
    }
    return text;
  };
  for (const Case& c :
       {Case{2, 2, "0 1 \n2 3 \n\n"},
        {1, 1, "0 \n\n"},
        {1, 25, values(0, 20) + "\n" + values(21, 24) + "\n"},
        {2, 21, values(0, 20) + "\n" + values(21, 41) + "\n\n"},
        {2, 30, values(0, 20) + "\n" + values(21, 41) + "\n" + values(42, 59) + "\n"},
        {0, 5, "\n"},
        {3, 0, "\n"}}) {
    Image* image = newimage(c.rows, c.cols);
    for (int i = 0; i < c.rows * c.cols; ++i) {
      image->pixels[i / c.cols][i % c.cols] = static_cast<unsigned char>(i);
    }
    const std::string header =
        "P2\n#origin 0 0\n" + std::to_string(c.cols) + " " + std::to_string(c.rows) + " 255\n";
    EXPECT_EQ(written(image), header + c.raster) << c.rows << "x" << c.cols;
    freeimage(image);
  }
}

// The text of every value and line break, made the plain way.
std::string reference_text(const Image* image) {
  const ImageDims& dims = *image->dims;
  std::string text = "P2\n#origin " + std::to_string(dims.origin_col) + " " +
                     std::to_string(dims.origin_row) + "\n" + std::to_string(dims.cols) + " " +
                     std::to_string(dims.rows) + " 255\n";
  const int32_t per_line = dims.cols > 20 ? 21 : dims.cols;
  int64_t count = 0;
  for (int32_t r = 0; r < dims.rows; ++r) {
    for (int32_t c = 0; c < dims.cols; ++c) {
      text += std::to_string(image->pixels[r][c]) + " ";
      if (++count % per_line == 0) {
        text += "\n";
      }
    }
  }
  return text + "\n";
}

// Where two texts first differ (npos if they are the same): megabytes of text are compared
// without a printed diff.
size_t first_difference(const std::string& a, const std::string& b) {
  const auto [at, other] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return at == a.end() && other == b.end() ? std::string::npos
                                           : static_cast<size_t>(at - a.begin());
}

// Several megabytes of text, more than the writer holds at once, written through Output_PBM's
// own stream and through a caller's buffered one.
TEST_F(PnmTest, TextLargerThanTheWriterBufferIsWrittenWhole) {
  // Lines of 21 values that run on across rows, and rows of 20 values that are lines of their own.
  for (const auto& [rows, cols] : {std::pair{1100, 1003}, std::pair{52500, 20}}) {
    freeimage(image_);
    image_ = newimage(rows, cols);
    for (int32_t r = 0; r < rows; ++r) {
      for (int32_t c = 0; c < cols; ++c) {
        image_->pixels[r][c] = static_cast<unsigned char>(r * 7 + c * 13);
      }
    }
    image_->dims->origin_row = 5;
    image_->dims->origin_col = 3;
    const std::string expected = reference_text(image_);
    ASSERT_GT(expected.size(), size_t{3} << 20);
    EXPECT_EQ(first_difference(written(image_), expected), std::string::npos) << cols << " columns";
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(pbm_write(stream, image_));
    std::rewind(stream);
    std::string through_stream(expected.size() + 1, '\0');
    through_stream.resize(std::fread(through_stream.data(), 1, through_stream.size(), stream));
    std::fclose(stream);
    EXPECT_EQ(first_difference(through_stream, expected), std::string::npos) << cols << " columns";
  }
}

// A write that fails part way through a long text is reported.
TEST_F(PnmTest, FailedWriteOfALongTextIsReported) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  image_ = newimage(1100, 1003);
  const FilePtr full(std::fopen("/dev/full", "wb"));
  ASSERT_NE(full, nullptr);
  EXPECT_FALSE(pbm_write(full.get(), image_));
}

// A long text raster passes through the reader's buffer in many chunks; read from a file and from
// memory it gives the same pixels: values of every form, a raster cut short, text that stops the
// raster part way, and more values than pixels.
TEST_F(PnmTest, LongAsciiRasterReadsAlikeFromAFileAndFromMemory) {
  const char* const forms[] = {"%u ",       "%u\n",   "+%u\t",        "-%u ",
                               "000%u\r\n", "%u-%u ", "99999999999 ", "%u  \v\f"};
  std::string raster;
  size_t values = 0;
  uint32_t random = 1;
  char token[64];
  while (raster.size() < (size_t{9} << 20)) {
    random = random * 1103515245u + 12345u;
    const uint32_t value = (random >> 8) % 1000;
    const uint32_t form = (random >> 24) % 8;
    std::snprintf(token, sizeof token, forms[form], value, value / 3);
    raster += token;
    values += form == 5 ? 2 : 1;
  }
  const auto header = [](size_t cols, size_t rows) {
    return "P2 " + std::to_string(cols) + " " + std::to_string(rows) + " 255\n";
  };
  const std::string square = header(1500, 1500);
  ASSERT_GT(1500 * 1500, values);
  // The stop, a sign without digits, around the middle of the file that holds it; the middle is
  // at the blank after the sign when the stop begins at middle - 2.
  const std::string stop = " - 7 ";
  const size_t middle = (raster.size() + stop.size()) / 2;
  std::vector<std::string> files = {square + raster,
                                    square + raster.substr(0, raster.size() * 7 / 8),
                                    header(100, 100) + raster, header(values - 1000, 1) + raster};
  for (const size_t at :
       {raster.size() / 4, middle - 3, middle - 2, middle - 1, raster.size() * 3 / 4}) {
    files.push_back(square + raster.substr(0, at) + stop + raster.substr(at));
  }
  for (size_t i = 0; i < files.size(); ++i) {
    ASSERT_NE(read(files[i]), nullptr);
    ByteSource memory = byte_source_memory(files[i].data(), files[i].size());
    Image* from_memory = nullptr;
    ASSERT_EQ(pnm_read(&memory, UINT64_MAX, &from_memory), ImageStatus::ok);
    EXPECT_EQ(pixels_of(from_memory), pixels_of(image_)) << "file " << i;
    freeimage(from_memory);
  }
}

TEST_F(PnmTest, WrittenFileReadsBackWithSizePixelsAndOrigin) {
  ASSERT_NE(read("#origin 3 5\nP2 4 2 255\n0 255 7 128 300 9 10 11\n"), nullptr);
  const std::string bytes = written(image_);
  EXPECT_EQ(bytes.substr(0, 29), "P2\n#origin 3 5\n4 2 255\n0 255 ");
  const std::vector<int> before = pixels_of(image_);
  ASSERT_NE(read(bytes), nullptr);
  EXPECT_EQ(pixels_of(image_), before);
  EXPECT_EQ(image_->dims->origin_col, 3);
  EXPECT_EQ(image_->dims->origin_row, 5);
}

// Paths are UTF-8 text on every system, Windows included, where the C library's narrow functions
// would take them in the ANSI code page. Writing over the file again leaves no other file behind.
TEST_F(PnmTest, PathsInAnyLanguageAreWrittenAndReadUnderThatName) {
  const std::string name =
      "ru\xc3\xad"
      "do-\xc3\xb1-\xe6\x97\xa5.pgm";  // ruído-ñ-日.pgm
  const std::string path = dir_.u8string() + "/" + name;
  const auto image = testsupport::image_of(1, 2, {7, 200});
  for (int round = 0; round < 2; ++round) {
    Output_PBM(image.get(), path.c_str());
  }
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().u8string());
  }
  EXPECT_EQ(names, std::vector<std::string>{name});
  testing::internal::CaptureStderr();
  image_ = Input_PBM(path.c_str());
  testing::internal::GetCapturedStderr();
  ASSERT_NE(image_, nullptr);
  EXPECT_EQ(pixels_of(image_), seq({7, 200}));
}

TEST_F(PnmTest, OverlongHeaderLinesAreRefusedButLongCommentsAreCut) {
  const std::string pad(size_t{2} << 20, ' ');
  EXPECT_EQ(read("P2" + pad + "1 1 255\n7\n"), nullptr);
  EXPECT_EQ(out_, "Bad PBM/PGM/PPM header.\n");
  ASSERT_NE(read("#origin 4 7" + pad + "\nP2 1 1 255\n7\n"), nullptr);
  EXPECT_EQ(image_->dims->origin_col, 4);
  EXPECT_EQ(pixels_of(image_), seq({7}));
}

#ifdef __GLIBC__
// A stream that yields its bytes, then fails instead of reporting the end of the file.
std::FILE* failing_stream(std::string* bytes) {
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, size_t size) -> ssize_t {
    auto* rest = static_cast<std::string*>(cookie);
    if (rest->empty()) {
      return -1;
    }
    const size_t n = std::min(size, rest->size());
    rest->copy(buffer, n);
    rest->erase(0, n);
    return static_cast<ssize_t>(n);
  };
  return fopencookie(bytes, "r", io);
}

TEST(PnmStream, ReadErrorInRasterIsNotAnEarlyEnd) {
  for (std::string bytes : {"P2 2 1 255\n", "P5 2 1 255\n"}) {
    std::FILE* in = failing_stream(&bytes);
    PnmHeader header{};
    ASSERT_EQ(pbm_read_header(in, &header), PnmStatus::ok);
    Image* image = newimage(header.rows, header.cols);
    EXPECT_EQ(pbm_read_raster(in, &header, image), PnmStatus::read_error) << header.pnm_class;
    freeimage(image);
    std::fclose(in);
  }
}
#endif
