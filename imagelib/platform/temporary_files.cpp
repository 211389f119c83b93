// SPDX-License-Identifier: MIT
#include "imagelib/platform/temporary_files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if __has_include(<unistd.h>)
#include <unistd.h>
#endif
// Removal by a directory descriptor and sigaction are POSIX's; emscripten's signals never come
// from outside the program.
#if defined(_POSIX_VERSION)
#include <fcntl.h>
#if !defined(__EMSCRIPTEN__)
#define IMAGELIB_TEMPORARY_CLEANUP 1
#endif
#endif

namespace imagelib_detail {

#if defined(IMAGELIB_TEMPORARY_CLEANUP)
namespace {

// A run holds one or two temporary files at once (an image and its mask); the table has room to
// spare. A signal handler reads it, so a slot's name is complete before the slot is marked live.
constexpr int kSlots = 8;
constexpr size_t kNameRoom = 64;

struct Slot {
  volatile std::sig_atomic_t live;
  int dir;
  char name[kNameRoom];
};

Slot slots[kSlots];

void remove_live_files() {
  for (Slot& slot : slots) {
    if (slot.live != 0) {
      unlinkat(slot.dir, slot.name, 0);
    }
  }
}

extern "C" void remove_and_end(int signal_number) {
  remove_live_files();
  // The handler was reset on entry (SA_RESETHAND); the signal stays blocked until the handler
  // returns, and then ends the process with its usual status.
  // NOLINTNEXTLINE(cert-err33-c): should it fail, the process goes on as if it were ignored.
  raise(signal_number);
}

extern "C" void remove_at_exit() {
  remove_live_files();
}

}  // namespace

int temporary_file_add(int dir, const char* name) {
  const size_t length = std::strlen(name);
  if (length >= kNameRoom) {
    return -1;
  }
  for (int i = 0; i < kSlots; ++i) {
    Slot& slot = slots[i];
    if (slot.live == 0) {
      slot.dir = dir;
      std::memcpy(slot.name, name, length + 1);
      slot.live = 1;
      return i;
    }
  }
  return -1;
}

int temporary_file_create(int dir, const char* name, int* slot) {
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  const bool held = sigprocmask(SIG_BLOCK, &all, &old) == 0;
  const int fd = openat(dir, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int error = errno;
  *slot = fd >= 0 ? temporary_file_add(dir, name) : -1;
  if (held) {
    sigprocmask(SIG_SETMASK, &old, nullptr);
  }
  errno = error;
  return fd;
}

void temporary_file_drop(int slot) {
  if (slot >= 0 && slot < kSlots) {
    slots[slot].live = 0;
  }
}

void remove_temporary_files_at_exit() {
  // NOLINTNEXTLINE(cert-err33-c): without it, only an exit part way leaves the files.
  std::atexit(remove_at_exit);
  for (const int signal_number :
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGXCPU, SIGUSR1, SIGUSR2}) {
    struct sigaction old_action {};
    if (sigaction(signal_number, nullptr, &old_action) != 0 || old_action.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_and_end;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

#else
int temporary_file_add(int, const char*) {
  return -1;
}

int temporary_file_create(int dir, const char* name, int* slot) {
  *slot = -1;
#if defined(_POSIX_VERSION)
  return openat(dir, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
#else
  (void)dir;
  (void)name;
  return -1;
#endif
}

void temporary_file_drop(int) {}

void remove_temporary_files_at_exit() {}
#endif

}  // namespace imagelib_detail
