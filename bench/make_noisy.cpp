// SPDX-License-Identifier: MIT
// Makes a noisy copy of a greyscale image in raw (P5) form through the library's noise step, for
// benchmarks that want both images of a pair as binary files.
// Usage: make_noisy <input> <output> <white %> <density %> <seed>
#include <cstdio>
#include <cstdlib>

#include "imagelib/file_ptr.h"
#include "imagelib/lib.h"
#include "noise/impulse.h"

using imagelib_detail::FilePtr;

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("Usage: make_noisy <input> <output> <white %> <density %> <seed>\n", stderr);
    return 1;
  }
  Image* image = Input_PBM(argv[1]);
  if (image == nullptr) {
    return 2;
  }
  add_impulse_noise(image, std::strtof(argv[3], nullptr), std::strtof(argv[4], nullptr),
                    static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10)));
  bool written = false;
  {
    const FilePtr out(std::fopen(argv[2], "wb"));
    written = out != nullptr &&
              std::fprintf(out.get(), "P5\n%d %d\n255\n", image->dims->cols, image->dims->rows) > 0;
    for (int32_t r = 0; written && r < image->dims->rows; ++r) {
      written = std::fwrite(image->pixels[r], 1, static_cast<size_t>(image->dims->cols),
                            out.get()) == static_cast<size_t>(image->dims->cols);
    }
    written = written && std::fflush(out.get()) == 0;
  }
  freeimage(image);
  return written ? 0 : 2;
}
