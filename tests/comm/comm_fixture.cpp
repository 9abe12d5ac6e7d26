#include "comm_fixture.h"

#include <QCoreApplication>

#include "c331/c331_manage.h"
#include "comm/link_session.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "platform/clock.h"

void CommTest::SetUp() {
    SimBoxTest::SetUp();
    platform::installClock(std::make_unique<platform::FakeClock>());
    ConfigEngine::pInstance();
    ZemRamPara::pInstance();
    g_port = 0;  // each test process gets its own free port
}

ZemRamPara* CommTest::store() {
    return ZemRamPara::p_zemrampara_config;
}

Bytes CommTest::handle(const Bytes& b) {
    // Through a session, as the transports do, so routing and the reply framing are covered.
    static link_session session(LinkKind::Tcp, "test");
    return askSession(session, b);
}

void CommTest::makeApplication() {
    static int argc = 1;
    static char name[] = "comm_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    static_cast<void>(app);
}

uint8_t status(const Bytes& reply) {
    return reply.size() > 10 ? reply[10] : 0xEE;
}

std::vector<int> pendingApplies() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    std::vector<int> ids;
    while (uint8_t id = c331_manage::take_apply()) ids.push_back(id);
    return ids;
}
