#include "comm/led_size.h"

#include <mutex>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_manage.h"

namespace {

// The LED screen size as the C331 thread last applied it, once it runs; before that, as last
// saved. Not the shadow alone: a refresh between the write and the handshake would hide the
// change. Caller holds the C331 mutex, which guards the applied copy.
uint16_t applied16(const ZemRamPara* store, int addr) {
    const c331_manage* c = c331_manage::p_c331_manage;
    if (!c || c->thread_state.load() != 8) return store->shadow16(addr);
    return c->applied16(addr);
}

}  // namespace

bool led_fpgas_running(fpga_manage* f) {
    if (!f) return false;
    std::lock_guard<std::mutex> lock(f->mirror_mutex);
    return f->MCU_REG_func[0][80] == 3 && f->MCU_REG_func[1][80] == 3;
}

void led_size_handshake_locked(const ZemRamPara* store, bool fpgas_run) {
    const bool changed =
        store->rd16(1378) != applied16(store, 1378) || store->rd16(1380) != applied16(store, 1380);
    if (!changed || !fpgas_run) return;
    std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
    g_set_led_para = 1;
    g_set_led_setup = 0;
}
