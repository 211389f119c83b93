// SPDX-License-Identifier: MIT
// Temporary files that must not outlive the process: a catchable signal that ends it, or an exit
// part way, removes them. Internal to the library, and shared with the commands.
#ifndef IMAGELIB_PLATFORM_TEMPORARY_FILES_H
#define IMAGELIB_PLATFORM_TEMPORARY_FILES_H

namespace imagelib_detail {

// Records the file name in the directory dir (a descriptor, or AT_FDCWD) for removal. Returns its
// slot, or -1 when it cannot be recorded (every slot taken, a name too long, or a system without
// the means); a file that is not recorded is still removed by its owner when a run fails.
int temporary_file_add(int dir, const char* name);
// POSIX systems: creates the new file name in dir exclusively (mode 0600, never through a link)
// for reading and writing, and records it (*slot, as temporary_file_add gives it), with signals
// held in between, so that none can end the process with the file made but not recorded.
// Returns its descriptor, or -1 with errno set.
int temporary_file_create(int dir, const char* name, int* slot);
// The file is in place or gone: it is no longer removed. -1 is ignored.
void temporary_file_drop(int slot);

// For a command: removes the recorded files when the process ends by a catchable signal (SIGINT,
// SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGXCPU, SIGUSR1, SIGUSR2), which then ends it as
// the signal would have, and when it exits. A signal that is ignored stays ignored.
void remove_temporary_files_at_exit();

}  // namespace imagelib_detail

#endif
