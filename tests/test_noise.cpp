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

namespace {

// The rule written out plainly, one draw at a time: each point draws a row, a column and (for
// random values) its value; with exact, a position already drawn in the run is drawn again until
// the pass has count new ones. Returns the positions drawn.
int64_t reference_pass(std::vector<int>* pixels, std::vector<bool>* landed, int32_t rows,
                       int32_t cols, int64_t count, int value, bool exact, RandState* state) {
  int64_t drawn = 0;
  for (int64_t placed = 0; placed < count; ++drawn) {
    const int32_t r = draw_index(rand_next(state), rows);
    const int32_t c = draw_index(rand_next(state), cols);
    const int v = value == noise_detail::kRandomValue ? rand_next(state) >> 23 : value;
    const size_t at = static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c);
    if (exact && (*landed)[at]) {
      continue;
    }
    (*landed)[at] = true;
    (*pixels)[at] = v;
    ++placed;
  }
  return drawn;
}

std::vector<int> flat(int32_t rows, int32_t cols, int value) {
  return std::vector<int>(static_cast<size_t>(rows) * static_cast<size_t>(cols), value);
}

std::vector<int> mask_of(const std::vector<bool>& landed) {
  std::vector<int> mask;
  for (const bool hit : landed) {
    mask.push_back(hit ? 255 : 0);
  }
  return mask;
}

int64_t count_of(const std::vector<int>& values, int value) {
  return std::count(values.begin(), values.end(), value);
}

}  // namespace

// The batches of draws, the summaries of full words and rows, the pass bitmaps and the generator
// brought back part way through a batch: all of it must give what the rule drawn one point at a
// time gives, image, mask and the generator's next draw alike. Rows end inside a bitmap word
// (70, 130, 190 columns) or on one (64); the counts reach every pixel, and on the largest image
// the first batches of a pass go through the bitmap in sorted order.
TEST(AddImpulseNoise, ExactAndMaskedRunsFollowTheRuleDrawnOneAtATime) {
  for (const auto& [rows, cols] : {std::pair{1, 1}, std::pair{3, 70}, std::pair{64, 64},
                                   std::pair{41, 130}, std::pair{257, 3}, std::pair{200, 190}}) {
    const int32_t pixels = rows * cols;
    for (const bool exact : {true, false}) {
      for (const bool random : {false, true}) {
        for (const int64_t white : {int64_t{0}, int64_t{1}, int64_t{pixels / 3}, int64_t{pixels}}) {
          // Without exact, a black pass of more points than pixels stops once nothing can change.
          const int64_t black = random ? 0 : exact ? pixels - white : 4 * int64_t{pixels} + 1;
          auto image = testsupport::image_of(rows, cols, flat(rows, cols, 100));
          std::vector<uint64_t> landed(static_cast<size_t>(rows) *
                                       noise_detail::bitmap_row_words(cols));
          std::vector<uint64_t> scratch(landed.size());
          std::vector<uint64_t> full(noise_detail::summary_words(rows, cols));
          noise_detail::start_marks(landed.data(), rows, cols);
          const noise_detail::RunMarks marks{landed.data(), scratch.data(), full.data()};
          std::vector<int> expected = flat(rows, cols, 100);
          std::vector<bool> expected_landed(static_cast<size_t>(pixels));
          RandState state{};
          RandState single{};
          rand_init(&state, 5);
          rand_init(&single, 5);
          const std::string shown = std::to_string(rows) + " x " + std::to_string(cols) +
                                    (exact ? " exact" : "") + (random ? " random" : "") + ", " +
                                    std::to_string(white);
          const int first = random ? noise_detail::kRandomValue : 255;
          EXPECT_EQ(
              noise_detail::add_marked_impulses(image.get(), white, first, exact, &state, marks),
              reference_pass(&expected, &expected_landed, rows, cols, white, first, exact, &single))
              << shown;
          if (exact || black <= pixels) {
            EXPECT_EQ(
                noise_detail::add_marked_impulses(image.get(), black, 0, exact, &state, marks),
                reference_pass(&expected, &expected_landed, rows, cols, black, 0, exact, &single))
                << shown;
          } else {
            noise_detail::add_marked_impulses(image.get(), black, 0, exact, &state, marks);
            reference_pass(&expected, &expected_landed, rows, cols, black, 0, exact, &single);
          }
          EXPECT_EQ(testsupport::pixels_of(image.get()), expected) << shown;
          auto mask = testsupport::image_of(rows, cols, flat(rows, cols, 9));
          noise_detail::expand_marks(landed.data(), mask.get());
          EXPECT_EQ(testsupport::pixels_of(mask.get()), mask_of(expected_landed)) << shown;
          EXPECT_EQ(rand_next(&state), rand_next(&single)) << shown;
          EXPECT_TRUE(std::all_of(scratch.begin(), scratch.end(), [](uint64_t w) {
            return w == 0;
          })) << shown;
        }
      }
    }
  }
}

// Exact densities as papers give them: the mask holds exactly the counts' pixels, white + black
// of them, white of them 255, and no pixel outside it changes.
TEST(AddImpulseNoise, ExactRunsHitExactlyTheirCountsAndNothingOutsideTheMask) {
  for (const float density : {10.0f, 50.0f, 90.0f, 100.0f}) {
    const int32_t rows = 37;
    const int32_t cols = 29;
    auto image = testsupport::image_of(rows, cols, flat(rows, cols, 128));
    image->pixels[3][4] = 255;  // salt on white and pepper on black still count as hits
    image->pixels[5][6] = 0;
    const std::vector<int> before = testsupport::pixels_of(image.get());
    auto mask = testsupport::image_of(rows, cols, flat(rows, cols, 7));
    ImpulseOptions options;
    options.exact = true;
    options.mask = mask.get();
    image->dims->origin_row = 4;
    image->dims->origin_col = -2;
    const ImpulseCounts counts = add_impulse_noise(image.get(), 30, density, 8, options);
    const ImpulseCounts expected = impulse_counts(rows, cols, 30, density, options);
    EXPECT_EQ(counts.white, expected.white);
    EXPECT_EQ(counts.black, expected.black);
    const NoiseCounts plain = noise_counts(30, density, rows, cols);
    EXPECT_EQ(counts.white, plain.white) << density;
    EXPECT_EQ(counts.black, std::min<int64_t>(plain.black, rows * cols - plain.white)) << density;
    const std::vector<int> after = testsupport::pixels_of(image.get());
    const std::vector<int> marked = testsupport::pixels_of(mask.get());
    EXPECT_EQ(count_of(marked, 255), counts.white + counts.black) << density;
    EXPECT_EQ(count_of(marked, 0), rows * cols - counts.white - counts.black) << density;
    int64_t white = 0;
    int64_t black = 0;
    for (size_t i = 0; i < after.size(); ++i) {
      if (marked[i] == 0) {
        ASSERT_EQ(after[i], before[i]) << density << ", pixel " << i;
      } else {
        white += after[i] == 255 ? 1 : 0;
        black += after[i] == 0 ? 1 : 0;
      }
    }
    EXPECT_EQ(white, counts.white) << density;
    EXPECT_EQ(black, counts.black) << density;
    EXPECT_EQ(mask->dims->origin_row, 4);
    EXPECT_EQ(mask->dims->origin_col, -2);
  }
}

// Where no position repeats, --exact changes nothing: the same counts, the same positions.
TEST(AddImpulseNoise, ExactRunWithoutRepeatsIsThePlainRun) {
  auto plain = testsupport::image_of(300, 400, flat(300, 400, 50));
  auto exact = testsupport::image_of(300, 400, flat(300, 400, 50));
  const ImpulseCounts plain_counts = add_impulse_noise(plain.get(), 30, 0.05f, 3);
  ImpulseOptions options;
  options.exact = true;
  const ImpulseCounts exact_counts = add_impulse_noise(exact.get(), 30, 0.05f, 3, options);
  EXPECT_EQ(exact_counts.white, plain_counts.white);
  EXPECT_EQ(exact_counts.black, plain_counts.black);
  const std::vector<int> plain_pixels = testsupport::pixels_of(plain.get());
  EXPECT_EQ(plain_counts.white + plain_counts.black, 59);
  EXPECT_EQ(static_cast<int64_t>(plain_pixels.size()) - count_of(plain_pixels, 50), 59);
  EXPECT_EQ(testsupport::pixels_of(exact.get()), plain_pixels);
}

// A negative white share makes the black count larger than the image: exact caps it at the
// pixels white left, so every pixel turns black, each one once.
TEST(AddImpulseNoise, ExactCapsTheCountsAtThePixels) {
  ImpulseOptions options;
  options.exact = true;
  const ImpulseCounts capped = impulse_counts(10, 10, -10, 100, options);
  EXPECT_EQ(capped.white, 0);
  EXPECT_EQ(capped.black, 100);
  const ImpulseCounts both = impulse_counts(10, 10, 1e30f, 1e30f, options);
  EXPECT_EQ(both.white, 100);
  EXPECT_EQ(both.black, 0);
  EXPECT_EQ(impulse_counts(10, 10, 30, -5, options).white, 0);
  auto image = testsupport::image_of(10, 10, flat(10, 10, 77));
  auto mask = testsupport::image_of(10, 10, flat(10, 10, 0));
  options.mask = mask.get();
  const ImpulseCounts counts = add_impulse_noise(image.get(), -10, 100, 1, options);
  EXPECT_EQ(counts.black, 100);
  EXPECT_EQ(testsupport::pixels_of(image.get()), flat(10, 10, 0));
  EXPECT_EQ(testsupport::pixels_of(mask.get()), flat(10, 10, 255));
}

// Every pixel reached takes about N ln N draws (the coupon collector's bound); the passes stay
// within 1.2 N ln N on a 256 x 256 image, exact points at 100 % and a black pass of an absurd
// count alike.
TEST(AddImpulseNoise, PassesThatReachEveryPixelStayWithinNLogNDraws) {
  const int32_t side = 256;
  const double bound = 1.2 * side * side * std::log(double{side} * side);
  auto image = testsupport::image_of(side, side, flat(side, side, 128));
  std::vector<uint64_t> landed(static_cast<size_t>(side) * noise_detail::bitmap_row_words(side));
  std::vector<uint64_t> scratch(landed.size());
  std::vector<uint64_t> full(noise_detail::summary_words(side, side));
  noise_detail::start_marks(landed.data(), side, side);
  RandState state{};
  rand_init(&state);
  const int64_t exact = noise_detail::add_marked_impulses(
      image.get(), int64_t{side} * side, 0, true, &state,
      noise_detail::RunMarks{landed.data(), scratch.data(), full.data()});
  EXPECT_LE(static_cast<double>(exact), bound);
  EXPECT_GT(static_cast<double>(exact), 0.8 * bound);  // the bound is the real cost, not slack
  EXPECT_EQ(testsupport::pixels_of(image.get()), flat(side, side, 0));
  const int64_t uniform = add_impulses_until_uniform(image.get(), INT64_MAX, 255, &state);
  EXPECT_LE(static_cast<double>(uniform), bound);
  EXPECT_EQ(testsupport::pixels_of(image.get()), flat(side, side, 255));
}

// Random-valued impulses: uniform over 0 .. 255 (a loose chi-squared bound, 255 degrees of
// freedom, for one seed), the same for the same seed, other values for another.
TEST(AddImpulseNoise, RandomValuesAreUniformAndFollowTheSeed) {
  ImpulseOptions options;
  options.exact = true;
  options.kind = ImpulseKind::random;
  auto image = testsupport::image_of(256, 256, flat(256, 256, 0));
  const ImpulseCounts counts = add_impulse_noise(image.get(), 999, 100, 11, options);
  EXPECT_EQ(counts.white, 65536);
  EXPECT_EQ(counts.black, 0);
  const std::vector<int> values = testsupport::pixels_of(image.get());
  double chi_squared = 0;
  for (int v = 0; v < 256; ++v) {
    const double seen = static_cast<double>(count_of(values, v));
    chi_squared += (seen - 256) * (seen - 256) / 256;
  }
  EXPECT_LT(chi_squared, 350);
  auto again = testsupport::image_of(256, 256, flat(256, 256, 0));
  add_impulse_noise(again.get(), -5, 100, 11, options);
  EXPECT_EQ(testsupport::pixels_of(again.get()), values);  // the white share is ignored
  auto other = testsupport::image_of(256, 256, flat(256, 256, 0));
  add_impulse_noise(other.get(), 999, 100, 12, options);
  EXPECT_NE(testsupport::pixels_of(other.get()), values);
  // Without exact: the truncated point count, at most the pixel count, one pass.
  options.exact = false;
  EXPECT_EQ(impulse_counts(10, 10, 30, 12.5f, options).white, 12);
  EXPECT_EQ(impulse_counts(10, 10, 30, 1e30f, options).white, 100);
  EXPECT_EQ(impulse_counts(10, 10, 30, std::nanf(""), options).white, 0);
}

// A mask of another size is refused before anything changes.
TEST(AddImpulseNoise, MaskOfAnotherSizeChangesNothing) {
  auto image = testsupport::image_of(4, 4, flat(4, 4, 3));
  auto mask = testsupport::image_of(4, 5, flat(4, 5, 3));
  ImpulseOptions options;
  options.mask = mask.get();
  const ImpulseCounts counts = add_impulse_noise(image.get(), 30, 50, 1, options);
  EXPECT_EQ(counts.white, -1);
  EXPECT_EQ(counts.black, -1);
  EXPECT_EQ(testsupport::pixels_of(image.get()), flat(4, 4, 3));
  EXPECT_EQ(testsupport::pixels_of(mask.get()), flat(4, 5, 3));
  auto taller = testsupport::image_of(5, 4, flat(5, 4, 3));
  options.mask = taller.get();
  EXPECT_EQ(add_impulse_noise(image.get(), 30, 50, 1, options).white, -1);
  EXPECT_EQ(testsupport::pixels_of(image.get()), flat(4, 4, 3));
}

// An image without pixels takes no point; its mask, as empty, still gets the image's origin.
TEST(AddImpulseNoise, ImageWithoutPixelsGivesAnEmptyMaskWithItsOrigin) {
  auto image = testsupport::image_of(0, 6, {});
  image->dims->origin_row = -2;
  image->dims->origin_col = 9;
  auto mask = testsupport::image_of(0, 6, {});
  ImpulseOptions options;
  options.exact = true;
  options.mask = mask.get();
  const ImpulseCounts counts = add_impulse_noise(image.get(), 30, 50, 1, options);
  EXPECT_EQ(counts.white, 0);
  EXPECT_EQ(counts.black, 0);
  EXPECT_EQ(mask->dims->origin_row, -2);
  EXPECT_EQ(mask->dims->origin_col, 9);
}
