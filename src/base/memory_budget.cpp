#include "base/memory_budget.hpp"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>

namespace keyhound {
namespace {

// Below this, a file fits anywhere keyhound runs; the limits are not read.
constexpr uint64_t kAlwaysFits = 64ULL << 20;

std::optional<uint64_t> address_space_left() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  uint64_t used = 0;
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  if (statm >> pages) used = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  uint64_t cap = limit.rlim_cur;
  return cap > used ? cap - used : 0;
}

std::optional<uint64_t> read_number(const std::string& path) {
  std::ifstream file(path);
  std::string word;
  if (!(file >> word) || word == "max") return std::nullopt;
  try {
    return std::stoull(word);
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<uint64_t> cgroup_left() {
  // cgroup v2: "0::/the/group".
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  while (std::getline(groups, line)) {
    if (!line.starts_with("0::")) continue;
    std::string directory = "/sys/fs/cgroup" + line.substr(3);
    auto limit = read_number(directory + "/memory.max");
    if (!limit) return std::nullopt;
    uint64_t used = read_number(directory + "/memory.current").value_or(0);
    return *limit > used ? *limit - used : 0;
  }
  return std::nullopt;
}

std::optional<uint64_t> system_available() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t kib = 0;
  std::string unit;
  while (meminfo >> key >> kib >> unit) {
    if (key == "MemAvailable:") return kib * 1024;
  }
  return std::nullopt;
}

std::string approximate(uint64_t bytes) {
  char text[32];
  if (bytes >= 1000ULL * 1000 * 1000) {
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
  } else {
    std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
  }
  return text;
}

std::atomic<unsigned> g_concurrent_parses{1};

}  // namespace

void set_concurrent_parses(unsigned count) { g_concurrent_parses.store(std::max(count, 1u)); }

std::optional<uint64_t> parse_memory_share(uint64_t size) {
  // The densest text measured takes about twice the usual estimate; below
  // that, even it fits anywhere keyhound runs, unless the process itself is
  // limited.
  // A limit on the address space is cheap to read and may be tight: it is
  // honoured for every file.
  std::optional<uint64_t> available =
      size * kWorstBytesPerSourceByte * 2 < kAlwaysFits ? address_space_left() : available_memory();
  if (!available) return std::nullopt;
  return *available / 4 * 3 / g_concurrent_parses.load();
}

std::string parse_refusal(uint64_t share) {
  return "file too large to analyse in the available memory (its parse needed more than " +
         approximate(share) + ")";
}

void release_unused_memory() { ::malloc_trim(0); }

std::optional<uint64_t> available_memory() {
  std::optional<uint64_t> least;
  for (auto candidate : {address_space_left(), cgroup_left(), system_available()}) {
    if (candidate) least = least ? std::min(*least, *candidate) : *candidate;
  }
  return least;
}

std::optional<std::string> analysis_refusal(uint64_t needed) {
  // As for a parse: a limit on the address space is cheap to read and is
  // honoured for every file; the other limits only where it could matter.
  std::optional<uint64_t> available =
      needed * 2 < kAlwaysFits ? address_space_left() : available_memory();
  if (!available) return std::nullopt;
  const uint64_t share = *available / 4 * 3 / g_concurrent_parses.load();
  if (needed <= share) return std::nullopt;
  return "file too large to analyse in the available memory (its analysis needs about " +
         approximate(needed) + ")";
}

std::optional<std::string> memory_refusal(uint64_t size, uint64_t bytes_per_byte) {
  uint64_t needed = size * bytes_per_byte;
  if (needed < kAlwaysFits) return std::nullopt;
  std::optional<uint64_t> available = available_memory();
  if (!available || needed <= *available) return std::nullopt;
  return "file too large to analyse in the available memory (needs about " +
         approximate(needed) + ")";
}

}  // namespace keyhound
