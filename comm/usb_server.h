// The USB-disk watcher: kernel hot-plug events of USB storage disks become refresh ids 100
// (disk added), 101 (removed) and 102 (mounted on "/mnt/usb1") through sig_usb_update. It acts
// only once the tick has set g_delay_usbserver; earlier events are dropped.
#pragma once

#include <QObject>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/hotplug.h"

class UsbServer : public QObject {
    Q_OBJECT

public:
    static UsbServer* pInstance();
    static UsbServer* p_usb_server;

    void acceptThread();
    // Acts on one event (the thread's step; tests call it through the injected source).
    void handle_event(const std::string& event);
    void stop();  // tests only
    // Stops the watcher and releases it with its event source (tests only).
    static void shutdown();

signals:
    void sig_usb_update(int id);

private:
    UsbServer() = default;
    int start();

    std::unique_ptr<platform::HotplugSource> source_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
