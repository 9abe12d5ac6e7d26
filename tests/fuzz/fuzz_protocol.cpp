// Raw bytes into one link's framer and, for every frame that passes, the handler table, as the
// serial and TCP transports run them; no sockets.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "comm/link_session.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "platform/box.h"
#include "platform/clock.h"

namespace {

struct Box {
    Box() {
        g_debugSwitch = 0;  // no console trace per frame
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/zem-fuzz-XXXXXX";
        const char* root = ::mkdtemp(&templ[0]);
        platform::selectSimulated(root ? root : "/tmp/zem-fuzz");
        platform::installClock(std::make_unique<platform::FakeClock>());
        ConfigEngine::pInstance();
        ZemRamPara::pInstance();
        link_session::pass_wait_ms = 0;
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
