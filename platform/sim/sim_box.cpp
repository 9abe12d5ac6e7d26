#include "platform/sim/sim_box.h"

#include <mutex>

namespace platform::sim {
namespace {
std::mutex g_mutex;
std::unique_ptr<SimBox> g_box;
}  // namespace

SimBox& SimBox::get() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_box) g_box = std::make_unique<SimBox>();
    return *g_box;
}

void SimBox::reset() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_box = std::make_unique<SimBox>();
}

}  // namespace platform::sim
