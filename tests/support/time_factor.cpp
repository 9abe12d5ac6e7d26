#include "time_factor.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ZEM_TEST_TIME_FACTOR in thousandths, read as scripts/lib/time_factor.sh reads it: a number of
// at least 1, below a billion, with at most 3 decimals; -1 for anything else.
int64_t thousandths(const char* text) {
    const char* dot = std::strchr(text, '.');
    const size_t whole = dot ? size_t(dot - text) : std::strlen(text);
    const size_t decimals = dot ? std::strlen(dot + 1) : 0;
    if (whole < 1 || whole > 9 || (dot && (decimals < 1 || decimals > 3))) return -1;
    int64_t th = 0;
    for (size_t i = 0; i < whole; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        th = th * 10 + (text[i] - '0');
    }
    th *= 1000;
    for (size_t i = 0, scale = 100; i < decimals; ++i, scale /= 10) {
        if (dot[1 + i] < '0' || dot[1 + i] > '9') return -1;
        th += (dot[1 + i] - '0') * int64_t(scale);
    }
    return th >= 1000 ? th : -1;
}

int64_t factorThousandths() {
    static const int64_t th = [] {
        const char* text = std::getenv("ZEM_TEST_TIME_FACTOR");
        if (!text || !*text) return int64_t(1000);
        const int64_t read = thousandths(text);
        if (read > 0) return read;
        std::fprintf(stderr,
                     "error: ZEM_TEST_TIME_FACTOR=%s: the factor must be a number of at least 1, "
                     "below a billion, with at most 3 decimals\n",
                     text);
        std::exit(1);
    }();
    return th;
}

// n scaled, rounded up, within an int.
int scaled(int64_t n) {
    return int(std::min((n * factorThousandths() + 999) / 1000, int64_t(INT_MAX)));
}

}  // namespace

double timeFactor() {
    return double(factorThousandths()) / 1000;
}

int hangMs(int ms) {
    return scaled(ms);
}

int hangSeconds(int seconds) {
    return scaled(seconds);
}

std::chrono::milliseconds hangBound(std::chrono::milliseconds bound) {
    return std::chrono::milliseconds(scaled(bound.count()));
}
