// funcao_exe's decisions as values: which arguments were given, whether the percentages are
// accepted, and the noise passes. main.cpp alone prints the messages and ends the process.
#ifndef NOISE_COMMAND_H
#define NOISE_COMMAND_H

#include "imagelib/lib.h"
#include "noise/noise.h"

struct NoiseArguments {
  const char* input_path;
  const char* output_path;
  const char* white_text;
  const char* density_text;
};

// False when fewer than four arguments follow the program name; later ones are ignored.
bool read_arguments(int argc, const char* const* argv, NoiseArguments* arguments);

struct NoiseSettings {
  float white;    // share of the noise points that are white, in percent
  float density;  // share of the image's pixels that receive a point, in percent
};

enum class SettingsStatus {
  ok,
  above_hundred,  // either percentage exceeds 100
};

SettingsStatus read_settings(const NoiseArguments& arguments, NoiseSettings* settings);

// The white pass, then the black pass, on image, from the first value of the generator.
NoiseCounts add_noise(Image* image, const NoiseSettings& settings);

#endif
