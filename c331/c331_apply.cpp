// The producer side of the C331 apply: the mutex and the set of pending refresh ids.
#include <bitset>

#include "c331/c331_manage.h"

c331_manage* c331_manage::p_c331_manage = nullptr;
zem::Mutex c331_manage::c331_mutex;
#ifdef ZEM_LOCK_HOLDS
zem::LockHolds c331_manage::c331_holds;
[[maybe_unused]] static const bool g_c331_holds_watched =
    (c331_manage::c331_mutex.holds = &c331_manage::c331_holds) != nullptr;
#endif
zem::ConditionVariable c331_manage::apply_cv;
std::atomic<c331_manage::UserWordFn> c331_manage::fpga_brightness_changed{nullptr};
std::atomic<c331_manage::UserWordFn> c331_manage::fpga_close_led_changed{nullptr};

namespace {
std::bitset<256> g_pending_apply GUARDED_BY(c331_manage::c331_mutex);
}

void c331_manage::raise_apply(uint8_t refresh_id) {
    if (refresh_id == 0) return;
    g_pending_apply.set(refresh_id);
    apply_cv.notify_all();
}

bool c331_manage::apply_pending() {
    return g_pending_apply.any();
}

uint8_t c331_manage::take_apply() {
    for (size_t id = 1; id < g_pending_apply.size(); ++id) {
        if (g_pending_apply.test(id)) {
            g_pending_apply.reset(id);
            return static_cast<uint8_t>(id);
        }
    }
    return 0;
}

std::bitset<256> c331_manage::take_all_apply() {
    const std::bitset<256> ids = g_pending_apply;
    g_pending_apply.reset();
    return ids;
}
