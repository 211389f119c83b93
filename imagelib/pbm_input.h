// SPDX-License-Identifier: MIT
// Input_PBM in two steps, for a command that weighs an image's size before the image is made.
// Internal to the library, and shared with the commands.
#ifndef IMAGELIB_PBM_INPUT_H
#define IMAGELIB_PBM_INPUT_H

#include <cstdint>

#include "imagelib/lib.h"

namespace imagelib_detail {

struct PbmInput {
  const char* path = nullptr;
  ByteSource source;
  PnmHeader header{};
};

// Opens path and reads its header, printing what Input_PBM prints by then: the reason for a
// refusal on standard output, and for a file whose magic is accepted the class line on standard
// error (then the message for too deep a file). The pending origin takes what the comments set.
// ok when the raster can be read; colour, too_deep or the refusal otherwise.
ImageStatus pbm_input_open(const char* path, PbmInput* input);

// Makes the image as newimage does, with its messages, refusing also a size above limit bytes
// (see image_bytes); hands it the pending origin, and reads the raster. read_error or sync_error
// for a raster that cannot be read, with its message.
ImageStatus pbm_input_read(PbmInput* input, uint64_t limit, Image** image);

// Input_PBM's end: the process ends for a colour file (sys_abort) and a binary raster that cannot
// be read (status 3); otherwise image, null unless status is ok.
Image* pbm_input_result(ImageStatus status, Image* image);

}  // namespace imagelib_detail

#endif
