// SPDX-License-Identifier: MIT
// Micro-benchmarks of the hot paths: the P2 writer and its inner loop, the P1/P2 and P5 raster
// readers and the noise passes, each on a 1024 x 1024 image with photo-like values. Figures are
// bytes or items per second, so a regression points at its stage.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imagelib/file_ptr.h"
#include "imagelib/lib.h"
#include "imagelib/value_text.h"
#include "noise/noise.h"

namespace {

constexpr int32_t kSize = 1024;

using imagelib_detail::FilePtr;
using noise_detail::RandState;

struct ImageDeleter {
  void operator()(Image* image) const { freeimage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

// Smooth gradients with a little grain: every value width from 1 to 3 digits occurs.
unsigned char photo_value(int32_t row, int32_t col) {
  const auto grain = static_cast<uint32_t>(row * 2654435761u + col * 40503u) >> 29;
  return static_cast<unsigned char>((row / 5 + col / 7 + static_cast<int32_t>(grain)) & 0xFF);
}

ImagePtr photo_image() {
  ImagePtr image(newimage(kSize, kSize));
  for (int32_t r = 0; r < kSize; ++r) {
    for (int32_t c = 0; c < kSize; ++c) {
      image->pixels[r][c] = photo_value(r, c);
    }
  }
  return image;
}

std::string p2_raster(bool bitmap) {
  std::string text;
  for (int32_t r = 0; r < kSize; ++r) {
    for (int32_t c = 0; c < kSize; ++c) {
      text += std::to_string(bitmap ? photo_value(r, c) >> 7 : photo_value(r, c));
      text += c % 16 == 15 ? '\n' : ' ';
    }
  }
  return text;
}

void read_raster(benchmark::State& state, int32_t pnm_class, const std::string& raster) {
  const ImagePtr image(newimage(kSize, kSize));
  const PnmHeader header{pnm_class, kSize, kSize, 255};
  for (auto _ : state) {
    ByteSource in = byte_source_memory(raster.data(), raster.size());
    benchmark::DoNotOptimize(pnm_read_raster(&in, &header, image.get()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(raster.size()));
}

void BM_ReadP2(benchmark::State& state) {
  read_raster(state, 2, p2_raster(false));
}
BENCHMARK(BM_ReadP2)->Unit(benchmark::kMillisecond);

void BM_ReadP1(benchmark::State& state) {
  read_raster(state, 1, p2_raster(true));
}
BENCHMARK(BM_ReadP1)->Unit(benchmark::kMillisecond);

void BM_ReadP5(benchmark::State& state) {
  std::string raster;
  for (int32_t r = 0; r < kSize; ++r) {
    for (int32_t c = 0; c < kSize; ++c) {
      raster += static_cast<char>(photo_value(r, c));
    }
  }
  read_raster(state, 5, raster);
}
BENCHMARK(BM_ReadP5)->Unit(benchmark::kMillisecond);

// Reads raster (class pnm_class, side x side) from a regular file, once per iteration.
void read_file_raster(benchmark::State& state, int32_t pnm_class, int32_t side,
                      const std::string& raster) {
  const FilePtr in(std::tmpfile());
  if (in == nullptr || std::fwrite(raster.data(), 1, raster.size(), in.get()) != raster.size()) {
    state.SkipWithError("no scratch file");
    return;
  }
  const ImagePtr image(newimage(side, side));
  const PnmHeader header{pnm_class, side, side, 255};
  for (auto _ : state) {
    std::rewind(in.get());
    benchmark::DoNotOptimize(pbm_read_raster(in.get(), &header, image.get()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(raster.size()));
}

// A regular file's P5 raster, 1024 x 1024, through the stream.
void BM_ReadP5File(benchmark::State& state) {
  std::string raster;
  for (int32_t r = 0; r < kSize; ++r) {
    for (int32_t c = 0; c < kSize; ++c) {
      raster += static_cast<char>(photo_value(r, c));
    }
  }
  read_file_raster(state, 5, kSize, raster);
}
BENCHMARK(BM_ReadP5File)->Unit(benchmark::kMillisecond);

// A 2048 x 2048 P2 raster in a regular file, 14 MB of text.
void BM_ReadP2File(benchmark::State& state) {
  constexpr int32_t kSide = 2 * kSize;
  std::string raster;
  for (int32_t r = 0; r < kSide; ++r) {
    for (int32_t c = 0; c < kSide; ++c) {
      raster += std::to_string(photo_value(r, c));
      raster += c % 16 == 15 ? '\n' : ' ';
    }
  }
  read_file_raster(state, 2, kSide, raster);
}
BENCHMARK(BM_ReadP2File)->Unit(benchmark::kMillisecond);

void BM_WriteP2(benchmark::State& state) {
  const ImagePtr image = photo_image();
  const FilePtr out(std::fopen("/dev/null", "wb"));
  for (auto _ : state) {
    benchmark::DoNotOptimize(pbm_write(out.get(), image.get()));
  }
  // Bytes of text written: the digits, a space per value, the line breaks and the header.
  int64_t text_bytes = 0;
  for (int32_t r = 0; r < kSize; ++r) {
    for (int32_t c = 0; c < kSize; ++c) {
      const unsigned char v = image->pixels[r][c];
      text_bytes += v >= 100 ? 4 : v >= 10 ? 3 : 2;
    }
  }
  text_bytes += int64_t{kSize} * kSize / 21;
  state.SetBytesProcessed(state.iterations() * text_bytes);
}
BENCHMARK(BM_WriteP2)->Unit(benchmark::kMillisecond);

// A 4096 x 4096 image through Output_PBM into a fresh file each time, 47 MB of text. The files
// are removed untimed.
void BM_WriteP2File(benchmark::State& state) {
  constexpr int32_t kSide = 4 * kSize;
  const ImagePtr image(newimage(kSide, kSide));
  for (int32_t r = 0; r < kSide; ++r) {
    for (int32_t c = 0; c < kSide; ++c) {
      image->pixels[r][c] = photo_value(r, c);
    }
  }
  const std::string path = "micro_benchmarks_write.pgm";
  for (auto _ : state) {
    Output_PBM(image.get(), path.c_str());
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_WriteP2File)->Unit(benchmark::kMillisecond);

// The writer's inner loop alone, into a buffer that stays in cache: text bytes per second.
void BM_ValueText(benchmark::State& state) {
  const ImagePtr image = photo_image();
  std::vector<char> buffer(size_t{256} << 10);
  const char* const room_end = buffer.data() + buffer.size() - imagelib_detail::kMaxLineText -
                               imagelib_detail::kMaxOvershoot;
  int64_t text_bytes = 0;
  for (auto _ : state) {
    imagelib_detail::TextCursor cursor{nullptr, 21, buffer.data()};
    for (int32_t r = 0; r < kSize; ++r) {
      cursor.pixels = image->pixels[r];
      const unsigned char* const row_end = cursor.pixels + kSize;
      while (cursor.pixels < row_end) {
        imagelib_detail::write_values(&cursor, row_end, 21, room_end);
        if (cursor.text >= room_end) {
          text_bytes += cursor.text - buffer.data();
          cursor.text = buffer.data();
        }
      }
    }
    text_bytes += cursor.text - buffer.data();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(text_bytes);
}
BENCHMARK(BM_ValueText)->Unit(benchmark::kMillisecond);

// One pass over a 4096 x 4096 image, the size of bench/run.sh, with density 10 % or 100 %: the
// writes land all over 16 MiB, as they do in a real run.
void BM_NoisePass(benchmark::State& state) {
  const ImagePtr image(newimage(4096, 4096));
  for (int32_t r = 0; r < 4096; ++r) {
    std::fill_n(image->pixels[r], 4096, photo_value(r, 0));
  }
  const auto draws = static_cast<int32_t>(int64_t{4096} * 4096 * state.range(0) / 100);
  RandState rand{};
  noise_detail::rand_init(&rand);
  for (auto _ : state) {
    noise_detail::add_impulses(image.get(), draws, 255, &rand);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * draws);
}
BENCHMARK(BM_NoisePass)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// The generator alone, the floor under a noise pass: two values per position.
void BM_RandFill(benchmark::State& state) {
  RandState rand{};
  noise_detail::rand_init(&rand);
  std::vector<int32_t> values(128);
  for (auto _ : state) {
    noise_detail::rand_fill(&rand, values.data(), static_cast<int32_t>(values.size()));
    benchmark::DoNotOptimize(values.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_RandFill);

void BM_Copy(benchmark::State& state) {
  const ImagePtr image = photo_image();
  for (auto _ : state) {
    Image* duplicate = nullptr;
    copy(&duplicate, image.get());
    benchmark::DoNotOptimize(duplicate->pixels[0][0]);
    freeimage(duplicate);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSize} * kSize);
}
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond);

}  // namespace
