// SPDX-License-Identifier: MIT
// The readers' and writers' access to their byte sources and sinks. Internal to the library.
#ifndef IMAGELIB_BYTE_IO_H
#define IMAGELIB_BYTE_IO_H

#include <cstddef>

#include "imagelib/lib.h"

namespace imagelib_detail {

// The next byte, or -1 at the end or after an error (which sets in->failed).
int source_byte(ByteSource* in);
// The next byte without taking it, or -1 as source_byte gives it.
int source_peek(ByteSource* in);
// Up to size bytes into out; fewer only at the end or after an error.
size_t source_read(ByteSource* in, void* out, size_t size);
// Up to size bytes at *bytes, as source_read gives them: straight from a memory source, else read
// into buffer, which holds size bytes.
size_t source_take(ByteSource* in, size_t size, unsigned char* buffer, const unsigned char** bytes);

// Appends size bytes; false, with out->failed set, when they cannot all be written.
bool sink_write(ByteSink* out, const void* data, size_t size);
// Hands a stream's buffered bytes on; false when any write to the sink has failed.
bool sink_flush(ByteSink* out);

}  // namespace imagelib_detail

#endif
