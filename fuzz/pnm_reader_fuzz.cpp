// libFuzzer target: the PNM reader on arbitrary bytes, from memory and from a regular file (which
// takes the direct raster path), which must agree; then the writer, then the reader again on what
// was written, which must give back the same size, origin and pixels.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imagelib/file_ptr.h"
#include "imagelib/lib.h"

namespace {

// Only the fuzzing run is capped, so it stays fast and within libFuzzer's memory limit; the
// reader's own limit is physical memory.
constexpr int64_t kMaxArea = int64_t{1} << 16;
constexpr int32_t kMaxRows = 1 << 12;

using imagelib_detail::FilePtr;

struct ImageFreer {
  void operator()(Image* image) const { freeimage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageFreer>;

struct BufferFreer {
  void operator()(char* buffer) const { std::free(buffer); }
};

void check(bool holds) {
  if (!holds) {
    std::abort();
  }
}

// The same bytes as a regular file (in memory, so no disk is touched), positioned at its start.
FilePtr regular_file(const uint8_t* data, size_t size) {
  const int fd = memfd_create("pnm_reader_fuzz", 0);
  check(fd >= 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t wrote = write(fd, data + done, size - done);
    check(wrote > 0);
    done += static_cast<size_t>(wrote);
  }
  check(lseek(fd, 0, SEEK_SET) == 0);
  FilePtr file(fdopen(fd, "rb"));
  check(file != nullptr);
  return file;
}

bool same_image(const Image* a, const Image* b) {
  if (a == nullptr || b == nullptr) {
    return a == b;
  }
  const ImageDims& x = *a->dims;
  const ImageDims& y = *b->dims;
  if (x.rows != y.rows || x.cols != y.cols || x.origin_row != y.origin_row ||
      x.origin_col != y.origin_col) {
    return false;
  }
  for (int32_t r = 0; r < x.rows; ++r) {
    if (std::memcmp(a->pixels[r], b->pixels[r], static_cast<size_t>(x.cols)) != 0) {
      return false;
    }
  }
  return true;
}

// The steps of Input_PBM on an open stream, without its messages; null when refused or capped.
ImagePtr read_image(std::FILE* in, int32_t* pnm_class = nullptr) {
  PBM_SE_ORIGIN_ROW = 0;
  PBM_SE_ORIGIN_COL = 0;
  PnmHeader header{};
  if (pbm_read_header(in, &header) != PnmStatus::ok) {
    return nullptr;
  }
  check(header.pnm_class >= 1 && header.pnm_class <= 6);
  if (pnm_class != nullptr) {
    *pnm_class = header.pnm_class;
  }
  check(header.cols >= 0 && header.rows >= 0);
  if (header.rows > kMaxRows || int64_t{header.rows} * header.cols > kMaxArea) {
    return nullptr;
  }
  ImagePtr image(newimage(header.rows, header.cols));
  check(image != nullptr);
  image->dims->origin_row = PBM_SE_ORIGIN_ROW;
  image->dims->origin_col = PBM_SE_ORIGIN_COL;
  PBM_SE_ORIGIN_ROW = 0;
  PBM_SE_ORIGIN_COL = 0;
  // A memory stream reports no errors, so an early end is the only way a raster falls short.
  check(pbm_read_raster(in, &header, image.get()) == PnmStatus::ok);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen reads but never writes a buffer opened for reading.
  const FilePtr in(fmemopen(const_cast<uint8_t*>(data), size, "rb"));
  if (in == nullptr) {
    return 0;
  }
  int32_t pnm_class = 0;
  const ImagePtr image = read_image(in.get(), &pnm_class);
  // Only a binary raster is read another way from a regular file.
  if (pnm_class >= 4) {
    check(same_image(image.get(), read_image(regular_file(data, size).get()).get()));
  }
  if (image == nullptr) {
    return 0;
  }

  char* text = nullptr;
  size_t text_size = 0;
  FilePtr out(open_memstream(&text, &text_size));
  check(out != nullptr);
  check(pbm_write(out.get(), image.get()));
  out.reset();
  const std::unique_ptr<char, BufferFreer> written(text);

  const FilePtr again(fmemopen(written.get(), text_size, "rb"));
  check(again != nullptr);
  check(same_image(image.get(), read_image(again.get()).get()));
  return 0;
}
