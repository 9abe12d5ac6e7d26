// Raw bytes into one link's framer and, for every frame that passes, the handler table, as the
// serial and TCP transports run them; no sockets. The box has both FPGAs lit with cards behind
// some ports and the C331 at rest, so card frames, FPGA tables, the serial flash and the
// operating time answer as on a working box.
#include <cstdint>

#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "common/fuzz_box.h"

namespace {

struct Box {
    Box() {
        fuzz::startFpgas();
        fuzz::startC331AtRest();
        comm_hooks::wire();
        link_session::pass_wait_ms = 10;  // on the fake clock: ten looks for the cards' answer
    }
    link_session serial{LinkKind::Uart, "fuzz-uart"};
    link_session tcp{LinkKind::Tcp, "fuzz-tcp"};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Box* box = new Box;
    uint32_t sent = 0;
    auto count = [&](const uint8_t*, uint32_t n) { sent += n; };
    // The first byte picks the link; the framer state carries over between inputs on purpose,
    // as it does on a long-lived connection.
    link_session& link = size && (data[0] & 1) ? box->tcp : box->serial;
    link.feed(data, size, count);
    return 0;
}
