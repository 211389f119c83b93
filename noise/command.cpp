// SPDX-License-Identifier: MIT
#include "noise/command.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "noise/noise.h"

bool parse_seed(const char* text, uint32_t* value) {
  const std::string_view digits(text);
  // Digits alone: no sign, no blanks, no empty text.
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const std::from_chars_result read =
      std::from_chars(digits.data(), digits.data() + digits.size(), *value);
  return read.ec == std::errc() && read.ptr == digits.data() + digits.size();
}

ArgumentsStatus read_arguments(int argc, const char* const* argv, NoiseArguments* arguments) {
  constexpr std::string_view kSeed = "--seed";
  const char* positional[4] = {};
  int given = 0;
  uint32_t chosen = 1;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    const char* value = nullptr;
    if (options && argument == "--") {
      options = false;
      continue;
    }
    if (options && argument == kSeed) {
      if (i + 1 == argc) {
        return ArgumentsStatus::too_few;  // the seed itself is missing
      }
      value = argv[++i];
    } else if (options && argument.substr(0, kSeed.size() + 1) == "--seed=") {
      value = argv[i] + kSeed.size() + 1;
    }
    if (value != nullptr) {
      if (!parse_seed(value, &chosen)) {
        arguments->bad_seed = value;
        return ArgumentsStatus::bad_seed;
      }
      continue;
    }
    if (given < 4) {
      positional[given++] = argv[i];
    }
  }
  if (given < 4) {
    return ArgumentsStatus::too_few;
  }
  *arguments =
      NoiseArguments{positional[0], positional[1], positional[2], positional[3], chosen, nullptr};
  return ArgumentsStatus::ok;
}

SettingsStatus read_settings(const NoiseArguments& arguments, NoiseSettings* settings) {
  settings->white = noise_detail::parse_percentage(arguments.white_text);
  settings->density = noise_detail::parse_percentage(arguments.density_text);
  // Not a number passes: no comparison with it holds, and it later counts as no points.
  if (settings->white > 100 || settings->density > 100) {
    return SettingsStatus::above_hundred;
  }
  return SettingsStatus::ok;
}

std::string percentage_text(double value) {
  if (std::isnan(value)) {
    return std::signbit(value) ? "-nan" : "nan";
  }
  // A single-precision value, or 100 less one, takes at most 42 characters.
  char text[64];
  // NOLINTNEXTLINE(cert-err33-c): a finite or infinite double always fits.
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}
