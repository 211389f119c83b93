// SPDX-License-Identifier: MIT
// funcao_exe's decisions as values: which arguments were given, whether the percentages are
// accepted. main.cpp alone prints the messages and ends the process.
#ifndef NOISE_COMMAND_H
#define NOISE_COMMAND_H

#include <cstdint>
#include <string>

#include "noise/impulse.h"

struct NoiseArguments {
  const char* input_path;
  const char* output_path;
  const char* white_text;
  const char* density_text;
  uint32_t seed;         // 1, the generator's default, unless --seed gives another
  const char* bad_seed;  // the refused seed text, when read_arguments says bad_seed
  bool exact = false;    // --exact
  ImpulseKind impulse = ImpulseKind::fixed;  // --impulse fixed|random
  const char* mask_path = nullptr;           // --mask FILE, when given
  const char* bad_impulse = nullptr;         // the refused --impulse text, when bad_impulse
};

enum class ArgumentsStatus {
  ok,
  too_few,      // fewer than four arguments besides the options, or a --seed without its value
  bad_seed,     // a --seed value that is not a whole number from 0 to 4294967295
  bad_impulse,  // an --impulse value other than fixed and random
  bad_mask,     // "-" as the mask's name: the mask is always a file of its own
};

// Options come first, anywhere before a "--", which ends them and is dropped: "--seed N" (N is
// the next argument, whatever it is) and "--seed=N", "--mask FILE" and "--mask=FILE", "--impulse
// KIND" and "--impulse=KIND", and "--exact"; the last one of each counts. A value-taking option
// without its value counts as too few arguments. Of the other
// arguments the first four are the command's and any later ones are ignored. Seeds are checked
// before the argument count.
ArgumentsStatus read_arguments(int argc, const char* const* argv, NoiseArguments* arguments);

// A decimal whole number from 0 to 4294967295, leading zeros allowed, and nothing else.
bool parse_seed(const char* text, uint32_t* value);

struct NoiseSettings {
  float white;    // share of the noise points that are white, in percent
  float density;  // share of the image's pixels that receive a point, in percent
};

enum class SettingsStatus {
  ok,
  above_hundred,  // either percentage exceeds 100
};

// The impulse options of a run, without its mask image.
ImpulseOptions impulse_options(const NoiseArguments& arguments);

SettingsStatus read_settings(const NoiseArguments& arguments, NoiseSettings* settings);

// A percentage as the description lines print it: "%.1f", and "-nan" for a not-a-number with its
// sign bit set, as glibc prints it and some C libraries (MinGW's) do not.
std::string percentage_text(double value);

#endif
