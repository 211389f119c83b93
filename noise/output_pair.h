// SPDX-License-Identifier: MIT
// funcao_exe's output and its mask, written so that neither replaces its target unless both are
// complete.
#ifndef NOISE_OUTPUT_PAIR_H
#define NOISE_OUTPUT_PAIR_H

#include <cstdio>

#include "imagelib/lib.h"

enum class PairWritten {
  done,
  cannot_open_output,
  cannot_open_mask,
  cannot_write_output,
  cannot_write_mask,
};

// Writes image to output_path (or to image_out, when that is not null: standard output claimed
// for it, ended as close_image_stream(image_out, cut) ends it) in format, and mask to mask_path
// in mask_format. Files that can be replaced whole are
// written to temporary files first, and take their targets' places only once both files are
// complete; otherwise every temporary file is removed. A target that cannot be replaced that way (a
// device, a pipe, a file with other names) is written directly, as the output alone would be.
PairWritten write_output_and_mask(const Image* image, const char* output_path, std::FILE* image_out,
                                  bool cut, ImageFormat format, const Image* mask,
                                  const char* mask_path, ImageFormat mask_format);

#endif
