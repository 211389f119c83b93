// SPDX-License-Identifier: MIT
// The library's formats beside P2: the P5 writer, the PNG reader and writer, image_read's choice
// between PNM and PNG, and the rule that picks an output's format by its name.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support.h"

using testsupport::big_endian;
using testsupport::grey_png;
using testsupport::image_of;
using testsupport::ImagePtr;
using testsupport::pixels_of;
using testsupport::png_chunk;
using testsupport::png_file;
using testsupport::png_ihdr;

namespace {

struct Read {
  ImageStatus status;
  ImagePtr image;
  PnmHeader header;
};

Read read_bytes(const std::string& bytes, uint64_t limit = UINT64_MAX) {
  ByteSource source = byte_source_memory(bytes.data(), bytes.size());
  Image* image = nullptr;
  PnmHeader header{};
  const ImageStatus status = image_read(&source, limit, &image, &header);
  return {status, ImagePtr(image), header};
}

std::string written(const Image* image, ImageFormat format,
                    ImageStatus expected = ImageStatus::ok) {
  ByteSink sink = byte_sink_memory();
  EXPECT_EQ(image_write(&sink, image, format), expected);
  return {sink.bytes.begin(), sink.bytes.end()};
}

std::string text_chunk(const std::string& keyword, const std::string& text) {
  return png_chunk("tEXt", keyword + '\0' + text);
}

#define SKIP_WITHOUT_PNG()                                           \
  if (!image_png_supported()) {                                      \
    GTEST_SKIP() << "this build has no PNG (libspng was not found)"; \
  }

}  // namespace

TEST(FormatForName, PngOnlyForNamesEndingInDotPngWhereSupported) {
  const ImageFormat png = image_png_supported() ? ImageFormat::png : ImageFormat::p2;
  for (const char* name : {"out.png", "OUT.PNG", "a.pNg", ".png", "dir.pgm/x.png"}) {
    EXPECT_EQ(image_format_for_name(name), png) << name;
  }
  for (const char* name :
       {"out.pgm", "out.png.pgm", "png", "out.apng", "out.pn", "", "-", "out.png ", "dir.png/x"}) {
    EXPECT_EQ(image_format_for_name(name), ImageFormat::p2) << name;
  }
}

TEST(P5Writer, HeaderLinesThenOneBytePerPixel) {
  const ImagePtr image = image_of(2, 3, {0, 1, 2, 253, 254, 255});
  image->dims->origin_col = -3;
  image->dims->origin_row = 7;
  EXPECT_EQ(written(image.get(), ImageFormat::p5),
            std::string("P5\n#origin -3 7\n3 2 255\n\x00\x01\x02\xfd\xfe\xff", 30));
}

TEST(Formats, EveryWrittenFileReadsBackWithSizePixelsAndOrigin) {
  std::vector<ImageFormat> formats{ImageFormat::p2, ImageFormat::p5};
  if (image_png_supported()) {
    formats.push_back(ImageFormat::png);
  }
  struct Shape {
    int32_t rows, cols, origin_col, origin_row;
  };
  for (const Shape shape : {Shape{1, 1, 0, 0}, Shape{3, 5, -5, 12}, Shape{70, 301, 7, -3},
                            Shape{2, 2, INT32_MIN, INT32_MAX}}) {
    std::vector<int> values;
    for (int32_t i = 0; i < shape.rows * shape.cols; ++i) {
      values.push_back((i * 37 + i / 7) % 256);
    }
    const ImagePtr image = image_of(shape.rows, shape.cols, values);
    image->dims->origin_col = shape.origin_col;
    image->dims->origin_row = shape.origin_row;
    for (const ImageFormat format : formats) {
      SCOPED_TRACE(std::to_string(static_cast<int>(format)) + ": " + std::to_string(shape.rows) +
                   "x" + std::to_string(shape.cols));
      const Read back = read_bytes(written(image.get(), format));
      ASSERT_EQ(back.status, ImageStatus::ok);
      const int32_t pnm_class = format == ImageFormat::p2 ? 2 : format == ImageFormat::p5 ? 5 : 0;
      EXPECT_EQ(back.header.pnm_class, pnm_class);
      EXPECT_EQ(back.image->dims->rows, shape.rows);
      EXPECT_EQ(back.image->dims->cols, shape.cols);
      EXPECT_EQ(back.image->dims->origin_col, shape.origin_col);
      EXPECT_EQ(back.image->dims->origin_row, shape.origin_row);
      EXPECT_EQ(pixels_of(back.image.get()), values);
    }
  }
}

TEST(PngWriter, EightBitGreyWithTheOriginTextEvenAtZero) {
  SKIP_WITHOUT_PNG();
  const ImagePtr image = image_of(1, 2, {5, 6});
  const std::string bytes = written(image.get(), ImageFormat::png);
  ASSERT_EQ(bytes.substr(0, 8), std::string(testsupport::kPngSignature, 8));
  // IHDR: width 2, height 1, depth 8, grey, no interlacing.
  EXPECT_EQ(bytes.substr(16, 13), big_endian(2) + big_endian(1) + std::string("\x08\0\0\0\0", 5));
  EXPECT_NE(bytes.find(std::string("tEXtorigin\0"
                                   "0 0",
                                   14)),
            std::string::npos);
}

TEST(PngWriter, AnImageWithoutPixelsIsRefused) {
  SKIP_WITHOUT_PNG();
  Image* made = nullptr;
  ASSERT_EQ(image_create(0, 4, UINT64_MAX, &made), ImageStatus::ok);
  const ImagePtr image(made);
  written(image.get(), ImageFormat::png, ImageStatus::bad_size);
}

TEST(PngWriter, AFailingSinkIsAWriteError) {
  SKIP_WITHOUT_PNG();
  const ImagePtr image = image_of(1, 1, {5});
  ByteSink sink = byte_sink_memory();
  sink.failed = true;
  EXPECT_EQ(png_write(&sink, image.get()), ImageStatus::write_error);
}

TEST(PngReader, LowDepthsAreScaledToTheFullRange) {
  SKIP_WITHOUT_PNG();
  struct Case {
    int depth;
    std::string row;  // one scanline's bytes after its filter byte
    std::vector<int> pixels;
  };
  const std::vector<Case> cases{
      {1, "\xa0", {255, 0, 255}},
      {2, "\x1b", {0, 85, 170}},
      {4, "\x0f\x70", {0, 255, 119}},
  };
  for (const Case& c : cases) {
    const Read back = read_bytes(png_file(png_ihdr(3, 1, c.depth, 0), '\0' + c.row));
    ASSERT_EQ(back.status, ImageStatus::ok) << c.depth;
    EXPECT_EQ(back.header.bit_depth, c.depth);
    EXPECT_EQ(pixels_of(back.image.get()), c.pixels) << c.depth;
  }
}

TEST(PngReader, GreyPaletteIsReadThroughItAndAColourEntryRefused) {
  SKIP_WITHOUT_PNG();
  const std::string grey = png_chunk("PLTE", std::string("\x0a\x0a\x0a\xc8\xc8\xc8", 6));
  const Read back = read_bytes(png_file(png_ihdr(2, 1, 8, 3), std::string("\0\x01\0", 3), grey));
  ASSERT_EQ(back.status, ImageStatus::ok);
  EXPECT_EQ(pixels_of(back.image.get()), (std::vector<int>{200, 10}));
  const std::string colour = png_chunk("PLTE", std::string("\x0a\x0a\x0a\xc8\x00\xc8", 6));
  EXPECT_EQ(read_bytes(png_file(png_ihdr(2, 1, 8, 3), std::string("\0\x01\0", 3), colour)).status,
            ImageStatus::png_colour);
}

TEST(PngReader, OriginTextFollowsTheCommentRules) {
  SKIP_WITHOUT_PNG();
  struct Case {
    std::string chunks;
    int32_t col, row;
  };
  const std::vector<Case> cases{
      {"", 0, 0},
      {text_chunk("origin", "4 7"), 4, 7},
      {text_chunk("origin", " +3\t-5 junk"), 3, -5},
      {text_chunk("origin", "-9"), -9, 0},
      {text_chunk("origin", "x 1"), 0, 0},
      {text_chunk("Comment", "1 2"), 0, 0},
      {text_chunk("origin", "1 2") + text_chunk("origin", "8"), 8, 2},
  };
  for (const Case& c : cases) {
    const Read back = read_bytes(grey_png(1, 1, {9}, c.chunks));
    ASSERT_EQ(back.status, ImageStatus::ok);
    EXPECT_EQ(back.image->dims->origin_col, c.col) << c.chunks;
    EXPECT_EQ(back.image->dims->origin_row, c.row) << c.chunks;
  }
}

TEST(PngReader, ATextAfterThePixelsCounts) {
  SKIP_WITHOUT_PNG();
  std::string bytes = grey_png(1, 1, {9});
  bytes.insert(bytes.size() - 12, text_chunk("origin", "2 3"));
  const Read back = read_bytes(bytes);
  ASSERT_EQ(back.status, ImageStatus::ok);
  EXPECT_EQ(back.image->dims->origin_col, 2);
  EXPECT_EQ(back.image->dims->origin_row, 3);
}

TEST(PngReader, ColourAlphaAndSixteenBitsAreRefusedAfterTheHeader) {
  SKIP_WITHOUT_PNG();
  struct Case {
    int depth, colour_type;
    ImageStatus status;
  };
  for (const Case c : {Case{8, 2, ImageStatus::png_colour}, Case{8, 6, ImageStatus::png_colour},
                       Case{8, 4, ImageStatus::png_alpha}, Case{16, 0, ImageStatus::png_too_deep},
                       Case{16, 4, ImageStatus::png_alpha}}) {
    const Read back = read_bytes(png_file(png_ihdr(3, 2, c.depth, c.colour_type), ""));
    EXPECT_EQ(back.status, c.status) << c.colour_type << " " << c.depth;
    EXPECT_EQ(back.header.cols, 3);
    EXPECT_EQ(back.header.rows, 2);
    EXPECT_EQ(back.image, nullptr);
  }
}

TEST(PngReader, DamagedFilesAreRefusedWithoutAnImage) {
  SKIP_WITHOUT_PNG();
  const std::string good = grey_png(4, 4, std::vector<int>(16, 77));
  std::vector<std::string> damaged;
  // Cut anywhere up to the last pixel's checksum. (A file cut in its end chunk still has all its
  // pixels, and libspng reads it.)
  for (const size_t cut : {size_t{1}, size_t{8}, size_t{20}, size_t{40}, good.size() - 13}) {
    damaged.push_back(good.substr(0, cut));
  }
  std::string ihdr_crc = good;
  ihdr_crc[29] ^= 1;
  damaged.push_back(ihdr_crc);
  std::string idat_crc = good;
  idat_crc[good.size() - 13] ^= 1;
  damaged.push_back(idat_crc);
  std::string signature = good;
  signature[1] = 'Q';
  damaged.push_back(signature);
  for (const std::string& bytes : damaged) {
    const Read back = read_bytes(bytes);
    EXPECT_EQ(back.status, ImageStatus::bad_png) << bytes.size();
    EXPECT_EQ(back.image, nullptr);
  }
}

TEST(PngReader, HugeDimensionsMeetTheCallersLimitBeforeAnyPixel) {
  SKIP_WITHOUT_PNG();
  const Read back = read_bytes(png_file(png_ihdr(INT32_MAX, INT32_MAX, 8, 0), ""), 1 << 20);
  EXPECT_EQ(back.status, ImageStatus::too_large);
  EXPECT_EQ(back.header.cols, INT32_MAX);
}

TEST(PngReader, AStreamReadsAsMemoryDoesAndStopsAtTheEnd) {
  SKIP_WITHOUT_PNG();
  const std::string bytes = grey_png(2, 3, {1, 2, 3, 4, 5, 6}, text_chunk("origin", "1 1"));
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const std::string after = "P5 1 1 255\n";
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fwrite(after.data(), 1, after.size(), file);
  std::rewind(file);
  ByteSource source = byte_source_file(file);
  Image* made = nullptr;
  ASSERT_EQ(png_read(&source, UINT64_MAX, &made), ImageStatus::ok);
  const ImagePtr image(made);
  EXPECT_EQ(pixels_of(image.get()), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(image->dims->origin_row, 1);
  char next[3] = {};
  EXPECT_EQ(std::fread(next, 1, 2, file), 2u);
  EXPECT_EQ(std::string(next), "P5");
  std::fclose(file);
}

TEST(WithoutPng, PngIsNotPnmAndCannotBeWritten) {
  if (image_png_supported()) {
    GTEST_SKIP() << "this build has PNG";
  }
  EXPECT_EQ(read_bytes(grey_png(1, 1, {9})).status, ImageStatus::not_pnm);
  const ImagePtr image = image_of(1, 1, {5});
  written(image.get(), ImageFormat::png, ImageStatus::not_supported);
}
