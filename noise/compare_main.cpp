// pnm_compare: measures a greyscale PNM image against another of the same size, for instance a
// denoised image against its clean source. Results go to standard output, diagnostics to
// standard error.
#include <cstdio>

#include "imagelib/lib.h"
#include "noise/compare.h"

namespace {

Image* read_or_report(const char* path) {
  Image* image = Input_PBM(path);
  if (image == nullptr) {
    std::fflush(stdout);
    std::fprintf(stderr, "pnm_compare: cannot read '%s'\n", path);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("Usage: pnm_compare <image a> <image b>\n", stderr);
    return 1;
  }
  Image* a = read_or_report(argv[1]);
  if (a == nullptr) {
    return 2;
  }
  Image* b = read_or_report(argv[2]);
  if (b == nullptr) {
    freeimage(a);
    return 2;
  }
  int status = 0;
  if (same_size(a, b)) {
    std::fputs(format_comparison(compare_images(a, b)).c_str(), stdout);
  } else {
    std::fprintf(stderr, "pnm_compare: the images differ in size: %s\n",
                 format_size_mismatch(argv[1], a, argv[2], b).c_str());
    status = 2;
  }
  freeimage(b);
  freeimage(a);
  return status;
}
