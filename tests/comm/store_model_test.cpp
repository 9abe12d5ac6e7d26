// The store held to what docs/protocol.md promises (store_model.h): random sequences of frames
// from three PCs answered in turn, the panel's keys, the main thread's refreshes held back and
// run late (one asked for while another is under way among them), the saver's file jobs run
// when the sequence says, and clean stops from the main thread or another, each followed by a
// start. After every step the box must show nothing the doc rules out; whenever it has carried
// out all it answered, everything the doc promises.
#include "store_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "comm_fixture.h"
#include "core/file_io.h"
#include "core/globals.h"
#include "core/stop_signal.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "time_factor.h"

namespace {

enum Kind {
    kRamWord,      // a picture word (brightness, contrast)
    kLedWidth,     // RAM 1378: 1920, 2560, or 9000 (refused in copy splice)
    kApply,        // register 11
    kSaveRequest,  // RAM 868 (1..4, sometimes 0 or 17), no register 11
    kRecall,       // RAM 866, then register 11 bit 1
    kSlotWrite,    // a whole slot marked saved
    kSlotDelete,   // FF FF into a slot's markers
    kSync,         // register 11 bit 2
    kDocDelete,    // FF FF into a slot's markers, then register 11 value 4
    kZeroWrite,    // a write of no bytes over a watched word or a slot
    kInForce,      // RAM 2110..2179 read, then written back as read
    kPanelSave,
    kPanelDelete,
    kPanelSource,    // the panel gives window 0 another source
    kRefresh,        // the main thread runs the refreshes held back
    kNestedRefresh,  // ... and one of them answers a frame and asks for a refresh meanwhile
    kFileJob,        // the saver carries out its next job
    kFrameInJob,     // ... and a PC's synchronisation is answered between its file and its result
    kSettle,         // everything answered is carried out
    kStop,           // a clean stop's work on the main thread, then a start
    kStopElsewhere,  // ... on another thread, as the signals' thread does it
    kKinds
};
const char* const kKindNames[kKinds] = {
    "ram",          "led",          "apply",         "request",        "recall",   "slot",
    "slot-delete",  "sync",         "doc-delete",    "zero-write",     "in-force", "panel-save",
    "panel-delete", "panel-source", "refresh",       "nested-refresh", "file-job", "frame-in-job",
    "settle",       "stop",         "stop-elsewhere"};

constexpr int kClients = 3;
const int kWidths[3] = {1920, 2560, 9000};
const int kZeroWriteAddrs[5] = {867, 868, 869, 2117, 2177};

struct Step {
    Kind kind;
    int client;
    int a;  // the step's number: a value, a mode
};

std::string describe(const std::vector<Step>& steps) {
    std::ostringstream out;
    for (const Step& s : steps)
        out << kKindNames[s.kind] << '('
            << (s.client >= 0 ? "pc" + std::to_string(s.client) + "," : "") << s.a << ") ";
    return out.str();
}

bool byPc(Kind k) {
    return k <= kInForce;
}

// At least 48 steps, every kind among them; file jobs, refreshes and stops as often as a PC's
// flood, a busy main thread and a person's stop make them.
std::vector<Step> sequence(uint32_t seed) {
    std::mt19937 rng(seed);
    const auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    std::vector<Kind> kinds;
    for (int k = 0; k < kKinds; ++k) kinds.push_back(Kind(k));
    while (kinds.size() < 48) {
        const int r = pick(48);
        kinds.push_back(r < 7    ? kFileJob
                        : r < 9  ? kFrameInJob
                        : r < 12 ? kRefresh
                        : r < 13 ? kStop
                                 : Kind(r % kRefresh));
    }
    std::shuffle(kinds.begin(), kinds.end(), rng);
    std::vector<Step> steps;
    for (Kind k : kinds) {
        Step s{k, byPc(k) || k == kNestedRefresh || k == kFrameInJob ? pick(kClients) : -1, 0};
        switch (k) {
            case kRamWord:
                s.a = pick(101);
                break;
            case kLedWidth:
                s.a = kWidths[pick(3)];
                break;
            case kSaveRequest:
                s.a = pick(12) == 0 ? (pick(2) ? 0 : 17) : 1 + pick(4);
                break;
            case kZeroWrite:
                s.a = pick(6);  // an address of kZeroWriteAddrs, or 5: slot 1
                break;
            case kPanelSource:
                s.a = pick(6);
                break;
            case kRecall:
            case kSlotWrite:
            case kSlotDelete:
            case kDocDelete:
            case kPanelSave:
            case kPanelDelete:
            case kNestedRefresh:
            case kFrameInJob:
                s.a = 1 + pick(4);  // few modes, so that requests meet on one
                break;
            default:
                break;
        }
        steps.push_back(s);
    }
    return steps;
}

// A page in front whose refresh answers one PC frame and asks for another refresh, as a PC's
// write lands while the main thread draws.
struct InterruptingPage : SyncPage {
    std::function<void()> during;
    void refreshPage(int) override {
        if (!during) return;
        const auto once = std::move(during);
        during = nullptr;
        once();
    }
};
InterruptingPage g_interrupting;

class StoreModelTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        file_io::hooks().durable = false;
        comm_hooks::get().fpgas_running = [] { return false; };
        SyncUpdate::setPage(g_page_focus, [] { return static_cast<SyncPage*>(&g_interrupting); });
        for (int c = 0; c < kClients; ++c)
            clients_[c] = std::make_unique<link_session>(LinkKind::Tcp, "pc" + std::to_string(c));
    }
    void TearDown() override {
        SyncUpdate::setPage(g_page_focus, nullptr);
        store()->saver.stop();
        store()->saver.hold(false);
        file_io::hooks().durable = true;
        comm_hooks::get() = comm_hooks();
        CommTest::TearDown();
    }

    // A fresh box: no files but the defaults, the store loaded, its saver held.
    void startBox() {
        store()->saver.stop();
        std::filesystem::remove_all(local("/data"));
        restart();
        model.start(view());
    }
    void restart() {
        store()->reload();
        store()->saver.hold(true);
        store()->saver.start();
        // What the box before asked for is not this box's.
        holdRefreshes();
        held_.clear();
    }

    StoreModel::View view() const {
        StoreModel::View v;
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            std::memcpy(v.ram.data(), store()->ram, v.ram.size());
            for (int m = 0; m < 16; ++m)
                std::memcpy(v.modeSlots[m].data(), store()->mode_ram[m], v.modeSlots[m].size());
        }
        const std::string f = readFile("/data/ram_device_info");
        if (f.size() >= 2 + 3328) std::memcpy(v.paramFile.data() + 768, f.data() + 2, 3328);
        for (int m = 0; m < 16; ++m) {
            const std::string path = "/data/modes/custom_mode" + std::to_string(m + 1);
            if (!exists(path)) continue;
            const std::string bytes = readFile(path);
            StoreModel::File file{};
            std::memcpy(file.data(), bytes.data(), std::min(bytes.size(), file.size()));
            v.files[m] = file;
        }
        return v;
    }

    uint16_t mode() const {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return store()->rd16(ZemRamPara::kRamCurrentMode);
    }
    Bytes ask(int client, const Bytes& b) { return askSession(*clients_[client], b); }

    void pcWrite(int client, uint32_t addr, const Bytes& bytes) {
        EXPECT_EQ(status(ask(client, writeRam(addr, bytes))), 0);
        if (addr < 4096)
            model.pcWriteRam(client, int(addr), bytes.data(), int(bytes.size()));
        else
            model.pcWriteSlot(client, int(addr >> 12), bytes.data(), int(bytes.size()));
    }
    // The refreshes the applies raise wait for the main thread.
    void holdRefreshes() {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        while (uint8_t id = c331_manage::take_apply()) held_.push_back(id);
    }
    void runRefreshes() {
        while (!held_.empty()) {
            const int id = held_.front();
            held_.pop_front();
            SyncUpdate::pInstance()->para_sync(id);
            holdRefreshes();
        }
    }
    // Every save takes a RAM of its own (RAM 2118, a word nothing reads, counts them): whether
    // the box has carried one out is then seen in its file.
    void markNextSave(int client) { pcWrite(client, 2118, le16(++saves_)); }
    void register11(int client, uint8_t value) {
        // The requests it takes get a RAM of their own too.
        if (model.waitsForRegister11(client)) markNextSave(client);
        EXPECT_EQ(status(ask(client, writeReg(11, 0xFF, {value}))),
                  model.register11(client, value));
        holdRefreshes();
    }
    void recall(int client, int n) {
        pcWrite(client, 866, le16(uint16_t(n)));
        if (!model.recallOpen(n)) {
            register11(client, 0x02);
            return;
        }
        // Whether the save under way has reached the slot is the box's business.
        const uint8_t answer = status(ask(client, writeReg(11, 0xFF, {0x02})));
        holdRefreshes();
        stepFailure_ = model.recallTook(client, n, answer == 0, view().ram);
    }

    // The stop's own work, on this thread or another, as the main thread or the signals' one
    // does it; a frame after it is refused and changes nothing. Then a start.
    void stop(bool elsewhere) {
        store()->saver.hold(false);
        if (elsewhere)
            std::thread(stop_signal::runStopWork).join();
        else
            stop_signal::runStopWork();
        // Refused from the stop on: a frame answered 0 now would be lost.
        if (const uint8_t answer = status(ask(0, writeRam(2118, le16(0xFFFF)))); answer != 2)
            stepFailure_ = "a frame after the stop answered " + std::to_string(answer);
        stop_signal::resetAfterStopWork();
        restart();
        model.stopAndRestart(view().files);
    }

    void settle() {
        for (int round = 0; round < 4; ++round) {
            runRefreshes();
            while (store()->saver.step()) holdRefreshes();
            // A refresh after the last write-back posts the parameter file.
            SyncUpdate::pInstance()->para_sync(1);
            holdRefreshes();
        }
        while (store()->saver.step()) holdRefreshes();
    }

    void runPc(const Step& s) {
        const int c = s.client;
        switch (s.kind) {
            case kRamWord:
                return pcWrite(c, s.a % 2 ? 2176 : 2178, le16(uint16_t(s.a)));
            case kLedWidth:
                return pcWrite(c, 1378, le16(uint16_t(s.a)));
            case kApply:
                return register11(c, 0);
            case kSaveRequest:
                markNextSave(c);
                return pcWrite(c, 868, le16(uint16_t(s.a)));
            case kRecall:
                return recall(c, s.a);
            case kSlotWrite: {
                Bytes slot(StoreModel::kSlotSize, 0);
                slot[0] = slot[1] = 0xAA;
                slot[2 + 2176 - 896] = uint8_t(s.a * 10 + c);
                return pcWrite(c, uint32_t(s.a) << 12, slot);
            }
            case kSlotDelete:
                return pcWrite(c, uint32_t(s.a) << 12, {0xFF, 0xFF});
            case kSync:
                return register11(c, 0x04);
            case kDocDelete:
                pcWrite(c, uint32_t(s.a) << 12, {0xFF, 0xFF});
                return register11(c, 0x04);
            case kZeroWrite:
                return pcWrite(c, s.a < 5 ? uint32_t(kZeroWriteAddrs[s.a]) : 1u << 12, {});
            case kInForce: {
                const Bytes reply = ask(c, readRam(2110, 70));
                ASSERT_EQ(status(reply), 0);
                return pcWrite(c, 2110, Bytes(reply.begin() + 11, reply.end()));
            }
            default:
                return;
        }
    }

    void run(const Step& s) {
        if (byPc(s.kind)) return runPc(s);
        switch (s.kind) {
            case kPanelSave:
                markNextSave(0);
                store()->save_mode_from_panel(s.a - 1);
                holdRefreshes();
                model.panelSave(s.a);
                return;
            case kPanelDelete:
                store()->delete_mode_from_panel(s.a - 1);
                model.panelDelete(s.a - 1);
                return;
            case kPanelSource: {
                const uint16_t before = mode();
                store()->ZemSetImageSource(0, s.a, 0);
                holdRefreshes();
                stepFailure_ = model.panelSource(0, uint16_t(s.a), before, mode());
                return;
            }
            case kRefresh:
                return runRefreshes();
            case kNestedRefresh:
                g_interrupting.during = [this, s] {
                    markNextSave(s.client);
                    pcWrite(s.client, 868, le16(uint16_t(s.a)));
                    register11(s.client, 0);
                    SyncUpdate::pInstance()->raise(1);
                };
                held_.push_back(1);
                runRefreshes();
                g_interrupting.during = nullptr;
                return;
            case kFileJob:
                store()->saver.step();
                holdRefreshes();
                return;
            case kFrameInJob:
                // On the saver's thread, while the test's waits in step().
                store()->hooks.during_slot_file_work = [this, s, once = true](int) mutable {
                    if (!std::exchange(once, false)) return;
                    if (s.a % 2 == 0) runPc({kSlotWrite, s.client, s.a});
                    register11(s.client, 0x04);
                };
                store()->saver.step();
                store()->hooks.during_slot_file_work = nullptr;
                holdRefreshes();
                return;
            case kSettle:
                return settle();
            case kStop:
            case kStopElsewhere:
                return stop(s.kind == kStopElsewhere);
            default:
                return;
        }
    }

    // The steps run on a fresh box, then everything carried out: the first broken promise, with
    // the step it followed.
    std::string replay(const std::vector<Step>& steps) {
        startBox();
        saves_ = 0;
        for (size_t i = 0; i < steps.size(); ++i) {
            stepFailure_.clear();
            run(steps[i]);
            std::string d = stepFailure_;
            if (d.empty())
                d = steps[i].kind == kSettle || steps[i].kind >= kStop ? model.checkSettled(view())
                                                                       : model.check(view());
            if (!d.empty())
                return "after step " + std::to_string(i + 1) + " " + kKindNames[steps[i].kind] +
                       ": " + d;
        }
        settle();
        const std::string d = model.checkSettled(view());
        return d.empty() ? "" : "once settled: " + d;
    }

    // The failing sequence with every step left out whose absence still fails.
    std::vector<Step> shortest(std::vector<Step> steps) {
        for (size_t i = steps.size(); i-- > 0;) {
            std::vector<Step> fewer;
            for (size_t j = 0; j < steps.size(); ++j)
                if (j != i) fewer.push_back(steps[j]);
            if (!replay(fewer).empty()) steps = fewer;
        }
        return steps;
    }

    StoreModel model;
    std::unique_ptr<link_session> clients_[kClients];
    std::deque<int> held_;  // refresh ids the main thread has not run yet
    std::string stepFailure_;
    uint16_t saves_ = 0;
};

// The plain build runs 2000 sequences; the slower builds (a larger time factor) fewer of the
// same seeds. ZEM_MODEL_SEQUENCES=N runs seeds 1..N instead (a longer search by hand).
int sequenceCount() {
    if (const char* n = std::getenv("ZEM_MODEL_SEQUENCES")) return std::max(1, std::atoi(n));
    const double factor = timeFactor();
    return factor <= 2 ? 2000 : int(2000 / factor);
}

// Steps as describe() prints them ("panel-save(1) nested-refresh(pc2,3)").
std::vector<Step> parse(const std::string& text) {
    std::vector<Step> steps;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        const size_t open = word.find('(');
        const std::string name = word.substr(0, open);
        Step s{kKinds, -1, 0};
        for (int k = 0; k < kKinds; ++k)
            if (name == kKindNames[k]) s.kind = Kind(k);
        if (s.kind == kKinds || open == std::string::npos) continue;
        std::string args = word.substr(open + 1);
        if (args.rfind("pc", 0) == 0) {
            s.client = std::atoi(args.c_str() + 2);
            args = args.substr(args.find(',') + 1);
        }
        s.a = std::atoi(args.c_str());
        steps.push_back(s);
    }
    return steps;
}

TEST_F(StoreModelTest, RandomSequencesKeepWhatTheDocPromises) {
    // ZEM_MODEL_STEPS replays one sequence, a shortest failing one as printed below, say.
    if (const char* text = std::getenv("ZEM_MODEL_STEPS")) {
        EXPECT_EQ(replay(parse(text)), "");
        return;
    }
    const int count = sequenceCount();
    for (uint32_t seed = 1; seed <= uint32_t(count); ++seed) {
        const std::vector<Step> steps = sequence(seed);
        const std::string failure = replay(steps);
        if (failure.empty()) continue;
        const std::vector<Step> few = shortest(steps);
        ADD_FAILURE() << "seed " << seed << ": " << failure
                      << "\nshortest failing sequence: " << describe(few) << "\n(" << replay(few)
                      << ")";
        return;
    }
}

}  // namespace
