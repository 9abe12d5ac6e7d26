// The input side of the simulated box: fresh receivers, EEPROMs and chips on the I2C bus, the
// parameter store, and the source manager started on them.
#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/globals.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "local_command.h"
#include "platform/sim/sim_receivers.h"
#include "sim_fixture.h"
#include "video_io/raviksource.h"

class InputSideTest : public SimBoxTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the source-check thread on the box as it is.
    void startSource();
    // Waits (bounded) until pred holds; false when it never did.
    static bool waitFor(const std::function<bool()>& pred, int max_ms = 5000);
    // Lets the source thread run a few passes (to see that something does not happen).
    static void settle();
    // Refresh ids emitted so far.
    std::vector<int> refreshes() const;
    bool refreshed(int id) const;
    // Parameter RAM word and the timing words of a source.
    uint16_t ram16(int addr) const;
    // A byte of the parameter store's status block, as the source thread leaves it.
    uint8_t status(int byte) const;
    std::vector<uint16_t> timingInRam(int source) const;
    // What the video processor and the FPGA thread would do for the light-up.
    void pretendPathReady();
    // The bytes of a source's EDID EEPROM.
    std::vector<uint8_t> eeprom(int source, size_t n = 256) const;

    platform::sim::SimInputSide* side = nullptr;
    ZemRamPara* para = nullptr;
    raviksource* src = nullptr;

private:
    mutable std::mutex refresh_mutex_;
    std::vector<int> refresh_ids_;
    QMetaObject::Connection conn_;
};

// edid-decode's verdict on an EDID: its whole output.
std::string edidDecode(const std::vector<uint8_t>& edid, const std::string& dir);
