// The serial flash behind the C331 and the OSD fonts: pages and erase units on the simulated
// flash, refusals before anything is sent, bounded waits, which fonts count as present, their
// copy into chip memory, the PC's flash commands over TCP and a write racing a font load.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <thread>

#include "c331_fixture.h"
#include "comm/comm_hooks.h"
#include "comm/network_manage.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "osd_support.h"
#include "pc_link.h"

namespace {

class FlashTest : public C331Test {
protected:
    // The manager at rest: its start-up done and its thread stopped, so the test is the only
    // caller of the chip.
    c331_manage& idleManager() {
        c331_manage* c = startManager();
        EXPECT_TRUE(waitState(8));
        c331_manage::stop_thread();
        chip->clearFrames();
        return *c;
    }
    // The flash addresses written to the engine's address register, in order (4 bytes each).
    std::vector<uint32_t> addressWrites() const {
        std::vector<uint32_t> out;
        uint32_t v = 0;
        for (const auto& w : chip->writeLog()) {
            if (w.bank != 0x04 || w.address < 0x4E || w.address > 0x51) continue;
            v = (v & ~(0xFFu << 8 * (w.address - 0x4E))) | uint32_t(w.value)
                                                               << 8 * (w.address - 0x4E);
            if (w.address == 0x51) out.push_back(v);
        }
        return out;
    }
    // The engine's turns as the bus shows them, each begun by the pin set-up: the operation
    // (E erase, W write, R read, D DMA, X more than one) and the units it ran (erase units,
    // programmed pages, reads, DMAs); "!" when the engine was not set up for the operation
    // before its first unit.
    std::string turns() const {
        std::string out;
        char op = 0;
        int units = 0, set = 0;  // set: the set-up writes seen, one bit each
        bool complete = true, data = false;
        auto unit = [&](char kind, int need) {
            if (units == 0) complete = (set & need) == need;
            op = op == 0 || op == kind ? kind : 'X';
            ++units;
        };
        auto close = [&] {
            if (op) out += (out.empty() ? "" : " ") + std::string(1, op) + std::to_string(units);
            if (op && !complete) out += '!';
            op = 0, units = 0, set = 0, data = false;
        };
        enum { kErase = 1, kWrite = 2, kRead = 4, kRegister = 8, kEraseOp = 16, kProgram = 32 };
        for (const auto& w : chip->writeLog()) {
            if (w.bank == 0x05 && w.address == 0x42) close();
            if (w.bank != 0x04) continue;
            if (w.address == 0x47) set |= w.value == 0x01 ? kErase : w.value == 0x31 ? kWrite : 0;
            if (w.address == 0x4A && w.value == 0x0C) set |= kRead;
            if (w.address == 0x5F && w.value == 1) set |= kRegister;
            if (w.address == 0x4B && w.value == 0x20) set |= kEraseOp;
            if (w.address == 0x49 && w.value == 0x12) set |= kProgram;
            if (w.address == 0x48 && w.value == 4) unit('E', kErase | kEraseOp | kRegister);
            if (w.address == 0x48 && w.value == 2) unit('D', 0);
            if (w.address == 0x55 && w.value == 1) unit('R', kWrite | kRead | kRegister);
            if (w.address == 0x53) data = true;
            if (w.address == 0x51 && data) {
                unit('W', kWrite | kProgram | kRegister);
                data = false;
            }
        }
        close();
        return out;
    }
};

TEST_F(FlashTest, WritesProgramEachCompletedPageAndTheTail) {
    c331_manage& c = idleManager();
    struct Case {
        uint32_t at, len;
        std::vector<uint32_t> addresses;  // after the two start writes
    };
    for (const Case& k : {Case{0x1FA, 10, {0x200, 0x204}}, Case{0x100, 256, {0x200}},
                          Case{0x3000, 600, {0x3100, 0x3200, 0x3258}}}) {
        chip->clearFrames();
        const Bytes data = pattern(k.len, uint8_t(k.at));
        ASSERT_EQ(c.write_flash(c.fd, k.at, k.len, data.data()), 0);
        std::vector<uint32_t> want = {k.at, k.at};
        want.insert(want.end(), k.addresses.begin(), k.addresses.end());
        EXPECT_EQ(addressWrites(), want) << std::hex << k.at;
        EXPECT_EQ(chip->flashRead(k.at, k.len), data);
        Bytes back(k.len);
        ASSERT_EQ(c.read_flash(c.fd, k.at, k.len, back.data()), 0);
        EXPECT_EQ(back, data);
    }
}

TEST_F(FlashTest, EraseUnitsOfEachKind) {
    c331_manage& c = idleManager();
    chip->flashLoad(0, Bytes(0x40000, 0x00));
    ASSERT_EQ(c.erase_flash(c.fd, 0x28, 2, 1), 0);  // 32 KiB blocks at 0x28000 and 0x30000
    EXPECT_EQ(chip->flashRead(0x27FFF, 1), Bytes{0x00});
    EXPECT_EQ(chip->flashRead(0x28000, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_EQ(chip->flashRead(0x38000, 1), Bytes{0x00});
    ASSERT_EQ(c.erase_flash(c.fd, 1, 1, 0), 0);  // one 4 KiB sector
    EXPECT_EQ(chip->flashRead(0x1000, 0x1000), Bytes(0x1000, 0xFF));
    EXPECT_EQ(chip->flashRead(0x2000, 1), Bytes{0x00});
    ASSERT_EQ(c.erase_flash(c.fd, 0x20, 1, 2), 0);  // a 64 KiB block at 0x20000
    EXPECT_EQ(chip->flashRead(0x20000, 0x10000), Bytes(0x10000, 0xFF));
}

TEST_F(FlashTest, OperationsOutsideTheFlashAreRefusedBeforeAnythingIsSent) {
    c331_manage& c = idleManager();
    chip->flashLoad(0x1FFE000, Bytes(0x2000, 0x00));
    const Bytes data(0x40, 0x11);
    EXPECT_EQ(c.write_flash(c.fd, 0x1FFFFF0, 0x20, data.data()), -EINVAL);
    EXPECT_EQ(c.write_flash(c.fd, 0x2000000, 1, data.data()), -EINVAL);
    EXPECT_EQ(c.write_flash(c.fd, 0, 0, data.data()), -EINVAL);
    EXPECT_EQ(c.erase_flash(c.fd, 0x1FFF, 2, 0), -EINVAL);   // past the flash
    EXPECT_EQ(c.erase_flash(c.fd, 0x1FF8, 2, 1), -EINVAL);   // the second block past it
    EXPECT_EQ(c.erase_flash(c.fd, 0xFFFFF, 1, 0), -EINVAL);  // far past it
    EXPECT_EQ(c.erase_flash(c.fd, 4, 1, 1), -EINVAL);        // a 32 KiB block off its boundary
    Bytes out(16);
    EXPECT_EQ(c.read_flash(c.fd, 0x1FFFFF8, 16, out.data()), -EINVAL);
    EXPECT_TRUE(chip->frames().empty());
    EXPECT_EQ(chip->flashRead(0x1FFE000, 0x2000), Bytes(0x2000, 0x00));
}

// Erases and writes inside the flash go through wherever they lie: PC and factory tools erase
// blocks that span the end of one font and the start of the next, or of a font and the bitmap.
TEST_F(FlashTest, ErasesAndWritesAcrossTheFontsAndTheBitmapGoThrough) {
    c331_manage& c = idleManager();
    chip->flashLoad(0x6000, Bytes(0x14000, 0x00));
    ASSERT_EQ(c.erase_flash(c.fd, 8, 2, 1), 0);  // 32 KiB blocks at 0x8000 and 0x10000
    EXPECT_EQ(addressWrites(), (std::vector<uint32_t>{0x8000, 0x10000}));
    EXPECT_EQ(chip->flashRead(0x7FFF, 1), Bytes{0x00});
    EXPECT_EQ(chip->flashRead(0x8000, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_EQ(chip->flashRead(0x18000, 1), Bytes{0x00});
    // The 64 KiB block holding the bitmap's start also holds the end of the wide 64-dot font.
    chip->flashLoad(0xEC0000, Bytes(0x30000, 0x00));
    chip->clearFrames();
    ASSERT_EQ(c.erase_flash(c.fd, 0xED0, 1, 2), 0);
    EXPECT_EQ(addressWrites(), (std::vector<uint32_t>{0xED0000}));
    EXPECT_EQ(chip->flashRead(0xECFFFF, 1), Bytes{0x00});
    EXPECT_EQ(chip->flashRead(0xED0000, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_EQ(chip->flashRead(0xEE0000, 1), Bytes{0x00});
    const Bytes data = pattern(0x40, 7);
    ASSERT_EQ(c.write_flash(c.fd, 0xFFF0, 0x40, data.data()), 0);  // narrow 32 into wide 32
    EXPECT_EQ(chip->flashRead(0xFFF0, 0x40), data);
}

TEST_F(FlashTest, AnEngineThatNeverFinishesFailsEveryOperationInsteadOfHanging) {
    c331_manage& c = idleManager();
    chip->setStuckBusy(true);
    const Bytes data(300, 0x22);
    EXPECT_EQ(c.write_flash(c.fd, 0x100, 300, data.data()), -ETIMEDOUT);
    EXPECT_EQ(c.erase_flash(c.fd, 0, 1, 0), -ETIMEDOUT);
    EXPECT_EQ(c.update_font(c.fd), 0);  // no font present: nothing to copy
    chip->flashLoad(0, fontFile(32, true, 3));
    EXPECT_EQ(c.read_c331_font(c.fd), -ETIMEDOUT);  // the read never got its data
    chip->setStuckBusy(false);
}

TEST_F(FlashTest, PresenceBitsAndStatusByteForEachCombinationOfFonts) {
    c331_manage& c = idleManager();
    struct Font {
        uint32_t at;
        int dots;
        bool narrow;
        uint32_t mask;
        uint8_t status;
    };
    const Font fonts[4] = {{0x000000, 32, true, 0x2, 0x01},
                           {0x010000, 32, false, 0x1, 0x02},
                           {0x410000, 64, true, 0x8, 0x54},
                           {0x450000, 64, false, 0x4, 0xA8}};
    for (int combo = 0; combo < 16; ++combo) {
        for (const Font& f : fonts) chip->flashLoad(f.at, Bytes(35, 0xFF));
        uint32_t mask = 0;
        uint8_t status = 0;
        for (int i = 0; i < 4; ++i) {
            if (!(combo & 1 << i)) continue;
            chip->flashLoad(fonts[i].at, fontFile(fonts[i].dots, fonts[i].narrow, 2));
            mask |= fonts[i].mask;
            status |= fonts[i].status;
        }
        ASSERT_EQ(c.read_c331_font(c.fd), 0);
        EXPECT_EQ(c.g_osd_font_mask.load(), mask) << combo;
        EXPECT_EQ(store().status[6], status) << combo;
    }
}

TEST_F(FlashTest, AHeaderThatDisagreesWithItsRegionDoesNotCountAsAFont) {
    c331_manage& c = idleManager();
    struct Case {
        const char* name;
        int at, value;
    };
    for (const Case& k : {Case{"lower-case type", 0, 'p'}, Case{"wide coding", 5, 0},
                          Case{"64-dot height", 18, 64}, Case{"width of neither size", 17, 24}}) {
        Bytes f = fontFile(32, true, 2);
        f[k.at] = uint8_t(k.value);
        chip->flashLoad(0, f);
        ASSERT_EQ(c.read_c331_font(c.fd), 0);
        EXPECT_EQ(c.g_osd_font_mask.load(), 0u) << k.name;
        EXPECT_EQ(store().status[6], 0) << k.name;
    }
    Bytes half = fontFile(32, true, 2);
    half[17] = 16;  // a narrow font may give its drawn width
    chip->flashLoad(0, half);
    c.read_c331_font(c.fd);
    EXPECT_EQ(c.g_osd_font_mask.load(), 0x2u);
}

TEST_F(FlashTest, PresentFontsAreCopiedBackToBackIntoChipMemory) {
    c331_manage& c = idleManager();
    chip->flashLoad(0x000000, fontFile(32, true, 2));
    chip->flashLoad(0x450000, fontFile(64, false, 2));
    c.read_c331_font(c.fd);
    ASSERT_EQ(c.update_font(c.fd), 0);
    const uint32_t base = uint32_t(c.PS_FONT_ADDR);
    EXPECT_EQ(c.g_font_addr_32ASCII.load(), base);
    EXPECT_EQ(c.g_font_addr_32CHN.load(), base + 0x3000);
    EXPECT_EQ(c.g_font_addr_64ASCII.load(), base + 0x293000);
    EXPECT_EQ(c.g_font_addr_64CHN.load(), base + 0x29F000);
    const auto dmas = chip->dmas();
    ASSERT_GE(dmas.size(), 2u);
    const auto d1 = dmas[dmas.size() - 2], d2 = dmas.back();
    EXPECT_EQ(d1.flash_address, 0x23u);
    EXPECT_EQ(d1.length, 0x3000u);
    EXPECT_EQ(d1.target, base);
    EXPECT_EQ(d1.mode, 0);
    EXPECT_EQ(d2.flash_address, 0x450023u);
    EXPECT_EQ(d2.length, 0xA40000u);
    EXPECT_EQ(d2.target, base + 0x29F000);
}

// A PC writes a font through the flash commands, reads it back, asks for the font reload,
// and the C331's bring-up finds it again when it restarts.
TEST_F(FlashTest, FontsWrittenOverTcpAreReadBackAndFoundAtStartUp) {
    ConfigEngine::pInstance();
    g_port = 0;  // a free port of its own
    c331_manage* c = startManager();
    ASSERT_TRUE(waitState(8));
    comm_hooks::wire();
    networkManage::pInstance();
    TcpLink pc(networkManage::p_networkManage->port);
    auto status = [](const Bytes& reply) { return reply.size() > 10 ? int(reply[10]) : -1; };

    const Bytes font = fontFile(32, true, 5);
    EXPECT_EQ(status(pc.ask(body(0x70, cat({{4}, le32(0), le16(1), {0}})))), 0);
    for (size_t at = 0; at < font.size(); at += 200) {
        const Bytes part(font.begin() + at, font.begin() + std::min(font.size(), at + 200));
        const Bytes req =
            body(0x71, cat({{4}, le32(uint32_t(at)), le16(uint16_t(part.size())), part}));
        ASSERT_EQ(status(pc.ask(req)), 0) << at;
    }
    const Bytes back = pc.ask(body(0x72, cat({{4}, le32(0), le16(uint16_t(font.size()))})));
    ASSERT_EQ(back.size(), 11 + font.size());
    EXPECT_EQ(Bytes(back.begin() + 11, back.end()), font);
    // Across the end of one font into the next goes through; past the flash's end does not.
    EXPECT_EQ(status(pc.ask(body(0x71, cat({{4}, le32(0xFFFF), le16(2), {1, 2}})))), 0);
    EXPECT_EQ(chip->flashRead(0xFFFF, 2), (Bytes{1, 2}));
    EXPECT_EQ(status(pc.ask(body(0x71, cat({{4}, le32(0x1FFFFFF), le16(2), {1, 2}})))), 1);

    EXPECT_EQ(status(pc.ask(writeReg(14, 0x08, {0x08}))), 0);
    EXPECT_EQ(pc.ask(readRam(0x600886, 1)).back(), 0x01);
    EXPECT_EQ(c->g_osd_font_mask.load(), 0x2u);

    chip->clearFrames();
    const size_t dmas_before = chip->dmas().size();
    EXPECT_EQ(status(pc.ask(writeReg(162, 0xFF, {0x40}))), 0);  // bring the chip up again
    ASSERT_TRUE(waitFor([&] { return chip->dmas().size() > dmas_before && c->thread_state == 8; }));
    EXPECT_EQ(chip->dmas().back().flash_address, 0x23u);
    networkManage::shutdown();
}

// A long job gives the engine up between two of its units to a caller that waits: a read or a
// font load from another link runs after the job's first unit, and the job sets the engine up
// again before its next (a font load's DMA leaves the chip-erase op code behind it). Callers go
// in the order they asked: a read behind a second long job waits for one unit of each.
TEST_F(FlashTest, AWaitingCallerGoesBetweenTwoUnitsOfALongJob) {
    c331_manage& c = idleManager();
    const Bytes font = fontFile(32, true, 2);
    chip->flashLoad(0x000000, font);
    c.read_c331_font(c.fd);
    const Bytes kept = pattern(0x3000, 9);
    for (uint32_t at : {0x0FD000u, 0x200000u, 0x800000u}) chip->flashLoad(at, kept);
    const Bytes data = pattern(1024, 3);
    Bytes long_read(0x3000), short_read(0x1000);
    struct Case {
        const char* name;
        std::function<int()> job;
        uint8_t first_unit;  // the job's register written at its first unit (bank 4)
        std::function<int()> other;
        const char* turns;
        uint32_t erased;     // bytes erased from 0x100000
        int waiting = 1;     // callers the other one makes wait before the job's next unit
        bool reads = false;  // the other caller reads 4 KiB at 0x800000
    };
    const auto erase = [&] { return c.erase_flash(c.fd, 0x100, 4, 0); };
    const auto write = [&] { return c.write_flash(c.fd, 0x300080, 1024, data.data()); };
    const auto read = [&] { return c.read_flash(c.fd, 0x200000, 0x3000, long_read.data()); };
    const auto read_4kib = [&] { return c.read_flash(c.fd, 0x800000, 0x1000, short_read.data()); };
    const auto font_load = [&] { return c.update_font(c.fd); };
    const auto erase_one = [&] { return c.erase_flash(c.fd, 0x100, 1, 0); };
    // A second long job asks first, then a read: they wait in that order.
    const auto erase_then_read = [&] {
        std::atomic<int> erase_rc{1};
        std::thread second([&] { erase_rc = c.erase_flash(c.fd, 0x102, 2, 0); });
        c.flash_lock.wait_for_waiters(1);
        const int rc = read_4kib();
        second.join();
        return rc | erase_rc;
    };
    const auto first_two = [&] { return c.erase_flash(c.fd, 0x100, 2, 0); };
    const Case cases[] = {
        {"a read during an erase", erase, 0x48, read_4kib, "E1 R1 E3", 0x4000, 1, true},
        {"a font load during an erase", erase, 0x48, font_load, "E1 D1 E3", 0x4000},
        {"a read during a write", write, 0x53, read_4kib, "W1 R1 W4", 0, 1, true},
        // A read sets the engine up for each 4 KiB.
        {"an erase during a read", read, 0x55, erase_one, "R1 E1 R1 R1", 0x1000},
        {"a read behind two erases", first_two, 0x48, erase_then_read, "E1 E1 R1 E1 E1", 0x4000, 2,
         true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        chip->flashLoad(0x100000, Bytes(0x4000, 0x00));
        chip->flashLoad(0x300000, Bytes(0x1000, 0xFF));
        long_read.assign(long_read.size(), 0);
        short_read.assign(short_read.size(), 0);
        chip->clearFrames();
        std::thread other;
        std::atomic<int> other_rc{1};
        std::atomic<bool> started{false};
        // At the job's first unit, with the lock held, the other caller asks for it.
        chip->onWrite([&](uint8_t bank, uint8_t address, uint8_t value) {
            if (bank != 0x04 || address != k.first_unit || (address == 0x48 && value != 4) ||
                started.exchange(true))
                return;
            other = std::thread([&] { other_rc = k.other(); });
            c.flash_lock.wait_for_waiters(k.waiting);
        });
        EXPECT_EQ(k.job(), 0);
        chip->onWrite(nullptr);
        ASSERT_TRUE(other.joinable());
        other.join();
        EXPECT_EQ(other_rc.load(), 0);
        EXPECT_EQ(turns(), k.turns);
        EXPECT_EQ(chip->flashRead(0x100000, k.erased), Bytes(k.erased, 0xFF));
        EXPECT_EQ(chip->flashRead(0x100000 + k.erased, 0x4000 - k.erased),
                  Bytes(0x4000 - k.erased, 0x00));
        for (uint32_t at : {0x0FD000u, 0x200000u, 0x800000u})
            EXPECT_EQ(chip->flashRead(at, 0x3000), kept) << std::hex << at;
        EXPECT_EQ(chip->flashRead(0, uint32_t(font.size())), font);
        // What the job and the other caller wrote or read (their letters in the turns).
        if (k.turns[0] == 'W') {
            EXPECT_EQ(chip->flashRead(0x300080, 1024), data);
        }
        if (k.turns[0] == 'R') {
            EXPECT_EQ(long_read, kept);
        }
        if (k.reads) {
            EXPECT_EQ(short_read, Bytes(kept.begin(), kept.begin() + 0x1000));
        }
    }
}

// Several callers on one engine: a font load never falls inside another caller's write, and
// what was written is what the flash holds.
TEST_F(FlashTest, AFlashWriteRacingAFontLoadDoesNotInterleave) {
    c331_manage& c = idleManager();
    chip->flashLoad(0x000000, fontFile(32, true, 2));
    c.read_c331_font(c.fd);
    const Bytes data = pattern(700, 7);
    std::atomic<bool> done{false};
    std::atomic<int> loads{0};
    std::thread loader([&] {
        while (!done) {
            c.update_font(c.fd);
            ++loads;
        }
    });
    // Writes go on until the loads have run among them.
    int writes = 0;
    for (; writes < 16 || (loads < 3 && writes < 2000); ++writes) {
        ASSERT_EQ(c.write_flash(c.fd, 0x500000 + 0x1000 * (writes % 16), 700, data.data()), 0);
    }
    done = true;
    loader.join();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(chip->flashRead(0x500000 + 0x1000 * i, 700), data) << i;
    // Each operation starts with the pin set-up (bank 5, 0x42): between two starts there is
    // either data for a write or a DMA start, never both.
    bool data_seen = false, dma_seen = false;
    int mixed = 0, dmas = 0;
    for (const auto& w : chip->writeLog()) {
        if (w.bank == 0x05 && w.address == 0x42) {
            mixed += data_seen && dma_seen;
            data_seen = dma_seen = false;
        }
        if (w.bank == 0x04 && w.address == 0x53) data_seen = true;
        if (w.bank == 0x04 && w.address == 0x48 && w.value == 2) dma_seen = true, ++dmas;
    }
    EXPECT_EQ(mixed + (data_seen && dma_seen), 0);
    EXPECT_GT(dmas, 0);
}

}  // namespace
