// The store held to its reference model (store_model.h): random sequences of PC writes,
// applies, refused LED sizes, save requests, recalls, slot writes and deletes,
// synchronisations, the panel's save and delete, the saver's file jobs (run when the sequence
// says) and clean stops with their restarts, driven through the real handlers; after every
// step the RAM, the slots, the saver's line and the files must be what the model says.
#include "store_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm_fixture.h"
#include "core/file_io.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "time_factor.h"

namespace {

enum Kind {
    kRamWord,      // a picture word (brightness, contrast)
    kLedWidth,     // RAM 1378: 1920, 2560, or 9000 (refused in copy splice)
    kApply,        // register 11
    kSaveRequest,  // RAM 868 (1..16, sometimes 0 or 17), then register 11
    kRecall,       // RAM 866, then register 11 bit 1
    kSlotWrite,    // a whole slot marked saved
    kSlotDelete,   // FF FF into a slot's markers
    kSync,         // register 11 bit 2
    kPanelSave,
    kPanelDelete,
    kFileJob,  // the saver carries out its next job
    kStop,     // SIGTERM's work, then a start
    kKinds
};
const char* const kKindNames[kKinds] = {"ram",        "led",          "apply",       "save",
                                        "recall",     "slot",         "slot-delete", "sync",
                                        "panel-save", "panel-delete", "file-job",    "stop"};

const int kWidths[3] = {1920, 2560, 9000};

struct Step {
    Kind kind;
    int a;  // the step's number: a value, a mode
};

uint8_t replyStatus(const Bytes& reply) {
    return reply.size() > 10 ? reply[10] : 0xEE;
}

std::string describe(const std::vector<Step>& steps) {
    std::ostringstream out;
    for (const Step& s : steps) out << kKindNames[s.kind] << '(' << s.a << ") ";
    return out.str();
}

// At least 40 steps, every kind among them; file jobs and stops as often as a PC's flood and a
// person's stop make them.
std::vector<Step> sequence(uint32_t seed) {
    std::mt19937 rng(seed);
    const auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    std::vector<Kind> kinds;
    for (int k = 0; k < kKinds; ++k) kinds.push_back(Kind(k));
    while (kinds.size() < 48) {
        const int r = pick(40);
        kinds.push_back(r < 12 ? kFileJob : r < 13 ? kStop : Kind(r % kFileJob));
    }
    std::shuffle(kinds.begin(), kinds.end(), rng);
    std::vector<Step> steps;
    for (Kind k : kinds) {
        int a = 0;
        switch (k) {
            case kRamWord:
                a = pick(101);
                break;
            case kLedWidth:
                a = kWidths[pick(3)];
                break;
            case kSaveRequest:
                a = pick(10) == 0 ? (pick(2) ? 0 : 17) : 1 + pick(4);
                break;
            case kRecall:
            case kSlotWrite:
            case kSlotDelete:
            case kPanelSave:
            case kPanelDelete:
                a = 1 + pick(4);  // few modes, so that requests meet on one
                break;
            default:
                break;
        }
        steps.push_back({k, a});
    }
    return steps;
}

class StoreModelTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        file_io::hooks().durable = false;
        comm_hooks::get().fpgas_running = [] { return false; };
    }
    void TearDown() override {
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
        store()->reload();
        store()->saver.hold(true);
        store()->saver.start();
        model = StoreModel();
        model.start(boxRam(), boxSlots(), fileImage());
    }
    StoreModel::Ram boxRam() const {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        StoreModel::Ram r;
        std::memcpy(r.data(), store()->ram, r.size());
        return r;
    }
    std::array<StoreModel::Slot, 16> boxSlots() const {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        std::array<StoreModel::Slot, 16> s;
        for (int m = 0; m < 16; ++m) std::memcpy(s[m].data(), store()->mode_ram[m], s[m].size());
        return s;
    }
    // The parameter file's RAM image (768..4095).
    StoreModel::Ram fileImage() const {
        StoreModel::Ram r{};
        const std::string f = readFile("/data/ram_device_info");
        if (f.size() >= 2 + 3328) std::memcpy(r.data() + 768, f.data() + 2, 3328);
        return r;
    }

    void pcWrite(uint32_t addr, const Bytes& bytes) {
        EXPECT_EQ(replyStatus(handle(writeRam(addr, bytes))), 0);
        if (addr < 4096)
            model.pcWriteRam(int(addr), bytes.data(), int(bytes.size()));
        else
            model.pcWriteSlot(int(addr >> 12), bytes.data(), int(bytes.size()));
    }
    void register11(uint8_t value) {
        EXPECT_EQ(replyStatus(handle(writeReg(11, 0xFF, {value}))), model.register11(value));
        std::vector<int> ids;
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            while (uint8_t id = c331_manage::take_apply()) ids.push_back(id);
        }
        for (int id : ids) {
            SyncUpdate::pInstance()->para_sync(id);
            model.refresh(id);
        }
    }

    void run(const Step& s) {
        switch (s.kind) {
            case kRamWord:
                pcWrite(s.a % 2 ? 2176 : 2178, le16(uint16_t(s.a)));
                return;
            case kLedWidth:
                pcWrite(1378, le16(uint16_t(s.a)));
                return;
            case kApply:
                register11(0);
                return;
            case kSaveRequest:
                pcWrite(868, le16(uint16_t(s.a)));
                register11(0);
                return;
            case kRecall:
                pcWrite(866, le16(uint16_t(s.a)));
                register11(0x02);
                return;
            case kSlotWrite: {
                Bytes slot(StoreModel::kSlotSize, 0);
                slot[0] = slot[1] = 0xAA;
                slot[2 + 2176 - 896] = uint8_t(s.a * 10);
                pcWrite(uint32_t(s.a) << 12, slot);
                return;
            }
            case kSlotDelete:
                pcWrite(uint32_t(s.a) << 12, {0xFF, 0xFF});
                return;
            case kSync:
                register11(0x04);
                return;
            case kPanelSave:
                // As the main menu's SAVE: the request, the apply it raises, its refresh.
                {
                    zem::MutexLocker lock(c331_manage::c331_mutex);
                    store()->user_wr16(ZemRamPara::kRamModeSaveRequest, uint16_t(s.a));
                }
                SyncUpdate::pInstance()->para_sync(1);
                model.panelSave(s.a);
                return;
            case kPanelDelete:
                store()->delete_mode_from_panel(s.a - 1);
                model.panelDelete(s.a - 1);
                return;
            case kFileJob:
                EXPECT_EQ(store()->saver.step(), model.runJob());
                return;
            case kStop:
                store()->take_last_requests();
                store()->saver.hold(false);
                EXPECT_EQ(store()->saver.finish(hangBound(std::chrono::seconds(20))), 0);
                store()->reload();
                store()->saver.hold(true);
                store()->saver.start();
                model.stopAndRestart();
                return;
            case kKinds:
                return;
        }
    }

    // Where the box differs from the model, or empty.
    std::string difference() const {
        const StoreModel::Ram r = boxRam();
        for (int a = 768; a < 4096; ++a)
            if (r[a] != model.ram[a])
                return "RAM " + std::to_string(a) + ": " + std::to_string(r[a]) + ", model " +
                       std::to_string(model.ram[a]);
        const auto box = boxSlots();
        for (int m = 0; m < 16; ++m)
            if (box[m] != model.modeSlots[m]) return "slot of mode " + std::to_string(m + 1);
        if (store()->saver.waiting() != model.jobsWaiting())
            return "file jobs waiting: " + std::to_string(store()->saver.waiting()) + ", model " +
                   std::to_string(model.jobsWaiting());
        const StoreModel::Ram file = fileImage();
        if (std::memcmp(file.data() + 768, model.paramFile.data() + 768, 3328) != 0)
            return "the parameter file";
        for (int m = 0; m < 16; ++m) {
            const std::string path = "/data/modes/custom_mode" + std::to_string(m + 1);
            const auto& want = model.modeFiles[m];
            if (!want) {
                if (exists(path)) return path + " exists";
                continue;
            }
            const std::string f = readFile(path);
            if (f.size() != 4096 || std::memcmp(f.data(), want->data(), 4096) != 0)
                return path + " holds other bytes";
        }
        return "";
    }

    // The steps run on a fresh box: the first difference, with the step it followed.
    std::string replay(const std::vector<Step>& steps) {
        startBox();
        for (size_t i = 0; i < steps.size(); ++i) {
            run(steps[i]);
            const std::string d = difference();
            if (!d.empty())
                return "after step " + std::to_string(i + 1) + " " + kKindNames[steps[i].kind] +
                       ": " + d;
        }
        return "";
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
};

// The plain build runs 2000 sequences; the slower builds (a larger time factor) fewer of the
// same seeds. ZEM_MODEL_SEQUENCES=N runs seeds 1..N instead (a longer search by hand).
int sequenceCount() {
    if (const char* n = std::getenv("ZEM_MODEL_SEQUENCES")) return std::max(1, std::atoi(n));
    const char* f = std::getenv("ZEM_TEST_TIME_FACTOR");
    const double factor = f ? std::max(1.0, std::atof(f)) : 1.0;
    return factor <= 2 ? 2000 : int(2000 / factor);
}

TEST_F(StoreModelTest, RandomSequencesKeepWhatTheModelSays) {
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
