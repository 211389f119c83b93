#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imagelib/lib.h"
#include "imagelib/value_text.h"

namespace {

// The text is written in pieces of this size, each ending where the file reaches a multiple of
// it: few system calls, and whole blocks of the file handed over at a time. Fuzzing builds make
// pieces small, so that small images fill several.
#ifdef IMAGELIB_SMALL_BUFFERS
constexpr size_t kPiece = 61;
#else
constexpr size_t kPiece = size_t{1} << 20;
#endif

// Room kept past the end of a piece for one call of the value writers.
constexpr size_t kWriterRoom = imagelib_detail::kMaxLineText + imagelib_detail::kMaxOvershoot;

struct FreeDeleter {
  void operator()(char* memory) const { std::free(memory); }
};

}  // namespace

bool pbm_write(std::FILE* out, const Image* image) {
  const ImageDims& dims = *image->dims;
  // A line break follows every (limit + 1)-th value; the count runs on across image rows.
  const int32_t per_line = dims.cols > 20 ? 21 : dims.cols;
  if (std::fprintf(out, "P2\n#origin %d %d\n%d %d %d\n", dims.origin_col, dims.origin_row,
                   dims.cols, dims.rows, 255) < 0) {
    return false;
  }
  // A shorter text gets a buffer that holds it whole: a value takes at most 4 bytes and a line
  // break 1, once per value at most.
  const uint64_t pixels = static_cast<uint64_t>(dims.rows) * static_cast<uint64_t>(dims.cols);
  const size_t size = pixels >= kPiece ? kPiece + kWriterRoom
                                       : static_cast<size_t>(std::min<uint64_t>(
                                             5 * pixels + 2 * kWriterRoom, kPiece + kWriterRoom));
  const std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::malloc(size)));
  if (buffer == nullptr) {
    return false;
  }
  char* const start = buffer.get();
  // The first piece ends where the file reaches a multiple of kPiece (a stream that cannot tell its
  // position counts from zero).
  const off_t position = ftello(out);
  size_t piece = std::min(kPiece - static_cast<size_t>(position < 0 ? 0 : position % kPiece),
                          size - kWriterRoom);
  const imagelib_detail::ValueWriter write_values =
      imagelib_detail::value_writer(imagelib_detail::simd_tier());
  imagelib_detail::TextCursor cursor{nullptr, per_line, start};
  for (int32_t row = 0; row < dims.rows; ++row) {
    cursor.pixels = image->pixels[row];
    const unsigned char* const row_end = cursor.pixels + dims.cols;
    while (cursor.pixels < row_end) {
      write_values(&cursor, row_end, per_line, start + piece);
      if (cursor.text >= start + piece) {
        if (std::fwrite(start, 1, piece, out) != piece) {
          return false;
        }
        // What the last stretch wrote past the piece begins the next one.
        const auto rest = static_cast<size_t>(cursor.text - (start + piece));
        std::memmove(start, start + piece, rest);
        cursor.text = start + rest;
        piece = std::min(kPiece, size - kWriterRoom);
      }
    }
  }
  char* text = cursor.text;
  *text++ = '\n';
  const auto used = static_cast<size_t>(text - start);
  return std::fwrite(start, 1, used, out) == used && std::fflush(out) == 0 && std::ferror(out) == 0;
}

Image* Output_PBM(Image* image, const char* path) {
  std::FILE* out = std::fopen(path, "w");
  if (out == nullptr) {
    sys_abort(0, "Can't open output file.");
  }
  // The text is buffered in large pieces already; the stream's own buffer would only split each
  // piece into two system calls. If it cannot be turned off, the stream stays buffered.
  // NOLINTNEXTLINE(cert-err33-c): either way the output is the same.
  std::setvbuf(out, nullptr, _IONBF, 0);
  const bool written = pbm_write(out, image);
  if (std::fclose(out) != 0 || !written) {
    sys_abort(0, "Can't write output file.");
  }
  return image;
}
