// SPDX-License-Identifier: MIT
// The machine's physical memory, which bounds the images newimage makes. Internal to the library.
#ifndef IMAGELIB_PLATFORM_PHYSICAL_MEMORY_H
#define IMAGELIB_PLATFORM_PHYSICAL_MEMORY_H

#include <cstdint>

namespace imagelib_detail {

// Bytes of physical memory; UINT64_MAX where the system does not say.
uint64_t physical_memory();

}  // namespace imagelib_detail

#endif
