// SPDX-License-Identifier: MIT
#if __has_include(<sys/resource.h>)
#include <sys/resource.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "support.h"

using testsupport::image_of;
using testsupport::slurp;
namespace fs = std::filesystem;

namespace {

const std::string kRule = "\n=====================================================\n";

std::string printed_se(Image* image) {
  testing::internal::CaptureStdout();
  print_se(image);
  return testing::internal::GetCapturedStdout();
}

void release(float** grid, int32_t rows) {
  for (int32_t i = 0; i < rows; ++i) {
    std::free(grid[i]);
  }
  std::free(grid);
}

void set_path(const std::string& value) {
#if defined(_WIN32)
  _putenv_s("PATH", value.c_str());
#else
  setenv("PATH", value.c_str(), 1);
#endif
}

}  // namespace

TEST(PrintSe, DumpsSizeOriginRowFirstAndAlignedPixels) {
  auto image = image_of(2, 3, {1, 1, 1, 1, 1, 1});
  image->dims->origin_row = 1;
  image->dims->origin_col = 2;
  EXPECT_EQ(printed_se(image.get()), kRule +
                                         "Structuring element: 2x3 origin at (1,2)\n"
                                         "\t   1    1    1 \n"
                                         "\t   1    1    1 \n" +
                                         kRule);
  auto wide = image_of(1, 2, {255, 0});
  EXPECT_EQ(printed_se(wide.get()),
            kRule + "Structuring element: 1x2 origin at (0,0)\n\t 255    0 \n" + kRule);
}

TEST(PrintSe, NullImage) {
  EXPECT_EQ(printed_se(nullptr), kRule + " Structuring element is NULL.\n" + kRule);
}

TEST(F2d, GridsAreZeroFilledAndEmptySizesAreAllocated) {
  float** grid = f2d(3, 4);
  ASSERT_NE(grid, nullptr);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(grid[r][c], 0.0f);
    }
  }
  release(grid, 3);
  float** no_rows = f2d(0, 4);
  EXPECT_NE(no_rows, nullptr);
  release(no_rows, 0);
  float** no_columns = f2d(2, 0);
  EXPECT_NE(no_columns[1], nullptr);
  release(no_columns, 2);
}

TEST(F2d, NegativeSizeEndsAsOutOfStorage) {
#if GTEST_HAS_DEATH_TEST
  EXPECT_EXIT(f2d(-1, 4), testing::ExitedWithCode(1), "^Out of storage: F2D\\.\n$");
  EXPECT_EXIT(f2d(4, -1), testing::ExitedWithCode(1), "^Out of storage: F2D\\.\n$");
#else
  GTEST_SKIP() << "death tests need processes of their own, which this platform cannot start";
#endif
}

#if __has_include(<sys/resource.h>)
// Whether an address-space limit of 256 MB refuses a 400 MB allocation here; an emulator such as
// qemu-user does not hold its guest to the limit.
bool address_space_limit_holds() {
  rlimit old{};
  getrlimit(RLIMIT_AS, &old);
  const rlimit limit{256u << 20, old.rlim_max};
  if (old.rlim_max < limit.rlim_cur || setrlimit(RLIMIT_AS, &limit) != 0) {
    return false;
  }
  void* volatile block = std::malloc(400'000'000);
  const bool refused = block == nullptr;
  std::free(block);
  setrlimit(RLIMIT_AS, &old);
  return refused;
}
#endif

TEST(F2d, RowThatCannotBeAllocatedIsNamed) {
#if !GTEST_HAS_DEATH_TEST
  GTEST_SKIP() << "death tests need processes of their own, which this platform cannot start";
#elif defined(IMAGENOISE_SANITIZED)
  GTEST_SKIP() << "the sanitizer's allocator reserves more address space than the limit allows";
#elif !__has_include(<sys/resource.h>)
  GTEST_SKIP() << "no address-space limit (setrlimit) here to make the allocation fail";
#else
  if (!address_space_limit_holds()) {
    GTEST_SKIP() << "this system does not hold programs to RLIMIT_AS (as under qemu-user)";
  }
  const auto starved = [] {
    // Room for the row array and small rows, not for a row of 400 MB.
    const rlimit limit{256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &limit);
    f2d(3, 100'000'000);
  };
  EXPECT_EXIT(starved(), testing::ExitedWithCode(1), "^Out of storage: F2D 0\\.\n$");
#endif
}

class DisplayTest : public testsupport::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    old_cwd_ = fs::current_path();
    old_path_ = std::getenv("PATH");
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    set_path(old_path_);
    TempDirTest::TearDown();
  }
  // Puts a stand-in viewer first on PATH that keeps its arguments and the file it was shown: a
  // batch file for Windows' command processor, a shell script elsewhere.
  void install_viewer() const {
#if defined(_WIN32)
    file("disp.bat", "@echo %*> shown.args\r\n@copy /y %1 shown.pgm >nul\r\n");
    set_path(dir_.string() + ";" + old_path_);
#else
    const std::string viewer = file("disp",
                                    "#!/bin/sh\n"
                                    "printf '%s\\n' \"$@\" > shown.args\n"
                                    "cp \"$1\" shown.pgm\n");
    fs::permissions(viewer, fs::perms::owner_all);
    set_path(dir_.string() + ":" + old_path_);
#endif
  }

  fs::path old_cwd_;
  std::string old_path_;
};

TEST_F(DisplayTest, ShowsTheImageThroughTheViewerAndRemovesTheFile) {
#if defined(__EMSCRIPTEN__)
  GTEST_SKIP() << "wasm has no command processor to start the viewer";
#endif
  install_viewer();
  file("x.tmp", "an older file of that name");
  auto image = image_of(1, 2, {7, 200});
  Display(image.get());
  std::string shown = slurp("shown.args");
  shown.erase(std::remove(shown.begin(), shown.end(), '\r'), shown.end());  // a batch file's echo
  EXPECT_EQ(shown, "x.tmp\n");
  EXPECT_EQ(slurp("shown.pgm"), "P2\n#origin 0 0\n2 1 255\n7 200 \n\n");
  EXPECT_FALSE(fs::exists("x.tmp"));
}

TEST_F(DisplayTest, MissingViewerStillRemovesTheFile) {
  set_path(dir_.string());
  auto image = image_of(1, 1, {1});
  Display(image.get());
  EXPECT_FALSE(fs::exists("x.tmp"));
}

// A link named x.tmp is replaced, not written through: the file it names stays as it was.
TEST_F(DisplayTest, ReplacesALinkNamedLikeItsFile) {
#if defined(_WIN32) || defined(__EMSCRIPTEN__)
  GTEST_SKIP() << "symbolic links are tried on POSIX systems only";
#endif
  set_path(dir_.string());
  file("victim", "not to be overwritten");
  fs::create_symlink("victim", "x.tmp");
  auto image = image_of(1, 1, {1});
  Display(image.get());
  EXPECT_EQ(slurp("victim"), "not to be overwritten");
  EXPECT_FALSE(fs::exists(fs::symlink_status("x.tmp")));
}

// x.tmp that cannot be made (a directory of that name) or written whole (a file size limit) ends
// the process with the output file's messages, leaving no partial file.
TEST_F(DisplayTest, StopsWhenItsFileCannotBeMadeOrWritten) {
#if defined(_WIN32) || defined(__EMSCRIPTEN__)
  GTEST_SKIP() << "a file size limit and death tests are tried on POSIX systems only";
#else
  set_path(dir_.string());
  fs::create_directory("x.tmp");
  file("x.tmp/kept", "");
  auto image = image_of(1, 1, {1});
  EXPECT_EXIT(Display(image.get()), testing::ExitedWithCode(2), "Can't open output file\\.");
  fs::remove_all("x.tmp");
  auto large = image_of(100, 100, std::vector<int>(10000, 200));
  const auto limited = [&] {
    const rlimit small{1000, 1000};
    if (setrlimit(RLIMIT_FSIZE, &small) == 0 && std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR) {
      Display(large.get());
    }
  };
  EXPECT_EXIT(limited(), testing::ExitedWithCode(2), "Can't write output file\\.");
  EXPECT_FALSE(fs::exists("x.tmp"));
#endif
}
