// An input travels from the simulated receiver to the C331: the video processor copies the
// receiver's record, measures its port, sets the port's state and active area, and the light-up
// completes with the timing in the parameter RAM. An EDID request goes the other way.
#include <gmock/gmock.h>

#include <cmath>

#include "c331/c331_manage.h"
#include "input_numbers.h"
#include "platform/sim/sim_c331.h"
#include "video_io_fixture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {
constexpr int kPortOf[6] = {3, 2, 1, 0, 5, 4};
}  // namespace

class C331InputTest : public InputSideTest {
protected:
    void SetUp() override {
        InputSideTest::SetUp();
        chip = platform::sim::attachSimC331();
    }
    void TearDown() override {
        c331_manage::shutdown();
        InputSideTest::TearDown();
    }
    // The C331 thread started and run up to its running state.
    void startChip() {
        c = c331_manage::pInstance();
        ASSERT_TRUE(waitFor([&] { return c->thread_state == 8; }, 20000));
    }
    // The chip running, then its thread stopped: the test turns the crank itself, with
    // window 0 alone showing port.
    void startStopped(int port) {
        startSource();
        startChip();
        c331_manage::stop_thread();
        for (int w = 0; w < 6; ++w) {
            c->PM_INPUT[w] = w == 0 ? port : 6;
            c->PM_WIN_DBD_MODE[w] = 0;
            c->g_chg_src[w] = 0;
        }
    }
    // Feeds source s with a mode, waits for its record and runs one polling turn.
    void feed(int s, int w, int h, int rate, bool interlaced = false) {
        ASSERT_TRUE(platform::sim::setInput(s, w, h, rate, interlaced));
        ASSERT_TRUE(waitFor([&] {
            zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
            const auto& r = src->hdminfo[s];
            return r.stable && r.Hact == w && r.Vact == (interlaced ? h / 2 : h) &&
                   r.ip == (interlaced ? 1 : 0) &&
                   std::lround(r.pfreq * 1e6 / (double(r.Htotal) * r.Vtotal)) == rate;
        }));
        turn();
    }
    void unplug(int s) {
        platform::sim::setInput(s, nullptr);
        ASSERT_TRUE(waitFor([&] {
            zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
            return src->hdminfo[s].nosignal == 1;
        }));
        turn();
    }
    void turn() {
        c->load_hdmi();
        c->check_input_port(c->fd);
        for (auto& chg : c->g_chg_src) chg = 0;  // what the re-application does with them
    }
    std::vector<int> act(int port) { return {c->PI_ACT[port], c->PI_ACT[port] + 4}; }

    std::shared_ptr<platform::sim::SimC331> chip;
    c331_manage* c = nullptr;
};

TEST_F(C331InputTest, DefaultBoxLightsUpWithHdmi1InTheRam) {
    platform::sim::buildDefaultInputs();  // HDMI1 1920x1080 at 60 Hz, as the program starts
    startSource();
    startChip();
    g_fpga_lcd_on = 1;  // what the FPGA thread does once its panel path is up
    ASSERT_TRUE(waitFor([] { return g_c331_source_online == 1; }));
    ASSERT_TRUE(waitFor([] { return g_source_online == 2; }));
    ASSERT_TRUE(waitFor([&] { return refreshed(12); }));
    EXPECT_THAT(timingInRam(kHdmi1), ElementsAre(1920, 1080, 60));
    const int port = kPortOf[kHdmi1];
    EXPECT_EQ(c->PI_STATE[port], 4);
    EXPECT_THAT(act(port), ElementsAre(192, 1920, 41, 1080));
    EXPECT_EQ(c->PI_HDMI_INFO[port].Htotal, 2200);
}

TEST_F(C331InputTest, PortAndSourceMaps) {
    startStopped(1);
    EXPECT_EQ(c->zemApi_GetPortDevId(0), 3);
    EXPECT_EQ(c->zemApi_GetPortDevId(3), 0);
    EXPECT_EQ(c->zemApi_GetPortDevId(4), 5);
    EXPECT_EQ(c->zemApi_GetPortDevId(9), 3);
    for (int s = 0; s < 6; ++s)
        EXPECT_EQ(c->zemApi_GetPortDevId(c331_manage::zemApi_inputCvtC331(s)), s);
    int list[6];
    c->PM_WIN_DBD_MODE[2] = 50;
    EXPECT_EQ(c->zemApi_GetWinDbdMultiPort(2, list), 1);
    EXPECT_THAT(std::vector<int>(list, list + 6), ElementsAre(5, 4, 6, 6, 6, 6));
    c->PM_WIN_DBD_MODE[2] = 30;
    EXPECT_EQ(c->zemApi_GetWinDbdMultiPort(2, list), 1);
    EXPECT_THAT(std::vector<int>(list, list + 6), ElementsAre(0, 1, 2, 6, 6, 6));
    c->PM_WIN_DBD_MODE[2] = 7;
    EXPECT_EQ(c->zemApi_GetWinDbdMultiPort(2, list), 0);
    EXPECT_THAT(std::vector<int>(list, list + 6), ElementsAre(6, 6, 6, 6, 6, 6));
}

TEST_F(C331InputTest, UnpluggedSourceResetsItsPortOnce) {
    const int port = kPortOf[kDvi];  // port 2
    startStopped(port);
    feed(kDvi, 1280, 720, 60);
    EXPECT_EQ(c->PI_STATE[port], 4);
    EXPECT_EQ(c->PI_UPDATE[port], 1);
    turn();
    EXPECT_EQ(c->PI_UPDATE[port], 0);  // nothing moved

    unplug(kDvi);
    EXPECT_EQ(c->PI_STATE[port], 0);
    EXPECT_EQ(c->PI_UPDATE[port], 1);
    EXPECT_THAT(act(port), ElementsAre(16, 0, 16, 0));
    EXPECT_EQ(c->PI_PORT_INFO[port][c331_manage::kPortNoSignal], 1);
    EXPECT_EQ(chip->field(0x001802) & (1u << (4 * port)), 0u);  // picture bit cleared
    turn();
    EXPECT_EQ(c->PI_UPDATE[port], 0);  // re-applied once only

    feed(kDvi, 1920, 1080, 60);  // back again
    EXPECT_EQ(c->PI_STATE[port], 4);
    EXPECT_EQ(c->PI_UPDATE[port], 1);
    EXPECT_THAT(act(port), ElementsAre(192, 1920, 41, 1080));
}

TEST_F(C331InputTest, SmallDriftIsIgnoredLargerDriftRemeasures) {
    const int port = kPortOf[kHdmi2];  // port 0
    startStopped(port);
    feed(kHdmi2, 1920, 1080, 60);
    turn();
    ASSERT_EQ(c->PI_UPDATE[port], 0);
    const uint32_t htotal = chip->field(0xAE0802);
    chip->poke(0xAE, 0x08, uint8_t(htotal + 2));
    turn();
    EXPECT_EQ(c->PI_UPDATE[port], 0);
    chip->poke(0xAE, 0x08, uint8_t(htotal + 5));  // 3 away from the last measure
    turn();
    EXPECT_EQ(c->PI_UPDATE[port], 1);
}

TEST_F(C331InputTest, InterlacedStatesByLinesAndRate) {
    const int port = kPortOf[kHdmi1];
    startStopped(port);
    struct Case {
        int w, h, rate, state;
        uint8_t sync;  // the port's byte of the sync-polarity register
    } cases[] = {{1920, 1080, 60, 5, 7},
                 {1920, 1080, 50, 6, 7},
                 {1440, 480, 60, 7, 4},
                 {1440, 576, 50, 8, 4}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.h);
        feed(kHdmi1, k.w, k.h, k.rate, true);
        EXPECT_EQ(c->PI_STATE[port], k.state);
        EXPECT_EQ(c->PI_SCAN_MODE[port], 1);
        EXPECT_EQ(chip->reg(0x06, uint8_t(0x38 + port)), k.sync);
    }
    feed(kHdmi1, 1920, 1080, 60);  // progressive again
    EXPECT_EQ(c->PI_STATE[port], 4);
    EXPECT_EQ(c->PI_SCAN_MODE[port], 0);

    // Interlaced with 600 lines a field: no interlaced state, read as progressive.
    const VideoMode odd{0, 1920, 88, 44, 148, 540, 20, 5, 35, true, true, true, 50, 66000};
    ASSERT_EQ(odd.vtotal(), 600);
    platform::sim::setInput(kHdmi1, &odd);
    ASSERT_TRUE(waitFor([&] {
        zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
        return src->hdminfo[kHdmi1].Vtotal == 600;
    }));
    turn();
    EXPECT_EQ(c->PI_HDMI_INFO[port].ip, 1);
    EXPECT_EQ(c->PI_STATE[port], 4);
    EXPECT_EQ(c->PI_SCAN_MODE[port], 0);
}

TEST_F(C331InputTest, VByOnePortsByLanesAndClock) {
    startStopped(kPortOf[kHdmi4]);
    c->PM_INPUT[1] = kPortOf[kHdmi3];
    feed(kHdmi4, 3840, 2160, 60);  // 8 lanes, 594 MHz
    feed(kHdmi3, 1920, 1080, 60);  // 2 lanes, 148.5 MHz
    EXPECT_EQ(c->PI_HDMI_INFO[4].lane, 8);
    EXPECT_EQ(c->PI_STATE[4], 1);
    EXPECT_THAT(act(4), ElementsAre(192, 1920, 82, 2160));  // halved: two pixels per clock
    EXPECT_THAT(std::vector<int>(c->PI_DBD_ACT[4], c->PI_DBD_ACT[4] + 4),
                ElementsAre(384, 3840, 82, 2160));
    EXPECT_EQ(c->PI_STATE[5], 4);
    EXPECT_THAT(act(5), ElementsAre(192, 1920, 41, 1080));
    EXPECT_NEAR(c->PI_FV[5], 60.0, 0.1);
    // Lane masks of the two receivers.
    EXPECT_EQ(chip->reg(0x02, 0x4F), 0xFF);
    EXPECT_EQ(chip->reg(0x02, 0x4F + 0x1C), 0xC0);
    EXPECT_EQ(c->PI_VBO_RETRY[0], 0);
}

TEST_F(C331InputTest, UnlockedVByOneReceiverIsResetEachTurn) {
    const int port = kPortOf[kHdmi4];
    startStopped(port);
    feed(kHdmi4, 3840, 2160, 30);
    ASSERT_EQ(c->PI_STATE[port], 1);
    auto t = platform::sim::C331InputTiming::video(4400, 2250, 3840, 30, 4);
    t.locked = false;
    chip->setInputSignal(port, t);
    for (int i = 1; i <= 31; ++i) {
        turn();
        EXPECT_EQ(c->PI_VBO_RETRY[0], i % 30) << i;
    }
    chip->setInputSignal(port, platform::sim::C331InputTiming::video(4400, 2250, 3840, 30, 4));
    turn();
    EXPECT_EQ(c->PI_VBO_RETRY[0], 0);
}

TEST_F(C331InputTest, SourceSwitchOfAWindow) {
    startStopped(6);
    platform::sim::setInput(kHdmi2, 1920, 1080, 60);
    ASSERT_TRUE(waitFor([&] {
        zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
        return src->hdminfo[kHdmi2].stable == 1;
    }));
    c->load_hdmi();
    c->c331_SetInputsource(0, kHdmi2 + 6);  // no such source: refused, not folded
    EXPECT_EQ(c->PM_INPUT[0], 6);
    c->c331_SetInputsource(0, kHdmi2);
    EXPECT_EQ(c->PM_INPUT[0], 0);
    EXPECT_EQ(c->PI_STATE[0], 4);       // measured at once
    c->c331_SetInputsource(7, kHdmi1);  // no such window
    c->c331_SetInputsource(0, -1);      // no such source
    EXPECT_EQ(c->PM_INPUT[0], 0);
}

TEST_F(C331InputTest, FrameWaitsAreBounded) {
    startStopped(0);
    const int before = int(chip->reg(0xAB, 0x47) >> 2) & 3;
    const int after = c->wait_ifld_change(c->fd, 0);
    EXPECT_NE(after, before);
    chip->setFramesStopped(true);
    const int stuck = int(chip->reg(0xAB, 0x47 + 6) >> 2) & 3;
    EXPECT_EQ(c->wait_ifld_change(c->fd, 5), (stuck + 1) & 3);
    EXPECT_EQ(c->wait_ofld_change(c->fd, 9), 0);
    c->wait1_pivs(c->fd, 3);  // returns after its polls
    EXPECT_EQ(chip->reg(0x05, 0x08), 0);
    EXPECT_EQ(chip->reg(0x00, 0x29) & 0x80, 0);
}

// A request the PC writes and no EDID can describe goes through the video processor's apply to
// the source thread, which puts it back to what the EEPROM announces; the apply then sees
// nothing new, so the EEPROM is not rewritten and the source is not made to read it again.
TEST_F(C331InputTest, ARefusedEdidRequestIsPutBackAndNotTakenForANewOne) {
    constexpr int kBase = 896 + 6 * kHdmi1;
    const auto request = [&] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return std::vector<int>{para->rd16(kBase), para->rd16(kBase + 2), para->rd16(kBase + 4)};
    };
    startSource();
    startChip();
    para->ZemSetEDIDPara(kHdmi1, 1280, 720, 60);
    ASSERT_TRUE(waitFor([&] { return side->receiver[kHdmi1]->hotPlugLowCount() == 1; }));
    side->eeprom[kHdmi1]->clearWrites();

    para->ZemSetEDIDPara(kHdmi1, 4096, 2160, 120);
    ASSERT_TRUE(waitFor([&] { return request() == std::vector<int>{1280, 720, 60}; }));
    {
        // Any later change makes the apply compare the RAM again.
        zem::MutexLocker lock(c331_manage::c331_mutex);
        c331_manage::raise_apply(1);
    }
    settle();
    EXPECT_TRUE(side->eeprom[kHdmi1]->writes().empty());
    EXPECT_EQ(side->receiver[kHdmi1]->hotPlugLowCount(), 1);
    EXPECT_EQ(src->edid_rewrite[kHdmi1], 0);
}
