// SPDX-License-Identifier: MIT
// The PNM writers: an image as plain text (P2) or raw bytes (P5) on a byte sink.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imagelib/byte_io.h"
#include "imagelib/lib.h"
#include "imagelib/value_text.h"

namespace {

// The text is handed to the sink in pieces of this size: few system calls for a stream, and a
// piece still in the caches when the system copies it. Fuzzing builds make pieces small, so that
// small images fill several.
#ifdef IMAGELIB_SMALL_BUFFERS
constexpr size_t kPiece = 61;
#else
constexpr size_t kPiece = size_t{1} << 18;
#endif

// Room kept past the end of a piece for one call of the value writer.
constexpr size_t kWriterRoom = imagelib_detail::kMaxLineText + imagelib_detail::kMaxOvershoot;

static_assert(kPiece + kWriterRoom <= kPnmWriteScratch, "the writer's scratch is as documented");

// Where the heap has no room for a piece, a small one on the stack does the same work.
constexpr size_t kFallbackPiece = 4096;

struct FreeDeleter {
  void operator()(char* memory) const { std::free(memory); }
};

// The header's lines: "P2", the origin comment, the size and the maximum. At most 3 + 8 + 2 x 11
// + 3 x 11 bytes.
size_t format_header(const ImageDims& dims, char* text, size_t room) {
  const int n = std::snprintf(text, room, "P2\n#origin %d %d\n%d %d %d\n", dims.origin_col,
                              dims.origin_row, dims.cols, dims.rows, 255);
  return n < 0 ? 0 : std::min(static_cast<size_t>(n), room - 1);
}

ImageStatus write_text(ByteSink* out, const Image* image, char* const start, size_t piece) {
  using imagelib_detail::sink_write;
  const ImageDims& dims = *image->dims;
  // A line break follows every (limit + 1)-th value; the count runs on across image rows.
  const int32_t per_line = dims.cols > 20 ? 21 : dims.cols;
  imagelib_detail::TextCursor cursor{nullptr, per_line,
                                     start + format_header(dims, start, piece + kWriterRoom)};
  for (int32_t row = 0; row < dims.rows; ++row) {
    cursor.pixels = image->pixels[row];
    const unsigned char* const row_end = cursor.pixels + dims.cols;
    while (cursor.pixels < row_end) {
      imagelib_detail::write_values(&cursor, row_end, per_line, start + piece);
      if (cursor.text >= start + piece) {
        if (!sink_write(out, start, piece)) {
          return ImageStatus::write_error;
        }
        // What the last stretch wrote past the piece begins the next one.
        const auto rest = static_cast<size_t>(cursor.text - (start + piece));
        std::memmove(start, start + piece, rest);
        cursor.text = start + rest;
      }
    }
  }
  *cursor.text++ = '\n';
  const auto used = static_cast<size_t>(cursor.text - start);
  return sink_write(out, start, used) && imagelib_detail::sink_flush(out)
             ? ImageStatus::ok
             : ImageStatus::write_error;
}

}  // namespace

ImageStatus pnm_write_p2(ByteSink* out, const Image* image) {
  // A shorter text gets a piece that holds it whole: a value takes at most 4 bytes and a line
  // break 1, once per value at most.
  const uint64_t pixels =
      static_cast<uint64_t>(image->dims->rows) * static_cast<uint64_t>(image->dims->cols);
  const auto piece = static_cast<size_t>(std::min<uint64_t>(5 * pixels + 64, kPiece));
  const std::unique_ptr<char, FreeDeleter> buffer(
      static_cast<char*>(std::malloc(piece + kWriterRoom)));
  if (buffer != nullptr) {
    return write_text(out, image, buffer.get(), piece);
  }
  char fallback[kFallbackPiece + kWriterRoom];
  return write_text(out, image, fallback, kFallbackPiece);
}

ImageStatus pnm_write_p5(ByteSink* out, const Image* image) {
  const ImageDims& dims = *image->dims;
  // At most 3 + 8 + 2 x 11 + 3 x 11 bytes, as the P2 header.
  char header[80];
  const int n = std::snprintf(header, sizeof header, "P5\n#origin %d %d\n%d %d %d\n",
                              dims.origin_col, dims.origin_row, dims.cols, dims.rows, 255);
  if (n < 0 || !imagelib_detail::sink_write(out, header, static_cast<size_t>(n))) {
    return ImageStatus::write_error;
  }
  const auto cols = static_cast<size_t>(dims.cols);
  for (int32_t row = 0; row < dims.rows; ++row) {
    if (!imagelib_detail::sink_write(out, image->pixels[row], cols)) {
      return ImageStatus::write_error;
    }
  }
  return imagelib_detail::sink_flush(out) ? ImageStatus::ok : ImageStatus::write_error;
}
