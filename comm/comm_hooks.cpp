#include "comm/comm_hooks.h"

#include <cstring>
#include <memory>

#include "c331/c331_manage.h"
#include "fpga/fpga_manage.h"

namespace {

// The cards' answer waiting for its transport (guarded by the FPGA manager's IRQ mutex).
struct CardAnswer {
    uint8_t transport = 0;
    uint32_t len = 0;
    std::unique_ptr<uint8_t[]> wire;
};
CardAnswer& card_answer() {
    static CardAnswer* a = new CardAnswer;  // never destroyed: link threads outlive main
    return *a;
}

void wire_fpga(comm_hooks& h, fpga_manage* f) {
    h.table_read = [f](int fn, int fpga, uint32_t off, uint8_t* out, uint32_t n) {
        return f->pc_read_table(fn, fpga, off, out, n);
    };
    h.table_write = [f](int fn, int fpga, uint32_t off, const uint8_t* data, uint32_t n) {
        return f->pc_write_table(fn, fpga, off, data, n);
    };
    h.irq_mutex = &f->irq_mutex;
    h.pc_to_eth = [f](uint32_t n, uint8_t* frame) {
        f->answer_ready = 0;
        return f->Dealwith1_PC_to_eth(n, frame);
    };
    h.poll_cards = [f] {
        f->reg_IRQ_Dealwith(0, 0);
        f->reg_IRQ_Dealwith(1, 0);
    };
    h.take_answer = [f](uint8_t transport, uint8_t* out, uint32_t cap) -> uint32_t {
        CardAnswer& a = card_answer();
        if (f->answer_ready != 1 || a.transport != transport || a.len > cap) return 0;
        std::memcpy(out, a.wire.get(), a.len);
        const uint32_t n = a.len;
        a.len = 0;
        f->answer_ready = 0;
        return n;
    };
}

void wire_c331(comm_hooks& h, c331_manage* c) {
    h.update_font = [c] {
        c->read_c331_font(c->fd);
        c->update_font(c->fd);
        return 0;
    };
}

}  // namespace

comm_hooks& comm_hooks::get() {
    static comm_hooks* hooks = new comm_hooks;  // never destroyed: link threads outlive main
    return *hooks;
}

// Only the subsystems that exist when the links start are reached; the C331 flash commands,
// the register 161 dump, the card count and the operating-time record have no callee yet and
// answer that they are unavailable.
void comm_hooks::wire() {
    comm_hooks& h = get();
    if (fpga_manage::p_fpga_manage) wire_fpga(h, fpga_manage::p_fpga_manage);
    if (c331_manage::p_c331_manage) wire_c331(h, c331_manage::p_c331_manage);
}

void comm_queue_card_answer(uint8_t transport, const uint8_t* wire, uint32_t len) {
    CardAnswer& a = card_answer();
    if (!a.wire) a.wire.reset(new uint8_t[131072]);
    if (len > 131072) return;
    std::memcpy(a.wire.get(), wire, len);
    a.len = len;
    a.transport = transport;
}
