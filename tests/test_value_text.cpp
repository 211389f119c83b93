#include "imagelib/value_text.h"

#include <cstdint>
#include <random>
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

// The writers of this build and processor that are not the plain one, each with its tier's name.
std::vector<std::pair<std::string, Writer>> wide_writers() {
  std::vector<std::pair<std::string, Writer>> writers;
  for (auto tier : testsupport::wide_tiers()) {
    const Writer writer = imagelib_detail::value_writer(tier);
    if (writer != imagelib_detail::write_values_plain) {
      writers.emplace_back(imagelib_detail::simd_tier_name(tier), writer);
    }
  }
  return writers;
}

class ValueTextTest : public testing::Test {
 protected:
  void SetUp() override {
    writers_ = wide_writers();
    if (writers_.empty()) {
      GTEST_SKIP() << "this build and processor have no wide value writer (tier "
                   << imagelib_detail::simd_tier_name(imagelib_detail::simd_tier_supported())
                   << ")";
    }
  }
  std::vector<std::pair<std::string, Writer>> writers_;
};

}  // namespace

TEST(ValueText, PlainWriterGivesEachValueItsTextAndBreaksLines) {
  const std::vector<unsigned char> row = {0, 9, 10, 99, 100, 255, 7};
  const Written out = run(imagelib_detail::write_values_plain, row, 3, 2, 1000);
  EXPECT_EQ(out.text, "0 9 \n10 99 100 \n255 7 ");
  EXPECT_EQ(out.values, 7);
  EXPECT_EQ(out.to_break, 1);
}

// Every value, every line length, rows that end anywhere in a line, lines that begin anywhere in
// a row: each wide writer must give the plain writer's text, byte for byte.
TEST_F(ValueTextTest, WideWriterMatchesPlainWriterOnEveryValueAndLineLength) {
  for (const auto& [tier, writer] : writers_) {
    std::mt19937 random(7);
    std::vector<unsigned char> all(256);
    for (int v = 0; v < 256; ++v) {
      all[static_cast<size_t>(v)] = static_cast<unsigned char>(v);
    }
    for (int32_t per_line = 1; per_line <= 21; ++per_line) {
      for (size_t length : {size_t{0}, size_t{1}, size_t{5}, size_t{16}, size_t{17}, size_t{20},
                            size_t{21}, size_t{22}, size_t{37}, size_t{64}, size_t{256}}) {
        for (int32_t to_break = 1; to_break <= per_line; ++to_break) {
          std::shuffle(all.begin(), all.end(), random);
          const std::vector<unsigned char> row(all.begin(),
                                               all.begin() + static_cast<ptrdiff_t>(length));
          const Written plain =
              run(imagelib_detail::write_values_plain, row, per_line, to_break, 4096);
          const Written wide = run(writer, row, per_line, to_break, 4096);
          ASSERT_EQ(wide.text, plain.text)
              << tier << ": " << per_line << " " << length << " " << to_break;
          ASSERT_EQ(wide.values, static_cast<int64_t>(length));
          ASSERT_EQ(wide.to_break, plain.to_break);
          ASSERT_TRUE(wide.overshoot_kept && plain.overshoot_kept);
        }
      }
    }
  }
}

// Once the text reaches the room's end, both stop after the same stretch, so the caller can
// flush and go on.
TEST_F(ValueTextTest, WideWriterStopsWhereThePlainWriterStops) {
  std::vector<unsigned char> row(5000);
  for (size_t i = 0; i < row.size(); ++i) {
    row[i] = static_cast<unsigned char>(i * 37 + i / 7);
  }
  for (const auto& [tier, writer] : writers_) {
    for (size_t room : {size_t{1}, size_t{50}, size_t{85}, size_t{86}, size_t{1000}}) {
      const Written plain = run(imagelib_detail::write_values_plain, row, 21, 9, room);
      const Written wide = run(writer, row, 21, 9, room);
      EXPECT_EQ(wide.text, plain.text) << tier << ": " << room;
      EXPECT_EQ(wide.values, plain.values) << tier << ": " << room;
      EXPECT_LT(wide.values, static_cast<int64_t>(row.size()));
      EXPECT_TRUE(wide.overshoot_kept);
    }
  }
}
