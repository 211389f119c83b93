// SPDX-License-Identifier: MIT
// Opening files by the library's paths, which are UTF-8 text on every system. Internal to the
// library, and shared with the commands.
#ifndef IMAGELIB_FILE_OPEN_H
#define IMAGELIB_FILE_OPEN_H

#include <cstdio>
#include <string>

namespace imagelib_detail {

// std::fopen, except on Windows, where the narrow functions read a path in the ANSI code page:
// there the path is converted from UTF-8, so that names in any language open. A path that is not
// valid UTF-8 goes to std::fopen as it stands.
std::FILE* open_file(const char* path, const char* mode);

#if defined(_WIN32)
// path in UTF-16; empty when it is not valid UTF-8 (or is empty).
std::wstring wide_path(const char* path);
#endif

}  // namespace imagelib_detail

#endif
