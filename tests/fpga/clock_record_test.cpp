// The operating-time record in FPGA 0's simulated flash: a first run, a restart, full groups,
// the ring and the log wrapping, power cut off in the middle of writes, corrupt groups, the
// clock-set mark, and the counters read over the PC link while both FPGAs run.
#include <ctime>
#include <memory>

#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "fpga_fixture.h"
#include "pc_link.h"
#include "platform/clock.h"

namespace {

using Rec = clock_record_run;
constexpr uint32_t kMain = Rec::kGroupAddr, kMirror = Rec::kMirrorAddr, kLog = Rec::kLogAddr;
const Bytes kStamp = {0x26, 0x20, 0x03, 0x05, 0x14, 0x07, 0x09};  // 2026-03-05 14:07:09

uint32_t u32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

}  // namespace

class ClockRecordTest : public FpgaTest {
protected:
    void SetUp() override {
        auto clock = std::make_unique<platform::FakeClock>();
        std::tm tm{};
        tm.tm_year = 126;
        tm.tm_mon = 2;
        tm.tm_mday = 5;
        tm.tm_hour = 14;
        tm.tm_min = 7;
        tm.tm_sec = 9;
        tm.tm_isdst = -1;
        clock->setWall(int64_t(std::mktime(&tm)));
        platform::installClock(std::move(clock));
        FpgaTest::SetUp();
    }
    void TearDown() override {
        FpgaTest::TearDown();
        platform::installClock(nullptr);
    }

    Rec& rec() { return mgr->clock_record; }
    // A start of the program: fresh state, then the record read from the flash.
    void start() {
        rec().clear();
        rec().clock_record_init();
    }
    void minutes(int n) {
        for (int i = 0; i < n; ++i) {
            G_timeTicks += 6001;
            rec().clock_record_deal();
        }
    }
    uint32_t total() {
        uint8_t out[Rec::kPcRecordSize];
        return rec().pc_record(out, sizeof out) ? u32(Bytes(out, out + 8), 0) : 0xFFFFFFFFu;
    }

    auto& mem() { return board->flash[0].mem; }
    uint32_t at(uint32_t logical) const { return logical - Rec::kFlashOffset; }
    Bytes bytes(uint32_t logical, size_t n) {
        return Bytes(mem().begin() + at(logical), mem().begin() + at(logical) + n);
    }
    void put(uint32_t logical, const Bytes& b) {
        std::copy(b.begin(), b.end(), mem().begin() + at(logical));
    }
    void eraseRecords() {
        std::fill(mem().begin() + at(0x480000), mem().begin() + at(0x4C1000), 0xFF);
    }
    // A valid group in both copies: base minutes, sequence and progress bytes.
    void group(int g, uint32_t base, uint32_t seq, const Bytes& progress) {
        for (uint32_t copy : {kMain, kMirror}) {
            const uint32_t a = copy + 512 * g;
            put(a, {0xAA});
            put(a + 1, kStamp);
            put(a + 8,
                cat({le32(base), {0xFF, uint8_t(seq), uint8_t(seq >> 8), uint8_t(seq >> 16)}}));
            put(a + 48, progress);
        }
    }
    void fullRing(int groups) {
        for (int g = 0; g < groups; ++g) group(g, 2880u * g, uint32_t(g), Bytes(360, 0x55));
    }
    int marked(uint32_t copy) {
        int n = 0;
        while (n < 8 && bytes(copy + 512 * n, 1)[0] == 0xAA) ++n;
        return n;
    }
};

TEST_F(ClockRecordTest, FirstRunOnBlankFlashOpensGroupZeroAtMinuteThirty) {
    start();
    EXPECT_EQ(bytes(0x480000, 3), (Bytes{0xAA, 0x5A, 0xA5}));
    minutes(29);
    EXPECT_EQ(marked(kMain), 0);  // a run shorter than 30 minutes leaves nothing
    EXPECT_EQ(total(), 29u);
    minutes(1);
    for (uint32_t copy : {kMain, kMirror}) {
        EXPECT_EQ(bytes(copy, 16), cat({{0xAA}, kStamp, le32(0), {0xFF, 0, 0, 0}}));
        EXPECT_EQ(bytes(copy + 33, 7), kStamp);
        EXPECT_EQ(bytes(copy + 48, 5), (Bytes{0x55, 0x55, 0x55, 0xD5, 0xFF}));
    }
    EXPECT_EQ(bytes(kLog, 16), cat({{0xAA}, kStamp, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0, 0, 0}}));
    minutes(2);
    EXPECT_EQ(bytes(kMain + 51, 2), (Bytes{0x55, 0xFF}));
    minutes(2);
    EXPECT_EQ(bytes(kMirror + 51, 2), (Bytes{0x55, 0xFD}));
    EXPECT_EQ(total(), 34u);
}

TEST_F(ClockRecordTest, RestartContinuesFromTheLastGroup) {
    Bytes progress(10, 0x55);
    progress.push_back(0xF5);  // 8 x 10 + 4 minutes
    group(0, 900, 4, Bytes(360, 0x55));
    group(1, 1000, 5, progress);
    start();
    EXPECT_EQ(total(), 1084u);
    EXPECT_EQ(bytes(kLog + 16 * 5 + 8, 4), le32(84));  // closes the group's log entry
    minutes(30);
    EXPECT_EQ(bytes(kMain + 512 * 2 + 8, 8), cat({le32(1084), {0xFF, 6, 0, 0}}));
    EXPECT_EQ(bytes(kLog + 16 * 6, 1), Bytes{0xAA});
    EXPECT_EQ(total(), 1114u);
}

TEST_F(ClockRecordTest, FullGroupOpensTheNextAndTheTotalCountsItOnce) {
    start();
    minutes(2880);
    EXPECT_EQ(bytes(kMain + 48 + 356, 4), Bytes(4, 0x55));
    EXPECT_EQ(bytes(kLog + 8, 4), le32(2880));
    EXPECT_EQ(bytes(kMain + 512 + 8, 8), cat({le32(2880), {0xFF, 1, 0, 0}}));
    EXPECT_EQ(total(), 2880u);
    minutes(2);
    EXPECT_EQ(bytes(kMirror + 512 + 48, 1), Bytes{0xFD});
    EXPECT_EQ(total(), 2882u);
    start();  // and a restart reads the same
    EXPECT_EQ(total(), 2882u);
}

TEST_F(ClockRecordTest, RingWrapsToGroupZeroWithBothSectorsEmptied) {
    fullRing(8);
    start();
    EXPECT_EQ(total(), 8u * 2880);
    minutes(30);
    EXPECT_EQ(marked(kMain), 1);
    EXPECT_EQ(marked(kMirror), 1);
    EXPECT_EQ(bytes(kMain + 8, 8), cat({le32(8 * 2880), {0xFF, 8, 0, 0}}));
    EXPECT_EQ(bytes(kMirror + 512, 512), Bytes(512, 0xFF));
    start();
    EXPECT_EQ(total(), 8u * 2880 + 30);
}

TEST_F(ClockRecordTest, LogWrapsAfterItsLastEntry) {
    put(kLog + 16, {0x00});  // something to erase
    group(0, 0, 15616 | 2u << 20, {0x55, 0xFD});
    start();
    EXPECT_EQ(bytes(kLog + 4096 * 61 + 8, 4), le32(10));  // entry 15616
    EXPECT_EQ(bytes(kLog + 16, 1), Bytes{0xFF});
    minutes(30);
    EXPECT_EQ(bytes(kMain + 512 + 13, 3), (Bytes{0, 0, 0x30}));  // entry 0, third wrap
}

// A power cut at every byte of the run's first group opening (and, for some, a second cut
// during the repair at the next start): afterwards both copies hold the same valid groups and
// the total is what was there before the opening or after it.
TEST_F(ClockRecordTest, PowerCutDuringWritesLeavesAWholeCopy) {
    for (const int ring : {2, 8}) {
        for (int cut = 0; cut < 90; ++cut) {
            eraseRecords();
            fullRing(ring);
            start();
            const uint32_t before = total();
            minutes(28);
            board->flash[0].power_cut_after = cut;
            minutes(2);
            board->flash[0].power_cut_after = cut % 7 == 0 ? cut * 37 : -1;
            start();  // the power came back: a restart, perhaps cut off again while repairing
            board->flash[0].power_cut_after = -1;
            start();
            const std::string where = std::to_string(ring) + "/" + std::to_string(cut);
            EXPECT_EQ(marked(kMain), marked(kMirror)) << where;
            EXPECT_TRUE(total() >= before && total() <= before + 30) << where << ": " << total();
            const uint32_t now = total();
            minutes(30);
            EXPECT_EQ(total(), now + 30) << where;
        }
    }
}

TEST_F(ClockRecordTest, CorruptGroupIsRestoredFromItsOtherCopy) {
    fullRing(4);
    put(kMirror + 512, {0x00});  // the mirror of group 1 lost its marker
    start();
    EXPECT_EQ(total(), 4u * 2880);
    EXPECT_EQ(bytes(kMain, 4096), bytes(kMirror, 4096));
    put(kMain + 1024 + 100, {0});  // main group 2: its marker and a progress byte
    put(kMain + 1024, {0x2A});
    start();
    EXPECT_EQ(total(), 4u * 2880);
    EXPECT_EQ(bytes(kMain, 4096), bytes(kMirror, 4096));
}

TEST_F(ClockRecordTest, ClockSetMarksTheGroup) {
    rec().clear();
    rec().dealwith_record_timing();  // before the record was read: kept for the first group
    rec().clock_record_init();
    EXPECT_EQ(bytes(kMain + 44, 1), Bytes{0x5A});
    minutes(30);
    EXPECT_EQ(bytes(kMirror + 44, 1), Bytes{0x5A});
    EXPECT_EQ(bytes(kLog + 12, 1), Bytes{0x5A});
    start();
    minutes(30);
    EXPECT_EQ(bytes(kMain + 512 + 44, 1), Bytes{0xFF});
    rec().dealwith_record_timing();  // while open: the main copy and the log entry
    EXPECT_EQ(bytes(kMain + 512 + 44, 1), Bytes{0x5A});
    EXPECT_EQ(bytes(kMirror + 512 + 44, 1), Bytes{0xFF});
    EXPECT_EQ(bytes(kLog + 16 + 12, 1), Bytes{0x5A});
}

// The FPGA pass counts only while both FPGAs run; the PC reads the counters and sets the clock.
TEST_F(ClockRecordTest, CountsWhileBothFpgasRunAndThePcReadsIt) {
    g_source_online = 2;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(bothLit());
    comm_hooks::wire();
    link_session session(LinkKind::Tcp, "test");
    const auto ask = [&session](const Bytes& b) {
        Bytes w = wire(b);
        ReplyReader r;
        session.feed(w.data(), w.size(), [&](const uint8_t* p, uint32_t n) { r.add(p, n); });
        return r.bodies.empty() ? Bytes{} : r.bodies.back();
    };
    const auto pcMinutes = [&] {
        const Bytes reply = ask(body(0x96, {}));
        return reply.size() == 10 + 1 + Rec::kPcRecordSize && reply[10] == 0 ? u32(reply, 11)
                                                                             : 0xFFFFFFFFu;
    };
    const auto passMinutes = [this](int n) {
        for (int i = 0; i < n; ++i) {
            G_timeTicks += 6001;
            mgr->fpga_manage_deal();
        }
    };
    runTicks(1);
    passMinutes(31);
    EXPECT_EQ(pcMinutes(), 31u);
    EXPECT_EQ(marked(kMain), 1);
    mgr->reset_fpga_rst(1);  // FPGA 1 restarts: no minutes while it is down
    passMinutes(10);
    EXPECT_NE(mgr->get_fpga_status(), 1);
    ASSERT_TRUE(bothLit());
    EXPECT_EQ(pcMinutes(), 32u);  // one minute for the whole stop
    passMinutes(1);
    EXPECT_EQ(pcMinutes(), 33u);
    EXPECT_EQ(ask(body(0x95, hex("07 30 12 06 00 12 26 20")))[10], 0);
    EXPECT_EQ(bytes(kMain + 44, 1), Bytes{0x5A});

    // The program starts again on the same box: the flash (a file under the root) keeps the
    // 32 minutes stepped so far.
    startBoard();
    comm_hooks::wire();
    EXPECT_EQ(ask(body(0x96, {}))[10], 2);  // not read before the LED output runs again
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(bothLit());
    EXPECT_EQ(pcMinutes(), 32u);
    passMinutes(30);
    EXPECT_EQ(pcMinutes(), 62u);
    EXPECT_EQ(marked(kMain), 2);
}
