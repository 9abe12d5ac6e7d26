// Fixture of the video-processor tests: the simulated box with the C331 model behind its node,
// a fake clock, a freshly loaded parameter store, and the refresh ids the store emits.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "c331/c331_manage.h"
#include "core/zem_ram_para.h"
#include "platform/sim/sim_c331.h"
#include "sim_fixture.h"

class C331Test : public SimBoxTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the manager and its thread; waits (bounded) for the thread state.
    c331_manage* startManager();
    bool waitState(int state);
    // Waits, bounded, until pred holds; false when it never did.
    static bool waitFor(const std::function<bool()>& pred, int max_ms = 5000);

    // The producer rule: under the C331 mutex change the RAM, then raise the apply flag.
    void produce(const std::function<void(ZemRamPara&)>& change, uint8_t id = 1);
    // Waits until refresh id `id` has been emitted `count` times in all.
    bool waitRefresh(int id, int count = 1);
    std::vector<int> refreshes() const;

    ZemRamPara& store() const { return *ZemRamPara::p_zemrampara_config; }

    std::shared_ptr<platform::sim::SimC331> chip;
    // Set by the refresh slot, in the C331 thread, before the id is recorded.
    std::function<void(int)> on_refresh;

private:
    mutable std::mutex refresh_mutex_;
    std::vector<int> refreshes_;
    QMetaObject::Connection connection_;
};
