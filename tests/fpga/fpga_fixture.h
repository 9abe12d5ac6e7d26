// The FPGA pair on the simulated box: a fresh board, the manager set up on it, and helpers to
// power the FPGAs up and run FPGA passes tick by tick (from SimFpgas), with what the tests
// look at on the SoC window and the refreshes raised.
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
#include "sim_fpgas.h"
#include "video_io/raviksource.h"

class FpgaTest : public SimBoxTest, public SimFpgas {
protected:
    using Pads = platform::sim::FpgaPads;

    void SetUp() override;
    void TearDown() override;

    // Messages on one node; writes of the SoC window to one pad word.
    std::vector<Board::Message> messagesOn(int node) const;
    std::vector<uint16_t> padWrites(uint32_t offset) const;
    int resetPulses(int fpga) const;  // reset line driven low
    bool refreshed(int id) const;
    // RAM 2116 as the panel sees it after the next refresh (the FPGA thread's close-LED lands
    // there).
    uint16_t closeLedAfterRefresh() const;
    // A user's write of a RAM word under the C331 mutex, as a PC's RAM write (the protocol's
    // handler copies it in) or the panel makes it; and what the C331 apply then hands the FPGA
    // side of RAM 2116 or 2176: its value with its write generation.
    enum Writer { kPc, kPanel };
    void userWrite(Writer by, int addr, uint16_t value);
    void handOver(int addr);
    // A port table of FPGA 0 as saved to its flash (marker 0xAA, then 1024 bytes): port 1 at
    // (100, 40) size 256 x 128, screen 1000 x 500.
    static std::vector<uint8_t> savedPortTable();
    // FPGA 0's configuration flash: a 4 KiB sector erased with bytes at its start, and n bytes.
    void writeFlash(uint32_t at, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> flash(uint32_t at, size_t n) const;

    std::vector<int> refresh_ids;
    QMetaObject::Connection refresh_conn;
};
