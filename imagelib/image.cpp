#include <sys/mman.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imagelib/lib.h"

namespace {

// Bytes the allocator spends on each row besides its pixels: the row pointer and a chunk header
// rounded up generously.
constexpr uint64_t kRowOverhead = sizeof(unsigned char*) + 32;

uint64_t physical_memory() {
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
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

// A size the machine could never hold is refused up front, so a tiny file claiming billions of
// rows fails at once instead of driving the process into the kernel's out-of-memory killer.
// Room is asked for the image and one copy of it: copying is what callers do with an image read
// (funcao_exe always does), and a size that fits once but not twice would be read in full only
// for the copy to fail or be killed. rows and cols are below 2^31, so the sums stay below 2^64.
// Bytes the rows of a rows x cols image take from the allocator.
uint64_t rows_span(int32_t rows, int32_t cols) {
  return static_cast<uint64_t>(rows) * (static_cast<uint64_t>(cols) + kRowOverhead);
}

bool fits_in_memory(int32_t rows, int32_t cols) {
  const uint64_t need = rows_span(rows, cols);
  return 2 * need <= physical_memory() && need <= SIZE_MAX;
}

template <typename T>
T* allocate(size_t count) {
  return static_cast<T*>(std::malloc(count == 0 ? 1 : count * sizeof(T)));
}

#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
// Each row is its own allocation, and malloc lays the rows of a large image one after another at
// the top of its heap, touching every 4 KiB page as it writes its chunk headers. On a virtual
// machine those page faults cost more than reading, noising and writing the image together. So
// the heap is grown once for all the rows, the stretch is offered to the kernel for huge pages
// and its pages are brought in with one call: a few dozen faults instead of one per 4 KiB.
constexpr uint64_t kLargeImage = uint64_t{8} << 20;
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
constexpr uintptr_t kPage = 4096;
constexpr int kDefaultTopPad = 128 * 1024;  // glibc's default
// Rows from this size on are mapped one by one by malloc and gain nothing here.
constexpr int32_t kMappedRow = 64 * 1024;

bool wants_huge_pages(int32_t rows, int32_t cols) {
  const uint64_t need = rows_span(rows, cols);
  return need >= kLargeImage && need < uint64_t{INT32_MAX} / 2 && cols < kMappedRow;
}

// The heap then grows by what all the rows need when it next has to grow, and not much more:
// what is left over holds the first rows of the next image.
uintptr_t grow_heap_for(int32_t rows, int32_t cols) {
  mallopt(M_TOP_PAD, static_cast<int>(rows_span(rows, cols)));
  return reinterpret_cast<uintptr_t>(sbrk(0));
}

// Back to glibc's default once the heap has grown for the rows, or once they all found room
// without it growing (in memory an earlier image released).
void restore_top_pad() {
  mallopt(M_TOP_PAD, kDefaultTopPad);
}

// Called after each row until the heap has grown past old_top, before malloc touches the new
// stretch beyond the row that made it grow (row, with rows_left rows from it on). True once done.
bool advise_huge_pages(uintptr_t old_top, const unsigned char* row, int32_t rows_left,
                       int32_t cols) {
  const auto top = reinterpret_cast<uintptr_t>(sbrk(0));
  if (top == old_top) {
    return false;
  }
  restore_top_pad();
  const auto first = reinterpret_cast<uintptr_t>(row);
  // The heap may have moved elsewhere (malloc fell back to mapping memory): then leave it be.
  if (top < old_top || first < old_top - kPage || first >= top) {
    return true;
  }
  const uintptr_t end = std::min<uintptr_t>(top, first + rows_span(rows_left, cols));
  // Only whole 2 MiB stretches the rows fill: a huge page half used would count in full.
  const uintptr_t huge_start = (first + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t huge_end = end & ~(kHugePage - 1);
  // NOLINTBEGIN(performance-no-int-to-ptr): madvise takes page-aligned addresses, computed here.
  if (huge_start < huge_end) {
    madvise(reinterpret_cast<void*>(huge_start), huge_end - huge_start, MADV_HUGEPAGE);
  }
#ifdef MADV_POPULATE_WRITE
  const uintptr_t start = first & ~(kPage - 1);
  madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#endif
  // NOLINTEND(performance-no-int-to-ptr)
  return true;
}
#else
bool wants_huge_pages(int32_t, int32_t) {
  return false;
}
uintptr_t grow_heap_for(int32_t, int32_t) {
  return 0;
}
bool advise_huge_pages(uintptr_t, const unsigned char*, int32_t, int32_t) {
  return true;
}
void restore_top_pad() {}
#endif

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
  bool heap_pending = wants_huge_pages(rows, cols);
  const uintptr_t old_top = heap_pending ? grow_heap_for(rows, cols) : 0;
  for (int32_t i = 0; i < rows; ++i) {
    pixels[i] = allocate<unsigned char>(static_cast<size_t>(cols));
    if (heap_pending) {
      heap_pending = !advise_huge_pages(old_top, pixels[i], rows - i, cols);
    }
    if (pixels[i] == nullptr) {
      std::printf("Out of storage. Newimage - row %d\n", i);
      std::exit(1);
    }
  }
  if (heap_pending) {
    restore_top_pad();
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
