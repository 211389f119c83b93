// libFuzzer target: the PNM reader on arbitrary bytes, then the writer, then the reader again on
// what was written, which must give back the same size, origin and pixels.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imagelib/lib.h"

namespace {

// Only the fuzzing run is capped, so it stays fast and within libFuzzer's memory limit; the
// reader's own limit is physical memory.
constexpr int64_t kMaxArea = int64_t{1} << 16;
constexpr int32_t kMaxRows = 1 << 12;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

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

// The steps of Input_PBM on an open stream, without its messages; null when refused or capped.
ImagePtr read_image(std::FILE* in) {
  PnmHeader header{};
  if (pbm_read_header(in, &header) != PnmStatus::ok) {
    return nullptr;
  }
  check(header.pnm_class >= 1 && header.pnm_class <= 6);
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
  PBM_SE_ORIGIN_ROW = 0;
  PBM_SE_ORIGIN_COL = 0;
  // fmemopen reads but never writes a buffer opened for reading.
  const FilePtr in(fmemopen(const_cast<uint8_t*>(data), size, "rb"));
  if (in == nullptr) {
    return 0;
  }
  const ImagePtr image = read_image(in.get());
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
  const ImagePtr copy = read_image(again.get());
  check(copy != nullptr);
  const ImageDims& a = *image->dims;
  const ImageDims& b = *copy->dims;
  check(a.rows == b.rows && a.cols == b.cols);
  check(a.origin_row == b.origin_row && a.origin_col == b.origin_col);
  for (int32_t r = 0; r < a.rows; ++r) {
    check(std::memcmp(image->pixels[r], copy->pixels[r], static_cast<size_t>(a.cols)) == 0);
  }
  return 0;
}
