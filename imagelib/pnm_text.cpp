// SPDX-License-Identifier: MIT
// Text rasters (classes 1 and 2): values read by the rules of the "%d" conversion, through a
// buffer of the source's bytes.
#include "imagelib/pnm_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "imagelib/byte_io.h"

namespace {

using imagelib_detail::is_c_space;
using imagelib_detail::is_digit;

struct FreeDeleter {
  void operator()(unsigned char* memory) const { std::free(memory); }
};

// Reads of this size keep the system calls few at little memory, and a chunk in the caches while
// it is parsed; it stays below the size at which the allocator maps fresh pages for it. Fuzzing
// builds make it small, so that their small inputs cross chunk boundaries too.
#ifdef IMAGELIB_SMALL_BUFFERS
constexpr size_t kChunk = 61;
#else
constexpr size_t kChunk = (size_t{1} << 16) - 64;
#endif
constexpr size_t kFallbackChunk = 4096;
// Bytes kept after a chunk: a zero (neither white space, sign nor digit) that stops every scan at
// the chunk's end, and room to look a few bytes ahead of any position before it.
constexpr size_t kPadding = 8;

// A text raster is bounded like a header line: a run of white space, or of digits, longer than
// this ends the raster, so that endless input ends too.
constexpr uint64_t kMaxRun = uint64_t{1} << 20;

// A source's bytes a chunk at a time, each followed by its padding; or a piece of memory, read
// without padding, when there is no source. Where the heap has no room for a chunk, a small one
// kept in the reader does the same work.
struct ByteReader {
  ByteSource* source = nullptr;
  const unsigned char* cur = nullptr;
  const unsigned char* end = nullptr;
  std::unique_ptr<unsigned char, FreeDeleter> storage;
  unsigned char* chunk = nullptr;
  size_t chunk_size = 0;
  unsigned char fallback[kFallbackChunk + kPadding] = {};

  int peek() {
    if (cur == end && !refill()) {
      return -1;
    }
    return *cur;
  }

  bool refill() {
    if (source == nullptr) {
      return false;
    }
    if (chunk == nullptr) {
      storage.reset(static_cast<unsigned char*>(std::malloc(kChunk + kPadding)));
      chunk = storage != nullptr ? storage.get() : fallback;
      chunk_size = storage != nullptr ? kChunk : kFallbackChunk;
    }
    const size_t got = imagelib_detail::source_read(source, chunk, chunk_size);
    if (got == 0) {
      return false;
    }
    std::memset(chunk + got, 0, kPadding);
    cur = chunk;
    end = cur + got;
    return true;
  }

  ImageStatus status() const { return source->failed ? ImageStatus::read_error : ImageStatus::ok; }
};

ByteReader memory_reader(std::string_view text) {
  ByteReader reader;
  reader.cur = reinterpret_cast<const unsigned char*>(text.data());
  reader.end = reader.cur + text.size();
  return reader;
}

// One integer by the rules of the "%d" conversion: white space skipped, an optional sign, then at
// least one digit. Values beyond the signed 32-bit range are clamped to it. A run of white space or
// of digits longer than kMaxRun is no number.
bool scan_int(ByteReader& in, int32_t* value) {
  int c = in.peek();
  uint64_t run = 0;
  while (is_c_space(c)) {
    if (++run > kMaxRun) {
      return false;
    }
    ++in.cur;
    c = in.peek();
  }
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    ++in.cur;
    c = in.peek();
  }
  if (!is_digit(c)) {
    return false;
  }
  // Saturates well past 2^31 so the clamp below sees any overflow.
  constexpr uint64_t kSaturated = uint64_t{1} << 32;
  uint64_t magnitude = 0;
  run = 0;
  while (is_digit(c)) {
    if (++run > kMaxRun) {
      return false;
    }
    if (magnitude < kSaturated) {
      magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
    }
    ++in.cur;
    c = in.peek();
  }
  if (negative) {
    // The stored value is read by the caller; cppcheck 2.10 misreads uint64_t{...} + 1 here.
    // cppcheck-suppress unreadVariable
    *value = magnitude > uint64_t{INT32_MAX} + 1
                 ? INT32_MIN
                 : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  } else {
    *value = magnitude > uint64_t{INT32_MAX} ? INT32_MAX : static_cast<int32_t>(magnitude);
  }
  return true;
}

// scan_int's common case on a stream's chunk: white space, then a number of one to three digits
// without sign that ends inside the chunk. The digits come from a fixed window of four bytes, with
// no loop and no bounds test per byte, and p stays in a register across values (written back to
// the reader after each run, not after each value). False, with p unmoved, when the exact path
// must decide: the chunk's end is reached, a sign, anything not a number, a longer number.
bool scan_short_int(const unsigned char*& p, const unsigned char* end, uint32_t* value) {
  const unsigned char* q = p;
  while (is_c_space(*q)) {
    ++q;
  }
  // The padding after the chunk keeps these reads inside the buffer; its zero stops the run.
  const uint32_t d0 = q[0] - uint32_t{'0'};
  const uint32_t d1 = q[1] - uint32_t{'0'};
  const uint32_t d2 = q[2] - uint32_t{'0'};
  const uint32_t d3 = q[3] - uint32_t{'0'};
  const uint32_t two = d0 < 10 && d1 < 10 ? 1 : 0;
  const uint32_t three = two & (d2 < 10 ? 1 : 0);
  const uint32_t length = (d0 < 10 ? 1 : 0) + two + three;
  if (length == 0 || (three != 0 && d3 < 10) || q + length >= end) {
    return false;
  }
  const uint32_t v2 = d0 * 10 + d1;
  *value = three != 0 ? v2 * 10 + d2 : two != 0 ? v2 : d0;
  p = q + length;
  return true;
}

// Parses "%d" integers, each keeping the low 8 bits of its value, into row_count rows of cols
// bytes, until they are full or the text stops: anything not a number, or the end of the input.
// Returns how many values it stored; *last is the last of them, unchanged when there were none.
uint64_t parse_values(ByteReader& reader, unsigned char* const* rows, size_t row_count, size_t cols,
                      unsigned char* last) {
  uint64_t count = 0;
  for (size_t row = 0; row < row_count && cols > 0; ++row) {
    unsigned char* pixels = rows[row];
    size_t col = 0;
    bool stopped = false;
    while (col < cols) {
      // Whole runs of short numbers, then one value the exact way (which also refills).
      const unsigned char* p = reader.cur;
      if (p != nullptr && p != reader.end) {
        uint32_t short_value = 0;
        while (col < cols && scan_short_int(p, reader.end, &short_value)) {
          pixels[col++] = static_cast<unsigned char>(short_value);
        }
        reader.cur = p;
      }
      int32_t value = 0;
      if (col == cols) {
        break;
      }
      if (!scan_int(reader, &value)) {
        stopped = true;
        break;
      }
      pixels[col++] = static_cast<unsigned char>(static_cast<uint32_t>(value) & 0xFFu);
    }
    count += col;
    if (col > 0) {
      *last = pixels[col - 1];
    }
    if (stopped) {
      break;
    }
  }
  return count;
}

// The pixels from index from on, row after row, get value.
void fill_from(Image* image, uint64_t from, unsigned char value) {
  const auto cols = static_cast<uint64_t>(image->dims->cols);
  for (int32_t row = 0; row < image->dims->rows; ++row) {
    const uint64_t row_start = static_cast<uint64_t>(row) * cols;
    if (row_start + cols > from) {
      const uint64_t skip = from > row_start ? from - row_start : 0;
      std::memset(image->pixels[row] + skip, value, static_cast<size_t>(cols - skip));
    }
  }
}

}  // namespace

namespace imagelib_detail {

int scan_ints(std::string_view text, int32_t* values, int count) {
  ByteReader reader = memory_reader(text);
  int read = 0;
  while (read < count && scan_int(reader, &values[read])) {
    ++read;
  }
  return read;
}

void scan_origin(std::string_view text, PnmHeader* header) {
  int32_t values[2] = {};
  const int read = scan_ints(text, values, 2);
  if (read >= 1) {
    header->origin_col = values[0];
    header->has_origin_col = true;
  }
  if (read == 2) {
    header->origin_row = values[1];
    header->has_origin_row = true;
  }
}

ImageStatus read_bitmap_raster(ByteSource* in, Image* image) {
  ByteReader reader;
  reader.source = in;
  unsigned char last = 0;
  bool stopped = false;
  uint64_t space = 0;  // the run of white space before the next pixel
  const auto cols = static_cast<size_t>(image->dims->cols);
  for (int32_t row = 0; row < image->dims->rows; ++row) {
    unsigned char* pixels = image->pixels[row];
    size_t col = 0;
    while (!stopped && col < cols) {
      const int c = reader.peek();
      if (c == '0' || c == '1') {
        last = static_cast<unsigned char>(c - '0');
        pixels[col++] = last;
        space = 0;
      } else if (!is_c_space(c) || ++space > kMaxRun) {
        stopped = true;
        break;
      }
      ++reader.cur;
    }
    std::memset(pixels + col, last, cols - col);
  }
  return reader.status();
}

ImageStatus read_value_raster(ByteSource* in, Image* image) {
  ByteReader reader;
  reader.source = in;
  unsigned char last = 0;
  const uint64_t count = parse_values(reader, image->pixels, static_cast<size_t>(image->dims->rows),
                                      static_cast<size_t>(image->dims->cols), &last);
  fill_from(image, count, last);
  return reader.status();
}

}  // namespace imagelib_detail
