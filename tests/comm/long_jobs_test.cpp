// A long job on one link (a flash erase, the register dump, a font load, an upload's save)
// holds up no other link: while the job is still running on UDP, TCP's device information and
// RAM reads are answered. The jobs are held at their slow step until the reads are in.
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

namespace {

// Where a held job waits: it enters, then waits until the test opens it (bounded, so that a
// failing test still ends).
class Gate {
public:
    void pass() {
        std::unique_lock<std::mutex> lock(m_);
        in_ = true;
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(30), [this] { return open_; });
    }
    bool entered(int ms) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return in_; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(m_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool in_ = false, open_ = false;
};

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

uint8_t status(const Bytes& reply) {
    return reply.size() > 10 ? reply[10] : 0xEE;
}

class LongJobs : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        udpnetManage::udp_port_setting = 0;
        udpnetManage::wifi_port_setting = 0;
        tcp = networkManage::pInstance();
        udp = udpnetManage::pInstance();
    }
    void TearDown() override {
        gate->open();
        shell().release();
        tcp->stop();
        udp->stop();
        // The next case of this process starts the links afresh.
        delete networkManage::p_networkManage;
        networkManage::p_networkManage = nullptr;
        delete udpnetManage::p_udpnetManage;
        udpnetManage::p_udpnetManage = nullptr;
        comm_hooks::get() = comm_hooks();
        CommTest::TearDown();
    }

    networkManage* tcp = nullptr;
    udpnetManage* udp = nullptr;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
};

struct Job {
    const char* name;
    std::function<void(const std::shared_ptr<Gate>&, UdpLink&)>
        prepare;                         // hooks and earlier requests
    Bytes request;                       // the long one
    std::function<bool(Gate&)> started;  // the job is at its held step
};

TEST_F(LongJobs, AnotherLinksReadsAreAnsweredWhileAJobRuns) {
    const std::string json = "{\"a\":1}";
    const Job jobs[] = {
        {"flash erase",
         [](const std::shared_ptr<Gate>& gate, UdpLink&) {
             comm_hooks::get().erase_flash = [gate](uint32_t, uint32_t, uint8_t) {
                 gate->pass();
                 return 0;
             };
         },
         body(0x70, cat({{4}, le32(0), le16(4096), {0}})),
         [](Gate& gate) { return gate.entered(5000); }},
        {"register dump",
         [](const std::shared_ptr<Gate>& gate, UdpLink&) {
             comm_hooks::get().c331_print = [gate] { gate->pass(); };
         },
         writeReg(161, 0x02, {0x02}), [](Gate& gate) { return gate.entered(5000); }},
        {"font load",
         [](const std::shared_ptr<Gate>& gate, UdpLink&) {
             comm_hooks::get().update_font = [gate] {
                 gate->pass();
                 return 0;
             };
         },
         writeReg(14, 0x08, {0x08}), [](Gate& gate) { return gate.entered(5000); }},
        {"upload save",
         [&json](const std::shared_ptr<Gate>&, UdpLink& pc) {
             ASSERT_EQ(
                 status(pc.ask(body(0x80, cat({text("ALIS"), le32(uint32_t(json.size())), {0}})))),
                 0);
             ASSERT_EQ(status(pc.ask(
                           body(0x81, cat({le32(0), le16(uint16_t(json.size())), text(json)})))),
                       0);
             platform::sim::simShell().hold("sync");
         },
         // MD5 of {"a":1}
         body(0x82, hex("bb6cb5c68df4652941caf652a366f2d8")),
         [](Gate&) { return platform::sim::simShell().waitHeld(5000); }},
    };
    for (const Job& job : jobs) {
        SCOPED_TRACE(job.name);
        UdpLink pc(udp->port);
        job.prepare(gate, pc);
        pc.send(wire(job.request));
        ASSERT_TRUE(job.started(*gate));
        TcpLink other(tcp->port);
        const Bytes info = other.ask(body(0x90, {}));
        const Bytes ram = other.ask(readRam(0xA02, 2));
        EXPECT_GT(info.size(), 60u);
        EXPECT_EQ(status(ram), 0);
        // Both answers came while the job was still running: its own reply is not out yet.
        Bytes done;
        EXPECT_FALSE(pc.recv(done, 0));
        gate->open();
        shell().release();
        EXPECT_TRUE(pc.recv(done, 5000));
        EXPECT_EQ(status(done), 0);
        gate = std::make_shared<Gate>();
    }
}

}  // namespace
