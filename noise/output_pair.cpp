// SPDX-License-Identifier: MIT
#include "noise/output_pair.h"

#include "imagelib/pbm_input.h"
#include "imagelib/platform/file_open.h"
#include "imagelib/platform/replace_file.h"
#include "noise/output_target.h"

namespace {

struct Destination {
  imagelib_detail::FileReplacement replacement;
  bool replacing = false;
  std::FILE* stream = nullptr;
};

// Both files go through the command's one writer, each in its own format.
bool write_image(std::FILE* out, const Image* image, ImageFormat format) {
  return imagelib_detail::write_image_stream(out, image, format) == ImageStatus::ok;
}

// A temporary file for path's target when it can be replaced whole; false when the target may
// not be written at all.
bool begin(const char* path, Destination* destination) {
  if (imagelib_detail::replacement_begin(path, &destination->replacement)) {
    destination->replacing = true;
    destination->stream = destination->replacement.stream;
    return true;
  }
  return destination->replacement.refusal == imagelib_detail::Refusal::none;
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

// Writes and closes; a temporary file stays until it is committed or abandoned.
bool write_and_close(Destination* destination, const Image* image, ImageFormat format) {
  const bool written = write_image(destination->stream, image, format);
  std::FILE* stream = destination->stream;
  destination->stream = nullptr;
  if (destination->replacing) {
    return imagelib_detail::replacement_close(&destination->replacement, written);
  }
  return std::fclose(stream) == 0 && written;
}

void abandon(Destination* output, Destination* mask) {
  for (Destination* destination : {output, mask}) {
    if (destination->replacing) {
      imagelib_detail::replacement_abandon(&destination->replacement);
      destination->replacing = false;
    } else if (destination->stream != nullptr) {
      // NOLINTNEXTLINE(cert-err33-c): the run fails whatever the close says.
      std::fclose(destination->stream);
    }
    destination->stream = nullptr;
  }
}

}  // namespace

PairWritten write_output_and_mask(const Image* image, const char* output_path, std::FILE* image_out,
                                  bool cut, ImageFormat format, const Image* mask,
                                  const char* mask_path, ImageFormat mask_format) {
  Destination output;
  Destination mask_file;
  // Temporary files first, which change nothing yet; direct writes, which truncate at once, only
  // once both names are known to open.
  if (image_out != nullptr) {
    output.stream = image_out;
  } else if (!begin(output_path, &output)) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_open_output;
  }
  if (!begin(mask_path, &mask_file)) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_open_mask;
  }
  if (output.stream == nullptr && !open_directly(output_path, &output)) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_open_output;
  }
  if (mask_file.stream == nullptr && !open_directly(mask_path, &mask_file)) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_open_mask;
  }
  if (!write_and_close(&mask_file, mask, mask_format)) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_write_mask;
  }
  const bool output_written = image_out != nullptr ? write_image(image_out, image, format) &&
                                                         close_image_stream(image_out, cut)
                                                   : write_and_close(&output, image, format);
  output.stream = nullptr;
  if (!output_written) {
    abandon(&output, &mask_file);
    return PairWritten::cannot_write_output;
  }
  // Both complete: the output takes its place first, then the mask.
  if (output.replacing) {
    output.replacing = false;
    if (imagelib_detail::replacement_commit(&output.replacement) !=
        imagelib_detail::Replaced::done) {
      abandon(&output, &mask_file);
      return PairWritten::cannot_write_output;
    }
  }
  if (mask_file.replacing) {
    mask_file.replacing = false;
    if (imagelib_detail::replacement_commit(&mask_file.replacement) !=
        imagelib_detail::Replaced::done) {
      return PairWritten::cannot_write_mask;
    }
  }
  return PairWritten::done;
}
