#include "platform/sim/sim_i2c.h"

#include <cerrno>
#include <map>

#include "core/thread_safety.h"

namespace platform::sim {
namespace {

struct Registry {
    zem::Mutex mutex;
    std::map<std::pair<std::string, uint8_t>, std::shared_ptr<I2cDevice>> devices GUARDED_BY(mutex);
};

// Never destroyed: worker threads may still use the bus while the process exits.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

class SimI2cBus : public I2cBus {
public:
    explicit SimI2cBus(std::string node) : node_(std::move(node)) {}
    int transfer(uint8_t addr, const uint8_t* w, size_t wlen, uint8_t* r, size_t rlen) override {
        auto device = i2cDevice(node_, addr);
        if (!device) return -ENXIO;  // no acknowledge from the address
        return device->transfer(w, wlen, r, rlen);
    }

private:
    std::string node_;
};

}  // namespace

void attachI2cDevice(const std::string& node, uint8_t addr, std::shared_ptr<I2cDevice> device) {
    auto& reg = registry();
    zem::MutexLocker lock(reg.mutex);
    if (device) {
        reg.devices[{node, addr}] = std::move(device);
    } else {
        reg.devices.erase({node, addr});
    }
}

std::shared_ptr<I2cDevice> i2cDevice(const std::string& node, uint8_t addr) {
    auto& reg = registry();
    zem::MutexLocker lock(reg.mutex);
    auto it = reg.devices.find({node, addr});
    return it == reg.devices.end() ? nullptr : it->second;
}

void detachAllI2cDevices() {
    auto& reg = registry();
    zem::MutexLocker lock(reg.mutex);
    reg.devices.clear();
}

int openSimI2cBus(const std::string& node, std::unique_ptr<I2cBus>& out) {
    out = std::make_unique<SimI2cBus>(node);
    return 0;
}

int SimRegisterChip::transfer(const uint8_t* w, size_t wlen, uint8_t* r, size_t rlen) {
    zem::MutexLocker lock(mutex_);
    if (fail_errno != 0) return fail_errno;
    if (fail_count > 0) {
        --fail_count;
        return -EIO;
    }
    if (wlen > 0) pointer_ = w[0];
    for (size_t i = 1; i < wlen; ++i) {
        regs_[pointer_] = w[i];
        writes_.push({pointer_, w[i]});
        onProgramWrite(pointer_, w[i]);
        ++pointer_;
    }
    for (size_t i = 0; i < rlen; ++i) r[i] = regs_[pointer_++];
    return 0;
}

uint8_t SimRegisterChip::reg(uint8_t index) const {
    zem::MutexLocker lock(mutex_);
    return regs_[index];
}

void SimRegisterChip::setReg(uint8_t index, uint8_t value) {
    zem::MutexLocker lock(mutex_);
    regs_[index] = value;
}

std::vector<SimRegisterChip::RegWrite> SimRegisterChip::writes() const {
    zem::MutexLocker lock(mutex_);
    return writes_.snapshot();
}

void SimRegisterChip::clearWrites() {
    zem::MutexLocker lock(mutex_);
    writes_.clear();
}

}  // namespace platform::sim
