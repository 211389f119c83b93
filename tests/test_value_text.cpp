// SPDX-License-Identifier: MIT
#include "imagelib/value_text.h"

#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

using imagelib_detail::kMaxLineText;
using imagelib_detail::kMaxOvershoot;
using imagelib_detail::TextCursor;

namespace {

using Writer = void (*)(TextCursor*, const unsigned char*, int32_t, const char*);

struct Written {
  std::string text;
  int64_t values = 0;  // values consumed
  int32_t to_break = 0;
  bool overshoot_kept = true;  // nothing written beyond kMaxOvershoot past the text
};

constexpr char kUntouched = '\x7f';

// One call of writer over row, from a line with to_break values to go, with room until room.
Written run(Writer writer, const std::vector<unsigned char>& row, int32_t per_line,
            int32_t to_break, size_t room) {
  std::vector<char> buffer(room + kMaxLineText + kMaxOvershoot + 64, kUntouched);
  TextCursor cursor{row.data(), to_break, buffer.data()};
  writer(&cursor, row.data() + row.size(), per_line, buffer.data() + room);
  Written out;
  out.text.assign(buffer.data(), cursor.text);
  out.values = cursor.pixels - row.data();
  out.to_break = cursor.to_break;
  const auto end = static_cast<size_t>(cursor.text - buffer.data()) + kMaxOvershoot;
  for (size_t i = end; i < buffer.size(); ++i) {
    out.overshoot_kept = out.overshoot_kept && buffer[i] == kUntouched;
  }
  return out;
}

}  // namespace

TEST(ValueText, PlainWriterGivesEachValueItsTextAndBreaksLines) {
  const std::vector<unsigned char> row = {0, 9, 10, 99, 100, 255, 7};
  const Written out = run(imagelib_detail::write_values, row, 3, 2, 1000);
  EXPECT_EQ(out.text, "0 9 \n10 99 100 \n255 7 ");
  EXPECT_EQ(out.values, 7);
  EXPECT_EQ(out.to_break, 1);
  EXPECT_TRUE(out.overshoot_kept);
  // Once the text reaches the room's end, the writer stops after the stretch it is in.
  const Written stopped = run(imagelib_detail::write_values, row, 3, 2, 3);
  EXPECT_EQ(stopped.text, "0 9 \n");
  EXPECT_EQ(stopped.values, 2);
  EXPECT_EQ(stopped.to_break, 3);
  EXPECT_TRUE(stopped.overshoot_kept);
}
