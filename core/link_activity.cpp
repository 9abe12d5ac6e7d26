#include "core/link_activity.h"

#include "core/globals.h"
#include "core/zem_ram_para.h"

zem::Mutex link_activity::mutex_;
thread_local link_activity::Receiver* link_activity::current_ = nullptr;

link_activity& link_activity::get() {
    static link_activity activity;
    return activity;
}

link_activity::Receiver::Receiver(Kind kind) : clock_(std::make_shared<Clock>(kind)) {}

void link_activity::Receiver::drained() {
    get().input_drained(*this);
}

link_activity::Frame::Frame(Receiver* receiver, uint64_t owner)
    : receiver_(receiver), owner_(owner) {
    if (receiver_) get().frame_begins(*receiver_);
}

link_activity::Frame::~Frame() {
    if (receiver_) get().frame_ends(*receiver_, owner_);
}

void link_activity::frame_begins(Receiver& r) {
    current_ = &r;
    const uint32_t now = G_timeTicks.load();
    zem::MutexLocker lock(mutex_);
    Clock& clock = *r.clock_;
    if (!clock.drained) return;
    clock.drained = false;
    clock.stood = now;
}

void link_activity::frame_ends(Receiver& r, uint64_t owner) {
    current_ = nullptr;
    const uint32_t now = G_timeTicks.load();
    zem::MutexLocker lock(mutex_);
    const auto o = owners_.find(owner);
    if (o != owners_.end()) heard(o->second, r.clock_, now);
}

void link_activity::input_drained(Receiver& r) {
    {
        zem::MutexLocker lock(mutex_);
        r.clock_->drained = true;
    }
    if (hooks.drained) hooks.drained();
}

void link_activity::heard(Owner& o, const std::shared_ptr<Clock>& clock, uint32_t now) {
    if (o.clock->kind == clock->kind) o.clock = clock;
    o.heard = now;
}

uint64_t link_activity::hold(uint64_t owner) {
    // Not on a receiver's frame: a TCP client's, the panel's.
    if (!current_) return kNone;
    const std::shared_ptr<Clock>& clock = current_->clock_;
    const uint32_t now = G_timeTicks.load();
    zem::MutexLocker lock(mutex_);
    // Its frame has not ended yet: the request it records is the owner heard (after its
    // receiver's clock stood still), so a tick that decides after it finds no silence.
    const auto watched = owners_.find(owner);
    if (watched != owners_.end()) {
        heard(watched->second, clock, now);
        return kNone;
    }
    const bool address = clock->kind == Kind::Addresses;
    uint64_t room = kNone;
    if (address && addresses_ >= kMaxAddresses) {
        room = longest_silent_address(now);
        forget(room);
    }
    owners_[owner] = {clock, now, next_order_++};
    addresses_ += address;
    watched_ = owners_.size();
    return room;
}

uint64_t link_activity::longest_silent_address(uint32_t now) const {
    const Owner* longest = nullptr;
    uint64_t which = kNone;
    for (const auto& [owner, o] : owners_) {
        if (o.clock->kind != Kind::Addresses) continue;
        const bool longer = !longest || silence(o, now) > silence(*longest, now) ||
                            (silence(o, now) == silence(*longest, now) && o.order < longest->order);
        if (!longer) continue;
        longest = &o;
        which = owner;
    }
    return which;
}

void link_activity::forget(uint64_t owner) {
    const auto o = owners_.find(owner);
    if (o == owners_.end()) return;
    addresses_ -= o->second.clock->kind == Kind::Addresses;
    owners_.erase(o);
    watched_ = owners_.size();
}

void link_activity::release(uint64_t owner) {
    if (watched_.load() == 0) return;
    zem::MutexLocker lock(mutex_);
    forget(owner);
}

void link_activity::release_all() {
    zem::MutexLocker lock(mutex_);
    owners_.clear();
    addresses_ = 0;
    watched_ = 0;
}

std::vector<uint64_t> link_activity::looking_silent(uint32_t now) const {
    std::vector<uint64_t> silent;
    zem::MutexLocker lock(mutex_);
    for (const auto& [owner, o] : owners_)
        if (silence(o, now) >= int32_t(kSilentTicks)) silent.push_back(owner);
    return silent;
}

bool link_activity::silent(uint64_t owner, uint32_t now) const {
    zem::MutexLocker lock(mutex_);
    const auto o = owners_.find(owner);
    return o != owners_.end() && silence(o->second, now) >= int32_t(kSilentTicks);
}

void link_activity::watch(uint32_t now) {
    if (watched_.load() == 0) return;
    // The look: the C331 mutex, which every PC's write takes, is taken only past it.
    const std::vector<uint64_t> looking = looking_silent(now);
    if (looking.empty()) return;
    if (hooks.before_silence_lock) hooks.before_silence_lock();
    if (ZemRamPara* store = ZemRamPara::p_zemrampara_config)
        store->take_silent_clients(looking, now);
}
