// SPDX-License-Identifier: MIT
// Where funcao_exe's image goes when its output path is the file standard output already is.
#ifndef NOISE_OUTPUT_TARGET_H
#define NOISE_OUTPUT_TARGET_H

#include <cstdio>

// A write that fails, to a pipe whose reader has gone or beyond a file size limit, is reported
// as a failed write instead of ending the process by a signal.
void ignore_write_signals();

// When output_path names the file standard output is (same device and inode, so a pipe counts)
// and that is a regular file, a pipe or a socket, standard output has to carry the image alone:
// from here on, what the command and the library print on standard output goes to standard
// error, and the returned stream writes to the original standard output. A file is written from
// its start whatever the mode it was opened in (a file opened to append is opened again by its
// path). Null otherwise (a terminal, /dev/null, another file) and where the platform cannot tell.
// Call it before anything is printed on standard output.
std::FILE* claim_standard_output(const char* output_path);

// Closes the stream claim_standard_output gave, first cutting a file to the image's length, so
// that no old bytes follow it. False when a write, the cut or the close failed.
bool finish_standard_output(std::FILE* image);

#endif
