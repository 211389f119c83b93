// SPDX-License-Identifier: MIT
#include <cstdint>

#include "imagelib/platform/physical_memory.h"
#include "support.h"

using testsupport::ImagePtr;
using testsupport::pixels_of;

namespace {

Image* filled(int32_t rows, int32_t cols, int first) {
  Image* image = newimage(rows, cols);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      image->pixels[r][c] = static_cast<unsigned char>(first++);
    }
  }
  return image;
}

// What newimage printed; the image goes to result.
std::string newimage_stdout(int32_t rows, int32_t cols, Image** result) {
  testing::internal::CaptureStdout();
  *result = newimage(rows, cols);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(NewImage, AcceptsEmptySizesWithOriginAtZero) {
  for (auto [rows, cols] : {std::pair{0, 0}, {0, 5}, {5, 0}, {2, 3}}) {
    ImagePtr image(newimage(rows, cols));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->dims->rows, rows);
    EXPECT_EQ(image->dims->cols, cols);
    EXPECT_EQ(image->dims->origin_row, 0);
    EXPECT_EQ(image->dims->origin_col, 0);
  }
  freeimage(nullptr);
}

TEST(NewImage, RefusesNegativeSizeWithMessage) {
  Image* image = nullptr;
  EXPECT_EQ(newimage_stdout(-1, 4, &image), "Error: Bad image size (-1,4)\n");
  EXPECT_EQ(image, nullptr);
}

TEST(NewImage, SizeBeyondPhysicalMemoryIsOutOfStorage) {
  for (auto [rows, cols] : {std::pair{INT32_MAX, 1}, {INT32_MAX, INT32_MAX}, {1 << 20, 1 << 30}}) {
    Image* image = nullptr;
    EXPECT_EQ(newimage_stdout(rows, cols, &image), "Out of storage in NEWIMAGE.\n");
    EXPECT_EQ(image, nullptr);
  }
}

TEST(NewImage, SizeThatFitsOnceButCannotBeCopiedIsOutOfStorage) {
  const uint64_t memory = imagelib_detail::physical_memory();
  const int32_t cols = 1 << 30;
  const auto rows = static_cast<int32_t>(memory / 4 * 3 / (uint64_t{cols} + 40));
  ASSERT_GT(rows, 0);
  Image* image = nullptr;
  EXPECT_EQ(newimage_stdout(rows, cols, &image), "Out of storage in NEWIMAGE.\n");
  freeimage(image);
}

// The core's own call refuses what newimage refuses, as statuses with nothing printed, and holds
// a size to the caller's limit in exact arithmetic, the largest sizes included.
TEST(ImageCreate, RefusesBadSizesAndSizesAboveTheLimitSilently) {
  EXPECT_EQ(image_bytes(0, 0), image_bytes(0, 5));
  EXPECT_EQ(image_bytes(2, 3) - image_bytes(1, 3), image_bytes(1, 3) - image_bytes(0, 3));
  EXPECT_GT(image_bytes(INT32_MAX, INT32_MAX), uint64_t{INT32_MAX} * INT32_MAX);
  EXPECT_EQ(image_bytes(-1, 5), 0u);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Image* image = nullptr;
  int32_t failed_row = 7;
  EXPECT_EQ(image_create(-1, 4, UINT64_MAX, &image, &failed_row), ImageStatus::bad_size);
  EXPECT_EQ(failed_row, -1);
  EXPECT_EQ(image_create(3, -4, UINT64_MAX, &image), ImageStatus::bad_size);
  EXPECT_EQ(image_create(INT32_MAX, INT32_MAX, uint64_t{1} << 40, &image), ImageStatus::too_large);
  EXPECT_EQ(image_create(30, 40, image_bytes(30, 40) - 1, &image), ImageStatus::too_large);
  EXPECT_EQ(image, nullptr);
  ASSERT_EQ(image_create(30, 40, image_bytes(30, 40), &image), ImageStatus::ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(image->dims->rows, 30);
  EXPECT_EQ(image->dims->origin_col, 0);
  freeimage(image);
}

// Memory that runs out part way through the rows: every row made so far is released, and the
// failed row is reported. The largest size, without a limit, cannot be had on any machine (the
// rows alone pass the address space); sanitizers end a process for an allocation this large, and
// emulators of other processors need not give the failure back soon.
#if defined(__linux__) && defined(__x86_64__) && !defined(IMAGENOISE_SANITIZED)
TEST(ImageCreate, StorageThatRunsOutIsReleasedAndNamesTheRow) {
  Image* image = nullptr;
  int32_t failed_row = -2;
  EXPECT_EQ(image_create(INT32_MAX, INT32_MAX, UINT64_MAX, &image, &failed_row),
            ImageStatus::no_storage);
  EXPECT_EQ(image, nullptr);
  EXPECT_GE(failed_row, -1);  // -1: the table of rows itself could not be had
  EXPECT_LT(failed_row, INT32_MAX);
}
#endif

TEST(Range, TrueOnlyInsideTheImage) {
  ImagePtr image(newimage(2, 3));
  EXPECT_EQ(range(image.get(), 0, 0), 1);
  EXPECT_EQ(range(image.get(), 1, 2), 1);
  EXPECT_EQ(range(image.get(), 2, 0), 0);
  EXPECT_EQ(range(image.get(), 0, 3), 0);
  EXPECT_EQ(range(image.get(), -1, 0), 0);
  EXPECT_EQ(range(image.get(), 0, -1), 0);
}

TEST(CopyVarImage, CopiesSizePixelsAndOriginIndependently) {
  ImagePtr source(filled(2, 3, 10));
  source->dims->origin_row = 1;
  source->dims->origin_col = 2;
  Image* destination = filled(4, 4, 0);  // released and replaced by the copy
  Image* source_handle = source.get();
  CopyVarImage(&destination, &source_handle);
  ImagePtr owned(destination);
  EXPECT_EQ(pixels_of(destination), pixels_of(source.get()));
  EXPECT_EQ(destination->dims->rows, 2);
  EXPECT_EQ(destination->dims->origin_row, 1);
  EXPECT_EQ(destination->dims->origin_col, 2);
  destination->pixels[0][0] = 99;
  EXPECT_EQ(source->pixels[0][0], 10);
}

TEST(CopyVarImage, SameHandleOrSameImageIsLeftAsItIs) {
  Image* image = filled(2, 2, 1);
  CopyVarImage(&image, &image);
  Image* other_handle = image;
  CopyVarImage(&image, &other_handle);
  copy(&image, image);
  ImagePtr owned(image);
  EXPECT_EQ(image, other_handle);
  EXPECT_EQ(pixels_of(image), (std::vector<int>{1, 2, 3, 4}));
}

TEST(Copy, FillsAnEmptyHandleAndLeavesTheSource) {
  ImagePtr source(filled(1, 3, 7));
  Image* destination = nullptr;
  copy(&destination, source.get());
  ImagePtr owned(destination);
  ASSERT_NE(destination, nullptr);
  EXPECT_NE(destination, source.get());
  EXPECT_EQ(pixels_of(destination), (std::vector<int>{7, 8, 9}));
}

TEST(SysAbortDeathTest, PrintsReportAndExitsWithStatus2) {
#if GTEST_HAS_DEATH_TEST
  EXPECT_EXIT(sys_abort(0, "No more storage.\n"), testing::ExitedWithCode(2),
              "^\\*\\*\\*\\* System library ABORT 0: No more storage\\.\n \\*\\*\\*\\*\n$");
#else
  GTEST_SKIP() << "death tests need processes of their own, which this platform cannot start";
#endif
}

// Every pixel still holds what filled() put there: rows that overlapped would have overwritten
// each other's.
bool holds_fill(const Image* image, int first) {
  for (int32_t r = 0; r < image->dims->rows; ++r) {
    for (int32_t c = 0; c < image->dims->cols; ++c) {
      if (image->pixels[r][c] != static_cast<unsigned char>(first++)) {
        return false;
      }
    }
  }
  return true;
}

// Rows of large images are distinct, independent allocations that never overlap, image after
// image, with earlier images alive or released.
TEST(NewImage, LargeImagesKeepOneAllocationPerRow) {
  ImagePtr kept(filled(2100, 4096, 5));
  for (int round = 0; round < 2; ++round) {
    ImagePtr large(filled(3000, 4000, round));
    ImagePtr wide(filled(300, 70000, round));
    for (Image* image : {large.get(), wide.get()}) {
      EXPECT_TRUE(holds_fill(image, round));
      const int32_t rows = image->dims->rows;
      const int32_t cols = image->dims->cols;
      std::free(image->pixels[1]);  // each row can be released on its own
      image->pixels[1] = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(cols), 1));
      EXPECT_EQ(image->pixels[0][0], static_cast<unsigned char>(round));
      EXPECT_EQ(image->pixels[1][cols - 1], 0);
      EXPECT_EQ(image->pixels[rows - 1][cols - 1],
                static_cast<unsigned char>(round + int64_t{rows} * cols - 1));
    }
  }
  EXPECT_TRUE(holds_fill(kept.get(), 5));
}
