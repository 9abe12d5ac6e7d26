#include "c331_fixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "platform/clock.h"

void C331Test::SetUp() {
    SimBoxTest::SetUp();
    platform::installClock(std::make_unique<platform::FakeClock>());
    chip = platform::sim::attachSimC331();
    ZemRamPara::pInstance()->reload();  // the store outlives a test when a program runs whole
    connection_ = QObject::connect(
        &store(), &ZemRamPara::sig_update_para, &store(),
        [this](int id) {
            if (on_refresh) on_refresh(id);
            std::lock_guard<std::mutex> lock(refresh_mutex_);
            refreshes_.push_back(id);
        },
        Qt::DirectConnection);
    led_size_handshake::get().clear();
    g_fpga_c331_start = 0;
}

void C331Test::TearDown() {
    c331_manage::shutdown();
    QObject::disconnect(connection_);
    platform::installClock(nullptr);
    SimBoxTest::TearDown();
}

c331_manage* C331Test::startManager() {
    return c331_manage::pInstance();
}

bool C331Test::waitState(int state) {
    return waitFor([&] { return c331_manage::p_c331_manage->thread_state.load() == state; });
}

bool C331Test::waitFor(const std::function<bool()>& pred, int max_ms) {
    for (int i = 0, n = hangMs(max_ms); i < n; ++i) {
        if (pred()) return true;
        // unscaled: a pause; n is the bound.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

void C331Test::produce(const std::function<void(ZemRamPara&)>& change, uint8_t id) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    change(store());
    c331_manage::raise_apply(id);
}

bool C331Test::waitRefresh(int id, int count) {
    return waitFor([&] {
        const auto ids = refreshes();
        return std::count(ids.begin(), ids.end(), id) >= count;
    });
}

std::vector<int> C331Test::refreshes() const {
    std::lock_guard<std::mutex> lock(refresh_mutex_);
    return refreshes_;
}
