#include <sys/types.h>
#if __has_include(<unistd.h>)
#include <unistd.h>
#endif
// Replacing a file whole needs POSIX file ownership and modes. Some systems (MinGW) ship a
// unistd.h without them, and do not claim POSIX.
#if defined(_POSIX_VERSION)
#include <fcntl.h>
#include <sys/stat.h>
#endif
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX 1
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "imagelib/file_open.h"
#include "imagelib/lib.h"
#include "imagelib/value_text.h"
#include "imagelib/worker.h"

namespace {

// The text is written in pieces of this size, each ending where the file reaches a multiple of
// it: few system calls, and whole blocks of the file handed over at a time. Fuzzing builds make
// pieces small, so that small images fill several.
#ifdef IMAGELIB_SMALL_BUFFERS
constexpr size_t kPiece = 61;
#else
constexpr size_t kPiece = size_t{1} << 20;
#endif

// Room kept past the end of a piece for one call of the value writers.
constexpr size_t kWriterRoom = imagelib_detail::kMaxLineText + imagelib_detail::kMaxOvershoot;

struct FreeDeleter {
  void operator()(char* memory) const { std::free(memory); }
};
using TextBuffer = std::unique_ptr<char, FreeDeleter>;

TextBuffer text_buffer(size_t size) {
  return TextBuffer(static_cast<char*>(std::malloc(size)));
}

// A shorter text gets a buffer that holds it whole: a value takes at most 4 bytes and a line
// break 1, once per value at most. A longer one gets two pieces' room where there are threads, one
// for each thread's bands (see write_bands).
size_t text_size(const ImageDims& dims) {
  const uint64_t pixels = static_cast<uint64_t>(dims.rows) * static_cast<uint64_t>(dims.cols);
  if (pixels >= kPiece) {
    return (imagelib_detail::threads_available() ? 2 : 1) * (kPiece + kWriterRoom);
  }
  return static_cast<size_t>(
      std::min<uint64_t>(5 * pixels + 2 * kWriterRoom, kPiece + kWriterRoom));
}

// Appends the text of pixels [from, to), taken row after row, at *text. The line-break count
// runs on across rows, so it starts from the pixel's place in the whole image.
void format_band(const Image* image, uint64_t from, uint64_t to, int32_t per_line,
                 imagelib_detail::ValueWriter write_values, char** text, const char* room_end) {
  const auto cols = static_cast<uint64_t>(image->dims->cols);
  imagelib_detail::TextCursor cursor{nullptr, per_line - static_cast<int32_t>(from % per_line),
                                     *text};
  while (from < to) {
    const uint64_t col = from % cols;
    const uint64_t n = std::min(to - from, cols - col);
    cursor.pixels = image->pixels[from / cols] + col;
    const unsigned char* const end = cursor.pixels + n;
    while (cursor.pixels < end) {
      write_values(&cursor, end, per_line, room_end);
    }
    from += n;
  }
  *text = cursor.text;
}

// The pixels are cut into bands whose text fits half the buffer. This thread formats the even
// bands into one half and the helper the odd ones into the other; each writes its band once the
// band before it has been written, and formats its next band while the other thread writes.
bool write_bands(std::FILE* out, const Image* image, char* const start, size_t half,
                 int32_t per_line, imagelib_detail::ValueWriter write_values,
                 imagelib_detail::Worker& worker) {
  const uint64_t pixels =
      static_cast<uint64_t>(image->dims->rows) * static_cast<uint64_t>(image->dims->cols);
  const uint64_t band = (half - kWriterRoom) / 5;
  const uint64_t bands = (pixels + band - 1) / band;
  imagelib_detail::TurnOrder turns;
  const auto take_bands = [&](uint64_t first, char* const text) {
    for (uint64_t k = first; k < bands; k += 2) {
      char* end = text;
      format_band(image, k * band, std::min(pixels, (k + 1) * band), per_line, write_values, &end,
                  text + half - kWriterRoom);
      if (k + 1 == bands) {
        *end++ = '\n';
      }
      if (!turns.wait_for(k)) {
        return;
      }
      const auto used = static_cast<size_t>(end - text);
      turns.finish(std::fwrite(text, 1, used, out) != used);
    }
  };
  worker.start([&] { take_bands(1, start + half); });
  take_bands(0, start);
  worker.wait();
  return turns.wait_for(bands) && std::fflush(out) == 0 && std::ferror(out) == 0;
}

// Writes image as pbm_write does, through a buffer of text_size bytes.
bool write_text(std::FILE* out, const Image* image, char* const start, size_t size) {
  const ImageDims& dims = *image->dims;
  // A line break follows every (limit + 1)-th value; the count runs on across image rows.
  const int32_t per_line = dims.cols > 20 ? 21 : dims.cols;
  if (std::fprintf(out, "P2\n#origin %d %d\n%d %d %d\n", dims.origin_col, dims.origin_row,
                   dims.cols, dims.rows, 255) < 0) {
    return false;
  }
  const imagelib_detail::ValueWriter write_values =
      imagelib_detail::value_writer(imagelib_detail::simd_tier());
  if (size >= 2 * (kPiece + kWriterRoom)) {
    imagelib_detail::Worker worker;
    if (worker.has_thread()) {
      return write_bands(out, image, start, size / 2, per_line, write_values, worker);
    }
  }
  // The first piece ends where the file reaches a multiple of kPiece (a stream that cannot tell its
  // position counts from zero).
  const off_t position = ftello(out);
  size_t piece = std::min(kPiece - static_cast<size_t>(position < 0 ? 0 : position % kPiece),
                          size - kWriterRoom);
  imagelib_detail::TextCursor cursor{nullptr, per_line, start};
  for (int32_t row = 0; row < dims.rows; ++row) {
    cursor.pixels = image->pixels[row];
    const unsigned char* const row_end = cursor.pixels + dims.cols;
    while (cursor.pixels < row_end) {
      write_values(&cursor, row_end, per_line, start + piece);
      if (cursor.text >= start + piece) {
        if (std::fwrite(start, 1, piece, out) != piece) {
          return false;
        }
        // What the last stretch wrote past the piece begins the next one.
        const auto rest = static_cast<size_t>(cursor.text - (start + piece));
        std::memmove(start, start + piece, rest);
        cursor.text = start + rest;
        piece = std::min(kPiece, size - kWriterRoom);
      }
    }
  }
  char* text = cursor.text;
  *text++ = '\n';
  const auto used = static_cast<size_t>(text - start);
  return std::fwrite(start, 1, used, out) == used && std::fflush(out) == 0 && std::ferror(out) == 0;
}

enum class Replaced { done, failed, not_tried };

#if defined(_POSIX_VERSION)
// Emscripten's file mask is its own (0777 at start), not the host's, whose files it writes: a new
// file's mode is left to the host, by creating it directly.
#if defined(__EMSCRIPTEN__)
constexpr bool kHostFileMask = false;
#else
constexpr bool kHostFileMask = true;
#endif

// A file that may be written and has no other names is replaced whole (if the new file gets its
// owner, see replace_whole): a link would lose what the rename cannot carry over.
bool replaceable(const char* path, const struct stat& info) {
  if (!S_ISREG(info.st_mode) || info.st_nlink != 1) {
    return false;
  }
  // The same test the direct write would meet, without truncating anything.
  const int fd = open(path, O_WRONLY | O_NOCTTY);
  return fd >= 0 && close(fd) == 0;
}

// Writes the text to a new file beside the target, then renames it over the target, so that a
// failed run (no memory, a full disk, a file size limit) leaves an old file as it was. not_tried
// when that cannot be done: the caller then writes directly. A symbolic link is followed, and
// stays a link.
Replaced replace_whole(const Image* image, const char* path, char* buffer, size_t size) {
  std::string target = path;
  struct stat info {};
  const bool exists = lstat(path, &info) == 0;
  if ((!exists && errno != ENOENT) || (!exists && !kHostFileMask)) {
    return Replaced::not_tried;
  }
  if (exists && S_ISLNK(info.st_mode)) {
    const std::unique_ptr<char, FreeDeleter> resolved(realpath(path, nullptr));
    if (resolved == nullptr || stat(resolved.get(), &info) != 0) {
      return Replaced::not_tried;
    }
    target = resolved.get();
  }
  if (exists && !replaceable(target.c_str(), info)) {
    return Replaced::not_tried;
  }
  const size_t slash = target.rfind('/');
  std::string temporary = target.substr(0, slash == std::string::npos ? 0 : slash + 1) + "." +
                          target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    return Replaced::not_tried;
  }
  mode_t mode = 0;
  if (exists) {
    mode = info.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  struct stat made {};
  // A file of another owner is written in place: the new file would change its owner. The owner
  // is compared with the new file's, as the host gives it (emscripten's geteuid is always 0). The
  // group next: changing it may clear the set-group-ID bit that fchmod then sets.
  const bool owner_and_group_kept =
      !exists ||
      (fstat(fd, &made) == 0 && made.st_uid == info.st_uid &&
       (made.st_gid == info.st_gid || fchown(fd, static_cast<uid_t>(-1), info.st_gid) == 0));
  std::FILE* out = owner_and_group_kept && fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (out == nullptr) {
    close(fd);
    unlink(temporary.c_str());
    return Replaced::not_tried;
  }
  // NOLINTNEXTLINE(cert-err33-c): the text is buffered in large pieces already.
  std::setvbuf(out, nullptr, _IONBF, 0);
  const bool written = write_text(out, image, buffer, size);
  if (std::fclose(out) != 0 || !written) {
    unlink(temporary.c_str());
    return Replaced::failed;
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return Replaced::not_tried;
  }
  return Replaced::done;
}
#elif defined(_WIN32)
// The target is absent (true, *exists false), or a file on disk with no other names that may be
// written (true): anything else, a device (NUL, CON), a directory, a link (a reparse point) or a
// file with a second name, is written in place.
bool replaceable(const std::wstring& target, bool* exists) {
  const HANDLE handle = CreateFileW(target.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *exists = false;
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  *exists = true;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool plain =
      GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) != 0 &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
      info.nNumberOfLinks == 1;
  CloseHandle(handle);
  return plain;
}

// As on POSIX systems: the text goes to a new file beside the target, which then takes the
// target's place. ReplaceFileW keeps the old file's attributes, security and creation time.
Replaced replace_whole(const Image* image, const char* path, char* buffer, size_t size) {
  const std::wstring target = imagelib_detail::wide_path(path);
  bool exists = false;
  if (target.empty() || !replaceable(target, &exists)) {
    return Replaced::not_tried;
  }
  const size_t separator = target.find_last_of(L"/\\:");
  const size_t name = separator == std::wstring::npos ? 0 : separator + 1;
  // No two running processes share an id, and a name left by an earlier one is skipped.
  const std::wstring stem = target.substr(0, name) + L"." + target.substr(name) + L"." +
                            std::to_wstring(GetCurrentProcessId()) + L"-";
  std::wstring temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = stem + std::to_wstring(attempt);
    fd =
        _wopen(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno != EEXIST) {
      return Replaced::not_tried;
    }
  }
  std::FILE* out = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (out == nullptr) {
    if (fd >= 0) {
      _close(fd);
      _wunlink(temporary.c_str());
    }
    return Replaced::not_tried;
  }
  // NOLINTNEXTLINE(cert-err33-c): the text is buffered in large pieces already.
  std::setvbuf(out, nullptr, _IONBF, 0);
  const bool written = write_text(out, image, buffer, size);
  if (std::fclose(out) != 0 || !written) {
    _wunlink(temporary.c_str());
    return Replaced::failed;
  }
  const bool replaced =
      (exists && ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0) ||
      MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  if (!replaced) {
    _wunlink(temporary.c_str());
    return Replaced::not_tried;
  }
  return Replaced::done;
}
#else
Replaced replace_whole(const Image*, const char*, char*, size_t) {
  return Replaced::not_tried;
}
#endif

}  // namespace

bool pbm_write(std::FILE* out, const Image* image) {
  const size_t size = text_size(*image->dims);
  const TextBuffer buffer = text_buffer(size);
  return buffer != nullptr && write_text(out, image, buffer.get(), size);
}

Image* Output_PBM(Image* image, const char* path) {
  // Everything the writing needs is allocated before any output is opened, so that running out
  // of memory cannot leave an old file truncated.
  const size_t size = text_size(*image->dims);
  const TextBuffer buffer = text_buffer(size);
  if (buffer == nullptr) {
    sys_abort(0, "Can't write output file.");
  }
  switch (replace_whole(image, path, buffer.get(), size)) {
    case Replaced::done:
      return image;
    case Replaced::failed:
      sys_abort(0, "Can't write output file.");
    case Replaced::not_tried:
      break;
  }
  // A device, a pipe, a file with other names or of another owner, or a directory that takes no
  // new file: written in place.
  // Binary, so that the file has the same bytes on every platform (LF line ends on Windows too).
  std::FILE* out = imagelib_detail::open_file(path, "wb");
  if (out == nullptr) {
    sys_abort(0, "Can't open output file.");
  }
  // The text is buffered in large pieces already; the stream's own buffer would only split each
  // piece into two system calls. If it cannot be turned off, the stream stays buffered.
  // NOLINTNEXTLINE(cert-err33-c): either way the output is the same.
  std::setvbuf(out, nullptr, _IONBF, 0);
  const bool written = write_text(out, image, buffer.get(), size);
  if (std::fclose(out) != 0 || !written) {
    sys_abort(0, "Can't write output file.");
  }
  return image;
}
