// EDIDs the inputs announce to their sources: built for a requested width, height and rate,
// and checked before an uploaded table is written to an input's EEPROM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video_io/video_modes.h"

namespace edid {

constexpr size_t kBlockSize = 128;

// The mode announced for a request: the standard timing when there is one, else a
// reduced-blanking timing. false when no EDID can describe it (size or clock out of range).
bool modeForRequest(int width, int height, int rate, VideoMode& out);

// A complete EDID (base block, and a CTA-861 extension when the mode is a television mode or
// needs more than a single DVI link) announcing the mode as preferred; empty when the request
// can't be described.
std::vector<uint8_t> build(int width, int height, int rate);

// The request an EDID answers: the frame size and rate of its preferred (first detailed)
// timing; for an EDID that build() made, exactly the request it was built for. false when data
// is not a whole EDID or names no detailed timing first.
bool requestOf(const uint8_t* data, size_t size, int& width, int& height, int& rate);

// True when data is a whole EDID: 128 bytes per block, the fixed header, the extension count
// matching the size, and every block summing to 0.
bool valid(const uint8_t* data, size_t size);

}  // namespace edid
