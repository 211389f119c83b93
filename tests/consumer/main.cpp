// Reads an image, writes its negative to memory and reads that back: enough to need the
// installed header, the library and its link flags.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "imagelib/lib.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer <image>\n");
    return 1;
  }
  Image* image = Input_PBM(argv[1]);
  if (image == nullptr) {
    return 2;
  }
  for (int32_t r = 0; r < image->dims->rows; ++r) {
    for (int32_t c = 0; c < image->dims->cols; ++c) {
      image->pixels[r][c] = static_cast<unsigned char>(255 - image->pixels[r][c]);
    }
  }
  std::vector<char> buffer(64 + 4 * static_cast<size_t>(image->dims->rows) * image->dims->cols);
  std::FILE* memory = fmemopen(buffer.data(), buffer.size(), "w+");
  PnmHeader header{};
  const bool ok = memory != nullptr && pbm_write(memory, image) &&
                  std::fseek(memory, 0, SEEK_SET) == 0 &&
                  pbm_read_header(memory, &header) == PnmStatus::ok;
  if (memory != nullptr) {
    std::fclose(memory);
  }
  std::printf("%s %dx%d P%d first pixel %d\n", ok ? "ok" : "failed", header.cols, header.rows,
              header.pnm_class, image->pixels[0][0]);
  freeimage(image);
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
