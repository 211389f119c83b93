// SPDX-License-Identifier: MIT
// The core's byte sources and sinks: memory, a caller's stream and a path give the same images
// and bytes, failures come back as statuses with nothing printed, and two threads read at once.
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "imagelib/file_ptr.h"
#include "support.h"

using imagelib_detail::FilePtr;
using testsupport::pixels_of;
using testsupport::slurp;

namespace {

class ByteIoTest : public testsupport::TempDirTest {
 protected:
  // Reads bytes with the core from memory, from a stream and from a path, and checks that the
  // three agree and that nothing was printed; returns the image read from memory.
  testsupport::ImagePtr read_three_ways(const std::string& bytes) {
    const std::string path = file("in.pnm", bytes);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Image* images[3] = {};
    PnmHeader headers[3] = {};
    ImageStatus statuses[3] = {};
    ByteSource memory = byte_source_memory(bytes.data(), bytes.size());
    statuses[0] = pnm_read(&memory, UINT64_MAX, &images[0], &headers[0]);
    const FilePtr stream(std::fopen(path.c_str(), "rb"));
    ByteSource from_stream = byte_source_file(stream.get());
    statuses[1] = pnm_read(&from_stream, UINT64_MAX, &images[1], &headers[1]);
    ByteSource opened;
    statuses[2] = byte_source_open(path.c_str(), &opened);
    if (statuses[2] == ImageStatus::ok) {
      statuses[2] = pnm_read(&opened, UINT64_MAX, &images[2], &headers[2]);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (int i = 1; i < 3; ++i) {
      EXPECT_EQ(statuses[i], statuses[0]) << i;
      EXPECT_EQ(headers[i].origin_col, headers[0].origin_col) << i;
      EXPECT_EQ(headers[i].has_origin_row, headers[0].has_origin_row) << i;
      EXPECT_EQ(images[i] == nullptr, images[0] == nullptr) << i;
      if (images[i] != nullptr && images[0] != nullptr) {
        EXPECT_EQ(pixels_of(images[i]), pixels_of(images[0])) << i;
        EXPECT_EQ(images[i]->dims->origin_row, images[0]->dims->origin_row) << i;
      }
      freeimage(images[i]);
    }
    status_ = statuses[0];
    return testsupport::ImagePtr(images[0]);
  }

  ImageStatus status_ = ImageStatus::ok;
};

}  // namespace

TEST_F(ByteIoTest, MemoryStreamAndPathGiveTheSameImages) {
  struct Case {
    std::string bytes;
    std::vector<int> pixels;
  };
  const std::string long_p2 = "P2 3000 1 255\n" + [] {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
      text += std::to_string(i % 256) + (i % 7 == 0 ? "\n" : " ");
    }
    return text;
  }();
  for (const Case& c : {Case{"#origin 3 -5\nP2 2 2 255\n1 2 300 4\n", {1, 2, 44, 4}},
                        {"P1\n#origin 7\n3 1\n010", {0, 1, 0}},
                        {std::string("P4 3 2\n\xbf\x40", 9), {1, 0, 1, 0, 1, 0}},
                        {"P5 2 2 255\n\x01\x02\x03", {1, 2, 3, 3}},
                        {"P5 1 1 65535\n\x01\x02", {}},
                        {"P6 1 1 255\n\x01\x02\x03", {}},
                        {"P7\n", {}},
                        {"P2 1", {}}}) {
    const auto image = read_three_ways(c.bytes);
    EXPECT_EQ(image == nullptr, c.pixels.empty()) << c.bytes;
    if (image != nullptr) {
      EXPECT_EQ(pixels_of(image.get()), c.pixels) << c.bytes;
    }
  }
  EXPECT_EQ(read_three_ways(long_p2)->dims->cols, 3000);
  // The origin travels in the header record, not in the classic calls' pending origin.
  const auto origin = read_three_ways("#origin 3 -5\nP2 1 1 255\n1\n");
  EXPECT_EQ(origin->dims->origin_col, 3);
  EXPECT_EQ(origin->dims->origin_row, -5);
  EXPECT_EQ(PBM_SE_ORIGIN_COL, 0);
  EXPECT_EQ(PBM_SE_ORIGIN_ROW, 0);
  // A header record used again holds only what the new header's comments say.
  const std::string first = "#origin 8 9\nP2 1 1 255\n1\n";
  const std::string second = "P2 1 1 255\n2\n";
  ByteSource in = byte_source_memory(first.data(), first.size());
  PnmHeader header{};
  ASSERT_EQ(pnm_read_header(&in, &header), ImageStatus::ok);
  EXPECT_TRUE(header.has_origin_col && header.has_origin_row);
  in = byte_source_memory(second.data(), second.size());
  EXPECT_EQ(pnm_read_header(&in, &header), ImageStatus::ok);
  EXPECT_FALSE(header.has_origin_col || header.has_origin_row);
  EXPECT_EQ(header.origin_col, 0);
}

TEST_F(ByteIoTest, RefusalsAreStatusesWithTheReadersText) {
  struct Case {
    std::string bytes;
    ImageStatus status;
  };
  for (const Case& c : {Case{"", ImageStatus::not_pnm},
                        {"P2 3 #2 255\n", ImageStatus::bad_header},
                        {"P3 1 1 255\n1 2 3\n", ImageStatus::colour},
                        {"P2 1 1 256\n7\n", ImageStatus::too_deep}}) {
    read_three_ways(c.bytes);
    EXPECT_EQ(status_, c.status) << c.bytes;
  }
  ByteSource missing;
  EXPECT_EQ(byte_source_open((dir_ / "missing.pgm").string().c_str(), &missing),
            ImageStatus::read_error);
  // A size beyond the caller's limit is refused before anything is allocated.
  const std::string big = "P5 1000 1000 255\n";
  ByteSource in = byte_source_memory(big.data(), big.size());
  Image* image = nullptr;
  EXPECT_EQ(pnm_read(&in, image_bytes(1000, 1000) - 1, &image), ImageStatus::too_large);
  EXPECT_EQ(image, nullptr);
}

TEST_F(ByteIoTest, MemoryAndStreamSinksGetTheWritersBytes) {
  const auto image = testsupport::image_of(2, 30, std::vector<int>(60, 201));
  image->dims->origin_col = -4;
  ByteSink memory = byte_sink_memory();
  ASSERT_EQ(pnm_write_p2(&memory, image.get()), ImageStatus::ok);
  const std::string path = (dir_ / "out.pgm").string();
  Output_PBM(image.get(), path.c_str());
  EXPECT_EQ(std::string(memory.bytes.begin(), memory.bytes.end()), slurp(path));
  const FilePtr stream(std::fopen((dir_ / "stream.pgm").string().c_str(), "wb"));
  ByteSink file_sink = byte_sink_file(stream.get());
  ASSERT_EQ(pnm_write_p2(&file_sink, image.get()), ImageStatus::ok);
  EXPECT_EQ(slurp(dir_ / "stream.pgm"), slurp(path));
  if (std::filesystem::exists("/dev/full")) {
    const FilePtr full(std::fopen("/dev/full", "wb"));
    ByteSink failing = byte_sink_file(full.get());
    EXPECT_EQ(pnm_write_p2(&failing, image.get()), ImageStatus::write_error);
    EXPECT_TRUE(failing.failed);
  }
}

// The core keeps no state of its own: two threads reading two files at once each get their own
// pixels and origin, as one thread reading them in turn does.
TEST_F(ByteIoTest, TwoThreadsReadTwoFilesAtOnce) {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  GTEST_SKIP() << "this wasm32 build has no threads to start";
#endif
  std::string texts[2];
  for (int k = 0; k < 2; ++k) {
    texts[k] = "#origin " + std::to_string(k + 1) + " " + std::to_string(10 * k) + "\nP2 700 " +
               std::to_string(500 + k) + " 255\n";
    for (int i = 0; i < 700 * (500 + k); ++i) {
      texts[k] += std::to_string((i * (k + 3)) % 256) + " ";
    }
  }
  const std::string paths[2] = {file("a.pgm", texts[0]), file("b.pgm", texts[1])};
  std::vector<int> alone[2];
  for (int k = 0; k < 2; ++k) {
    ByteSource in;
    ASSERT_EQ(byte_source_open(paths[k].c_str(), &in), ImageStatus::ok);
    Image* image = nullptr;
    ASSERT_EQ(pnm_read(&in, UINT64_MAX, &image), ImageStatus::ok);
    alone[k] = pixels_of(image);
    freeimage(image);
  }
  for (int round = 0; round < 4; ++round) {
    Image* images[2] = {};
    ImageStatus statuses[2] = {};
    const auto read = [&](int k) {
      ByteSource in;
      statuses[k] = byte_source_open(paths[k].c_str(), &in);
      if (statuses[k] == ImageStatus::ok) {
        statuses[k] = pnm_read(&in, UINT64_MAX, &images[k]);
      }
    };
    std::thread other(read, 1);
    read(0);
    other.join();
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(statuses[k], ImageStatus::ok) << k;
      EXPECT_EQ(images[k]->dims->origin_col, k + 1);
      EXPECT_EQ(images[k]->dims->origin_row, 10 * k);
      EXPECT_EQ(pixels_of(images[k]), alone[k]) << k;
      freeimage(images[k]);
    }
  }
}
