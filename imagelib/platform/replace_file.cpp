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
#include <ctime>
#if defined(__linux__) && __has_include(<sys/xattr.h>)
#include <sys/xattr.h>
#endif
#endif
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include "imagelib/platform/windows.h"
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imagelib/platform/file_open.h"
#include "imagelib/platform/temporary_files.h"

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
// file's mode is left to the host, by creating it directly. Nor can it hold a directory open:
// its files are named by whole paths.
#if defined(__EMSCRIPTEN__)
constexpr bool kHostFileMask = false;
constexpr bool kDirectoryHandles = false;
#else
constexpr bool kHostFileMask = true;
constexpr bool kDirectoryHandles = true;
#endif
// How much of a path in directory its name in the directory's handle leaves out.
size_t handled_part(const std::string& directory) {
  return directory.size() * static_cast<size_t>(kDirectoryHandles);
}

// What the output path names once its links are followed.
struct Target {
  std::string path;  // the file to replace or to make
  bool exists = false;
  bool through_link = false;
  bool forbidden = false;  // a link that a shared sticky directory does not let this user follow
  struct stat info {};     // the file, when it exists
};

enum class Found { target, direct, refused };

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The rule the kernel's fs.protected_symlinks applies: in a sticky directory that anyone may
// write, a link is followed only when it belongs to the user following it or to the directory's
// owner. A link whose directory cannot be looked at is not followed either.
bool may_follow(const std::string& link, uid_t link_owner) {
  const std::string directory = directory_of(link);
  struct stat info {};
  if (stat(directory.empty() ? "." : directory.c_str(), &info) != 0) {
    return false;
  }
  const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
  return !shared || link_owner == geteuid() || link_owner == info.st_uid;
}

// Follows path's chain of symbolic links, as the system would, to the file at its end or the name
// a file would be made under.
Found find_target(const char* path, Target* target) {
  constexpr int kMaxLinks = 40;
  std::string current = path;
  for (int links = 0;; ++links) {
    struct stat info {};
    if (lstat(current.c_str(), &info) != 0) {
      if (errno == ENOENT) {
        target->path = std::move(current);
        return Found::target;
      }
      // A direct write meets the same fault; through a link, nothing is made.
      return links == 0 ? Found::direct : Found::refused;
    }
    if (!S_ISLNK(info.st_mode)) {
      target->path = std::move(current);
      target->exists = true;
      target->info = info;
      return Found::target;
    }
    if (links == kMaxLinks) {
      return Found::refused;
    }
    target->through_link = true;
    target->forbidden = target->forbidden || !may_follow(current, info.st_uid);
    // Some systems give a link no size: the text is read into a growing buffer.
    std::string text(std::max<size_t>(static_cast<size_t>(info.st_size) + 1, 256), '\0');
    ssize_t length = readlink(current.c_str(), text.data(), text.size());
    while (length > 0 && static_cast<size_t>(length) == text.size() && text.size() < 65536) {
      text.resize(text.size() * 2);
      length = readlink(current.c_str(), text.data(), text.size());
    }
    if (length <= 0 || static_cast<size_t>(length) >= text.size()) {
      return Found::refused;
    }
    text.resize(static_cast<size_t>(length));
    current = text[0] == '/' ? std::move(text) : directory_of(current).append(text);
  }
}

// The same open a direct write would make of an existing file, but without creating or
// truncating anything: the kernel's own rules for links (fs.protected_symlinks) and permissions
// decide. The file it opens must be the one found.
int open_existing(const char* path, const Target& target) {
  const int fd = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  struct stat opened {};
  // Device and inode name a file.
  const bool found =
      fd >= 0 && fstat(fd, &opened) == 0 &&
      ((opened.st_dev ^ target.info.st_dev) | (opened.st_ino ^ target.info.st_ino)) == 0;
  if (!found && fd >= 0) {
    close(fd);
  }
  return found ? fd : -1;
}

int open_directory(const std::string& directory) {
  if (!kDirectoryHandles) {
    return AT_FDCWD;
  }
#if defined(O_PATH)
  constexpr int kLookUpOnly = O_PATH;
#else
  constexpr int kLookUpOnly = O_RDONLY;
#endif
  return open(directory.empty() ? "." : directory.c_str(), kLookUpOnly | O_DIRECTORY | O_CLOEXEC);
}

void close_directory(int directory) {
  if (directory >= 0) {
    close(directory);
  }
}

// A new file with a short name of its own in the directory, unique as mkstemp makes its names
// (which cannot be given a directory): random letters, and exclusive creation. It is recorded in
// *slot for removal by a signal.
int make_temporary(int directory, const std::string& prefix, std::string* name, int* slot) {
  static uint64_t serial = 0;
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t state = (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(now.tv_nsec) ^
                   (static_cast<uint64_t>(now.tv_sec) << 20) ^ (++serial << 48);
  constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    // splitmix64: every state gives well-spread letters.
    state += 0x9e3779b97f4a7c15u;
    uint64_t bits = state;
    bits = (bits ^ (bits >> 30)) * 0xbf58476d1ce4e5b9u;
    bits = (bits ^ (bits >> 27)) * 0x94d049bb133111ebu;
    bits ^= bits >> 31;
    *name = prefix + ".pnm-";
    for (int i = 0; i < 6; ++i) {
      *name += kLetters[bits % 62];
      bits /= 62;
    }
    const int fd = temporary_file_create(directory, name->c_str(), slot);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// Extended attributes, the access ACL among them (system.posix_acl_access), go from the old file
// to the new one. An attribute the new file cannot take but already holds (a security label the
// system gave it) counts as kept.
#if defined(__linux__) && __has_include(<sys/xattr.h>)
// The kernel bounds both the list of names and each value to 64 KiB (XATTR_LIST_MAX,
// XATTR_SIZE_MAX): buffers of that size take them in one call each.
constexpr size_t kAttributeRoom = 65536;

bool copy_attributes(int from, int to) {
  std::string names(kAttributeRoom, '\0');
  const ssize_t listed = flistxattr(from, names.data(), names.size());
  if (listed < 0) {
    return errno == ENOTSUP;  // a file system without attributes has none to keep
  }
  std::string value(kAttributeRoom, '\0');
  std::string held(kAttributeRoom, '\0');
  for (size_t at = 0; at < static_cast<size_t>(listed); at += std::strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    const ssize_t size = fgetxattr(from, name, value.data(), value.size());
    if (size < 0) {
      return false;
    }
    if (fsetxattr(to, name, value.data(), static_cast<size_t>(size), 0) != 0 &&
        (fgetxattr(to, name, held.data(), held.size()) != size ||
         held.compare(0, static_cast<size_t>(size), value, 0, static_cast<size_t>(size)) != 0)) {
      return false;
    }
  }
  return true;
}
#else
bool copy_attributes(int, int) {
  return true;
}
#endif

void remove_temporary(const FileReplacement& replacement) {
  unlinkat(replacement.directory, replacement.temporary_name.c_str(), 0);
}

// Where the target may be written in place when no temporary file can be made beside it: an
// existing file, in a directory this user may not add to.
Refusal cannot_begin(const Target& target, int error) {
  return target.exists && (error == EACCES || error == EPERM || error == EROFS) ? Refusal::none
                                                                                : Refusal::open;
}

// The temporary file is made and fitted out. False, with nothing made and replacement->refusal
// set, when that fails.
bool begin_in(FileReplacement* replacement, const Target& target, int old_fd) {
  const std::string directory = directory_of(target.path);
  replacement->target = target.path;
  const size_t handled = handled_part(directory);
  replacement->target_name = target.path.substr(handled);
  replacement->exists = target.exists;
  replacement->directory = open_directory(directory);
  const int fd = replacement->directory == -1
                     ? -1
                     : make_temporary(replacement->directory, directory.substr(handled),
                                      &replacement->temporary_name, &replacement->slot);
  if (fd < 0) {
    replacement->refusal = cannot_begin(target, errno);
    return false;
  }
  replacement->temporary =
      directory + replacement->temporary_name.substr(directory.size() - handled);
  mode_t mode = 0;
  if (target.exists) {
    mode = target.info.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  struct stat made {};
  // A file of another owner is written in place: the new file would change its owner. The owner
  // is compared with the new file's, as the host gives it (emscripten's geteuid is always 0). The
  // group next: changing it may clear the set-group-ID bit that fchmod then sets, which comes
  // after the attributes for the same reason.
  const bool owner_and_group_kept =
      !target.exists || (fstat(fd, &made) == 0 && made.st_uid == target.info.st_uid &&
                         (made.st_gid == target.info.st_gid ||
                          fchown(fd, static_cast<uid_t>(-1), target.info.st_gid) == 0));
  const bool attributes_kept = !owner_and_group_kept || old_fd < 0 || copy_attributes(old_fd, fd);
  std::FILE* stream =
      owner_and_group_kept && attributes_kept && fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) {
    close(fd);
    remove_temporary(*replacement);
    temporary_file_drop(replacement->slot);
    replacement->slot = -1;
    replacement->refusal = !attributes_kept ? Refusal::attributes
                           : target.exists  ? Refusal::none
                                            : Refusal::open;
    return false;
  }
  unbuffered(stream);
  replacement->stream = stream;
  return true;
}

}  // namespace

bool replacement_begin(const char* path, FileReplacement* replacement) {
  *replacement = FileReplacement{};
  Target target;
  switch (find_target(path, &target)) {
    case Found::direct:
      return false;
    case Found::refused:
      replacement->refusal = Refusal::open;
      return false;
    case Found::target:
      break;
  }
  const std::string base = target.path.substr(directory_of(target.path).size());
  if (base.empty() || base == "." || base == "..") {
    replacement->refusal = target.through_link ? Refusal::open : Refusal::none;
    return false;
  }
  if (!target.exists) {
    struct stat reached {};
    if (target.through_link && stat(path, &reached) == 0) {
      // The system reaches a file that the links' text does not name: a descriptor's link in
      // /proc (a pipe of the shell's, a deleted file). It is written as it is reached.
      return false;
    }
    // A new file is made only by renaming a complete one into place, and never through a link
    // that may not be followed.
    if (target.forbidden) {
      replacement->refusal = Refusal::open;
      return false;
    }
    if (!kHostFileMask) {
      replacement->refusal = target.through_link ? Refusal::open : Refusal::none;
      return false;
    }
  } else if (!S_ISREG(target.info.st_mode) || target.info.st_nlink != 1) {
    return false;
  }
  int old_fd = -1;
  if (target.exists) {
    old_fd = open_existing(path, target);
    if (old_fd < 0) {
      replacement->refusal = Refusal::open;
      return false;
    }
  }
  const bool begun = begin_in(replacement, target, old_fd);
  if (old_fd >= 0) {
    close(old_fd);
  }
  if (!begun) {
    close_directory(replacement->directory);
    replacement->directory = -1;
  }
  return begun;
}

namespace {

void end_replacement(FileReplacement* replacement) {
  temporary_file_drop(replacement->slot);
  replacement->slot = -1;
  close_directory(replacement->directory);
  replacement->directory = -1;
}

void remove_file(FileReplacement* replacement) {
  remove_temporary(*replacement);
  end_replacement(replacement);
}

bool move_into_place(FileReplacement* replacement) {
  const bool moved = renameat(replacement->directory, replacement->temporary_name.c_str(),
                              replacement->directory, replacement->target_name.c_str()) == 0;
  if (moved) {
    end_replacement(replacement);
  }
  return moved;
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
  *replacement = FileReplacement{};
  const std::wstring target = wide_path(path);
  bool exists = false;
  if (target.empty() || !replaceable(target, &exists)) {
    return false;
  }
  const std::string name(path);
  const size_t separator = name.find_last_of("/\\:");
  const size_t base = separator == std::string::npos ? 0 : separator + 1;
  // A short name, whatever the target's: no two running processes share an id, and a name left
  // by an earlier one is skipped.
  const std::string stem =
      name.substr(0, base) + ".pnm-" + std::to_string(GetCurrentProcessId()) + "-";
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
  replacement->stream = stream;
  replacement->temporary = std::move(temporary);
  replacement->target = name;
  replacement->exists = exists;
  return true;
}

namespace {

void remove_file(FileReplacement* replacement) {
  _wunlink(wide_path(replacement->temporary.c_str()).c_str());
}

bool move_into_place(FileReplacement* replacement) {
  const std::wstring temporary = wide_path(replacement->temporary.c_str());
  const std::wstring target = wide_path(replacement->target.c_str());
  return (replacement->exists &&
          ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                       nullptr, nullptr) != 0) ||
         MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

#else
bool replacement_begin(const char*, FileReplacement* replacement) {
  *replacement = FileReplacement{};
  return false;
}

namespace {

void remove_file(FileReplacement* replacement) {
  // NOLINTNEXTLINE(cert-err33-c): never reached: nothing is ever begun here.
  std::remove(replacement->temporary.c_str());
}

bool move_into_place(FileReplacement*) {
  return false;
}

}  // namespace
#endif

bool replacement_close(FileReplacement* replacement, bool written) {
  const bool closed = std::fclose(replacement->stream) == 0;
  replacement->stream = nullptr;
  if (!closed || !written) {
    remove_file(replacement);
    return false;
  }
  return true;
}

Replaced replacement_commit(FileReplacement* replacement) {
  if (move_into_place(replacement)) {
    return Replaced::done;
  }
  remove_file(replacement);
  // A new file is made by the rename or not at all: writing it directly could leave part of it.
  return replacement->exists ? Replaced::not_done : Replaced::failed;
}

void replacement_abandon(FileReplacement* replacement) {
  if (replacement->stream != nullptr) {
    // NOLINTNEXTLINE(cert-err33-c): the file is removed next; its bytes do not matter.
    std::fclose(replacement->stream);
    replacement->stream = nullptr;
  }
  remove_file(replacement);
}

Replaced replacement_finish(FileReplacement* replacement, bool written) {
  return replacement_close(replacement, written) ? replacement_commit(replacement)
                                                 : Replaced::failed;
}

std::FILE* create_file_afresh(const char* path) {
#if defined(_POSIX_VERSION)
  // unlink, not remove: a directory of that name stays, and the creation then fails.
  unlink(path);
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
  std::FILE* stream = fd < 0 ? nullptr : fdopen(fd, "wb");
  if (stream == nullptr && fd >= 0) {
    close(fd);
  }
#elif defined(_WIN32)
  const std::wstring wide = wide_path(path);
  if (wide.empty()) {
    return nullptr;
  }
  _wunlink(wide.c_str());
  const int fd =
      _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  std::FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (stream == nullptr && fd >= 0) {
    _close(fd);
  }
#else
  // NOLINTNEXTLINE(cert-err33-c): a file that was not there is no fault.
  std::remove(path);
  std::FILE* stream = std::fopen(path, "wbx");
#endif
  if (stream != nullptr) {
    unbuffered(stream);
  }
  return stream;
}

}  // namespace imagelib_detail
