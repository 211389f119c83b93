// SPDX-License-Identifier: MIT
#include "imagelib/platform/file_open.h"

#if defined(_WIN32)
#include "imagelib/platform/windows.h"
#endif

#include <climits>
#include <cstring>

namespace imagelib_detail {

#if defined(_WIN32)
std::wstring wide_path(const char* path) {
  const size_t length = std::strlen(path);
  if (length == 0 || length > INT_MAX) {
    return {};
  }
  const int bytes = static_cast<int>(length);
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, bytes, nullptr, 0);
  if (units <= 0) {
    return {};
  }
  std::wstring wide(static_cast<size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, bytes, wide.data(), units) !=
      units) {
    return {};
  }
  return wide;
}

std::FILE* open_file(const char* path, const char* mode) {
  const std::wstring wide = wide_path(path);
  if (wide.empty()) {
    return std::fopen(path, mode);
  }
  std::wstring wide_mode(mode, mode + std::strlen(mode));
  return _wfopen(wide.c_str(), wide_mode.c_str());
}
#else
std::FILE* open_file(const char* path, const char* mode) {
  return std::fopen(path, mode);
}
#endif

}  // namespace imagelib_detail
