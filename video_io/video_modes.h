// Video timings of the standard television and monitor modes (CTA-861 video identification
// codes), used to describe a requested mode in an EDID and to feed the simulated inputs.
#pragma once

#include <cstdint>

struct VideoMode {
    uint8_t vic;  // CTA-861 video identification code, 0 when the mode has none
    uint16_t hact, hfront, hsync, hback;
    uint16_t vact, vfront, vsync, vback;  // per field when interlaced
    bool hpos, vpos;                      // sync polarity positive
    bool interlaced;
    uint16_t rate;      // frames (progressive) or fields (interlaced) per second
    uint32_t pclk_khz;  // pixel clock
    uint16_t htotal() const { return uint16_t(hact + hfront + hsync + hback); }
    uint16_t vtotal() const { return uint16_t(vact + vfront + vsync + vback); }
};

// Per CTA-861: VIC, active/front/sync/back per axis, polarities, interlace, rate, clock.
inline constexpr VideoMode kStandardModes[] = {
    {1, 640, 16, 96, 48, 480, 10, 2, 33, false, false, false, 60, 25175},
    {4, 1280, 110, 40, 220, 720, 5, 5, 20, true, true, false, 60, 74250},
    {19, 1280, 440, 40, 220, 720, 5, 5, 20, true, true, false, 50, 74250},
    {16, 1920, 88, 44, 148, 1080, 4, 5, 36, true, true, false, 60, 148500},
    {31, 1920, 528, 44, 148, 1080, 4, 5, 36, true, true, false, 50, 148500},
    {34, 1920, 88, 44, 148, 1080, 4, 5, 36, true, true, false, 30, 74250},
    {33, 1920, 528, 44, 148, 1080, 4, 5, 36, true, true, false, 25, 74250},
    {32, 1920, 638, 44, 148, 1080, 4, 5, 36, true, true, false, 24, 74250},
    {5, 1920, 88, 44, 148, 540, 2, 5, 15, true, true, true, 60, 74250},
    {20, 1920, 528, 44, 148, 540, 2, 5, 15, true, true, true, 50, 74250},
    {6, 1440, 38, 124, 114, 240, 4, 3, 15, false, false, true, 60, 27000},
    {21, 1440, 24, 126, 138, 288, 2, 3, 19, false, false, true, 50, 27000},
    {95, 3840, 176, 88, 296, 2160, 8, 10, 72, true, true, false, 30, 297000},
    {94, 3840, 1056, 88, 296, 2160, 8, 10, 72, true, true, false, 25, 297000},
    {93, 3840, 1276, 88, 296, 2160, 8, 10, 72, true, true, false, 24, 297000},
    {97, 3840, 176, 88, 296, 2160, 8, 10, 72, true, true, false, 60, 594000},
    {96, 3840, 1056, 88, 296, 2160, 8, 10, 72, true, true, false, 50, 594000},
};

// The standard mode with this width, height (frame lines) and rate, or nullptr.
inline const VideoMode* findStandardMode(int width, int height, int rate, bool interlaced) {
    for (const auto& m : kStandardModes) {
        const int frame_lines = m.interlaced ? m.vact * 2 : m.vact;
        if (m.hact == width && frame_lines == height && m.rate == rate &&
            m.interlaced == interlaced) {
            return &m;
        }
    }
    return nullptr;
}
