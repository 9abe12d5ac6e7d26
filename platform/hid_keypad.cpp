#include "platform/hid_keypad.h"

#include <hidapi/hidapi.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>

#include "core/thread_safety.h"
#include "platform/box.h"
#include "platform/own_files.h"

namespace platform {
namespace sim {

void SimKeypad::attach(bool on) {
    zem::MutexLocker lock(mutex_);
    attached_ = on;
}

void SimKeypad::failWrites(int n) {
    zem::MutexLocker lock(mutex_);
    fail_writes_ = n;
}

std::vector<SimKeypad::Report> SimKeypad::reports() const {
    zem::MutexLocker lock(mutex_);
    return reports_;
}

int SimKeypad::present() const {
    zem::MutexLocker lock(mutex_);
    return attached_ ? 1 : 0;
}

int SimKeypad::write(const uint8_t* report, size_t len) {
    zem::MutexLocker lock(mutex_);
    if (!attached_) return -ENODEV;
    if (fail_writes_ > 0) {
        --fail_writes_;
        return -EIO;
    }
    Report r{};
    for (size_t i = 0; i < r.size() && i < len; ++i) r[i] = report[i];
    reports_.push_back(r);
    if (!root().empty() && !refuseLink(path("/sim/keypad.log"))) {
        makeParentDirs("/sim/keypad.log");
        char line[32];
        std::snprintf(line, sizeof line, "%02X %02X %02X %02X %02X\n", r[0], r[1], r[2], r[3],
                      r[4]);
        std::ofstream(path("/sim/keypad.log"), std::ios::app) << line;
    }
    return int(len);
}

SimKeypad& simKeypad() {
    // One keypad per root: a test that starts over with a new root gets a fresh, detached one.
    static zem::Mutex m;
    static std::string owner GUARDED_BY(m);
    static std::unique_ptr<SimKeypad> keypad GUARDED_BY(m);
    zem::MutexLocker lock(m);
    if (!keypad || owner != root()) {
        static std::vector<std::unique_ptr<SimKeypad>> retired;  // may still be referenced
        if (keypad) retired.push_back(std::move(keypad));
        keypad = std::make_unique<SimKeypad>();
        owner = root();
    }
    return *keypad;
}

}  // namespace sim

int keypadPresent() {
    if (simulated()) return sim::simKeypad().present();
    if (!onBox()) return 0;
    hid_device_info* list = hid_enumerate(kKeypadVendor, kKeypadProduct);
    const int found = list ? 1 : 0;
    hid_free_enumeration(list);
    return found;
}

int keypadWrite(const uint8_t* report, size_t len) {
    if (simulated()) return sim::simKeypad().write(report, len);
    if (!onBox()) return -ENODEV;
    hid_device* dev = hid_open(kKeypadVendor, kKeypadProduct, nullptr);
    if (!dev) return -ENODEV;
    const int n = hid_write(dev, report, len);
    hid_close(dev);
    return n < 0 ? -EIO : n;
}

}  // namespace platform

int check_hiddev() {
    return platform::keypadPresent();
}
