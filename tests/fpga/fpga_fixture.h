// The FPGA pair on the simulated box: a fresh board, the manager set up on it, and helpers to
// power the FPGAs up and run FPGA passes tick by tick.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/sim_fpga.h"
#include "sim_fixture.h"
#include "video_io/raviksource.h"

class FpgaTest : public SimBoxTest {
protected:
    using Board = platform::sim::SimFpgaBoard;
    using Pads = platform::sim::FpgaPads;

    void SetUp() override;
    void TearDown() override;

    // A fresh board under the same root (the box restarted) and the manager set up on it.
    void startBoard();
    // What the source-check thread does: release the FPGA's reset and mark its board ready.
    void powerUp(int fpga);
    // One FPGA pass per tick.
    void runTicks(int ticks);
    // Runs passes until pred holds; false when maxTicks ran out first.
    bool runUntil(const std::function<bool()>& pred, int maxTicks = 3000);
    ::testing::AssertionResult bothLit();
    std::string state() const;  // bring-up steps of both FPGAs, for failure messages
    // Messages on one node; writes of the SoC window to one pad word.
    std::vector<Board::Message> messagesOn(int node) const;
    std::vector<uint16_t> padWrites(uint32_t offset) const;
    int resetPulses(int fpga) const;  // reset line driven low
    bool refreshed(int id) const;

    std::shared_ptr<Board> board;
    fpga_manage* mgr = nullptr;
    ZemRamPara* para = nullptr;
    std::vector<int> refresh_ids;
    QMetaObject::Connection refresh_conn;
};
