// SPDX-License-Identifier: MIT
#include "noise/output_target.h"

#include <csignal>
#include <cstring>

#include "imagelib/pbm_input.h"

#if __has_include(<unistd.h>)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include "imagelib/platform/windows.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "imagelib/platform/file_open.h"
#endif

void ignore_write_signals() {
#if defined(SIGPIPE)
  // NOLINTNEXTLINE(cert-err33-c): without it, a closed pipe still ends the run, as before.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#if defined(SIGXFSZ)
  // NOLINTNEXTLINE(cert-err33-c): likewise for a file size limit.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

// Device and inode name a file on POSIX systems; Windows gives every file inode 0, and has its
// own identity below.
#if defined(_POSIX_VERSION)
namespace {

// The descriptor the image goes through: standard output's own, or for a file opened to append
// (which would put the image after the old bytes) the path opened afresh. Either way a file is
// written from its start.
// Device and inode name a file.
bool same_file(const struct stat& a, const struct stat& b) {
  return ((a.st_dev ^ b.st_dev) | (a.st_ino ^ b.st_ino)) == 0;
}

int image_descriptor(const char* output_path, const struct stat& out_info) {
  if (!S_ISREG(out_info.st_mode)) {
    return dup(STDOUT_FILENO);
  }
  const int flags = fcntl(STDOUT_FILENO, F_GETFL);
  const int fd = flags >= 0 && (flags & O_APPEND) == 0
                     ? dup(STDOUT_FILENO)
                     : open(output_path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  // A path opened again must still name standard output's file.
  struct stat info {};
  const bool usable =
      fd >= 0 && fstat(fd, &info) == 0 && same_file(info, out_info) && lseek(fd, 0, SEEK_SET) == 0;
  if (!usable && fd >= 0) {
    close(fd);
  }
  return usable ? fd : -1;
}

}  // namespace

std::FILE* claim_standard_output(const char* output_path) {
  struct stat out_info {};
  struct stat path_info {};
  if (fstat(STDOUT_FILENO, &out_info) != 0 || stat(output_path, &path_info) != 0 ||
      !same_file(out_info, path_info)) {
    return nullptr;
  }
  if (!S_ISREG(out_info.st_mode) && !S_ISFIFO(out_info.st_mode) && !S_ISSOCK(out_info.st_mode)) {
    return nullptr;
  }
  const int image_fd = image_descriptor(output_path, out_info);
  if (image_fd < 0) {
    return nullptr;
  }
  std::FILE* image = fdopen(image_fd, "w");
  if (image == nullptr) {
    close(image_fd);
    return nullptr;
  }
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    // NOLINTNEXTLINE(cert-err33-c): nothing was written through it.
    std::fclose(image);
    return nullptr;
  }
  // The messages now share standard error; unbuffered, they keep their order with its own lines.
  // NOLINTNEXTLINE(cert-err33-c): a buffered stdout only delays them.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return image;
}

bool finish_standard_output(std::FILE* image) {
  const int fd = fileno(image);
  struct stat info {};
  bool cut = std::fflush(image) == 0 && fstat(fd, &info) == 0;
  if (cut && S_ISREG(info.st_mode)) {
    // Old bytes past the image's end go: the file holds the image alone.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    cut = end >= 0 && ftruncate(fd, end) == 0;
  }
  return std::fclose(image) == 0 && cut;
}
#elif defined(_WIN32)
namespace {

// Windows names a file by its volume's serial number and its identifier there.
struct FileIdentity {
  FILE_ID_INFO id;
  FILE_BASIC_INFO times;
  FILE_STANDARD_INFO size;
};

bool file_identity(HANDLE handle, FileIdentity* identity) {
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) {
    return false;
  }
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &identity->id, sizeof identity->id) == 0) {
    // Before Windows 8: the serial number and the 64-bit file index.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info) == 0) {
      return false;
    }
    identity->id = FILE_ID_INFO{};
    identity->id.VolumeSerialNumber = info.dwVolumeSerialNumber;
    const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    std::memcpy(identity->id.FileId.Identifier, &index, sizeof index);
  }
  return GetFileInformationByHandleEx(handle, FileBasicInfo, &identity->times,
                                      sizeof identity->times) != 0 &&
         GetFileInformationByHandleEx(handle, FileStandardInfo, &identity->size,
                                      sizeof identity->size) != 0;
}

// Wine gives the handles it makes for standard output no volume serial number (0): then the
// identifier must agree, and so must the times and the size.
bool same_file(const FileIdentity& a, const FileIdentity& b) {
  if (std::memcmp(&a.id.FileId, &b.id.FileId, sizeof a.id.FileId) != 0) {
    return false;
  }
  if (a.id.VolumeSerialNumber != 0 && b.id.VolumeSerialNumber != 0) {
    return a.id.VolumeSerialNumber == b.id.VolumeSerialNumber;
  }
  return a.times.CreationTime.QuadPart == b.times.CreationTime.QuadPart &&
         a.times.LastWriteTime.QuadPart == b.times.LastWriteTime.QuadPart &&
         a.size.EndOfFile.QuadPart == b.size.EndOfFile.QuadPart;
}

bool names_standard_output(const char* output_path) {
  FileIdentity out_identity{};
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the C library hands out handles as integers.
  if (!file_identity(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))), &out_identity)) {
    return false;
  }
  const std::wstring wide = imagelib_detail::wide_path(output_path);
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // No access asked: the file is only looked at.
  const HANDLE path = wide.empty() ? CreateFileA(output_path, 0, kShareAll, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                                   : CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  FileIdentity path_identity{};
  const bool same = file_identity(path, &path_identity) && same_file(out_identity, path_identity);
  if (path != INVALID_HANDLE_VALUE) {
    CloseHandle(path);
  }
  return same;
}

}  // namespace

// Only a file on disk can be named by a path here: a pipe has no name a user would give.
std::FILE* claim_standard_output(const char* output_path) {
  if (!names_standard_output(output_path)) {
    return nullptr;
  }
  const int image_fd = _dup(_fileno(stdout));
  if (image_fd < 0) {
    return nullptr;
  }
  // Binary, so that the image has the same bytes as a file written by name, from the file's start.
  std::FILE* image = _setmode(image_fd, _O_BINARY) < 0 || _lseeki64(image_fd, 0, SEEK_SET) != 0
                         ? nullptr
                         : _fdopen(image_fd, "wb");
  if (image == nullptr || _dup2(_fileno(stderr), _fileno(stdout)) < 0) {
    if (image != nullptr) {
      // NOLINTNEXTLINE(cert-err33-c): nothing was written through it.
      std::fclose(image);
    } else {
      _close(image_fd);
    }
    return nullptr;
  }
  // NOLINTNEXTLINE(cert-err33-c): a buffered stdout only delays the messages.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return image;
}

bool finish_standard_output(std::FILE* image) {
  const int fd = _fileno(image);
  bool cut = std::fflush(image) == 0;
  // Only a file longer than the image needs its size cut. Wine cannot cut a file a Unix shell
  // opened: such a run fails rather than leave old bytes after the image.
  const int64_t end = cut ? _telli64(fd) : -1;
  const int64_t length = cut ? _filelengthi64(fd) : -1;
  cut = end >= 0 && length >= 0 && (length <= end || _chsize_s(fd, end) == 0);
  return std::fclose(image) == 0 && cut;
}
#else
std::FILE* claim_standard_output(const char*) {
  return nullptr;
}

bool finish_standard_output(std::FILE* image) {
  return std::fclose(image) == 0;
}
#endif

bool names_standard_stream(const char* path) {
  return std::strcmp(path, "-") == 0;
}

#if defined(_POSIX_VERSION)
std::FILE* claim_standard_output_stream() {
  const int image_fd = dup(STDOUT_FILENO);
  if (image_fd < 0) {
    return nullptr;
  }
  // fdopen keeps the descriptor's own mode: "w" neither truncates nor undoes O_APPEND.
  std::FILE* image = fdopen(image_fd, "w");
  if (image == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    if (image != nullptr) {
      // NOLINTNEXTLINE(cert-err33-c): nothing was written through it.
      std::fclose(image);
    } else {
      close(image_fd);
    }
    return nullptr;
  }
  // NOLINTNEXTLINE(cert-err33-c): a buffered stdout only delays the messages.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return image;
}

std::FILE* standard_input_stream() {
  return stdin;
}
#elif defined(_WIN32)
std::FILE* claim_standard_output_stream() {
  const int image_fd = _dup(_fileno(stdout));
  if (image_fd < 0) {
    return nullptr;
  }
  std::FILE* image = _setmode(image_fd, _O_BINARY) < 0 ? nullptr : _fdopen(image_fd, "wb");
  if (image == nullptr || _dup2(_fileno(stderr), _fileno(stdout)) < 0) {
    if (image != nullptr) {
      // NOLINTNEXTLINE(cert-err33-c): nothing was written through it.
      std::fclose(image);
    } else {
      _close(image_fd);
    }
    return nullptr;
  }
  // NOLINTNEXTLINE(cert-err33-c): a buffered stdout only delays the messages.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return image;
}

std::FILE* standard_input_stream() {
  // Binary, so that a raw raster or a PNG file comes through byte for byte.
  return _setmode(_fileno(stdin), _O_BINARY) < 0 ? nullptr : stdin;
}
#else
// Without a way to part the two streams, the image and the messages share standard output.
std::FILE* claim_standard_output_stream() {
  return stdout;
}

std::FILE* standard_input_stream() {
  return stdin;
}
#endif

bool close_image_stream(std::FILE* stream, bool cut) {
  if (stream == stdout) {
    return std::fflush(stream) == 0;
  }
  return cut ? finish_standard_output(stream) : std::fclose(stream) == 0;
}

void write_output(Image* image, const char* path, std::FILE* stream, bool cut, ImageFormat format) {
  if (stream == nullptr) {
    imagelib_detail::output_image(image, path, format);
    return;
  }
  const ImageStatus status = imagelib_detail::write_image_stream(stream, image, format);
  const bool closed = close_image_stream(stream, cut);
  if (status != ImageStatus::ok || !closed) {
    imagelib_detail::cannot_write(status);
  }
}
