// MD5 digest (RFC 1321) of the PC file transfer: reset when a file starts, update with each
// piece received, digest at the end.
#pragma once

#include <cstdint>

class MD5 {
public:
    MD5() { reset(); }

    // Initial chaining values, zero bit count, not finished.
    void reset();
    // Adds len bytes; any number of calls of any lengths.
    void update(void const* data, unsigned int len);
    // The 16 digest bytes. The first call after reset finishes on a copy of the running state
    // (which stays as it was); later calls return the same bytes until the next reset.
    const uint8_t* digest();

    uint32_t state[4];
    uint64_t count;  // bits processed
    uint8_t buffer[64];
    uint8_t result[16];
    bool finished;

private:
    // Runs the compression function over n whole 64-byte blocks.
    static void transform(uint32_t st[4], const uint8_t* blocks, uint64_t n);
};

// The digest of the PC file transfer.
extern MD5 md5;
