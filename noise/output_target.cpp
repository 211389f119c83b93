#include "noise/output_target.h"

#include <csignal>

#if __has_include(<unistd.h>)
#include <sys/stat.h>
#include <unistd.h>
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

// Device and inode name a file only on POSIX systems: Windows gives every file inode 0.
#if defined(_POSIX_VERSION)
std::FILE* claim_standard_output(const char* output_path) {
  struct stat out_info {};
  struct stat path_info {};
  if (fstat(STDOUT_FILENO, &out_info) != 0 || stat(output_path, &path_info) != 0 ||
      out_info.st_dev != path_info.st_dev || out_info.st_ino != path_info.st_ino) {
    return nullptr;
  }
  if (!S_ISREG(out_info.st_mode) && !S_ISFIFO(out_info.st_mode) && !S_ISSOCK(out_info.st_mode)) {
    return nullptr;
  }
  const int image_fd = dup(STDOUT_FILENO);
  if (image_fd < 0) {
    return nullptr;
  }
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
  // The messages now share standard error; unbuffered, they keep their order with its own lines.
  // NOLINTNEXTLINE(cert-err33-c): a buffered stdout only delays them.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return image;
}
#else
std::FILE* claim_standard_output(const char*) {
  return nullptr;
}
#endif
