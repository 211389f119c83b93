// SPDX-License-Identifier: MIT
#include "imagelib/value_text.h"

#include <array>
#include <cstring>

namespace imagelib_detail {
namespace {

// "%d " for every pixel value. Each text is at most 4 bytes and is copied as one 4-byte word;
// the bytes past its length are overwritten by the next value's text.
struct ValueText {
  std::array<std::array<char, 4>, 256> text{};
  std::array<unsigned char, 256> length{};
};

constexpr ValueText make_value_text() {
  ValueText table{};
  for (int v = 0; v < 256; ++v) {
    int n = 0;
    if (v >= 100) {
      table.text[v][n++] = static_cast<char>('0' + v / 100);
    }
    if (v >= 10) {
      table.text[v][n++] = static_cast<char>('0' + v / 10 % 10);
    }
    table.text[v][n++] = static_cast<char>('0' + v % 10);
    table.text[v][n++] = ' ';
    table.length[v] = static_cast<unsigned char>(n);
  }
  return table;
}

constexpr ValueText kValueText = make_value_text();

}  // namespace

void write_values(TextCursor* cursor, const unsigned char* row_end, int32_t per_line,
                  const char* room_end) {
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
      std::memcpy(text, kValueText.text[v].data(), 4);
      text += kValueText.length[v];
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

}  // namespace imagelib_detail
