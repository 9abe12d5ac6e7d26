// The SPI bus factory and the simulated box's registry of chip models per node.
#include "platform/spi_bus.h"

#include <cerrno>
#include <map>
#include <mutex>

#include "core/thread_safety.h"
#include "platform/box.h"
#include "platform/linux/linux_devices.h"

namespace platform {
namespace sim {
namespace {

// A model with the lock that lets its messages through one at a time (the model's own state is
// its own: it is driven only under that lock).
struct Entry {
    std::shared_ptr<SpiModel> model;
    std::shared_ptr<zem::Mutex> mutex = std::make_shared<zem::Mutex>();
};

zem::Mutex g_models_mutex;
// Never destroyed: worker threads may still send a message while the process exits. Under
// g_models_mutex.
std::map<std::string, Entry>& models() REQUIRES(g_models_mutex) {
    static auto* m = new std::map<std::string, Entry>();
    return *m;
}

// A bus on a node of the simulated box: the model stays alive while the bus is open, and
// messages reach it one at a time even when two buses are open on one node.
class SimSpiBus : public SpiBus {
public:
    explicit SimSpiBus(Entry entry) : entry_(std::move(entry)) {}
    int transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speed_hz) override {
        if (!tx || len == 0) return -EINVAL;
        zem::MutexLocker lock(*entry_.mutex);
        return entry_.model->transfer(tx, rx, len, speed_hz);
    }

private:
    Entry entry_;
};

}  // namespace

void attachSpiModel(const std::string& node, std::shared_ptr<SpiModel> model) {
    zem::MutexLocker lock(g_models_mutex);
    if (model)
        models()[node] = Entry{std::move(model)};
    else
        models().erase(node);
}

void detachAllSpiModels() {
    zem::MutexLocker lock(g_models_mutex);
    models().clear();
}

int openSimSpiBus(const std::string& node, std::unique_ptr<SpiBus>& out) {
    zem::MutexLocker lock(g_models_mutex);
    auto it = models().find(node);
    if (it == models().end()) return -ENOENT;
    out = std::make_unique<SimSpiBus>(it->second);
    return 0;
}

}  // namespace sim

int openSpiBus(const std::string& node, uint32_t max_speed_hz, std::unique_ptr<SpiBus>& out) {
    if (simulated()) return sim::openSimSpiBus(node, out);
    if (!onBox()) return -ENODEV;
    return openLinuxSpiBus(node, max_speed_hz, out);
}

}  // namespace platform
