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
#include <cstring>
#include <string>
#include <string_view>

#include "imagelib/direct_read.h"
#include "imagelib/file_open.h"
#include "imagelib/file_ptr.h"
#include "imagelib/lib.h"
#include "imagelib/pnm_text.h"

int32_t PBM_SE_ORIGIN_ROW = 0;
int32_t PBM_SE_ORIGIN_COL = 0;

namespace {

using imagelib_detail::is_digit;

bool direct_read_allowed = true;

// A longer header line is refused as soon as it passes this; a longer comment line is cut there,
// which keeps every keyword.
constexpr size_t kMaxHeaderLine = size_t{1} << 20;
// All header lines together, blank and comment lines included: endless input (a device, a pipe
// of blank lines or of one comment) ends here instead of being read for ever.
constexpr size_t kMaxHeaderTotal = size_t{16} << 20;

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
  int32_t values[2] = {};
  const int read = imagelib_detail::scan_ints(line.substr(stop), values, 2);
  if (read >= 1) {
    PBM_SE_ORIGIN_COL = values[0];
  }
  if (read == 2) {
    PBM_SE_ORIGIN_ROW = values[1];
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
      return imagelib_detail::read_bitmap_raster(in, image);
    case 2:
    case 5:
      if (header->maxval > 255) {
        return PnmStatus::too_deep;
      }
      return header->pnm_class == 2 ? imagelib_detail::read_value_raster(in, image)
                                    : read_binary_raster(in, image);
    case 4:
      return read_packed_raster(in, image);
    default:
      return header->pnm_class == 3 ? imagelib_detail::read_value_raster(in, image)
                                    : read_binary_raster(in, image);
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
