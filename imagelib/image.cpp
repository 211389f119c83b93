// SPDX-License-Identifier: MIT
// The image record: its size in memory, its making and its release.
#include <cstdint>
#include <cstdlib>

#include "imagelib/lib.h"

namespace {

// Bytes each row costs besides its pixels: its pointer, and the allocator's bookkeeping, estimated
// generously.
constexpr uint64_t kRowOverhead = sizeof(unsigned char*) + 32;
constexpr uint64_t kRecordBytes = sizeof(Image) + sizeof(ImageDims) + 64;

template <typename T>
T* allocate(size_t count) {
  return static_cast<T*>(std::malloc(count == 0 ? 1 : count * sizeof(T)));
}

// Releases the first rows rows and the rest of a partly made image.
void release(Image* image, ImageDims* dims, unsigned char** pixels, int32_t rows) {
  for (int32_t i = 0; pixels != nullptr && i < rows; ++i) {
    std::free(pixels[i]);
  }
  std::free(pixels);
  std::free(dims);
  std::free(image);
}

}  // namespace

uint64_t image_bytes(int32_t rows, int32_t cols) {
  if (rows < 0 || cols < 0) {
    return 0;
  }
  // Both below 2^31: the product stays below 2^63.
  return kRecordBytes + static_cast<uint64_t>(rows) * (static_cast<uint64_t>(cols) + kRowOverhead);
}

ImageStatus image_create(int32_t rows, int32_t cols, uint64_t limit, Image** image,
                         int32_t* failed_row) {
  *image = nullptr;
  if (failed_row != nullptr) {
    *failed_row = -1;
  }
  if (rows < 0 || cols < 0) {
    return ImageStatus::bad_size;
  }
  const uint64_t need = image_bytes(rows, cols);
  if (need > limit || need > SIZE_MAX) {
    return ImageStatus::too_large;
  }
  auto* made = allocate<Image>(1);
  auto* dims = allocate<ImageDims>(1);
  auto** pixels = allocate<unsigned char*>(static_cast<size_t>(rows));
  if (made == nullptr || dims == nullptr || pixels == nullptr) {
    release(made, dims, pixels, 0);
    return ImageStatus::no_storage;
  }
  for (int32_t i = 0; i < rows; ++i) {
    pixels[i] = allocate<unsigned char>(static_cast<size_t>(cols));
    if (pixels[i] == nullptr) {
      release(made, dims, pixels, i);
      if (failed_row != nullptr) {
        *failed_row = i;
      }
      return ImageStatus::no_storage;
    }
  }
  *dims = ImageDims{rows, cols, 0, 0};
  made->dims = dims;
  made->pixels = pixels;
  *image = made;
  return ImageStatus::ok;
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

int range(const Image* image, int32_t row, int32_t col) {
  return row >= 0 && row < image->dims->rows && col >= 0 && col < image->dims->cols ? 1 : 0;
}
