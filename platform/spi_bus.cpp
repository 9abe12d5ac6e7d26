// The SPI bus factory and the simulated box's registry of chip models per node.
#include "platform/spi_bus.h"

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/box.h"
#include "platform/linux/linux_devices.h"

namespace platform {
namespace sim {
namespace {

// A model with the lock that lets its messages through one at a time.
struct Entry {
    std::shared_ptr<SpiModel> model;
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
};

std::mutex g_models_mutex;
// Never destroyed: worker threads may still send a message while the process exits.
std::map<std::string, Entry>& models() {
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
        std::lock_guard<std::mutex> lock(*entry_.mutex);
        return entry_.model->transfer(tx, rx, len, speed_hz);
    }

private:
    Entry entry_;
};

}  // namespace

void attachSpiModel(const std::string& node, std::shared_ptr<SpiModel> model) {
    std::lock_guard<std::mutex> lock(g_models_mutex);
    if (model)
        models()[node] = Entry{std::move(model)};
    else
        models().erase(node);
}

void detachAllSpiModels() {
    std::lock_guard<std::mutex> lock(g_models_mutex);
    models().clear();
}

int openSimSpiBus(const std::string& node, std::unique_ptr<SpiBus>& out) {
    std::lock_guard<std::mutex> lock(g_models_mutex);
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
