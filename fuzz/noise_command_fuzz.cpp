// SPDX-License-Identifier: MIT
// libFuzzer target: funcao_exe's argument handling and noise passes on a small image, and
// pnm_compare's measures of the noisy image against its source.
//
// Input: two bytes for the image's rows and columns (0 to 15 each), four bytes for a draw and
// four for a size given to draw_index, then the arguments, separated by NUL bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "noise/command.h"
#include "noise/compare.h"
#include "noise/impulse.h"
#include "noise/noise.h"

namespace {

using noise_detail::add_impulses;
using noise_detail::draw_index;
using noise_detail::noise_counts;
using noise_detail::NoiseCounts;
using noise_detail::rand_init;
using noise_detail::RandState;

// Large counts only repeat the same steps; the fuzzing run stops there to stay fast.
constexpr int64_t kMaxPoints = 1 << 12;
constexpr int kMaxArguments = 8;

struct ImageFreer {
  void operator()(Image* image) const { freeimage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageFreer>;

void check(bool holds) {
  if (!holds) {
    std::abort();
  }
}

uint32_t take_u32(const uint8_t* data) {
  return uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
         uint32_t{data[3]} << 24;
}

void check_draw_index(uint32_t draw_bits, uint32_t size_bits) {
  const auto draw = static_cast<int32_t>(draw_bits & 0x7FFFFFFFu);
  const auto size = static_cast<int32_t>(size_bits & 0x7FFFFFFFu);
  if (size > 0) {
    const int32_t index = draw_index(draw, size);
    check(index >= 0 && index < size);
  }
}

bool counts_are_small(const NoiseCounts& counts) {
  return counts.white >= 0 && counts.white <= kMaxPoints && counts.black >= 0 &&
         counts.black <= kMaxPoints;
}

ImagePtr source_image(int32_t rows, int32_t cols) {
  ImagePtr image(newimage(rows, cols));
  check(image != nullptr);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      image->pixels[r][c] = static_cast<unsigned char>((r * 16 + c) & 0x7F);
    }
  }
  return image;
}

// Every pixel keeps its value or becomes white or black; with no points, none changes.
void check_noise(const Image& image, const Image& source, const NoiseCounts& counts) {
  const bool none = counts.white == 0 && counts.black == 0;
  for (int32_t r = 0; r < image.dims->rows; ++r) {
    for (int32_t c = 0; c < image.dims->cols; ++c) {
      const int v = image.pixels[r][c];
      check(v == source.pixels[r][c] || (!none && (v == 0 || v == 255)));
    }
  }
}

void check_comparison(const Image& noisy, const Image& source, const NoiseCounts& counts) {
  check(same_size(&noisy, &source));
  const Comparison result = compare_images(&noisy, &source);
  check(result.erro >= 0);
  if (counts.white == 0 && counts.black == 0) {
    check(result.erro == 0);
  }
  check(result.mse >= 0 || std::isnan(result.mse));
  check(std::isnan(result.ssim) || (result.ssim >= -1 && result.ssim <= 1));
  if (counts.white == 0 && counts.black == 0) {
    check(result.mse == 0 || std::isnan(result.mse));
  }
  const std::string report = format_comparison(result);
  check(report.compare(0, 5, "Erro ") == 0 && report.find(" dB\nMSE ") != std::string::npos &&
        report.find("\nSSIM ") != std::string::npos && report.back() == '\n');
  const ImagePtr taller(newimage(source.dims->rows + 1, source.dims->cols));
  check(!same_size(&source, taller.get()));
  check(!format_size_mismatch("a", &source, "b", taller.get()).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) {
    return 0;
  }
  const int32_t rows = data[0] & 0x0F;
  const int32_t cols = data[1] & 0x0F;
  check_draw_index(take_u32(data + 2), take_u32(data + 6));

  std::vector<std::string> texts{"funcao_exe"};
  std::string piece;
  for (size_t i = 10; i < size && texts.size() < kMaxArguments; ++i) {
    if (data[i] == 0) {
      texts.push_back(piece);
      piece.clear();
    } else {
      piece.push_back(static_cast<char>(data[i]));
    }
  }
  if (texts.size() < kMaxArguments) {
    texts.push_back(piece);
  }
  std::vector<const char*> argv;
  for (const std::string& text : texts) {
    argv.push_back(text.c_str());
  }
  argv.push_back(nullptr);
  const int argc = static_cast<int>(texts.size());

  NoiseArguments arguments{};
  const ArgumentsStatus given = read_arguments(argc, argv.data(), &arguments);
  check(given != ArgumentsStatus::ok || argc >= 5);
  if (given == ArgumentsStatus::bad_seed) {
    uint32_t seed = 0;
    check(arguments.bad_seed != nullptr && !parse_seed(arguments.bad_seed, &seed));
  }
  if (given == ArgumentsStatus::bad_format) {
    ImageFormat format = ImageFormat::p2;
    check(arguments.bad_format != nullptr && !parse_format(arguments.bad_format, &format));
  }
  if (given != ArgumentsStatus::ok) {
    return 0;
  }
  NoiseSettings settings{};
  const SettingsStatus status = read_settings(arguments, &settings);
  check((status == SettingsStatus::above_hundred) ==
        (settings.white > 100 || settings.density > 100));
  if (status != SettingsStatus::ok) {
    return 0;
  }

  const ImagePtr source = source_image(rows, cols);
  const ImagePtr image = source_image(rows, cols);
  const NoiseCounts counts = noise_counts(settings.white, settings.density, rows, cols);
  check(counts.white >= 0 && counts.black >= 0);
  if (counts_are_small(counts)) {
    const ImpulseCounts used =
        add_impulse_noise(image.get(), settings.white, settings.density, arguments.seed);
    check(used.white == counts.white && used.black == counts.black);
  } else {
    RandState state{};
    rand_init(&state, arguments.seed);
    add_impulses(image.get(), std::min(counts.white, kMaxPoints), 255, &state);
    add_impulses(image.get(), std::min(counts.black, kMaxPoints), 0, &state);
  }
  check_noise(*image, *source, counts);
  check_comparison(*image, *source, counts);
  // Counts come from points that are at most the whole image while the white share is 0..100.
  if (settings.white >= 0 && settings.density >= 0 && !std::isnan(settings.white)) {
    check(counts.white + counts.black <= int64_t{rows} * cols);
  }
  return 0;
}
