// SPDX-License-Identifier: MIT
// Replacing an output file whole: the new bytes go to a temporary file beside the target, which
// takes the target's place only once complete, keeping its permissions. Internal to the library.
#ifndef IMAGELIB_PLATFORM_REPLACE_FILE_H
#define IMAGELIB_PLATFORM_REPLACE_FILE_H

#include <cstdio>
#include <string>

namespace imagelib_detail {

struct FileReplacement {
  std::FILE* stream = nullptr;  // the temporary file, open for writing, unbuffered
  std::string temporary;        // its path, and the path of the file it replaces
  std::string target;
  bool exists = false;  // whether the target exists
};

// Opens a temporary file for path's target (a symbolic link is followed, and stays a link).
// False, having made nothing, when the target cannot be replaced that way: anything but a regular
// file that the user owns, may write and that has no other name (a device, a pipe, a file of
// another owner or with a hard link), a directory that takes no new file, or a system without
// the means. The caller then writes the target directly.
bool replacement_begin(const char* path, FileReplacement* replacement);

enum class Replaced {
  done,      // the target now holds the new bytes
  failed,    // the bytes could not be written whole; the target is as it was
  not_done,  // the new file could not take the target's place; the target is as it was
};

// Closes the temporary file and, when written is true and the close succeeds, puts it in the
// target's place. The temporary file is gone afterwards, whatever the outcome.
Replaced replacement_finish(FileReplacement* replacement, bool written);

// Closes the temporary file ahead of replacement_finish, for a caller that must know every file
// of a set is complete before any of them takes its target's place; false when the close fails.
// replacement_finish then only moves or removes it.
bool replacement_close(FileReplacement* replacement);

}  // namespace imagelib_detail

#endif
