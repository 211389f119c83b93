// SPDX-License-Identifier: MIT
// Byte sources and sinks: memory or a stream, behind one pair of calls each.
#include "imagelib/byte_io.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "imagelib/platform/file_open.h"

void imagelib_detail::FileCloser::operator()(std::FILE* file) const {
  // NOLINTNEXTLINE(cert-err33-c): a stream that was only read loses nothing to a failed close.
  std::fclose(file);
}

ByteSource byte_source_memory(const void* data, size_t size) {
  ByteSource source;
  source.next = static_cast<const unsigned char*>(data);
  source.end = source.next + size;
  return source;
}

ByteSource byte_source_file(std::FILE* file) {
  ByteSource source;
  source.file = file;
  return source;
}

ImageStatus byte_source_open(const char* path, ByteSource* source) {
  // Binary: the same bytes on every system, header and raster alike.
  std::FILE* file = imagelib_detail::open_file(path, "rb");
  if (file == nullptr) {
    return ImageStatus::read_error;
  }
  *source = ByteSource{};
  source->owned.reset(file);
  source->file = file;
  return ImageStatus::ok;
}

ByteSink byte_sink_file(std::FILE* file) {
  ByteSink sink;
  sink.file = file;
  return sink;
}

ByteSink byte_sink_memory() {
  return ByteSink{};
}

namespace imagelib_detail {

int source_byte(ByteSource* in) {
  if (in->file == nullptr) {
    return in->next == in->end ? -1 : *in->next++;
  }
  const int c = std::getc(in->file);
  if (c == EOF) {
    in->failed = in->failed || std::ferror(in->file) != 0;
    return -1;
  }
  return c;
}

int source_peek(ByteSource* in) {
  if (in->file == nullptr) {
    return in->next == in->end ? -1 : *in->next;
  }
  const int c = source_byte(in);
  // One byte can always be pushed back.
  return c < 0 ? c : std::ungetc(c, in->file);
}

size_t source_take(ByteSource* in, size_t size, unsigned char* buffer,
                   const unsigned char** bytes) {
  if (in->file != nullptr) {
    *bytes = buffer;
    return source_read(in, buffer, size);
  }
  const auto left = static_cast<size_t>(in->end - in->next);
  const size_t n = size < left ? size : left;
  *bytes = in->next;
  in->next += n;
  return n;
}

size_t source_read(ByteSource* in, void* out, size_t size) {
  if (in->file == nullptr) {
    const unsigned char* bytes = nullptr;
    const size_t n = source_take(in, size, nullptr, &bytes);
    if (n > 0) {
      std::memcpy(out, bytes, n);
    }
    return n;
  }
  const size_t got = std::fread(out, 1, size, in->file);
  if (got < size && std::ferror(in->file) != 0) {
    in->failed = true;
  }
  return got;
}

bool sink_write(ByteSink* out, const void* data, size_t size) {
  if (out->failed) {
    return false;
  }
  if (out->file != nullptr) {
    out->failed = std::fwrite(data, 1, size, out->file) != size;
    return !out->failed;
  }
  const auto* bytes = static_cast<const unsigned char*>(data);
  try {
    out->bytes.insert(out->bytes.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    out->failed = true;
  }
  return !out->failed;
}

bool sink_flush(ByteSink* out) {
  if (out->file != nullptr && !out->failed) {
    out->failed = std::fflush(out->file) != 0 || std::ferror(out->file) != 0;
  }
  return !out->failed;
}

}  // namespace imagelib_detail
