// SPDX-License-Identifier: MIT
// The memory a command may still take besides the machine's physical memory: the memory cgroup's
// limit less its usage, and the address space and data segment limits. The parsing functions take
// the directory that stands for "/", so that the tests can point them at small trees.
#ifndef NOISE_MEMORY_ROOM_H
#define NOISE_MEMORY_ROOM_H

#include <cstdint>
#include <string>
#include <vector>

namespace noise_detail {

constexpr uint64_t kNoLimit = UINT64_MAX;

// The directory of the process's memory cgroup in one hierarchy, and the mount point that
// hierarchy is seen at (the last ancestor that can be read).
struct MemoryCgroup {
  int version;  // 1 or 2
  std::string dir;
  std::string mount_point;
};

// The memory cgroups of the process, as root/proc/self/cgroup and root/proc/self/mountinfo tell:
// the unified (version 2) hierarchy and a version 1 hierarchy with the memory controller, where
// mounted. Directories are under root.
std::vector<MemoryCgroup> memory_cgroups(const std::string& root);

// Bytes the memory cgroups still allow: for version 2, memory.max less memory.current of the
// process's cgroup and of each ancestor up to the mount point; for version 1, the hierarchical
// limit in memory.stat less memory.usage_in_bytes. The inactive page cache that memory.stat
// shows is not counted as used. The smallest of them, kNoLimit when none.
uint64_t cgroup_room(const std::string& root);

// Bytes RLIMIT_AS and RLIMIT_DATA still allow, given the current sizes in root/proc/self/statm
// (without it, the limits themselves). kNoLimit when neither is set.
uint64_t rlimit_room(const std::string& root);

// The most bytes an image of image_bytes may take in a run that holds others bytes besides it:
// what the least of cgroup_room("") and rlimit_room("") leaves after those (0 when nothing). A run
// under 16 MiB in all is weighed against the rlimits alone, which cost one system call each when
// unset: it fits any cgroup a program runs in, and no cgroup file is read for it.
uint64_t image_limit(uint64_t image_bytes, uint64_t others);

}  // namespace noise_detail

#endif
