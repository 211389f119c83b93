// Binary rasters of regular files are read with preadv where it is known to work. Emscripten's
// (3.1.6) reads every buffer of a call from the same offset.
#if __has_include(<sys/uio.h>)
#if !defined(__EMSCRIPTEN__)
#define IMAGELIB_DIRECT_READ 1
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>
#endif
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imagelib/direct_read.h"
#include "imagelib/file_open.h"
#include "imagelib/file_ptr.h"
#include "imagelib/lib.h"
#include "imagelib/worker.h"

int32_t PBM_SE_ORIGIN_ROW = 0;
int32_t PBM_SE_ORIGIN_COL = 0;

namespace {

bool direct_read_allowed = true;

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
// A longer header line is refused as soon as it passes this; a longer comment line is cut there,
// which keeps every keyword.
constexpr size_t kMaxHeaderLine = size_t{1} << 20;
// All header lines together, blank and comment lines included: endless input (a device, a pipe
// of blank lines or of one comment) ends here instead of being read for ever.
constexpr size_t kMaxHeaderTotal = size_t{16} << 20;

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

bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// The C locale's white space, as the "%d" conversion skips it.
bool is_c_space(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
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

// A parameter comment: "#origin <col> <row>", keyword in any case, ended by a space or newline.
void pbm_param(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  constexpr std::string_view kOrigin = "origin";
  constexpr size_t kKeywordMax = 22;
  const size_t stop = std::min(line.find_first_of(" \n", 1), line.size());
  const std::string_view keyword = line.substr(1, std::min(stop - 1, kKeywordMax));
  if (keyword.size() != kOrigin.size()) {
    return;
  }
  for (size_t i = 0; i < kOrigin.size(); ++i) {
    const char c = keyword[i];
    const char folded = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (folded != kOrigin[i]) {
      return;
    }
  }
  ByteReader rest = memory_reader(line.substr(stop));
  int32_t value = 0;
  if (!scan_int(rest, &value)) {
    return;
  }
  PBM_SE_ORIGIN_COL = value;
  if (scan_int(rest, &value)) {
    PBM_SE_ORIGIN_ROW = value;
  }
}

enum class Fetch { line, end_of_file, too_long };

// Fetches the next header line that is neither blank nor a comment, newline included; comments are
// handed to pbm_param on the way. A carriage return just before the newline is part of the line
// end, as Windows tools write it. A last line may lack its newline. budget is what the header may
// still take; reading stops as soon as it or a line's cap is passed.
Fetch pbm_getln(std::FILE* in, std::string& line, size_t& budget) {
  for (;;) {
    line.clear();
    int c = 0;
    while ((c = std::getc(in)) != EOF) {
      if (budget == 0) {
        return Fetch::too_long;
      }
      --budget;
      if (line.size() < kMaxHeaderLine) {
        line.push_back(static_cast<char>(c));
      } else if (line[0] != '#') {
        return Fetch::too_long;
      }
      if (c == '\n') {
        break;
      }
    }
    if (line.empty()) {
      return Fetch::end_of_file;
    }
    const size_t size = line.size();
    if (size >= 2 && line[size - 2] == '\r' && line[size - 1] == '\n') {
      line.erase(size - 2, 1);
    }
    if (line[0] == '#') {
      pbm_param(line);
    } else if (line[0] != '\n') {
      return Fetch::line;
    }
  }
}

// The next header number: spaces and tabs are skipped, a newline moves on to the next header line,
// then a run of decimal digits. Carriage return and every other character stop the cursor there.
PnmStatus get_num_pbm(std::FILE* in, std::string& line, size_t& line_pos, size_t& budget,
                      int32_t* target) {
  for (;;) {
    if (line_pos >= line.size()) {
      return PnmStatus::bad_header;
    }
    const char c = line[line_pos];
    if (c == ' ' || c == '\t') {
      ++line_pos;
    } else if (c == '\n') {
      if (pbm_getln(in, line, budget) != Fetch::line) {
        return PnmStatus::bad_header;
      }
      line_pos = 0;
    } else {
      break;
    }
  }
  const size_t start = line_pos;
  int64_t value = 0;
  while (line_pos < line.size() && is_digit(line[line_pos])) {
    if (value <= INT32_MAX) {
      value = value * 10 + (line[line_pos] - '0');
    }
    ++line_pos;
  }
  if (line_pos == start || value > INT32_MAX) {
    return PnmStatus::bad_header;
  }
  *target = static_cast<int32_t>(value);
  return PnmStatus::ok;
}

bool is_magic(std::string_view line) {
  return line.size() >= 2 && line[0] == 'P' && line[1] >= '1' && line[1] <= '6';
}

PnmStatus read_header_numbers(std::FILE* in, PnmHeader* header) {
  std::string line;
  size_t budget = kMaxHeaderTotal;
  const Fetch first = pbm_getln(in, line, budget);
  if (first != Fetch::line) {
    // A line cut short by a cap still shows whether it began with a magic.
    return first == Fetch::too_long && is_magic(line) ? PnmStatus::bad_header : PnmStatus::not_pnm;
  }
  if (!is_magic(line)) {
    return PnmStatus::not_pnm;
  }
  header->pnm_class = line[1] - '0';
  size_t line_pos = 2;
  PnmStatus status = get_num_pbm(in, line, line_pos, budget, &header->cols);
  if (status == PnmStatus::ok) {
    status = get_num_pbm(in, line, line_pos, budget, &header->rows);
  }
  if (status != PnmStatus::ok) {
    return status;
  }
  if (header->pnm_class == 1 || header->pnm_class == 4) {
    header->maxval = 1;
    return PnmStatus::ok;
  }
  status = get_num_pbm(in, line, line_pos, budget, &header->maxval);
  if (status != PnmStatus::ok) {
    return status;
  }
  if (header->pnm_class == 3 || header->pnm_class == 6) {
    return PnmStatus::colour;
  }
  return header->maxval > 255 ? PnmStatus::too_deep : PnmStatus::ok;
}

// Class 1: one character per pixel, "0" or "1", with or without white space between them (netpbm
// runs a row's digits together). Any other character ends the raster.
PnmStatus read_bitmap_text(std::FILE* in, Image* image) {
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

bool read_text_in_halves(std::FILE* in, Image* image, PnmStatus* status);

// Class 2: "%d" integers, each pixel keeping the low 8 bits of its value. A raster that stops
// early repeats the last value read.
PnmStatus read_ascii_raster(std::FILE* in, Image* image) {
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

#if defined(IMAGELIB_DIRECT_READ)
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

#if defined(IMAGELIB_DIRECT_READ)
// A regular file's raster goes straight from the file into the rows, many rows to a system call,
// without passing through the stream's buffer. Leaves the stream just past what was read. False
// when the stream is not a regular file (a pipe, memory); bytes_read and error say how it went.
bool read_binary_direct(std::FILE* in, Image* image, uint64_t* bytes_read, bool* error) {
  if (!direct_read_allowed) {
    return false;
  }
  const int fd = fileno(in);
  struct stat info {};
  const off_t start = fd < 0 ? -1 : ftello(in);
  if (start < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  constexpr int kRowsPerCall = 1024;
  const auto rows = static_cast<size_t>(image->dims->rows);
  const auto cols = static_cast<size_t>(image->dims->cols);
  size_t row = 0;
  size_t in_row = 0;  // bytes of that row already read
  off_t offset = start;
  while (row < rows && cols > 0) {
    iovec parts[kRowsPerCall];
    int count = 0;
    for (size_t r = row; r < rows && count < kRowsPerCall; ++r, ++count) {
      const size_t skip = r == row ? in_row : 0;
      parts[count].iov_base = image->pixels[r] + skip;
      parts[count].iov_len = cols - skip;
    }
    const ssize_t got = preadv(fd, parts, count, offset);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      *error = got < 0;
      break;
    }
    offset += got;
    in_row += static_cast<size_t>(got);
    row += in_row / cols;
    in_row %= cols;
  }
  *bytes_read = static_cast<uint64_t>(offset - start);
  // The stream carries on after the raster, as if it had read it.
  if (fseeko(in, offset, SEEK_SET) != 0) {
    *error = true;
  }
  return true;
}
#else
bool read_binary_direct(std::FILE*, Image*, uint64_t*, bool*) {
  return false;
}
#endif

// Classes 4 and 5 (and the colour classes' layout): one byte per pixel.
// A row that got fewer bytes than it holds repeats the last byte read (0 before any).
void finish_row(unsigned char* pixels, size_t got, size_t cols, unsigned char* last) {
  if (got > 0) {
    *last = pixels[got - 1];
  }
  if (got < cols) {
    std::memset(pixels + got, *last, cols - got);
  }
}

PnmStatus read_binary_raster(std::FILE* in, Image* image) {
  unsigned char last = 0;
  const auto cols = static_cast<size_t>(image->dims->cols);
  uint64_t direct_bytes = 0;
  bool direct_error = false;
  if (read_binary_direct(in, image, &direct_bytes, &direct_error)) {
    if (direct_error) {
      return PnmStatus::read_error;
    }
    // Rows after the last byte read repeat it.
    for (int32_t row = 0; row < image->dims->rows; ++row) {
      const uint64_t row_start = static_cast<uint64_t>(row) * cols;
      const size_t have =
          direct_bytes <= row_start
              ? 0
              : static_cast<size_t>(std::min<uint64_t>(cols, direct_bytes - row_start));
      finish_row(image->pixels[row], have, cols, &last);
    }
    return PnmStatus::ok;
  }
  bool stopped = false;
  for (int32_t row = 0; row < image->dims->rows; ++row) {
    unsigned char* pixels = image->pixels[row];
    const size_t got = stopped ? 0 : std::fread(pixels, 1, cols, in);
    stopped = got < cols;
    finish_row(pixels, got, cols, &last);
  }
  return std::ferror(in) != 0 ? PnmStatus::read_error : PnmStatus::ok;
}

// Class 4: eight pixels to a byte, the most significant bit first, each row padded to a whole
// byte. A row's bytes are read into the row itself and unpacked from its end, so that no bit is
// overwritten before it is used.
PnmStatus read_packed_raster(std::FILE* in, Image* image) {
  const auto cols = static_cast<size_t>(image->dims->cols);
  const size_t row_bytes = cols / 8 + (cols % 8 != 0 ? 1 : 0);
  unsigned char last = 0;
  bool stopped = false;
  for (int32_t row = 0; row < image->dims->rows; ++row) {
    unsigned char* pixels = image->pixels[row];
    const size_t got = stopped ? 0 : std::fread(pixels, 1, row_bytes, in);
    stopped = got < row_bytes;
    const size_t have = std::min(cols, got * 8);
    for (size_t col = have; col-- > 0;) {
      const unsigned char byte = pixels[col / 8];
      pixels[col] = static_cast<unsigned char>((byte >> (7 - col % 8)) & 1u);
    }
    finish_row(pixels, have, cols, &last);
  }
  return std::ferror(in) != 0 ? PnmStatus::read_error : PnmStatus::ok;
}

using imagelib_detail::FilePtr;

void cannot_read(const char* path) {
  std::printf("Can't open the PBM file named '%s'\n", path);
}

}  // namespace

namespace imagelib_detail {

bool direct_read_available() {
#if defined(IMAGELIB_DIRECT_READ)
  return true;
#else
  return false;
#endif
}

void set_direct_read(bool allowed) {
  direct_read_allowed = allowed;
}

}  // namespace imagelib_detail

PnmStatus pbm_read_header(std::FILE* in, PnmHeader* header) {
  const PnmStatus status = read_header_numbers(in, header);
  if (status != PnmStatus::ok && std::ferror(in) != 0) {
    return PnmStatus::read_error;
  }
  return status;
}

PnmStatus pbm_read_raster(std::FILE* in, const PnmHeader* header, Image* image) {
  switch (header->pnm_class) {
    case 1:
      return read_bitmap_text(in, image);
    case 2:
    case 5:
      if (header->maxval > 255) {
        return PnmStatus::too_deep;
      }
      return header->pnm_class == 2 ? read_ascii_raster(in, image) : read_binary_raster(in, image);
    case 4:
      return read_packed_raster(in, image);
    default:
      return header->pnm_class == 3 ? read_ascii_raster(in, image) : read_binary_raster(in, image);
  }
}

PnmStatus pbm_read_file(const char* path, Image** image) {
  *image = nullptr;
  // One binary stream serves header and raster alike, so nothing has to be reopened or sought.
  const FilePtr file(imagelib_detail::open_file(path, "rb"));
  PnmHeader header{};
  const PnmStatus status =
      file == nullptr ? PnmStatus::read_error : pbm_read_header(file.get(), &header);
  switch (status) {
    case PnmStatus::ok:
    case PnmStatus::colour:
    case PnmStatus::too_deep:
      break;
    case PnmStatus::not_pnm:
      std::printf("Not a PBM/PGM/PPM file.\n");
      return status;
    case PnmStatus::bad_header:
      std::printf("Bad PBM/PGM/PPM header.\n");
      return status;
    default:  // a read error, which includes a directory given as the path
      cannot_read(path);
      return PnmStatus::read_error;
  }
  // NOLINTBEGIN(cert-err33-c): a console message that cannot be printed leaves nothing to do.
  std::fflush(stdout);
  std::fprintf(stderr, "\nPBM file class %d size %d columns X %d rows Max=%d\n", header.pnm_class,
               header.cols, header.rows, header.maxval);
  // NOLINTEND(cert-err33-c)
  if (status == PnmStatus::colour) {
    return status;
  }
  if (status == PnmStatus::too_deep) {
    std::printf("More than 8 bits per sample (maximum %d).\n", header.maxval);
    return status;
  }
  Image* read = newimage(header.rows, header.cols);
  if (read == nullptr) {
    return PnmStatus::no_storage;
  }
  read->dims->origin_row = PBM_SE_ORIGIN_ROW;
  read->dims->origin_col = PBM_SE_ORIGIN_COL;
  PBM_SE_ORIGIN_ROW = 0;
  PBM_SE_ORIGIN_COL = 0;
  if (pbm_read_raster(file.get(), &header, read) != PnmStatus::ok) {
    // A stream error, not an early end: the pixels cannot be trusted.
    freeimage(read);
    if (header.pnm_class >= 4) {
      std::printf("Input_PBM: Sync error, file '%s'. Use ASCII PGM.\n", path);
      return PnmStatus::sync_error;
    }
    cannot_read(path);
    return PnmStatus::read_error;
  }
  *image = read;
  return PnmStatus::ok;
}

Image* Input_PBM(const char* path) {
  Image* image = nullptr;
  switch (pbm_read_file(path, &image)) {
    case PnmStatus::colour:
      sys_abort(0, "Colour image.");
    case PnmStatus::sync_error:
      std::exit(3);
    default:
      return image;
  }
}
