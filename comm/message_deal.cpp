// The command table and the RAM and register commands of the PC protocol.
#include "comm/message_deal.h"

#include <cstdio>
#include <cstring>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm/field_reader.h"
#include "comm/pc_update.h"
#include "comm/protocol_phy.h"
#include "core/globals.h"
#include "core/led_size.h"
#include "core/led_size_handshake.h"
#include "core/sync_update.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"

using namespace comm;

zem::Mutex message_deal::file_mutex;
thread_local LinkId message_deal::request_owner = 0;

namespace {

int unknown_command(uint8_t* buf, uint32_t) {
    return comm_status(buf, kUnknown);
}

struct Entry {
    uint8_t cmd;
    message_deal::Handler fn;
    bool configuration;  // runs under ZemRamPara::command_mutex
};

// The one table of box commands. The others guard their own state: the store and the RAM
// under the C331 and store mutexes, the transfer under file_mutex, the flash under the
// chip's flash lock, the register file per register.
const Entry kTable[] = {
    {kCmdWriteRam, message_deal::write_ram, false},
    {kCmdReadRam, message_deal::read_ram, false},
    {kCmdEraseFlash, message_deal::cmd_erase_flash, false},
    {kCmdWriteFlash, message_deal::cmd_write_flash, false},
    {kCmdReadFlash, message_deal::cmd_read_flash, false},
    {kCmdFileStart, message_deal::write_file_start, false},
    {kCmdFileData, message_deal::write_file_data, false},
    {kCmdFileEnd, message_deal::write_file_end, false},
    {kCmdFileDelete, message_deal::delete_file_name, false},
    {kCmdDeviceInfo, message_deal::get_device_info, false},
    {kCmdNetSet, message_deal::net_ip_set, true},
    {kCmdMacSet, message_deal::init_MAC_address, true},
    {kCmdNetSearch, message_deal::net_eth_search, false},
    {kCmdBarcode, message_deal::set_barcode, true},
    {kCmdRtcSet, message_deal::write_rtc_time, true},
    {kCmdRunTime, message_deal::Time_to_RAM, false},
    {kCmdWriteReg, message_deal::write_register, false},
};

const Entry* find_entry(uint8_t cmd) {
    for (const Entry& e : kTable)
        if (e.cmd == cmd) return &e;
    return nullptr;
}

// A resolved protocol address: its area, where in it, and how many bytes follow it there. The
// store's areas are reached by offset, under their locks (copy_stored).
struct Area {
    enum Kind { kNone, kRam, kMode, kStatus, kCardTotal, kFpga } kind = kNone;
    uint32_t slot = 0;  // the user mode (kMode)
    uint32_t off = 0;   // the address's offset in its area (store areas only)
    uint32_t room = 0;  // bytes from the address to the area's end
    bool stored() const { return kind == kRam || kind == kMode || kind == kStatus; }
};

Area resolve(uint32_t addr) {
    Area a;
    if (!ZemRamPara::p_zemrampara_config) return a;
    if (addr < uint32_t(ZemRamPara::kRamSize)) {
        a = {Area::kRam, 0, addr, ZemRamPara::kRamSize - addr};
    } else if (addr >= kModeBase && addr < kModeEnd) {
        const uint32_t slot = (addr >> 12) - 1, off = addr & 0xFFF;
        a = {Area::kMode, slot, off, kModeSpan - off};
    } else if (addr >= kStatusBase && addr - kStatusBase < uint32_t(ZemRamPara::kStatusSize)) {
        const uint32_t off = addr - kStatusBase;
        a = {Area::kStatus, 0, off, ZemRamPara::kStatusSize - off};
    } else if (addr >= kCardTotalBase && addr - kCardTotalBase < 4) {
        a = {Area::kCardTotal, 0, 0, 4 - (addr - kCardTotalBase)};
    } else if ((addr & 0xFF000000) == kFpgaBase) {
        a.kind = Area::kFpga;  // the FPGA manager checks function, FPGA and range
    }
    return a;
}

// n bytes of a store's area (n <= a.room) to out. RAM and user modes change under the C331
// mutex, the timing words and the status block's input bits under the store's own.
void copy_stored(const ZemRamPara& store, const Area& a, uint8_t* out, uint32_t n)
    REQUIRES(c331_manage::c331_mutex, store.mutex) {
    if (a.kind == Area::kRam)
        store.copy_ram_out(a.off, out, n);
    else if (a.kind == Area::kMode)
        std::memcpy(out, store.mode_ram[a.slot].data() + a.off, n);
    else
        std::memcpy(out, store.status.data() + a.off, n);
}

void before_store_lock() {
    if (const auto& hook = comm_hooks::get().before_store_lock) hook();
}

// FPGA address fields: function << 16 | fpga << 12 | offset.
int fpga_function(uint32_t addr) {
    return int((addr >> 16) & 0xFF);
}
int fpga_number(uint32_t addr) {
    return int((addr >> 12) & 0xF);
}

}  // namespace

message_deal::Handler message_deal::handler(uint8_t cmd) {
    const Entry* e = find_entry(cmd);
    return e ? e->fn : unknown_command;
}

int message_deal::message_group_deal(uint8_t* buf, uint32_t len) {
    if (len < kMinBody) return 0;
    // The box is stopping: what it takes now may not reach its files.
    if (g_frames_refused) return comm_status(buf, kUnavailable);
    const Entry* e = find_entry(buf[9]);
    if (!e) return unknown_command(buf, len);
    if (!e->configuration) return e->fn(buf, len);
    zem::MutexLocker lock(ZemRamPara::command_mutex);
    return e->fn(buf, len);
}

int message_deal::write_ram(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    const uint32_t addr = r.u32();
    const uint16_t n = r.u16();
    r.u16();
    const uint8_t* data = r.bytes(n);
    if (r.overflow()) return comm_status(buf, kBadLength);
    if (r.remaining() != 0) return comm_status(buf, kRefused);  // data past the length
    const Area a = resolve(addr);
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    int rc = 1;
    int displaced = 0;  // requests carried out to make room for this one
    if (a.kind == Area::kFpga) {
        const auto& write = comm_hooks::get().table_write;
        if (!write) return comm_status(buf, kUnavailable);
        rc = fpga_number(addr) > 1
                 ? 1
                 : write(fpga_function(addr), fpga_number(addr), addr & 0xFFF, data, n);
    } else if (a.kind == Area::kRam && n <= a.room) {
        before_store_lock();
        // The C331 thread compares RAM with what it applied under this mutex; the PC has the
        // change applied by a later register 11 write.
        zem::MutexLocker lock(c331_manage::c331_mutex);
        // Asked again under the lock the stop's last copy of the RAM takes: a write that got
        // in before that copy is in it, and one after it is refused.
        if (g_frames_refused) return comm_status(buf, kUnavailable);
        // A save request is recorded for this link's owner when answered, for its next
        // register 11.
        rc = store->pc_write(data, n, addr, request_owner, &displaced);
    } else if (a.kind == Area::kMode && n <= a.room) {
        before_store_lock();
        // Reads and recalls on the other links copy the slots under the same mutex.
        zem::MutexLocker lock(c331_manage::c331_mutex);
        if (g_frames_refused) return comm_status(buf, kUnavailable);
        rc = store->ZemModeUserRamParaDeal(data, n, addr);
    }  // the status block and the card count are read only
    if (displaced) {
        store->refresh_after_take();
        // Without the saver's thread (start-up, tests) their jobs run here, outside the lock.
        store->saver.run_waiting();
    }
    if (a.kind == Area::kRam && rc == 0 && addr <= ZemRamPara::kRamKeyLock + 1 &&
        addr + n > ZemRamPara::kRamKeyLock) {
        // The keys follow the word at once; the padlock is drawn again, without file work.
        store->test_signal(SyncUpdate::kIdKeyLock);
    }
    return comm_status(buf, rc == 0 ? kDone : kRefused);
}

int message_deal::read_ram(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    const uint32_t addr = r.u32();
    const uint16_t n = r.u16();
    if (r.overflow()) return comm_status(buf, kBadLength);
    const Area a = resolve(addr);
    uint8_t* out = buf + kHeadLen + 1;
    const comm_hooks& h = comm_hooks::get();
    int rc = 1;
    if (a.kind == Area::kCardTotal) {
        if (!h.card_total) return comm_status(buf, kUnavailable);
        uint8_t total[4];
        put32(total, h.card_total());
        if (n <= a.room) {
            std::memcpy(out, total + (addr - kCardTotalBase), n);
            rc = 0;
        }
    } else if (a.kind == Area::kFpga) {
        if (!h.table_read) return comm_status(buf, kUnavailable);
        rc = fpga_number(addr) > 1
                 ? 1
                 : h.table_read(fpga_function(addr), fpga_number(addr), addr & 0xFFF, out, n);
    } else if (a.stored() && n <= a.room) {
        // The copy is consistent with the writers under both mutexes.
        const ZemRamPara& store = *ZemRamPara::p_zemrampara_config;
        zem::MutexLocker lock(c331_manage::c331_mutex);
        zem::MutexLocker timings(store.mutex);
        copy_stored(store, a, out, n);
        rc = 0;
    }
    if (rc != 0) return comm_status(buf, kRefused);
    buf[10] = kDone;
    return 1 + n;
}

namespace {

// Index in ZemRamPara::command_reg of the command byte behind registers 160..165 (161 has
// none).
int command_slot(uint8_t reg) {
    switch (reg) {
        case 160:
            return ZemRamPara::kCmd160;
        case 165:
            return ZemRamPara::kCmd165;
        case 162:
            return ZemRamPara::kCmd162;
        case 163:
            return ZemRamPara::kCmd163;
        case 164:
            return ZemRamPara::kCmd164;
        default:
            return -1;
    }
}

// One register of a write: 0 done, else a status.
int write_one_register(ZemRamPara* store, uint8_t reg, uint8_t mask, uint8_t value)
    EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
    if (reg < ZemRamPara::kRegCount) {
        // Only box commands write these; the action (a font load among them) runs after.
        {
            zem::MutexLocker lock(ZemRamPara::command_mutex);
            store->reg[reg] = uint8_t((store->reg[reg] & ~mask) | (value & mask));
        }
        return message_deal::reg_cmd_run(reg, value & mask);
    }
    if (reg == 161) {
        if (!((value & mask) & 0x02)) return kDone;
        if (!comm_hooks::get().c331_print) return kUnavailable;
        comm_hooks::get().c331_print();  // the dump goes to the console, not the reply
        return kDone;
    }
    const int slot = command_slot(reg);
    if (slot < 0) return kRefused;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store->command_reg[slot] = reg == 163 ? uint8_t(value + 1) : uint8_t(value & mask);
        // The C331 apply runs and clears the debug commands; 160 only stores.
        if (reg != 160) c331_manage::raise_apply(1);
    }
    return kDone;
}

// The LED screen size as the C331 thread last applied it, once it runs; before that, as last
// saved. Not the saved size alone: a refresh between the PC's write and this register would
// hide the change. Caller holds the C331 mutex, which guards both records.
uint16_t applied16(const ZemRamPara* store, int addr) REQUIRES(c331_manage::c331_mutex) {
    const c331_manage* c = c331_manage::p_c331_manage;
    if (!c || c->thread_state.load() != 8) return store->persisted16(addr);
    return c->applied16(addr);
}

// A set of LED size words (the splice, the screen and output 1) outside what the box drives is
// refused whole: the five words go back to the set in force, before the apply's refresh saves
// the RAM, so the PC reads that size back; a set the box drives becomes the set in force. One
// line for each refusal. Caller holds the C331 mutex.
void refuse_led_size_locked(ZemRamPara* store) REQUIRES(c331_manage::c331_mutex) {
    led_size::take_or_refuse(store, "register 11");
}

}  // namespace

// A new LED screen size reaches the outputs through the size handshake with the FPGA and C331
// threads, once both FPGAs run. Caller holds the C331 mutex and raises the apply only after
// this: a turn that ran before the start would re-initialise the panel on lit outputs, and its
// answer would not count for the handshake, which would then wait out its bound.
void led_size_handshake_locked(const ZemRamPara* store, bool fpgas_run, bool splice_too)
    REQUIRES(c331_manage::c331_mutex) {
    const auto differs = [store](int addr) REQUIRES(c331_manage::c331_mutex) {
        return store->rd16(addr) != applied16(store, addr);
    };
    const bool changed = differs(1378) || differs(1380) || (splice_too && differs(1376));
    // A set the apply will refuse restarts nothing.
    if (!changed || !fpgas_run || !led_size::allowed(*store)) return;
    led_size_handshake::get().start();
}

bool led_fpgas_running() {
    const auto& running = comm_hooks::get().fpgas_running;
    return running && running();
}

int message_deal::write_register(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    const uint8_t reg = r.u8();
    const uint8_t mask = r.u8();
    const uint8_t count = r.u8();
    const uint8_t* values = r.bytes(count);
    if (r.overflow() || count == 0) return comm_status(buf, kBadLength);
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    if (!store) return comm_status(buf, kUnavailable);
    // Every register of the run must exist before any is written.
    for (int i = 0; i < count; ++i) {
        const int n = reg + i;
        if (n > 255 || (n >= ZemRamPara::kRegCount && (n < 160 || n > 165)))
            return comm_status(buf, kRefused);
    }
    uint8_t copy[256];
    std::memcpy(copy, values, count);
    int status = kDone;
    for (int i = 0; i < count; ++i) {
        const int rc = write_one_register(store, uint8_t(reg + i), mask, copy[i]);
        if (rc != kDone) status = rc;
    }
    return comm_status(buf, uint8_t(status));
}

int message_deal::reg_cmd_run(uint8_t reg, uint8_t changed) {
    switch (reg) {
        case kRegComm:
            return REG_comm_flag(changed);
        case kRegCom1:
            return REG_com1_flag(changed);
        case kRegMcu:
            return REG_mcu_flag(changed);
        case kRegApp:
            return REG_app_flag(changed);
        case kRegUpdate0E:
            return RegUpdate0E(changed);
        default:
            return kDone;  // a plain stored register
    }
}

int message_deal::REG_comm_flag(uint8_t value) {
    value > 15 ? pc_update::get().begin(calling_link) : pc_update::get().end();
    return kDone;
}

int message_deal::REG_com1_flag(uint8_t value) {
    (value & 0x7F) ? pc_update::get().begin(calling_link) : pc_update::get().end();
    return kDone;
}

int message_deal::REG_mcu_flag(uint8_t value) {
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    // Asked before the C331 mutex: the FPGA side's locks come after it.
    const bool fpgas_run = led_fpgas_running();
    int status;
    int taken = 0;
    before_store_lock();
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        status = mcu_flag_locked(store, value, fpgas_run, &taken);
    }
    if (taken) store->refresh_after_take();
    // Without the saver's thread (start-up, tests) its jobs run here, outside the lock.
    store->saver.run_waiting();
    return status;
}

int message_deal::mcu_flag_locked(ZemRamPara* store, uint8_t value, bool fpgas_run, int* taken) {
    if (g_frames_refused) return kUnavailable;  // see write_ram
    if (value & 0x02) {
        // Recall of the user mode whose number the PC wrote to RAM 866; refused, the word
        // reads the current mode again.
        const uint16_t n = store->rd16(866);
        if (n < 1 || n > ZemRamPara::kModeCount || !store->ZemUserModeSaved(n - 1)) {
            store->put_back_current_mode();
            return kRefused;
        }
        // A user's write: the close-LED and brightness it brings count as written.
        store->ZemRamParaDeal(store->mode_ram[n - 1].data() + 2, ZemRamPara::kModePayloadSize,
                              ZemRamPara::kModePayloadStart);
        store->set_current_mode(n);
    }
    refuse_led_size_locked(store);
    // Taken now, in the order answered, whatever thread is busy: the recall above, then this
    // link's save requests with the RAM as the recall left it, then the slots as they are.
    *taken = store->take_client_requests(request_owner);
    if (value & 0x04) *taken += store->take_synchronisation();
    led_size_handshake_locked(store, fpgas_run);
    if (value & 0x02) c331_manage::raise_apply(1);
    if (value & 0x04) c331_manage::raise_apply(2);
    const bool osd = (value & 0x08) && store->rd16(2124) == 1;
    if (osd) {
        g_osd_update = 1;
        c331_manage::raise_apply(1);
    }
    // Every other write (an OSD reload while the OSD is off included) applies the RAM the PC
    // wrote.
    if (!(value & 0x06) && !osd) c331_manage::raise_apply(1);
    return kDone;
}

int message_deal::RegUpdate0E(uint8_t value) {
    if (!(value & 0x08)) return kDone;
    if (!comm_hooks::get().update_font) return kUnavailable;
    return comm_hooks::get().update_font() == 0 ? kDone : kUnavailable;
}
