// A long job on one link (a flash erase, the register dump, a font load, an upload's save)
// holds up no other link: while the job is still running on UDP or on one TCP client, another
// TCP client's device information and RAM reads are answered. The jobs are held at their slow
// step until the reads are in.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "comm/comm_hooks.h"
#include "comm/network_manage.h"
#include "comm/udpnet_manage.h"
#include "comm_fixture.h"
#include "core/globals.h"
#include "gate.h"

namespace {

class LongJobs : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        // The jobs' hooks are in place before the links' threads start.
        comm_hooks& h = comm_hooks::get();
        h.erase_flash = [g = erasing](uint32_t, uint32_t, uint8_t) {
            g->pass();
            return 0;
        };
        h.c331_print = [g = dumping] { g->pass(); };
        h.update_font = [g = loading] {
            g->pass();
            return 0;
        };
        udpnetManage::udp_port_setting = 0;
        udpnetManage::wifi_port_setting = 0;
        tcp = networkManage::pInstance();
        udp = udpnetManage::pInstance();
    }
    void TearDown() override {
        releaseJobs();
        CommTest::TearDown();
    }
    void releaseJobs() {
        for (const auto& g : {erasing, dumping, loading}) g->open();
        shell().release();
    }

    void readsAnsweredWhileJobsRun(const std::function<std::unique_ptr<Link>()>& newPc);

    networkManage* tcp = nullptr;
    udpnetManage* udp = nullptr;
    const std::shared_ptr<Gate> erasing = std::make_shared<Gate>();
    const std::shared_ptr<Gate> dumping = std::make_shared<Gate>();
    const std::shared_ptr<Gate> loading = std::make_shared<Gate>();
};

struct Job {
    const char* name;
    std::function<void(Link&)> prepare;  // earlier requests of the job
    Bytes request;                       // the long one
    std::function<bool()> started;       // the job is at its held step
};

// Runs each job on a PC of its own, held at its slow step while another TCP client reads.
void LongJobs::readsAnsweredWhileJobsRun(const std::function<std::unique_ptr<Link>()>& newPc) {
    const std::string json = "{\"a\":1}";
    auto none = [](Link&) {};
    const Job jobs[] = {
        {"flash erase", none, body(0x70, cat({{4}, le32(0), le16(4096), {0}})),
         [this] { return erasing->entered(5000); }},
        {"register dump", none, writeReg(161, 0x02, {0x02}),
         [this] { return dumping->entered(5000); }},
        {"font load", none, writeReg(14, 0x08, {0x08}), [this] { return loading->entered(5000); }},
        {"upload save",
         [&json, this](Link& pc) {
             ASSERT_EQ(
                 status(pc.ask(body(0x80, cat({text("ALIS"), le32(uint32_t(json.size())), {0}})))),
                 0);
             ASSERT_EQ(status(pc.ask(
                           body(0x81, cat({le32(0), le16(uint16_t(json.size())), text(json)})))),
                       0);
             shell().hold("sync");
         },
         // MD5 of {"a":1}
         body(0x82, hex("bb6cb5c68df4652941caf652a366f2d8")),
         [this] { return shell().waitHeld(5000); }},
    };
    for (const Job& job : jobs) {
        SCOPED_TRACE(job.name);
        const std::unique_ptr<Link> pc = newPc();
        job.prepare(*pc);
        pc->send(wire(job.request));
        ASSERT_TRUE(job.started());
        TcpLink other(tcp->port);
        const Bytes info = other.ask(body(0x90, {}));
        const Bytes ram = other.ask(readRam(0xA02, 2));
        EXPECT_GT(info.size(), 60u);
        EXPECT_EQ(status(ram), 0);
        // Both answers came while the job was still running: its own reply is not out yet.
        Bytes done;
        EXPECT_FALSE(pc->recv(done, 0));
        releaseJobs();
        EXPECT_TRUE(pc->recv(done, 5000));
        EXPECT_EQ(status(done), 0);
    }
}

TEST_F(LongJobs, AnotherLinksReadsAreAnsweredWhileAJobRuns) {
    readsAnsweredWhileJobsRun([this] { return std::make_unique<UdpLink>(udp->port); });
}

// Two PCs on TCP: one's long job holds up none of the other's requests.
TEST_F(LongJobs, AnotherTcpClientsReadsAreAnsweredWhileAJobRuns) {
    readsAnsweredWhileJobsRun([this] { return std::make_unique<TcpLink>(tcp->port); });
}

}  // namespace
