// imagelib: greyscale images of unsigned 8-bit pixels, read from and written to PNM files.
//
// An image is a plain record; whoever holds the pointer owns it and releases it with
// freeimage. Failures the caller can handle print one line on standard output and return
// null; unrecoverable ones end the process (sys_abort, status 2).
//
// Reading a long text raster from a regular file and writing a long text start one helper thread
// for the call and join it before returning (builds without threads, such as wasm32, run the same
// work on the caller's thread). The library is not meant for use from several threads at once.
#ifndef IMAGELIB_LIB_H
#define IMAGELIB_LIB_H

#include <cstdint>
#include <cstdio>

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

// Origin taken from the last "#origin" comment the reader met; Input_PBM hands it to the image
// it creates and then sets both back to 0.
extern int32_t PBM_SE_ORIGIN_ROW;
extern int32_t PBM_SE_ORIGIN_COL;

// Image record and storage. newimage takes four kinds of allocation from std::malloc: the record,
// its dims block, the row table and one per row; a size that twice over would not fit in the
// machine's memory is refused as out of storage.
Image* newimage(int32_t rows, int32_t cols);
void freeimage(Image* image);
void CopyVarImage(Image** destination, Image** source);
void copy(Image** destination, Image* source);
int range(const Image* image, int32_t row, int32_t col);
[[noreturn]] void sys_abort(int code, const char* message);

// PNM files. Input_PBM reads classes P1, P2, P4 and P5 with a maximum of at most 255, never
// applying it: a bitmap's pixels are its bits, 0 and 1. Output_PBM always writes P2 with maximum
// 255; it replaces a file the user owns only once the new one is complete.
Image* Input_PBM(const char* path);
Image* Output_PBM(Image* image, const char* path);

// The reader's steps, on an open stream and without printing or ending the process, for callers
// that read from memory (fmemopen) or want the outcome as a value.
enum class PnmStatus {
  ok,
  not_pnm,     // no magic line "P1" to "P6"
  bad_header,  // a header number missing, cut off by the end of the file, or too large
  read_error,  // the stream reported an error (not an end of file), or the file cannot be opened
  colour,      // classes 3 and 6; the header is read in full
  too_deep,    // a greymap whose maximum is above 255; the header is read in full
  no_storage,  // pbm_read_file only: newimage refused the size
  sync_error,  // pbm_read_file only: a binary raster could not be read
};

struct PnmHeader {
  int32_t pnm_class;  // the magic's digit, 1 to 6
  int32_t cols;
  int32_t rows;
  int32_t maxval;  // 1 for classes 1 and 4
};

// Reads the header and leaves the stream at the first byte of the raster. Comment lines may set
// the pending origin.
PnmStatus pbm_read_header(std::FILE* in, PnmHeader* header);
// Fills every pixel of image (sized header->rows x header->cols) in row-major order. A raster
// that ends early repeats the last value read (0 if none); that is not an error. A greymap whose
// maximum is above 255 is refused (too_deep) without reading.
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
