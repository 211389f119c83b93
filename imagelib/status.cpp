// SPDX-License-Identifier: MIT
#include "imagelib/lib.h"

const char* image_strerror(ImageStatus status) {
  switch (status) {
    case ImageStatus::ok:
      return "Success.";
    case ImageStatus::not_pnm:
      return "Not a PBM/PGM/PPM file.";
    case ImageStatus::bad_header:
      return "Bad PBM/PGM/PPM header.";
    case ImageStatus::read_error:
      return "The file cannot be opened or read.";
    case ImageStatus::colour:
      return "Colour image.";
    case ImageStatus::too_deep:
      return "More than 8 bits per sample.";
    case ImageStatus::no_storage:
      return "Out of storage.";
    case ImageStatus::sync_error:
      return "The binary raster cannot be read.";
    case ImageStatus::bad_size:
      return "Bad image size.";
    case ImageStatus::too_large:
      return "The image needs more memory than allowed.";
    case ImageStatus::write_error:
      return "Can't write output file.";
  }
  return "Unknown status.";
}
