// SPDX-License-Identifier: MIT
// Makes the benchmark's inputs: the sample photograph enlarged to size x size by bilinear
// interpolation, with a fine deterministic grain so the values vary the way a scan's do. Written
// as P5 and as the same pixels in P2 (single spaces, 16 values to a line); or, with --tiles, as
// count different tiles of tile x tile pixels cut from it, each a P5 file in a folder, for the
// workload of a dataset.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "imagelib/file_ptr.h"
#include "imagelib/lib.h"

namespace {

using imagelib_detail::FilePtr;

// xorshift32: the same grain on every platform.
uint32_t next_grain(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

std::vector<unsigned char> enlarge(const Image* source, int32_t size) {
  const int32_t rows = source->dims->rows;
  const int32_t cols = source->dims->cols;
  std::vector<unsigned char> out(static_cast<size_t>(size) * static_cast<size_t>(size));
  uint32_t grain = 0x9E3779B9u;
  for (int32_t r = 0; r < size; ++r) {
    const double y = (r + 0.5) * rows / size - 0.5;
    const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(y)));
    const int32_t y1 = std::min(rows - 1, y0 + 1);
    const double fy = std::min(1.0, std::max(0.0, y - y0));
    for (int32_t c = 0; c < size; ++c) {
      const double x = (c + 0.5) * cols / size - 0.5;
      const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(x)));
      const int32_t x1 = std::min(cols - 1, x0 + 1);
      const double fx = std::min(1.0, std::max(0.0, x - x0));
      const double top = source->pixels[y0][x0] * (1 - fx) + source->pixels[y0][x1] * fx;
      const double bottom = source->pixels[y1][x0] * (1 - fx) + source->pixels[y1][x1] * fx;
      const double value =
          top * (1 - fy) + bottom * fy + static_cast<int32_t>(next_grain(grain) % 9) - 4;
      out[static_cast<size_t>(r) * static_cast<size_t>(size) + static_cast<size_t>(c)] =
          static_cast<unsigned char>(std::lround(std::min(255.0, std::max(0.0, value))));
    }
  }
  return out;
}

bool write_p5(const char* path, const std::vector<unsigned char>& pixels, int32_t size) {
  const FilePtr out(std::fopen(path, "wb"));
  return out != nullptr && std::fprintf(out.get(), "P5\n%d %d\n255\n", size, size) > 0 &&
         std::fwrite(pixels.data(), 1, pixels.size(), out.get()) == pixels.size();
}

bool write_p2(const char* path, const std::vector<unsigned char>& pixels, int32_t size) {
  const FilePtr out(std::fopen(path, "wb"));
  if (out == nullptr || std::fprintf(out.get(), "P2\n%d %d\n255\n", size, size) < 0) {
    return false;
  }
  std::string text;
  for (size_t i = 0; i < pixels.size(); ++i) {
    text += std::to_string(pixels[i]);
    text += (i % 16 == 15 || i % static_cast<size_t>(size) == static_cast<size_t>(size) - 1) ? '\n'
                                                                                             : ' ';
    if (text.size() > (size_t{1} << 20) || i + 1 == pixels.size()) {
      if (std::fwrite(text.data(), 1, text.size(), out.get()) != text.size()) {
        return false;
      }
      text.clear();
    }
  }
  return true;
}

// Tiles at offsets spread over the whole picture, each one different.
bool write_tiles(const std::vector<unsigned char>& pixels, int32_t size, int32_t tile,
                 int32_t count, const std::string& folder) {
  std::vector<unsigned char> cut(static_cast<size_t>(tile) * static_cast<size_t>(tile));
  const int32_t span = size - tile + 1;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t top = static_cast<int32_t>((int64_t{k} * 7919) % span);
    const int32_t left = static_cast<int32_t>((int64_t{k} * 104729 + 17) % span);
    for (int32_t r = 0; r < tile; ++r) {
      std::copy_n(pixels.begin() + static_cast<ptrdiff_t>(top + r) * size + left, tile,
                  cut.begin() + static_cast<ptrdiff_t>(r) * tile);
    }
    char name[32];
    std::snprintf(name, sizeof name, "/tile_%03d.pgm", k);
    if (!write_p5((folder + name).c_str(), cut, tile)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool tiles = argc == 7 && std::string(argv[1]) == "--tiles";
  if (argc != 5 && !tiles) {
    std::fprintf(stderr,
                 "usage: make_bench_input <photo.pgm> <size> <out.p5.pgm> <out.p2.pgm>\n"
                 "       make_bench_input --tiles <photo.pgm> <size> <tile> <count> <folder>\n");
    return 1;
  }
  if (tiles) {
    Image* photo = Input_PBM(argv[2]);
    const int32_t size = std::atoi(argv[3]);
    const int32_t tile = std::atoi(argv[4]);
    if (photo == nullptr || size <= 0 || tile <= 0 || tile > size) {
      return 1;
    }
    const std::vector<unsigned char> pixels = enlarge(photo, size);
    freeimage(photo);
    if (!write_tiles(pixels, size, tile, std::atoi(argv[5]), argv[6])) {
      std::fprintf(stderr, "make_bench_input: cannot write the tiles\n");
      return 1;
    }
    return 0;
  }
  Image* photo = Input_PBM(argv[1]);
  const int32_t size = std::atoi(argv[2]);
  if (photo == nullptr || size <= 0) {
    return 1;
  }
  const std::vector<unsigned char> pixels = enlarge(photo, size);
  freeimage(photo);
  if (!write_p5(argv[3], pixels, size) || !write_p2(argv[4], pixels, size)) {
    std::fprintf(stderr, "make_bench_input: cannot write the inputs\n");
    return 1;
  }
  return 0;
}
