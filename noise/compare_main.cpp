// SPDX-License-Identifier: MIT
// pnm_compare: measures a greyscale PNM image against another of the same size, for instance a
// denoised image against its clean source. Results go to standard output, diagnostics to
// standard error.
#include <cstdio>
#include <string>

#include "imagelib/lib.h"
#include "imagelib/pbm_input.h"
#include "noise/compare.h"
#include "noise/memory_room.h"
#include "noise/ssim.h"
#include "noise/utf8_arguments.h"

namespace {

// NOLINTBEGIN(cert-err33-c): diagnostics on standard error; one that cannot be printed is lost.
// The library's reader without its exits: a colour file or an unreadable binary raster is
// refused here like any other input. The run holds two images of one size and SSIM's sums: an
// image that would not leave room for the rest is refused as newimage refuses one.
Image* read_or_report(const char* path) {
  imagelib_detail::PbmInput input;
  ImageStatus status = imagelib_detail::pbm_input_open(path, &input);
  Image* image = nullptr;
  if (status == ImageStatus::ok) {
    const uint64_t one = image_bytes(input.header.rows, input.header.cols);
    const uint64_t others = one + ssim_scratch_bytes(input.header.cols);
    status =
        imagelib_detail::pbm_input_read(&input, noise_detail::image_limit(one, others), &image);
  }
  if (status != ImageStatus::ok) {
    std::fflush(stdout);
    std::fprintf(stderr, "pnm_compare: cannot read '%s'\n", path);
  }
  return image;
}

// The results are the command's output: lost results are a failure, not a success.
bool write_report(const std::string& report) {
  if (std::fputs(report.c_str(), stdout) != EOF && std::fflush(stdout) == 0) {
    return true;
  }
  std::fputs("pnm_compare: cannot write the results\n", stderr);
  return false;
}

}  // namespace

namespace {

int run_pnm_compare(int argc, char** argv) {
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
    status = write_report(format_comparison(compare_images(a, b))) ? 0 : 2;
  } else {
    std::fprintf(stderr, "pnm_compare: the images differ in size: %s\n",
                 format_size_mismatch(argv[1], a, argv[2], b).c_str());
    status = 2;
  }
  freeimage(b);
  freeimage(a);
  return status;
}
// NOLINTEND(cert-err33-c)

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
  Utf8Arguments arguments = utf8_arguments(argc, argv);
  return run_pnm_compare(argc, arguments.argv.data());
}
#else
int main(int argc, char** argv) {
  return run_pnm_compare(argc, argv);
}
#endif
