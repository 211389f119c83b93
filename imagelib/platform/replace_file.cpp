// SPDX-License-Identifier: MIT
#include "imagelib/platform/replace_file.h"

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
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include "imagelib/platform/windows.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "imagelib/platform/file_open.h"

namespace imagelib_detail {
namespace {

// The new file is written in large pieces already; the stream's own buffer would only split each
// piece into two system calls. If it cannot be turned off, the stream stays buffered.
void unbuffered(std::FILE* stream) {
  // NOLINTNEXTLINE(cert-err33-c): either way the output is the same.
  std::setvbuf(stream, nullptr, _IONBF, 0);
}

}  // namespace

#if defined(_POSIX_VERSION)
namespace {

// Emscripten's file mask is its own (0777 at start), not the host's, whose files it writes: a new
// file's mode is left to the host, by creating it directly.
#if defined(__EMSCRIPTEN__)
constexpr bool kHostFileMask = false;
#else
constexpr bool kHostFileMask = true;
#endif

struct FreeDeleter {
  void operator()(char* memory) const { std::free(memory); }
};

// A file that may be written and has no other names is replaced whole (if the new file gets its
// owner, see replacement_begin): a link would lose what the rename cannot carry over.
bool replaceable(const char* path, const struct stat& info) {
  if (!S_ISREG(info.st_mode) || info.st_nlink != 1) {
    return false;
  }
  // The same test the direct write would meet, without truncating anything.
  const int fd = open(path, O_WRONLY | O_NOCTTY);
  return fd >= 0 && close(fd) == 0;
}

}  // namespace

bool replacement_begin(const char* path, FileReplacement* replacement) {
  std::string target = path;
  struct stat info {};
  const bool exists = lstat(path, &info) == 0;
  if ((!exists && errno != ENOENT) || (!exists && !kHostFileMask)) {
    return false;
  }
  if (exists && S_ISLNK(info.st_mode)) {
    const std::unique_ptr<char, FreeDeleter> resolved(realpath(path, nullptr));
    if (resolved == nullptr || stat(resolved.get(), &info) != 0) {
      return false;
    }
    target = resolved.get();
  }
  if (exists && !replaceable(target.c_str(), info)) {
    return false;
  }
  const size_t slash = target.rfind('/');
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  std::string temporary = target.substr(0, name) + "." + target.substr(name) + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    return false;
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
  std::FILE* stream = owner_and_group_kept && fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) {
    close(fd);
    unlink(temporary.c_str());
    return false;
  }
  unbuffered(stream);
  *replacement = FileReplacement{stream, std::move(temporary), std::move(target), exists};
  return true;
}

namespace {

void remove_file(const std::string& path) {
  unlink(path.c_str());
}

bool move_into_place(const FileReplacement& replacement) {
  return std::rename(replacement.temporary.c_str(), replacement.target.c_str()) == 0;
}

}  // namespace

#elif defined(_WIN32)
namespace {

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

}  // namespace

// As on POSIX systems: the bytes go to a new file beside the target, which then takes the
// target's place. ReplaceFileW keeps the old file's attributes, security and creation time.
bool replacement_begin(const char* path, FileReplacement* replacement) {
  const std::wstring target = wide_path(path);
  bool exists = false;
  if (target.empty() || !replaceable(target, &exists)) {
    return false;
  }
  const std::string name(path);
  const size_t separator = name.find_last_of("/\\:");
  const size_t base = separator == std::string::npos ? 0 : separator + 1;
  // No two running processes share an id, and a name left by an earlier one is skipped.
  const std::string stem = name.substr(0, base) + "." + name.substr(base) + "." +
                           std::to_string(GetCurrentProcessId()) + "-";
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = stem + std::to_string(attempt);
    fd = _wopen(wide_path(temporary.c_str()).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno != EEXIST) {
      return false;
    }
  }
  std::FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (stream == nullptr) {
    if (fd >= 0) {
      _close(fd);
      _wunlink(wide_path(temporary.c_str()).c_str());
    }
    return false;
  }
  unbuffered(stream);
  *replacement = FileReplacement{stream, std::move(temporary), name, exists};
  return true;
}

namespace {

void remove_file(const std::string& path) {
  _wunlink(wide_path(path.c_str()).c_str());
}

bool move_into_place(const FileReplacement& replacement) {
  const std::wstring temporary = wide_path(replacement.temporary.c_str());
  const std::wstring target = wide_path(replacement.target.c_str());
  return (replacement.exists &&
          ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                       nullptr, nullptr) != 0) ||
         MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

#else
bool replacement_begin(const char*, FileReplacement*) {
  return false;
}

namespace {

void remove_file(const std::string& path) {
  // NOLINTNEXTLINE(cert-err33-c): never reached: nothing is ever begun here.
  std::remove(path.c_str());
}

bool move_into_place(const FileReplacement&) {
  return false;
}

}  // namespace
#endif

bool replacement_close(FileReplacement* replacement) {
  const bool closed = std::fclose(replacement->stream) == 0;
  replacement->stream = nullptr;
  return closed;
}

Replaced replacement_finish(FileReplacement* replacement, bool written) {
  const bool closed = replacement->stream == nullptr || replacement_close(replacement);
  if (!closed || !written) {
    remove_file(replacement->temporary);
    return Replaced::failed;
  }
  if (!move_into_place(*replacement)) {
    remove_file(replacement->temporary);
    return Replaced::not_done;
  }
  return Replaced::done;
}

}  // namespace imagelib_detail
