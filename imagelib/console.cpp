// SPDX-License-Identifier: MIT
// The classic calls over the core: each says what went wrong on the console, as it always has,
// and ends the process where the caller could not go on. The reader's pending origin lives here.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imagelib/lib.h"
#include "imagelib/pbm_input.h"
#include "imagelib/platform/file_open.h"
#include "imagelib/platform/physical_memory.h"
#include "imagelib/platform/replace_file.h"

int32_t PBM_SE_ORIGIN_ROW = 0;
int32_t PBM_SE_ORIGIN_COL = 0;

namespace {

using imagelib_detail::PbmInput;

// The size of every image newimage makes is bounded by the machine: room is asked for the image
// and one copy of it, since copying is what callers do with an image read (funcao_exe always
// does). A size that fits once but not twice would be read in full only for the copy to fail, and
// a tiny file claiming billions of rows fails at once instead of driving the process into the
// kernel's out-of-memory killer.
uint64_t image_limit(uint64_t caller_limit) {
  return std::min(caller_limit, imagelib_detail::physical_memory() / 2);
}

Image* newimage_within(int32_t rows, int32_t cols, uint64_t limit) {
  Image* image = nullptr;
  int32_t failed_row = -1;
  switch (image_create(rows, cols, image_limit(limit), &image, &failed_row)) {
    case ImageStatus::ok:
      return image;
    case ImageStatus::bad_size:
      std::printf("Error: Bad image size (%d,%d)\n", rows, cols);
      return nullptr;
    default:
      if (failed_row >= 0) {
        std::printf("Out of storage. Newimage - row %d\n", failed_row);
        std::exit(1);
      }
      std::printf("Out of storage in NEWIMAGE.\n");
      return nullptr;
  }
}

// The comments of a header read set the pending origin, whatever became of the file.
void keep_pending_origin(const PnmHeader& header) {
  if (header.has_origin_col) {
    PBM_SE_ORIGIN_COL = header.origin_col;
  }
  if (header.has_origin_row) {
    PBM_SE_ORIGIN_ROW = header.origin_row;
  }
}

void cannot_read(const char* path) {
  std::printf("Can't open the PBM file named '%s'\n", path);
}

}  // namespace

namespace imagelib_detail {

namespace {

ImageStatus read_input_header(PbmInput* input) {
  const ImageStatus status = image_read_header(&input->source, &input->reader, &input->header);
  keep_pending_origin(input->header);
  switch (status) {
    case ImageStatus::ok:
    case ImageStatus::colour:
    case ImageStatus::too_deep:
    case ImageStatus::png_colour:
    case ImageStatus::png_alpha:
    case ImageStatus::png_too_deep:
      break;
    case ImageStatus::not_pnm:
    case ImageStatus::bad_header:
    case ImageStatus::bad_png:
    case ImageStatus::no_storage:
      std::printf("%s\n", image_strerror(status));
      return status;
    default:  // a read error, which includes a directory given as the path
      cannot_read(input->path);
      return ImageStatus::read_error;
  }
  const PnmHeader& header = input->header;
  // NOLINTBEGIN(cert-err33-c): a console message that cannot be printed leaves nothing to do.
  std::fflush(stdout);
  if (header.pnm_class == 0) {
    std::fprintf(stderr, "\nPNG file size %d columns X %d rows depth %d\n", header.cols,
                 header.rows, header.bit_depth);
  } else {
    std::fprintf(stderr, "\nPBM file class %d size %d columns X %d rows Max=%d\n", header.pnm_class,
                 header.cols, header.rows, header.maxval);
  }
  // NOLINTEND(cert-err33-c)
  if (status == ImageStatus::too_deep) {
    std::printf("More than 8 bits per sample (maximum %d).\n", header.maxval);
  } else if (status != ImageStatus::ok && status != ImageStatus::colour) {
    std::printf("%s\n", image_strerror(status));
  }
  return status;
}

}  // namespace

ImageStatus pbm_input_open(const char* path, PbmInput* input) {
  input->path = path;
  if (byte_source_open(path, &input->source) != ImageStatus::ok) {
    cannot_read(path);
    return ImageStatus::read_error;
  }
  return read_input_header(input);
}

ImageStatus pbm_input_open_stream(std::FILE* stream, const char* name, PbmInput* input) {
  input->path = name;
  input->source = byte_source_file(stream);
  return read_input_header(input);
}

ImageStatus pbm_input_read(PbmInput* input, uint64_t limit, Image** image) {
  *image = nullptr;
  Image* read = newimage_within(input->header.rows, input->header.cols, limit);
  if (read == nullptr) {
    return ImageStatus::no_storage;
  }
  read->dims->origin_row = PBM_SE_ORIGIN_ROW;
  read->dims->origin_col = PBM_SE_ORIGIN_COL;
  PBM_SE_ORIGIN_ROW = 0;
  PBM_SE_ORIGIN_COL = 0;
  if (input->reader.png != nullptr) {
    // A PNG file's origin comes with its pixels, from its own text.
    const ImageStatus status = png_read_pixels(&input->reader, &input->header, read);
    if (status != ImageStatus::ok) {
      freeimage(read);
      std::printf("%s\n", image_strerror(status));
      return status;
    }
    *image = read;
    return ImageStatus::ok;
  }
  if (pnm_read_raster(&input->source, &input->header, read) != ImageStatus::ok) {
    // A stream error, not an early end: the pixels cannot be trusted.
    freeimage(read);
    if (input->header.pnm_class >= 4) {
      std::printf("Input_PBM: Sync error, file '%s'. Use ASCII PGM.\n", input->path);
      return ImageStatus::sync_error;
    }
    cannot_read(input->path);
    return ImageStatus::read_error;
  }
  *image = read;
  return ImageStatus::ok;
}

Image* pbm_input_result(ImageStatus status, Image* image) {
  switch (status) {
    case ImageStatus::colour:
      sys_abort(0, "Colour image.");
    case ImageStatus::sync_error:
      std::exit(3);
    default:
      return image;
  }
}

}  // namespace imagelib_detail

Image* newimage(int32_t rows, int32_t cols) {
  return newimage_within(rows, cols, UINT64_MAX);
}

void CopyVarImage(Image** destination, Image** source) {
  // The destination may already hold the very source image (through another handle): releasing
  // it first would leave nothing to copy from, and it is already equal to the source.
  if (destination == source || *destination == *source) {
    return;
  }
  const Image* from = *source;
  freeimage(*destination);
  *destination = newimage(from->dims->rows, from->dims->cols);
  if (*destination == nullptr) {
    sys_abort(0, "No more storage.\n");
  }
  Image* to = *destination;
  for (int32_t i = 0; i < from->dims->rows; ++i) {
    std::memcpy(to->pixels[i], from->pixels[i], static_cast<size_t>(from->dims->cols));
  }
  to->dims->origin_row = from->dims->origin_row;
  to->dims->origin_col = from->dims->origin_col;
}

void copy(Image** destination, Image* source) {
  Image* handle = source;
  CopyVarImage(destination, &handle);
}

void sys_abort(int code, const char* message) {
  // Whatever the process already said on standard output comes before the report.
  // NOLINTBEGIN(cert-err33-c): the process ends next; a report that cannot be printed is lost.
  std::fflush(stdout);
  std::fprintf(stderr, "**** System library ABORT %d: %s ****\n", code, message);
  // NOLINTEND(cert-err33-c)
  std::exit(2);
}

PnmStatus pbm_read_header(std::FILE* in, PnmHeader* header) {
  ByteSource source = byte_source_file(in);
  const ImageStatus status = pnm_read_header(&source, header);
  keep_pending_origin(*header);
  return status;
}

PnmStatus pbm_read_raster(std::FILE* in, const PnmHeader* header, Image* image) {
  ByteSource source = byte_source_file(in);
  return pnm_read_raster(&source, header, image);
}

PnmStatus pbm_read_file(const char* path, Image** image) {
  *image = nullptr;
  PbmInput input;
  const ImageStatus status = imagelib_detail::pbm_input_open(path, &input);
  return status == ImageStatus::ok ? imagelib_detail::pbm_input_read(&input, UINT64_MAX, image)
                                   : status;
}

Image* Input_PBM(const char* path) {
  Image* image = nullptr;
  const ImageStatus status = pbm_read_file(path, &image);
  return imagelib_detail::pbm_input_result(status, image);
}

bool pbm_write(std::FILE* out, const Image* image) {
  return imagelib_detail::write_image_stream(out, image, ImageFormat::p2) == ImageStatus::ok;
}

ImageStatus imagelib_detail::write_image_stream(std::FILE* out, const Image* image,
                                                ImageFormat format) {
  ByteSink sink = byte_sink_file(out);
  return image_write(&sink, image, format);
}

// A status that says more than a failed write (or a failed close, after an ok) is worth its own
// text. Only the PNG writer refuses a size: PNG holds no image without pixels.
void imagelib_detail::cannot_write(ImageStatus status) {
  switch (status) {
    case ImageStatus::ok:
    case ImageStatus::write_error:
      sys_abort(0, "Can't write output file.");
    case ImageStatus::bad_size:
      sys_abort(0, "An image without pixels cannot be written as PNG.");
    default:
      sys_abort(0, image_strerror(status));
  }
}

Image* Output_PBM(Image* image, const char* path) {
  return imagelib_detail::output_image(image, path, ImageFormat::p2);
}

Image* imagelib_detail::output_image(Image* image, const char* path, ImageFormat format) {
  // A file the user owns is replaced only once the new text is complete, so that a failed run (no
  // memory, a full disk, a file size limit) leaves the old file as it was.
  imagelib_detail::FileReplacement replacement;
  if (imagelib_detail::replacement_begin(path, &replacement)) {
    const ImageStatus status = write_image_stream(replacement.stream, image, format);
    switch (imagelib_detail::replacement_finish(&replacement, status == ImageStatus::ok)) {
      case imagelib_detail::Replaced::done:
        return image;
      case imagelib_detail::Replaced::failed:
        imagelib_detail::cannot_write(status);
      case imagelib_detail::Replaced::not_done:
        break;
    }
  } else if (replacement.refusal == imagelib_detail::Refusal::open) {
    sys_abort(0, "Can't open output file.");
  } else if (replacement.refusal == imagelib_detail::Refusal::attributes) {
    sys_abort(0, "Can't keep the output file's ACL and attributes.");
  }
  // A device, a pipe, a file with other names or of another owner, or a directory that takes no
  // new file: written in place. Binary, so that the file has the same bytes on every platform
  // (LF line ends on Windows too).
  std::FILE* out = imagelib_detail::open_file(path, "wb");
  if (out == nullptr) {
    sys_abort(0, "Can't open output file.");
  }
  // The text is written in large pieces already; the stream's own buffer would only split each
  // piece into two system calls. If it cannot be turned off, the stream stays buffered.
  if (format == ImageFormat::p2) {
    // NOLINTNEXTLINE(cert-err33-c): either way the output is the same.
    std::setvbuf(out, nullptr, _IONBF, 0);
  }
  const ImageStatus status = write_image_stream(out, image, format);
  if (std::fclose(out) != 0 || status != ImageStatus::ok) {
    imagelib_detail::cannot_write(status);
  }
  return image;
}
