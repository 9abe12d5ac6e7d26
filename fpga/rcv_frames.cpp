// Receiving-card frames: the builders of the frames the controller sends on its own, the
// cabling walk that places a card for quick lighting, the per-port card counts and the wait for
// a free transmit buffer.
//
// A card frame: u16 destination, u16 source (0xF000, the controller), 0x10, kind, mode, port + 1
// (or 0), 0, command, data from byte 10, and the XOR of all bytes before it as the last byte.
#include <algorithm>
#include <cerrno>

#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "platform/clock.h"

namespace {

constexpr uint16_t kController = 0xF000;

void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}

uint16_t card_dest(uint8_t port, uint16_t card, bool broadcast) {
    return broadcast ? fpga_manage::kAllCards : uint16_t((port & 3) << 12 | (card & 0xFFF));
}

void card_head(uint8_t* out, uint16_t dest, uint8_t byte7, uint8_t command) {
    put16(out, dest);
    put16(out + 2, kController);
    out[4] = 0x10;
    out[5] = 0x67;
    out[6] = 1;
    out[7] = byte7;
    out[8] = 0;
    out[9] = command;
}

// Ends a frame of n bytes with its check byte and stores n as the mailbox's last frame length.
uint8_t seal(uint8_t* out, uint16_t n, bool store = true) {
    out[n - 1] = Utils::BCC(out, n - 1);
    if (store) set_send_para_u16(12, n);
    return out[n - 1];
}

// A frame of `head` header bytes, L data bytes and the check byte must fit a transmit buffer.
bool fits(uint32_t head, uint32_t len) {
    return len <= fpga_manage::kPortBuffer - head - 1;
}

// Builders whose data follows byte 10: header, data, check byte; returns the length.
uint16_t data_frame(uint8_t* out, uint16_t dest, uint8_t byte7, uint8_t command,
                    const uint8_t* data, uint16_t len) {
    if (!fits(10, len) || (len && !data)) return 0;
    card_head(out, dest, byte7, command);
    std::copy(data, data + len, out + 10);
    seal(out, uint16_t(len + 11));
    return uint16_t(len + 11);
}

}  // namespace

LINE_TYPE line_type;

// ---------------------------------------------------------------------------------------
// Builders

uint8_t fpga_manage::rcv_card_cmd_create(uint8_t* out, uint8_t port) {
    const uint16_t index = send_para_u16(8);
    uint16_t x = 0, y = 0;
    get_rcvcard_x_y(index, &x, &y);
    x = uint16_t(x + line_type.x_offset);
    y = uint16_t(y + line_type.y_offset);
    ZEM_DEBUG("\n rcv_card_cmd_create ,index = %d,x=%d,y=%d\n", index, x, y);
    card_head(out, card_dest(port, index, false), uint8_t(port + 1), 0x60);
    put32(out + 10, 0x0180);
    put16(out + 14, 4);
    put16(out + 16, 0);
    put16(out + 18, x);
    put16(out + 20, y);
    return seal(out, 23, false);
}

uint8_t fpga_manage::load_write_ram_cmd_create(uint8_t port, uint16_t card, uint32_t address,
                                               const uint8_t* data, uint16_t len, uint8_t* out,
                                               bool broadcast) {
    if (!fits(18, len) || (len && !data)) {
        set_send_para_u16(12, 0);
        return 0;
    }
    card_head(out, card_dest(port, card, broadcast), uint8_t(port + 1), 0x60);
    put32(out + 10, address);
    put16(out + 14, len);
    put16(out + 16, 0);
    std::copy(data, data + len, out + 18);
    return seal(out, uint16_t(len + 19));
}

uint16_t fpga_manage::load_write_reg_cmd_create(uint8_t port, uint16_t card, const uint8_t* data,
                                                uint16_t len, uint8_t* out, bool broadcast) {
    return data_frame(out, card_dest(port, card, broadcast), 0, 0xA0, data, len);
}

uint16_t fpga_manage::load_write_user_defined_cmd_create(uint8_t port, uint16_t card,
                                                         const uint8_t* data, uint16_t len,
                                                         uint8_t* out, bool broadcast) {
    // The data's first byte is the command, at byte 9.
    if (len == 0 || !data || !fits(9, len)) return 0;
    card_head(out, card_dest(port, card, broadcast), 0, data[0]);
    std::copy(data + 1, data + len, out + 10);
    seal(out, uint16_t(len + 10));
    return uint16_t(len + 10);
}

uint16_t fpga_manage::save_para2flash_cmd_create(uint8_t port, uint16_t card, uint8_t* out,
                                                 bool broadcast) {
    const uint8_t data[2] = {0xFF, 0};
    return data_frame(out, card_dest(port, card, broadcast), 0, 0x81, data, 2);
}

uint16_t fpga_manage::rcv_active_firmware_cmd_create(uint8_t port, uint16_t card,
                                                     const uint8_t* data, uint16_t len,
                                                     uint8_t* out) {
    return data_frame(out, card_dest(port, card, false), uint8_t(port + 1), 0xB4, data, len);
}

uint16_t fpga_manage::rcv_reconfig_cmd_create(uint8_t port, uint16_t card, const uint8_t* data,
                                              uint16_t len, uint8_t* out) {
    return data_frame(out, card_dest(port, card, false), uint8_t(port + 1), 0x84, data, len);
}

uint16_t fpga_manage::load_search_rxc_cmd_create(uint8_t port, const uint8_t* data, uint16_t len,
                                                 uint8_t* out) {
    return data_frame(out, card_dest(port, kPortCards, false), uint8_t(port + 1), 0x10, data, len);
}

uint8_t fpga_manage::ram_reset_cmd_create(uint8_t* out, const SCAN_PARA& scan, uint8_t port) {
    const uint8_t data[4] = {uint8_t(scan.word), uint8_t(scan.half), 1, uint8_t(scan.half >> 8)};
    data_frame(out, card_dest(port, kPortCards, false), uint8_t(port + 1), 0xA0, data, 4);
    return out[14];
}

uint8_t fpga_manage::save_para_cmd_create(uint8_t* out, uint8_t port) {
    const uint8_t data[2] = {0xFF, 0};
    data_frame(out, kAllCards, uint8_t(port + 1), 0x81, data, 2);
    return out[12];
}

uint8_t fpga_manage::mapping_enable_cmd_create(uint8_t port, uint8_t* out) {
    const uint8_t data[4] = {3, 0x0F, 1, g_send_para[16].load()};
    data_frame(out, kAllCards, uint8_t(port + 1), 0xA0, data, 4);
    return out[14];
}

// ---------------------------------------------------------------------------------------
// Quick-lighting walk

namespace {

// How a routing walks the cabinets: by rows or columns, where the first card sits, and whether
// every second row (column) runs back.
struct Walk {
    bool by_rows;
    bool from_far;     // rows from the bottom, or columns from the right
    bool first_ahead;  // first row left to right, or first column top to bottom
    bool alternating;
};

// Routings 1..16. Routing 12's order inside a column is not given by the cabling chart; it walks
// like routing 15 (bottom to top).
constexpr Walk kWalks[16] = {
    {true, true, false, true},   {true, true, true, true},    {true, false, false, true},
    {true, false, true, true},   {false, true, false, true},  {false, true, true, true},
    {false, false, true, true},  {false, false, false, true}, {true, true, false, false},
    {true, false, true, false},  {true, true, true, false},   {false, false, false, false},
    {false, true, false, false}, {false, false, true, false}, {false, false, false, false},
    {false, true, true, false},
};

}  // namespace

bool fpga_manage::get_rcvcard_x_y(uint16_t index, uint16_t* x, uint16_t* y) {
    const LINE_TYPE& l = line_type;
    const int rows = l.rows, cols = l.columns;
    if (l.routing == 0 || l.routing > 16 || rows == 0 || cols == 0 || index >= rows * cols)
        return false;
    const Walk& w = kWalks[l.routing - 1];
    const int lane_len = w.by_rows ? cols : rows;  // cards per row (or column)
    const int lane_count = w.by_rows ? rows : cols;
    const int step = index / lane_len, pos = index % lane_len;
    const int lane = w.from_far ? lane_count - 1 - step : step;
    const bool ahead = w.alternating && (step & 1) ? !w.first_ahead : w.first_ahead;
    const int along = ahead ? pos : lane_len - 1 - pos;
    const int col = w.by_rows ? along : lane, row = w.by_rows ? lane : along;
    *x = uint16_t(col * l.cabinet_width);
    *y = uint16_t(row * l.cabinet_height);
    return true;
}

// ---------------------------------------------------------------------------------------
// Card counts and the transmit buffer

uint16_t fpga_manage::get_port_card_num(uint8_t port) {
    if (port > 19) return 0;
    uint16_t count = 0, flag = 0;
    get_port_count_addr(uint8_t(port % 10), &count, &flag);
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    const uint8_t* t = ram_para[port / 10].data();
    return uint16_t(t[count] | t[count + 1] << 8);
}

uint16_t fpga_manage::check_netport_card(int fpga) {
    uint16_t sum = 0;
    for (uint8_t p = 0; p < 10; ++p)
        sum = uint16_t(sum + get_port_card_num(uint8_t(10 * fpga + p)));
    return sum;
}

int fpga_manage::wait_fpga_send_ready(uint8_t port, int fpga) {
    if (port > 15 || fpga < 0 || fpga > 1) return 0;
    const uint8_t reg = port < 8 ? 129 : 145;
    const int pair = (port % 8) / 2;
    const uint8_t busy = uint8_t(1 << (2 * pair + 1));
    // 300 ticks (3 s) at most; between reads the thread yields the bus for a millisecond.
    const uint64_t end = platform::nowMs() + 3000;
    for (;;) {
        read_from_register(reg, uint8_t(fpga));
        if (!(mirror(fpga, reg) & busy)) return 1;
        if (platform::nowMs() >= end) return 0;
        platform::sleepMs(1);
    }
}

int fpga_manage::check_multi_port_send(uint32_t, const uint8_t*) {
    return 0;
}
