// A run of C331 register accesses that stops at the first failure and keeps it, so a sequence
// reads as the list of its registers and still reports what went wrong.
#pragma once

#include <cstdint>

#include "c331/c331_drv.h"

struct RegWriter {
    c331_drv* drv;
    int fd;
    int rc = 0;  // 0, or the first failure (negative errno)

    void w(uint32_t descriptor, uint32_t value, uint32_t channel_offset = 0) {
        if (rc == 0) rc = drv->write_C331(fd, descriptor, value, channel_offset);
    }
    uint32_t r(uint32_t descriptor) {
        uint32_t v = 0;
        if (rc == 0) rc = drv->read_C331_checked(fd, descriptor, 0, &v);
        return v;
    }
    // Polls until (field & mask) == want, at most `polls` reads with pause_us between them;
    // -ETIMEDOUT (logged with `what`) when it never did.
    void wait(uint32_t descriptor, uint32_t mask, uint32_t want, int polls, uint32_t pause_us,
              const char* what) {
        if (rc == 0) rc = drv->wait_field(fd, descriptor, mask, want, polls, pause_us, what);
    }
};
