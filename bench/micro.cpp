// Micro-benchmarks of the hot paths: the P2 writer and its inner loop, the P1/P2 and P5 raster
// readers and the noise passes, each on a 1024 x 1024 image with photo-like values. Figures are
// bytes or items per second, so a regression points at its stage.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imagelib/direct_read.h"
#include "imagelib/file_ptr.h"
#include "imagelib/lib.h"
#include "imagelib/value_text.h"
#include "imagelib/worker.h"
#include "noise/noise.h"

namespace {

constexpr int32_t kSize = 1024;

using imagelib_detail::FilePtr;

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
    const FilePtr in(fmemopen(const_cast<char*>(raster.data()), raster.size(), "rb"));
    benchmark::DoNotOptimize(pbm_read_raster(in.get(), &header, image.get()));
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

// A regular file's P5 raster, read straight into the rows where the build can (argument 1) and
// through the stream (0): what the direct path saves.
void BM_ReadP5File(benchmark::State& state) {
  const bool direct = state.range(0) != 0;
  if (direct && !imagelib_detail::direct_read_available()) {
    state.SkipWithError("this build has no direct read");
    return;
  }
  std::string raster;
  for (int32_t r = 0; r < kSize; ++r) {
    for (int32_t c = 0; c < kSize; ++c) {
      raster += static_cast<char>(photo_value(r, c));
    }
  }
  imagelib_detail::set_direct_read(direct);
  read_file_raster(state, 5, kSize, raster);
  imagelib_detail::set_direct_read(true);
  state.SetLabel(direct ? "direct" : "stream");
}
BENCHMARK(BM_ReadP5File)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// A 2048 x 2048 P2 raster in a regular file, 14 MB of text: parsed in two halves at once where
// the build has threads (argument 1), and in one pass (0).
void BM_ReadP2File(benchmark::State& state) {
  constexpr int32_t kSide = 2 * kSize;
  const bool threads = state.range(0) != 0;
  std::string raster;
  for (int32_t r = 0; r < kSide; ++r) {
    for (int32_t c = 0; c < kSide; ++c) {
      raster += std::to_string(photo_value(r, c));
      raster += c % 16 == 15 ? '\n' : ' ';
    }
  }
  imagelib_detail::set_threads(threads);
  read_file_raster(state, 2, kSide, raster);
  imagelib_detail::set_threads(true);
  state.SetLabel(threads && imagelib_detail::threads_available() ? "halves" : "one pass");
}
BENCHMARK(BM_ReadP2File)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

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

// A 4096 x 4096 image through Output_PBM into a fresh file each time, 47 MB of text: formatted by
// two threads where the build has them (argument 1), by one (0). The files are removed untimed.
void BM_WriteP2File(benchmark::State& state) {
  constexpr int32_t kSide = 4 * kSize;
  const ImagePtr image(newimage(kSide, kSide));
  for (int32_t r = 0; r < kSide; ++r) {
    for (int32_t c = 0; c < kSide; ++c) {
      image->pixels[r][c] = photo_value(r, c);
    }
  }
  imagelib_detail::set_threads(state.range(0) != 0);
  const std::string path = "micro_benchmarks_write.pgm";
  for (auto _ : state) {
    Output_PBM(image.get(), path.c_str());
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
  imagelib_detail::set_threads(true);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_WriteP2File)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The writer's inner loop alone, for each tier (0 plain, 1 AVX2, 2 AVX-512), into a buffer that
// stays in cache: text bytes per second.
void BM_ValueText(benchmark::State& state) {
  const auto tier = static_cast<imagelib_detail::SimdTier>(state.range(0));
  if (tier > imagelib_detail::simd_tier_supported()) {
    state.SkipWithError("this processor lacks the tier");
    return;
  }
  const imagelib_detail::ValueWriter write_values = imagelib_detail::value_writer(tier);
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
        write_values(&cursor, row_end, 21, room_end);
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
BENCHMARK(BM_ValueText)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// One pass over a 4096 x 4096 image, the size of bench/run.sh, with density 10 % or 100 %: the
// writes land all over 16 MiB, as they do in a real run. The second argument lets a long pass
// split between two threads (1) or not (0).
void BM_NoisePass(benchmark::State& state) {
  imagelib_detail::set_threads(state.range(1) != 0);
  const ImagePtr image(newimage(4096, 4096));
  for (int32_t r = 0; r < 4096; ++r) {
    std::fill_n(image->pixels[r], 4096, photo_value(r, 0));
  }
  const auto draws = static_cast<int32_t>(int64_t{4096} * 4096 * state.range(0) / 100);
  RandState rand{};
  rand_init(&rand);
  for (auto _ : state) {
    add_impulses(image.get(), draws, 255, &rand);
    benchmark::ClobberMemory();
  }
  imagelib_detail::set_threads(true);
  state.SetItemsProcessed(state.iterations() * draws);
}
BENCHMARK(BM_NoisePass)->ArgsProduct({{10, 100}, {1, 0}})->Unit(benchmark::kMillisecond);

// The generator alone, the floor under a noise pass: two values per position.
void BM_RandFill(benchmark::State& state) {
  RandState rand{};
  rand_init(&rand);
  std::vector<int32_t> values(128);
  for (auto _ : state) {
    rand_fill(&rand, values.data(), static_cast<int32_t>(values.size()));
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
