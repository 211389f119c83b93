#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imagelib/lib.h"

namespace {

// The text is written in pieces of up to this size. On a virtual machine each system call and
// each first touch of a 4 KiB page cost many microseconds, so a large output goes out through one
// 2 MiB huge page, a few dozen writes for a 4096 x 4096 image. Fuzzing builds make it small (above
// the longest stretch written between checks), so that small images fill it too.
#ifdef IMAGELIB_SMALL_BUFFERS
constexpr size_t kBufferSize = 97;
#else
constexpr size_t kBufferSize = size_t{2} << 20;
#endif

struct FreeDeleter {
  void operator()(char* memory) const { std::free(memory); }
};
using TextBuffer = std::unique_ptr<char, FreeDeleter>;

// A buffer of `size` bytes, on its own huge page when it fills one.
TextBuffer text_buffer(size_t size) {
#if defined(MADV_HUGEPAGE) && !defined(IMAGELIB_SMALL_BUFFERS)
  if (size == kBufferSize) {
    TextBuffer buffer(static_cast<char*>(std::aligned_alloc(kBufferSize, kBufferSize)));
    if (buffer != nullptr) {
      madvise(buffer.get(), kBufferSize, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
      madvise(buffer.get(), kBufferSize, MADV_POPULATE_WRITE);
#endif
    }
    return buffer;
  }
#endif
  return TextBuffer(static_cast<char*>(std::malloc(size)));
}

// "%d " for every pixel value, built once. Each text is at most 4 bytes and is copied as one
// 4-byte word; the bytes past its length are overwritten by the next value's text.
struct ValueText {
  std::array<uint32_t, 256> text{};
  std::array<unsigned char, 256> length{};
};

ValueText make_value_text() {
  ValueText table;
  for (int v = 0; v < 256; ++v) {
    char scratch[8] = {};
    const int n = std::snprintf(scratch, sizeof scratch, "%d ", v);
    std::memcpy(&table.text[v], scratch, sizeof(uint32_t));
    table.length[v] = static_cast<unsigned char>(n);
  }
  return table;
}

// Longest stretch written between two checks for room: a text line of 21 values and its break,
// with the 4-byte copy's overshoot.
constexpr size_t kMaxStretch = 21 * 4 + 1 + 4;

}  // namespace

bool pbm_write(std::FILE* out, const Image* image) {
  static const ValueText table = make_value_text();
  const ImageDims& dims = *image->dims;
  // A line break follows every (limit + 1)-th value; the count runs on across image rows.
  const int32_t per_line = dims.cols > 20 ? 21 : dims.cols;
  if (std::fprintf(out, "P2\n#origin %d %d\n%d %d %d\n", dims.origin_col, dims.origin_row,
                   dims.cols, dims.rows, 255) < 0) {
    return false;
  }
  // A shorter text gets a buffer that just holds it: a value takes at most 4 bytes and a line
  // break 1, once per value at most.
  const uint64_t pixels = static_cast<uint64_t>(dims.rows) * static_cast<uint64_t>(dims.cols);
  const size_t size =
      pixels >= kBufferSize
          ? kBufferSize
          : static_cast<size_t>(std::min<uint64_t>(5 * pixels + 2 * kMaxStretch, kBufferSize));
  const TextBuffer buffer = text_buffer(size);
  if (buffer == nullptr) {
    return false;
  }
  char* const start = buffer.get();
  char* const flush_at = start + size - kMaxStretch;
  char* text = start;
  int32_t to_break = per_line;  // values still to go on the current text line
  for (int32_t row = 0; row < dims.rows; ++row) {
    const unsigned char* pixels = image->pixels[row];
    const unsigned char* const row_end = pixels + dims.cols;
    // Stretches end at a line break or at the row's end, whichever comes first.
    while (pixels < row_end) {
      const int32_t n =
          row_end - pixels < to_break ? static_cast<int32_t>(row_end - pixels) : to_break;
      // Unrolled by 7, a third of a full text line: the loop's own count and branch were a good
      // part of the work per value.
#pragma GCC unroll 7
      for (int32_t i = 0; i < n; ++i) {
        const unsigned char v = pixels[i];
        std::memcpy(text, &table.text[v], sizeof(uint32_t));
        text += table.length[v];
      }
      pixels += n;
      to_break -= n;
      if (to_break == 0) {
        *text++ = '\n';
        to_break = per_line;
      }
      if (text >= flush_at) {
        const auto used = static_cast<size_t>(text - start);
        if (std::fwrite(start, 1, used, out) != used) {
          return false;
        }
        text = start;
      }
    }
  }
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
