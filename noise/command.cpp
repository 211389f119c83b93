#include "noise/command.h"

bool read_arguments(int argc, const char* const* argv, NoiseArguments* arguments) {
  if (argc < 5) {
    return false;
  }
  *arguments = NoiseArguments{argv[1], argv[2], argv[3], argv[4]};
  return true;
}

SettingsStatus read_settings(const NoiseArguments& arguments, NoiseSettings* settings) {
  settings->white = parse_percentage(arguments.white_text);
  settings->density = parse_percentage(arguments.density_text);
  // Not a number passes: no comparison with it holds, and it later counts as no points.
  if (settings->white > 100 || settings->density > 100) {
    return SettingsStatus::above_hundred;
  }
  return SettingsStatus::ok;
}

NoiseCounts add_noise(Image* image, const NoiseSettings& settings) {
  const NoiseCounts counts =
      noise_counts(settings.white, settings.density, image->dims->rows, image->dims->cols);
  RandState state{};
  rand_init(&state);
  add_impulses(image, counts.white, 255, &state);
  add_black_impulses(image, counts.black, &state);
  return counts;
}
