// Text rasters (classes 1 and 2): values read by the rules of the "%d" conversion, through a
// stream's buffer or, for a long raster in a regular file, by two threads at once.
#if __has_include(<sys/uio.h>)
#if !defined(__EMSCRIPTEN__)
#define IMAGELIB_RANGE_READ 1
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif
#endif

#include "imagelib/pnm_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "imagelib/worker.h"

namespace {

using imagelib_detail::is_c_space;
using imagelib_detail::is_digit;

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// Reads of this size keep the system calls few (a 16 MiB raster in 64 of them) at little memory.
// Fuzzing builds make it small, so that their small inputs cross chunk boundaries too.
#ifdef IMAGELIB_SMALL_BUFFERS
constexpr size_t kChunk = 61;
#else
constexpr size_t kChunk = size_t{1} << 18;
#endif
// Bytes kept after a stream's chunk: a zero (neither white space, sign nor digit) that stops every
// scan at the chunk's end, and room to look a few bytes ahead of any position before it.
constexpr size_t kPadding = 8;

// Reads bytes from a stream through a large buffer, from a range of a file's bytes when fd is
// set (see read_text_in_halves), or from a piece of memory when neither is.
struct ByteReader {
  std::FILE* file = nullptr;
  int fd = -1;
  int64_t offset = 0;  // the file's next byte to read, and where the range ends
  int64_t stop = 0;
  const unsigned char* cur = nullptr;
  const unsigned char* end = nullptr;
  std::vector<unsigned char> storage;
  bool error = false;

  int peek() {
    if (cur == end && !refill()) {
      return -1;
    }
    return *cur;
  }

  bool refill() {
    if (error || (file == nullptr && fd < 0)) {
      return false;
    }
    storage.resize(kChunk + kPadding);
    const size_t got = fd >= 0 ? read_range() : std::fread(storage.data(), 1, kChunk, file);
    if (got == 0) {
      error = error || (fd < 0 && std::ferror(file) != 0);
      return false;
    }
    std::fill_n(storage.data() + got, kPadding, 0);
    cur = storage.data();
    end = cur + got;
    return true;
  }

  size_t read_range();

  // Whether every byte of the range has been read and taken.
  bool at_stop() const { return fd >= 0 && !error && offset == stop && cur == end; }
};

ByteReader memory_reader(std::string_view text) {
  ByteReader reader;
  reader.cur = reinterpret_cast<const unsigned char*>(text.data());
  reader.end = reader.cur + text.size();
  return reader;
}

// One integer by the rules of the "%d" conversion: white space skipped, an optional sign, then at
// least one digit. Values beyond the signed 32-bit range are clamped to it.
bool scan_int(ByteReader& in, int32_t* value) {
  int c = in.peek();
  while (is_c_space(c)) {
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
  while (is_digit(c)) {
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

#if defined(IMAGELIB_RANGE_READ)
// count values go to the pixels from index at on, row after row.
void copy_to(Image* image, uint64_t at, const unsigned char* values, uint64_t count) {
  const auto cols = static_cast<uint64_t>(image->dims->cols);
  while (count > 0) {
    const uint64_t col = at % cols;
    const uint64_t n = std::min(count, cols - col);
    std::memcpy(image->pixels[at / cols] + col, values, static_cast<size_t>(n));
    values += n;
    at += n;
    count -= n;
  }
}

size_t ByteReader::read_range() {
  const auto want = static_cast<size_t>(std::min<int64_t>(kChunk, stop - offset));
  ssize_t got = 0;
  do {
    got = want == 0 ? 0 : pread(fd, storage.data(), want, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    error = true;
    return 0;
  }
  offset += got;
  return static_cast<size_t>(got);
}

// Text rasters of regular files this long are parsed in two halves at once.
#ifdef IMAGELIB_SMALL_BUFFERS
constexpr int64_t kHalvesMin = 4096;
#else
constexpr int64_t kHalvesMin = int64_t{8} << 20;
#endif

// Where a value ends at or after from: the first blank that follows a digit. -1 if there is none
// near.
int64_t value_end_after(int fd, int64_t from) {
  unsigned char window[4096];
  ssize_t got = 0;
  do {
    got = pread(fd, window, sizeof window, static_cast<off_t>(from - 1));
  } while (got < 0 && errno == EINTR);
  for (ssize_t i = 1; i < got; ++i) {
    if (is_c_space(window[i]) && is_digit(window[i - 1])) {
      return from - 1 + i;
    }
  }
  return -1;
}

// A long text raster in a regular file is parsed in two halves at once: the first into the
// image on this thread, the second on a helper thread into a buffer, copied in after the first
// half's values. The halves meet where a value ends, so each half reads the values that one pass
// would; the second half's values count only when the first half reached its end. False, having
// read nothing, when this cannot be done. Leaves the stream past the bytes read.
bool read_text_in_halves(std::FILE* in, Image* image, PnmStatus* status) {
  const int fd = fileno(in);
  struct stat info {};
  const off_t start = fd < 0 ? -1 : ftello(in);
  if (start < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size - start < kHalvesMin) {
    return false;
  }
  const int64_t size = info.st_size;
  const int64_t middle = value_end_after(fd, start + (size - start) / 2);
  const uint64_t pixels =
      static_cast<uint64_t>(image->dims->rows) * static_cast<uint64_t>(image->dims->cols);
  if (middle < 0 || pixels == 0) {
    return false;
  }
  // Every value after the first takes two bytes at least: a blank or a sign, and a digit.
  const uint64_t room = std::min<uint64_t>(pixels, static_cast<uint64_t>(size - middle) / 2 + 1);
  const std::unique_ptr<unsigned char[], FreeDeleter> second(
      static_cast<unsigned char*>(std::malloc(static_cast<size_t>(room))));
  imagelib_detail::Worker worker;
  if (second == nullptr || !worker.has_thread()) {
    return false;
  }
  ByteReader later;
  later.fd = fd;
  later.offset = middle;
  later.stop = size;
  unsigned char later_last = 0;
  uint64_t later_count = 0;
  unsigned char* const later_rows[1] = {second.get()};
  worker.start([&] {
    later_count = parse_values(later, later_rows, 1, static_cast<size_t>(room), &later_last);
  });
  ByteReader first;
  first.fd = fd;
  first.offset = start;
  first.stop = middle;
  unsigned char last = 0;
  uint64_t count = parse_values(first, image->pixels, static_cast<size_t>(image->dims->rows),
                                static_cast<size_t>(image->dims->cols), &last);
  worker.wait();
  bool error = first.error;
  int64_t read_to = first.offset;
  if (count < pixels && first.at_stop()) {
    const uint64_t used = std::min(later_count, pixels - count);
    copy_to(image, count, second.get(), used);
    if (used > 0) {
      last = second[used - 1];
    }
    count += used;
    error = later.error && count < pixels;
    read_to = later.offset;
  }
  fill_from(image, count, last);
  if (fseeko(in, static_cast<off_t>(read_to), SEEK_SET) != 0) {
    error = true;
  }
  *status = error ? PnmStatus::read_error : PnmStatus::ok;
  return true;
}
#else
size_t ByteReader::read_range() {
  return 0;
}

bool read_text_in_halves(std::FILE*, Image*, PnmStatus*) {
  return false;
}
#endif

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

PnmStatus read_bitmap_raster(std::FILE* in, Image* image) {
  ByteReader reader;
  reader.file = in;
  unsigned char last = 0;
  bool stopped = false;
  const auto cols = static_cast<size_t>(image->dims->cols);
  for (int32_t row = 0; row < image->dims->rows; ++row) {
    unsigned char* pixels = image->pixels[row];
    size_t col = 0;
    while (!stopped && col < cols) {
      const int c = reader.peek();
      if (c == '0' || c == '1') {
        last = static_cast<unsigned char>(c - '0');
        pixels[col++] = last;
      } else if (!is_c_space(c)) {
        stopped = true;
        break;
      }
      ++reader.cur;
    }
    std::memset(pixels + col, last, cols - col);
  }
  return reader.error ? PnmStatus::read_error : PnmStatus::ok;
}

PnmStatus read_value_raster(std::FILE* in, Image* image) {
  PnmStatus status = PnmStatus::ok;
  if (read_text_in_halves(in, image, &status)) {
    return status;
  }
  ByteReader reader;
  reader.file = in;
  unsigned char last = 0;
  const uint64_t count = parse_values(reader, image->pixels, static_cast<size_t>(image->dims->rows),
                                      static_cast<size_t>(image->dims->cols), &last);
  fill_from(image, count, last);
  return reader.error ? PnmStatus::read_error : PnmStatus::ok;
}

}  // namespace imagelib_detail
