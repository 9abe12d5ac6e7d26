// Seeded random key walks on the whole program through its control channel, one from each page
// of the page table: the front keys and the keypad's letters, mostly quicker than the panel
// settles and now and then slow enough for a tip, the number keypad or a job to show. After each
// walk the box still runs, answers status and names one page in front.
// DISABLED_RandomSeedsForAsLongAsGiven is scripts/key-walk.sh's driver: walks with random seeds
// for ZEM_KEY_WALK_SECONDS, or the walks of the seeds in ZEM_KEY_WALK_SEEDS in turn.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "card_files.h"
#include "core/page_table.h"
#include "program_fixture.h"
#include "usb_package.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

constexpr int kKeysPerWalk = 20;
// A key is one of the five front keys this often, else one of the keypad's letters A..S.
const char* const kFrontKeys[] = {"Left", "Right", "OK", "Back", "Mode"};
constexpr int kFrontKeyPercent = 80;
constexpr char kLastLetter = 'S';
// Gaps after a key: most shorter than a page takes to settle; the rest up to past a tip's 3 s,
// spread evenly on a log scale so that the walks stay short.
constexpr int kShortGapPercent = 85;
constexpr int kShortGapMs = 100, kLongGapMs = 3500;

struct Step {
    std::string key;
    int gap_ms;
};

std::vector<Step> walkSteps(uint32_t seed) {
    std::mt19937 rng(seed);
    auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::vector<Step> steps;
    for (int i = 0; i < kKeysPerWalk; ++i) {
        Step s;
        s.key = below(100) < kFrontKeyPercent
                    ? kFrontKeys[below(int(std::size(kFrontKeys)))]
                    : std::string(1, char('A' + below(kLastLetter - 'A' + 1)));
        if (below(100) < kShortGapPercent) {
            s.gap_ms = below(kShortGapMs);
        } else {
            const double span = std::log(double(kLongGapMs) / kShortGapMs);
            s.gap_ms = int(kShortGapMs * std::exp(span * std::generate_canonical<double, 32>(rng)));
        }
        steps.push_back(s);
    }
    return steps;
}

// How a page is reached from the page it opens from: control-channel commands. The main menu
// keeps its focus between visits, so its buttons are touched; the source page opens on the
// selected window's tab, so Left then OK is tried (and Back, which returns to the tabs one
// further left) until the EDID page shows. Every other page opens with its focus on its first
// item. The aging page asks for its code on the number keypad (the right half of the panel).
struct Route {
    int to;
    int from;
    std::vector<const char*> commands;
    const char* retry;  // sent before the commands are tried again; null: tried once
};
const Route kRoutes[] = {
    {kPageMain, kPageHome, {"key OK"}, nullptr},
    {kPageMachineState, kPageMain, {"touch 103 87"}, nullptr},
    {kPageInputChoose, kPageMain, {"touch 218 87"}, nullptr},
    {kPageCustomMode, kPageMain, {"touch 103 172"}, nullptr},
    {kPageOption, kPageMain, {"touch 218 172"}, nullptr},
    {kPageOutputSet, kPageOption, {"key OK"}, nullptr},
    {kPageInputCut, kPageOption, {"key Right", "key OK"}, nullptr},
    {kPageEdidSet, kPageInputChoose, {"key Left", "key OK"}, "key Back"},
    {kPageImageLayout, kPageOption, {"key Right", "key Right", "key OK"}, nullptr},
    {kPageLinkOption, kPageOption, {"key Right", "key Right", "key Right", "key OK"}, nullptr},
    {kPageImageQuality,
     kPageOption,
     {"key Right", "key Right", "key Right", "key Right", "key OK"},
     nullptr},
    {kPageAdvancedOption, kPageOption, {"key Left", "key OK"}, nullptr},
    {kPageLedSet, kPageOutputSet, {"key OK"}, nullptr},
    {kPageNetSet, kPageOutputSet, {"key Right", "key OK"}, nullptr},
    {kPageLcdShow, kPageAdvancedOption, {"key OK"}, nullptr},
    {kPageTestChart,
     kPageOption,
     {"key Right", "key Right", "key Right", "key Right", "key Right", "key OK"},
     nullptr},
    {kPageOtherSetup, kPageAdvancedOption, {"key Right", "key OK"}, nullptr},
    {kPageFactory, kPageAdvancedOption, {"key Right", "key Right", "key Right", "key OK"}, nullptr},
    {kPageQuality, kPageImageQuality, {"key OK"}, nullptr},
    {kPageTemperature, kPageImageQuality, {"key Right", "key OK"}, nullptr},
    {kPageLinkCom, kPageLinkOption, {"key OK"}, nullptr},
    {kPageLinkWlan, kPageLinkOption, {"key Right", "key OK"}, nullptr},
    {kPageFactoryAge,
     kPageAdvancedOption,
     {"key Left", "key OK", "touch 290 145", "touch 240 105", "touch 290 105", "touch 290 145",
      "touch 277 220"},  // 9 5 6 9, OK
     nullptr},
    {kPageSmartMapping, kPageOption, {"key Left", "key Left", "key OK"}, nullptr},
    {kPageRcvRecovery, kPageAdvancedOption, {"key Right", "key Right", "key OK"}, nullptr},
    {kPageFirmwareUsbGrade, kPageLinkOption, {"key Right", "key Right", "key OK"}, nullptr},
};
constexpr int kRouteTries = 8;
constexpr int kOpenTries = 3;  // whole routes from the home screen

const Route* routeTo(int page) {
    for (const Route& r : kRoutes)
        if (r.to == page) return &r;
    return nullptr;
}

// What a run of walks did, and how each that failed did.
struct Tally {
    int walks = 0;
    int keys = 0;
    std::set<int> pages;  // named in front after a long gap or at the end of a walk
    std::chrono::duration<double> walking{0};  // from the first key to the last check
    std::vector<std::string> failures;

    std::string summary() const {
        std::string out = std::to_string(walks) + " walks, " + std::to_string(keys) +
                          " keys, pages reached " + std::to_string(pages.size()) + " of " +
                          std::to_string(kPageCount) + ":";
        for (int p : pages) out += " " + std::to_string(p);
        return out + ", " + std::to_string(failures.size()) + " failed; " +
               std::to_string(int(walking.count())) + " s of keys";
    }
};

class KeyWalk : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        prepareBox();
    }
    void TearDown() override {
        if (tally_.walks) {
            std::cout << "key walks: " << tally_.summary() << std::endl;
            // A build that measures lock holds (-DZEM_LOCK_HOLDS=ON) says the longest.
            const std::string status = ctl("status");
            const size_t hold = status.find("c331 mutex: ");
            if (hold != std::string::npos)
                std::cout << "key walks' " << status.substr(hold, status.find('\n', hold) - hold)
                          << std::endl;
        }
        Program::TearDown();
    }

    // Cards (one needing recovery, so that the recovery page has work), a USB disk with an
    // upgrade package and a scan file, and a signal on HDMI2.
    void prepareBox() {
        ASSERT_TRUE(fpgaReady()) << console();
        using namespace usb_package;
        const std::vector<CardOp> plain = {{1, 1, 0x10, {1, 2, 3}}};
        const std::vector<CardOp> restore = {{1, 1, 0x200, {0xDE, 0xAD}}, {2, 0, 0, {}}};
        write("/data/rcvrecovery/QZFX",
              packedFile({{0x2222, {}, {{14, {plain, restore, plain, plain}}}}}));
        ASSERT_EQ(ctl("card 15 2 needs-recovery"), "ok\n");
        write("/sim/walk-disk/ZEM-T73/walk.ZEM",
              package({{kFpga1, firmware(bytes(9000, 6))}, {kProgram, bytes(2000, 5)}}));
        write("/sim/walk-disk/walk.qzfile", scanFile({{1, 1, 0x100, {1, 2, 3}}}));
        ASSERT_EQ(ctl("input HDMI2 1280x720@50"), "ok\n");
        // The USB watcher listens once the panel has run for 10 s.
        ASSERT_TRUE(ctlOk("usb plug /sim/walk-disk"));
        ASSERT_TRUE(usbMounted());
    }
    void write(const std::string& file, const usb_package::Bytes& b) const {
        writeBytes(root_ + file, b);
    }

    // The page status names in front, or why it names none.
    struct Front {
        int page = -1;
        std::string fault;
    };
    Front front() const {
        const std::string status = ctl("status");
        if (status.empty()) return {-1, "no answer to status"};
        std::istringstream in(status);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);)
            if (l.rfind("page: ", 0) == 0) lines.push_back(l);
        if (lines.size() != 1) return {-1, std::to_string(lines.size()) + " page lines in status"};
        std::istringstream line(lines[0].substr(6));
        int id = -1;
        std::string name, rest;
        line >> id >> name;
        if (!page_table::row(id) || name != page_table::className(id) || (line >> rest))
            return {-1, "status names no page: " + lines[0]};
        return {id, ""};
    }
    bool frontIs(int page, milliseconds limit) const {
        const auto end = Clock::now() + limit;
        for (;;) {  // bounded: by limit
            if (front().page == page) return true;
            if (Clock::now() >= end) return false;
            std::this_thread::sleep_for(milliseconds(20));  // unscaled: a pause
        }
    }

    // Back until the home screen shows (a tip drops keys for 3 s, a job may hold its page).
    bool goHome() const {
        const auto end = Clock::now() + hangBound(seconds(60));
        while (Clock::now() < end) {
            const Front f = front();
            if (f.page == kPageHome) return true;
            if (f.page < 0) return false;
            ctl("key Back");
            std::this_thread::sleep_for(milliseconds(100));  // unscaled: a pause
        }
        return false;
    }

    // From the home screen to page; "" once it is in front, else what went wrong.
    std::string open(int page) const {
        if (page == kPageHome) return "";
        const Route* r = routeTo(page);
        if (!r) return "no route to page " + std::to_string(page);
        const std::string to_parent = open(r->from);
        if (!to_parent.empty()) return to_parent;
        for (int t = 0; t < (r->retry ? kRouteTries : 1); ++t) {
            if (t > 0 && ctl(r->retry) != "ok\n") return std::string("no answer to ") + r->retry;
            for (const char* c : r->commands) {
                if (ctl(c) != "ok\n") return std::string("no answer to ") + c;
                front();  // the panel has taken the command before the next
            }
            if (frontIs(page, milliseconds(r->retry ? 500 : 5000))) return "";
        }
        return "page " + std::to_string(page) + " did not open from page " +
               std::to_string(r->from) + " (front: " + std::to_string(front().page) + ")";
    }

    // A tip drops keys until it closes: a route whose keys it took in part is taken again.
    std::string openFromHome(int page) {
        std::string failure;
        for (int t = 0; t < kOpenTries; ++t) {
            if (!goHome()) return "the home screen did not show before the walk";
            failure = open(page);
            if (failure.empty() || !running()) break;
        }
        return failure;
    }

    // One walk from the home screen through page start; "" when the box came through it.
    std::string walk(uint32_t seed, int start) {
        const std::string where =
            "seed " + std::to_string(seed) + " from page " + std::to_string(start) + ": ";
        ++tally_.walks;
        const std::string opened = openFromHome(start);
        // A box that died here may have died of the last walk: a tip's loop ends 3 s on.
        if (!opened.empty())
            return where + (running() ? "" : "the box died on the route to the page: ") + opened;
        const auto began = Clock::now();
        const std::string failure = pressKeys(walkSteps(seed));
        tally_.walking += Clock::now() - began;
        if (!failure.empty()) return where + failure;
        // Back home belongs to the walk: what the keys left open closes now.
        if (!goHome())
            return where + (running() ? "the home screen did not come back after the walk"
                                      : "the box died on Back to the home screen");
        return "";
    }

    // The keys of a walk; "" when the box came through them.
    std::string pressKeys(const std::vector<Step>& steps) {
        std::string done;
        for (const Step& s : steps) {
            done += " " + s.key + "+" + std::to_string(s.gap_ms) + "ms";
            const std::string answer = ctl("key " + s.key);
            ++tally_.keys;
            if (answer.empty() || answer.find("did not answer") != std::string::npos)
                return (running() ? "the panel did not answer" : "the box died") +
                       std::string(" after keys") + done + "\n" + answer;
            // unscaled: the walk's gap between keys, part of what it tries.
            std::this_thread::sleep_for(milliseconds(s.gap_ms));
            if (s.gap_ms < kShortGapMs) continue;
            const int page = front().page;
            if (page >= 0) tally_.pages.insert(page);
        }
        const Front f = front();
        if (!running()) return "the box died after keys" + done;
        if (f.page < 0) return f.fault + " after keys" + done;
        tally_.pages.insert(f.page);
        return "";
    }

    void record(const std::string& failure) {
        if (failure.empty()) return;
        tally_.failures.push_back(failure);
        std::cout << "key walk FAILED: " << failure << std::endl;
    }

    Tally tally_;
};

// The pages of one box, with the seed of each page's walk.
struct WalkGroup {
    int first;
    std::vector<uint32_t> seeds;  // the walks from pages first, first + 1, ...
};
void PrintTo(const WalkGroup& g, std::ostream* os) {
    *os << "pages from " << g.first;
}
const WalkGroup kGroups[] = {
    {0, {1101, 1102, 1103, 1104, 1105, 1106, 1107, 1108, 1109}},
    {9, {1110, 1111, 1112, 1113, 1114, 1115, 1116, 1117, 1118}},
    {18, {1119, 1120, 1121, 1122, 1123, 1124, 1125, 1126, 1127}},
};

// The walks with fixed seeds run in the AddressSanitizer build, where a key that reaches freed
// memory is caught where it does; in the other builds they would only add to the run time.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

class KeyWalks : public KeyWalk, public ::testing::WithParamInterface<WalkGroup> {
protected:
    void SetUp() override {
        if (!kAddressSanitizer) GTEST_SKIP() << "the key walks run in the AddressSanitizer build";
        KeyWalk::SetUp();
    }
};

TEST_P(KeyWalks, FromEachPageLeaveTheBoxAliveAndNamingThePageInFront) {
    const WalkGroup& g = GetParam();
    for (size_t i = 0; i < g.seeds.size(); ++i) {
        const int start = g.first + int(i);
        record(walk(g.seeds[i], start));
        ASSERT_TRUE(running()) << "seed " << g.seeds[i] << " from page " << start;
    }
    EXPECT_EQ(tally_.failures.size(), 0u);
    EXPECT_EQ(tally_.walks, int(g.seeds.size()));
}

INSTANTIATE_TEST_SUITE_P(Pages, KeyWalks, ::testing::ValuesIn(kGroups),
                         [](const ::testing::TestParamInfo<WalkGroup>& info) {
                             const int last = info.param.first + int(info.param.seeds.size()) - 1;
                             return std::to_string(info.param.first) + "To" + std::to_string(last);
                         });

// Each walk starts on page seed % 27. After a failure the walks go on on a new box; the seeds
// walked on the old one since it started are printed, for ZEM_KEY_WALK_SEEDS to replay.
TEST_F(KeyWalk, DISABLED_RandomSeedsForAsLongAsGiven) {
    const char* given = std::getenv("ZEM_KEY_WALK_SEEDS");
    const char* secs = std::getenv("ZEM_KEY_WALK_SECONDS");
    std::istringstream replay(given ? given : "");
    const auto end = Clock::now() + seconds(secs ? std::atoi(secs) : 60);
    std::random_device entropy;
    std::string box_seeds;
    for (;;) {  // bounded: by the seeds given or the walk's time
        uint32_t seed = 0;
        if (given) {
            if (!(replay >> seed)) break;
        } else {
            if (Clock::now() >= end) break;
            seed = entropy();
        }
        box_seeds += " " + std::to_string(seed);
        const std::string failure = walk(seed, int(seed % kPageCount));
        if (failure.empty()) continue;
        record(failure + "\n  seeds walked on this box:" + box_seeds);
        box_seeds.clear();
        // A new box on a new root: a box switched off with the disk mounted keeps the mount
        // point, where no disk mounts after.
        Program::TearDown();
        SetUp();
        if (HasFatalFailure()) break;
    }
    EXPECT_EQ(tally_.failures.size(), 0u);
}

}  // namespace
