// SPDX-License-Identifier: MIT
// The PNG reader and writer, over libspng where the build has it (IMAGELIB_HAVE_PNG). Without it
// PNG files are not recognised (a PNM reader refuses them as before) and cannot be written.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "imagelib/byte_io.h"
#include "imagelib/image_reader.h"
#include "imagelib/lib.h"
#include "imagelib/pnm_text.h"

#if defined(IMAGELIB_HAVE_PNG)
#include <spng.h>

namespace {

// Ancillary chunks are held in memory while a file is read: a file naming a gigabyte of text or
// colour profile is refused at these sizes instead of being taken in.
constexpr size_t kChunkLimit = size_t{1} << 24;
constexpr size_t kChunkCacheLimit = size_t{1} << 26;

// The writer's compression, chosen on noisy 4096 x 4096 photographs: each row as its difference
// from the row above ("up") and zlib's run-length strategy (Z_RLE, 3) take 0.6 s for 11.0 MB,
// where zlib's defaults with every filter tried take 4 s for 11.1 MB (level 3: 2 s, 12.2 MB).
constexpr int kCompressionLevel = 1;
constexpr int kZlibRunLength = 3;

struct ContextFree {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

ImageStatus status_of(int error, const ByteSource* in) {
  if (in != nullptr && in->failed) {
    return ImageStatus::read_error;
  }
  return error == SPNG_EMEM ? ImageStatus::no_storage : ImageStatus::bad_png;
}

int read_bytes(spng_ctx*, void* user, void* dest, size_t length) {
  auto* in = static_cast<ByteSource*>(user);
  if (imagelib_detail::source_read(in, dest, length) == length) {
    return 0;
  }
  return in->failed ? SPNG_IO_ERROR : SPNG_IO_EOF;
}

int write_bytes(spng_ctx*, void* user, void* src, size_t length) {
  return imagelib_detail::sink_write(static_cast<ByteSink*>(user), src, length) ? 0 : SPNG_IO_ERROR;
}

}  // namespace

namespace imagelib_detail {

struct PngDecoder {
  Context ctx;
  ByteSource* in = nullptr;
  bool palette = false;  // decoded as RGB through the palette; the red sample is the grey
  bool interlaced = false;
};

void PngDecoderFree::operator()(PngDecoder* decoder) const {
  std::default_delete<PngDecoder>()(decoder);
}

bool starts_like_png(ByteSource* in) {
  return source_peek(in) == 0x89;
}

ImageStatus png_read_header(ByteSource* in, ImageReader* reader, PnmHeader* header) {
  header->pnm_class = 0;
  header->origin_col = 0;
  header->origin_row = 0;
  header->has_origin_col = false;
  header->has_origin_row = false;
  std::unique_ptr<PngDecoder> decoder;
  try {
    decoder = std::make_unique<PngDecoder>();
  } catch (const std::bad_alloc&) {
    return ImageStatus::no_storage;
  }
  decoder->ctx.reset(spng_ctx_new(0));
  decoder->in = in;
  spng_ctx* ctx = decoder->ctx.get();
  if (ctx == nullptr) {
    return ImageStatus::no_storage;
  }
  int error = spng_set_png_stream(ctx, read_bytes, in);
  if (error == 0) {
    error = spng_set_chunk_limits(ctx, kChunkLimit, kChunkCacheLimit);
  }
  spng_ihdr ihdr{};
  if (error == 0) {
    error = spng_get_ihdr(ctx, &ihdr);
  }
  if (error != 0) {
    return status_of(error, in);
  }
  // libspng refuses sizes above 2^31 - 1, which PNG itself allows no further.
  header->cols = static_cast<int32_t>(ihdr.width);
  header->rows = static_cast<int32_t>(ihdr.height);
  header->maxval = 255;
  header->bit_depth = ihdr.bit_depth;
  header->png_colour_type = ihdr.color_type;
  decoder->interlaced = ihdr.interlace_method != 0;
  switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_GRAYSCALE:
      if (ihdr.bit_depth > 8) {
        return ImageStatus::png_too_deep;
      }
      break;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
      return ImageStatus::png_alpha;
    case SPNG_COLOR_TYPE_INDEXED: {
      spng_plte plte{};
      error = spng_get_plte(ctx, &plte);
      if (error != 0) {
        return status_of(error, in);
      }
      for (uint32_t i = 0; i < plte.n_entries; ++i) {
        const spng_plte_entry& entry = plte.entries[i];
        if (entry.red != entry.green || entry.red != entry.blue) {
          return ImageStatus::png_colour;
        }
      }
      decoder->palette = true;
      break;
    }
    default:
      return ImageStatus::png_colour;
  }
  reader->png.reset(decoder.release());
  return ImageStatus::ok;
}

namespace {

// The last "origin" text of the file, read as an "#origin" comment's numbers are.
void read_origin(spng_ctx* ctx, PnmHeader* header) {
  uint32_t count = 0;
  if (spng_get_text(ctx, nullptr, &count) != 0 || count == 0) {
    return;
  }
  std::vector<spng_text> texts(count);
  if (spng_get_text(ctx, texts.data(), &count) != 0) {
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const spng_text& text = texts[i];
    if (std::strcmp(text.keyword, "origin") != 0 || text.text == nullptr) {
      continue;
    }
    scan_origin(std::string_view(text.text, text.length), header);
  }
}

// Rows come in the file's order, each pass of an interlaced file adding to rows already begun,
// so every row keeps its buffer from the first pass to the last.
int decode_rows(spng_ctx* ctx, const imagelib_detail::PngDecoder& decoder, Image* image,
                std::vector<unsigned char>* rgb) {
  const auto cols = static_cast<size_t>(image->dims->cols);
  const size_t row_bytes = decoder.palette ? 3 * cols : cols;
  int error = 0;
  do {
    spng_row_info info{};
    error = spng_get_row_info(ctx, &info);
    if (error != 0) {
      break;
    }
    unsigned char* target = image->pixels[info.row_num];
    if (decoder.palette) {
      target = rgb->data() + (decoder.interlaced ? info.row_num * row_bytes : 0);
    }
    error = spng_decode_row(ctx, target, row_bytes);
    if (decoder.palette && (error == 0 || error == SPNG_EOI) && !decoder.interlaced) {
      for (size_t col = 0; col < cols; ++col) {
        image->pixels[info.row_num][col] = target[3 * col];
      }
    }
  } while (error == 0);
  if (error == SPNG_EOI && decoder.palette && decoder.interlaced) {
    for (size_t row = 0; row < static_cast<size_t>(image->dims->rows); ++row) {
      for (size_t col = 0; col < cols; ++col) {
        image->pixels[row][col] = (*rgb)[row * row_bytes + 3 * col];
      }
    }
  }
  return error;
}

}  // namespace

ImageStatus png_read_pixels(ImageReader* reader, PnmHeader* header, Image* image) {
  PngDecoder& decoder = *reader->png;
  spng_ctx* ctx = decoder.ctx.get();
  const auto rows = static_cast<size_t>(image->dims->rows);
  const auto cols = static_cast<size_t>(image->dims->cols);
  std::vector<unsigned char> rgb;
  try {
    if (decoder.palette) {
      // An interlaced palette image is put together whole before it is turned into grey.
      rgb.resize(3 * cols * (decoder.interlaced ? rows : 1));
    }
  } catch (const std::bad_alloc&) {
    return ImageStatus::no_storage;
  }
  const int format = decoder.palette ? SPNG_FMT_RGB8 : SPNG_FMT_G8;
  int error = spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_PROGRESSIVE);
  if (error == 0) {
    error = decode_rows(ctx, decoder, image, &rgb);
  }
  if (error != SPNG_EOI) {
    return status_of(error, decoder.in);
  }
  // The chunks after the pixels, up to the end: a text there still counts, and a damaged end
  // is a damaged file.
  error = spng_decode_chunks(ctx);
  if (error != 0) {
    return status_of(error, decoder.in);
  }
  try {
    read_origin(ctx, header);
  } catch (const std::bad_alloc&) {
    return ImageStatus::no_storage;
  }
  image->dims->origin_col = header->origin_col;
  image->dims->origin_row = header->origin_row;
  return ImageStatus::ok;
}

}  // namespace imagelib_detail

bool image_png_supported() {
  return true;
}

ImageStatus png_write(ByteSink* out, const Image* image) {
  const ImageDims& dims = *image->dims;
  if (dims.rows <= 0 || dims.cols <= 0) {
    return ImageStatus::bad_size;
  }
  const Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (ctx == nullptr) {
    return ImageStatus::no_storage;
  }
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(dims.cols);
  ihdr.height = static_cast<uint32_t>(dims.rows);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_GRAYSCALE;
  // Two numbers of at most 11 characters and a space.
  char origin[32];
  const int length =
      std::snprintf(origin, sizeof origin, "%d %d", dims.origin_col, dims.origin_row);
  spng_text text{};
  std::memcpy(text.keyword, "origin", sizeof "origin");
  text.type = SPNG_TEXT;
  text.length = length < 0 ? 0 : static_cast<size_t>(length);
  text.text = origin;
  int error = spng_set_png_stream(ctx.get(), write_bytes, out);
  if (error == 0) {
    error = spng_set_ihdr(ctx.get(), &ihdr);
  }
  if (error == 0) {
    error = spng_set_text(ctx.get(), &text, 1);
  }
  if (error == 0) {
    error = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, kCompressionLevel);
  }
  if (error == 0) {
    error = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, kZlibRunLength);
  }
  if (error == 0) {
    error = spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP);
  }
  if (error == 0) {
    error = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG,
                              SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  }
  for (int32_t row = 0; row < dims.rows && error == 0; ++row) {
    error = spng_encode_row(ctx.get(), image->pixels[row], static_cast<size_t>(dims.cols));
  }
  if (out->failed) {
    return ImageStatus::write_error;
  }
  if (error != SPNG_EOI) {
    return error == SPNG_EMEM ? ImageStatus::no_storage : ImageStatus::write_error;
  }
  return imagelib_detail::sink_flush(out) ? ImageStatus::ok : ImageStatus::write_error;
}

#else

namespace imagelib_detail {

struct PngDecoder {};

void PngDecoderFree::operator()(PngDecoder* decoder) const {
  std::default_delete<PngDecoder>()(decoder);
}

bool starts_like_png(ByteSource*) {
  return false;
}

ImageStatus png_read_header(ByteSource*, ImageReader*, PnmHeader*) {
  return ImageStatus::not_supported;
}

ImageStatus png_read_pixels(ImageReader*, PnmHeader*, Image*) {
  return ImageStatus::not_supported;
}

}  // namespace imagelib_detail

bool image_png_supported() {
  return false;
}

ImageStatus png_write(ByteSink*, const Image*) {
  return ImageStatus::not_supported;
}

#endif
