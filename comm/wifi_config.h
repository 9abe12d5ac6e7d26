// The WiFi access point on wlan1: at start and after each restart request it writes
// "/etc/rtl_hostapd_2G.conf" and "/etc/udhcpd.conf" and starts "/usr/bin/hostapd" and
// "udhcpd", unless the access point is switched off (low byte of RAM 774 = 1).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/thread_safety.h"
#include "c331/c331_manage.h"

extern std::atomic<uint8_t> g_wifi_reset_flag;    // a restart was requested
extern std::atomic<uint32_t> g_wifi_reset_ticks;  // G_timeTicks of the request

class T57_WIFI_CONFIG {
public:
    static T57_WIFI_CONFIG* pInstance();
    static T57_WIFI_CONFIG* p_wifi;

    // Asks the WiFi thread to stop a running access point and start it again (when on).
    void set_wifi_reset_flag();
    void WiFi_Start_Thread() EXCLUDES(c331_manage::c331_mutex);
    void stop();  // tests only
    // Stops the thread and releases the singleton (tests only).
    static void shutdown();

    std::atomic<bool> running{false};  // hostapd and udhcpd were started

private:
    T57_WIFI_CONFIG() = default;
    bool switched_off() const EXCLUDES(c331_manage::c331_mutex);
    int bring_up();
    void take_down();

    // Guards no state: the flags that wake the thread are atomics, and the lock only keeps a
    // wake from falling between its check and the wait.
    zem::Mutex mutex_;
    zem::ConditionVariable cv_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
