// SPDX-License-Identifier: MIT
// A stream that closes itself. Internal to the library, and shared with its tests and tools.
#ifndef IMAGELIB_FILE_PTR_H
#define IMAGELIB_FILE_PTR_H

#include <cstdio>
#include <memory>

#include "imagelib/lib.h"

namespace imagelib_detail {

// For streams that were only read, or whose writes the owner has already checked: a close that
// fails then loses nothing.
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace imagelib_detail

#endif
