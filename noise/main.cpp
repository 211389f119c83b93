// funcao_exe: adds impulse (salt and pepper) noise to a copy of a greyscale PNM image.
#include <cstdio>

#include "imagelib/lib.h"
#include "noise/noise.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::printf(
        "Usage: funcao_exe <image> <output> <white points percentage> <image points "
        "percentage>\n");
    return 1;
  }
  const char* input_path = argv[1];
  const char* output_path = argv[2];
  Image* input = Input_PBM(input_path);
  if (input == nullptr) {
    std::printf("No input image ('%s')\n", input_path);
    return 2;
  }
  const float white = parse_percentage(argv[3]);
  const float density = parse_percentage(argv[4]);
  if (white > 100 || density > 100) {
    std::printf("Burro!!!\n");
    freeimage(input);
    return 3;
  }
  std::printf("Ruido impulsivo com %.1f %% de pontos da imagem\n", static_cast<double>(density));
  std::printf(" %.1f %% compostos de pontos brancos\n", static_cast<double>(white));
  std::printf(" %.1f %% compostos de pontos pretos\n", 100.0 - static_cast<double>(white));
  const NoiseCounts counts = noise_counts(white, density, input->dims->rows, input->dims->cols);

  Image* noisy = nullptr;
  copy(&noisy, input);
  RandState state{};
  rand_init(&state);
  add_impulses(noisy, counts.white, 255, &state);
  add_impulses(noisy, counts.black, 0, &state);
  Output_PBM(noisy, output_path);

  std::printf("SUCESSO!\n");
  std::printf("O arquivo se encontra em '%s'.\n", output_path);
  // Both images live until the process ends, which returns their memory at once; releasing them
  // row by row first would only delay the exit.
  return 0;
}
