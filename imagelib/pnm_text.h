// SPDX-License-Identifier: MIT
// The PNM reader's text: "%d" values and the rasters made of them (classes 1 and 2). Internal to
// the library.
#ifndef IMAGELIB_PNM_TEXT_H
#define IMAGELIB_PNM_TEXT_H

#include <cstdint>
#include <string_view>

#include "imagelib/lib.h"

namespace imagelib_detail {

inline bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// The C locale's white space, as the "%d" conversion skips it.
inline bool is_c_space(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Up to count "%d" values from text, one after the other; returns how many there were before the
// text ended or held something else.
int scan_ints(std::string_view text, int32_t* values, int count);

// An origin's text, "<col> <row>" as the "#origin" comment and the PNG "origin" text give it:
// the first number sets the column, a second the row; the header records which were given.
void scan_origin(std::string_view text, PnmHeader* header);

// Class 1: one character per pixel, "0" or "1". Any other character but white space ends the
// raster, and the pixels after it repeat the last value; so does a run of white space of more than
// 1 MiB.
ImageStatus read_bitmap_raster(ByteSource* in, Image* image);
// Class 2: "%d" integers, each pixel keeping the low 8 bits of its value. A raster that stops
// early repeats the last value read. A run of more than 1 MiB of white space, or of digits (no
// pixel then), stops it too.
ImageStatus read_value_raster(ByteSource* in, Image* image);

}  // namespace imagelib_detail

#endif
