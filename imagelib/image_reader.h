// SPDX-License-Identifier: MIT
// Reading any of the library's formats in two steps: the header, then (once the caller has
// weighed the size) the pixels. Internal to the library, and shared with the commands.
#ifndef IMAGELIB_IMAGE_READER_H
#define IMAGELIB_IMAGE_READER_H

#include <memory>

#include "imagelib/lib.h"

namespace imagelib_detail {

// A PNG file being read: the decoder's state between the two steps.
struct PngDecoder;
struct PngDecoderFree {
  void operator()(PngDecoder* decoder) const;
};

struct ImageReader {
  std::unique_ptr<PngDecoder, PngDecoderFree> png;  // set once a PNG header has been read
};

// Whether the next byte begins a PNG signature. No PNM file can begin with it.
bool starts_like_png(ByteSource* in);

// The PNG reader's steps. The header step reads the signature and every chunk before the pixels;
// the pixel step fills image (sized header->rows x header->cols), reads the rest of the file and
// fills the origin fields of both header and image from the "origin" text.
ImageStatus png_read_header(ByteSource* in, ImageReader* reader, PnmHeader* header);
ImageStatus png_read_pixels(ImageReader* reader, PnmHeader* header, Image* image);

// PNG or PNM, told apart by the first byte; then the pixels of whichever it was. For PNM the
// origin fields of the header are filled by the header step, for PNG by the pixel step (the
// text may follow the pixels).
ImageStatus image_read_header(ByteSource* in, ImageReader* reader, PnmHeader* header);
ImageStatus image_read_pixels(ByteSource* in, ImageReader* reader, PnmHeader* header, Image* image);

}  // namespace imagelib_detail

#endif
