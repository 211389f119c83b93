// SPDX-License-Identifier: MIT
// Where funcao_exe's image goes when its output path is the file standard output already is.
#ifndef NOISE_OUTPUT_TARGET_H
#define NOISE_OUTPUT_TARGET_H

#include <cstdio>

#include "imagelib/lib.h"

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

// Whether a path argument is "-", which names standard input as an input and standard output as
// an output.
bool names_standard_stream(const char* path);

// "-" as the output: standard output carries the image alone, as claim_standard_output arranges
// it, whatever standard output is (a terminal too). The stream keeps its own mode, so an append
// redirection appends; on Windows it is switched to binary. Null when it cannot be had.
std::FILE* claim_standard_output_stream();

// "-" as the input: standard input, switched to binary on Windows.
std::FILE* standard_input_stream();

// Ends the image's stream: finish_standard_output for one claim_standard_output gave (cut true),
// a plain close for "-", which keeps the stream's own mode, and only a flush for standard output
// itself where the streams cannot be parted (the messages still follow on it).
bool close_image_stream(std::FILE* stream, bool cut);

// The command's one way of writing an image: to stream in format (and ending it as
// close_image_stream does) when stream is not null, else to the file at path as Output_PBM
// writes it. A failure ends the process through sys_abort.
void write_output(Image* image, const char* path, std::FILE* stream, bool cut, ImageFormat format);

#endif
