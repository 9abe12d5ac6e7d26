#include "core/repeat_count.h"

bool RepeatCount::due(uint64_t now_ms) const {
    return !told_ || now_ms < told_ms_ || now_ms - told_ms_ >= kLogRepeatMs;
}

bool RepeatCount::tell(uint64_t now_ms, uint32_t* before) {
    if (!due(now_ms)) {
        ++counted_;
        return false;
    }
    *before = restart(now_ms);
    return true;
}

uint32_t RepeatCount::take(uint64_t now_ms, bool at_end) {
    if (counted_ == 0 || (!at_end && !due(now_ms))) return 0;
    return restart(now_ms);
}

uint32_t RepeatCount::restart(uint64_t now_ms) {
    const uint32_t n = counted_;
    counted_ = 0;
    told_ = true;
    told_ms_ = now_ms;
    return n;
}
