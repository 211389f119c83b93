// SPDX-License-Identifier: MIT
// The writer's inner loop: pixel values as "%d " texts, with a line break after every
// per_line-th value. Internal to the library.
#ifndef IMAGELIB_VALUE_TEXT_H
#define IMAGELIB_VALUE_TEXT_H

#include <cstdint>

namespace imagelib_detail {

// Where the text of one row stands: the next value to write, the values still to go on the current
// text line, and the end of the text written so far.
struct TextCursor {
  const unsigned char* pixels;
  int32_t to_break;
  char* text;
};

// A call may take the text up to kMaxLineText bytes past room_end (a text line of 21 values and
// its break), and may overwrite up to kMaxOvershoot bytes after the text's end: a buffer keeps
// kMaxLineText + kMaxOvershoot bytes after room_end.
constexpr int32_t kMaxLineText = 21 * 4 + 1;
constexpr int32_t kMaxOvershoot = 4;

// Writes the values from cursor->pixels up to row_end, per_line (1 to 21) to a text line, and
// stops once the text has reached room_end.
void write_values(TextCursor* cursor, const unsigned char* row_end, int32_t per_line,
                  const char* room_end);

}  // namespace imagelib_detail

#endif
