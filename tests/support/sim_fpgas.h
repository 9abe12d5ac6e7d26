// Both FPGAs of the simulated box with receiving cards behind their output ports: a fresh
// board, the FPGA manager set up on it, cards plugged and found by search cycles, and FPGA
// passes run tick by tick as the FPGA thread runs them. FPGA fixtures derive from it; a page
// test holds one to run the jobs its page posts to their end.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/zem_ram_para.h"
#include "fpga/fpga_manage.h"
#include "pc_link.h"
#include "platform/sim/sim_fpga.h"

class SimFpgas {
public:
    using Board = platform::sim::SimFpgaBoard;

    // The FPGA side as at power-on: its globals cleared, a 1920 x 1080 screen at 0, 0 in the
    // parameter store, both FPGAs' boards not yet powered. The box (and the store) must exist.
    void clearFpgaSide();
    // The image offset (RAM 1382, 1384) as the C331's panel set-up writes it.
    void panelOffset(uint16_t x, uint16_t y);
    // A fresh board under the same root (the box restarted) and the manager set up on it.
    void startBoard();
    // A source online and both FPGAs powered up (they light over the next passes).
    void powerUpBoth();
    // The same, then passes until both are lit.
    ::testing::AssertionResult light();
    // clearFpgaSide, startBoard and light.
    ::testing::AssertionResult start();

    // What the source-check thread does: release the FPGA's reset and mark its board ready.
    void powerUp(int fpga);
    // One pass of the FPGA thread per 10 ms tick, in the caller's thread.
    void runTicks(int ticks);
    // Runs passes until pred holds; false when maxTicks ran out first.
    bool runUntil(const std::function<bool()>& pred, int maxTicks = 3000);
    // The same on a thread of its own that the caller waits for, as the FPGA thread runs beside
    // the panel: what the passes emit reaches the pages queued, as in the program. pred runs on
    // that thread and may only read the FPGA side.
    bool runOnFpgaThread(const std::function<bool()>& pred, int maxTicks = 3000);
    ::testing::AssertionResult bothLit();
    std::string state() const;  // bring-up steps of both FPGAs, for failure messages

    // count cards behind port 0..19 (10..19: FPGA 1), its link up.
    void plug(int port, int count);
    // Runs the FPGA passes of search cycles (odd and even ports) and their replies.
    void searchCycles(int cycles = 2);
    // The card count of port 0..19 as the FPGA's RAM area 1 holds it.
    uint16_t areaCount(int port) const;
    // Frames sent on port 0..19 so far; those with command byte `command` only.
    std::vector<Bytes> sentOn(int port) const;
    std::vector<Bytes> sentOn(int port, uint8_t command) const;

    std::shared_ptr<Board> board;
    fpga_manage* mgr = nullptr;
    ZemRamPara* para = nullptr;
};
