#include "time_factor.h"

#include <cmath>
#include <cstdlib>

double timeFactor() {
    static const double factor = [] {
        const char* text = std::getenv("ZEM_TEST_TIME_FACTOR");
        char* end = nullptr;
        const double f = text ? std::strtod(text, &end) : 1.0;
        return text && end != text && *end == '\0' && f >= 1.0 && f <= 1000.0 ? f : 1.0;
    }();
    return factor;
}

int hangMs(int ms) {
    return int(std::ceil(ms * timeFactor()));
}

int hangSeconds(int seconds) {
    return int(std::ceil(seconds * timeFactor()));
}

std::chrono::milliseconds hangBound(std::chrono::milliseconds bound) {
    return std::chrono::milliseconds(
        static_cast<std::chrono::milliseconds::rep>(std::ceil(bound.count() * timeFactor())));
}
