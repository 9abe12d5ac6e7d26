#include "comm/usb_server.h"

#include <unistd.h>

#include <map>

#include "core/globals.h"
#include "core/singleton.h"
#include "core/utils.h"
#include "platform/box.h"
#include "platform/thread_name.h"

UsbServer* UsbServer::p_usb_server = nullptr;

namespace {

// The fields of a uevent: "ACTION", "SUBSYSTEM", "DEVNAME", "DEVTYPE", ...
std::map<std::string, std::string> fields(const std::string& event) {
    std::map<std::string, std::string> f;
    size_t pos = 0;
    while (pos < event.size()) {
        size_t end = event.find_first_of(std::string("\0\n", 2), pos);
        if (end == std::string::npos) end = event.size();
        const std::string item = event.substr(pos, end - pos);
        const size_t eq = item.find('=');
        if (eq != std::string::npos) f[item.substr(0, eq)] = item.substr(eq + 1);
        pos = end + 1;
    }
    return f;
}

// A USB disk or partition ("sda", "sdb1"): only these drive the watcher.
bool usb_block(const std::map<std::string, std::string>& f, std::string& name) {
    auto sub = f.find("SUBSYSTEM"), dev = f.find("DEVNAME");
    if (sub == f.end() || dev == f.end() || sub->second != "block") return false;
    name = dev->second;
    if (name.rfind("/dev/", 0) == 0) name = name.substr(5);
    if (name.size() < 3 || name.compare(0, 2, "sd") != 0) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

UsbServer* UsbServer::pInstance() {
    if (!p_usb_server) {
        p_usb_server = new UsbServer;
        if (p_usb_server->start() != 0) writeLogMsg(1, "USB watcher: no hot-plug events");
    }
    return p_usb_server;
}

void UsbServer::shutdown() {
    release_singleton(p_usb_server);
}

int UsbServer::start() {
    source_ = platform::openHotplug();
    if (!source_) return 255;
    thread_ = std::thread(&UsbServer::acceptThread, this);
    platform::nameThread(thread_, "usb");
    return 0;
}

void UsbServer::stop() {
    stopping_ = true;
    if (source_) source_->interrupt();
    if (thread_.joinable()) thread_.join();
}

void UsbServer::acceptThread() {
    std::string event;
    while (!stopping_) {
        // Blocks until an event comes or stop() interrupts the source: an idle box never wakes.
        const int rc = source_->wait(event, -1);
        if (rc < 0) {
            ZEM_DEBUG("\n hot-plug source failed (%d) \n", rc);
            return;
        }
        if (rc == 1 && !stopping_) handle_event(event);
    }
}

void UsbServer::handle_event(const std::string& event) {
    if (!g_delay_usbserver) return;
    const auto f = fields(event);
    std::string name;
    if (!usb_block(f, name)) return;
    const auto action = f.find("ACTION");
    const std::string type = f.count("DEVTYPE") ? f.at("DEVTYPE") : "";
    if (action == f.end()) return;
    if (action->second == "add" && type == "disk") {
        if (::access(platform::path("/proc/scsi/usb-storage").c_str(), F_OK) != 0) return;
        emit sig_usb_update(100);
    } else if (action->second == "add" && type == "partition") {
        if (Utils::system_mutex(QString::fromStdString("mount /dev/" + name + " /mnt/usb1")) == 0)
            emit sig_usb_update(102);
    } else if (action->second == "remove" && type == "disk") {
        Utils::system_mutex("umount -l /mnt/usb1");
        emit sig_usb_update(101);
    }
}
