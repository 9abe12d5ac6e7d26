// Card answers that come late, while the FPGA thread is busy with USB upgrades: six PC links
// (two TCP clients, two UDP clients, both serial ports) write and read back their own card,
// and each gets only the answers to its own frames, never one that its box gave up on.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "box_links.h"
#include "cards_fixture.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "core/config_engine.h"
#include "time_factor.h"
#include "usb_package.h"

namespace {

// Each link's own card: port 2 (FPGA 0) and port 13 (FPGA 1, its port 3), three cards each.
struct LinkCard {
    Via via;
    int port;
    uint16_t card;
};
constexpr LinkCard kLinks[] = {{Via::Tcp, 2, 0},  {Via::Tcp, 13, 0}, {Via::Udp, 2, 1},
                               {Via::Udp, 13, 1}, {Via::Pty, 2, 2},  {Via::Pty4G, 13, 2}};
constexpr int kBoxWaitMs = 100;  // the box's wait for an answer, shortened for the test
// A reply the box owes (scaled by the time factor): only a box that hangs takes this long.
constexpr int kPcWaitMs = 5000;
constexpr size_t kImage = 1 << 16;  // an FPGA image that keeps the FPGA thread busy a while
// A link's rounds end at this bound (scaled by the time factor) whether or not the upgrades
// ended: far past what they take, below the limit of a case, so that upgrades that never end
// fail saying what each link saw.
constexpr std::chrono::seconds kRoundsBound{90};
// Replies a card frame may get before the box command behind it is answered: any after the
// first is late, and a box that kept sending would not hold the link for ever.
constexpr int kMaxExtra = 8;

uint8_t portByte(const LinkCard& l) {
    return uint8_t(l.port < 10 ? l.port + 1 : l.port - 10 + 11);
}
// The PC's body of a card frame (the link adds the check byte).
Bytes request(const LinkCard& l, uint8_t cmd, const Bytes& data) {
    Bytes f = cardFrame(l.card, 0x67, 1, portByte(l), cmd, data);
    f.pop_back();
    return f;
}

enum class Verdict { Answered, Refused, Lost, WrongLink, Late };

// An answer to the frame with command cmd whose answer has `size` bytes.
Verdict judge(const Bytes& a, const LinkCard& l, uint8_t cmd, size_t size) {
    if (a.empty()) return Verdict::Lost;
    if (a.size() < 11 || (a[2] | a[3] << 8) != l.card || a[7] != portByte(l))
        return Verdict::WrongLink;
    if (a[9] != cmd) return Verdict::Late;
    if (a.size() == 11 && a[10] == 1) return Verdict::Refused;  // the cards stayed busy
    return a.size() == size ? Verdict::Answered : Verdict::Late;
}

// A PC's card frames, each with a box command right behind it. A link handles its frames in
// turn, so that command's reply comes once the box has decided the card frame (answered,
// refused or given up): what came before it is the card frame's, and the PC sends again at
// once. An answer the box passes on after that comes before the next command's reply.
class Asker {
public:
    explicit Asker(Link& link) : link_(link) {}
    // The replies to a card frame, empty when it got none.
    std::vector<Bytes> ask(const Bytes& frame) {
        link_.send(wire(frame));
        return repliesUntilProbe();
    }
    // What came after the last reply the PC took: nothing, from a box that keeps no late answer.
    std::vector<Bytes> rest() { return repliesUntilProbe(); }

private:
    std::vector<Bytes> repliesUntilProbe() {
        Bytes probe = readRam(kStatusBlock, 1);
        probe[4] = ++probes_;  // the header comes back as it was: this command's reply
        link_.send(wire(probe));
        std::vector<Bytes> replies;
        Bytes got;
        // bounded: kMaxExtra replies, each within kPcWaitMs.
        while (replies.size() <= size_t(kMaxExtra) && link_.recv(got, kPcWaitMs)) {
            if (got.size() == 12u && got[2] == 0x00 && got[3] == 0xF1 && got[4] == probe[4])
                return replies;
            replies.push_back(got);
        }
        ADD_FAILURE() << "no reply to the box command behind a card frame, after " << replies.size()
                      << " replies";
        return replies;
    }
    Link& link_;
    uint8_t probes_ = 0;
};

struct Tally {
    std::atomic<int> counts[5] = {};
    void count(Verdict v) { ++counts[int(v)]; }
    // A card frame's replies: the first as judged, any more late.
    template <typename Judge>
    Verdict count(const std::vector<Bytes>& replies, const Judge& judged) {
        const Verdict v = judged(replies.empty() ? Bytes{} : replies[0]);
        count(v);
        for (size_t i = 1; i < replies.size(); ++i) count(Verdict::Late);
        return v;
    }
    int operator[](Verdict v) const { return counts[int(v)].load(); }
};

// What one link does through the upgrades and for two rounds after them: rounds of a write of a
// value of its own and a read of it, the read one byte longer each round (an earlier read's answer
// has another length). Each answer must come from its own card and to the frame it just sent.
void linkRounds(Link& link, const LinkCard& l, int index, const std::atomic<bool>& upgraded,
                Tally& t) {
    Asker pc(link);
    const auto end = std::chrono::steady_clock::now() + hangBound(kRoundsBound);
    // bounded: the rounds end at kRoundsBound.
    for (int r = 0, after = 0; after < 2; ++r) {
        if (std::chrono::steady_clock::now() > end) {
            ADD_FAILURE() << "link " << index << ": " << r << " rounds, the upgrades "
                          << (upgraded ? "ended, " + std::to_string(after) + " rounds after them"
                                       : "not ended");
            return;
        }
        if (upgraded) ++after;
        const uint16_t n = uint16_t(1 + r % 8);
        const Bytes value(n, uint8_t(16 * index + r % 16));
        const Bytes write = request(l, 0x60, cat({le32(0x100), le16(n), {0, 0}, value}));
        const Verdict written =
            t.count(pc.ask(write), [&](const Bytes& a) { return judge(a, l, 0x60, 11); });
        // unscaled: the PC tries again a little later.
        if (written == Verdict::Refused) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (written != Verdict::Answered) continue;
        t.count(pc.ask(request(l, 0x61, cat({le32(0x100), le16(n)}))), [&](const Bytes& got) {
            const Verdict read = judge(got, l, 0x61, 18u + n);
            const bool current = read != Verdict::Answered ||
                                 std::equal(value.begin(), value.end(), got.begin() + 18);
            return current ? read : Verdict::Late;
        });
    }
    const size_t extra = pc.rest().size();  // nothing comes after the last answer
    for (size_t i = 0; i < extra; ++i) t.count(Verdict::Late);
}

class LateAnswers : public CardsTest {
protected:
    void SetUp() override {
        CardsTest::SetUp();
        ConfigEngine::pInstance();
        g_port = 0;
        g_usb_grade_path = " ";
        mountUsbDisk();
        comm_hooks::wire();
        link_session::pass_wait_ms = kBoxWaitMs;
        // Set before the links start: their interrupt polls may see an FPGA lost too.
        mgr->hooks.on_bringup_restart = [this](int fpga, const char* why) {
            std::lock_guard<std::mutex> lock(bringup_mutex);
            ++restarts;
            bringup_log += "  pass " + std::to_string(passes) + ": FPGA " +
                           std::to_string(fpga + 1) + " starts again: " + why + "\n";
        };
    }
    void TearDown() override {
        links.clear();
        stopBoxLinks();
        mgr->hooks.on_bringup_restart = nullptr;
        link_session::pass_wait_ms = 500;
        CardsTest::TearDown();
    }
    // Held answers come back at uneven times, some after the box stopped waiting for them.
    void releaseCardsUntil(const std::atomic<bool>& done) {
        uint32_t seed = 12345;
        while (!done) {
            seed = seed * 1103515245u + 12345u;
            // unscaled: the uneven times are what the test tries.
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + (seed >> 16) % 120));
            board->releaseHeld();
        }
    }
    // The FPGA thread's passes (0.2 ms a tick) through two upgrades from the USB disk, one per
    // FPGA, each time until both FPGAs are lit again.
    void upgradeTwice(std::atomic<bool>& upgraded) {
        using namespace usb_package;
        for (uint8_t type : {kFpga0, kFpga1}) {
            const Bytes pkg = package({{type, firmware(bytes(kImage, type))}});
            writeFile("/mnt/usb1/fpga.ZEM", std::string(pkg.begin(), pkg.end()));
            g_send_para[1] = 0;
            g_usb_grade = 1;
            const int before = restarted();
            for (int t = 0; t < 20000 && g_usb_grade; ++t) tick();
            lit_again += relit(before);
        }
        upgraded = true;
    }
    // A relight takes about 520 passes. It may take a few bring-up attempts, each started by a
    // reset (the upgrade's is the first), but not more than kAttempts, and no attempt may
    // stand still longer than a relight takes several times over.
    bool relit(int before) {
        constexpr int kAttempts = 3, kAttemptPasses = 3000;
        int attempt = restarted(), since = 0;
        while (!bothLitAgain()) {
            if (restarted() != attempt) attempt = restarted(), since = 0;
            if (attempt - before > kAttempts || ++since > kAttemptPasses) {
                std::lock_guard<std::mutex> lock(bringup_mutex);
                bringup_log += "  pass " + std::to_string(passes) + ": not lit after " +
                               std::to_string(attempt - before) + " attempts, " +
                               std::to_string(since) + " passes into the last: " + state() + "\n";
                return false;
            }
            tick();
        }
        return true;
    }
    int restarted() {
        std::lock_guard<std::mutex> lock(bringup_mutex);
        return restarts;
    }
    bool bothLitAgain() {
        {
            zem::MutexLocker lock(board->mutex);
            if (!board->fpga[0].lit() || !board->fpga[1].lit()) return false;
        }
        return mgr->get_fpga_status() == 1;
    }
    void tick() {
        ++G_timeTicks;
        ++passes;
        mgr->thread_pass();
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // unscaled: the tick
    }

    std::vector<std::unique_ptr<Link>> links;
    int lit_again = 0;  // upgrades after which both FPGAs were lit again
    std::atomic<int> passes{0};
    std::mutex bringup_mutex;
    int restarts = 0;         // bring-up attempts started, under bringup_mutex
    std::string bringup_log;  // each with its pass and reason, under bringup_mutex
};

}  // namespace

TEST_F(LateAnswers, SixLinksThroughTwoFpgaUpgradesGetOnlyTheirOwnAnswers) {
    plug(2, 3);
    plug(13, 3);
    searchCycles(3);
    g_change[kSearchEnableWord] = 0;  // only the links' frames on the ports from here
    for (int p : {2, 13})
        for (auto& c : board->port(p).cards) c.hold_replies = true;
    for (const LinkCard& l : kLinks) links.push_back(startBoxLink(l.via));

    std::atomic<bool> done{false};
    std::atomic<bool> upgraded{false};
    Tally tally;
    std::thread cards([&] { releaseCardsUntil(done); });
    std::thread fpga([&] { upgradeTwice(upgraded); });
    std::vector<std::thread> pcs;
    for (size_t i = 0; i < links.size(); ++i)
        pcs.emplace_back([&, i] { linkRounds(*links[i], kLinks[i], int(i), upgraded, tally); });
    for (std::thread& t : pcs) t.join();
    fpga.join();
    done = true;
    cards.join();

    const uint32_t dropped =
        mgr->unclaimed_answers + mgr->unmatched_answers + card_turns::get().late_answers();
    std::printf(
        "six links: %d answered, %d refused, %d lost; %d on the wrong link, %d late; "
        "%u answers dropped by the box; %d bring-up attempts in %d passes\n",
        tally[Verdict::Answered], tally[Verdict::Refused], tally[Verdict::Lost],
        tally[Verdict::WrongLink], tally[Verdict::Late], dropped, restarted(), passes.load());
    EXPECT_EQ(lit_again, 2) << "bring-up attempts:\n" << bringup_log;
    for (int side : {0, 1}) {  // both upgrades went through
        const auto& mem = board->flash[side].mem;
        EXPECT_EQ(Bytes(mem.begin(), mem.begin() + kImage),
                  usb_package::bytes(kImage, uint8_t(7 + side)));
    }
    EXPECT_EQ(tally[Verdict::WrongLink], 0);
    EXPECT_EQ(tally[Verdict::Late], 0);
    EXPECT_GT(tally[Verdict::Answered], 0);
    EXPECT_GT(dropped, 0u);  // answers did come after the box gave up on them
}
