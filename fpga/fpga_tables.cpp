// The sending-card tables: the parameter table of FPGA area 1 with its load and check at
// bring-up, the command table handler, port geometry and link state, and the PC's access to
// the tables by function number.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "core/globals.h"
#include "core/led_in_force.h"
#include "core/utils.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"

namespace {

uint16_t get16(const uint8_t* p, int at) {
    return uint16_t(p[at] | p[at + 1] << 8);
}
void put16(uint8_t* p, int at, uint16_t v) {
    p[at] = uint8_t(v);
    p[at + 1] = uint8_t(v >> 8);
}

constexpr uint8_t kRecord[4] = {0x76, 0x05, 0xD2, 0x01};

// Bytes of the back-geometry image and where they come from in the parameter table.
struct EthSpan {
    int back;
    int para;
    int len;
};
constexpr EthSpan kEthSpans[] = {{0, 60, 4},  {4, 8, 8},     {12, 19, 8},   {20, 32, 8},
                                 {28, 43, 8}, {36, 520, 32}, {68, 576, 64}, {132, 56, 4}};

}  // namespace

// The default parameter table head (the rest of the 256 bytes is 0).
const uint8_t fpga_manage::RAM1[256] = {
    0x00, 0x05, 0x00, 0x04, 0x76, 0x05, 0xD2, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x04,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x56, 0x05, 0x00, 0x03, 0xD9, 0xB8, 0x0C,
};

// ---------------------------------------------------------------------------------------
// Geometry helpers

int fpga_manage::get_eth_param_addr(uint8_t port, uint16_t* x, uint16_t* y, uint16_t* w,
                                    uint16_t* h) {
    static constexpr uint16_t kX[4] = {8, 19, 32, 43};
    uint16_t px = 8;
    if (port < 4)
        px = kX[port];
    else if (port < 8)
        px = uint16_t(520 + 8 * (port - 4));
    else if (port < 16)
        px = uint16_t(576 + 8 * (port - 8));
    if (x) *x = px;
    if (y) *y = uint16_t(px + 2);
    if (w) *w = uint16_t(px + 4);
    if (h) *h = uint16_t(px + 6);
    return 0;
}

void fpga_manage::get_port_count_addr(uint8_t port, uint16_t* count, uint16_t* flag) {
    static constexpr uint16_t kCount[4] = {100, 102, 108, 110};
    uint16_t c;
    if (port < 4)
        c = kCount[port];
    else if (port < 8)
        c = uint16_t(560 + 4 * (port - 4));
    else
        c = uint16_t(640 + 4 * ((port & 15) - 8));
    *count = c;
    *flag = port < 4 ? uint16_t(c + 4) : uint16_t(c + 2);
}

void fpga_manage::get_eth_min_x_y(int fpga, uint16_t* x, uint16_t* y) {
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    uint16_t mx = 0xFFFF, my = 0xFFFF;
    for (uint8_t p = 0; p < 10; ++p) {
        uint16_t ax, ay;
        get_eth_param_addr(p, &ax, &ay, nullptr, nullptr);
        mx = std::min(mx, get16(ram_para[fpga & 1].data(), ax));
        my = std::min(my, get16(ram_para[fpga & 1].data(), ay));
    }
    *x = mx;
    *y = my;
}

void fpga_manage::get_eth_max_border(int fpga, uint16_t* right, uint16_t* bottom) {
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    uint16_t r = 0, b = 0;
    const uint8_t* t = ram_para[fpga & 1].data();
    for (uint8_t p = 0; p < 10; ++p) {
        uint16_t ax, ay, aw, ah;
        get_eth_param_addr(p, &ax, &ay, &aw, &ah);
        r = std::max(r, uint16_t(get16(t, ax) + get16(t, aw)));
        b = std::max(b, uint16_t(get16(t, ay) + get16(t, ah)));
    }
    *right = r;
    *bottom = b;
}

void fpga_manage::get_eth_lcd_x_y(int fpga, uint16_t* x, uint16_t* y) {
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    *x = get16(ram_para[fpga & 1].data(), 56);
    *y = get16(ram_para[fpga & 1].data(), 58);
}

void fpga_manage::get_eth_lcd_w_h(int fpga, uint16_t* w, uint16_t* h) {
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    *w = get16(ram_para[fpga & 1].data(), 60);
    *h = get16(ram_para[fpga & 1].data(), 62);
}

void fpga_manage::eth_param_init(int mode, int fpga) {
    if (mode != 1) return;
    for (uint8_t p = 0; p < 10; ++p) {
        uint16_t ax, ay, aw, ah;
        get_eth_param_addr(p, &ax, &ay, &aw, &ah);
        put16(ram_para[fpga].data(), ax, 0);
        put16(ram_para[fpga].data(), ay, 0);
        put16(ram_para[fpga].data(), aw, 1280);
        put16(ram_para[fpga].data(), ah, 512);
    }
}

void fpga_manage::T57_back_mcu_set_net_para(int fpga) {
    for (const auto& s : kEthSpans)
        std::memcpy(eth_back_para[fpga].data() + s.back, ram_para[fpga].data() + s.para, s.len);
}

// The ports move by the image offset of the LED set in force, not a PC's words in the RAM that
// no register 11 took.
void fpga_manage::T57_mcu_set_net_para(int fpga) {
    const LedInForce::Set led = LedInForce::get().set();
    const uint8_t* back = eth_back_para[fpga].data();
    uint8_t* t = ram_para[fpga].data();
    put16(t, 60, uint16_t((get16(back, 0) + led.x + 31) & 0xFFE0));
    put16(t, 62, uint16_t(get16(back, 2) + led.y));
    for (uint8_t p = 0; p < 16; ++p) {
        uint16_t ax, ay;
        get_eth_param_addr(p, &ax, &ay, nullptr, nullptr);
        const int bx = p < 4 ? 4 + 8 * p : p < 8 ? 36 + 8 * (p - 4) : 68 + 8 * (p - 8);
        put16(t, ax, uint16_t(get16(back, bx) + led.x));
        put16(t, ay, uint16_t(get16(back, bx + 2) + led.y));
    }
}

// ---------------------------------------------------------------------------------------
// Link state and version

void fpga_manage::update_eth_state(int fpga) {
    read_from_register(128, fpga);
    read_from_register(144, fpga);
    uint8_t r128, r144;
    {
        zem::MutexLocker lock(mirror_mutex);
        r128 = reg_mirror[fpga][128];
        r144 = reg_mirror[fpga][144];
    }
    // The bytes to send are taken under the PC's table lock and sent after it is released.
    struct Span {
        uint16_t at;
        uint8_t len;
        uint8_t bytes[2];
    };
    std::vector<Span> sends;
    bool cleared = false;  // a port lost its link with cards counted
    {
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        uint8_t* t = ram_para[fpga].data();
        const uint8_t b96 = uint8_t((t[96] & ~0x1B) | (r128 & 0x03) | (r128 & 0x0C) << 1);
        const uint8_t b512 = uint8_t((t[512] & 0xF0) | (r128 >> 4));
        const std::pair<int, uint8_t> bytes[] = {{96, b96}, {512, b512}, {513, r144}};
        for (const auto& [at, v] : bytes) {
            if (t[at] == v) continue;
            t[at] = v;
            sends.push_back({uint16_t(at), 1, {v, 0}});
        }
        static constexpr uint8_t kBit96[4] = {0x01, 0x02, 0x08, 0x10};
        for (uint8_t p = 0; p < 10; ++p) {
            const bool linked = p < 4   ? (t[96] & kBit96[p])
                                : p < 8 ? (t[512] & (1 << (p - 4)))
                                        : (t[513] & (1 << (p - 8)));
            if (linked) continue;
            uint16_t count, flag;
            get_port_count_addr(p, &count, &flag);
            cleared = cleared || t[count] || t[count + 1];
            put16(t, count, 0);
            t[flag] = 0;
            // Two writes: for ports 0..3 the bytes between are the next port's count.
            sends.push_back({count, 2, {0, 0}});
            sends.push_back({flag, 1, {0, 0}});
        }
    }
    for (const Span& s : sends) write_fpga_ram(s.bytes, s.at, s.len, 1, uint8_t(fpga));
    if (cleared) store_card_total();
}

void fpga_manage::FPGA_to_RAM(int fpga) {
    for (uint8_t reg = 28; reg <= 31; ++reg) read_from_register(reg, fpga);
    zem::MutexLocker tables(Utils::_fpga_multicast_mutex);
    zem::MutexLocker mirror(mirror_mutex);
    std::memcpy(MCU_RAM_CMD.data() + 12, reg_mirror[fpga].data() + 28, 4);
}

void fpga_manage::Version_to_RAM() {
    const uint8_t v[4] = {1, 0x11, 0, 0};
    std::memcpy(MCU_RAM_CMD.data() + 24, v, 4);
}

void fpga_manage::PHY_status_to_RAM() {
    std::memset(MCU_RAM_CMD.data() + 30, 0, 4);
}

// ---------------------------------------------------------------------------------------
// Load and check at bring-up

void fpga_manage::fpgainit(int i) {
    write_to_register(22, 0x20, 0x00, uint8_t(i));
    record_bright_change();
    keep_loaded_brightness();
    record_onoff_time(i + 2);
    for (int k = 0; k < 3; ++k) read_from_register(21, uint8_t(i));
    uint8_t marker = 0;
    uint8_t saved[kParaSize];
    fpga_flash_access();
    const bool from_flash =
        flash_read(i + 2, kParaFlashAddr, 1, &marker) == fpga_drv::kFlashDone && marker == 0xAA &&
        flash_read(i + 2, kParaFlashAddr + 1, kParaSize, saved) == fpga_drv::kFlashDone;
    uint8_t image[kParaSize];
    {
        // The PC reads and writes these tables from its own threads.
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        uint8_t* t = ram_para[i].data();
        if (from_flash) {
            std::memcpy(t, saved, kParaSize);
            std::memset(t + 96, 0, 32);
            T57_back_mcu_set_net_para(i);
            if (i == 0) T57_mcu_set_net_para(0);
        } else {
            std::memcpy(t, RAM1, sizeof RAM1);
            for (int r = 296; r < 360; r += 4) std::memcpy(t + r, kRecord, 4);
            t[496] = 0;
            t[498] = 0;
            eth_param_init(1, i);
            T57_back_mcu_set_net_para(i);
        }
        for (int k = 0; k < 10; ++k) t[276 + k] = uint8_t(i * 10 + 1 + k);
        std::memcpy(image, t, kParaSize);
    }
    write_fpga_ram(image, 0, kParaSize, 1, uint8_t(i));
    update_eth_state(i);
    store_card_total();  // the counts the loaded table holds
    FPGA_to_RAM(i);
    write_to_register(2, 0x08, 0x08, uint8_t(i));
    ram_check[i] = uint8_t(check_fpga_ram_param(i));
    if (ram_check[i] == 0) {
        reset_fpga_rst(i, "its parameter RAM read back wrong");
        ZEM_DEBUG("\n check fpga%d ram error ,start to reset .... \n", i + 1);
    } else {
        ZEM_DEBUG("\n check fpga%d ram ok  .... \n", i + 1);
    }
}

int fpga_manage::check_fpga_ram_param(int i) {
    const auto same_word = [&](uint16_t at) {
        uint8_t got[2] = {0, 0};
        if (read_fpga_ram(got, at, 2, 1, uint8_t(i)) < 0) return false;
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        return got[0] == ram_para[i][at] && got[1] == ram_para[i][at + 1];
    };
    for (uint8_t p = 0; p < 10; ++p) {
        uint16_t a[4];
        get_eth_param_addr(p, &a[0], &a[1], &a[2], &a[3]);
        for (uint16_t at : a)
            if (!same_word(at)) return 0;
    }
    for (uint16_t r = 296; r <= 332; r += 4)
        if (!same_word(r) || !same_word(uint16_t(r + 2))) return 0;
    return 1;
}

// ---------------------------------------------------------------------------------------
// Command table

bool fpga_manage::save_flash_table(uint32_t flash_addr, const uint8_t* data, uint32_t len) {
    fpga_flash_access();
    if (flash_erase(2, flash_addr / 4096, 0, 1) != fpga_drv::kFlashDone) {
        writeLogMsg(1, "fpga table: flash erase failed");
        return false;
    }
    // A table is taken only when its first byte is 0xAA: that byte goes last, so a write cut
    // short by a power loss leaves no table rather than part of one.
    if (data && len > 0 &&
        ((len > 1 && flash_write(2, flash_addr + 1, data + 1, len - 1) != fpga_drv::kFlashDone) ||
         flash_write(2, flash_addr, data, 1) != fpga_drv::kFlashDone)) {
        writeLogMsg(1, "fpga table: flash write failed");
        return false;
    }
    return true;
}

bool fpga_manage::save_cmd_table(uint32_t flash_addr, bool write) {
    // The flash work runs on a copy: the PC writes the table under its lock meanwhile.
    uint8_t table[sizeof MCU_RAM_CMD];
    {
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        std::memcpy(table, MCU_RAM_CMD.data(), sizeof table);
    }
    // The PC's length is bounded by the table (which also bounds it to the erased sector).
    const uint32_t len = std::min<uint32_t>(get16(table, 6) + 8u, sizeof table);
    return save_flash_table(flash_addr, write ? table : nullptr, len);
}

int fpga_manage::Dealwith_mcu_ram() {
    uint8_t head[10];  // the command's bytes, as the PC left them in its table
    {
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        std::memcpy(head, MCU_RAM_CMD.data(), sizeof head);
    }
    if (head[0] != 0xAA) return 0;
    const uint8_t save = head[2];
    switch (head[1]) {
        case 1:
            Checktime();
            break;
        case 2:
            OnOff_time();
            if (save == 0xAA || save == 0x55) {
                // Register 66 tells whether a table is in flash: a failed save leaves none.
                const bool done = save_cmd_table(kOnOffFlashAddr, save == 0xAA);
                write_to_register(66, 0xFF, save == 0xAA && done ? 1 : 0, 0);
            }
            break;
        case 3:
            if ((head[8] & ~0x10) != 0) {
                if (save == 0xAA || save == 0x55) {
                    save_cmd_table(kBrightFlashAddr, save == 0xAA);
                    g_change[17] = 1;
                }
                g_change[26] = 0;
            } else {
                write_to_register(64, 0xFF, head[9], 0);
                g_change[16] = head[9];
                Brightness_manual_apply(head[8]);
                if (save == 0xAA) {
                    save_cmd_table(kBrightFlashAddr, true);
                    g_change[17] = 1;
                }
            }
            break;
        default:
            break;
    }
    return 1;
}

// ---------------------------------------------------------------------------------------
// The PC's view

uint8_t* fpga_manage::table_by_function(int function, int fpga, uint32_t* size) {
    const int f = fpga & 1;
    uint8_t* table = nullptr;
    uint32_t n = 0;
    switch (function) {
        case 1:
            table = ram_para[f].data(), n = kParaSize;
            break;
        case 2:
            table = ram_rx[f].data(), n = kParaSize;
            break;
        case 3:
            table = ram_tx[f].data(), n = kParaSize;
            break;
        case 4:
            table = eth_para[f].data(), n = kEthSize;
            break;
        case 5:
            table = eth_back_para[f].data(), n = kEthSize;
            break;
        case 6:
            table = MCU_RAM_DEFAULT.data(), n = sizeof MCU_RAM_DEFAULT;
            break;
        case 7:
            table = MCU_RAM_EXTEND.data(), n = sizeof MCU_RAM_EXTEND;
            break;
        case 8:
            table = MCU_RAM_CMD.data(), n = sizeof MCU_RAM_CMD;
            break;
        case 9:
            table = MCU_RAM_ZOOM.data(), n = sizeof MCU_RAM_ZOOM;
            break;
        default:
            break;
    }
    if (size) *size = n;
    return table;
}

int fpga_manage::pc_read_table(int function, int fpga, uint32_t address, uint8_t* out,
                               uint32_t length) {
    if (function == 10) {  // other threads refresh the mirror under its own mutex
        if (!out || address > kRegCount || length > kRegCount - address) return 1;
        zem::MutexLocker mirror(mirror_mutex);
        std::memcpy(out, reg_mirror[fpga & 1].data() + address, length);
        return 0;
    }
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    uint32_t size = 0;
    uint8_t* table = table_by_function(function, fpga, &size);
    if (!table || !out || address > size || length > size - address) return 1;
    std::memcpy(out, table + address, length);
    return 0;
}

int fpga_manage::pc_write_table(int function, int fpga, uint32_t address, const uint8_t* data,
                                uint32_t length) {
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    uint32_t size = 0;
    uint8_t* table = table_by_function(function, fpga, &size);
    if (!table || !data || address > size || length > size - address) return 1;
    std::memcpy(table + address, data, length);
    return 0;
}
