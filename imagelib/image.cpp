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
#include "imagelib/memory_limit.h"

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

#if defined(__GLIBC__) && defined(MADV_HUGEPAGE) && __GLIBC_PREREQ(2, 33)
// Each row is its own allocation, laid by malloc one after another at the top of its heap. On a
// virtual machine the first touch of each 4 KiB page can cost more than reading, noising and
// writing its pixels, so the rows of a large image go to memory nothing has touched yet, from a
// 2 MiB boundary on, brought in as huge pages before malloc writes a header there. The table of
// row pointers is allocated first and large enough to end at that boundary: it makes the heap grow
// at once, and as it lives as long as the image, no later row can land in the room it spans.
// Beyond the pointers themselves that room is never touched, so it takes address space only.
constexpr uint64_t kLargeImage = uint64_t{8} << 20;
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
// glibc's defaults, restored once the table is placed.
constexpr int kDefaultTopPad = 128 * 1024;
constexpr int kDefaultMmapThreshold = 128 * 1024;
// The largest mmap threshold glibc accepts on 64-bit hosts.
constexpr uintptr_t kMaxMmapThreshold = uintptr_t{32} << 20;
// Rows from this size on are mapped one by one by malloc and gain nothing here.
constexpr int32_t kMappedRow = 64 * 1024;
// A chunk's header and the smallest chunk, in glibc's terms.
constexpr uintptr_t kChunkHeader = 2 * sizeof(size_t);
constexpr uintptr_t kMinChunk = 4 * sizeof(size_t);

uintptr_t huge_floor(uintptr_t address) {
  return address & ~(kHugePage - 1);
}

uintptr_t huge_ceil(uintptr_t address) {
  return huge_floor(address + kHugePage - 1);
}

// The row table of a large image, placed as above; nullptr when the image is small or the heap
// is not laid out as expected (another arena, memory from elsewhere): the caller then allocates
// the table and the rows as they come.
unsigned char** place_row_table(int32_t rows, int32_t cols) {
  const uint64_t span = rows_span(rows, cols);
  if (span < kLargeImage || span >= uint64_t{INT32_MAX} / 2 || cols >= kMappedRow) {
    return nullptr;
  }
  const struct mallinfo2 info = mallinfo2();
  const auto heap_end = reinterpret_cast<uintptr_t>(sbrk(0));
  const uintptr_t top = heap_end - info.keepcost;  // the top chunk, which ends the heap
  // malloc serves rows from freed memory before the top chunk. Much of it means an image released
  // earlier, already brought in: the rows then go there, as they come.
  if (info.fordblks - info.keepcost > span / 8) {
    return nullptr;
  }
  // Larger than all free memory, the top chunk included, so that no free chunk can hold the table:
  // malloc grows the heap and carves it from the top.
  const uintptr_t table_bytes = static_cast<uintptr_t>(rows) * sizeof(unsigned char*);
  const uintptr_t first =
      huge_ceil(top + std::max<uintptr_t>(info.fordblks + kMinChunk, table_bytes) + kChunkHeader);
  const uintptr_t table_chunk = first - kChunkHeader - top;
  if (table_chunk >= kMaxMmapThreshold) {
    return nullptr;
  }
  mallopt(M_TOP_PAD, static_cast<int>(span + kHugePage));
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMaxMmapThreshold));
  void* table = std::malloc(table_chunk - sizeof(size_t));
  mallopt(M_MMAP_THRESHOLD, kDefaultMmapThreshold);
  mallopt(M_TOP_PAD, kDefaultTopPad);
  if (table == nullptr || reinterpret_cast<uintptr_t>(table) != top + kChunkHeader ||
      reinterpret_cast<uintptr_t>(sbrk(0)) < first + span + kHugePage - kChunkHeader) {
    std::free(table);
    return nullptr;
  }
  // Whole 2 MiB stretches, and the last one too when the rows fill more than half of it; a
  // smaller remainder stays in 4 KiB pages rather than count 2 MiB. malloc gives each row a chunk
  // of its bytes and a size word, in 16-byte steps; the first row's chunk starts at the table's
  // end.
  const uintptr_t row_chunk = std::max<uintptr_t>(
      kMinChunk, (static_cast<uintptr_t>(cols) + sizeof(size_t) + 15) & ~uintptr_t{15});
  const uintptr_t end = first - kChunkHeader + static_cast<uintptr_t>(rows) * row_chunk;
  const uintptr_t huge_end =
      end - huge_floor(end) > kHugePage / 2 ? huge_ceil(end) : huge_floor(end);
  // NOLINTBEGIN(performance-no-int-to-ptr): madvise takes page-aligned addresses, computed here.
  if (first < huge_end) {
    madvise(reinterpret_cast<void*>(first), huge_end - first, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    madvise(reinterpret_cast<void*>(first), huge_end - first, MADV_POPULATE_WRITE);
#endif
  }
  // NOLINTEND(performance-no-int-to-ptr)
  return static_cast<unsigned char**>(table);
}
#else
unsigned char** place_row_table(int32_t, int32_t) {
  return nullptr;
}
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
    pixels = place_row_table(rows, cols);
    if (pixels == nullptr) {
      pixels = allocate<unsigned char*>(static_cast<size_t>(rows));
    }
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
