// Five PCs at once, one on each link (TCP, UDP and both serial ports) and a second one on TCP,
// sending a mix of box commands while the C331 and FPGA threads run, the main thread refreshes
// and the saver thread writes what they change, and keys come through the control channel. Run
// in the ThreadSanitizer build, this is the race check of the links, the parameter RAM and the
// channel's hand-over to the main thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "c331/c331_manage.h"
#include "comm/comm_links.h"
#include "comm/network_manage.h"
#include "comm/udpnet_manage.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/saver.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_manage.h"
#include "page_driver.h"
#include "pc_link.h"
#include "platform/serial_port.h"
#include "sim_fixture.h"
#include "simctl/sim_control.h"
#include "video_io/raviksource.h"

namespace {

Bytes netSet(const std::string& ip) {
    const std::string fields[] = {ip, "255.255.255.0", "192.168.1.1", "5005"};
    Bytes data;
    for (const std::string& f : fields) {
        if (!data.empty()) data.push_back(0);
        data.insert(data.end(), f.begin(), f.end());
    }
    return body(0x91, data);
}

// One request of the mix and the status bytes its answer may carry.
struct Request {
    const char* name;
    Bytes body;
    uint8_t status = 0;
    uint8_t alt = 0;  // a second acceptable status
};

// The mix of PC n: identity, network, parameter writes and reads, the apply, user-mode saves
// and recalls (a recall of a slot not saved yet is refused), close-LED (the C331 thread hands it
// to the FPGA thread, whose register write comes back to RAM 2116) and a size the box refuses.
std::vector<Request> mix(int n) {
    const uint8_t mode = uint8_t(1 + n % 4);
    return {
        {"device information", body(0x90, {})},
        {"barcode", body(0x94, text("PC" + std::to_string(n)))},
        {"contrast", writeRam(2178, {uint8_t(40 + n), 0})},
        {"apply", writeReg(11, 0xFF, {0x01})},
        {"MAC", body(0x92, text("00:11:22:33:44:5" + std::to_string(n)))},
        {"read back", readRam(2176, 4)},
        {"save as user mode", writeRam(868, {mode, 0})},
        {"apply the save", writeReg(11, 0xFF, {0x01})},
        {"network", netSet("192.168.1." + std::to_string(50 + n))},
        {"recall a user mode", writeRam(866, {mode, 0})},
        {"apply the recall", writeReg(11, 0xFF, {0x02}), 0, 1},
        {"slot write", writeRam(0x1000 * (5 + n) + 100, {uint8_t(n)})},
        {"close or open the LED", writeRam(2116, {uint8_t(n % 2), 0})},
        {"apply the close-LED", writeReg(11, 0xFF, {0x01})},
        {"a width the box refuses", writeRam(1378, {0x28, 0x23})},  // 9000
        {"apply the refusal", writeReg(11, 0xFF, {0x01})},
    };
}

class MixedTraffic : public SimBoxTest {
protected:
    void SetUp() override {
        SimBoxTest::SetUp();
        g_debugSwitch = 0;
        platform::sim::buildDefaultBox();
        ConfigEngine::pInstance();
        store = ZemRamPara::pInstance();
        panelApp();  // the widgets' application: a key looks for the window on top
        SyncUpdate::connectStore(store);
        ZemRamPara::p_zemrampara_config->saver
            .start();  // as the program does: the files are written beside the refreshes
        ticker = std::thread([this] {
            while (!stopTicks) {
                ++G_timeTicks;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));  // unscaled: the tick
            }
        });
    }
    void TearDown() override {
        comm_stop_links();
        ZemRamPara::p_zemrampara_config->saver.stop();
        fpga_manage::p_fpga_manage->stop_thread();
        c331_manage::shutdown();
        stopTicks = true;
        ticker.join();
        SimBoxTest::TearDown();
    }

    // The managers in start-up order, both FPGAs released as the source thread does; true once
    // the screen is lit and the C331 thread applies changes.
    bool startBox() {
        raviksource* source = raviksource::pInstance();
        fpga_manage* f = fpga_manage::pInstance();
        c331_manage* c = c331_manage::pInstance();
        if (f->initialize_start() != 0) return false;
        for (int i = 0; i < 2; ++i) {
            f->drive_line(i == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset,
                          fpga_manage::kLineHigh);
            source->fpga_board_state[i] = 2;
        }
        g_source_online = 2;
        return eventually([&] { return f->get_fpga_status() == 1 && c->thread_state == 8; },
                          120000);
    }

    void startLinks() {
        g_port = 0;
        udpnetManage::udp_port_setting = 0;
        udpnetManage::wifi_port_setting = 0;
        comm_start_links();
    }

    ZemRamPara* store = nullptr;
    std::atomic<bool> stopTicks{false};
    std::thread ticker;
};

}  // namespace

TEST_F(MixedTraffic, FivePcsOnFourLinksWhileTheChipThreadsRun) {
    ASSERT_TRUE(startBox());
    startLinks();
    std::vector<std::unique_ptr<Link>> pcs;
    pcs.push_back(std::make_unique<TcpLink>(networkManage::p_networkManage->port));
    pcs.push_back(std::make_unique<UdpLink>(udpnetManage::p_udpnetManage->port));
    pcs.push_back(std::make_unique<PtyLink>(platform::sim::serialPeerName("/dev/ttyS2")));
    pcs.push_back(std::make_unique<PtyLink>(platform::sim::serialPeerName("/dev/ttyS1")));
    pcs.push_back(std::make_unique<TcpLink>(networkManage::p_networkManage->port));
    const int kPcs = int(pcs.size());

    constexpr int kRounds = 6;
    std::atomic<int> unanswered{0}, wrong{0}, answered{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < kPcs; ++n) {
        threads.emplace_back([&, n] {
            const std::vector<Request> requests = mix(n);
            for (int round = 0; round < kRounds; ++round) {
                // Each PC starts its mix at a different place, so different commands meet.
                for (size_t i = 0; i < requests.size(); ++i) {
                    const Request& r = requests[(i + 3 * n) % requests.size()];
                    const Bytes reply = pcs[n]->ask(r.body, 5000);
                    if (reply.size() < 11) {
                        ++unanswered;
                        ADD_FAILURE() << "PC " << n << ": no answer to " << r.name;
                    } else if (reply[10] != r.status && reply[10] != r.alt) {
                        ++wrong;
                        ADD_FAILURE()
                            << "PC " << n << ": " << r.name << " answered " << int(reply[10]);
                    } else {
                        ++answered;
                    }
                }
            }
            ++done;
        });
    }
    // And a person presses keys through the control channel: each one handed to the main
    // thread, which takes it (no page is shown here, so it says so).
    sim_control* channel = sim_control::pInstance();  // its hand-over made on the main thread
    std::atomic<int> keys{0};
    threads.emplace_back([&] {
        while (done < kPcs) {
            const std::string answer = channel->execute("key Right");
            if (answer != "ok" && answer != "error: no page is shown yet")
                ADD_FAILURE() << "key Right: " << answer;
            ++keys;
        }
    });
    // Meanwhile the main thread runs the refreshes: the saves of modes and parameters.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done == kPcs) loop.quit();
    });
    poll.start(20);
    loop.exec();
    for (std::thread& t : threads) t.join();

    EXPECT_GT(keys, 0);
    sim_control::shutdown();
    EXPECT_EQ(unanswered, 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(answered, kPcs * kRounds * int(mix(0).size()));
    // What the PCs did is kept: a saved mode's file, and the box still answers each link.
    auto saved = [&] {
        QCoreApplication::processEvents();
        for (int m = 1; m <= 4; ++m)
            if (exists("/data/modes/custom_mode" + std::to_string(m))) return true;
        return false;
    };
    EXPECT_TRUE(eventually(saved, 10000));
    for (auto& pc : pcs) EXPECT_EQ(pc->ask(body(0x90, {})).at(10), 0);
}
