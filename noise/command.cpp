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

namespace {

// An option's value: the next argument after "--name" (false when there is none), or the text
// after "--name=". Null, with true, when the argument is not this option.
bool option_value(std::string_view name, int argc, const char* const* argv, int* i,
                  const char** value) {
  const std::string_view argument(argv[*i]);
  *value = nullptr;
  if (argument == name) {
    if (*i + 1 == argc) {
      return false;
    }
    *value = argv[++*i];
  } else if (argument.size() > name.size() && argument.substr(0, name.size()) == name &&
             argument[name.size()] == '=') {
    *value = argv[*i] + name.size() + 1;
  }
  return true;
}

}  // namespace

ArgumentsStatus read_arguments(int argc, const char* const* argv, NoiseArguments* arguments) {
  const char* positional[4] = {};
  int given = 0;
  uint32_t chosen = 1;
  bool exact = false;
  ImpulseKind impulse = ImpulseKind::fixed;
  const char* mask_path = nullptr;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (options && argument == "--") {
      options = false;
      continue;
    }
    if (!options) {
      if (given < 4) {
        positional[given++] = argv[i];
      }
      continue;
    }
    const char* value = nullptr;
    if (!option_value("--seed", argc, argv, &i, &value)) {
      return ArgumentsStatus::too_few;  // the seed itself is missing
    }
    if (value != nullptr) {
      if (!parse_seed(value, &chosen)) {
        arguments->bad_seed = value;
        return ArgumentsStatus::bad_seed;
      }
      continue;
    }
    if (argument == "--exact") {
      exact = true;
      continue;
    }
    if (!option_value("--mask", argc, argv, &i, &value)) {
      return ArgumentsStatus::too_few;
    }
    if (value != nullptr) {
      if (std::string_view(value) == "-") {
        return ArgumentsStatus::bad_mask;
      }
      mask_path = value;
      continue;
    }
    if (!option_value("--impulse", argc, argv, &i, &value)) {
      return ArgumentsStatus::too_few;
    }
    if (value != nullptr) {
      const std::string_view kind(value);
      if (kind != "fixed" && kind != "random") {
        arguments->bad_impulse = value;
        return ArgumentsStatus::bad_impulse;
      }
      impulse = kind == "random" ? ImpulseKind::random : ImpulseKind::fixed;
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
  arguments->exact = exact;
  arguments->impulse = impulse;
  arguments->mask_path = mask_path;
  return ArgumentsStatus::ok;
}

ImpulseOptions impulse_options(const NoiseArguments& arguments) {
  ImpulseOptions options;
  options.exact = arguments.exact;
  options.kind = arguments.impulse;
  return options;
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
