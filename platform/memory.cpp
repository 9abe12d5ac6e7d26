#include "platform/memory.h"

#include <unistd.h>

#include <cstdio>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void releaseFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

void limitHeaps(int n) {
#if defined(__GLIBC__)
    ::mallopt(M_ARENA_MAX, n);
#else
    (void)n;
#endif
}

uint64_t residentBytes() {
    // The process's own figure from procfs, not a file of the box: no root prefix.
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long long total = 0, resident = 0;
    const int n = std::fscanf(f, "%llu %llu", &total, &resident);
    std::fclose(f);
    const long page = ::sysconf(_SC_PAGESIZE);
    return n == 2 && page > 0 ? uint64_t(resident) * uint64_t(page) : 0;
}

}  // namespace platform
