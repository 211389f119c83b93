// SPDX-License-Identifier: MIT
// funcao_exe: adds impulse (salt and pepper) noise to a copy of a greyscale PNM or PNG image.
#include <cstdio>

#include "imagelib/lib.h"
#include "imagelib/pbm_input.h"
#include "imagelib/platform/temporary_files.h"
#include "noise/command.h"
#include "noise/impulse.h"
#include "noise/memory_room.h"
#include "noise/noise.h"
#include "noise/output_pair.h"
#include "noise/output_target.h"
#include "noise/utf8_arguments.h"

// The two images live until the process ends, which returns their memory at once; releasing them
// row by row first would only delay the exit. These handles hold them to the end, so leak
// checkers, which look for memory still referenced there, see it held on purpose and not lost.
// They have external linkage: the compiler could otherwise turn them into locals.
Image* funcao_exe_input = nullptr;
Image* funcao_exe_noisy = nullptr;
Image* funcao_exe_mask = nullptr;

namespace {

// The input is read as Input_PBM reads it, except that its size is weighed against the process's
// memory limits before the image is made, counting all the run holds: the input, its noisy copy,
// a noise pass's bitmap and the writer's text buffer, and the mask with the bitmaps it takes when
// asked for. A size that does not fit is refused as newimage refuses one, instead of the run
// being killed part way. "-" reads standard input.
Image* read_input(const char* path, bool marked, bool mask) {
  imagelib_detail::PbmInput input;
  ImageStatus status = ImageStatus::read_error;
  if (!names_standard_stream(path)) {
    status = imagelib_detail::pbm_input_open(path, &input);
  } else if (std::FILE* in = standard_input_stream(); in != nullptr) {
    status = imagelib_detail::pbm_input_open_stream(in, path, &input);
  } else {
    std::printf("Can't open the PBM file named '%s'\n", path);
  }
  Image* image = nullptr;
  if (status == ImageStatus::ok) {
    const int32_t rows = input.header.rows;
    const int32_t cols = input.header.cols;
    const uint64_t one = image_bytes(rows, cols);
    const uint64_t others = one + (mask ? one : 0) +
                            noise_detail::impulse_run_scratch_bytes(rows, cols, marked) +
                            kPnmWriteScratch;
    status =
        imagelib_detail::pbm_input_read(&input, noise_detail::image_limit(one, others), &image);
  }
  return imagelib_detail::pbm_input_result(status, image);
}

int run_funcao_exe(int argc, char** argv) {
  NoiseArguments arguments{};
  const ArgumentsStatus given = read_arguments(argc, argv, &arguments);
  if (given == ArgumentsStatus::help) {
    return std::fputs(help_text().c_str(), stdout) < 0 ? 1 : 0;
  }
  if (given == ArgumentsStatus::version) {
    std::printf("funcao_exe %s\n", IMAGENOISE_VERSION);
    return 0;
  }
  if (given == ArgumentsStatus::bad_format) {
    std::printf("Unknown format '%s': give p2, p5 or png.\n", arguments.bad_format);
    return 1;
  }
  if (given == ArgumentsStatus::bad_seed) {
    std::printf("Invalid seed '%s': give a whole number from 0 to 4294967295.\n",
                arguments.bad_seed);
    return 1;
  }
  if (given == ArgumentsStatus::bad_impulse) {
    std::printf("Invalid impulse kind '%s': give fixed or random.\n", arguments.bad_impulse);
    return 1;
  }
  if (given != ArgumentsStatus::ok) {
    std::printf(
        "Usage: funcao_exe <image> <output> <white points percentage> <image points "
        "percentage>\n");
    return 1;
  }
  const ImageFormat format = output_format(arguments);
  const ImageFormat mask_format =
      arguments.mask_path == nullptr ? format : output_format(arguments, arguments.mask_path);
  if ((format == ImageFormat::png || mask_format == ImageFormat::png) && !image_png_supported()) {
    std::printf(
        "This build of funcao_exe cannot write PNG files (it was built without "
        "libspng): give --format p2 or p5.\n");
    return 2;
  }
  ignore_write_signals();
  imagelib_detail::remove_temporary_files_at_exit();
  // Decided before anything is printed, so that no message lands in the image.
  const bool to_stream = names_standard_stream(arguments.output_path);
  std::FILE* image_out =
      to_stream ? claim_standard_output_stream() : claim_standard_output(arguments.output_path);
  if (to_stream && image_out == nullptr) {
    sys_abort(0, "Can't open output file.");
  }
  Image*& input = funcao_exe_input;
  Image*& noisy = funcao_exe_noisy;
  // The input is read before the percentages are looked at, so its faults are reported first.
  const bool want_mask = arguments.mask_path != nullptr;
  input = read_input(arguments.input_path, arguments.exact || want_mask, want_mask);
  if (input == nullptr) {
    std::printf("No input image ('%s')\n", arguments.input_path);
    return 2;
  }
  NoiseSettings settings{};
  if (read_settings(arguments, &settings) != SettingsStatus::ok) {
    std::printf("Burro!!!\n");
    freeimage(input);
    return 3;
  }
  if (!arguments.quiet) {
    std::printf("Ruido impulsivo com %s %% de pontos da imagem\n",
                percentage_text(settings.density).c_str());
    if (arguments.impulse == ImpulseKind::random) {
      // The white share has no meaning for values of their own; it was read and checked only so
      // that the arguments keep their places.
      std::printf(" %s %% compostos de valores aleatorios\n", percentage_text(100.0).c_str());
    } else {
      std::printf(" %s %% compostos de pontos brancos\n", percentage_text(settings.white).c_str());
      std::printf(" %s %% compostos de pontos pretos\n",
                  percentage_text(100.0 - static_cast<double>(settings.white)).c_str());
    }
  }

  copy(&noisy, input);
  ImpulseOptions options = impulse_options(arguments);
  if (want_mask) {
    Image*& mask = funcao_exe_mask;
    mask = newimage(input->dims->rows, input->dims->cols);
    if (mask == nullptr) {
      sys_abort(0, "No more storage.");
    }
    options.mask = mask;
  }
  if (add_impulse_noise(noisy, settings.white, settings.density, arguments.seed, options).white <
      0) {
    sys_abort(0, "No more storage.");  // the bitmap of where the points land
  }
  if (want_mask) {
    switch (write_output_and_mask(noisy, arguments.output_path, image_out, !to_stream, format,
                                  options.mask, arguments.mask_path, mask_format)) {
      case PairWritten::done:
        break;
      case PairWritten::cannot_open_output:
        sys_abort(0, "Can't open output file.");
      case PairWritten::cannot_open_mask:
        sys_abort(0, "Can't open mask file.");
      case PairWritten::cannot_write_output:
        sys_abort(0, "Can't write output file.");
      case PairWritten::cannot_write_mask:
        sys_abort(0, "Can't write mask file.");
    }
  } else {
    write_output(noisy, arguments.output_path, image_out, !to_stream, format);
  }

  if (!arguments.quiet) {
    std::printf("SUCESSO!\n");
    std::printf("O arquivo se encontra em '%s'.\n", arguments.output_path);
  }
  return 0;
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
  Utf8Arguments arguments = utf8_arguments(argc, argv);
  return run_funcao_exe(argc, arguments.argv.data());
}
#else
int main(int argc, char** argv) {
  return run_funcao_exe(argc, argv);
}
#endif
