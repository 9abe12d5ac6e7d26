// A clean stop (SIGTERM, as a person or a service manager stops the box) keeps everything the
// box acknowledged: a change answered just before the signal is in the files after the restart.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

#include "pc_link.h"
#include "program_fixture.h"

namespace {

using std::chrono::seconds;

class CleanStop : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_TRUE(chipsRunning()) << console();
    }
    // u16 of a file under the root at the place of RAM address addr (the file's byte 2 holds
    // RAM base); -1 when the file is too short or missing.
    int fileWord(const std::string& file, int addr, int base) const {
        const std::string f = slurp(root_ + file);
        const size_t at = size_t(2 + addr - base);
        return f.size() > at + 1 ? uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 : -1;
    }
};

TEST_F(CleanStop, WhatTheBoxAnsweredJustBeforeSigtermIsInItsFiles) {
    struct Row {
        const char* name;
        std::function<void(TcpLink&)> ask;  // every frame answered status 0
        const char* file;
        int base;           // the RAM address of the file's byte 2
        uint16_t expected;  // RAM 2176 in the file
    };
    const auto asked = [](TcpLink& pc, const Bytes& frame) { ASSERT_EQ(status(pc.ask(frame)), 0); };
    const Row rows[] = {
        {"a brightness applied",
         [&](TcpLink& pc) {
             asked(pc, writeRam(2176, le16(37)));
             asked(pc, writeReg(11, 0xFF, {0}));
         },
         "/data/ram_device_info", 768, 37},
        {"a save request",
         [&](TcpLink& pc) {
             asked(pc, writeRam(2176, le16(41)));
             asked(pc, writeRam(868, le16(6)));
             asked(pc, writeReg(11, 0xFF, {0}));
         },
         "/data/modes/custom_mode6", 896, 41},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        {
            const std::unique_ptr<TcpLink> pc = connectPc(seconds(30));
            ASSERT_TRUE(pc);
            row.ask(*pc);
        }
        restart(SIGTERM);
        EXPECT_EQ(fileWord(row.file, 2176, row.base), row.expected) << console();
        ASSERT_TRUE(chipsRunning()) << console();
        const std::unique_ptr<TcpLink> pc = connectPc(seconds(30));
        ASSERT_TRUE(pc);
        const Bytes r = pc->ask(readRam(2176, 2));
        ASSERT_EQ(r.size(), 13u);
        EXPECT_EQ(r[11] | r[12] << 8, row.expected) << "the restart took it";
    }
}

}  // namespace
