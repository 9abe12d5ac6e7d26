// Service commands of the register file: each runs inside an apply turn on the C331 thread and
// clears its byte; the sequences leave their registers on the simulated chip; the whole-register
// dump prints one line per register read.
#include <cctype>
#include <sstream>

#include "c331_fixture.h"

namespace {

constexpr int kReg165 = ZemRamPara::kCmd165, kReg162 = ZemRamPara::kCmd162,
              kReg163 = ZemRamPara::kCmd163, kReg164 = ZemRamPara::kCmd164;

class ServiceTest : public C331Test {
protected:
    void SetUp() override {
        C331Test::SetUp();
        c = startManager();
        ASSERT_TRUE(waitState(8));
    }
    // Writes a command byte as the PC's register write does, and waits until the apply
    // cleared it.
    bool run(int slot, uint8_t value, const std::function<void(c331_manage&)>& before = {}) {
        chip->clearFrames();
        produce([&](ZemRamPara& s) {
            if (before) before(*c);
            s.command_reg[slot] = value;
        });
        return waitFor([&] {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            return store().command_reg[slot] == 0;
        });
    }
    // The last value written to a register of output channel k, or -1.
    int last(uint8_t bank, uint8_t address, int k = 0) const {
        const auto w = chip->writes(uint8_t(bank + 16 * k), address);
        return w.empty() ? -1 : w.back();
    }
    c331_manage* c = nullptr;
};

TEST_F(ServiceTest, EachCommandByteRunsItsSequenceAndIsCleared) {
    struct Case {
        const char* name;
        int slot;
        uint8_t value;
        uint8_t bank, address;
        int channel, want;
    };
    const Case cases[] = {
        {"162 bit 0 input bars", kReg162, 0x01, 0x08, 0x57, 4, 0x89},
        {"162 bit 1 output bars", kReg162, 0x02, 0x08, 0x57, 3, 9},
        {"162 bit 2 bars off", kReg162, 0x04, 0x08, 0x57, 5, 0},
        {"162 bit 3 V-by-One 1", kReg162, 0x08, 0x02, 0x4C, 0, 0xAB},
        {"162 bit 4 V-by-One 2", kReg162, 0x10, 0x02, 0x68, 0, 0xAB},
        {"165 bit 0 input sync", kReg165, 0x01, 0x00, 0x4B, 0, 0x10},
        {"165 bit 1 frame lock", kReg165, 0x02, 0x08, 0x0C, 7, 5489 & 0xFF},
        {"165 bit 3 frame lock 3", kReg165, 0x08, 0x08, 0x18, 0, 2},
        {"163 topic 6 white", kReg163, 6 + 1, 0x08, 0x48, 7, 1},
        {"163 topic 9 zoom", kReg163, 9 + 1, 0x1A, 0x4B, 0, 3},
        {"164 bit 0 register groups", kReg164, 0x01, 0x00, 0x00, 0, -1},
    };
    for (const Case& k : cases) {
        ASSERT_TRUE(run(k.slot, k.value)) << k.name;
        if (k.want >= 0) {
            EXPECT_EQ(last(k.bank, k.address, k.channel), k.want) << k.name;
        }
    }
}

TEST_F(ServiceTest, OnlyTheLowestBitRunsAndTheOthersAreLost) {
    ASSERT_TRUE(run(kReg162, 0x03));
    EXPECT_EQ(last(0x08, 0x57, 4), 0x89);  // input bars
    EXPECT_EQ(last(0x08, 0x57, 0), -1);    // no output bars
    ASSERT_TRUE(run(kReg165, 0xF0));       // bits 4..7 start nothing
    EXPECT_TRUE(chip->writes(0x00, 0x55).empty());
}

TEST_F(ServiceTest, FrameLockOnTheSecondReceiverUsesTheOutputTotalPlusATenth) {
    ASSERT_TRUE(run(kReg165, 0x04, [](c331_manage& m) { m.gPanel.VTT = 2250; }));
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(chip->field(0x080C02, 16 * k), 2475u) << k;
        EXPECT_EQ(chip->field(0x081E02, 16 * k), 1u) << k;
    }
    EXPECT_EQ(chip->field(0x080F01), 0x84u);
}

TEST_F(ServiceTest, WriteReadBackRaisesTheInputStartBy100) {
    chip->poke(0x50, 0x17, 20);
    ASSERT_TRUE(run(kReg162, 0x80));
    EXPECT_EQ(chip->field(0x501702), 120u);
}

namespace {
bool upperHex(const std::string& s, size_t from, size_t n) {
    for (size_t i = from; i < from + n; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i])) && (s[i] < 'A' || s[i] > 'F'))
            return false;
    return true;
}
// A line of the dump: "AAAAAA  VVVVVVVVh", the address and the value in upper-case hex.
bool dumpLine(const std::string& l) {
    return l.size() == 17 && upperHex(l, 0, 6) && l.compare(6, 2, "  ") == 0 && upperHex(l, 8, 8) &&
           l[16] == 'h';
}
}  // namespace

TEST_F(ServiceTest, TheWholeRegisterDumpPrintsOneLinePerRead) {
    c331_manage::stop_thread();
    chip->clearFrames();
    testing::internal::CaptureStdout();
    c->c331_print();
    const std::string out = testing::internal::GetCapturedStdout();
    std::istringstream lines(out);
    int count = 0, bad = 0;
    for (std::string l; std::getline(lines, l);) {
        ++count;
        bad += !dumpLine(l);
    }
    EXPECT_EQ(bad, 0);
    size_t reads = 0;
    for (const auto& f : chip->frames()) reads += !(f.tx0 & 0x80);
    EXPECT_EQ(size_t(count), reads);
    EXPECT_EQ(out.substr(0, 8), "000101  ");
}

TEST_F(ServiceTest, TheParameterDumpPrintsTheClockOfAnUnmeasuredInputAsZero) {
    // Inputs not measured again since the start hold 0xFF bytes: their clock is not a number.
    c331_manage::stop_thread();
    testing::internal::CaptureStdout();
    c->zemDbg_c331_param(0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("PI_HDMI_INFO[0].pfreq :0 "), std::string::npos) << out;
}

// Field tools find the sections of the parameter dump by their headings, in this order.
TEST_F(ServiceTest, TheParameterDumpKeepsItsSectionHeadings) {
    c331_manage::stop_thread();
    testing::internal::CaptureStdout();
    c->zemDbg_c331_param();
    const std::string out = testing::internal::GetCapturedStdout();
    size_t at = 0;
    for (const char* heading :
         {"[zemDbg_c331_param]\r", "<<===OCH SPEC\r", "\t PS_ACTHW  :", "<<===PS VBO\r",
          "<<===PM_WIN_SHAPE\r", "<<===PM_OVERLAY\r", "<<===OSD_WIN\r", "<<===PI HDMI INFO\r"}) {
        const size_t found = out.find(heading, at);
        ASSERT_NE(found, std::string::npos) << heading;
        at = found;
    }
}

}  // namespace
