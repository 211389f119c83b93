// SPDX-License-Identifier: MIT
// Every format behind one reader and one writer, and the rule that picks a format by name.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "imagelib/image_reader.h"
#include "imagelib/lib.h"

ImageFormat image_format_for_name(const char* path) {
  const std::string_view name(path);
  constexpr std::string_view kPng = ".png";
  if (!image_png_supported() || name.size() < kPng.size()) {
    return ImageFormat::p2;
  }
  const std::string_view end = name.substr(name.size() - kPng.size());
  for (size_t i = 0; i < kPng.size(); ++i) {
    const char c = end[i];
    const char folded = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (folded != kPng[i]) {
      return ImageFormat::p2;
    }
  }
  return ImageFormat::png;
}

ImageStatus image_write(ByteSink* out, const Image* image, ImageFormat format) {
  switch (format) {
    case ImageFormat::p5:
      return pnm_write_p5(out, image);
    case ImageFormat::png:
      return png_write(out, image);
    case ImageFormat::p2:
      break;
  }
  return pnm_write_p2(out, image);
}

namespace imagelib_detail {

ImageStatus image_read_header(ByteSource* in, ImageReader* reader, PnmHeader* header) {
  if (starts_like_png(in)) {
    return png_read_header(in, reader, header);
  }
  return pnm_read_header(in, header);
}

ImageStatus image_read_pixels(ByteSource* in, ImageReader* reader, PnmHeader* header,
                              Image* image) {
  if (reader->png != nullptr) {
    return png_read_pixels(reader, header, image);
  }
  return pnm_read_raster(in, header, image);
}

}  // namespace imagelib_detail

namespace {

// A whole file through a reader's two steps; the header's origin goes to the image before the
// pixels (PNM), or comes with them (PNG).
template <typename ReadHeader>
ImageStatus read_whole(ByteSource* in, uint64_t limit, Image** image, PnmHeader* header,
                       ReadHeader read_header) {
  *image = nullptr;
  PnmHeader local{};
  PnmHeader* const found = header != nullptr ? header : &local;
  *found = PnmHeader{};
  imagelib_detail::ImageReader reader;
  ImageStatus status = read_header(in, &reader, found);
  if (status != ImageStatus::ok) {
    return status;
  }
  Image* made = nullptr;
  status = image_create(found->rows, found->cols, limit, &made);
  if (status != ImageStatus::ok) {
    return status;
  }
  made->dims->origin_col = found->origin_col;
  made->dims->origin_row = found->origin_row;
  status = imagelib_detail::image_read_pixels(in, &reader, found, made);
  if (status != ImageStatus::ok) {
    freeimage(made);
    return status;
  }
  *image = made;
  return ImageStatus::ok;
}

}  // namespace

ImageStatus image_read(ByteSource* in, uint64_t limit, Image** image, PnmHeader* header) {
  return read_whole(in, limit, image, header, imagelib_detail::image_read_header);
}

ImageStatus pnm_read(ByteSource* in, uint64_t limit, Image** image, PnmHeader* header) {
  return read_whole(in, limit, image, header,
                    [](ByteSource* source, imagelib_detail::ImageReader*, PnmHeader* found) {
                      return pnm_read_header(source, found);
                    });
}

ImageStatus png_read(ByteSource* in, uint64_t limit, Image** image, PnmHeader* header) {
  return read_whole(in, limit, image, header, imagelib_detail::png_read_header);
}
