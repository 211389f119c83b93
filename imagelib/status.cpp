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
    case ImageStatus::bad_png:
      return "Bad PNG file: cut off, or damaged.";
    case ImageStatus::png_colour:
      return "PNG colour image: convert it to 8-bit grey first (pngtopnm in.png | ppmtopgm > "
             "in.pgm).";
    case ImageStatus::png_alpha:
      return "PNG image with an alpha channel: convert it to 8-bit grey first (pngtopnm in.png > "
             "in.pgm).";
    case ImageStatus::png_too_deep:
      return "PNG image of 16 bits per sample: convert it to 8-bit grey first (pngtopnm in.png | "
             "pamdepth 255 > in.pgm).";
    case ImageStatus::not_supported:
      return "This build has no PNG support.";
  }
  return "Unknown status.";
}
