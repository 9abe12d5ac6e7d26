// The USB front keypad (HID, vendor 0x28E9, product 0x0380): presence at start and its 5-byte
// LED report. hidapi on the box; on the simulated box an optional keypad model that records
// the reports it was sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/thread_safety.h"

namespace platform {

constexpr uint16_t kKeypadVendor = 0x28E9;
constexpr uint16_t kKeypadProduct = 0x0380;
constexpr size_t kKeypadReportSize = 5;

// 1 when the keypad is plugged in, else 0.
int keypadPresent();
// Opens the keypad, writes the report and closes it again. The count written, -ENODEV when the
// keypad does not open, or another negative value when the write failed.
int keypadWrite(const uint8_t* report, size_t len);

namespace sim {

class SimKeypad {
public:
    using Report = std::array<uint8_t, kKeypadReportSize>;

    void attach(bool on = true);
    // The next n writes fail as a broken USB transfer would.
    void failWrites(int n);
    std::vector<Report> reports() const;

    int present() const;
    int write(const uint8_t* report, size_t len);

private:
    mutable zem::Mutex mutex_;
    bool attached_ GUARDED_BY(mutex_) = false;
    int fail_writes_ GUARDED_BY(mutex_) = 0;
    std::vector<Report> reports_ GUARDED_BY(mutex_);
};

// The simulated keypad, detached until attach(); a fresh one for each simulated box root.
SimKeypad& simKeypad();

}  // namespace sim
}  // namespace platform

// Probes for the front keypad at start-up: 1 when present, else 0.
int check_hiddev();
