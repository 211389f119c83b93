// SPDX-License-Identifier: MIT
// pnm_compare: measures a greyscale PNM or PNG image against another of the same size, for instance
// a denoised image against its clean source. Results go to standard output, diagnostics to standard
// error.
#include <cstdio>
#include <string>
#include <string_view>

#include "imagelib/lib.h"
#include "imagelib/pbm_input.h"
#include "noise/compare.h"
#include "noise/memory_room.h"
#include "noise/output_target.h"
#include "noise/ssim.h"
#include "noise/utf8_arguments.h"

namespace {

// NOLINTBEGIN(cert-err33-c): diagnostics on standard error; one that cannot be printed is lost.
// The library's reader without its exits: a colour file or an unreadable binary raster is
// refused here like any other input. The run holds two images of one size and SSIM's sums: an
// image that would not leave room for the rest is refused as newimage refuses one. "-" reads
// standard input.
Image* read_or_report(const char* path) {
  imagelib_detail::PbmInput input;
  ImageStatus status = ImageStatus::read_error;
  if (!names_standard_stream(path)) {
    status = imagelib_detail::pbm_input_open(path, &input);
  } else if (std::FILE* in = standard_input_stream(); in != nullptr) {
    status = imagelib_detail::pbm_input_open_stream(in, path, &input);
  }
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

constexpr const char* kHelp =
    "Usage: pnm_compare [--noisy <noisy image>] <image a> <image b>\n"
    "\n"
    "Measures image a against image b (its clean source, say), two greyscale images of one\n"
    "size: PBM, PGM or PNG files; - names standard input (for one of the two). The results\n"
    "go to standard output, one measure a line.\n"
    "\n"
    "Options:\n"
    "  --noisy FILE the noisy image the first was made from: adds IEF, the image\n"
    "               enhancement factor\n"
    "  -h, --help   this text\n"
    "  --version    the version\n"
    "\n"
    "Exit status: 0 success; 1 bad arguments; 2 an image cannot be read, the sizes differ, or\n"
    "the results cannot be written.\n"
    "Manual: man pnm_compare\n";

// "pnm_compare [--noisy FILE] <image a> <image b>": the option, as "--noisy FILE" or
// "--noisy=FILE", is the only other word allowed.
bool read_command_line(int argc, char** argv, const char** noisy, const char** a, const char** b) {
  constexpr std::string_view kNoisy = "--noisy";
  int next = 1;
  *noisy = nullptr;
  if (next < argc) {
    const std::string_view first(argv[next]);
    if (first == kNoisy) {
      if (next + 1 == argc) {
        return false;  // the noisy image itself is missing
      }
      *noisy = argv[next + 1];
      next += 2;
    } else if (first.substr(0, kNoisy.size() + 1) == "--noisy=") {
      *noisy = argv[next] + kNoisy.size() + 1;
      next += 1;
    }
  }
  if (argc - next != 2) {
    return false;
  }
  *a = argv[next];
  *b = argv[next + 1];
  return true;
}

int run_pnm_compare(int argc, char** argv) {
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    return write_report(kHelp) ? 0 : 2;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    return write_report(std::string("pnm_compare ") + IMAGENOISE_VERSION + "\n") ? 0 : 2;
  }
  const char* noisy_path = nullptr;
  const char* path_a = nullptr;
  const char* path_b = nullptr;
  if (!read_command_line(argc, argv, &noisy_path, &path_a, &path_b)) {
    std::fputs("Usage: pnm_compare [--noisy <noisy image>] <image a> <image b>\n", stderr);
    return 1;
  }
  Image* a = read_or_report(path_a);
  if (a == nullptr) {
    return 2;
  }
  Image* b = read_or_report(path_b);
  if (b == nullptr) {
    freeimage(a);
    return 2;
  }
  Image* noisy = noisy_path != nullptr ? read_or_report(noisy_path) : nullptr;
  int status = 0;
  if (noisy_path != nullptr && noisy == nullptr) {
    status = 2;
  } else if (!same_size(a, b)) {
    std::fprintf(stderr, "pnm_compare: the images differ in size: %s\n",
                 format_size_mismatch(path_a, a, path_b, b).c_str());
    status = 2;
  } else if (noisy != nullptr && !same_size(noisy, b)) {
    std::fprintf(stderr, "pnm_compare: the images differ in size: %s\n",
                 format_size_mismatch(noisy_path, noisy, path_b, b).c_str());
    status = 2;
  } else {
    std::string report = format_comparison(compare_images(a, b));
    if (noisy != nullptr) {
      report += format_ief(image_enhancement_factor(a, b, noisy));
    }
    status = write_report(report) ? 0 : 2;
  }
  if (noisy != nullptr) {
    freeimage(noisy);
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
