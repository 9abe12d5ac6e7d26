#include "video_io_fixture.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

void InputSideTest::SetUp() {
    SimBoxTest::SetUp();
    platform::sim::detachAllI2cDevices();
    side = &platform::sim::buildInputSide();
    para = ZemRamPara::pInstance();
    para->reload();  // the store outlives a case when the program runs whole
    g_check_source = 0x3F;
    g_source_online = 0;
    g_c331_source_online = 0;
    g_fpga_lcd_on = 0;
    conn_ = QObject::connect(
        para, &ZemRamPara::sig_update_para, para,
        [this](int id) {
            std::lock_guard<std::mutex> lock(refresh_mutex_);
            refresh_ids_.push_back(id);
        },
        Qt::DirectConnection);
}

void InputSideTest::TearDown() {
    raviksource::shutdown();
    src = nullptr;
    QObject::disconnect(conn_);
    SimBoxTest::TearDown();
}

void InputSideTest::startSource() {
    src = raviksource::pInstance();
    ASSERT_EQ(src->initialize(), 0);
}

void InputSideTest::settle() {
    std::this_thread::sleep_for(hangBound(std::chrono::milliseconds(150)));
}

bool InputSideTest::waitFor(const std::function<bool()>& pred, int max_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(hangMs(max_ms));
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // unscaled: a pause
    }
    return true;
}

std::vector<int> InputSideTest::refreshes() const {
    std::lock_guard<std::mutex> lock(refresh_mutex_);
    return refresh_ids_;
}

bool InputSideTest::refreshed(int id) const {
    for (int r : refreshes()) {
        if (r == id) return true;
    }
    return false;
}

uint16_t InputSideTest::ram16(int addr) const {
    zem::MutexLocker lock(para->mutex);
    return para->rd16(addr);
}

uint8_t InputSideTest::status(int byte) const {
    zem::MutexLocker lock(para->mutex);
    return para->status[byte];
}

std::vector<uint16_t> InputSideTest::timingInRam(int source) const {
    const int base = raviksource::kTimingRam + 6 * source;
    ZemRamPara* s = ZemRamPara::pInstance();
    zem::MutexLocker lock(s->mutex);
    return {s->timing16(base), s->timing16(base + 2), s->timing16(base + 4)};
}

void InputSideTest::pretendPathReady() {
    g_fpga_lcd_on = 1;
    g_c331_source_online = 1;
}

std::vector<uint8_t> InputSideTest::eeprom(int source, size_t n) const {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = side->eeprom[source]->reg(uint8_t(i));
    return out;
}

std::string edidDecode(const std::vector<uint8_t>& edid, const std::string& dir) {
    const std::string file = dir + "/edid.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(edid.data()), std::streamsize(edid.size()));
    return edidDecodeFile(file);
}
