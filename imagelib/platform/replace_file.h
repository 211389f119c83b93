// SPDX-License-Identifier: MIT
// Replacing an output file whole: the new bytes go to a temporary file beside the target, which
// takes the target's place only once complete, keeping its permissions. Internal to the library.
#ifndef IMAGELIB_PLATFORM_REPLACE_FILE_H
#define IMAGELIB_PLATFORM_REPLACE_FILE_H

#include <cstdio>
#include <string>

namespace imagelib_detail {

// Why a target may be neither replaced nor written in place.
enum class Refusal {
  none,        // it may be written in place
  open,        // it may not be written at all ("Can't open output file.")
  attributes,  // its ACL or extended attributes cannot be carried over to the new file
};

struct FileReplacement {
  std::FILE* stream = nullptr;  // the temporary file, open for writing, unbuffered
  std::string temporary;        // its path, and the path of the file it replaces
  std::string target;
  bool exists = false;  // whether the target exists
  // POSIX systems: the directory both files live in and their names there; AT_FDCWD with the
  // whole paths where directories cannot be held open.
  int directory = -1;
  std::string temporary_name;
  std::string target_name;
  int slot = -1;  // the temporary file's entry in the list removed by signals and at exit
  Refusal refusal = Refusal::none;  // set when replacement_begin returns false
};

// Opens a temporary file for path's target: a symbolic link is followed (and stays a link), also
// one that names no file yet, whose file is then made. The temporary file has a short name of its
// own, so any name that can be written can be replaced.
//
// False, having made nothing, when the target cannot be replaced that way. With refusal none the
// caller writes the target directly: anything but a regular file that the user owns and that has
// no other name (a device, a pipe, a file of another owner or with a hard link), an existing file
// in a directory that takes no new file, or a system without the means. Otherwise the target is
// not to be written at all: the system refuses to open it for writing (through a link, say), a
// link to no file in a shared sticky directory belongs to someone else, or the attributes of the
// file cannot be kept.
bool replacement_begin(const char* path, FileReplacement* replacement);

enum class Replaced {
  done,      // the target now holds the new bytes
  failed,    // the bytes could not be written whole or put in place; the target is as it was
  not_done,  // the new file could not take an existing target's place; the target is as it was
};

// Closes the temporary file. True when written is true and the close succeeds; otherwise the
// temporary file is removed.
bool replacement_close(FileReplacement* replacement, bool written);
// Puts the closed temporary file in the target's place. The temporary file is gone afterwards,
// whatever the outcome. Several replacements that must land together are each closed first and
// then committed.
Replaced replacement_commit(FileReplacement* replacement);
// Removes the temporary file, closing it first if it is open; for a run that gives up.
void replacement_abandon(FileReplacement* replacement);
// replacement_close, then replacement_commit.
Replaced replacement_finish(FileReplacement* replacement, bool written);

// Makes a new file at path for writing, removing any file or link of that name first and never
// following a link: the file is created exclusively. Null when it cannot be made.
std::FILE* create_file_afresh(const char* path);

}  // namespace imagelib_detail

#endif
