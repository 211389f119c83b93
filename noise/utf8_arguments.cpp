// SPDX-License-Identifier: MIT
#include "noise/utf8_arguments.h"

#if defined(_WIN32)
#include "imagelib/platform/windows.h"

#include <climits>
#include <cwchar>
#include <utility>

Utf8Arguments utf8_arguments(int argc, const wchar_t* const* argv) {
  Utf8Arguments arguments;
  for (int i = 0; i < argc; ++i) {
    const size_t units = std::wcslen(argv[i]);
    std::string text;
    if (units > 0 && units <= INT_MAX / 4) {
      const int length = static_cast<int>(units);
      // At most three bytes per UTF-16 unit.
      text.resize(units * 3);
      const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], length, text.data(),
                                            static_cast<int>(text.size()), nullptr, nullptr);
      text.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
    }
    arguments.text.push_back(std::move(text));
  }
  for (std::string& text : arguments.text) {
    arguments.argv.push_back(text.data());
  }
  arguments.argv.push_back(nullptr);
  return arguments;
}
#endif
