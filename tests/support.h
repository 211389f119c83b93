// SPDX-License-Identifier: MIT
// Shared test helpers: a scratch directory, whole-file I/O and running a command as a process.
#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

// Starting processes needs POSIX; the suites that do are built only for hosts that have it.
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
#define IMAGENOISE_TEST_PROCESSES 1
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "imagelib/lib.h"

// Builds with AddressSanitizer, whose allocator replaces the C library's.
#if defined(__SANITIZE_ADDRESS__)
#define IMAGENOISE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IMAGENOISE_SANITIZED 1
#endif
#endif

namespace testsupport {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void spit(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<int> pixels_of(const Image* image) {
  std::vector<int> values;
  for (int32_t r = 0; r < image->dims->rows; ++r) {
    values.insert(values.end(), image->pixels[r], image->pixels[r] + image->dims->cols);
  }
  return values;
}

struct ImageFree {
  void operator()(Image* image) const { freeimage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageFree>;

// A rows x cols image holding values in row-major order.
inline ImagePtr image_of(int32_t rows, int32_t cols, const std::vector<int>& values) {
  ImagePtr image(newimage(rows, cols));
  for (int32_t i = 0; i < rows * cols; ++i) {
    image->pixels[i / cols][i % cols] = static_cast<unsigned char>(values.at(i));
  }
  return image;
}

// PNG files made by hand, for the readers' refusals and damaged files: each chunk with its
// checksum, the pixels in stored (uncompressed) deflate blocks.
inline uint32_t png_crc(const std::string& bytes) {
  uint32_t crc = 0xffffffffu;
  for (const char byte : bytes) {
    crc ^= static_cast<unsigned char>(byte);
    for (int k = 0; k < 8; ++k) {
      crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
  }
  return crc ^ 0xffffffffu;
}

inline std::string big_endian(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

inline std::string png_chunk(const std::string& type, const std::string& data) {
  return big_endian(static_cast<uint32_t>(data.size())) + type + data +
         big_endian(png_crc(type + data));
}

inline std::string png_ihdr(uint32_t cols, uint32_t rows, int depth, int colour_type,
                            int interlace = 0) {
  return png_chunk("IHDR", big_endian(cols) + big_endian(rows) + static_cast<char>(depth) +
                               static_cast<char>(colour_type) + std::string(2, '\0') +
                               static_cast<char>(interlace));
}

// A zlib stream of stored blocks holding raw.
inline std::string zlib_stored(const std::string& raw) {
  std::string out = "\x78\x01";
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    const bool last = at + n == raw.size();
    out += static_cast<char>(last ? 1 : 0);
    out += static_cast<char>(n & 0xff);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(~n & 0xff);
    out += static_cast<char>((~n >> 8) & 0xff);
    out += raw.substr(at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1;
  uint32_t b = 0;
  for (const char byte : raw) {
    a = (a + static_cast<unsigned char>(byte)) % 65521;
    b = (b + a) % 65521;
  }
  return out + big_endian((b << 16) | a);
}

constexpr const char* kPngSignature = "\x89PNG\r\n\x1a\n";

// A PNG file: IHDR, the chunks given (whole, checksums included), the scanlines (each with its
// filter byte) in one IDAT, and IEND.
inline std::string png_file(const std::string& ihdr, const std::string& scanlines,
                            const std::string& chunks = "") {
  return std::string(kPngSignature, 8) + ihdr + chunks + png_chunk("IDAT", zlib_stored(scanlines)) +
         png_chunk("IEND", "");
}

// An 8-bit grey PNG of rows x cols pixels, values in row-major order, unfiltered.
inline std::string grey_png(uint32_t rows, uint32_t cols, const std::vector<int>& values,
                            const std::string& chunks = "") {
  std::string scanlines;
  for (uint32_t r = 0; r < rows; ++r) {
    scanlines += '\0';
    for (uint32_t c = 0; c < cols; ++c) {
      scanlines += static_cast<char>(values.at(r * cols + c));
    }
  }
  return png_file(png_ihdr(cols, rows, 8, 0), scanlines, chunks);
}

// The folder IMAGENOISE_TEST_PROGRAMS names, or nullptr when it names none.
inline const char* programs_folder() {
  const char* folder = std::getenv("IMAGENOISE_TEST_PROGRAMS");
  return folder == nullptr || *folder == '\0' ? nullptr : folder;
}

// The programs under test. The end-to-end suites can run another build's programs: when
// IMAGENOISE_TEST_PROGRAMS names a folder, a program is looked for there by its file name. A
// cross build writes such a folder of launchers, which start each program under its emulator;
// other programs (a shell) are this machine's.
inline std::string program(const std::string& built_path) {
  const char* folder = programs_folder();
  if (folder == nullptr) {
    return built_path;
  }
  const fs::path launcher = fs::path(folder) / fs::path(built_path).filename();
  return fs::exists(launcher) ? launcher.string() : built_path;
}

// The system the programs under test run on, as CMake names it ("Linux", "Windows",
// "Emscripten"), or "native": the launcher folder records it in a file named "system".
inline std::string program_system() {
  const char* folder = programs_folder();
  if (folder == nullptr) {
    return "native";
  }
  std::string name = slurp(fs::path(folder) / "system");
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) {
    name.pop_back();
  }
  return name;
}

// A Windows program ends its console lines with CR LF. Captured console text is compared with
// LF line ends; image files never pass through here.
inline std::string console_text(std::string text) {
  if (program_system() == "Windows") {
    size_t kept = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') {
        text[kept++] = text[i];
      }
    }
    text.resize(kept);
  }
  return text;
}

struct RunResult {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  bool timed_out = false;
  std::string out;
  std::string err;
};

// A fresh directory per test, removed afterwards.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<unsigned> serial{0};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() /
          ("imagenoise-" + std::to_string(entropy()) + "-" + std::to_string(serial++));
      std::error_code error;
      if (fs::create_directory(candidate, error)) {
        dir_ = candidate;
      }
    }
    ASSERT_FALSE(dir_.empty()) << "no scratch directory";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string file(const std::string& name, const std::string& bytes) const {
    spit(dir_ / name, bytes);
    return (dir_ / name).string();
  }

#if defined(IMAGENOISE_TEST_PROCESSES)
  // Whether the funcao_exe under test (another build's, see program()) reads and writes PNG,
  // which this build's library need not tell: a build without PNG refuses --format png before
  // it looks at its input.
  bool programs_have_png() const {
    static const bool has = run(FUNCAO_EXE, {"--format", "png", "missing.pgm", "out.png", "0", "0"})
                                .out.rfind("This build of funcao_exe cannot write PNG", 0) != 0;
    return has;
  }

  // Runs program (another build's, see program()) with args; its standard output and error go to
  // files, or both to one file (out) when merged. A run that has not ended after time_limit seconds
  // is killed, with every process it started (a shell's pipeline).
  RunResult run(const std::string& built_program, const std::vector<std::string>& args,
                bool merged = false, int time_limit = 120) const {
    const std::string program = testsupport::program(built_program);
    const fs::path out = dir_ / ".stdout";
    const fs::path err = merged ? out : dir_ / ".stderr";
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err_fd = merged ? out_fd : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      if (chdir(dir_.c_str()) != 0) {
        _exit(127);
      }
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
      }
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    int wstatus = 0;
    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(time_limit);
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(-pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
        result.timed_out = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = console_text(slurp(out));
    result.err = merged ? "" : console_text(slurp(err));
    fs::remove(out);
    fs::remove(err);
    return result;
  }
#endif

  fs::path dir_;
};

}  // namespace testsupport

#endif
