#include <array>
#include <cstdio>
#include <vector>

#include "imagelib/lib.h"

namespace {

// Large enough that writes go straight to the file in few system calls.
constexpr size_t kBufferSize = size_t{1} << 18;

// "%d " for every pixel value, built once.
struct ValueText {
  std::array<std::array<char, 4>, 256> text{};
  std::array<unsigned char, 256> length{};
};

ValueText make_value_text() {
  ValueText table;
  for (int v = 0; v < 256; ++v) {
    char scratch[8];
    const int n = std::snprintf(scratch, sizeof scratch, "%d ", v);
    for (int i = 0; i < n; ++i) {
      table.text[v][i] = scratch[i];
    }
    table.length[v] = static_cast<unsigned char>(n);
  }
  return table;
}

}  // namespace

bool pbm_write(std::FILE* out, const Image* image) {
  static const ValueText table = make_value_text();
  const ImageDims& dims = *image->dims;
  // A line break follows every (limit + 1)-th value; the count runs on across image rows.
  const int32_t per_line = dims.cols > 20 ? 21 : dims.cols;
  if (std::fprintf(out, "P2\n#origin %d %d\n%d %d %d\n", dims.origin_col, dims.origin_row,
                   dims.cols, dims.rows, 255) < 0) {
    return false;
  }
  std::vector<char> buffer(kBufferSize);
  size_t used = 0;
  int32_t on_line = 0;
  bool ok = true;
  for (int32_t row = 0; row < dims.rows && ok; ++row) {
    const unsigned char* pixels = image->pixels[row];
    for (int32_t col = 0; col < dims.cols; ++col) {
      const unsigned char v = pixels[col];
      const auto& text = table.text[v];
      buffer[used] = text[0];
      buffer[used + 1] = text[1];
      buffer[used + 2] = text[2];
      buffer[used + 3] = text[3];
      used += table.length[v];
      if (++on_line == per_line) {
        buffer[used++] = '\n';
        on_line = 0;
      }
      if (used > kBufferSize - 8) {
        ok = std::fwrite(buffer.data(), 1, used, out) == used;
        used = 0;
        if (!ok) {
          break;
        }
      }
    }
  }
  buffer[used++] = '\n';
  ok = ok && std::fwrite(buffer.data(), 1, used, out) == used;
  return ok && std::fflush(out) == 0 && std::ferror(out) == 0;
}

Image* Output_PBM(Image* image, const char* path) {
  std::FILE* out = std::fopen(path, "w");
  if (out == nullptr) {
    sys_abort(0, "Can't open output file.");
  }
  const bool written = pbm_write(out, image);
  if (std::fclose(out) != 0 || !written) {
    sys_abort(0, "Can't write output file.");
  }
  return image;
}
