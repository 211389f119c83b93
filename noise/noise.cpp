// SPDX-License-Identifier: MIT
// The noise passes: point counts from the percentages, and the points placed in the image.
#include "noise/noise.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace noise_detail {
namespace {

// float(size), worked out once per pass rather than once per draw. It is a whole number of at
// most 2^31 (where size rounds up), so it fits 32 bits unsigned.
uint32_t index_scale(int32_t size) {
  return static_cast<uint32_t>(static_cast<float>(size));
}

// floor(draw * scale / 2^31), and never size or more. draw is below 2^31 and scale at most 2^31,
// so the product fits 64 bits and the quotient is below 2^31. All of it unsigned, with a 32-bit
// minimum: every step has a vector instruction on every processor's baseline, so the compiler
// vectorises the loops over draws as they stand.
int32_t scaled_index(int32_t draw, uint32_t scale, int32_t size) {
  const auto index =
      static_cast<uint32_t>((static_cast<uint64_t>(static_cast<uint32_t>(draw)) * scale) >> 31);
  const auto last = static_cast<uint32_t>(size - 1);
  return static_cast<int32_t>(index < last ? index : last);
}

}  // namespace

int32_t draw_index(int32_t draw, int32_t size) {
  return scaled_index(draw, index_scale(size), size);
}

float parse_percentage(const char* text) {
  float value = 0;
  // Exactly the "%f" conversion: leading blanks, sign, decimal or hexadecimal, inf and nan; a
  // trailing "%" or other text is ignored.
  // NOLINTNEXTLINE(cert-err34-c): "%f" is the documented reading; its outcome is checked.
  if (std::sscanf(text, "%f", &value) != 1) {
    value = 0;
  }
  // Some C libraries (musl) drop the sign of "-nan"; it is taken from the text, so that the value
  // prints the same everywhere.
  if (std::isnan(value)) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
      ++text;
    }
    value = std::copysign(value, *text == '-' ? -1.0f : 1.0f);
  }
  return value;
}

namespace {

int64_t to_count(double value) {
  if (!(value > 0)) {
    return 0;
  }
  // 2^63, the first value past the signed 64-bit range.
  if (value >= 9223372036854775808.0) {
    return INT64_MAX;
  }
  return static_cast<int64_t>(value);
}

}  // namespace

NoiseCounts noise_counts(float white, float density, int32_t rows, int32_t cols) {
  NoiseCounts counts{};
  counts.points = static_cast<float>(static_cast<double>(density) / 100.0 *
                                     static_cast<double>(rows) * static_cast<double>(cols));
  if (!(counts.points > 0)) {
    return counts;
  }
  const auto white_fraction = static_cast<float>(static_cast<double>(white) / 100.0);
  const auto black_fraction = static_cast<float>((100.0 - static_cast<double>(white)) / 100.0);
  counts.white = to_count(static_cast<double>(white_fraction) * static_cast<double>(counts.points));
  counts.black = to_count(static_cast<double>(black_fraction) * static_cast<double>(counts.points));
  return counts;
}

void place_draws(int32_t* draws, int32_t pairs, int32_t rows, int32_t cols) {
  const uint32_t row_scale = index_scale(rows);
  const uint32_t col_scale = index_scale(cols);
  for (int32_t i = 0; i < pairs; ++i) {
    int32_t* pair = draws + 2 * static_cast<ptrdiff_t>(i);
    pair[0] = scaled_index(pair[0], row_scale, rows);
    pair[1] = scaled_index(pair[1], col_scale, cols);
  }
}

size_t bitmap_row_words(int32_t cols) {
  return static_cast<size_t>(cols) / 64 + (cols % 64 != 0 ? 1 : 0);
}

size_t summary_words(int32_t rows, int32_t cols) {
  // A bit per word, a bit per row and 32 bits per row.
  const auto r = static_cast<size_t>(rows);
  return r * bitmap_row_words(cols) / 64 + 1 + r / 64 + 1 + r / 2 + 1;
}

namespace {

// Points are drawn a batch at a time, the generator's values for a whole batch at once.
constexpr int32_t kBatch = 128;

// One batch of a pass's points: the pixel each one changes, and the value it stores.
struct PointBatch {
  unsigned char* target[kBatch];
  unsigned char value[kBatch];
};

// The next n points of an impulse pass: each draws a row, then a column, and stores value.
void draw_impulses(Image* image, RandState* state, int32_t n, unsigned char value,
                   PointBatch* batch) {
  int32_t draws[2 * kBatch];
  rand_fill(state, draws, 2 * n);
  place_draws(draws, n, image->dims->rows, image->dims->cols);
  unsigned char* const* const pixels = image->pixels;
  for (int32_t i = 0; i < n; ++i) {
    // NOLINTBEGIN(bugprone-implicit-widening-of-multiplication-result): i < kBatch, 2 * i < 256.
    batch->target[i] = pixels[draws[2 * i]] + draws[2 * i + 1];
    // NOLINTEND(bugprone-implicit-widening-of-multiplication-result)
    batch->value[i] = value;
  }
}

// Writes count points in the order they are drawn; draw(n, batch) gives the next n of them. A
// kind of noise whose points store values of their own is one more draw function.
template <typename Draw>
void write_points(int64_t count, Draw draw) {
  PointBatch batch;
  for (int64_t done = 0; done < count;) {
    const int32_t n = count - done < kBatch ? static_cast<int32_t>(count - done) : kBatch;
    draw(n, &batch);
    for (int32_t i = 0; i < n; ++i) {
      *batch.target[i] = batch.value[i];
    }
    done += n;
  }
}

// A pass that hits a good share of a large image, every point storing one value, marks its
// positions in a bitmap first, one bit a pixel, and then changes the image in one sweep, row after
// row. The bitmap is an eighth of the image's size, so it stays in the caches where the image does
// not, and the image is walked in order instead of at random. Smaller images stay in the caches
// anyway, and fewer draws would not pay for the sweep.
constexpr int64_t kMarkedMinPixels = int64_t{4} << 20;
constexpr int64_t kMarkedShare = 16;  // draws of at least pixels / kMarkedShare

// For each byte of the bitmap, the eight pixels it covers as they lie in memory: 0xFF where its
// bit is set.
struct PixelMasks {
  uint64_t mask[256];
};

PixelMasks make_pixel_masks() {
  PixelMasks masks{};
  for (int bits = 0; bits < 256; ++bits) {
    unsigned char bytes[8];
    for (int k = 0; k < 8; ++k) {
      bytes[k] = ((bits >> k) & 1) != 0 ? 0xFF : 0;
    }
    std::memcpy(&masks.mask[bits], bytes, sizeof bytes);
  }
  return masks;
}

const PixelMasks kPixelMasks = make_pixel_masks();

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// Sets the pixels of one row that the bitmap marks to value, and clears the marks.
void sweep_row(unsigned char* pixels, uint64_t* marks, int32_t cols, unsigned char value) {
  uint64_t fill = 0;
  std::memset(&fill, value, sizeof fill);
  const int32_t whole = cols / 64;
  for (int32_t j = 0; j < whole; ++j) {
    const uint64_t word = marks[j];
    marks[j] = 0;
    unsigned char* eight = pixels + 64 * static_cast<ptrdiff_t>(j);
    for (int k = 0; k < 8; ++k, eight += 8) {
      const uint64_t mask = kPixelMasks.mask[(word >> (8 * k)) & 0xFF];
      uint64_t old = 0;
      std::memcpy(&old, eight, sizeof old);
      const uint64_t blended = (old & ~mask) | (fill & mask);
      std::memcpy(eight, &blended, sizeof blended);
    }
  }
  if (whole * 64 < cols) {
    const uint64_t word = marks[whole];
    marks[whole] = 0;
    for (int32_t k = 0; k < cols - whole * 64; ++k) {
      if (((word >> k) & 1) != 0) {
        pixels[whole * 64 + k] = value;
      }
    }
  }
}

// False, having changed nothing, when the bitmap cannot be had.
bool write_marked(Image* image, int64_t count, unsigned char value, RandState* state) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  const size_t words = bitmap_row_words(cols);
  const std::unique_ptr<uint64_t[], FreeDeleter> bitmap(
      static_cast<uint64_t*>(std::calloc(static_cast<size_t>(rows) * words, sizeof(uint64_t))));
  if (bitmap == nullptr) {
    return false;
  }
  uint64_t* const marks = bitmap.get();
  int32_t draws[2 * kBatch];
  for (int64_t done = 0; done < count;) {
    const int32_t n = count - done < kBatch ? static_cast<int32_t>(count - done) : kBatch;
    rand_fill(state, draws, 2 * n);
    place_draws(draws, n, rows, cols);
    for (int32_t i = 0; i < n; ++i) {
      // NOLINTBEGIN(bugprone-implicit-widening-of-multiplication-result): i < kBatch, 2 * i < 256.
      const auto row = static_cast<size_t>(draws[2 * i]);
      const auto col = static_cast<uint32_t>(draws[2 * i + 1]);
      // NOLINTEND(bugprone-implicit-widening-of-multiplication-result)
      marks[row * words + col / 64] |= uint64_t{1} << (col % 64);
    }
    done += n;
  }
  for (int32_t row = 0; row < rows; ++row) {
    sweep_row(image->pixels[row], marks + static_cast<size_t>(row) * words, cols, value);
  }
  return true;
}

bool marks_pay(int32_t rows, int32_t cols, int64_t count) {
  const int64_t pixels = int64_t{rows} * cols;
  return cols >= 64 && pixels >= kMarkedMinPixels && count >= pixels / kMarkedShare;
}

}  // namespace

uint64_t impulse_scratch_bytes(int32_t rows, int32_t cols) {
  return rows > 0 && marks_pay(rows, cols, int64_t{rows} * cols)
             ? static_cast<uint64_t>(rows) * bitmap_row_words(cols) * sizeof(uint64_t)
             : 0;
}

void add_impulses(Image* image, int64_t count, unsigned char value, RandState* state) {
  const int64_t pixels = int64_t{image->dims->rows} * image->dims->cols;
  if (pixels == 0 || count <= 0) {
    return;
  }
  if (marks_pay(image->dims->rows, image->dims->cols, count) &&
      write_marked(image, count, value, state)) {
    return;
  }
  write_points(count,
               [&](int32_t n, PointBatch* batch) { draw_impulses(image, state, n, value, batch); });
}

namespace {

// Points drawn one at a time, each of them looked at before the next: a batch of the generator's
// values is made at once all the same, and where the points stop part way the generator is
// brought back to just past the last one used.
constexpr int32_t kVisitBatch = 512;

// How many points ahead visit_points shows the next points to ahead, so that their memory is on its
// way by the time they are visited.
constexpr int32_t kAhead = 16;

// Where a point's draws put it.
struct Placement {
  uint32_t row_scale;
  uint32_t col_scale;
  int32_t rows;
  int32_t cols;

  int32_t row(int32_t draw) const { return scaled_index(draw, row_scale, rows); }
  int32_t col(int32_t draw) const { return scaled_index(draw, col_scale, cols); }
};

Placement placement(const Image* image) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  return {index_scale(rows), index_scale(cols), rows, cols};
}

// Draws up to limit points, each a row draw, a column draw and (with_value) a value draw, and
// calls visit(draws) for each, which says whether the point counts, until target points have
// counted. Returns the points drawn. The tally is kept here, where no store through the visits'
// pointers can touch it: held by the caller, it would go to memory and back at every point.
template <typename Visit, typename Ahead>
int64_t visit_points(RandState* state, bool with_value, int64_t limit, int64_t target, Visit visit,
                     Ahead ahead) {
  const int32_t stride = with_value ? 3 : 2;
  int32_t draws[3 * kVisitBatch];
  int64_t done = 0;
  int64_t counted = 0;
  while (done < limit) {
    const int32_t n = limit - done < kVisitBatch ? static_cast<int32_t>(limit - done) : kVisitBatch;
    const RandState before = *state;
    rand_fill(state, draws, stride * n);
    for (int32_t i = 0; i < n; ++i) {
      if (i + kAhead < n) {
        ahead(draws + static_cast<ptrdiff_t>(stride) * (i + kAhead));
      }
      counted += visit(draws + static_cast<ptrdiff_t>(stride) * i) ? 1 : 0;
      if (counted == target) {
        *state = before;
        rand_fill(state, draws, stride * (i + 1));
        return done + i + 1;
      }
    }
    done += n;
  }
  return done;
}

template <typename Visit>
int64_t visit_points(RandState* state, bool with_value, int64_t limit, int64_t target,
                     Visit visit) {
  return visit_points(state, with_value, limit, target, visit, [](const int32_t*) {});
}

int value_of(int32_t draw) {
  return draw >> 23;
}

int bit_count(uint64_t word) {
  word = word - ((word >> 1) & 0x5555555555555555U);
  word = (word & 0x3333333333333333U) + ((word >> 2) & 0x3333333333333333U);
  word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0FU;
  return static_cast<int>((word * 0x0101010101010101U) >> 56);
}

// The bits past the last column of a row's last word: set in the bitmaps that fill up, so that a
// row's words all end up as all ones.
uint64_t padding_bits(int32_t cols) {
  return cols % 64 == 0 ? 0 : ~uint64_t{0} << (cols % 64);
}

// A bitmap that fills up, one bit at a time, and beside it one bit per word that says the word is
// full, and one bit per row that says the row is. When few pixels are left, nearly every draw
// lands on a full row or word: these summaries, 1/64 of the bitmap and less (32 KiB and 512 bytes
// for 4096 x 4096), answer it from the nearest caches, the rows' before the column is even worked
// out.
struct FillingBits {
  uint64_t* bits;
  size_t words;         // per row
  uint64_t* full;       // a bit per word of bits
  uint64_t* full_rows;  // a bit per row
  uint32_t* open;       // per row, the words not full yet
};

size_t word_summary_words(int32_t rows, int32_t cols) {
  return static_cast<size_t>(rows) * bitmap_row_words(cols) / 64 + 1;
}

FillingBits start_filling(uint64_t* bits, int32_t rows, int32_t cols, uint64_t* summary) {
  const size_t words = bitmap_row_words(cols);
  uint64_t* const full = summary;
  uint64_t* const full_rows = full + word_summary_words(rows, cols);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): counters in the same block.
  auto* const open = reinterpret_cast<uint32_t*>(full_rows + static_cast<size_t>(rows) / 64 + 1);
  std::memset(summary, 0, summary_words(rows, cols) * sizeof(uint64_t));
  for (int32_t r = 0; r < rows; ++r) {
    uint32_t left = 0;
    for (size_t j = 0; j < words; ++j) {
      const size_t w = static_cast<size_t>(r) * words + j;
      const bool whole = bits[w] == ~uint64_t{0};
      full[w / 64] |= static_cast<uint64_t>(whole) << (w % 64);
      left += whole ? 0 : 1;
    }
    open[r] = left;
    full_rows[r / 64] |= static_cast<uint64_t>(left == 0) << (r % 64);
  }
  return {bits, words, full, full_rows, open};
}

// Asks for the word of the point these draws give, unless its row is full.
void fetch_ahead(const FillingBits& filling, const Placement& at, const int32_t* point) {
#if defined(__GNUC__)
  const int32_t row = at.row(point[0]);
  if (((filling.full_rows[row / 64] >> (row % 64)) & 1) == 0) {
    const auto column = static_cast<uint32_t>(at.col(point[1]));
    __builtin_prefetch(filling.bits + static_cast<size_t>(row) * filling.words + column / 64, 1);
  }
#else
  static_cast<void>(filling);
  static_cast<void>(at);
  static_cast<void>(point);
#endif
}

// Sets the bit of the point these draws give; true when it was not set before.
bool claim(const FillingBits& filling, const Placement& at, const int32_t* point) {
  const int32_t row = at.row(point[0]);
  if (((filling.full_rows[row / 64] >> (row % 64)) & 1) != 0) {
    return false;
  }
  const auto column = static_cast<uint32_t>(at.col(point[1]));
  const size_t w = static_cast<size_t>(row) * filling.words + column / 64;
  if (((filling.full[w / 64] >> (w % 64)) & 1) != 0) {
    return false;
  }
  const uint64_t word = filling.bits[w];
  const uint64_t bit = uint64_t{1} << (column % 64);
  if ((word & bit) != 0) {
    return false;
  }
  filling.bits[w] = word | bit;
  if ((word | bit) == ~uint64_t{0}) {
    filling.full[w / 64] |= uint64_t{1} << (w % 64);
    if (--filling.open[row] == 0) {
      filling.full_rows[row / 64] |= uint64_t{1} << (row % 64);
    }
  }
  return true;
}

void set_bit(uint64_t* bits, size_t words, int32_t row, int32_t col) {
  const auto column = static_cast<uint32_t>(col);
  bits[static_cast<size_t>(row) * words + column / 64] |= uint64_t{1} << (column % 64);
}

// The pixels of a row that hold value and, where landed is not null, are marked there, as bits;
// the padding set.
void mark_row_holding(const unsigned char* pixels, const uint64_t* landed, uint64_t* bits,
                      int32_t cols, unsigned char value) {
  for (int32_t c0 = 0, j = 0; c0 < cols; c0 += 64, ++j) {
    const int32_t end = cols - c0 < 64 ? cols - c0 : 64;
    uint64_t word = 0;
    for (int32_t k = 0; k < end; ++k) {
      word |= static_cast<uint64_t>(pixels[c0 + k] == value) << k;
    }
    if (landed != nullptr) {
      word &= landed[j];
    }
    bits[j] = end < 64 ? word | padding_bits(cols) : word;
  }
}

// Sets the pixels whose bits are in marks to value, row by row, and clears the marks.
void sweep(Image* image, uint64_t* marks, unsigned char value) {
  const size_t words = bitmap_row_words(image->dims->cols);
  for (int32_t r = 0; r < image->dims->rows; ++r) {
    sweep_row(image->pixels[r], marks + static_cast<size_t>(r) * words, image->dims->cols, value);
  }
}

// A pass of more points than pixels, each storing value. Once every pixel holds value (and is
// marked in landed, when there is one), no later draw changes anything: until then the draws go
// to a bitmap of those pixels, which stays in the caches where the image does not, and then the
// generator skips the rest. The image is changed in one sweep at the end, and held left all 0.
int64_t uniform_pass(Image* image, int64_t count, unsigned char value, RandState* state,
                     uint64_t* landed, uint64_t* held, uint64_t* full) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  const size_t words = bitmap_row_words(cols);
  const size_t total = static_cast<size_t>(rows) * words;
  int64_t left = static_cast<int64_t>(total) * 64;  // bits not set, the padding set below
  for (int32_t r = 0; r < rows; ++r) {
    const size_t first = static_cast<size_t>(r) * words;
    mark_row_holding(image->pixels[r], landed == nullptr ? nullptr : landed + first, held + first,
                     cols, value);
    for (size_t j = 0; j < words; ++j) {
      left -= bit_count(held[first + j]);
    }
  }
  const FillingBits filling = start_filling(held, rows, cols, full);
  int64_t drawn = 0;
  if (left > 0) {
    const Placement at = placement(image);
    drawn = visit_points(
        state, false, count, left,
        [filling, at](const int32_t* point) { return claim(filling, at, point); },
        [filling, at](const int32_t* point) { fetch_ahead(filling, at, point); });
  }
  // Two draws per position; count < 2^63, so twice it fits 64 bits unsigned.
  rand_skip(state, 2 * static_cast<uint64_t>(count - drawn));
  if (landed != nullptr) {
    for (size_t w = 0; w < total; ++w) {
      landed[w] |= held[w];
    }
  }
  sweep(image, held, value);
  return drawn;
}

// The pass without a bitmap, when none can be had: each draw looks at the image itself.
int64_t uniform_pass_unmarked(Image* image, int64_t count, unsigned char value, RandState* state) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  const int64_t pixels = static_cast<int64_t>(rows) * cols;
  add_impulses(image, pixels, value, state);
  const Placement at = placement(image);
  int64_t left = 0;  // pixels that do not hold value yet
  for (int32_t r = 0; r < rows; ++r) {
    const unsigned char* row = image->pixels[r];
    for (int32_t c = 0; c < cols; ++c) {
      left += row[c] != value ? 1 : 0;
    }
  }
  int64_t drawn = 0;
  if (left > 0) {
    drawn = visit_points(state, false, count - pixels, left, [&](const int32_t* point) {
      unsigned char& pixel = image->pixels[at.row(point[0])][at.col(point[1])];
      const bool changed = pixel != value;
      pixel = value;
      return changed;
    });
  }
  rand_skip(state, 2 * static_cast<uint64_t>(count - pixels - drawn));
  return pixels + drawn;
}

}  // namespace

void start_marks(uint64_t* bits, int32_t rows, int32_t cols) {
  const size_t words = bitmap_row_words(cols);
  std::memset(bits, 0, static_cast<size_t>(rows) * words * sizeof(uint64_t));
  for (int32_t r = 0; r < rows && padding_bits(cols) != 0; ++r) {
    bits[static_cast<size_t>(r) * words + words - 1] = padding_bits(cols);
  }
}

int64_t add_impulses_until_uniform(Image* image, int64_t count, unsigned char value,
                                   RandState* state) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  const int64_t pixels = static_cast<int64_t>(rows) * cols;
  if (pixels == 0 || count <= 0) {
    return 0;  // as add_impulses: no draws at all
  }
  // Up to one draw per pixel the plain pass runs: it is the common case, and looking at the
  // pixels left to change would cost as much as the pass itself.
  if (count <= pixels) {
    add_impulses(image, count, value, state);
    return count;
  }
  const std::unique_ptr<uint64_t[], FreeDeleter> held(static_cast<uint64_t*>(
      std::calloc(static_cast<size_t>(rows) * bitmap_row_words(cols), sizeof(uint64_t))));
  const std::unique_ptr<uint64_t[], FreeDeleter> full(
      static_cast<uint64_t*>(std::calloc(summary_words(rows, cols), sizeof(uint64_t))));
  if (held == nullptr || full == nullptr) {
    return uniform_pass_unmarked(image, count, value, state);
  }
  return uniform_pass(image, count, value, state, nullptr, held.get(), full.get());
}

int64_t add_marked_impulses(Image* image, int64_t count, int value, bool exact, RandState* state,
                            const RunMarks& marks) {
  const int32_t rows = image->dims->rows;
  const int32_t cols = image->dims->cols;
  const int64_t pixels = static_cast<int64_t>(rows) * cols;
  if (pixels == 0 || count <= 0) {
    return 0;
  }
  const size_t words = bitmap_row_words(cols);
  const size_t total = static_cast<size_t>(rows) * words;
  const bool with_value = value == kRandomValue;
  const auto fixed = static_cast<unsigned char>(value);
  unsigned char* const* const image_rows = image->pixels;
  const Placement at = placement(image);
  if (exact) {
    const FillingBits filling = start_filling(marks.landed, rows, cols, marks.full);
    if (with_value) {
      return visit_points(state, true, INT64_MAX, count,
                          [filling, at, image_rows](const int32_t* point) {
                            if (!claim(filling, at, point)) {
                              return false;
                            }
                            image_rows[at.row(point[0])][at.col(point[1])] =
                                static_cast<unsigned char>(value_of(point[2]));
                            return true;
                          });
    }
    std::memcpy(marks.scratch, marks.landed, total * sizeof(uint64_t));
    const int64_t drawn = visit_points(
        state, false, INT64_MAX, count,
        [filling, at](const int32_t* point) { return claim(filling, at, point); },
        [filling, at](const int32_t* point) { fetch_ahead(filling, at, point); });
    // The pass's own points: marked now, and not before it.
    for (size_t w = 0; w < total; ++w) {
      marks.scratch[w] = marks.landed[w] & ~marks.scratch[w];
    }
    sweep(image, marks.scratch, fixed);
    return drawn;
  }
  if (count > pixels && !with_value) {
    return uniform_pass(image, count, fixed, state, marks.landed, marks.scratch, marks.full);
  }
  if (with_value) {
    return visit_points(state, true, count, INT64_MAX, [&](const int32_t* point) {
      const int32_t row = at.row(point[0]);
      const int32_t col = at.col(point[1]);
      if (marks.landed != nullptr) {
        set_bit(marks.landed, words, row, col);
      }
      image_rows[row][col] = static_cast<unsigned char>(value_of(point[2]));
      return true;
    });
  }
  // The pass's points go to the scratch bitmap, then to the run's marks and, in one sweep, to
  // the image.
  const int64_t drawn =
      visit_points(state, false, count, INT64_MAX, [&marks, words, at](const int32_t* point) {
        set_bit(marks.scratch, words, at.row(point[0]), at.col(point[1]));
        return true;
      });
  for (size_t w = 0; w < total; ++w) {
    marks.landed[w] |= marks.scratch[w];
  }
  sweep(image, marks.scratch, fixed);
  return drawn;
}

void expand_marks(const uint64_t* landed, Image* mask) {
  const int32_t cols = mask->dims->cols;
  const size_t words = bitmap_row_words(cols);
  for (int32_t r = 0; r < mask->dims->rows; ++r) {
    unsigned char* row = mask->pixels[r];
    const uint64_t* marks = landed + static_cast<size_t>(r) * words;
    const int32_t whole = cols / 64;
    for (int32_t j = 0; j < whole; ++j) {
      for (int k = 0; k < 8; ++k) {
        const uint64_t eight = kPixelMasks.mask[(marks[j] >> (8 * k)) & 0xFF];
        std::memcpy(row + 64 * static_cast<ptrdiff_t>(j) + 8 * k, &eight, sizeof eight);
      }
    }
    for (int32_t c = whole * 64; c < cols; ++c) {
      row[c] = ((marks[c / 64] >> (c % 64)) & 1) != 0 ? 255 : 0;
    }
  }
}

uint64_t impulse_run_scratch_bytes(int32_t rows, int32_t cols, bool marked) {
  const uint64_t bitmap = rows > 0 ? static_cast<uint64_t>(rows) * bitmap_row_words(cols) * 8 : 0;
  if (marked) {
    return 2 * bitmap;  // the run's marks, and a pass's bitmap beside them
  }
  const uint64_t plain = impulse_scratch_bytes(rows, cols);
  return plain > bitmap ? plain : bitmap;
}

}  // namespace noise_detail
