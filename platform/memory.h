// The process's own memory: giving freed heap back to the kernel, and the resident size that
// the kernel counts against the box's little memory.
#pragma once

#include <cstdint>

namespace platform {

// Returns the C library's free heap pages to the kernel where it keeps them (glibc); nothing
// elsewhere.
void releaseFreeMemory();
// Lets the C library keep at most n heaps for the process's threads (glibc makes up to eight
// per core, one per busy thread, and gives back none of their free pages); nothing elsewhere.
void limitHeaps(int n);
// The process's resident bytes, 0 when the kernel does not tell.
uint64_t residentBytes();

}  // namespace platform
