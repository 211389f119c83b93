// SPDX-License-Identifier: MIT
// Memory limits read from small trees standing in for /proc and /sys, the address space limit
// end to end, and one run in a child cgroup of the test's own where one can be made.
#include "noise/memory_room.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "support.h"

using noise_detail::cgroup_room;
using noise_detail::kNoLimit;
using noise_detail::memory_cgroups;
using testsupport::RunResult;

namespace {

const std::string kExe = FUNCAO_EXE;

// mountinfo lines as this machine's kind of host writes them: version 1 controllers each on its
// own mount, with the unified hierarchy beside them.
const std::string kHybridMounts =
    "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
    "32 31 0:29 / /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu\n"
    "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
    "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";
const std::string kUnifiedMount =
    "25 22 0:22 / /sys/fs/cgroup rw,nosuid shared:9 - cgroup2 cgroup2 rw,nsdelegate\n";

class MemoryLimitTest : public testsupport::TempDirTest {
 protected:
  // Writes each file of a tree and returns its root.
  std::string tree(const std::map<std::string, std::string>& files) const {
    for (const auto& [path, text] : files) {
      std::filesystem::create_directories((dir_ / path).parent_path());
      testsupport::spit(dir_ / path, text);
    }
    return dir_.string();
  }
};

}  // namespace

TEST_F(MemoryLimitTest, UnifiedHierarchyTakesTheLeastRoomOfTheCgroupAndItsAncestors) {
  const std::string root = tree({{"proc/self/cgroup", "0::/user.slice/app.scope\n"},
                                 {"proc/self/mountinfo", kUnifiedMount},
                                 {"sys/fs/cgroup/user.slice/app.scope/memory.max", "max\n"},
                                 {"sys/fs/cgroup/user.slice/app.scope/memory.current", "1000\n"},
                                 {"sys/fs/cgroup/user.slice/memory.max", "300000000\n"},
                                 {"sys/fs/cgroup/user.slice/memory.current", "100000000\n"}});
  EXPECT_EQ(cgroup_room(root), 200000000u);
  tree({{"sys/fs/cgroup/user.slice/app.scope/memory.max", "150000000\n"}});
  EXPECT_EQ(cgroup_room(root), 149999000u);
  tree({{"sys/fs/cgroup/user.slice/app.scope/memory.current", "170000000\n"}});
  EXPECT_EQ(cgroup_room(root), 0u);
  // Inactive page cache is given back before memory is refused.
  tree({{"sys/fs/cgroup/user.slice/app.scope/memory.stat",
         "active_file 5000000\ninactive_file 50000000\n"}});
  EXPECT_EQ(cgroup_room(root), 30000000u);
}

TEST_F(MemoryLimitTest, VersionOneMemoryBesideAnEmptyUnifiedHierarchy) {
  const std::string root =
      tree({{"proc/self/cgroup", "9:name=systemd:/\n4:memory:/jobs/42\n1:cpu:/\n0::/\n"},
            {"proc/self/mountinfo", kHybridMounts},
            {"sys/fs/cgroup/memory/jobs/42/memory.stat",
             "cache 0\nhierarchical_memory_limit 268435456\nhierarchical_memsw_limit "
             "9223372036854771712\n"},
            {"sys/fs/cgroup/memory/jobs/42/memory.usage_in_bytes", "68435456\n"}});
  const auto found = memory_cgroups(root);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].dir, root + "/sys/fs/cgroup/unified");
  EXPECT_EQ(found[1].dir, root + "/sys/fs/cgroup/memory/jobs/42");
  EXPECT_EQ(cgroup_room(root), 200000000u);
  tree({{"sys/fs/cgroup/memory/jobs/42/memory.stat",
         "hierarchical_memory_limit 268435456\ninactive_file 1\ntotal_inactive_file 8435456\n"}});
  EXPECT_EQ(cgroup_room(root), 208435456u);
  tree({{"sys/fs/cgroup/memory/jobs/42/memory.stat",
         "hierarchical_memory_limit 9223372036854771712\n"}});
  EXPECT_EQ(cgroup_room(root), 9223372036854771712u - 68435456u);
}

// A container's mount shows only its own part of the hierarchy, and its paths may lie outside
// that part or be missing: the nearest directory that exists is read, the mount point at worst.
TEST_F(MemoryLimitTest, ContainersWithPathsCutShort) {
  const std::string v1 =
      tree({{"v1/proc/self/cgroup", "4:memory:/docker/abc\n"},
            {"v1/proc/self/mountinfo",
             "35 31 0:32 /docker/abc /sys/fs/cgroup/memory ro,nosuid - cgroup cgroup rw,memory\n"},
            {"v1/sys/fs/cgroup/memory/memory.stat", "hierarchical_memory_limit 268435456\n"},
            {"v1/sys/fs/cgroup/memory/memory.usage_in_bytes", "68435456\n"}});
  EXPECT_EQ(cgroup_room(v1 + "/v1"), 200000000u);
  const std::string v2 = tree({{"v2/proc/self/cgroup", "0::/../../system.slice/x.service\n"},
                               {"v2/proc/self/mountinfo", kUnifiedMount},
                               {"v2/sys/fs/cgroup/memory.max", "268435456\n"},
                               {"v2/sys/fs/cgroup/memory.current", "68435456\n"},
                               {"v2/sys/memory.max", "1000\n"},
                               {"v2/sys/memory.current", "0\n"}});
  EXPECT_EQ(cgroup_room(v2 + "/v2"), 200000000u);
  const std::string gone = tree({{"gone/proc/self/cgroup", "0::/not/here\n"},
                                 {"gone/proc/self/mountinfo", kUnifiedMount},
                                 {"gone/sys/fs/cgroup/not/memory.max", "1000000\n"},
                                 {"gone/sys/fs/cgroup/not/memory.current", "1000\n"}});
  EXPECT_EQ(cgroup_room(gone + "/gone"), 999000u);
}

TEST_F(MemoryLimitTest, NoLimitWithoutCgroupsOrWithEscapedAndOddLines) {
  EXPECT_EQ(cgroup_room(tree({{"a/proc/self/cgroup", "0::/\n"}}) + "/a"), kNoLimit);
  const std::string odd =
      tree({{"b/proc/self/cgroup", "garbage\n1:cpu\n2:cpu:/y\n0:memory:/z\n0::/x\n"},
            {"b/proc/self/mountinfo",
             "short line\n1 2 3 4 5 6 - cgroup2\n1 2 - cgroup2 cgroup2 rw\n"
             "30 22 0:21 / /sys/v1\\04 rw - cgroup cgroup rw,cpu\n"
             "25 22 0:22 / /sys/my\\040cgroup rw - cgroup2 cgroup2 rw\n"},
            {"b/sys/my cgroup/x/memory.max", "12345\n"},
            {"b/sys/my cgroup/x/memory.current", "not a number\n"}});
  EXPECT_EQ(cgroup_room(odd + "/b"), kNoLimit);
  tree({{"b/sys/my cgroup/x/memory.current", "345\n"}});
  EXPECT_EQ(cgroup_room(odd + "/b"), 12000u);
}

#ifndef IMAGENOISE_SANITIZED
// A 20-byte file claiming 400 MB of pixels, under a 256 MiB address space limit: refused at once
// instead of failing part way through its rows. (The sanitizers need more address space.)
TEST_F(MemoryLimitTest, AddressSpaceLimitRefusesALargeImageAtOnce) {
  file("giant.pgm", "P5 20000 20000 255\n");
  const RunResult r =
      run("/bin/sh", {"-c", "ulimit -v 262144 && exec \"$0\" giant.pgm o.pgm 30 10", kExe});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Out of storage in NEWIMAGE.\nNo input image ('giant.pgm')\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "o.pgm"));
}

// Every address-space limit from the smallest a program starts under to one that fits the whole
// run ends cleanly: with the noisy copy written whole, or refused before the image is made, and
// never by an uncaught allocation failure or a signal.
TEST_F(MemoryLimitTest, EveryAddressSpaceLimitEndsWithTheImageOrARefusal) {
  std::string raster = "P2 1500 1500 255\n";
  for (int i = 0; i < 1500 * 1500; ++i) {
    raster += std::to_string((i * 7) % 256) + (i % 30 == 29 ? "\n" : " ");
  }
  file("in.pgm", raster);
  const RunResult free_run = run(kExe, {"in.pgm", "expected.pgm", "30", "100"});
  ASSERT_EQ(free_run.status, 0);
  const std::string expected = testsupport::slurp(dir_ / "expected.pgm");
  const auto limited = [&](int kib, const std::vector<std::string>& args) {
    std::vector<std::string> shell{"-c", "ulimit -v " + std::to_string(kib) + " && exec \"$@\"",
                                   "sh", kExe};
    shell.insert(shell.end(), args.begin(), args.end());
    return run("/bin/sh", shell);
  };
  int start = 2048;
  while (start < 65536 && limited(start, {}).status != 1) {
    start += 256;
  }
  ASSERT_LT(start, 65536) << "the program never started under a limit below 64 MiB";
  int written = 0;
  int refused = 0;
  for (int kib = start; kib < start + 20 * 1024; kib += 256) {
    SCOPED_TRACE(kib);
    std::filesystem::remove(dir_ / "o.pgm");
    const RunResult r = limited(kib, {"in.pgm", "o.pgm", "30", "100"});
    ASSERT_TRUE(r.status == 0 || r.status == 2) << r.status << "\n" << r.out << r.err;
    if (r.status == 0) {
      EXPECT_EQ(testsupport::slurp(dir_ / "o.pgm"), expected);
      ++written;
    } else {
      // Barely above what the program starts under, even the input's stream may not be had.
      const bool unopened =
          r.out == "Can't open the PBM file named 'in.pgm'\nNo input image ('in.pgm')\n";
      if (!unopened) {
        EXPECT_EQ(r.out, "Out of storage in NEWIMAGE.\nNo input image ('in.pgm')\n");
      }
      EXPECT_FALSE(std::filesystem::exists(dir_ / "o.pgm"));
      refused += unopened ? 0 : 1;
    }
  }
  EXPECT_GT(written, 0);
  EXPECT_GT(refused, 0);
}
#endif

// A child cgroup of the test's own with a memory limit of limit bytes, or an empty path, with the
// reasons in *reasons, where none can be made.
std::string limited_cgroup(uint64_t limit, std::string* reasons) {
  for (const auto& cgroup : memory_cgroups("")) {
    const std::string made = cgroup.dir + "/imagenoise-test-" + std::to_string(getpid());
    if (mkdir(made.c_str(), 0755) != 0) {
      *reasons += " cannot make " + made + ": " + std::strerror(errno) + ";";
      continue;
    }
    const std::string control =
        made + (cgroup.version == 2 ? "/memory.max" : "/memory.limit_in_bytes");
    std::FILE* file = std::fopen(control.c_str(), "w");
    if (file != nullptr &&
        std::fprintf(file, "%llu\n", static_cast<unsigned long long>(limit)) > 0 &&
        std::fclose(file) == 0) {
      return made;
    }
    if (file != nullptr) {
      std::fclose(file);
    }
    *reasons += " cannot write " + control + " (no memory controller there);";
    rmdir(made.c_str());
  }
  return "";
}

void remove_cgroup(const std::string& child) {
  for (int attempt = 0; attempt < 100 && rmdir(child.c_str()) != 0; ++attempt) {
    usleep(10000);
  }
}

// The same in a child cgroup of the test's own, limited to 64 MiB, with an image needing twice
// that; and a 4096 x 4096 image at 100 % in cgroups around the size of its whole run (two images
// of 16 MiB, the noise pass's bitmap, the writer's buffer), where it is written whole or refused,
// never killed.
TEST_F(MemoryLimitTest, CgroupLimitRefusesALargeImageAtOnce) {
  std::string reasons;
  std::string child = limited_cgroup(uint64_t{64} << 20, &reasons);
  if (child.empty()) {
    GTEST_SKIP() << "no child cgroup with a memory limit can be made here:"
                 << (reasons.empty() ? " no memory cgroup is mounted" : reasons);
  }
  const std::string in_cgroup =
      "echo $$ >\"$0/cgroup.procs\" && exec \"$1\" \"$2\" o.pgm 30 \"$3\"";
  file("giant.pgm", "P5 8000 8000 255\n");
  RunResult r = run("/bin/sh", {"-c", in_cgroup, child, kExe, "giant.pgm", "10"});
  remove_cgroup(child);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Out of storage in NEWIMAGE.\nNo input image ('giant.pgm')\n");
  EXPECT_FALSE(std::filesystem::exists(child));

#ifdef IMAGENOISE_SANITIZED
  std::printf(
      "not run under the sanitizers, whose own memory no room check counts: the image "
      "of 4096 x 4096 in cgroups around its size\n");
#else
  file("large.pgm", "P5 4096 4096 255\n" + std::string(size_t{4096} * 4096, '\x80'));
  ASSERT_EQ(run(kExe, {"large.pgm", "expected.pgm", "30", "100"}).status, 0);
  const std::string expected = testsupport::slurp(dir_ / "expected.pgm");
  for (const int mib : {30, 33, 34, 35, 36, 40, 48}) {
    SCOPED_TRACE(mib);
    child = limited_cgroup(uint64_t(mib) << 20, &reasons);
    ASSERT_FALSE(child.empty()) << reasons;
    std::filesystem::remove(dir_ / "o.pgm");
    r = run("/bin/sh", {"-c", in_cgroup, child, kExe, "large.pgm", "100"});
    remove_cgroup(child);
    ASSERT_TRUE(r.status == 0 || r.status == 2) << r.status;
    if (r.status == 0) {
      EXPECT_EQ(testsupport::slurp(dir_ / "o.pgm"), expected);
    } else {
      EXPECT_EQ(r.out, "Out of storage in NEWIMAGE.\nNo input image ('large.pgm')\n");
    }
  }
#endif
}
