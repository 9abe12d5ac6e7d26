// The box commands through the handler table: what the PC gets back and what the box keeps.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "c331/c331_manage.h"
#include "comm/comm_bridge.h"
#include "comm/comm_hooks.h"
#include "comm/message_deal.h"
#include "comm_fixture.h"
#include "core/globals.h"
#include "core/led_size.h"
#include "core/led_size_handshake.h"
#include "core/link_activity.h"
#include "core/saver.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "time_factor.h"

namespace {

// The reply's data from offset 10.
Bytes data(const Bytes& reply) {
    return reply.size() > 10 ? Bytes(reply.begin() + 10, reply.end()) : Bytes{};
}

}  // namespace

using Handlers = CommTest;

TEST_F(Handlers, ParameterRamWriteAndReadBackWithSwappedHeader) {
    const Bytes reply = handle(writeRam(0x800, {1, 2, 3}));
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), hex("10 f0 00 f1"));
    EXPECT_EQ(reply[9], 0x60);
    EXPECT_EQ(data(reply), Bytes{0});
    EXPECT_EQ(store()->ram[0x801], 2);
    EXPECT_EQ(data(handle(readRam(0x800, 3))), hex("00 01 02 03"));
    EXPECT_TRUE(pendingApplies().empty());  // the PC applies through register 11
}

// The source thread's timing words (RAM 256..291) are kept apart from the rest of the RAM: a
// PC's read across their edges sees what that thread wrote, and a PC's write across them lands
// in them, its other bytes in the RAM.
TEST_F(Handlers, TheTimingWordsReadAndWriteAsPartOfTheRam) {
    const auto timing = [&](int addr) {
        zem::MutexLocker lock(store()->mutex);
        return store()->timing16(addr);
    };
    {
        zem::MutexLocker lock(store()->mutex);
        store()->set_timing16(256, 1920);    // source 0's width
        store()->set_timing16(290, 0x1234);  // the last word
    }
    const Bytes read = data(handle(readRam(254, 40)));
    ASSERT_EQ(read.size(), 41u);
    EXPECT_EQ(Bytes(read.begin() + 3, read.begin() + 5), hex("80 07"));
    EXPECT_EQ(Bytes(read.begin() + 37, read.begin() + 39), hex("34 12"));
    EXPECT_EQ(status(handle(writeRam(254, {1, 2, 3, 4}))), 0);
    EXPECT_EQ(timing(256), 0x0403);
    EXPECT_EQ(status(handle(writeRam(290, {5, 6, 7, 8}))), 0);
    EXPECT_EQ(timing(290), 0x0605);
    EXPECT_EQ(data(handle(readRam(254, 4))), hex("00 01 02 03 04"));
    EXPECT_EQ(data(handle(readRam(290, 4))), hex("00 05 06 07 08"));
}

TEST_F(Handlers, RamAndUserModeWritesWaitForTheC331Mutex) {
    // The parameter RAM and a user-mode slot: the C331 thread, a recall on another link and
    // the reads copy them under this mutex.
    for (uint32_t addr : {0x900u, 0x3010u}) {
        SCOPED_TRACE(addr);
        const uint8_t* at = addr < 0x1000
                                ? store()->ram.data() + addr
                                : store()->mode_ram[(addr >> 12) - 1].data() + (addr & 0xFFF);
        std::atomic<bool> at_lock{false};
        comm_hooks::get().before_store_lock = [&] { at_lock = true; };
        zem::MutexLocker held(c331_manage::c331_mutex);
        auto pc = std::async(std::launch::async, [&] { return handle(writeRam(addr, {0x77})); });
        EXPECT_TRUE(eventually([&] { return at_lock.load(); }, 5000)) << "the write never came";
        // A window from the write's last step before the lock: a thread that waits for a mutex
        // shows nowhere a test can see (the lock check proves the lock statically). A busy
        // machine makes it miss a write that does not wait, never fail one that does.
        EXPECT_EQ(pc.wait_for(hangBound(std::chrono::milliseconds(100))),
                  std::future_status::timeout);
        EXPECT_NE(*at, 0x77);
        held.unlock();
        EXPECT_EQ(status(pc.get()), 0);
        EXPECT_EQ(*at, 0x77);
        comm_hooks::get().before_store_lock = nullptr;
    }
    EXPECT_TRUE(pendingApplies().empty());
}

TEST_F(Handlers, AddressesAndLengthsPastAnAreaAreRefusedAndWriteNothing) {
    const uint8_t before = store()->ram[4090];
    EXPECT_EQ(status(handle(writeRam(4090, Bytes(7, 0x55)))), 1);
    EXPECT_EQ(store()->ram[4090], before);
    EXPECT_EQ(status(handle(writeRam(4090, Bytes(6, 0x55)))), 0);
    EXPECT_EQ(status(handle(readRam(4095, 2))), 1);
    EXPECT_EQ(status(handle(readRam(0x11000, 1))), 1);
    EXPECT_EQ(status(handle(writeRam(0x11000, {1}))), 1);
    EXPECT_EQ(status(handle(readRam(0x600880 + 1023, 2))), 1);
    EXPECT_EQ(status(handle(readRam(0x7000000, 1))), 1);
    EXPECT_EQ(status(handle(writeRam(0xFFFFFFFF, {1}))), 1);
    // A length field larger than the data sent, and data past the length.
    EXPECT_EQ(status(handle(body(0x60, cat({le32(0x10), le16(4), {0, 0}, {1, 2}})))), 3);
    EXPECT_EQ(status(handle(body(0x60, cat({le32(0x10), le16(1), {0, 0}, {1, 2}})))), 1);
    EXPECT_EQ(status(handle(body(0x61, {1, 2}))), 3);
}

TEST_F(Handlers, UserModeSlotsAreReachedButNotCrossed) {
    EXPECT_EQ(status(handle(writeRam(0x3000, {0xAA, 0xAA, 9}))), 0);
    EXPECT_EQ(store()->mode_ram[2][0], 0xAA);
    EXPECT_EQ(store()->mode_ram[2][2], 9);
    EXPECT_EQ(data(handle(readRam(0x3000, 3))), hex("00 aa aa 09"));
    const uint8_t next = store()->mode_ram[3][0];
    EXPECT_EQ(status(handle(writeRam(0x3FFF, {1, 2, 3, 4}))), 1);  // into slot 3
    EXPECT_EQ(store()->mode_ram[3][0], next);
    EXPECT_EQ(status(handle(writeRam(0x3FFF, {1, 2, 3}))), 0);  // the slot's last two bytes
}

TEST_F(Handlers, StatusBlockReadsButRefusesWrites) {
    store()->status[6] = 0x42;
    EXPECT_EQ(data(handle(readRam(0x600880 + 6, 1))), hex("00 42"));
    EXPECT_EQ(status(handle(writeRam(0x600880, {1}))), 1);
    EXPECT_EQ(store()->status[0], 0x80);
}

TEST_F(Handlers, MissingSubsystemsAnswerUnavailable) {
    EXPECT_EQ(status(handle(readRam(0xA000007C, 4))), 2);  // card count
    EXPECT_EQ(status(handle(readRam(0x80010000, 4))), 2);  // FPGA table
    EXPECT_EQ(status(handle(body(0x72, cat({{4}, le32(0), le16(16)})))), 2);
    EXPECT_EQ(status(handle(body(0x96, {}))), 2);
}

TEST_F(Handlers, UnknownCommandsGetAnErrorStatus) {
    const Bytes reply = handle(body(0x33, {1, 2, 3}));
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(reply[9], 0x33);
    EXPECT_EQ(reply[10], 0xFF);
}

TEST_F(Handlers, Register11AppliesRecallsAndSyncsUserModes) {
    EXPECT_EQ(status(handle(writeReg(11, 0xFF, {0}))), 0);
    EXPECT_EQ(pendingApplies(), std::vector<int>{1});
    EXPECT_EQ(status(handle(writeReg(11, 0xFF, {0x04}))), 0);
    EXPECT_EQ(pendingApplies(), std::vector<int>{2});
    // Recall of mode 3: its payload comes back into RAM 896..4095.
    store()->mode_ram[2][0] = store()->mode_ram[2][1] = 0xAA;
    store()->mode_ram[2][2 + (2176 - 896)] = 33;  // brightness of the mode
    store()->wr16_no_gen_bump(866, 3);
    // The close-LED and brightness it brings are the user's writes (their write generations
    // grow), which the FPGA side tells from its own echoes.
    const auto gens = [this] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return std::make_pair(store()->word_gen(2116), store()->word_gen(2176));
    };
    const auto before = gens();
    EXPECT_EQ(status(handle(writeReg(11, 0x02, {0xFF}))), 0);
    EXPECT_EQ(store()->ram[2176], 33);
    EXPECT_GT(gens().first, before.first);
    EXPECT_GT(gens().second, before.second);
    EXPECT_EQ(pendingApplies(), std::vector<int>{1});
    store()->wr16_no_gen_bump(866, 4);  // an empty slot
    EXPECT_EQ(status(handle(writeReg(11, 0x02, {0x02}))), 1);
    // OSD reload only while the OSD is on.
    pendingApplies();
    store()->wr16_no_gen_bump(2124, 0);
    g_osd_update = 0;
    EXPECT_EQ(status(handle(writeReg(11, 0x08, {0x08}))), 0);
    EXPECT_EQ(g_osd_update, 0u);
    EXPECT_EQ(pendingApplies(), std::vector<int>{1});  // the RAM is still applied
    store()->wr16_no_gen_bump(2124, 1);
    handle(writeReg(11, 0x08, {0x08}));
    EXPECT_EQ(g_osd_update, 1u);
    EXPECT_EQ(pendingApplies(), std::vector<int>{1});
}

// A recall refused (RAM 866 outside 1..16, or naming a slot with no saved mode) answers 1,
// applies nothing, and puts back in RAM 866 the mode the box last set: a recall's or a save's,
// none at start or once a source change ended it. A PC's write of 866 sets no mode.
TEST_F(Handlers, ARefusedRecallPutsBackTheModeTheBoxLastSet) {
    comm_hooks::get().fpgas_running = [] { return false; };
    const auto ok = [this](const Bytes& frame) { ASSERT_EQ(status(handle(frame)), 0); };
    const auto recall = [&](uint16_t mode) {
        ok(writeRam(866, le16(mode)));
        return status(handle(writeReg(11, 0x02, {0x02})));
    };
    const auto recall3 = [&] { ASSERT_EQ(recall(3), 0); };
    const struct {
        const char* name;
        std::function<void()> before;
        uint16_t refused;  // written to 866 before the refused recall
        uint16_t current;  // 866 after it
    } rows[] = {
        {"at start", [] {}, 9, 0},
        {"after a recall of 3, an empty slot", recall3, 9, 3},
        {"after a recall of 3, mode 17", recall3, 17, 3},
        {"after a recall of 3, mode 0", recall3, 0, 3},
        {"after a recall of 3 and another refused",
         [&] {
             recall3();
             ASSERT_EQ(recall(10), 1);
         },
         9, 3},
        {"after a PC's write of 866 with no recall",
         [&] {
             recall3();
             ok(writeRam(866, le16(5)));
             ok(writeReg(11, 0xFF, {0}));
         },
         9, 3},
        {"after a save request of 6 taken",
         [&] {
             recall3();
             ok(writeRam(868, le16(6)));
             ok(writeReg(11, 0xFF, {0}));
         },
         9, 6},
        {"after a source change ended the mode",
         [&] {
             recall3();
             ASSERT_EQ(store()->ram_para_persist(), 1);
             store()->ZemSetImageSource(0, 1, 0);
             ASSERT_EQ(store()->rd16(866), 0);
         },
         9, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        store()->reload();
        for (int m : {2, 4}) store()->mode_ram[m][0] = store()->mode_ram[m][1] = 0xAA;
        row.before();
        pendingApplies();
        EXPECT_EQ(recall(row.refused), 1);
        EXPECT_EQ(store()->rd16(866), row.current);
        EXPECT_EQ(pendingApplies(), std::vector<int>{}) << "a refused recall applies nothing";
    }
    store()->saver.drain();
    comm_hooks::get() = comm_hooks();
}

TEST_F(Handlers, DebugCommandRegistersStoreAndRaiseTheApply) {
    EXPECT_EQ(status(handle(writeReg(162, 0x0F, {0xFF}))), 0);
    EXPECT_EQ(store()->command_reg[2], 0x0F);
    EXPECT_EQ(pendingApplies(), std::vector<int>{1});
    handle(writeReg(163, 0xFF, {4}));
    EXPECT_EQ(store()->command_reg[3], 5);
    handle(writeReg(160, 0xF0, {0xFF}));
    EXPECT_EQ(store()->command_reg[0], 0xF0);
    EXPECT_EQ(pendingApplies(), std::vector<int>{1});  // 163 raised, 160 did not
    EXPECT_EQ(status(handle(writeReg(5, 0x0F, {0xAB, 0xCD}))), 0);
    EXPECT_EQ(store()->reg[5], 0x0B);
    EXPECT_EQ(store()->reg[6], 0x0D);
    EXPECT_EQ(status(handle(writeReg(40, 0xFF, {1}))), 1);
    EXPECT_EQ(status(handle(writeReg(31, 0xFF, {1, 1}))), 1);  // 32 does not exist
    EXPECT_EQ(status(handle(writeReg(1, 0xFF, {}))), 3);
}

TEST_F(Handlers, UpdateRegistersShowAndCloseTheOverlayOnce) {
    int starts = 0, overs = 0;
    QObject::connect(
        comm_bridge::pInstance(), &comm_bridge::sig_update_start, &scope, [&] { ++starts; },
        Qt::DirectConnection);
    QObject::connect(
        comm_bridge::pInstance(), &comm_bridge::sig_update_over, &scope, [&] { ++overs; },
        Qt::DirectConnection);
    std::vector<int> ids;
    QObject::connect(
        store(), &ZemRamPara::sig_update_para, &scope, [&](int id) { ids.push_back(id); },
        Qt::DirectConnection);
    g_update_flag = 0;
    handle(writeReg(9, 0xFF, {16}));
    handle(writeReg(10, 0xFF, {0x01}));
    EXPECT_EQ(g_update_flag, 1);
    handle(writeReg(9, 0xFF, {15}));
    EXPECT_EQ(g_update_flag, 0);
    handle(writeReg(10, 0xFF, {0x80}));  // bit 7 alone ends it as well
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(overs, 1);
    EXPECT_EQ(ids, (std::vector<int>{105, 105, 106, 106}));
}

TEST_F(Handlers, FlashCommandsCheckKindAlignmentAndRange) {
    auto erase = [&](uint32_t unit, uint16_t count, uint8_t kind, uint8_t flash = 4) {
        return status(handle(body(0x70, cat({{flash}, le32(unit), le16(count), {kind}}))));
    };
    EXPECT_EQ(erase(8, 1, 1), 2);       // valid: only the flash is missing
    EXPECT_EQ(erase(4, 1, 1), 1);       // 32 KiB unit off its boundary
    EXPECT_EQ(erase(8, 1, 2), 1);       // 64 KiB unit off its boundary
    EXPECT_EQ(erase(0, 1, 3), 1);       // no such kind
    EXPECT_EQ(erase(0, 1, 0, 3), 1);    // no such flash
    EXPECT_EQ(erase(0x1FFF, 2, 0), 1);  // past the end
    EXPECT_EQ(status(handle(body(0x72, cat({{4}, le32(0x2000000), le16(1)})))), 1);
    EXPECT_EQ(status(handle(body(0x71, cat({{4}, le32(0x1FFFFFF), le16(2), {1, 2}})))), 1);
}

TEST_F(Handlers, RebootAndProgramInstall) {
    G_timeTicks = 1234;
    EXPECT_EQ(status(handle(writeReg(12, 0xFF, {0x01}))), 1);  // nothing received yet
    EXPECT_EQ(g_app_reset_flag, 0);
    writeFile("/data/app/zemT57N2", "new program");
    g_update_status = 0;
    EXPECT_EQ(status(handle(writeReg(12, 0xFF, {0x01}))), 0);
    EXPECT_EQ(readFile("/data/app/zemT57N"), "new program");
    EXPECT_NE(readFile("/data/configs/led_load_config.ini").find("zemT57N -platform linuxfb"),
              std::string::npos);
    EXPECT_EQ(g_app_reset_flag, 1);
    EXPECT_EQ(G_reboot_tickTicks, 1234u);
}

TEST_F(Handlers, FpgaTablesAreAddressedByFunctionFpgaAndOffset) {
    uint8_t table[2][4][16] = {};
    comm_hooks& h = comm_hooks::get();
    h.table_read = [&](int fn, int fpga, uint32_t off, uint8_t* out, uint32_t n) {
        if (fn < 1 || fn > 3 || off > 16 || n > 16 - off) return 1;
        std::memcpy(out, table[fpga][fn] + off, n);
        return 0;
    };
    h.table_write = [&](int fn, int fpga, uint32_t off, const uint8_t* d, uint32_t n) {
        if (fn < 1 || fn > 3 || off > 16 || n > 16 - off) return 1;
        std::memcpy(table[fpga][fn] + off, d, n);
        return 0;
    };
    EXPECT_EQ(status(handle(writeRam(0x80021004, {7, 8}))), 0);  // function 2, FPGA 1, offset 4
    EXPECT_EQ(table[1][2][5], 8);
    EXPECT_EQ(data(handle(readRam(0x80021004, 2))), hex("00 07 08"));
    EXPECT_EQ(status(handle(readRam(0x8002100F, 2))), 1);     // past the table
    EXPECT_EQ(status(handle(writeRam(0x80022000, {1}))), 1);  // no FPGA 2
    EXPECT_EQ(status(handle(writeRam(0x80090000, {1}))), 1);  // no such table
    h = comm_hooks();
}

TEST_F(Handlers, Register11StartsTheLedSizeHandshakeWhenTheSizeChangedAndBothFpgasRun) {
    bool running = false;
    comm_hooks::get().fpgas_running = [&] { return running; };
    led_size_handshake::get().clear();
    handle(writeReg(11, 0xFF, {0}));
    EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kIdle);  // size unchanged
    store()->wr16_no_gen_bump(1378, uint16_t(store()->persisted16(1378) + 64));
    handle(writeReg(11, 0xFF, {0}));
    EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kIdle);  // FPGAs not running
    running = true;
    handle(writeReg(11, 0xFF, {0}));
    EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kBlanking);
    comm_hooks::get() = comm_hooks();
}

TEST_F(Handlers, Register11StartsTheHandshakeBeforeTheC331ThreadCanTakeTheApply) {
    comm_hooks::get().fpgas_running = [] { return true; };
    led_size_handshake::get().clear();
    // A stand-in for the C331 thread: it takes the apply the moment it is raised and notes
    // whether the handshake had started, which decides whether it waits for the FPGA side.
    std::promise<int> seen;
    std::promise<void> locked;
    std::thread c331([&] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        locked.set_value();  // the mutex is free again only once it waits
        c331_manage::apply_cv.wait(lock, [] { return c331_manage::apply_pending(); });
        seen.set_value(led_size_handshake::get().state());
        while (c331_manage::take_apply() != 0) {
        }
    });
    EXPECT_EQ(locked.get_future().wait_for(hangBound(std::chrono::seconds(5))),
              std::future_status::ready);
    { zem::MutexLocker waiting(c331_manage::c331_mutex); }  // the stand-in is waiting
    store()->wr16_no_gen_bump(1380, uint16_t(store()->persisted16(1380) + 32));
    handle(writeReg(11, 0xFF, {0}));
    c331.join();
    EXPECT_EQ(seen.get_future().get(), led_size_handshake::kBlanking);
    comm_hooks::get() = comm_hooks();
}

// One LED set is in force: the last one any check took. A refusal returns to it even before
// any apply, and what the box keeps (the parameter file, a user mode saved on request) holds it
// in place of LED words the PC wrote and no check has taken yet. The parameter file is saved,
// and a save request taken by a stop, between the PC's RAM write and register 11.
TEST_F(Handlers, RefusalsAndFilesKeepTheLedSetLastTaken) {
    comm_hooks::get().fpgas_running = [] { return false; };
    const auto setWidth = [this](uint16_t w) {
        ASSERT_EQ(status(handle(writeRam(1378, le16(w)))), 0);
    };
    const auto apply = [this] { ASSERT_EQ(status(handle(writeReg(11, 0xFF, {0}))), 0); };
    const auto fileWidth = [this](const std::string& file, int image_base) {
        const std::string f = readFile(file);
        const size_t at = size_t(2 + 1378 - image_base);
        return f.size() > at + 1 ? uint16_t(uint8_t(f[at]) | uint8_t(f[at + 1]) << 8) : 0;
    };
    ASSERT_EQ(store()->rd16(1376), 4);  // copy splice: at most 8188 wide
    testing::internal::CaptureStderr();

    setWidth(1600);
    apply();
    setWidth(9000);
    apply();
    EXPECT_EQ(store()->rd16(1378), 1600) << "back to the set taken, not yet applied";

    setWidth(9082);
    EXPECT_EQ(store()->ram_para_persist(), 1) << "1600 is new to the file";
    EXPECT_EQ(fileWidth("/data/ram_device_info", 768), 1600);
    EXPECT_EQ(store()->ram_para_persist(), 0) << "a width waiting for its check saves nothing";
    apply();
    EXPECT_EQ(store()->rd16(1378), 1600);

    ASSERT_EQ(status(handle(writeRam(868, le16(5)))), 0);
    setWidth(9000);
    store()->ZemUserModeSaveRequest();  // as a stop takes it, before any register 11
    EXPECT_EQ(fileWidth("/data/modes/custom_mode5", 896), 1600);
    apply();
    EXPECT_EQ(store()->rd16(1378), 1600);
    testing::internal::GetCapturedStderr();
    comm_hooks::get() = comm_hooks();
}

// A size change and a save request taken at one register 11: the mode holds the new size with
// the channel geometry its apply derives (RAM 1382..1394), though no apply has run yet, so a
// recall on a box of another size brings both.
TEST_F(Handlers, ASizeChangeAndASaveRequestInOneRegister11SaveTheGeometryOfTheNewSize) {
    comm_hooks::get().fpgas_running = [] { return false; };
    const auto ok = [this](const Bytes& frame) { ASSERT_EQ(status(handle(frame)), 0); };
    const auto geometry = [this] {
        std::vector<uint16_t> words;
        for (int k = 0; k < 7; ++k) words.push_back(store()->rd16(1382 + 2 * k));
        return words;
    };
    std::filesystem::remove_all(local("/data/modes"));
    store()->reload();
    const std::vector<uint16_t> before = geometry();
    const std::array<uint16_t, 7> split = c331_manage::geometry_words(
        c331_manage::panel_geometry(3840, 1080, 1920, 1080, led_size::kHorizontal));
    const std::vector<uint16_t> expected(split.begin(), split.end());
    ASSERT_NE(expected, before) << "a size whose geometry differs";

    ok(writeRam(1376, le16(led_size::kHorizontal)));
    ok(writeRam(1378, cat({le16(3840), le16(1080)})));
    ok(writeRam(1412, cat({le16(1920), le16(1080)})));
    ok(writeRam(868, le16(3)));
    ok(writeReg(11, 0xFF, {0}));
    EXPECT_EQ(store()->rd16(868), 0) << "saved";
    EXPECT_EQ(geometry(), before) << "no apply has run";

    ok(writeRam(1376, le16(led_size::kCopy)));  // the box gets another size
    ok(writeRam(1378, cat({le16(1920), le16(1080)})));
    ok(writeReg(11, 0xFF, {0}));
    ok(writeRam(866, le16(3)));
    ok(writeReg(11, 0x02, {0x02}));
    EXPECT_EQ(store()->rd16(1378), 3840);
    EXPECT_EQ(geometry(), expected);
    pendingApplies();
    std::filesystem::remove_all(local("/data/modes"));
    std::filesystem::remove(local("/data/ram_device_info"));
    store()->reload();  // the next test's box, with the default size
    comm_hooks::get() = comm_hooks();
}

// A write of no bytes is answered done and changes nothing, and no generation moves: a waiting
// save request, a close-LED or a brightness, a slot all go on as before.
TEST_F(Handlers, AWriteOfNoBytesChangesAndBumpsNothing) {
    struct Row {
        uint32_t addr;
        int watched;  // the word whose generation must not move, or 0
    };
    const Row rows[] = {{866, 0},     {867, 0},     {868, 0},   {869, 0},
                        {2117, 2116}, {2177, 2176}, {0x3000, 0}};
    const auto gen = [this](int addr) {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return addr ? store()->word_gen(addr) : 0u;
    };
    ASSERT_EQ(status(handle(writeRam(868, le16(4)))), 0);  // a request waiting for register 11
    for (const Row& row : rows) {
        SCOPED_TRACE(row.addr);
        const uint32_t before = gen(row.watched);
        uint8_t ram[ZemRamPara::kRamSize];
        std::memcpy(ram, store()->ram.data(), sizeof ram);
        const uint8_t* first = &store()->mode_ram[0][0];
        const std::vector<uint8_t> slotBytes(
            first, first + ZemRamPara::kModeCount * ZemRamPara::kModeSize);
        EXPECT_EQ(status(handle(writeRam(row.addr, {}))), 0);
        EXPECT_EQ(gen(row.watched), before);
        EXPECT_EQ(0, std::memcmp(ram, store()->ram.data(), sizeof ram));
        EXPECT_EQ(0, std::memcmp(slotBytes.data(), store()->mode_ram.data(), slotBytes.size()));
    }
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        EXPECT_EQ(store()->open_requests(), 1) << "the request is still the one written";
    }
    store()->reload();  // the request goes with this box
}

// The LED size words the PC writes before register 11 are refused together when any is out of
// the box's range: they read back as before, the FPGAs are not told of a new size, and one line
// says so for each refused apply. A size in range is taken, however large.
TEST_F(Handlers, Register11RefusesAnLedSizeOutOfRangeAndPutsBackAllFiveWords) {
    comm_hooks::get().fpgas_running = [] { return true; };
    struct Case {
        const char* name;
        uint16_t splice, w, h, out1w, out1h;
        bool taken;
    } cases[] = {
        {"65535 x 65535", 4, 65535, 65535, 1920, 1080, false},
        {"a side below 512", 4, 511, 1080, 1920, 1080, false},
        {"a side above 16376", 3, 16377, 600, 8000, 600, false},
        {"more than 13,107,200 pixels", 3, 6400, 2049, 3200, 2049, false},
        {"wider than 8188 in copy", 4, 8189, 1080, 8189, 1080, false},
        {"output 1 wider than the screen", 3, 3840, 2160, 3841, 2160, false},
        {"output 1 below 256", 2, 1920, 2160, 1920, 255, false},
        {"output 1 higher than the screen", 2, 1920, 2160, 1920, 2161, false},
        {"splice 0", 0, 1920, 1080, 1920, 1080, false},
        {"splice 5", 5, 1920, 1080, 1920, 1080, false},
        {"4096 x 2160 copy", 4, 4096, 2160, 4096, 2160, true},
        {"16376 x 800 horizontal", 3, 16376, 800, 8188, 800, true},
        {"6400 x 2048 vertical", 2, 6400, 2048, 6400, 1024, true},
    };
    const auto words = [&] {
        const Bytes d = data(handle(readRam(1376, 6)));
        const Bytes o = data(handle(readRam(1412, 4)));
        return std::vector<int>{d[1] | d[2] << 8, d[3] | d[4] << 8, d[5] | d[6] << 8,
                                o[1] | o[2] << 8, o[3] | o[4] << 8};
    };
    // What the box last applied: with no C331 thread, what it last saved.
    std::memcpy(store()->persisted.data(), store()->ram.data(), sizeof store()->ram);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int> before = words();
        led_size_handshake::get().clear();
        ASSERT_EQ(status(handle(writeRam(1376, cat({le16(c.splice), le16(c.w), le16(c.h)})))), 0);
        ASSERT_EQ(status(handle(writeRam(1412, cat({le16(c.out1w), le16(c.out1h)})))), 0);
        LogTestHooks::forget();  // each case's refusal the first of its kind
        testing::internal::CaptureStderr();
        EXPECT_EQ(status(handle(writeReg(11, 0xFF, {0}))), 0);
        const std::string err = testing::internal::GetCapturedStderr();
        const std::vector<int> wrote = {c.splice, c.w, c.h, c.out1w, c.out1h};
        EXPECT_EQ(words(), c.taken ? wrote : before);
        EXPECT_EQ(led_size_handshake::get().state(),
                  c.taken ? led_size_handshake::kBlanking : led_size_handshake::kIdle);
        const auto refusals = std::count(err.begin(), err.end(), '\n');
        EXPECT_EQ(refusals, c.taken ? 0 : 1) << err;
        if (!c.taken) {
            EXPECT_NE(err.find("LED size " + std::to_string(c.w) + " x " + std::to_string(c.h)),
                      std::string::npos)
                << err;
        }
        // As the refresh after the apply saves the RAM.
        std::memcpy(store()->persisted.data(), store()->ram.data(), sizeof store()->ram);
    }
    comm_hooks::get() = comm_hooks();
}

namespace {

// Holds the saver's first user-mode job before its file work until released, so that a second
// PC action lands while the first request is under way.
struct HeldSaver {
    explicit HeldSaver(ZemRamPara* s) : store(s) {
        store->saver.hooks.before_job = [this](const Saver::Job& job) {
            if (job.kind == Saver::kParameterFile) return;
            std::unique_lock<std::mutex> lock(m);
            if (released) return;
            held = true;
            cv.notify_all();
            cv.wait_for(lock, hangBound(std::chrono::seconds(20)), [this] { return released; });
        };
        store->saver.start();
    }
    ~HeldSaver() {
        release();
        store->saver.stop();
        store->saver.hooks = Saver::TestHooks();
    }
    bool waitHeld() {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, hangBound(std::chrono::seconds(20)), [this] { return held; });
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(m);
            released = true;
        }
        cv.notify_all();
        store->saver.drain();
    }
    ZemRamPara* store;
    std::mutex m;
    std::condition_variable cv;
    bool held = false, released = false;
};

// A slot image (markers and payload) whose brightness word (RAM 2176) is b.
Bytes slotWithBrightness(uint16_t b) {
    Bytes slot(ZemRamPara::kModeSize, 0);
    slot[0] = slot[1] = 0xAA;
    slot[2 + 2176 - 896] = uint8_t(b);
    return slot;
}

}  // namespace

// Each request on a user-mode slot is carried out with what the box took, and the slot, its
// file, RAM 866 and RAM 868 end as the last one asked, whatever lands while the first one's
// file work is held.
TEST_F(Handlers, EachSlotRequestEndsAsTheLastOneAsked) {
    comm_hooks::get().fpgas_running = [] { return false; };
    const auto ok = [this](const Bytes& frame) { ASSERT_EQ(status(handle(frame)), 0); };
    const auto refresh = [](int id) {
        pendingApplies();
        SyncUpdate::pInstance()->para_sync(id);
    };
    // No refresh runs between the frames of these: the main thread is busy or held.
    const auto asked = [&](uint16_t mode, uint16_t brightness) {
        ok(writeRam(2176, le16(brightness)));
        ok(writeRam(868, le16(mode)));
        ok(writeReg(11, 0xFF, {0}));
    };
    const auto saveRequest = [&](uint16_t mode, uint16_t brightness) {
        asked(mode, brightness);
        refresh(1);
    };
    // Two more PCs, each on a link of its own; PCs on UDP, and one on a serial port.
    link_session pcA(LinkKind::Tcp, "PC A"), pcB(LinkKind::Tcp, "PC B");
    link_session udp(LinkKind::Udp, "udp"), serial(LinkKind::Uart, "/dev/ttyS2");
    const auto onLink = [](link_session& link, const Bytes& frame) {
        ASSERT_EQ(status(askSession(link, frame)), 0);
    };
    // From a UDP port of loopback address 127.0.0.host.
    const auto onUdp = [&](uint8_t host, uint16_t port, const Bytes& frame) {
        udp.setPeer("udp", link_session::udp_link(htonl(0x7F000000u | host), htons(port)));
        onLink(udp, frame);
    };
    // Ticks of the main tick with no frame from any PC.
    const auto silence = [](uint32_t ticks) {
        G_timeTicks += ticks;
        link_activity::get().watch(G_timeTicks);
    };
    // A save request of mode 3, then 60 s with no frame from its link, the brightness 37 in the
    // RAM, then 38 at the last tick before the 60 s, then 39.
    const auto silentFor60s = [&](const std::function<void()>& request) {
        request();
        ok(writeRam(2176, le16(37)));
        silence(link_activity::kSilentTicks - 1);
        ok(writeRam(2176, le16(38)));
        silence(1);
        ok(writeRam(2176, le16(39)));
    };
    const auto writeSlot = [&](int mode, const Bytes& bytes) {
        ok(writeRam(uint32_t(mode) << 12, bytes));
    };
    const auto synchronise = [&] {
        ok(writeReg(11, 0xFF, {0x04}));
        refresh(2);
    };
    const auto deleteMode = [&](int mode) {
        writeSlot(mode, {0xFF, 0xFF});
        synchronise();
    };
    const auto deleteAsked = [&](int mode) {
        writeSlot(mode, {0xFF, 0xFF});
        ok(writeReg(11, 0xFF, {0x04}));
    };
    const auto recall = [&](uint16_t mode) {
        ok(writeRam(866, le16(mode)));
        ok(writeReg(11, 0x02, {0x02}));
        refresh(1);
    };
    const auto fileBrightness = [this](int mode) -> int {
        const std::string f = readFile("/data/modes/custom_mode" + std::to_string(mode));
        const size_t at = 2 + 2176 - 896;
        return f.size() == 4096 ? uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 : -1;
    };
    const auto slotBrightness = [this](int mode) -> int {
        const uint8_t* slot = store()->mode_ram[mode - 1].data();
        if (slot[0] != 0xAA || slot[1] != 0xAA) return -1;
        return slot[2 + 2176 - 896] | slot[2 + 2177 - 896] << 8;
    };
    struct Row {
        const char* name;
        std::function<void()> first;   // its file work is held
        std::function<void()> second;  // answered while it is held
        int mode;                      // the mode whose file and slot are checked
        int file, slot;                // their brightness at the end; -1 no file, not saved
        uint16_t current;              // RAM 866 at the end
        uint16_t waiting;              // RAM 868 after the second: a request not yet ended
        int other_mode = 0;            // another mode saved meanwhile, and its file's brightness
        int other_file = -1;
    };
    const Row rows[] = {
        {"save 3, then recall 5", [&] { saveRequest(3, 11); }, [&] { recall(5); }, 3, 11, 11, 5, 3},
        {"save 3, then the doc's delete of 3", [&] { saveRequest(3, 11); }, [&] { deleteMode(3); },
         3, -1, -1, 3, 3},
        {"save 3, then a brightness change", [&] { saveRequest(3, 11); },
         [&] {
             ok(writeRam(2176, le16(22)));
             ok(writeReg(11, 0xFF, {0}));
             refresh(1);
         },
         3, 11, 11, 3, 3},
        {"the same request written twice", [&] { saveRequest(3, 11); }, [&] { saveRequest(3, 12); },
         3, 12, 12, 3, 3},
        {"save, delete and save of one mode", [&] { saveRequest(3, 11); },
         [&] {
             deleteMode(3);
             saveRequest(3, 13);
         },
         3, 13, 13, 3, 3},
        {"save, delete and save of one mode behind another mode's save",
         [&] { saveRequest(2, 21); },
         [&] {
             saveRequest(3, 11);
             deleteMode(3);
             saveRequest(3, 13);
         },
         3, 13, 13, 3, 3},
        {"save 3, then a synchronisation", [&] { saveRequest(3, 11); }, [&] { synchronise(); }, 3,
         11, 11, 3, 3},
        {"delete 5, then a PC writes a saved slot 5, with no synchronisation after",
         [&] { deleteMode(5); }, [&] { writeSlot(5, slotWithBrightness(66)); }, 5, -1, 66, 0, 0},
        {"save 3, then bytes into slot 3 and a synchronisation", [&] { asked(3, 11); },
         [&] {
             ok(writeRam((3u << 12) + 2 + 2176 - 896, le16(12)));
             synchronise();
         },
         3, 12, 12, 3, 3},
        {"save 3, then its recall, pipelined", [&] { asked(3, 11); },
         [&] {
             ok(writeRam(2176, le16(90)));
             recall(3);
         },
         3, 11, 11, 3, 3},
        {"a synchronisation, then a PC writes a saved slot 13 with no synchronisation after",
         [&] { synchronise(); }, [&] { writeSlot(13, slotWithBrightness(77)); }, 13, -1, 77, 0, 0},
        {"a delete during a synchronisation", [&] { synchronise(); }, [&] { deleteMode(2); }, 2, -1,
         -1, 0, 0},
        {"a second PC's save during a synchronisation", [&] { synchronise(); },
         [&] {
             writeSlot(7, slotWithBrightness(77));
             synchronise();
         },
         7, 77, 77, 0, 0},
        {"a save request during a synchronisation", [&] { synchronise(); },
         [&] { saveRequest(4, 44); }, 4, 44, 44, 4, 4},
        {"save 3, then the doc's delete of 3, no refresh between", [&] { asked(3, 11); },
         [&] { deleteAsked(3); }, 3, -1, -1, 3, 3},
        {"two save requests of one link, pipelined", [&] { asked(2, 21); },
         [&] {
             asked(3, 31);
             asked(4, 41);
         },
         4, 41, 41, 4, 4, 3, 31},
        {"a request given way to a later one while others are open", [&] { asked(2, 21); },
         [&] {
             asked(3, 31);
             asked(3, 32);
         },
         3, 32, 32, 3, 3, 2, 21},
        {"two links saving at once", [&] { asked(2, 21); },
         [&] {
             onLink(pcA, writeRam(868, le16(3)));
             onLink(pcB, writeRam(868, le16(4)));
             ok(writeRam(2176, le16(31)));
             onLink(pcA, writeReg(11, 0xFF, {0}));
             ok(writeRam(2176, le16(41)));
             onLink(pcB, writeReg(11, 0xFF, {0}));
         },
         4, 41, 41, 4, 4, 3, 31},
        {"868 without register 11 waits for the link's next one", [&] { asked(2, 21); },
         [&] {
             ok(writeRam(2176, le16(31)));
             ok(writeRam(868, le16(3)));
             refresh(1);
             onLink(pcA, writeReg(11, 0xFF, {0}));  // another link's
             ok(writeRam(2176, le16(32)));
             ok(writeReg(11, 0xFF, {0}));
         },
         3, 32, 32, 3, 3},
        {"868 without register 11, then its link goes", [&] { asked(2, 21); },
         [&] {
             ok(writeRam(2176, le16(34)));
             link_session leaving(LinkKind::Tcp, "PC C");
             onLink(leaving, writeRam(868, le16(3)));
         },
         3, 34, 34, 3, 3},
        {"868 on a UDP port, register 11 from another port of its address", [&] { asked(2, 21); },
         [&] {
             ok(writeRam(2176, le16(35)));
             onUdp(1, 40001, writeRam(868, le16(3)));
             ok(writeRam(2176, le16(36)));
             onUdp(1, 40002, writeReg(11, 0xFF, {0}));
         },
         3, 36, 36, 3, 3},
        {"868 on a UDP address, then 60 s of silence", [&] { asked(2, 21); },
         [&] { silentFor60s([&] { onUdp(1, 40001, writeRam(868, le16(3))); }); }, 3, 38, 38, 3, 3},
        {"868 on a serial port, then 60 s of silence", [&] { asked(2, 21); },
         [&] { silentFor60s([&] { onLink(serial, writeRam(868, le16(3))); }); }, 3, 38, 38, 3, 3},
        {"868 on a TCP link, 60 s of silence, then its register 11", [&] { asked(2, 21); },
         [&] {
             onLink(pcA, writeRam(868, le16(3)));
             ok(writeRam(2176, le16(41)));
             silence(2 * link_activity::kSilentTicks);
             ok(writeRam(2176, le16(42)));
             onLink(pcA, writeReg(11, 0xFF, {0}));
         },
         3, 42, 42, 3, 3},
        {"868 without register 11, then a stop", [&] { asked(2, 21); },
         [&] {
             ok(writeRam(2176, le16(33)));
             ok(writeRam(868, le16(3)));
             // From the signals' thread, as a stop with the main thread blocked runs it.
             std::async(std::launch::async, [this] { store()->take_last_requests(); }).get();
         },
         3, 33, 33, 3, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(local("/data/modes"));
        std::filesystem::create_directories(local("/data/modes"));
        writeFile("/data/modes/custom_mode2", std::string(4096, '\xAA'));
        const Bytes five = slotWithBrightness(55);
        writeFile("/data/modes/custom_mode5", std::string(five.begin(), five.begin() + 4096));
        store()->reload();
        SyncUpdate::pInstance()->para_sync(1);  // the shadow of what the load left
        {
            HeldSaver saver(store());
            row.first();
            ASSERT_TRUE(saver.waitHeld()) << "no file work was held";
            row.second();
            EXPECT_EQ(store()->rd16(868), row.waiting)
                << "868 reads 0 once the request has ended, never before";
            saver.release();
        }
        EXPECT_EQ(fileBrightness(row.mode), row.file);
        EXPECT_EQ(slotBrightness(row.mode), row.slot);
        EXPECT_EQ(store()->rd16(866), row.current);
        EXPECT_EQ(store()->rd16(868), 0) << "every request has ended";
        if (row.other_mode) {
            EXPECT_EQ(fileBrightness(row.other_mode), row.other_file);
            EXPECT_EQ(slotBrightness(row.other_mode), row.other_file);
        }
    }
    comm_hooks::get() = comm_hooks();
}

// A link that goes has its recorded request taken then: the slot reads saved at once, and the
// refresh that shows it (the SAVE grid, 866 in the parameter file) is raised. So does a UDP
// address silent for 60 s, and the longest-silent one when 64 others hold requests. Taken on
// the main thread (here all are), the refresh is queued: inline, it would run inside the tick
// or frame that took it.
TEST_F(Handlers, ATakeAtALinksCloseChangesTheSlotAndRaisesTheRefresh) {
    makeApplication();
    std::vector<int> ids;
    QObject::connect(
        store(), &ZemRamPara::sig_update_para, &scope, [&](int id) { ids.push_back(id); },
        Qt::DirectConnection);
    std::unique_ptr<link_session> leaving;
    link_session udp(LinkKind::Udp, "udp");
    const auto onUdp = [&](uint8_t host, const Bytes& frame) {
        udp.setPeer("udp", link_session::udp_link(htonl(0x7F000000u | host), htons(40001)));
        ASSERT_EQ(status(askSession(udp, frame)), 0);
    };
    const struct {
        const char* name;
        std::function<void()> request, take;
        uint16_t open;  // RAM 868 once its file is written: other requests still open
    } rows[] = {
        {"its TCP link closes",
         [&] {
             leaving = std::make_unique<link_session>(LinkKind::Tcp, "PC C");
             ASSERT_EQ(status(askSession(*leaving, writeRam(868, le16(6)))), 0);
         },
         [&] { leaving.reset(); }, 0},
        {"its UDP address falls silent for 60 s", [&] { onUdp(1, writeRam(868, le16(6))); },
         [] {
             G_timeTicks += link_activity::kSilentTicks;
             link_activity::get().watch(G_timeTicks);
         },
         0},
        {"64 other UDP addresses hold requests", [&] { onUdp(1, writeRam(868, le16(6))); },
         [&] {
             for (int host = 2; host <= 65; ++host) {
                 G_timeTicks += 1;
                 onUdp(uint8_t(host), writeRam(868, le16(7)));
             }
         },
         7},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(local("/data/modes"));
        store()->reload();
        // Refreshes that earlier cases of the program left posted (run whole) go first.
        QCoreApplication::sendPostedEvents();
        {
            HeldSaver saver(store());
            row.request();
            EXPECT_EQ(store()->ZemUserModeSaved(5), 0) << "nothing taken yet";
            ids.clear();
            row.take();
            EXPECT_EQ(ids, std::vector<int>{}) << "the refresh ran inside the take";
            QCoreApplication::sendPostedEvents();
            EXPECT_EQ(ids, std::vector<int>{1});
            EXPECT_EQ(store()->ZemUserModeSaved(5), 1) << "before its file is written";
            EXPECT_EQ(store()->rd16(866), 6);
            EXPECT_NE(store()->rd16(868), 0) << "open until its file is written";
            saver.release();
        }
        EXPECT_TRUE(exists("/data/modes/custom_mode6"));
        EXPECT_EQ(store()->rd16(868), row.open);
    }
    store()->reload();
}

// At a stop the saver writes every job waiting, the fullest line a PC can make (a job for each
// of the 16 user modes and the parameter file), and tells how many it left when its bound ran
// out; a frame that comes after the stop began is refused.
TEST_F(Handlers, AStopWritesEveryFileJobWaitingWithinItsBound) {
    comm_hooks::get().fpgas_running = [] { return false; };
    const auto ok = [this](const Bytes& frame) { ASSERT_EQ(status(handle(frame)), 0); };
    std::filesystem::remove_all(local("/data/modes"));
    store()->reload();
    SyncUpdate::pInstance()->para_sync(1);
    HeldSaver saver(store());
    for (int mode = 1; mode <= ZemRamPara::kModeCount; ++mode)
        ok(writeRam(uint32_t(mode) << 12, slotWithBrightness(uint16_t(mode))));
    ok(writeReg(11, 0xFF, {0x04}));
    pendingApplies();
    SyncUpdate::pInstance()->para_sync(2);
    ASSERT_TRUE(saver.waitHeld());
    ok(writeRam(2176, le16(99)));
    ok(writeReg(11, 0xFF, {0}));
    pendingApplies();
    SyncUpdate::pInstance()->para_sync(1);

    EXPECT_EQ(store()->saver.finish(std::chrono::milliseconds(1)), 17) << "16 modes and the file";
    {
        std::lock_guard<std::mutex> lock(saver.m);
        saver.released = true;
    }
    saver.cv.notify_all();
    EXPECT_EQ(store()->saver.finish(hangBound(std::chrono::seconds(20))), 0);
    EXPECT_FALSE(store()->saver.running());
    for (int mode = 1; mode <= ZemRamPara::kModeCount; ++mode) {
        const std::string f = readFile("/data/modes/custom_mode" + std::to_string(mode));
        ASSERT_EQ(f.size(), 4096u) << mode;
        EXPECT_EQ(uint8_t(f[2 + 2176 - 896]), mode);
    }
    const std::string para = readFile("/data/ram_device_info");
    ASSERT_GT(para.size(), size_t(2 + 2176 - 768));
    EXPECT_EQ(uint8_t(para[2 + 2176 - 768]), 99);

    g_frames_refused = true;
    EXPECT_EQ(status(handle(writeRam(2176, le16(5)))), 2) << "never answered as done";
    g_frames_refused = false;
    EXPECT_EQ(store()->rd16(2176), 99);
    comm_hooks::get() = comm_hooks();
}
