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

bool parse_format(const char* text, ImageFormat* format) {
  const std::string_view name(text);
  if (name == "p2") {
    *format = ImageFormat::p2;
  } else if (name == "p5") {
    *format = ImageFormat::p5;
  } else if (name == "png") {
    *format = ImageFormat::png;
  } else {
    return false;
  }
  return true;
}

ImageFormat output_format(const NoiseArguments& arguments, const char* path) {
  return arguments.format_given ? arguments.format : image_format_for_name(path);
}

ImageFormat output_format(const NoiseArguments& arguments) {
  return output_format(arguments, arguments.output_path);
}

std::string help_text() {
  return "Usage: funcao_exe <image> <output> <white points percentage> <image points percentage>\n"
         "   or: funcao_exe [options] <image> <output> <white %> <density %>\n"
         "\n"
         "Adds impulse (salt and pepper) noise to a copy of a greyscale image: <density> %\n"
         "of the pixels receive a point, <white> % of the points white (255), the rest\n"
         "black (0). <image> is a PBM, PGM or PNG file, <output> the noisy copy. - names\n"
         "standard input or standard output (./- names a file called -).\n"
         "\n"
         "Options, before a -- (which ends them):\n"
         "  --seed N            another realisation of the noise; N from 0 to 4294967295,\n"
         "                      default 1\n"
         "  --format p2|p5|png  the output's format: plain PGM, raw PGM or 8-bit grey PNG.\n"
         "                      Without it an output named *.png is PNG, any other P2.\n"
         "  --exact             exactly the asked share of distinct pixels: a position\n"
         "                      already hit is drawn again\n"
         "  --mask FILE         also write the ground truth: 255 where a point landed, 0\n"
         "                      elsewhere (its format by the same rule as the output's)\n"
         "  --impulse fixed|random\n"
         "                      points of 0 and 255 (the default), or of random values\n"
         "                      0..255, the white share then unused\n"
         "  --quiet             no description or success lines; errors are still printed\n"
         "  -h, --help          this text\n"
         "  --version           the version\n"
         "\n"
         "Exit status: 0 success; 1 bad arguments; 2 the input cannot be read or the\n"
         "output cannot be written; 3 a percentage above 100.\n"
         "Manual page: funcao_exe(1), shown by man funcao_exe.\n";
}

ArgumentsStatus read_arguments(int argc, const char* const* argv, NoiseArguments* arguments) {
  bool format_given = false;
  ImageFormat format = ImageFormat::p2;
  bool quiet = false;
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
    if (argument == "--help" || argument == "-h") {
      return ArgumentsStatus::help;
    }
    if (argument == "--version") {
      return ArgumentsStatus::version;
    }
    if (argument == "--quiet") {
      quiet = true;
      continue;
    }
    const char* value = nullptr;
    if (!option_value("--format", argc, argv, &i, &value)) {
      return ArgumentsStatus::too_few;  // the format itself is missing
    }
    if (value != nullptr) {
      if (!parse_format(value, &format)) {
        arguments->bad_format = value;
        return ArgumentsStatus::bad_format;
      }
      format_given = true;
      continue;
    }
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
  arguments->format_given = format_given;
  arguments->format = format;
  arguments->quiet = quiet;
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
