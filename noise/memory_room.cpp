// SPDX-License-Identifier: MIT
#include "noise/memory_room.h"

#if __has_include(<sys/resource.h>)
#include <sys/resource.h>
#endif
#if __has_include(<unistd.h>)
#include <unistd.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "imagelib/file_ptr.h"

namespace noise_detail {
namespace {

using imagelib_detail::FilePtr;

// The whole of a small text file; false when it cannot be read.
bool read_text(const std::string& path, std::string* text) {
  const FilePtr file(std::fopen(path.c_str(), "r"));
  if (file == nullptr) {
    return false;
  }
  text->clear();
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    text->append(buffer, got);
  }
  return std::ferror(file.get()) == 0;
}

bool parse_number(std::string_view text, uint64_t* value) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

bool contains(std::string_view list, std::string_view item) {
  const std::vector<std::string_view> items = split(list, ',');
  return std::find(items.begin(), items.end(), item) != items.end();
}

// mountinfo writes a space in a path as \040, and likewise tab, newline and backslash.
std::string unescape(std::string_view field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3') {
      text.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                       (field[i + 3] - '0')));
      i += 3;
    } else {
      text.push_back(field[i]);
    }
  }
  return text;
}

struct Mount {
  std::string root;  // the path in the hierarchy that the mount shows
  std::string point;
};

// The mount of the unified hierarchy (version 2) or of the version 1 hierarchy with the memory
// controller.
bool find_mount(std::string_view mountinfo, int version, Mount* mount) {
  for (const std::string_view line : split(mountinfo, '\n')) {
    const std::vector<std::string_view> fields = split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 4 ||
        dash - fields.begin() < 6) {
      continue;
    }
    const std::string_view type = dash[1];
    const bool wanted =
        version == 2 ? type == "cgroup2" : type == "cgroup" && contains(dash[3], "memory");
    if (wanted) {
      *mount = Mount{unescape(fields[3]), unescape(fields[4])};
      return true;
    }
  }
  return false;
}

// The process's path in the hierarchy: the "0::" line for version 2, the line whose controllers
// include memory for version 1.
bool find_cgroup_path(std::string_view cgroups, int version, std::string* path) {
  for (const std::string_view line : split(cgroups, '\n')) {
    const size_t first = line.find(':');
    const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) {
      continue;
    }
    const std::string_view id = line.substr(0, first);
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const bool wanted =
        version == 2 ? id == "0" && controllers.empty() : contains(controllers, "memory");
    if (wanted) {
      *path = std::string(line.substr(second + 1));
      return true;
    }
  }
  return false;
}

// A container sees its own cgroup as the root of a mount that shows only that part of the
// hierarchy, or sees a path outside what the mount shows: the part inside the mount is used, and
// the mount point itself when nothing of the path is inside.
std::string relative_path(const std::string& path, const std::string& mount_root) {
  // A cgroup namespace shows a cgroup outside its own as a path through "..".
  if (path.find("/..") != std::string::npos) {
    return "";
  }
  if (mount_root == "/") {
    return path == "/" ? "" : path;
  }
  if (path.compare(0, mount_root.size(), mount_root) == 0 &&
      (path.size() == mount_root.size() || path[mount_root.size()] == '/')) {
    return path.substr(mount_root.size());
  }
  return "";
}

// The value of "key value" in a memory.stat text.
bool stat_value(std::string_view stat, std::string_view key, uint64_t* value) {
  const std::vector<std::string_view> lines = split(stat, '\n');
  const auto line = std::find_if(lines.begin(), lines.end(), [key](std::string_view text) {
    return text.size() > key.size() && text.substr(0, key.size()) == key && text[key.size()] == ' ';
  });
  return line != lines.end() && parse_number(line->substr(key.size() + 1), value);
}

uint64_t room(uint64_t limit, uint64_t usage) {
  return limit > usage ? limit - usage : 0;
}

// A cgroup's usage counts the page cache, which the kernel gives back before it refuses memory;
// its inactive part is left out, as container tools do for the working set.
uint64_t working_set(uint64_t usage, std::string_view stat, std::string_view inactive_key) {
  uint64_t reclaimable = 0;
  return stat_value(stat, inactive_key, &reclaimable) ? usage - std::min(usage, reclaimable)
                                                      : usage;
}

// memory.max less memory.current at dir and each ancestor up to the mount point.
uint64_t v2_room(const MemoryCgroup& cgroup) {
  uint64_t least = kNoLimit;
  std::string dir = cgroup.dir;
  for (;;) {
    std::string max;
    std::string current;
    std::string stat;
    uint64_t limit = 0;
    uint64_t usage = 0;
    if (read_text(dir + "/memory.max", &max) && parse_number(max, &limit) &&
        read_text(dir + "/memory.current", &current) && parse_number(current, &usage)) {
      if (!read_text(dir + "/memory.stat", &stat)) {
        stat.clear();
      }
      least = std::min(least, room(limit, working_set(usage, stat, "inactive_file")));
    }
    if (dir.size() <= cgroup.mount_point.size()) {
      return least;
    }
    dir.erase(dir.rfind('/'));
  }
}

// The hierarchical limit, which takes in the ancestors' limits, less the usage; at dir, or at the
// nearest ancestor that has them.
uint64_t v1_room(const MemoryCgroup& cgroup) {
  std::string dir = cgroup.dir;
  for (;;) {
    std::string stat;
    std::string usage_text;
    uint64_t usage = 0;
    if (read_text(dir + "/memory.stat", &stat) &&
        read_text(dir + "/memory.usage_in_bytes", &usage_text) &&
        parse_number(usage_text, &usage)) {
      uint64_t limit = 0;
      return stat_value(stat, "hierarchical_memory_limit", &limit)
                 ? room(limit, working_set(usage, stat, "total_inactive_file"))
                 : kNoLimit;
    }
    if (dir.size() <= cgroup.mount_point.size()) {
      return kNoLimit;
    }
    dir.erase(dir.rfind('/'));
  }
}

}  // namespace

std::vector<MemoryCgroup> memory_cgroups(const std::string& root) {
  std::vector<MemoryCgroup> found;
  std::string cgroups;
  std::string mountinfo;
  if (!read_text(root + "/proc/self/cgroup", &cgroups) ||
      !read_text(root + "/proc/self/mountinfo", &mountinfo)) {
    return found;
  }
  for (const int version : {2, 1}) {
    Mount mount;
    std::string path;
    if (find_mount(mountinfo, version, &mount) && find_cgroup_path(cgroups, version, &path)) {
      std::string point = root + (mount.point == "/" ? "" : mount.point);
      found.push_back(MemoryCgroup{version, point + relative_path(path, mount.root), point});
    }
  }
  return found;
}

uint64_t cgroup_room(const std::string& root) {
  uint64_t least = kNoLimit;
  for (const MemoryCgroup& cgroup : memory_cgroups(root)) {
    least = std::min(least, cgroup.version == 2 ? v2_room(cgroup) : v1_room(cgroup));
  }
  return least;
}

uint64_t rlimit_room(const std::string& root) {
  uint64_t least = kNoLimit;
#if __has_include(<sys/resource.h>) && __has_include(<unistd.h>)
  // statm: sizes in pages; the first is the address space, the sixth data and stack. It is read
  // only when a limit is set.
  std::string statm;
  std::vector<std::string_view> sizes;
  const long page = sysconf(_SC_PAGESIZE);
  for (const auto& [resource, field] :
       {std::pair{RLIMIT_AS, size_t{0}}, {RLIMIT_DATA, size_t{5}}}) {
    struct rlimit limit {};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
      continue;
    }
    if (statm.empty() && read_text(root + "/proc/self/statm", &statm)) {
      sizes = split(statm, ' ');
    }
    uint64_t pages = 0;
    const uint64_t used = field < sizes.size() && page > 0 && parse_number(sizes[field], &pages)
                              ? pages * static_cast<uint64_t>(page)
                              : 0;
    least = std::min(least, room(static_cast<uint64_t>(limit.rlim_cur), used));
  }
#else
  static_cast<void>(root);
#endif
  return least;
}

uint64_t image_limit(uint64_t image_bytes, uint64_t others) {
  constexpr uint64_t kLargeRun = uint64_t{16} << 20;
  // Each is below 2^63 (two images' worth of 32-bit sizes): the sum cannot wrap.
  const uint64_t room = image_bytes + others < kLargeRun
                            ? rlimit_room("")
                            : std::min(cgroup_room(""), rlimit_room(""));
  return room > others ? room - others : 0;
}

}  // namespace noise_detail
