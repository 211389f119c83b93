// SPDX-License-Identifier: MIT
// The Windows API as the library and the commands use it: without the rarely used parts, and
// without the min and max macros that would clash with the standard library's. Windows only.
#ifndef IMAGELIB_PLATFORM_WINDOWS_H
#define IMAGELIB_PLATFORM_WINDOWS_H

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX 1
#include <windows.h>

#endif
