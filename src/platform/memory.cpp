#include "platform/memory.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace mirel {
namespace {

// A "Name:   123 kB" line of /proc/meminfo, in bytes.
bool MeminfoValue(const char* line, const char* name, uint64_t& bytes) {
  const size_t length = std::strlen(name);
  if (std::strncmp(line, name, length) != 0 || line[length] != ':') return false;
  unsigned long long kib = 0;
  if (std::sscanf(line + length + 1, "%llu", &kib) != 1) return false;
  bytes = static_cast<uint64_t>(kib) * 1024;
  return true;
}

}  // namespace

void ReleaseFreedMemory() { ::malloc_trim(0); }

void ReturnLargeBlocksWhenFreed() { ::mallopt(M_MMAP_THRESHOLD, 1 << 20); }

uint64_t AvailableMemory() {
  uint64_t available = UINT64_MAX;
  // Plain stdio: this runs before any FileSystem exists for the file, and
  // /proc/meminfo is no user data.
  if (std::FILE* meminfo = std::fopen("/proc/meminfo", "re")) {
    uint64_t memory = 0, swap = 0, value = 0;
    bool haveMemory = false;
    char line[256];
    while (std::fgets(line, sizeof line, meminfo)) {
      if (MeminfoValue(line, "MemAvailable", value)) {
        memory = value;
        haveMemory = true;
      } else if (MeminfoValue(line, "SwapFree", value)) {
        swap = value;
      }
    }
    std::fclose(meminfo);
    if (haveMemory) available = memory + swap;
  }
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    uint64_t used = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "re")) {
      unsigned long long pages = 0;
      if (std::fscanf(statm, "%llu", &pages) == 1) {
        used = static_cast<uint64_t>(pages) * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
      }
      std::fclose(statm);
    }
    const uint64_t cap = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
    if (cap < available) available = cap;
  }
  return available;
}

}  // namespace mirel
