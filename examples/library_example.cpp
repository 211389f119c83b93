// SPDX-License-Identifier: MIT
// Adds 5 % salt and pepper noise with the library's own generator, measures the noisy copy
// against its source and writes it.
#include <cstdio>

#include "imagelib/lib.h"
#include "noise/metrics.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "examples/coins.pgm";
  Image* clean = Input_PBM(path);  // null, with a message, when unreadable
  if (clean == nullptr) {
    return 2;
  }
  Image* noisy = nullptr;
  copy(&noisy, clean);

  srand32(1);  // the same seed always gives the same noise
  for (int32_t r = 0; r < noisy->dims->rows; ++r) {
    for (int32_t c = 0; c < noisy->dims->cols; ++c) {
      if (drand32() < 0.05) {
        noisy->pixels[r][c] = drand32() < 0.5 ? 255 : 0;
      }
    }
  }

  std::printf("RMS error %.3f, signal/noise %.2f\n", Erro_medio(noisy, clean),
              Sinal_ruido(noisy, clean));
  Output_PBM(noisy, "noisy.pgm");
  freeimage(noisy);
  freeimage(clean);
}
