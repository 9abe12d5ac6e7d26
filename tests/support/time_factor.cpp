#include "time_factor.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {
// n scaled, rounded up, within an int.
int scaled(double n) {
    return int(std::min(std::ceil(n * timeFactor()), double(INT_MAX)));
}
}  // namespace

double timeFactor() {
    static const double factor = [] {
        const char* text = std::getenv("ZEM_TEST_TIME_FACTOR");
        char* end = nullptr;
        const double f = text ? std::strtod(text, &end) : 1.0;
        return text && end != text && *end == '\0' && std::isfinite(f) && f >= 1.0 ? f : 1.0;
    }();
    return factor;
}

int hangMs(int ms) {
    return scaled(ms);
}

int hangSeconds(int seconds) {
    return scaled(seconds);
}

std::chrono::milliseconds hangBound(std::chrono::milliseconds bound) {
    return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(
        std::ceil(double(bound.count()) * timeFactor())));
}
