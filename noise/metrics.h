// SPDX-License-Identifier: MIT
// Measures of how far image a lies from image b, pixel by pixel over a's rows and columns. The
// caller guarantees that b is at least as large as a; the measures do not check.
#ifndef NOISE_METRICS_H
#define NOISE_METRICS_H

#include "imagelib/lib.h"

// Sum of squared differences, accumulated in single precision.
float Erro(const Image* a, const Image* b);
// Root-mean-square difference: sqrt(Erro / (rows * cols)); not a number for an empty image.
float Erro_medio(const Image* a, const Image* b);
// Signal power over noise power with b as the signal: sum(b^2) / sum((a - b)^2), a plain ratio.
// Infinity for equal images, not a number when they are equal and all 0.
double Sinal_ruido(const Image* a, const Image* b);

#endif
