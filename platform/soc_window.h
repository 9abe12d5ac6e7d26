// The SoC register window: 16-bit pad and identification words of the SoC, reached on the box
// by mmap of "/dev/mem" (after asking "/dev/msys" for the pad window), and on the simulated box
// by a word store that records what was written.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

class SocWindow {
public:
    virtual ~SocWindow() = default;
    // offset: byte offset of a 16-bit word from the window's base.
    virtual uint16_t read16(uint32_t offset) = 0;
    virtual void write16(uint32_t offset, uint16_t value) = 0;
};

enum class SocWindowKind {
    // "/dev/mem" mapped at physical 0x1F000000, 0x2B0000 bytes: the identification words.
    Identity,
    // The window that the msys driver names (request 0x5315): the GPIO pad words.
    Pads,
};

constexpr uint32_t kSocIdentityBase = 0x1F000000;
constexpr uint32_t kSocIdentitySize = 0x2B0000;

// 0 and the window in out, or a negative errno (the device did not open or map).
int openSocWindow(SocWindowKind kind, std::unique_ptr<SocWindow>& out);

}  // namespace platform
