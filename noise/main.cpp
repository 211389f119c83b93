// SPDX-License-Identifier: MIT
// funcao_exe: adds impulse (salt and pepper) noise to a copy of a greyscale PNM image.
#include <cstdio>

#include "imagelib/lib.h"
#include "imagelib/pbm_input.h"
#include "imagelib/platform/temporary_files.h"
#include "noise/command.h"
#include "noise/impulse.h"
#include "noise/memory_room.h"
#include "noise/noise.h"
#include "noise/output_target.h"
#include "noise/utf8_arguments.h"

// The two images live until the process ends, which returns their memory at once; releasing them
// row by row first would only delay the exit. These handles hold them to the end, so leak
// checkers, which look for memory still referenced there, see it held on purpose and not lost.
// They have external linkage: the compiler could otherwise turn them into locals.
Image* funcao_exe_input = nullptr;
Image* funcao_exe_noisy = nullptr;

namespace {

// The input is read as Input_PBM reads it, except that its size is weighed against the process's
// memory limits before the image is made, counting all the run holds: the input, its noisy copy,
// a noise pass's bitmap and the writer's text buffer. A size that does not fit is refused as
// newimage refuses one, instead of the run being killed part way.
Image* read_input(const char* path) {
  imagelib_detail::PbmInput input;
  ImageStatus status = imagelib_detail::pbm_input_open(path, &input);
  Image* image = nullptr;
  if (status == ImageStatus::ok) {
    const int32_t rows = input.header.rows;
    const int32_t cols = input.header.cols;
    const uint64_t one = image_bytes(rows, cols);
    const uint64_t others =
        one + noise_detail::impulse_scratch_bytes(rows, cols) + kPnmWriteScratch;
    status =
        imagelib_detail::pbm_input_read(&input, noise_detail::image_limit(one, others), &image);
  }
  return imagelib_detail::pbm_input_result(status, image);
}

int run_funcao_exe(int argc, char** argv) {
  NoiseArguments arguments{};
  const ArgumentsStatus given = read_arguments(argc, argv, &arguments);
  if (given == ArgumentsStatus::bad_seed) {
    std::printf("Invalid seed '%s': give a whole number from 0 to 4294967295.\n",
                arguments.bad_seed);
    return 1;
  }
  if (given != ArgumentsStatus::ok) {
    std::printf(
        "Usage: funcao_exe <image> <output> <white points percentage> <image points "
        "percentage>\n");
    return 1;
  }
  ignore_write_signals();
  imagelib_detail::remove_temporary_files_at_exit();
  // Decided before anything is printed, so that no message lands in the image.
  std::FILE* image_out = claim_standard_output(arguments.output_path);
  Image*& input = funcao_exe_input;
  Image*& noisy = funcao_exe_noisy;
  // The input is read before the percentages are looked at, so its faults are reported first.
  input = read_input(arguments.input_path);
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
  std::printf("Ruido impulsivo com %s %% de pontos da imagem\n",
              percentage_text(settings.density).c_str());
  std::printf(" %s %% compostos de pontos brancos\n", percentage_text(settings.white).c_str());
  std::printf(" %s %% compostos de pontos pretos\n",
              percentage_text(100.0 - static_cast<double>(settings.white)).c_str());

  copy(&noisy, input);
  add_impulse_noise(noisy, settings.white, settings.density, arguments.seed);
  if (image_out == nullptr) {
    Output_PBM(noisy, arguments.output_path);
  } else if (!pbm_write(image_out, noisy) || !finish_standard_output(image_out)) {
    sys_abort(0, "Can't write output file.");
  }

  std::printf("SUCESSO!\n");
  std::printf("O arquivo se encontra em '%s'.\n", arguments.output_path);
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
