// SPDX-License-Identifier: MIT
// The commands take their arguments as UTF-8 text, the encoding the library reads paths in.
// Windows hands a program its arguments in UTF-16 (wmain); other systems hand over bytes, which
// the commands use as they stand.
#ifndef NOISE_UTF8_ARGUMENTS_H
#define NOISE_UTF8_ARGUMENTS_H

#if defined(_WIN32)
#include <string>
#include <vector>

struct Utf8Arguments {
  std::vector<std::string> text;
  std::vector<char*> argv;  // into text, ended by a null pointer as main's is
};

// A UTF-16 unit that pairs with no other (possible in Windows names) becomes U+FFFD.
Utf8Arguments utf8_arguments(int argc, const wchar_t* const* argv);
#endif

#endif
