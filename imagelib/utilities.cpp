// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstdlib>

#include "imagelib/lib.h"
#include "imagelib/platform/replace_file.h"

namespace {

constexpr const char* kRule = "\n=====================================================\n";

// row < 0: the array of row pointers itself.
// NOLINTBEGIN(cert-err33-c): the process ends next; a report that cannot be printed is lost.
[[noreturn]] void f2d_out_of_storage(int32_t row) {
  std::fflush(stdout);
  if (row < 0) {
    std::fputs("Out of storage: F2D.\n", stderr);
  } else {
    std::fprintf(stderr, "Out of storage: F2D %d.\n", row);
  }
  std::exit(1);
}
// NOLINTEND(cert-err33-c)

}  // namespace

// NOLINTBEGIN(cert-err33-c): a dump on the console for a person to read, with no result to fail.
void print_se(Image* image) {
  std::fputs(kRule, stdout);
  if (image == nullptr) {
    std::fputs(" Structuring element is NULL.\n", stdout);
  } else {
    const ImageDims& d = *image->dims;
    std::printf("Structuring element: %dx%d origin at (%d,%d)\n", d.rows, d.cols, d.origin_row,
                d.origin_col);
    for (int32_t r = 0; r < d.rows; ++r) {
      std::fputc('\t', stdout);
      for (int32_t c = 0; c < d.cols; ++c) {
        std::printf("%4d ", image->pixels[r][c]);
      }
      std::fputc('\n', stdout);
    }
  }
  std::fputs(kRule, stdout);
}
// NOLINTEND(cert-err33-c)

void Display(Image* image) {
  constexpr const char* kTemporary = "x.tmp";
  // A file or link of that name is replaced, never written through: a link planted there would
  // otherwise have the image overwrite the file it names.
  std::FILE* out = imagelib_detail::create_file_afresh(kTemporary);
  if (out == nullptr) {
    sys_abort(0, "Can't open output file.");
  }
  const bool written = pbm_write(out, image);
  if (std::fclose(out) != 0 || !written) {
    // NOLINTNEXTLINE(cert-err33-c): the process ends next; a partial file is all that is lost.
    std::remove(kTemporary);
    sys_abort(0, "Can't write output file.");
  }
  // The viewer shares our terminal; what we printed so far must come before what it prints.
  // NOLINTNEXTLINE(cert-err33-c): only ordering is at stake; the image file is already closed.
  std::fflush(nullptr);
  // Both outcomes are deliberately ignored: a missing viewer only means nothing is shown.
  [[maybe_unused]] const int shown = std::system("disp  x.tmp");
  [[maybe_unused]] const int removed = std::remove(kTemporary);
}

float** f2d(int32_t rows, int32_t cols) {
  if (rows < 0 || cols < 0) {
    f2d_out_of_storage(-1);
  }
  // calloc(0, ...) may return null; an empty grid or row still counts as allocated.
  auto** grid =
      static_cast<float**>(std::calloc(rows == 0 ? 1 : static_cast<size_t>(rows), sizeof(float*)));
  if (grid == nullptr) {
    f2d_out_of_storage(-1);
  }
  for (int32_t i = 0; i < rows; ++i) {
    grid[i] =
        static_cast<float*>(std::calloc(cols == 0 ? 1 : static_cast<size_t>(cols), sizeof(float)));
    if (grid[i] == nullptr) {
      f2d_out_of_storage(i);
    }
  }
  return grid;
}
