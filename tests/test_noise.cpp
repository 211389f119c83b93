// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "noise/impulse.h"
#include "noise/noise.h"
#include "support.h"

using noise_detail::add_impulses;
using noise_detail::add_impulses_until_uniform;
using noise_detail::draw_index;
using noise_detail::noise_counts;
using noise_detail::NoiseCounts;
using noise_detail::parse_percentage;
using noise_detail::place_draws;
using noise_detail::rand_fill;
using noise_detail::rand_init;
using noise_detail::rand_next;
using noise_detail::rand_skip;
using noise_detail::RandState;

TEST(RandSource, FollowsGlibcUnseededSequence) {
  RandState state{};
  rand_init(&state);
  EXPECT_EQ(rand_next(&state), 1804289383);
  EXPECT_EQ(rand_next(&state), 846930886);
#ifdef __GLIBC__
  std::srand(1);  // the same as never seeding
  rand_init(&state);
  for (int i = 0; i < 100000; ++i) {
    ASSERT_EQ(rand_next(&state), std::rand()) << "draw " << i;
  }
#endif
}

// As glibc's srand: 0 stands for 1, and seeds of 2^31 and up are taken as negative numbers.
TEST(RandSource, SeededSequencesFollowGlibcSrand) {
  struct Case {
    uint32_t seed;
    int32_t first, second;
  };
  for (const Case& c : {Case{0, 1804289383, 846930886},
                        {1, 1804289383, 846930886},
                        {2, 1505335290, 1738766719},
                        {7, 1045618677, 1863967299},
                        {2147483648u, 1336741213, 1210407648},
                        {4294967295u, 254925627, 1205188300}}) {
    RandState state{};
    rand_init(&state, c.seed);
    EXPECT_EQ(rand_next(&state), c.first) << "seed " << c.seed;
    EXPECT_EQ(rand_next(&state), c.second) << "seed " << c.seed;
#ifdef __GLIBC__
    std::srand(c.seed);
    rand_init(&state, c.seed);
    for (int i = 0; i < 10000; ++i) {
      ASSERT_EQ(rand_next(&state), std::rand()) << "seed " << c.seed << ", draw " << i;
    }
#endif
  }
}

TEST(DrawIndex, StaysInsideTheImage) {
  EXPECT_EQ(draw_index(0, 7), 0);
  EXPECT_EQ(draw_index(1 << 30, 100), 50);
  EXPECT_EQ(draw_index(INT32_MAX, 10), 9);
  EXPECT_EQ(draw_index(INT32_MAX, 1), 0);
  EXPECT_EQ(draw_index(INT32_MAX, 1 << 24), (1 << 24) - 1);
  // float(size) rounds up to 2^31 here; the exact product would give size itself.
  EXPECT_EQ(draw_index(INT32_MAX, INT32_MAX), INT32_MAX - 1);
  EXPECT_EQ(draw_index(INT32_MAX, (1 << 24) + 3), (1 << 24) + 2);
}

// Every pair goes where draw_index puts it: sizes where float(size) rounds (2^24 and up), extreme
// draws, and pair counts that leave the compiler's vector loop a remainder.
TEST(PlaceDraws, GivesDrawIndexPositions) {
  std::vector<int32_t> some_draws = {0, 1, 2, 1 << 30, INT32_MAX - 1, INT32_MAX, 12345, 99999999};
  uint32_t mix = 1;
  while (some_draws.size() < 2 * 37) {
    mix = mix * 1103515245u + 12345u;
    some_draws.push_back(static_cast<int32_t>(mix >> 1));
  }
  for (int32_t rows : {1, 2, 7, 4096, (1 << 24) - 1, 1 << 24, (1 << 24) + 3, INT32_MAX}) {
    for (int32_t cols : {1, 13, 4097, (1 << 24) + 1, INT32_MAX}) {
      for (int32_t pairs : {0, 1, 7, 8, 9, 37}) {
        std::vector<int32_t> expected(some_draws.begin(), some_draws.begin() + 2 * pairs);
        for (int32_t i = 0; i < pairs; ++i) {
          expected[2 * i] = draw_index(expected[2 * i], rows);
          expected[2 * i + 1] = draw_index(expected[2 * i + 1], cols);
        }
        // Draws past the pairs must stay as they were.
        std::vector<int32_t> placed = some_draws;
        place_draws(placed.data(), pairs, rows, cols);
        ASSERT_EQ(std::vector<int32_t>(placed.begin(), placed.begin() + 2 * pairs), expected)
            << rows << " x " << cols << ", " << pairs << " pairs";
        ASSERT_TRUE(
            std::equal(placed.begin() + 2 * pairs, placed.end(), some_draws.begin() + 2 * pairs));
      }
    }
  }
}

TEST(ParsePercentage, ReadsLikeFloatConversion) {
  EXPECT_EQ(parse_percentage("12.5"), 12.5f);
  EXPECT_EQ(parse_percentage(" 12.5%"), 12.5f);
  EXPECT_EQ(parse_percentage("100.000001"), 100.0f);
  EXPECT_EQ(parse_percentage("-10"), -10.0f);
  EXPECT_EQ(parse_percentage("abc"), 0.0f);
  EXPECT_EQ(parse_percentage(""), 0.0f);
  EXPECT_TRUE(std::isnan(parse_percentage("nan")));
  EXPECT_FALSE(std::signbit(parse_percentage("nan")));
  EXPECT_TRUE(std::signbit(parse_percentage(" \t-nan")));
  EXPECT_TRUE(std::isinf(parse_percentage("inf")));
}

TEST(NoiseCounts, RoundFractionsToSinglePrecisionBeforeTruncating) {
  struct Case {
    float white, density;
    int32_t rows, cols;
    float points;
    int64_t white_count, black_count;
  };
  for (const Case& c : {Case{30, 10, 100, 100, 1000, 300, 699},
                        {50, 100, 10, 10, 100, 50, 50},
                        {30, 100, 10, 10, 100, 30, 69},
                        {70, 100, 10, 10, 100, 69, 30},
                        {100, 10, 100, 100, 1000, 1000, 0},
                        {0, 10, 100, 100, 1000, 0, 1000},
                        {-10, 100, 10, 10, 100, 0, 110},
                        {30, 0, 100, 100, 0, 0, 0},
                        {30, 100, 0, 5, 0, 0, 0},
                        // Past 2^31 points: 46341^2 = 2147488281, rounded to single precision.
                        {100, 100, 46341, 46341, 2147488256.0f, 2147488256, 0},
                        {50, 100, 46341, 46341, 2147488256.0f, 1073744128, 1073744128}}) {
    const NoiseCounts counts = noise_counts(c.white, c.density, c.rows, c.cols);
    EXPECT_EQ(counts.points, c.points) << c.white << " " << c.density;
    EXPECT_EQ(counts.white, c.white_count) << c.white << " " << c.density;
    EXPECT_EQ(counts.black, c.black_count) << c.white << " " << c.density;
  }
}

// Not a number or negative gives 0; beyond 64 bits saturates; without points nothing is drawn,
// even where a negative white share times negative points would be positive.
TEST(NoiseCounts, UndefinedNegativeAndHugeCounts) {
  struct Case {
    float white, density;
    int64_t white_count, black_count;
  };
  const float nan = std::nanf("");
  const float inf = INFINITY;
  for (const Case& c : {Case{nan, 10, 0, 0},
                        {30, nan, 0, 0},
                        {-10, -100, 0, 0},
                        {-1e12f, -1, 0, 0},
                        {200, -inf, 0, 0},
                        {-1e30f, 100, 0, INT64_MAX},
                        {30, inf, INT64_MAX, INT64_MAX},
                        {inf, 100, INT64_MAX, 0},
                        {-inf, 100, 0, INT64_MAX}}) {
    const NoiseCounts counts = noise_counts(c.white, c.density, 100, 100);
    EXPECT_EQ(counts.white, c.white_count) << c.white << " " << c.density;
    EXPECT_EQ(counts.black, c.black_count) << c.white << " " << c.density;
  }
}

TEST(AddImpulses, SetsDrawnPositionsAndSkipsEmptyOrNegativeCounts) {
  Image* image = newimage(1, 1);
  image->pixels[0][0] = 9;
  RandState state{};
  rand_init(&state);
  add_impulses(image, -5, 255, &state);
  add_impulses(image, 0, 255, &state);
  EXPECT_EQ(image->pixels[0][0], 9);
  add_impulses(image, 2, 255, &state);
  EXPECT_EQ(image->pixels[0][0], 255);
  add_impulses(image, 1, 0, &state);
  EXPECT_EQ(image->pixels[0][0], 0);
  freeimage(image);
  Image* empty = newimage(0, 3);
  add_impulses(empty, 10, 255, &state);
  freeimage(empty);
}

// Past one draw per pixel the pass counts the pixels left to change; it must place every draw as
// the plain pass does, and once none is left skip the generator to where the plain pass leaves
// it, however large the count.
TEST(AddImpulsesUntilUniform, MatchesThePlainPassAndStopsWhenEveryPixelHoldsTheValue) {
  for (const unsigned char value : {0, 255}) {
    for (const int64_t count : {0, 5, 20, 21, 300, 5000}) {
      auto plain = testsupport::image_of(4, 5, std::vector<int>(20, 7));
      auto bounded = testsupport::image_of(4, 5, std::vector<int>(20, 7));
      plain->pixels[1][2] = value;
      bounded->pixels[1][2] = value;
      RandState plain_state{};
      RandState bounded_state{};
      rand_init(&plain_state, 3);
      rand_init(&bounded_state, 3);
      add_impulses(plain.get(), count, value, &plain_state);
      add_impulses_until_uniform(bounded.get(), count, value, &bounded_state);
      EXPECT_EQ(testsupport::pixels_of(bounded.get()), testsupport::pixels_of(plain.get()))
          << int{value} << ", " << count;
      EXPECT_EQ(rand_next(&bounded_state), rand_next(&plain_state)) << int{value} << ", " << count;
    }
  }
  auto image = testsupport::image_of(3, 3, std::vector<int>(9, 200));
  RandState state{};
  rand_init(&state);
  add_impulses_until_uniform(image.get(), INT64_MAX, 255, &state);
  EXPECT_EQ(testsupport::pixels_of(image.get()), std::vector<int>(9, 255));
  add_impulses_until_uniform(image.get(), INT64_MAX, 0, &state);
  EXPECT_EQ(testsupport::pixels_of(image.get()), std::vector<int>(9, 0));
  auto empty = testsupport::image_of(0, 4, {});
  add_impulses_until_uniform(empty.get(), INT64_MAX, 0, &state);
}

TEST(RandSource, SkipLeavesTheStateThatSingleDrawsLeave) {
  for (const uint64_t count : {0, 1, 2, 3, 28, 30, 31, 32, 62, 100, 1000, 12345}) {
    RandState single{};
    RandState skipped{};
    rand_init(&single, 9);
    rand_init(&skipped, 9);
    rand_next(&single);  // the ring not at its start
    rand_next(&skipped);
    for (uint64_t i = 0; i < count; ++i) {
      rand_next(&single);
    }
    rand_skip(&skipped, count);
    for (int i = 0; i < 40; ++i) {
      ASSERT_EQ(rand_next(&skipped), rand_next(&single)) << count << ", draw " << i;
    }
  }
}

TEST(RandSource, FillGivesTheSameSequenceAsSingleDraws) {
  RandState single{};
  RandState filled{};
  rand_init(&single);
  rand_init(&filled);
  // Batch sizes around the ring's 31 words and the fill's internal block of 1024.
  for (const int32_t count : {0, 1, 2, 3, 30, 31, 32, 100, 1023, 1024, 1025, 5000}) {
    std::vector<int32_t> values(static_cast<size_t>(count) + 1, -1);
    rand_fill(&filled, values.data(), count);
    for (int32_t i = 0; i < count; ++i) {
      ASSERT_EQ(values[i], rand_next(&single)) << "batch " << count << ", value " << i;
    }
    EXPECT_EQ(values[count], -1);
    EXPECT_EQ(rand_next(&filled), rand_next(&single));
  }
}

// Passes over images large enough to go through the bitmap of marked pixels, with rows that end
// inside a word of it, must set exactly the pixels that single draws written one by one set; so
// must the direct passes below that size, and a pass of more draws than pixels.
TEST(AddImpulses, EveryWayOfWritingSetsThePixelsOfSingleDraws) {
  for (const auto& [rows, cols, count] :
       {std::tuple{2049, 2050, 600000}, std::tuple{2049, 2050, 4200000},
        std::tuple{1024, 4096, 300000}, std::tuple{1000, 1000, 70000},
        std::tuple{70000, 63, 300000}}) {
    Image* image = newimage(rows, cols);
    Image* expected = newimage(rows, cols);
    for (int32_t r = 0; r < rows; ++r) {
      for (int32_t c = 0; c < cols; ++c) {
        image->pixels[r][c] = expected->pixels[r][c] = static_cast<unsigned char>(r + 7 * c);
      }
    }
    RandState state{};
    RandState single{};
    rand_init(&state);
    rand_init(&single);
    for (const unsigned char value : {255, 0}) {
      add_impulses(image, count, value, &state);
      for (int32_t i = 0; i < count; ++i) {
        const int32_t r = draw_index(rand_next(&single), rows);
        expected->pixels[r][draw_index(rand_next(&single), cols)] = value;
      }
    }
    for (int32_t r = 0; r < rows; ++r) {
      ASSERT_TRUE(std::equal(image->pixels[r], image->pixels[r] + cols, expected->pixels[r]))
          << rows << " x " << cols << ", row " << r;
    }
    EXPECT_EQ(rand_next(&state), rand_next(&single));
    freeimage(image);
    freeimage(expected);
  }
}

// The library refuses nothing: huge, infinite and undefined percentages end at once, with the
// image all white, all black or unchanged.
TEST(AddImpulseNoise, ExtremePercentagesEndAtOnce) {
  const float nan = std::nanf("");
  struct Case {
    float white, density;
    int expected;  // every pixel's value afterwards
    int64_t white_count, black_count;
  };
  for (const Case& c : {Case{50, 1e30f, 0, INT64_MAX, INT64_MAX},
                        {1e30f, 100, 255, INT64_MAX, 0},
                        {-INFINITY, 100, 0, 0, INT64_MAX},
                        {nan, 100, 7, 0, 0},
                        {30, nan, 7, 0, 0},
                        {-10, -100, 7, 0, 0}}) {
    auto image = testsupport::image_of(5, 5, std::vector<int>(25, 7));
    const ImpulseCounts counts = add_impulse_noise(image.get(), c.white, c.density, 4);
    EXPECT_EQ(counts.white, c.white_count) << c.white << " " << c.density;
    EXPECT_EQ(counts.black, c.black_count) << c.white << " " << c.density;
    EXPECT_EQ(testsupport::pixels_of(image.get()), std::vector<int>(25, c.expected))
        << c.white << " " << c.density;
  }
  auto empty = testsupport::image_of(0, 3, {});
  EXPECT_EQ(add_impulse_noise(empty.get(), 50, 100, 1).white, 0);
}
