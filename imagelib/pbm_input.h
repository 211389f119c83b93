// SPDX-License-Identifier: MIT
// Input_PBM in two steps, for a command that weighs an image's size before the image is made, and
// Output_PBM in every format.
// Internal to the library, and shared with the commands.
#ifndef IMAGELIB_PBM_INPUT_H
#define IMAGELIB_PBM_INPUT_H

#include <cstdint>
#include <cstdio>

#include "imagelib/image_reader.h"
#include "imagelib/lib.h"

namespace imagelib_detail {

struct PbmInput {
  const char* path = nullptr;
  ByteSource source;
  PnmHeader header{};
  ImageReader reader;  // a PNG file's decoder
};

// Opens path and reads its header, printing what Input_PBM prints by then: the reason for a
// refusal on standard output, and for a file whose magic is accepted the class line on standard
// error (then the message for too deep a file). The pending origin takes what the comments set.
// ok when the raster can be read; colour, too_deep or the refusal otherwise.
// A PNG file (where the build has PNG) prints "\nPNG file size ..." as its class line, and for
// a refused one (colour, alpha, 16 bits) then its reason on standard output.
ImageStatus pbm_input_open(const char* path, PbmInput* input);
// pbm_input_open on a stream already open (standard input, say), which stays open; name stands
// for the path in the messages.
ImageStatus pbm_input_open_stream(std::FILE* stream, const char* name, PbmInput* input);

// Makes the image as newimage does, with its messages, refusing also a size above limit bytes
// (see image_bytes); hands it the pending origin, and reads the raster. read_error or sync_error
// for a raster that cannot be read, with its message.
ImageStatus pbm_input_read(PbmInput* input, uint64_t limit, Image** image);

// Input_PBM's end: the process ends for a colour file (sys_abort) and a binary raster that cannot
// be read (status 3); otherwise image, null unless status is ok.
Image* pbm_input_result(ImageStatus status, Image* image);

// Output_PBM in any format, with its replacement of the file and its ends of the process: a
// failure ends it through sys_abort, with the status's text where writing was not the fault
// (an image without pixels as PNG, or a build without PNG).
Image* output_image(Image* image, const char* path, ImageFormat format);
// Writes image in format to an open stream; the writer's status.
ImageStatus write_image_stream(std::FILE* out, const Image* image, ImageFormat format);

}  // namespace imagelib_detail

#endif
