// Two windows written by the PC (a RAM write, then register 11) on the simulated box with HDMI1
// and HDMI2 plugged in at different timings: the C331 measures both ports and ends with the
// windows' channels, port selection and geometry, and the apply emits its refresh.
#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <future>
#include <memory>

#include "c331/c331_manage.h"
#include "comm/link_session.h"
#include "input_numbers.h"
#include "pc_link.h"
#include "platform/sim/sim_c331.h"
#include "video_io/edid.h"
#include "video_io_fixture.h"

using ::testing::ElementsAre;

namespace {

constexpr int kPort1 = 1, kPort2 = 0;  // their C331 ports

// A PC frame body through a TCP session, as the transports feed it; the reply body.
Bytes handle(const Bytes& b) {
    static link_session session(LinkKind::Tcp, "test");
    Bytes w = wire(b);
    ReplyReader r;
    session.feed(w.data(), w.size(), [&](const uint8_t* p, uint32_t n) { r.add(p, n); });
    return r.bodies.empty() ? Bytes{} : r.bodies.back();
}

// Window block words from +0 to +16: flags, -, mirror, -, source, x, y, width, height.
Bytes windowBlock(int source, int x, int y, int w, int h) {
    return cat({le16(1), le16(0), le16(0), le16(0), le16(uint16_t(source)), le16(uint16_t(x)),
                le16(uint16_t(y)), le16(uint16_t(w)), le16(uint16_t(h))});
}

class PcWindowsTest : public InputSideTest {
protected:
    void TearDown() override {
        c331_manage::shutdown();
        InputSideTest::TearDown();
    }
    // HDMI1 and HDMI2 plugged in, the C331 running, window 0 on HDMI1 with a fade of 4 frames.
    void startWithAFadingWindow() {
        chip = platform::sim::attachSimC331();
        ASSERT_TRUE(platform::sim::setInput(kHdmi1, 1920, 1080, 60));
        ASSERT_TRUE(platform::sim::setInput(kHdmi2, 1280, 720, 50));
        startSource();
        c331_manage* c = c331_manage::pInstance();
        ASSERT_TRUE(waitFor([&] { return c->thread_state == 8; }, 20000));
        ASSERT_EQ(handle(writeRam(2816, cat({le16(4), le16(4)}))).at(10), 0);        // fade times
        const Bytes window = cat({windowBlock(kHdmi1, 0, 0, 1920, 1080), le16(4)});  // fade on
        ASSERT_EQ(handle(writeRam(2272, window)).at(10), 0);
        ASSERT_TRUE(applyRegister11());
    }
    // Runs f on the C331 thread at the first frame of the next fade ramp.
    void atTheRamp(std::function<void()> f) {
        chip->onWrite([this, f](uint8_t bank, uint8_t address, uint8_t value) {
            if (bank != 0 || address != 0x22 || value != 0xA9 || !ramp_armed.exchange(false))
                return;
            f();
        });
    }
    std::shared_ptr<platform::sim::SimC331> chip;
    std::atomic<bool> ramp_armed{true};
    // Has register 11 applied and waits for the apply's refresh, and `others` more of id 1.
    bool applyRegister11(int others = 0) {
        const auto applies = [this] {
            const auto ids = refreshes();
            return std::count(ids.begin(), ids.end(), 1);
        };
        const auto before = applies();
        return handle(writeReg(11, 0xFF, {0})).at(10) == 0 &&
               waitFor([&] { return applies() >= before + 1 + others; });
    }
};

TEST_F(PcWindowsTest, TwoHdmiWindowsSideBySideReachTheChip) {
    auto chip = platform::sim::attachSimC331();
    ASSERT_TRUE(platform::sim::setInput(kHdmi1, 1920, 1080, 60));
    ASSERT_TRUE(platform::sim::setInput(kHdmi2, 1280, 720, 50));
    startSource();
    c331_manage* c = c331_manage::pInstance();
    ASSERT_TRUE(waitFor([&] { return c->thread_state == 8; }, 20000));
    // Both ports measured at once, each with its own timing.
    ASSERT_TRUE(waitFor([&] {
        return chip->field(0x00AE0A02) + 1 == 2200 && chip->field(0x00AE0802) + 1 == 1980;
    }));

    const Bytes windows = cat({windowBlock(kHdmi1, 0, 0, 960, 1080), le16(0), le16(0), le16(0),
                               le16(0), windowBlock(kHdmi2, 960, 0, 960, 1080)});
    ASSERT_EQ(handle(writeRam(2272, windows)).at(10), 0);
    const size_t before = refreshes().size();
    g_c331_source_online = 0;
    ASSERT_EQ(handle(writeReg(11, 0xFF, {0})).at(10), 0);
    ASSERT_TRUE(waitFor([&] { return refreshes().size() > before; }));
    EXPECT_EQ(refreshes()[before], 1);
    // The layout change has the inputs measured again and the windows re-applied with them:
    // each input channel captures its port's active picture.
    // The C331 thread writes them after it has seen the inputs online: awaited, not slept for.
    const auto capture = [&](uint8_t port0, uint8_t port1, uint32_t width0, uint32_t width1) {
        return waitFor([&] {
            return chip->reg(0x00, 0x10) == port0 && chip->reg(0x00, 0x11) == port1 &&
                   chip->field(0x101902) == width0 && chip->field(0x101902, 16) == width1;
        });
    };
    ASSERT_TRUE(waitFor([&] { return g_c331_source_online == 1; }));
    EXPECT_TRUE(capture(2 * kPort1, 2 * kPort2, 1920, 1280));
    EXPECT_EQ(chip->reg(0x00, 0x10), 2 * kPort1);  // input channel 0 selects HDMI1's port
    EXPECT_EQ(chip->reg(0x00, 0x11), 2 * kPort2);  // input channel 1 HDMI2's
    EXPECT_EQ(chip->field(0x101902), 1920u);       // their capture widths
    EXPECT_EQ(chip->field(0x101902, 16), 1280u);

    // The PC switches window 1 to HDMI1: its channel selects that port and captures 1920.
    const size_t switched = refreshes().size();
    ASSERT_EQ(handle(writeRam(2272 + 26 + 8, le16(kHdmi1))).at(10), 0);
    ASSERT_EQ(handle(writeReg(11, 0xFF, {0})).at(10), 0);
    ASSERT_TRUE(waitFor([&] { return refreshes().size() > switched; }));
    EXPECT_TRUE(capture(2 * kPort1, 2 * kPort1, 1920, 1920));
    EXPECT_EQ(chip->reg(0x00, 0x11), 2 * kPort1);
    EXPECT_EQ(chip->field(0x101902, 16), 1920u);
    c331_manage::stop_thread();

    EXPECT_EQ(c->gMwin.wincnt, 2);
    EXPECT_THAT(std::vector<int>(c->PM_WIN_NUM, c->PM_WIN_NUM + 3), ElementsAre(0, 1, 6));
    EXPECT_THAT(std::vector<int>(c->PM_OVERLAY, c->PM_OVERLAY + 3), ElementsAre(1, 1, 3));
    EXPECT_EQ(chip->reg(0x00, 0x08) & 1, 1);  // channel enables
    EXPECT_EQ(chip->reg(0x00, 0x09) & 1, 1);
    EXPECT_EQ(chip->reg(0x00, 0x0A) & 1, 0);
    auto rect = [](const _ImageWindowDef_st& r) {
        return std::vector<int>{r.hst, r.hw, r.vst, r.vw};
    };
    EXPECT_THAT(rect(c->IWIN[0]), ElementsAre(0, 1920, 0, 1080));
    EXPECT_THAT(rect(c->OWIN[0]), ElementsAre(0, 960, 0, 1080));
    EXPECT_THAT(rect(c->IWIN[1]), ElementsAre(0, 1920, 0, 1080));
    EXPECT_THAT(rect(c->OWIN[1]), ElementsAre(960, 960, 0, 1080));
    // The output channels read their windows where they lie on the screen.
    EXPECT_EQ(chip->field(0x084002), uint32_t(c->PS_ACTHST));
    EXPECT_EQ(chip->field(0x084002, 16), uint32_t(960 + c->PS_ACTHST));
    EXPECT_EQ(chip->field(0x084202, 16), 960u);
}

// Window 0 switches from HDMI1 to HDMI2 with a fade; at the fade-out's first frame a PC on
// another link writes source 0's EDID request. Register 11 follows once the source thread has
// done what the switch's turn asked of it. The request reaches the EEPROM once, announced once.
TEST_F(PcWindowsTest, AnEdidRequestMadeDuringAFadeIsWrittenToTheEepromOnce) {
    constexpr int kSource = 0, kRequest = 896 + 6 * kSource;
    ASSERT_NO_FATAL_FAILURE(startWithAFadingWindow());
    ASSERT_TRUE(waitFor([&] { return src->edid_rewrite[kSource] == 0; }));
    side->eeprom[kSource]->clearWrites();
    const int pulses = side->receiver[kSource]->hotPlugLowCount();

    std::future<std::vector<Bytes>> pc;
    atTheRamp([&] {
        pc = sessionSends({writeRam(kRequest, cat({le16(1024), le16(768), le16(75)}))});
        pc.wait_for(hangBound(std::chrono::seconds(2)));
    });
    ASSERT_EQ(handle(writeRam(2272 + 8, le16(kHdmi2))).at(10), 0);
    ASSERT_TRUE(applyRegister11());
    chip->onWrite(nullptr);
    ASSERT_FALSE(ramp_armed.load());
    ASSERT_TRUE(pc.valid());
    EXPECT_EQ(pc.get().at(0).at(10), 0);
    ASSERT_TRUE(waitFor([&] { return src->edid_rewrite[kSource] == 0; }));
    ASSERT_TRUE(applyRegister11());
    ASSERT_TRUE(waitFor([&] {
        return src->edid_rewrite[kSource] == 0 && src->edid_written[kSource] == 1 &&
               side->receiver[kSource]->hotPlugLowCount() > pulses;
    }));
    int writes = 0;
    for (const auto& w : side->eeprom[kSource]->writes()) writes += w.reg == 0;
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(side->receiver[kSource]->hotPlugLowCount(), pulses + 1);
    const auto bytes = eeprom(kSource, 256);
    int w = 0, h = 0, rate = 0;
    ASSERT_TRUE(edid::requestOf(bytes.data(), 128 * (1 + bytes[126]), w, h, rate));
    EXPECT_THAT(std::vector<int>({w, h, rate}), ElementsAre(1024, 768, 75));
}

// A request no EDID can describe is put back while another turn fades a window: the put-back
// stays taken as applied, so no later turn writes the EEPROM with what it already announces.
TEST_F(PcWindowsTest, AnEdidRequestPutBackDuringAFadeWritesNothing) {
    constexpr int kSource = 0, kRequest = 896 + 6 * kSource;  // no source plugged in
    ASSERT_NO_FATAL_FAILURE(startWithAFadingWindow());
    // The input announces 1280 x 720 at 60 Hz.
    ASSERT_EQ(handle(writeRam(kRequest, cat({le16(1280), le16(720), le16(60)}))).at(10), 0);
    ASSERT_TRUE(applyRegister11());
    // Announced: the hot-plug line pulled low once (just after the request is marked done, so
    // not awaited by that mark) and up again.
    ASSERT_TRUE(waitFor([&] {
        return src->edid_rewrite[kSource] == 0 && src->edid_written[kSource] == 1 &&
               side->receiver[kSource]->hotPlugLowCount() > 0 &&
               side->receiver[kSource]->hotPlugHigh();
    }));
    side->eeprom[kSource]->clearWrites();
    const int pulses = side->receiver[kSource]->hotPlugLowCount();

    // The PC asks for an impossible mode; the source thread has not taken the request yet when
    // the turn that switches window 0 begins, and puts it back during the ramp.
    ASSERT_EQ(handle(writeRam(kRequest, cat({le16(65535), le16(65535), le16(255)}))).at(10), 0);
    ASSERT_EQ(handle(writeRam(2272 + 8, le16(kHdmi2))).at(10), 0);
    bool put_back = false;
    atTheRamp([&] {
        // On a thread of its own: the C331 mutex comes before the chip's register lock.
        put_back = std::async(std::launch::async, [&] {
                       {
                           zem::MutexLocker lock(c331_manage::c331_mutex);
                           src->edid_written[kSource] = 0;
                           src->edid_rewrite[kSource] = 1;  // what an earlier turn would ask
                       }
                       return waitFor([&] {
                           zem::MutexLocker lock(c331_manage::c331_mutex);
                           return para->rd16(kRequest) == 1280;
                       });
                   }).get();
    });
    ASSERT_TRUE(applyRegister11(1));  // the put-back saves the RAM with a refresh of its own
    chip->onWrite(nullptr);
    ASSERT_FALSE(ramp_armed.load());
    EXPECT_TRUE(put_back);
    ASSERT_TRUE(applyRegister11());
    ASSERT_TRUE(waitFor([&] { return src->edid_rewrite[kSource] == 0; }));
    EXPECT_THAT(std::vector<int>({ram16(kRequest), ram16(kRequest + 2), ram16(kRequest + 4)}),
                ElementsAre(1280, 720, 60));
    EXPECT_TRUE(side->eeprom[kSource]->writes().empty());
    EXPECT_EQ(side->receiver[kSource]->hotPlugLowCount(), pulses);
}

}  // namespace
