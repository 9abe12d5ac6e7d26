#include "comm/comm_hooks.h"

#include <cstring>
#include <memory>

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

}  // namespace

comm_hooks& comm_hooks::get() {
    static comm_hooks* hooks = new comm_hooks;  // never destroyed: link threads outlive main
    return *hooks;
}

void comm_queue_card_answer(uint8_t transport, const uint8_t* wire, uint32_t len) {
    CardAnswer& a = card_answer();
    if (!a.wire) a.wire.reset(new uint8_t[131072]);
    if (len > 131072) return;
    std::memcpy(a.wire.get(), wire, len);
    a.len = len;
    a.transport = transport;
}

uint32_t comm_take_card_answer(uint8_t transport, uint8_t* out, uint32_t cap) {
    CardAnswer& a = card_answer();
    if (a.len == 0 || a.transport != transport || a.len > cap) return 0;
    std::memcpy(out, a.wire.get(), a.len);
    const uint32_t n = a.len;
    a.len = 0;
    return n;
}
