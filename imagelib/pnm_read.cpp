// SPDX-License-Identifier: MIT
// The PNM reader: the header, the binary rasters, and whole files from a byte source.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "imagelib/byte_io.h"
#include "imagelib/lib.h"
#include "imagelib/pnm_text.h"

namespace {

using imagelib_detail::is_digit;

// A longer header line is refused as soon as it passes this; a longer comment line is cut there,
// which keeps every keyword.
constexpr size_t kMaxHeaderLine = size_t{1} << 20;
// All header lines together, blank and comment lines included: endless input (a device, a pipe
// of blank lines or of one comment) ends here instead of being read for ever.
constexpr size_t kMaxHeaderTotal = size_t{16} << 20;

// Binary rasters pass through a buffer of this size, so that a stream is read in few calls and
// never past the raster. It stays below the size at which the allocator maps fresh pages for it,
// which a small image would pay for on every run. Fuzzing builds make it small, so that small
// inputs cross its end.
#ifdef IMAGELIB_SMALL_BUFFERS
constexpr size_t kRasterChunk = 61;
#else
constexpr size_t kRasterChunk = size_t{1} << 16;
#endif
constexpr size_t kFallbackChunk = 4096;

// The header as it is read: the current line and what may still be read.
struct HeaderReader {
  ByteSource* in;
  PnmHeader* header;
  std::string line;
  size_t budget = kMaxHeaderTotal;
};

// A parameter comment: "#origin <col> <row>", keyword in any case, ended by a space or newline.
void pbm_param(std::string_view line, PnmHeader* header) {
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
  imagelib_detail::scan_origin(line.substr(stop), header);
}

enum class Fetch { line, end_of_file, too_long };

// Fetches the next header line that is neither blank nor a comment, newline included; comments are
// handed to pbm_param on the way. A carriage return just before the newline is part of the line
// end, as Windows tools write it. A last line may lack its newline. Reading stops as soon as the
// header's budget or a line's cap is passed.
Fetch pbm_getln(HeaderReader& reader) {
  std::string& line = reader.line;
  for (;;) {
    line.clear();
    int c = 0;
    while ((c = imagelib_detail::source_byte(reader.in)) >= 0) {
      if (reader.budget == 0) {
        return Fetch::too_long;
      }
      --reader.budget;
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
      pbm_param(line, reader.header);
    } else if (line[0] != '\n') {
      return Fetch::line;
    }
  }
}

// The next header number: spaces and tabs are skipped, a newline moves on to the next header line,
// then a run of decimal digits. Carriage return and every other character stop the cursor there.
ImageStatus get_num_pbm(HeaderReader& reader, size_t& line_pos, int32_t* target) {
  const std::string& line = reader.line;
  for (;;) {
    if (line_pos >= line.size()) {
      return ImageStatus::bad_header;
    }
    const char c = line[line_pos];
    if (c == ' ' || c == '\t') {
      ++line_pos;
    } else if (c == '\n') {
      if (pbm_getln(reader) != Fetch::line) {
        return ImageStatus::bad_header;
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
    return ImageStatus::bad_header;
  }
  *target = static_cast<int32_t>(value);
  return ImageStatus::ok;
}

bool is_magic(std::string_view line) {
  return line.size() >= 2 && line[0] == 'P' && line[1] >= '1' && line[1] <= '6';
}

ImageStatus read_header_numbers(HeaderReader& reader) {
  PnmHeader* header = reader.header;
  const Fetch first = pbm_getln(reader);
  if (first != Fetch::line) {
    // A line cut short by a cap still shows whether it began with a magic.
    return first == Fetch::too_long && is_magic(reader.line) ? ImageStatus::bad_header
                                                             : ImageStatus::not_pnm;
  }
  if (!is_magic(reader.line)) {
    return ImageStatus::not_pnm;
  }
  header->pnm_class = reader.line[1] - '0';
  size_t line_pos = 2;
  ImageStatus status = get_num_pbm(reader, line_pos, &header->cols);
  if (status == ImageStatus::ok) {
    status = get_num_pbm(reader, line_pos, &header->rows);
  }
  if (status != ImageStatus::ok) {
    return status;
  }
  if (header->pnm_class == 1 || header->pnm_class == 4) {
    header->maxval = 1;
    return ImageStatus::ok;
  }
  status = get_num_pbm(reader, line_pos, &header->maxval);
  if (status != ImageStatus::ok) {
    return status;
  }
  if (header->pnm_class == 3 || header->pnm_class == 6) {
    return ImageStatus::colour;
  }
  return header->maxval > 255 ? ImageStatus::too_deep : ImageStatus::ok;
}

struct FreeDeleter {
  void operator()(unsigned char* memory) const { std::free(memory); }
};

// The binary rasters: row_bytes bytes a row, each row's bytes turned into its pixels by unpack.
// A raster that ends early repeats the last pixel it gave (0 before any).
template <typename Unpack>
ImageStatus read_binary_rows(ByteSource* in, Image* image, size_t row_bytes, Unpack unpack) {
  const auto rows = static_cast<uint64_t>(image->dims->rows);
  const auto cols = static_cast<size_t>(image->dims->cols);
  const uint64_t total = rows * row_bytes;
  size_t chunk = static_cast<size_t>(std::min<uint64_t>(total, kRasterChunk));
  // A memory source needs no buffer of its own. Where the heap has no room for one, a small buffer
  // on the stack does the same work.
  std::unique_ptr<unsigned char, FreeDeleter> heap;
  unsigned char fallback[kFallbackChunk];
  if (in->file != nullptr && chunk > 0) {
    heap.reset(static_cast<unsigned char*>(std::malloc(chunk)));
    chunk = heap != nullptr ? chunk : std::min(chunk, sizeof fallback);
  }
  unsigned char* const buffer = heap != nullptr ? heap.get() : fallback;
  unsigned char last = 0;
  uint64_t read = 0;  // bytes of the raster taken so far
  bool stopped = false;
  const unsigned char* bytes = nullptr;
  size_t have = 0;  // bytes at bytes not yet used
  for (uint64_t row = 0; row < rows; ++row) {
    unsigned char* pixels = image->pixels[row];
    size_t done = 0;  // this row's bytes unpacked
    while (done < row_bytes && (have > 0 || !stopped)) {
      if (have == 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk, total - read));
        have = imagelib_detail::source_take(in, want, buffer, &bytes);
        read += have;
        stopped = have < want;
      }
      const size_t n = std::min(have, row_bytes - done);
      unpack(pixels, done, bytes, n);
      bytes += n;
      have -= n;
      done += n;
    }
    const size_t filled = std::min(cols, unpack.pixels_of(done));
    if (filled > 0) {
      last = pixels[filled - 1];
    }
    std::memset(pixels + filled, last, cols - filled);
  }
  return in->failed ? ImageStatus::read_error : ImageStatus::ok;
}

// Classes 5 and 4 read as 5 (and the colour classes' layout): one byte per pixel.
struct Bytes {
  void operator()(unsigned char* pixels, size_t at, const unsigned char* bytes, size_t n) const {
    std::memcpy(pixels + at, bytes, n);
  }
  size_t pixels_of(size_t bytes) const { return bytes; }
};

// Class 4: eight pixels to a byte, the most significant bit first, each row padded to a whole
// byte; the padding bits are never pixels.
struct Bits {
  size_t cols;
  void operator()(unsigned char* pixels, size_t at, const unsigned char* bytes, size_t n) const {
    for (size_t i = 0; i < n; ++i) {
      const size_t first = (at + i) * 8;
      const size_t count = std::min<size_t>(8, cols - first);
      for (size_t k = 0; k < count; ++k) {
        pixels[first + k] = static_cast<unsigned char>((bytes[i] >> (7 - k)) & 1u);
      }
    }
  }
  size_t pixels_of(size_t bytes) const { return bytes * 8; }
};

}  // namespace

ImageStatus pnm_read_header(ByteSource* in, PnmHeader* header) {
  header->origin_col = 0;
  header->origin_row = 0;
  header->has_origin_col = false;
  header->has_origin_row = false;
  HeaderReader reader{in, header, {}};
  ImageStatus status = ImageStatus::ok;
  try {
    status = read_header_numbers(reader);
  } catch (const std::bad_alloc&) {
    return ImageStatus::no_storage;
  }
  if (status != ImageStatus::ok && in->failed) {
    return ImageStatus::read_error;
  }
  return status;
}

ImageStatus pnm_read_raster(ByteSource* in, const PnmHeader* header, Image* image) {
  const auto cols = static_cast<size_t>(image->dims->cols);
  switch (header->pnm_class) {
    case 1:
      return imagelib_detail::read_bitmap_raster(in, image);
    case 2:
    case 5:
      if (header->maxval > 255) {
        return ImageStatus::too_deep;
      }
      return header->pnm_class == 2 ? imagelib_detail::read_value_raster(in, image)
                                    : read_binary_rows(in, image, cols, Bytes{});
    case 4:
      return read_binary_rows(in, image, cols / 8 + (cols % 8 != 0 ? 1 : 0), Bits{cols});
    default:
      return header->pnm_class == 3 ? imagelib_detail::read_value_raster(in, image)
                                    : read_binary_rows(in, image, cols, Bytes{});
  }
}
