// The serial PC links: the RS-485 UART ("/dev/ttyS2") and the 4G module ("/dev/ttyS1"), both
// 8N1 at g_BPS (115200), each served by one receive thread that waits in poll().
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "comm/link_session.h"
#include "platform/serial_port.h"

class uart_link {
public:
    // Opens the port and starts the thread; 255 when the port does not open.
    int start();
    void stop();  // tests only
    void receive_loop();

    platform::SerialPort port;
    std::string device;
    // Reads that failed since start, read by tests (the program reads none of it).
    std::atomic<uint32_t> read_errors{0};

protected:
    explicit uart_link(const char* dev) : device(dev), session_(LinkKind::Uart, dev) {}

    std::atomic<bool> stopping_{false};
    std::thread thread_;
    link_session session_;
};

class Qz_uart_inout : public uart_link {
public:
    static Qz_uart_inout* pInstance();
    static Qz_uart_inout* p_uart_inout;
    // Stops the link and releases it with its port (tests only).
    static void shutdown();
    void receive_thread() { receive_loop(); }

private:
    Qz_uart_inout() : uart_link("/dev/ttyS2") {}
};

class Qz_uart_inout_4G : public uart_link {
public:
    static Qz_uart_inout_4G* pInstance();
    static Qz_uart_inout_4G* p_uart_inout_4G;
    // Stops the link and releases it with its port (tests only).
    static void shutdown();
    void receive_thread_4G() { receive_loop(); }

private:
    Qz_uart_inout_4G() : uart_link("/dev/ttyS1") {}
};
