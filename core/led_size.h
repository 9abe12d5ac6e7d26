// The LED screen sizes the box drives: what the LED set-up page lets a user enter and what the
// box applies, in the parameter RAM's words 1376 (splice), 1378 and 1380 (width, height), 1412
// and 1414 (output 1).
#pragma once

#include <cstdint>
#include <functional>

#include "c331/c331_manage.h"
#include "core/thread_safety.h"

class ZemRamPara;

namespace led_size {

constexpr int kRamSplice = 1376, kRamWidth = 1378, kRamHeight = 1380;
constexpr int kRamOut1Width = 1412, kRamOut1Height = 1414;
constexpr int kRamWords[5] = {kRamSplice, kRamWidth, kRamHeight, kRamOut1Width, kRamOut1Height};

enum : uint8_t { kVertical = 2, kHorizontal = 3, kCopy = 4 };  // splice modes
constexpr int kMinSide = 512;
constexpr int kMaxSide = 16376;
constexpr int kCopyMaxWidth = 8188;
constexpr int32_t kMaxArea = 13107200;
// Output 1 of a split: the page's halving of the least side (512 wide: 256 and 256).
constexpr int kMinOutput = kMinSide / 2;

// Whether the five words describe a screen the box drives: each side 512..16376, at most
// 13,107,200 pixels, at most 8188 wide in copy splice, output 1 from 256 up to the width
// (horizontal) or the height (vertical), output 2 the rest (none included), and one of the
// three splice modes.
constexpr bool allowed(int splice, int w, int h, int out1w, int out1h) {
    const auto side = [](int v) { return v >= kMinSide && v <= kMaxSide; };
    if (!side(w) || !side(h) || int64_t(w) * h > kMaxArea) return false;
    switch (splice) {
        case kHorizontal:
            return out1w >= kMinOutput && out1w <= w;
        case kVertical:
            return out1h >= kMinOutput && out1h <= h;
        case kCopy:
            return w <= kCopyMaxWidth;
        default:
            return false;
    }
}

// The five words as the RAM holds them.
bool allowed(const ZemRamPara& ram) REQUIRES(c331_manage::c331_mutex);

// A set outside the limits that differs from the set `last` gives (its word at a RAM address)
// goes back whole to that set, with one line to the terminal that `who` begins. True when it
// was refused. Caller holds the C331 mutex.
bool refuse(ZemRamPara* ram, const std::function<uint16_t(int)>& last, const char* who)
    REQUIRES(c331_manage::c331_mutex);

// The check every path that takes a size makes (register 11, the C331 apply, the panel's
// Apply, a recall, a factory reset): a set the box drives becomes the set in force; any other
// goes back to it. True when it was refused. Caller holds the C331 mutex.
bool take_or_refuse(ZemRamPara* ram, const char* who) REQUIRES(c331_manage::c331_mutex);

}  // namespace led_size
