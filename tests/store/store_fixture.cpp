#include "store_fixture.h"

#include <cstring>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "platform/clock.h"

void StoreTest::SetUp() {
    SimBoxTest::SetUp();
    app();
    platform::installClock(std::make_unique<platform::FakeClock>());
    g_lcd_lang_valid = 0x1001F;
    g_page_focus = 0;
    g_image_current = 0;
    g_zem_keys = 0;
    g_update_flag = 0;
    SyncUpdate::setTip(nullptr);
    std::memset(hub().keyLed, 0, sizeof hub().keyLed);
    zem::MutexLocker lock(c331_manage::c331_mutex);
    while (c331_manage::take_apply() != 0) {
    }
}

void StoreTest::TearDown() {
    platform::installClock(nullptr);
    SimBoxTest::TearDown();
}

ZemRamPara* StoreTest::startStore() {
    // Only tests start the store twice in one process.
    delete ZemRamPara::p_zemrampara_config;
    ZemRamPara::p_zemrampara_config = nullptr;
    return ZemRamPara::pInstance();
}

void StoreTest::saveRequest(uint16_t n, uint64_t client, bool run) {
    const uint8_t word[2] = {uint8_t(n), uint8_t(n >> 8)};
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().ZemRamParaDeal(word, 2, ZemRamPara::kRamModeSaveRequest, client);
        store().take_client_requests(client);
    }
    if (run) store().saver.run_waiting();
}

std::string StoreTest::paraFile(const uint8_t* ram, uint8_t m0, uint8_t m1) {
    std::string f(4096, '\0');
    f[0] = char(m0);
    f[1] = char(m1);
    std::memcpy(&f[2], ram + 768, 3328);
    return f;
}

void StoreTest::defaultRam(uint8_t* ram) {
    std::memset(ram, 0, 4096);
    std::memcpy(ram + 768, default_para_ramlist.data() + 2, 3328);
}

uint16_t StoreTest::fileWord(const std::string& file, int addr) {
    const size_t off = size_t(addr - 766);
    return uint16_t(uint8_t(file.at(off)) | uint8_t(file.at(off + 1)) << 8);
}

void StoreTest::put16(uint8_t* p, int addr, uint16_t v) {
    p[addr] = uint8_t(v);
    p[addr + 1] = uint8_t(v >> 8);
}

void StoreTest::drainEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

QApplication& StoreTest::app() {
    static int argc = 1;
    static char name[] = "store_tests";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}
