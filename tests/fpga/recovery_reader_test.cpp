// The reader of the stored card configurations, record by record.
#include "card_files.h"
#include "fpga/rcv_recovery.h"
#include "sim_fixture.h"

namespace {

class RecoveryReader : public SimBoxTest {
protected:
    void SetUp() override {
        SimBoxTest::SetUp();
        r.file_path = "/data/rcvrecovery/QZFX";
    }
    void write(const Bytes& b) {
        writeFile("/data/rcvrecovery/QZFX", std::string(b.begin(), b.end()));
    }
    bool readTable() {
        if (r.get_rcvPackedFileNum()) return false;
        for (uint8_t i = 0; i < r.sub_file_count(); ++i)
            if (r.get_rcvPackedFileInfo(i)) return false;
        return true;
    }
    rcvRecovery r;
};

CardOp op(size_t n) {
    return {1, 1, 0, Bytes(n, 0x11)};
}

std::string scanText(const std::vector<CardOp>& ops) {
    const Bytes b = scanFile(ops);
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST_F(RecoveryReader, WalksScreensNetsCardsAndOperations) {
    const CardNet net{9, {{op(1), op(2), op(3)}, {op(4)}, {op(5), op(6)}}};
    write(packedFile({{0xA1, {}, {net}}, {0xB2, {op(7)}, {net}}}));
    ASSERT_TRUE(readTable());
    ASSERT_EQ(r.update_rcvScreenHead(), 0);
    EXPECT_EQ(r.screen_head.screen_num, 2);
    EXPECT_EQ(r.update_rcvScreenIDinfo(2), 1);  // past the screens: nothing read
    ASSERT_EQ(r.update_rcvScreenIDinfo(1), 0);
    EXPECT_EQ(r.config_id(), 0xB2u);
    ASSERT_EQ(r.update_rcvXYscreenNetnum(), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(0), 0);
    EXPECT_EQ(r.net_record.net_ledx, 9);
    EXPECT_EQ(r.net_record.net_rcv_num, 3);
    // Cards of 3 and 1 operations come first: card 2 is 4 + 54 + 4 + 18 bytes in.
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(2, false), 0);
    EXPECT_EQ(r.card_record_offset, 80u);
    EXPECT_EQ(r.rcv_operate_times, 2);
    ASSERT_EQ(r.update_rcvXYrcvOperatepara(1, false), 0);
    EXPECT_EQ(r.operate_record.dataLen, 6u);
    Bytes data(6);
    ASSERT_EQ(r.update_rcvOperatedata(r.operation_data(false, false), data.data(), 6), 0);
    EXPECT_EQ(data, Bytes(6, 0x11));
    EXPECT_EQ(r.update_rcvXYrcvOperatepara(2, false), 1);   // past its operations
    EXPECT_EQ(r.update_rcvXYrcvOperateTimes(3, false), 1);  // past the net's cards
    EXPECT_EQ(r.update_rcvXYscreenNetpara(1), 1);           // past the screen's nets
    ASSERT_EQ(r.update_smartDebugingOperateTimes(false), 0);
    EXPECT_EQ(r.rcv_operate_times, 1);
    EXPECT_EQ(r.check_operations(true, false, 1), 0);
}

TEST_F(RecoveryReader, TheLastSubFileOfATypeCountsAndAMissingFileIsAFailure) {
    Bytes f = packedFile({{0xA1, {}, {{1, {{op(1)}}}}}});
    f[3] = 4;  // a fourth table entry, of type 10, pointing at a second screen sub-file
    const Bytes second =
        cat({{0, 0, 1, 0}, Bytes(16, 0), {1}, Bytes(11, 0), le32(0xC3), Bytes(48, 0)});
    const uint32_t at = uint32_t(f.size());
    f.insert(f.begin() + 40, {10, 0, 0, 0});
    const Bytes len = le32(uint32_t(second.size())), off = le32(at + 12);
    f.insert(f.begin() + 44, len.begin(), len.end());
    f.insert(f.begin() + 48, off.begin(), off.end());
    f.insert(f.end(), second.begin(), second.end());
    // The table grew by 12 bytes: shift the three offsets already in it.
    for (int e = 0; e < 3; ++e) f[4 + 12 * e + 8] = uint8_t(f[4 + 12 * e + 8] + 12);
    write(f);
    ASSERT_TRUE(readTable());
    ASSERT_EQ(r.update_rcvScreenHead(), 0);
    ASSERT_EQ(r.update_rcvScreenIDinfo(0), 0);
    EXPECT_EQ(r.config_id(), 0xC3u);

    r.file_path = "/data/rcvrecovery/none";
    EXPECT_EQ(r.get_rcvPackedFileNum(), 1);
}

TEST_F(RecoveryReader, FolderListsByExactName) {
    writeFile("/data/rcvrecovery/QZFX", "x");
    writeFile("/data/smartmapping/a.qzfile", "x");
    EXPECT_EQ(r.get_dir_file("/data/rcvrecovery"), 0);
    EXPECT_EQ(r.files(true), QStringList{"QZFX"});
    EXPECT_EQ(r.get_dir_file("/data/smartmapping/"), 0);  // not one of the three names
    EXPECT_TRUE(r.files(false).isEmpty());
    EXPECT_EQ(r.get_dir_file("/data/smartmapping"), 0);
    EXPECT_EQ(r.files(false), QStringList{"a.qzfile"});
    EXPECT_EQ(r.get_dir_file("/mnt/usb1/"), 1);  // no disk
}

// What a block's operations may take: each frame waits its limit once (a RAM write a frame a
// packet, a save 1 s more a card, a scan's firmware a card), which the 60-minute ceiling
// counts; and the replay's bound, where each frame that is sent again counts four sends, with
// the two passes (20 ms) of each.
TEST_F(RecoveryReader, ABlockAddsUpItsOwnTimeLimits) {
    struct Case {
        const char* name;
        CardOp op;
        uint64_t ms, bound_ms;  // in a scan file, on a port of 4 cards
    } cases[] = {
        {"RAM write of 2500 bytes: 3 packets", {1, 1, 0, Bytes(2500, 1), 200}, 600, 3 * 4 * 220},
        {"register write", {1, 2, 0, {1, 2}, 200}, 200, 4 * 220},
        {"save", {2, 0, 0, {}, 500}, 4500, 4 * 4520},
        {"firmware to each card", {3, 0, 0, {1}, 100}, 400, 4 * 4 * 120},
        {"user-defined frame", {16, 0, 0, {1}, 300}, 300, 4 * 320},
        {"search: sent once", {7, 0, 0, {1}, 300}, 300, 320},
        {"sleep", {6, 0, 0, {}, 60000}, 60000, 60020},
        {"write to flash: not replayed", {1, 3, 0, {1}, 700}, 0, 0},
    };
    r.file_path = "/data/smartmapping/a.qzfile";
    uint64_t all = 0, all_bound = 0;
    std::vector<CardOp> ops;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("/data/smartmapping/a.qzfile", scanText({c.op}));
        ASSERT_EQ(r.update_smartDebugingOperateTimes(true), 0);
        ASSERT_EQ(r.check_operations(true, true, 4), 0);
        EXPECT_EQ(r.limit_sum_ms, c.ms);
        EXPECT_EQ(r.bound_sum_ms, c.bound_ms);
        all += c.ms;
        all_bound += c.bound_ms;
        ops.push_back(c.op);
    }
    writeFile("/data/smartmapping/a.qzfile", scanText(ops));
    ASSERT_EQ(r.update_smartDebugingOperateTimes(true), 0);
    ASSERT_EQ(r.check_operations(true, true, 4), 0);
    EXPECT_EQ(r.limit_sum_ms, all);
    EXPECT_EQ(r.bound_sum_ms, all_bound);

    // A recovery sends firmware to its one card only.
    r.file_path = "/data/rcvrecovery/QZFX";
    write(packedFile({{0xA1, {{3, 0, 0, {1}, 100}}, {{9, {{op(1)}}}}}}));
    ASSERT_TRUE(readTable());
    ASSERT_EQ(r.update_rcvScreenHead(), 0);
    ASSERT_EQ(r.update_rcvScreenIDinfo(0), 0);
    ASSERT_EQ(r.update_smartDebugingOperateTimes(false), 0);
    ASSERT_EQ(r.check_operations(true, false, 4), 0);
    EXPECT_EQ(r.limit_sum_ms, 100u);
    EXPECT_EQ(r.bound_sum_ms, 4u * 120);
}

// A sleep above 60 s is refused as its record is read, and a block whose limits add up to more
// than 60 minutes when it is checked; exactly at the bounds they are taken.
TEST_F(RecoveryReader, ASleepAboveTheCapOrABlockAboveTheCeilingIsRefusedWhenRead) {
    r.file_path = "/data/smartmapping/a.qzfile";
    const auto read = [&](const std::vector<CardOp>& ops) {
        writeFile("/data/smartmapping/a.qzfile", scanText(ops));
        EXPECT_EQ(r.update_smartDebugingOperateTimes(true), 0);
        return r.update_smartDebugingOperatepara(0, true);
    };
    EXPECT_EQ(read({{6, 0, 0, {}, 60000}}), 0);
    EXPECT_EQ(r.operate_record.timeticks, 60000u);
    EXPECT_EQ(read({{6, 0, 0, {}, 60001}}), 1);
    EXPECT_EQ(r.operate_record.timeticks, 60000u);  // the member keeps its old value
    EXPECT_EQ(r.check_operations(true, true, 1), 1);
    EXPECT_EQ(read({{6, 0, 0, {}, 0xFFFFFFFF}}), 1);

    const std::vector<CardOp> hour(60, CardOp{6, 0, 0, {}, 60000});
    EXPECT_EQ(read(hour), 0);
    EXPECT_EQ(r.check_operations(true, true, 1), 0);
    std::vector<CardOp> more = hour;
    more.push_back({1, 2, 0, {1, 2}, 1});
    EXPECT_EQ(read(more), 0);
    EXPECT_EQ(r.check_operations(true, true, 1), 1);
    // A save's wait grows with the port's cards: the same block passes or not by their count.
    const std::vector<CardOp> saves(255, CardOp{2, 0, 0, {}, 10000});
    EXPECT_EQ(read(saves), 0);
    EXPECT_EQ(r.check_operations(true, true, 4), 0);  // 255 x 14 s
    EXPECT_EQ(r.check_operations(true, true, 5), 1);  // 255 x 15 s
}
