// SPDX-License-Identifier: MIT
// A 3 x 3 median filter, the classic remedy for impulse noise: each pixel becomes the median of
// itself and its eight neighbours, with the edge pixels repeated beyond the image's border.
#include <algorithm>
#include <cstdio>

#include "imagelib/lib.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("Usage: median_filter <input> <output>\n", stderr);
    return 1;
  }
  Image* noisy = Input_PBM(argv[1]);  // null, with a message, when unreadable
  if (noisy == nullptr) {
    return 2;
  }
  Image* filtered = nullptr;
  copy(&filtered, noisy);
  const int32_t rows = noisy->dims->rows;
  const int32_t cols = noisy->dims->cols;
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      unsigned char window[9];
      int n = 0;
      for (int32_t dr = -1; dr <= 1; ++dr) {
        for (int32_t dc = -1; dc <= 1; ++dc) {
          window[n++] =
              noisy->pixels[std::clamp(r + dr, 0, rows - 1)][std::clamp(c + dc, 0, cols - 1)];
        }
      }
      std::nth_element(window, window + 4, window + 9);
      filtered->pixels[r][c] = window[4];
    }
  }
  Output_PBM(filtered, argv[2]);
  freeimage(filtered);
  freeimage(noisy);
}
