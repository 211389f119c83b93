#include "imagelib/value_text.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace imagelib_detail {
namespace {

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

const ValueText& value_text() {
  static const ValueText table = make_value_text();
  return table;
}

}  // namespace

void write_values_plain(TextCursor* cursor, const unsigned char* row_end, int32_t per_line,
                        const char* room_end) {
  const ValueText& table = value_text();
  const unsigned char* pixels = cursor->pixels;
  int32_t to_break = cursor->to_break;
  char* text = cursor->text;
  // Stretches end at a line break or at the row's end, whichever comes first.
  while (pixels < row_end && text < room_end) {
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
  }
  *cursor = TextCursor{pixels, to_break, text};
}

ValueWriter value_writer(SimdTier tier) {
#ifdef IMAGELIB_X86_KERNELS
  if (tier >= SimdTier::avx512) {
    return write_values_avx512;
  }
#else
  static_cast<void>(tier);
#endif
  return write_values_plain;
}

}  // namespace imagelib_detail
