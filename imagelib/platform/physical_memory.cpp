// SPDX-License-Identifier: MIT
#include "imagelib/platform/physical_memory.h"

#if __has_include(<unistd.h>)
#include <unistd.h>
#endif
#if defined(_WIN32)
#include "imagelib/platform/windows.h"
#endif

namespace imagelib_detail {

uint64_t physical_memory() {
#if defined(_WIN32)
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) != 0 && status.ullTotalPhys > 0 ? status.ullTotalPhys
                                                                       : UINT64_MAX;
#elif defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) {
    return UINT64_MAX;
  }
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
#else
  return UINT64_MAX;
#endif
}

}  // namespace imagelib_detail
