// SPDX-License-Identifier: MIT
#include "noise/output_pair.h"

#include "imagelib/platform/file_open.h"
#include "imagelib/platform/replace_file.h"

namespace {

struct Destination {
  imagelib_detail::FileReplacement replacement;
  bool replacing = false;
  std::FILE* stream = nullptr;
};

// Every file goes through this one writer, in the output's format.
bool write_image(std::FILE* out, const Image* image) {
  return pbm_write(out, image);
}

bool open_directly(const char* path, Destination* destination) {
  destination->stream = imagelib_detail::open_file(path, "wb");
  if (destination->stream == nullptr) {
    return false;
  }
  // NOLINTNEXTLINE(cert-err33-c): a buffered stream writes the same bytes.
  std::setvbuf(destination->stream, nullptr, _IONBF, 0);
  return true;
}

bool close_stream(Destination* destination) {
  const bool closed = destination->replacing
                          ? imagelib_detail::replacement_close(&destination->replacement)
                          : std::fclose(destination->stream) == 0;
  destination->stream = nullptr;
  return closed;
}

// Removes a temporary file, or puts it in place (false when that fails).
bool finish(Destination* destination, bool keep) {
  if (!destination->replacing) {
    return true;
  }
  destination->replacing = false;
  return imagelib_detail::replacement_finish(&destination->replacement, keep) ==
         imagelib_detail::Replaced::done;
}

void abandon(Destination* output, Destination* mask) {
  for (Destination* destination : {output, mask}) {
    if (destination->stream != nullptr) {
      close_stream(destination);
    }
    finish(destination, false);
  }
}

}  // namespace

PairWritten write_output_and_mask(const Image* image, const char* output_path, std::FILE* image_out,
                                  const Image* mask, const char* mask_path) {
  Destination output;
  Destination mask_file;
  // Temporary files first, which change nothing yet; direct writes, which truncate at once, only
  // once both names are known to open.
  if (image_out != nullptr) {
    output.stream = image_out;
  } else if (imagelib_detail::replacement_begin(output_path, &output.replacement)) {
    output.replacing = true;
    output.stream = output.replacement.stream;
  }
  if (imagelib_detail::replacement_begin(mask_path, &mask_file.replacement)) {
    mask_file.replacing = true;
    mask_file.stream = mask_file.replacement.stream;
  }
  if (output.stream == nullptr && !open_directly(output_path, &output)) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_open_output;
  }
  if (mask_file.stream == nullptr && !open_directly(mask_path, &mask_file)) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_open_mask;
  }
  const bool mask_written = write_image(mask_file.stream, mask) && close_stream(&mask_file);
  if (!mask_written) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_write_mask;
  }
  const bool output_written = write_image(output.stream, image) && close_stream(&output);
  if (!output_written) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_write_output;
  }
  // Both complete: the output takes its place first, then the mask.
  if (!finish(&output, true)) {
    finish(&mask_file, false);
    return PairWritten::cannot_write_output;
  }
  return finish(&mask_file, true) ? PairWritten::done : PairWritten::cannot_write_mask;
}
