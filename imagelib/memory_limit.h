// Memory limits besides the machine's physical memory: the memory cgroup's limit less its usage,
// and the address space and data segment limits. Internal to the library; the parsing functions
// take the directory that stands for "/", so that the tests can point them at small trees.
#ifndef IMAGELIB_MEMORY_LIMIT_H
#define IMAGELIB_MEMORY_LIMIT_H

#include <cstdint>
#include <string>
#include <vector>

namespace imagelib_detail {

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

// Whether a request of this many bytes fits the limits above, which are worked out once per
// process, at the first large request; smaller requests are not checked.
bool fits_memory_limits(uint64_t bytes);

}  // namespace imagelib_detail

#endif
