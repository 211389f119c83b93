// SPDX-License-Identifier: MIT
// libFuzzer target: the image reader (PNM, and PNG where the build has it) on arbitrary bytes,
// from memory and from a stream (a regular file), which must agree; then each writer into memory,
// then the reader again on what was written, which must give back the same size, origin and
// pixels.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imagelib/file_ptr.h"
#include "imagelib/image_reader.h"
#include "imagelib/lib.h"

namespace {

// Only the fuzzing run is capped, so it stays fast and within libFuzzer's memory limit; the
// reader's own limit is the caller's.
constexpr int64_t kMaxArea = int64_t{1} << 16;
constexpr int32_t kMaxRows = 1 << 12;

using imagelib_detail::FilePtr;

struct ImageFreer {
  void operator()(Image* image) const { freeimage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageFreer>;

void check(bool holds) {
  if (!holds) {
    std::abort();
  }
}

// The same bytes as a regular file (in memory, so no disk is touched), positioned at its start.
FilePtr regular_file(const uint8_t* data, size_t size) {
  const int fd = memfd_create("pnm_reader_fuzz", 0);
  check(fd >= 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = write(fd, data + done, size - done);
    check(wrote > 0);
    done += static_cast<size_t>(wrote);
  }
  check(lseek(fd, 0, SEEK_SET) == 0);
  FilePtr file(fdopen(fd, "rb"));
  check(file != nullptr);
  return file;
}

bool same_image(const Image* a, const Image* b) {
  if (a == nullptr || b == nullptr) {
    return a == b;
  }
  const ImageDims& x = *a->dims;
  const ImageDims& y = *b->dims;
  if (x.rows != y.rows || x.cols != y.cols || x.origin_row != y.origin_row ||
      x.origin_col != y.origin_col) {
    return false;
  }
  for (int32_t r = 0; r < x.rows; ++r) {
    if (std::memcmp(a->pixels[r], b->pixels[r], static_cast<size_t>(x.cols)) != 0) {
      return false;
    }
  }
  return true;
}

// The core's steps, with the size capped; null when refused or capped.
ImagePtr read_image(ByteSource* in) {
  PnmHeader header{};
  imagelib_detail::ImageReader reader;
  const ImageStatus status = imagelib_detail::image_read_header(in, &reader, &header);
  check(image_strerror(status) != nullptr);
  if (status != ImageStatus::ok) {
    return nullptr;
  }
  check(header.pnm_class >= 0 && header.pnm_class <= 6);
  check(header.cols >= 0 && header.rows >= 0);
  if (header.rows > kMaxRows || int64_t{header.rows} * header.cols > kMaxArea) {
    return nullptr;
  }
  Image* made = nullptr;
  check(image_create(header.rows, header.cols, UINT64_MAX, &made) == ImageStatus::ok);
  ImagePtr image(made);
  image->dims->origin_row = header.origin_row;
  image->dims->origin_col = header.origin_col;
  // Memory and a regular file report no errors, so an early end is the only way a PNM raster
  // falls short; a PNG file may be damaged anywhere.
  const ImageStatus pixels = imagelib_detail::image_read_pixels(in, &reader, &header, image.get());
  if (header.pnm_class == 0 && pixels == ImageStatus::bad_png) {
    return nullptr;
  }
  check(pixels == ImageStatus::ok);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource memory = byte_source_memory(data, size);
  const ImagePtr image = read_image(&memory);
  const FilePtr file = regular_file(data, size);
  ByteSource stream = byte_source_file(file.get());
  check(same_image(image.get(), read_image(&stream).get()));
  if (image == nullptr) {
    return 0;
  }

  for (const ImageFormat format : {ImageFormat::p2, ImageFormat::p5, ImageFormat::png}) {
    ByteSink out = byte_sink_memory();
    const ImageStatus written = image_write(&out, image.get(), format);
    if (format == ImageFormat::png &&
        (!image_png_supported() || image->dims->rows == 0 || image->dims->cols == 0)) {
      check(written != ImageStatus::ok);
      continue;
    }
    check(written == ImageStatus::ok);
    ByteSource again = byte_source_memory(out.bytes.data(), out.bytes.size());
    check(same_image(image.get(), read_image(&again).get()));
  }
  return 0;
}
