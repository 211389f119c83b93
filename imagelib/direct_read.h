// The reader's direct path for binary rasters: a regular file's raster is read straight into the
// rows, many rows to a system call, where the system's preadv is known to work; everywhere else,
// and for pipes and memory streams, through the stream. Internal to the library; the tests hold
// the two paths to the same pixels, and the benchmarks time both.
#ifndef IMAGELIB_DIRECT_READ_H
#define IMAGELIB_DIRECT_READ_H

namespace imagelib_detail {

// Whether this build has the direct path.
bool direct_read_available();

// Allows the direct path (the default) or keeps every read on the stream, from now on.
void set_direct_read(bool allowed);

}  // namespace imagelib_detail

#endif
