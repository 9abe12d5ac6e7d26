// Kernel hot-plug events (uevents): a netlink socket on the box, an event queue that tests
// fill on the simulated box. An event is the kernel's message: "action@devpath" followed by
// KEY=VALUE fields, separated by NUL bytes (or new lines in injected events).
#pragma once

#include <memory>
#include <string>

namespace platform {

class HotplugSource {
public:
    virtual ~HotplugSource() = default;
    // Waits up to timeout_ms (-1 forever) for one event; 1 with the event, 0 on timeout, or
    // a negative errno.
    virtual int wait(std::string& event, int timeout_ms) = 0;
    // Ends a wait in progress and every later one (they return 0), from any thread: how the
    // watcher is stopped without waking it periodically.
    virtual void interrupt() = 0;
};

// The source of the box in use; null when it cannot be opened.
std::unique_ptr<HotplugSource> openHotplug();

namespace sim {
// Queues an event for the simulated box's source: the event source the watcher waits on, as
// the kernel's netlink socket is on the box.
void injectHotplug(const std::string& event);
// Drops the events nobody took (SimBox::reset): they were the replaced box's.
void dropHotplugEvents();
}  // namespace sim

}  // namespace platform
