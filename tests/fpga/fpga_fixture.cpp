#include "fpga_fixture.h"

#include <algorithm>

#include "c331/c331_manage.h"

void FpgaTest::SetUp() {
    SimBoxTest::SetUp();
    clearFpgaSide();
    refresh_conn = QObject::connect(para, &ZemRamPara::sig_update_para,
                                    [this](int id) { refresh_ids.push_back(id); });
    startBoard();
}

void FpgaTest::TearDown() {
    c331_manage::shutdown();  // a test that started the chip leaves none to the next one
    QObject::disconnect(refresh_conn);
    SimBoxTest::TearDown();
}

std::vector<FpgaTest::Board::Message> FpgaTest::messagesOn(int node) const {
    std::vector<Board::Message> out;
    for (auto& m : board->messages())
        if (m.node == node) out.push_back(m);
    return out;
}

std::vector<uint16_t> FpgaTest::padWrites(uint32_t offset) const {
    std::vector<uint16_t> out;
    for (auto& w : box().soc.writes())
        if (w.offset == offset) out.push_back(w.value);
    return out;
}

int FpgaTest::resetPulses(int fpga) const {
    const auto w = padWrites(fpga == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset);
    return int(std::count(w.begin(), w.end(), 0));
}

bool FpgaTest::refreshed(int id) const {
    return std::find(refresh_ids.begin(), refresh_ids.end(), id) != refresh_ids.end();
}

uint16_t FpgaTest::closeLedAfterRefresh() const {
    para->refresh_begin();
    para->refresh_end();
    return para->rd16(ZemRamPara::kRamCloseLed);
}

void FpgaTest::userWrite(Writer by, int addr, uint16_t value) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    if (by == kPanel) {
        para->user_wr16(addr, value);
        return;
    }
    const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    ASSERT_EQ(para->ZemRamParaDeal(bytes, 2, uint32_t(addr)), 0);
}

void FpgaTest::handOver(int addr) {
    uint16_t value;
    uint32_t gen;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        value = para->rd16(addr);
        gen = para->word_gen(addr);
    }
    if (addr == ZemRamPara::kRamCloseLed)
        fpga_manage::close_led_changed(value, gen);
    else
        fpga_manage::brightness_changed(value, gen);
}

std::vector<uint8_t> FpgaTest::savedPortTable() {
    std::vector<uint8_t> saved(1025, 0);
    saved[0] = 0xAA;
    auto put = [&](int at, uint16_t v) {
        saved[1 + at] = uint8_t(v);
        saved[2 + at] = uint8_t(v >> 8);
    };
    put(19, 100), put(21, 40), put(23, 256), put(25, 128);
    put(60, 1000), put(62, 500);
    return saved;
}

void FpgaTest::writeFlash(uint32_t at, const std::vector<uint8_t>& bytes) {
    auto& mem = board->flash[0].mem;
    std::fill(mem.begin() + at, mem.begin() + at + 4096, 0xFF);
    std::copy(bytes.begin(), bytes.end(), mem.begin() + at);
}

std::vector<uint8_t> FpgaTest::flash(uint32_t at, size_t n) const {
    const auto& mem = board->flash[0].mem;
    return std::vector<uint8_t>(mem.begin() + at, mem.begin() + at + long(n));
}
