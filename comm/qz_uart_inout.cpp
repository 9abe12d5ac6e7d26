#include "comm/qz_uart_inout.h"

#include <cstdio>
#include <vector>

#include "core/globals.h"
#include "core/singleton.h"
#include "platform/thread_name.h"

Qz_uart_inout* Qz_uart_inout::p_uart_inout = nullptr;
Qz_uart_inout_4G* Qz_uart_inout_4G::p_uart_inout_4G = nullptr;

namespace {
// How long a failing port rests before it is read again.
constexpr int kRetryMs = 200;
}  // namespace

Qz_uart_inout* Qz_uart_inout::pInstance() {
    if (!p_uart_inout) {
        p_uart_inout = new Qz_uart_inout;
        if (p_uart_inout->start() != 0) writeLogMsg(1, "PC UART: port not opened");
    }
    return p_uart_inout;
}

void Qz_uart_inout::shutdown() {
    release_singleton(p_uart_inout);
}

Qz_uart_inout_4G* Qz_uart_inout_4G::pInstance() {
    if (!p_uart_inout_4G) {
        p_uart_inout_4G = new Qz_uart_inout_4G;
        if (p_uart_inout_4G->start() != 0) writeLogMsg(1, "4G UART: port not opened");
    }
    return p_uart_inout_4G;
}

void Qz_uart_inout_4G::shutdown() {
    release_singleton(p_uart_inout_4G);
}

int uart_link::start() {
    const int rc = port.open(device, g_BPS);
    if (rc != 0) {
        ZEM_DEBUG("\n %s not opened (%d) \n", device.c_str(), rc);
        return 255;
    }
    stopping_ = false;
    thread_ = std::thread(&uart_link::receive_loop, this);
    platform::nameThread(thread_, device.substr(device.rfind('/') + 1).c_str());
    return 0;
}

void uart_link::stop() {
    stopping_ = true;
    port.interrupt();
    if (thread_.joinable()) thread_.join();
    port.close();
}

void uart_link::receive_loop() {
    std::vector<uint8_t> rx(4096);
    bool failing = false;
    while (!stopping_) {
        // Nothing waiting (or nothing readable after an error): every byte that came before now
        // has been read, so the port's silence counts up to now. Then it blocks until bytes
        // come or stop() interrupts the port: an idle link never wakes.
        int n = port.read(rx.data(), rx.size(), 0);
        if (n <= 0) session_.input_drained();
        if (n == 0) n = port.read(rx.data(), rx.size(), -1);
        if (n < 0) {
            ++read_errors;
            // A port error (a hang-up) may pass: report it once and try again shortly, without
            // spinning while it lasts.
            if (!failing) {
                char line[96];
                std::snprintf(line, sizeof line, "%s read failed (%d)", device.c_str(), n);
                writeLogMsg(2, line);
                ZEM_DEBUG("\n %s \n", line);
            }
            failing = true;
            port.pause(kRetryMs);
            continue;
        }
        failing = false;
        session_.feed(rx.data(), size_t(n), [&](const uint8_t* wire, uint32_t len) {
            if (port.write(wire, len) != 0) ZEM_DEBUG("\n %s write failed \n", device.c_str());
        });
    }
}
