// SPDX-License-Identifier: MIT
// imagelib: greyscale images of unsigned 8-bit pixels, read from and written to PNM and PNG
// files.
//
// The library has two layers.
//
// The core makes images, reads them from a byte source (memory, an open stream or a path) and
// writes them to a byte sink (a stream or memory). It works on the caller's thread, reports
// every outcome as an ImageStatus (image_strerror gives its text), prints nothing, never ends the
// process and reads nothing of the system but the files it is given. Its only state is the
// generator's seed, so two threads may read or write two different images at once.
//
// Over it stand the classic calls: newimage, Input_PBM, Output_PBM and the utilities. They print
// one line on standard output for a failure the caller can handle and return null; failures they
// cannot recover from end the process (sys_abort, status 2). They share the reader's pending
// origin, so they are meant for one thread.
#ifndef IMAGELIB_LIB_H
#define IMAGELIB_LIB_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

struct ImageDims {
  int32_t rows;
  int32_t cols;
  int32_t origin_row;
  int32_t origin_col;
};

// pixels[row][col]; each row is its own allocation of cols bytes.
struct Image {
  ImageDims* dims;
  unsigned char** pixels;
};

// The core's outcomes.
enum class ImageStatus {
  ok,
  not_pnm,      // no magic line "P1" to "P6"
  bad_header,   // a header number missing, cut off by the end of the file, or too large
  read_error,   // the file cannot be opened, or the stream reported an error (not an end of file)
  colour,       // classes 3 and 6; the header is read in full
  too_deep,     // a greymap whose maximum is above 255; the header is read in full
  no_storage,   // an allocation failed
  sync_error,   // pbm_read_file only: a binary raster could not be read
  bad_size,     // a negative number of rows or columns
  too_large,    // the image would take more memory than the caller allows
  write_error,  // the sink reported an error
  // PNG files. Each refusal's text names a conversion to 8-bit grey.
  bad_png,        // not a whole, valid PNG file: cut off, a checksum wrong, a chunk out of place
  png_colour,     // colour, or a palette with a colour entry; the header is read in full
  png_alpha,      // grey with an alpha channel; the header is read in full
  png_too_deep,   // 16-bit grey; the header is read in full
  not_supported,  // PNG, in a build without the PNG library
};
using PnmStatus = ImageStatus;

// A status's text, one sentence: "Not a PBM/PGM/PPM file.", "Bad PBM/PGM/PPM header." and so on.
const char* image_strerror(ImageStatus status);

// ---- The core: images ----

// The most bytes a rows x cols image takes from the allocator: the record, its dims, the row
// table, and each row with the allocator's bookkeeping. Exact arithmetic: it cannot overflow.
uint64_t image_bytes(int32_t rows, int32_t cols);

// Makes a rows x cols image with origin (0, 0); its pixels are not set. bad_size for a negative
// size; too_large when image_bytes exceeds limit (UINT64_MAX for no limit) or what the process
// can address; no_storage when an allocation fails, with everything allocated released again.
// Then *failed_row (when not null) names the row that could not be had, or is -1.
ImageStatus image_create(int32_t rows, int32_t cols, uint64_t limit, Image** image,
                         int32_t* failed_row = nullptr);
// Releases every part of image; null is ignored.
void freeimage(Image* image);
// 1 when (row, col) lies inside image, else 0.
int range(const Image* image, int32_t row, int32_t col);

// ---- The core: bytes in and out ----

namespace imagelib_detail {
struct FileCloser {
  void operator()(std::FILE* file) const;
};
}  // namespace imagelib_detail

// Where a reader takes its bytes: a piece of memory, an open stream (read from where it stands),
// or a file the source opened itself and closes when it goes.
struct ByteSource {
  const unsigned char* next = nullptr;  // memory: the bytes not read yet
  const unsigned char* end = nullptr;
  std::FILE* file = nullptr;  // a stream, when set
  std::unique_ptr<std::FILE, imagelib_detail::FileCloser> owned;
  bool failed = false;  // the stream reported an error
};

ByteSource byte_source_memory(const void* data, size_t size);
ByteSource byte_source_file(std::FILE* file);
// Opens path, UTF-8 text on every system, for reading; read_error when it cannot be opened.
ImageStatus byte_source_open(const char* path, ByteSource* source);

// Where a writer puts its bytes: an open stream, or the sink's own memory.
struct ByteSink {
  std::FILE* file = nullptr;         // written to, when set
  std::vector<unsigned char> bytes;  // otherwise the bytes are appended here
  bool failed = false;               // a write failed, or memory for the bytes ran out
};

ByteSink byte_sink_file(std::FILE* file);
ByteSink byte_sink_memory();

// ---- The core: PNM files ----

struct PnmHeader {
  int32_t pnm_class;  // the magic's digit, 1 to 6; 0 for a PNG file
  int32_t cols;
  int32_t rows;
  int32_t maxval;  // 1 for classes 1 and 4
  // What the header's "#origin <col> <row>" comments gave: each number the last comment that
  // held it, and whether one did.
  int32_t origin_col = 0;
  int32_t origin_row = 0;
  bool has_origin_col = false;
  bool has_origin_row = false;
  // PNG files only: bits per sample (per palette index for a palette image), and PNG's colour
  // type. maxval is then 255, the pixels being scaled to 0..255.
  int32_t bit_depth = 0;
  int32_t png_colour_type = 0;
};

// Reads the header and leaves the source at the first byte of the raster. The origin fields are
// filled from the comment lines met, whatever the outcome.
ImageStatus pnm_read_header(ByteSource* in, PnmHeader* header);
// Fills every pixel of image (sized header->rows x header->cols) in row-major order. A raster
// that ends early repeats the last value read (0 if none); that is not an error. A greymap whose
// maximum is above 255 is refused (too_deep) without reading. Pixels keep the values in the file:
// a bitmap's pixels are its bits, 0 and 1.
ImageStatus pnm_read_raster(ByteSource* in, const PnmHeader* header, Image* image);
// The whole file: the header, an image of its size within limit bytes (see image_create) with
// the header's origin, and the raster. *image is null unless the status is ok; *header (when not
// null) holds what the header said.
ImageStatus pnm_read(ByteSource* in, uint64_t limit, Image** image, PnmHeader* header = nullptr);

// Writes image as plain P2 with maximum 255: "P2", "#origin <col> <row>", "<cols> <rows> 255",
// then every pixel as "<value> ", a line break after every 21st value (after every row for
// images at most 20 columns wide), the count running on across rows, and a final line break.
ImageStatus pnm_write_p2(ByteSink* out, const Image* image);
// The most memory pnm_write_p2 takes besides the image and what the sink holds.
constexpr size_t kPnmWriteScratch = (size_t{1} << 18) + 256;

// Writes image as raw P5: "P5", "#origin <col> <row>", "<cols> <rows> 255", each line ended by a
// line break, then one byte per pixel, row by row.
ImageStatus pnm_write_p5(ByteSink* out, const Image* image);

// ---- The core: PNG files, and every format behind one pair of calls ----

enum class ImageFormat { p2, p5, png };

// Whether this build reads and writes PNG (libspng was found when it was built).
bool image_png_supported();

// The format a file is written in when none is asked for: PNG for a name ending in ".png" (in
// any case) where PNG is supported, P2 for every other name.
ImageFormat image_format_for_name(const char* path);

// Reads a PNG file: greyscale of 1, 2, 4 or 8 bits, scaled to 0..255 as PNG defines its samples
// (a 1-bit image gives 0 and 255), or a palette whose entries are all grey, read through it.
// Interlaced files are read too. The origin comes from a tEXt chunk "origin" holding
// "<col> <row>", read as the "#origin" comment is (one number sets the column only). 16-bit
// grey, colour and alpha are refused (png_too_deep, png_colour, png_alpha); a damaged file is
// bad_png; not_supported in a build without PNG. *header as pnm_read fills it, pnm_class 0.
ImageStatus png_read(ByteSource* in, uint64_t limit, Image** image, PnmHeader* header = nullptr);
// Writes image as 8-bit greyscale PNG, not interlaced, with its origin in a tEXt chunk "origin"
// ("<col> <row>", written for every origin, 0 0 included). bad_size for an image without pixels,
// which PNG cannot hold; not_supported in a build without PNG.
ImageStatus png_write(ByteSink* out, const Image* image);

// The writer of format: pnm_write_p2, pnm_write_p5 or png_write.
ImageStatus image_write(ByteSink* out, const Image* image, ImageFormat format);
// Reads a PNM file, or (where supported) a PNG file, told apart by their first byte; otherwise
// as pnm_read. In a build without PNG a PNG file is not_pnm, as before.
ImageStatus image_read(ByteSource* in, uint64_t limit, Image** image, PnmHeader* header = nullptr);

// ---- The classic calls ----

// Origin taken from the last "#origin" comment the reader met; Input_PBM hands it to the image
// it creates and then sets both back to 0. A refused file leaves what its comments set pending.
extern int32_t PBM_SE_ORIGIN_ROW;
extern int32_t PBM_SE_ORIGIN_COL;

// Image record and storage. newimage takes four kinds of allocation from std::malloc: the record,
// its dims block, the row table and one per row; a size that twice over would not fit in the
// machine's memory is refused as out of storage.
Image* newimage(int32_t rows, int32_t cols);
void CopyVarImage(Image** destination, Image** source);
void copy(Image** destination, Image* source);
[[noreturn]] void sys_abort(int code, const char* message);

// PNM files. Input_PBM reads classes P1, P2, P4 and P5 with a maximum of at most 255, never
// applying it: a bitmap's pixels are its bits, 0 and 1. Where the build has PNG it reads PNG files
// too, as png_read does, printing "PNG file size ..." as its class line and a refusal's reason on
// standard output. Output_PBM always writes P2 with maximum 255; it replaces a file the user owns
// only once the new one is complete.
Image* Input_PBM(const char* path);
Image* Output_PBM(Image* image, const char* path);

// The reader's steps on an open stream, as the core's pnm_read_header and pnm_read_raster do
// them, except that pbm_read_header also sets the pending origin from the comments it meets.
PnmStatus pbm_read_header(std::FILE* in, PnmHeader* header);
PnmStatus pbm_read_raster(std::FILE* in, const PnmHeader* header, Image* image);
// Input_PBM without ending the process: prints the same messages (the reason for a refusal on
// standard output, the class line on standard error; nothing more for a colour file) and sets
// *image, null unless the status is ok.
PnmStatus pbm_read_file(const char* path, Image** image);
// Writes image as Output_PBM does; false when a write failed.
bool pbm_write(std::FILE* out, const Image* image);

// Utilities. print_se dumps an image used as a structuring element on standard output (null
// allowed). Display writes the image to "x.tmp" in the current directory, runs the viewer
// "disp" on it through the shell, waits, and removes the file. f2d returns rows pointers to cols
// zero floats each; out of storage (a negative size included) ends the process with status 1.
// The caller releases each row and then the array with std::free.
void print_se(Image* image);
void Display(Image* image);
float** f2d(int32_t rows, int32_t cols);

// Park and Miller's minimal standard generator. seed is its state, 132531 until set; drand32
// steps it and returns seed / 2147483647, in (0, 1) for every state but 0 and +-2147483647,
// which give exactly 1 for ever.
extern int32_t seed;
double drand32();
void srand32(int32_t s);

#endif
