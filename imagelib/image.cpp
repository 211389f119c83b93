#if __has_include(<unistd.h>)
#include <unistd.h>
#endif
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX 1
#include <windows.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imagelib/lib.h"
#include "imagelib/memory_limit.h"

namespace {

// Bytes each row costs besides its pixels: its pointer, and the allocator's bookkeeping, estimated
// generously.
constexpr uint64_t kRowOverhead = sizeof(unsigned char*) + 32;

uint64_t physical_memory() {
#if defined(_WIN32)
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) != 0 && status.ullTotalPhys > 0 ? status.ullTotalPhys
                                                                       : UINT64_MAX;
#elif defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) {
    return UINT64_MAX;
  }
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
#else
  return UINT64_MAX;
#endif
}

// Bytes the rows of a rows x cols image take from the allocator, at most. rows and cols are below
// 2^31, so the sums stay below 2^64.
uint64_t rows_span(int32_t rows, int32_t cols) {
  return static_cast<uint64_t>(rows) * (static_cast<uint64_t>(cols) + kRowOverhead);
}

// A size the machine could never hold is refused up front, so a tiny file claiming billions of
// rows fails at once instead of driving the process into the kernel's out-of-memory killer.
// Room is asked for the image and one copy of it: copying is what callers do with an image read
// (funcao_exe always does), and a size that fits once but not twice would be read in full only
// for the copy to fail or be killed.
bool fits_in_memory(int32_t rows, int32_t cols) {
  const uint64_t need = rows_span(rows, cols);
  return 2 * need <= physical_memory() && imagelib_detail::fits_memory_limits(2 * need) &&
         need <= SIZE_MAX;
}

template <typename T>
T* allocate(size_t count) {
  return static_cast<T*>(std::malloc(count == 0 ? 1 : count * sizeof(T)));
}

}  // namespace

Image* newimage(int32_t rows, int32_t cols) {
  if (rows < 0 || cols < 0) {
    std::printf("Error: Bad image size (%d,%d)\n", rows, cols);
    return nullptr;
  }
  Image* image = nullptr;
  ImageDims* dims = nullptr;
  unsigned char** pixels = nullptr;
  if (fits_in_memory(rows, cols)) {
    image = allocate<Image>(1);
    dims = allocate<ImageDims>(1);
    pixels = allocate<unsigned char*>(static_cast<size_t>(rows));
  }
  if (image == nullptr || dims == nullptr || pixels == nullptr) {
    std::free(pixels);
    std::free(dims);
    std::free(image);
    std::printf("Out of storage in NEWIMAGE.\n");
    return nullptr;
  }
  *dims = ImageDims{rows, cols, 0, 0};
  for (int32_t i = 0; i < rows; ++i) {
    pixels[i] = allocate<unsigned char>(static_cast<size_t>(cols));
    if (pixels[i] == nullptr) {
      std::printf("Out of storage. Newimage - row %d\n", i);
      std::exit(1);
    }
  }
  image->dims = dims;
  image->pixels = pixels;
  return image;
}

void freeimage(Image* image) {
  if (image == nullptr) {
    return;
  }
  for (int32_t i = 0; i < image->dims->rows; ++i) {
    std::free(image->pixels[i]);
  }
  std::free(image->dims);
  std::free(image->pixels);
  std::free(image);
}

void CopyVarImage(Image** destination, Image** source) {
  // The destination may already hold the very source image (through another handle): releasing
  // it first would leave nothing to copy from, and it is already equal to the source.
  if (destination == source || *destination == *source) {
    return;
  }
  const Image* from = *source;
  freeimage(*destination);
  *destination = newimage(from->dims->rows, from->dims->cols);
  if (*destination == nullptr) {
    sys_abort(0, "No more storage.\n");
  }
  Image* to = *destination;
  for (int32_t i = 0; i < from->dims->rows; ++i) {
    std::memcpy(to->pixels[i], from->pixels[i], static_cast<size_t>(from->dims->cols));
  }
  to->dims->origin_row = from->dims->origin_row;
  to->dims->origin_col = from->dims->origin_col;
}

void copy(Image** destination, Image* source) {
  Image* handle = source;
  CopyVarImage(destination, &handle);
}

int range(const Image* image, int32_t row, int32_t col) {
  return row >= 0 && row < image->dims->rows && col >= 0 && col < image->dims->cols ? 1 : 0;
}

void sys_abort(int code, const char* message) {
  // Whatever the process already said on standard output comes before the report.
  // NOLINTBEGIN(cert-err33-c): the process ends next; a report that cannot be printed is lost.
  std::fflush(stdout);
  std::fprintf(stderr, "**** System library ABORT %d: %s ****\n", code, message);
  // NOLINTEND(cert-err33-c)
  std::exit(2);
}
