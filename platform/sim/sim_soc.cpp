#include "platform/sim/sim_soc.h"

namespace platform::sim {
namespace {

class SimSocWindow : public SocWindow {
public:
    explicit SimSocWindow(SimSoc& soc) : soc_(soc) {}
    uint16_t read16(uint32_t offset) override { return soc_.programRead(offset); }
    void write16(uint32_t offset, uint16_t value) override { soc_.programWrite(offset, value); }

private:
    SimSoc& soc_;
};

}  // namespace

SimSoc::SimSoc() {
    // Any box's identity will do; these are the words of a documented example id.
    setIdentity(0x1234, 0x5678, 0x9abc);
    setWord(kIdControl, 0x0100);
}

int SimSoc::open(SocWindowKind kind, std::unique_ptr<SocWindow>& out) {
    const int err = kind == SocWindowKind::Identity ? identity_open_error : pads_open_error;
    if (err != 0) return err;
    out = std::make_unique<SimSocWindow>(*this);
    return 0;
}

uint16_t SimSoc::word(uint32_t offset) const {
    zem::MutexLocker lock(mutex_);
    auto it = words_.find(offset);
    return it == words_.end() ? 0 : it->second;
}

void SimSoc::setWord(uint32_t offset, uint16_t value) {
    zem::MutexLocker lock(mutex_);
    words_[offset] = value;
}

void SimSoc::setIdentity(uint16_t w0, uint16_t w1, uint16_t w2) {
    setWord(kIdWord0, w0);
    setWord(kIdWord1, w1);
    setWord(kIdWord2, w2);
}

std::vector<SimSoc::Write> SimSoc::writes() const {
    zem::MutexLocker lock(mutex_);
    return writes_.snapshot();
}

void SimSoc::clearWrites() {
    zem::MutexLocker lock(mutex_);
    writes_.clear();
}

void SimSoc::onWrite(std::function<void(uint32_t, uint16_t)> hook) {
    zem::MutexLocker lock(mutex_);
    hooks_.push_back(std::move(hook));
}

void SimSoc::programWrite(uint32_t offset, uint16_t value) {
    std::vector<std::function<void(uint32_t, uint16_t)>> hooks;
    {
        zem::MutexLocker lock(mutex_);
        words_[offset] = value;
        writes_.push({offset, value});
        hooks = hooks_;
    }
    for (auto& hook : hooks) hook(offset, value);
}

}  // namespace platform::sim
