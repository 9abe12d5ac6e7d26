// The PC's brightness and on/off tables in FPGA 0's flash, saved while the power goes at every
// byte of the erase and the write: after the restart the flash holds the old table whole, the
// new one whole, or no table (its first byte is not 0xAA, which is how the loaders tell).
#include <algorithm>

#include "fpga_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Table {
    const char* name;
    uint32_t at;
    Bytes old_table, new_table;
};

Bytes withLevels(uint8_t first) {
    Bytes t = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 1};  // half-hour table
    for (int k = 0; k < 48; ++k) t.push_back(uint8_t(first + k));
    return t;
}

Bytes onOff(uint8_t hour) {
    return {0xAA, 2, 0xAA, 0, 0, 0, 9, 0, 2, hour, 0x00, 0x23, 0x00, 0x08, 0x30, 0x09, 0x15};
}

}  // namespace

using FlashCutTest = FpgaTest;

TEST_F(FlashCutTest, ATableCutShortReadsAsNoTable) {
    const Table tables[] = {
        {"brightness", fpga_manage::kBrightFlashAddr, withLevels(1), withLevels(100)},
        {"on/off", fpga_manage::kOnOffFlashAddr, onOff(0x06), onOff(0x07)},
    };
    for (const Table& t : tables) {
        // One sector erase, then each programmed byte counts towards the cut.
        const int whole = 1 + int(t.new_table.size());
        for (int cut = 0; cut <= whole; ++cut) {
            writeFlash(t.at, t.old_table);
            std::copy(t.new_table.begin(), t.new_table.end(), mgr->MCU_RAM_CMD.data());
            board->flash[0].power_cut_after = cut;
            mgr->Dealwith_mcu_ram();
            board->flash[0].power_cut_after = -1;  // the power is back
            const Bytes now = flash(t.at, t.new_table.size());
            const bool no_table = now[0] != 0xAA;
            EXPECT_TRUE(no_table || now == t.old_table || now == t.new_table)
                << t.name << ", cut after " << cut;
            if (cut == whole) {
                EXPECT_EQ(now, t.new_table) << t.name;
            }
        }
    }
}
