// User modes: save on request, the PC's slot writes and synchronisation, delete, the walk
// over saved slots and the load at start, with the exact shell texts.
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "store_fixture.h"

namespace {

class UserModeTest : public StoreTest {
protected:
    bool ran(const std::string& cmd) const {
        const auto c = commands();
        return std::find(c.begin(), c.end(), cmd) != c.end();
    }
    // A saved mode file whose payload carries brightness b.
    std::string modeFile(uint16_t brightness) const {
        std::string f(4096, '\0');
        f[0] = f[1] = char(0xAA);
        const int off = 2 + 2176 - 896;
        f[off] = char(brightness);
        f[off + 1] = char(brightness >> 8);
        return f;
    }
};

TEST_F(UserModeTest, ASaveRequestWritesTheSlotFileAndCopiesTheOsdMenuWhenTheOsdIsOn) {
    writeFile("/data/configs/omenu.json", "{\"osd\":1}");
    ZemRamPara* s = startStore();
    s->wr16_no_gen_bump(2124, 1);  // OSD on
    s->wr16_no_gen_bump(2176, 64);
    saveRequest(3);
    hub().para_sync(1);

    const std::string file = readFile("/data/modes/custom_mode3");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(uint8_t(file[0]), 0xAA);
    EXPECT_EQ(uint8_t(file[1]), 0xAA);
    EXPECT_EQ(0, std::memcmp(file.data() + 2, s->ram.data() + 896, 3200));
    EXPECT_EQ(s->ZemUserModeSaved(2), 1);
    EXPECT_EQ(s->rd16(866), 3) << "the saved mode is the current one";
    EXPECT_EQ(s->rd16(868), 0) << "request cleared";
    EXPECT_TRUE(ran("cp  /data/configs/omenu.json /data/modes/MO03.json"));
    EXPECT_EQ(readFile("/data/modes/MO03.json"), "{\"osd\":1}");
    EXPECT_EQ(fileWord(readFile(kParaFile), 866), 3) << "persisted after the save";
}

TEST_F(UserModeTest, WithTheOsdOffNoMenuCopyIsMadeAndModeTenUsesHexDigits) {
    ZemRamPara* s = startStore();
    saveRequest(10);
    hub().para_sync(1);
    EXPECT_TRUE(exists("/data/modes/custom_mode10"));
    for (const auto& c : commands()) EXPECT_EQ(c.rfind("cp ", 0), std::string::npos) << c;

    s->wr16_no_gen_bump(2124, 1);
    saveRequest(10);  // the same request written again is a new one
    hub().para_sync(1);
    EXPECT_TRUE(ran("cp  /data/configs/omenu.json /data/modes/MO0a.json"));
}

// The Qt debug lines of a save: what a person sees on the terminal.
std::vector<std::string>* g_debugLines = nullptr;
void collectDebugLine(QtMsgType, const QMessageLogContext&, const QString& text) {
    if (g_debugLines) g_debugLines->push_back(text.toStdString());
}

TEST_F(UserModeTest, TheLineOfASaveSaysWhetherTheOsdMenuWasCopied) {
    std::vector<std::string> lines;
    g_debugLines = &lines;
    const QtMessageHandler before = qInstallMessageHandler(collectDebugLine);
    ZemRamPara* s = startStore();
    saveRequest(2);
    s->wr16_no_gen_bump(2124, 1);
    saveRequest(3);
    qInstallMessageHandler(before);
    g_debugLines = nullptr;

    const auto shown = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(shown("user mode 2 saved without a copy of the OSD menu (the OSD is off)"));
    EXPECT_FALSE(shown("cp  /data/configs/omenu.json /data/modes/MO02.json"));
    EXPECT_TRUE(shown("cp  /data/configs/omenu.json /data/modes/MO03.json"));
    EXPECT_TRUE(ran("cp  /data/configs/omenu.json /data/modes/MO03.json"));
}

TEST_F(UserModeTest, RequestsAlreadyHandledOrOutOfRangeDoNothing) {
    ZemRamPara* s = startStore();
    s->wr16_no_gen_bump(868, 4);
    s->shadow[868] = 4;  // as if persisted before being handled
    hub().para_sync(1);
    EXPECT_FALSE(exists("/data/modes/custom_mode4")) << "no register 11 took it";
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        s->take_client_requests(1);
    }
    EXPECT_FALSE(exists("/data/modes/custom_mode4")) << "not written by a PC";

    saveRequest(17);
    EXPECT_EQ(s->rd16(868), 0) << "a request above 16 is cleared";
    EXPECT_FALSE(exists("/data/modes/custom_mode17"));
    for (int m = 0; m < 16; ++m) EXPECT_EQ(s->ZemUserModeSaved(m), 0);
}

// The slot and RAM 866 change when the request is taken; a file that can't be written leaves
// them so, ends the request and is said once on the terminal.
TEST_F(UserModeTest, AFailedModeSaveKeepsTheSlotAsTakenAndIsReported) {
    writeFile("/data/modes/custom_mode2", modeFile(30));
    ZemRamPara* s = startStore();
    ASSERT_EQ(s->ZemUserModeSaved(1), 1);
    std::filesystem::create_directories(local("/data/modes/custom_mode2.new"));

    LogTestHooks::forget();
    testing::internal::CaptureStderr();
    s->wr16_no_gen_bump(2176, 90);
    saveRequest(2);
    EXPECT_EQ(s->mode_ram[1][2 + 2176 - 896], 90) << "the slot as taken";
    EXPECT_EQ(s->ZemUserModeSaved(1), 1);
    EXPECT_EQ(s->rd16(866), 2);
    EXPECT_EQ(s->rd16(868), 0) << "the request has ended";
    EXPECT_EQ(readFile("/data/modes/custom_mode2"), modeFile(30));

    EXPECT_EQ(s->mode_file_write(1, 2), 0);
    EXPECT_EQ(s->ZemUserModeSaved(1), 1) << "the old markers stay";
    EXPECT_EQ(s->mode_file_write(16, 2), 0);
    // On the terminal, once for the two failures in a row.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "user mode 2 save failed: /data/modes/custom_mode2\n");
}

// A save whose file job still waits when a later job for its slot replaces it: the replacing
// job does what the save still owed after its own file work (the OSD copy, then its own OSD
// step; the parameter file's post), and the request ends only once it has run. No refresh runs
// here: the parameter file holds RAM 866 through the save's own post alone.
TEST_F(UserModeTest, ASaveReplacedInItsLineKeepsItsOsdCopyAndItsEnd) {
    struct Row {
        const char* name;
        std::function<void(ZemRamPara&)> replace;
        bool file, copy;  // at the end
    };
    const Row rows[] = {
        {"not replaced", [](ZemRamPara& s) { s.saver.run_waiting(); }, true, true},
        {"by a synchronisation", [](ZemRamPara& s) { s.ZemUserModeSync(); }, true, true},
        {"by the panel's delete", [](ZemRamPara& s) { s.delete_mode_from_panel(2); }, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFile("/data/configs/omenu.json", "{\"osd\":1}");
        std::filesystem::remove_all(local("/data/modes"));
        uint8_t defaults[4096];
        defaultRam(defaults);
        writeFile(kParaFile, paraFile(defaults));  // no mode current, whatever the row before left
        ZemRamPara* s = startStore();
        s->wr16_no_gen_bump(2124, 1);  // OSD on
        shell().clear();
        saveRequest(3, 1, false);
        EXPECT_EQ(s->rd16(868), 3);
        EXPECT_EQ(s->saver.waiting(), 1);
        row.replace(*s);
        EXPECT_EQ(s->saver.waiting(), 0);
        EXPECT_TRUE(ran("cp  /data/configs/omenu.json /data/modes/MO03.json"));
        EXPECT_EQ(exists("/data/modes/custom_mode3"), row.file);
        EXPECT_EQ(exists("/data/modes/MO03.json"), row.copy);
        EXPECT_EQ(s->rd16(868), 0) << "the save has ended with the job that replaced it";
        EXPECT_EQ(fileWord(readFile(kParaFile), 866), 3) << "the parameter file's post was lost";
        drainEvents();
    }
}

TEST_F(UserModeTest, ThePcWritesSlotsAndSynchronisationWritesAndDeletesTheirFiles) {
    writeFile("/data/modes/custom_mode3", modeFile(20));
    writeFile("/data/modes/MO03.json", "{}");
    ZemRamPara* s = startStore();
    ASSERT_EQ(s->ZemUserModeSaved(2), 1);
    s->mode_ram[2][1230] = 1;  // the mode was saved with the OSD on

    const uint8_t del[2] = {0xFF, 0xFF};
    EXPECT_EQ(s->ZemModeUserRamParaDeal(del, 2, 0x3000), 0) << "slot 2, marker byte 0";
    uint8_t saved[4098] = {0xAA, 0xAA};
    saved[2 + 2176 - 896] = 55;
    EXPECT_EQ(s->ZemModeUserRamParaDeal(saved, 4098, 0x5000), 0) << "a whole slot";
    EXPECT_EQ(s->ZemModeUserRamParaDeal(saved, 2, 0x11000), 1);
    EXPECT_EQ(s->ZemModeUserRamParaDeal(saved, 2, 0x0FFF), 1);
    EXPECT_EQ(s->ZemModeUserRamParaDeal(saved, 4, 0x5FFF), 1) << "past the slot end";
    EXPECT_EQ(s->mode_ram[5][0], 0xFF) << "untouched";

    s->wr16_no_gen_bump(868, 7);  // as a request not yet ended
    shell().clear();
    synchronise();
    EXPECT_TRUE(ran("rm  -rf  /data/modes/custom_mode3"));
    EXPECT_TRUE(ran("rm  -rf  /data/modes/MO03.json"));
    EXPECT_FALSE(exists("/data/modes/custom_mode3"));
    EXPECT_FALSE(exists("/data/modes/MO03.json"));
    EXPECT_EQ(s->mode_ram[2][0], 0xFF) << "marked for deletion again";
    EXPECT_EQ(s->rd16(868), 7) << "only a request's own end clears it";
    const std::string five = readFile("/data/modes/custom_mode5");
    ASSERT_EQ(five.size(), 4096u);
    EXPECT_EQ(uint8_t(five[2 + 2176 - 896]), 55);

    shell().clear();
    hub().para_sync(2);
    EXPECT_FALSE(ran("rm  -rf  /data/modes/custom_mode3")) << "only register 11 synchronises";
}

// Either marker byte at 0xFF marks a slot for deletion: the PC may write one byte of them.
TEST_F(UserModeTest, EitherMarkerByteAt0xFFDeletesTheSlotsFile) {
    struct Case {
        const char* name;
        uint8_t marker[2];
    } cases[] = {{"first byte", {0xFF, 0xAA}}, {"second byte", {0xAA, 0xFF}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("/data/modes/custom_mode4", modeFile(20));
        ZemRamPara* s = startStore();
        ASSERT_EQ(s->ZemUserModeSaved(3), 1);
        EXPECT_EQ(s->ZemModeUserRamParaDeal(c.marker, 2, 0x4000), 0);
        synchronise();
        EXPECT_FALSE(exists("/data/modes/custom_mode4"));
        EXPECT_EQ(s->mode_ram[3][0], 0xFF);
    }
}

// Deleting a slot saved with the OSD on deletes its OSD menu copy and clears the slot's OSD
// flag: a copy the PC uploads later under that name is not deleted with the slot again.
TEST_F(UserModeTest, ADeletedSlotsOsdFlagIsClearedWithItsCopy) {
    writeFile("/data/modes/custom_mode3", modeFile(20));
    writeFile("/data/modes/MO03.json", "{}");
    ZemRamPara* s = startStore();
    s->mode_ram[2][1230] = 1;  // saved with the OSD on
    const uint8_t del[2] = {0xFF, 0xFF};
    ASSERT_EQ(s->ZemModeUserRamParaDeal(del, 2, 0x3000), 0);
    synchronise();
    EXPECT_FALSE(exists("/data/modes/MO03.json"));
    EXPECT_EQ(s->mode_ram[2][1230], 0);
    EXPECT_EQ(s->mode_ram[2][1231], 0);

    writeFile("/data/modes/MO03.json", "{\"uploaded\": 1}");
    shell().clear();
    synchronise();  // the slot is still marked for deletion
    EXPECT_FALSE(ran("rm  -rf  /data/modes/MO03.json"));
    EXPECT_EQ(readFile("/data/modes/MO03.json"), "{\"uploaded\": 1}");
}

// Markers come from the file as they are; the synchronisation after start deletes no file that
// only looked odd (short, unmarked, or with the 0xFF marker no save writes).
TEST_F(UserModeTest, StartTakesFilesAsTheyAreAndSynchronisationKeepsThem) {
    writeFile("/data/modes/custom_mode1", modeFile(11));
    writeFile("/data/modes/custom_mode2", modeFile(12).substr(0, 4000));
    std::string unmarked = modeFile(13);
    unmarked[1] = 0;
    writeFile("/data/modes/custom_mode3", unmarked);
    std::string erased = modeFile(14);
    erased[0] = erased[1] = char(0xFF);
    writeFile("/data/modes/custom_mode4", erased);
    ZemRamPara* s = startStore();
    EXPECT_EQ(s->ZemUserModeSaved(0), 1);
    EXPECT_EQ(s->mode_ram[0][2 + 2176 - 896], 11);
    EXPECT_EQ(s->ZemUserModeSaved(1), 1) << "a short file is read as far as it goes";
    EXPECT_EQ(s->mode_ram[1][2 + 2176 - 896], 12);
    EXPECT_EQ(s->mode_ram[2][0], 0xAA);
    EXPECT_EQ(s->mode_ram[2][1], 0);
    EXPECT_EQ(s->ZemUserModeSaved(3), 0);
    for (int m = 4; m < 16; ++m) EXPECT_EQ(s->mode_ram[m][0], 0xFF) << "no file: " << m;

    synchronise();
    EXPECT_EQ(readFile("/data/modes/custom_mode1"), modeFile(11));
    EXPECT_EQ(readFile("/data/modes/custom_mode2").size(), 4096u);
    // One AA marker is enough: the slot is marked saved, and its file written so.
    EXPECT_EQ(s->ZemUserModeSaved(2), 1);
    const std::string three = readFile("/data/modes/custom_mode3");
    EXPECT_EQ(three.substr(0, 2), "\xAA\xAA");
    EXPECT_TRUE(three.substr(2) == modeFile(13).substr(2)) << "the payload as the slot held it";
    EXPECT_EQ(readFile("/data/modes/custom_mode4"), erased);
}

TEST_F(UserModeTest, TheWalkFindsSavedSlotsInEachDirection) {
    ZemRamPara* s = startStore();
    for (int d = 0; d < 3; ++d) EXPECT_EQ(s->ZemUserModeIndex(5, d), 0x100);
    s->mode_ram[2][0] = s->mode_ram[2][1] = 0xAA;
    s->mode_ram[9][0] = s->mode_ram[9][1] = 0xAA;
    EXPECT_EQ(s->ZemUserModeIndex(5, 1), 9);
    EXPECT_EQ(s->ZemUserModeIndex(9, 1), 2);
    EXPECT_EQ(s->ZemUserModeIndex(2, 0), 9);
    EXPECT_EQ(s->ZemUserModeIndex(4, 2), 9);
    EXPECT_EQ(s->ZemUserModeIndex(2, 2), 2);
    EXPECT_EQ(s->ZemUserModeIndex(2, 3), 0x100);
    EXPECT_EQ(s->ZemUserModeIndex(16, 1), 0x100);
    s->mode_ram[2][0] = s->mode_ram[9][0] = 0;
    s->mode_ram[5][0] = s->mode_ram[5][1] = 0xAA;
    EXPECT_EQ(s->ZemUserModeIndex(5, 1), 5);
    EXPECT_EQ(s->ZemUserModeIndex(5, 0), 5);

    s->wr16_no_gen_bump(866, 17);
    EXPECT_EQ(s->ZemGetCurrentModeIndex(), 0);
    s->wr16_no_gen_bump(866, 16);
    EXPECT_EQ(s->ZemGetCurrentModeIndex(), 16);
}

// mode_file_write and mode_file_deal's delete are jobs in the saver's line: with its thread held
// they wait for their job, and once it has run return what they always did.
TEST_F(UserModeTest, TheFileOperationsWaitForTheirJobInTheSaversLine) {
    struct Row {
        const char* name;
        std::function<int(ZemRamPara&)> call;
        bool blocked;    // a folder in the way of the new file
        int result;      // the call's
        int brightness;  // in the file after, -1 none
    };
    const Row rows[] = {
        {"a write", [](ZemRamPara& s) { return s.mode_file_write(1, 2); }, false, 1, 77},
        {"a write that fails", [](ZemRamPara& s) { return s.mode_file_write(1, 0); }, true, 0, 20},
        {"a delete", [](ZemRamPara& s) { return s.mode_file_deal(1, 1); }, false, 0, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFile("/data/modes/custom_mode2", modeFile(20));
        std::filesystem::remove_all(local("/data/modes/custom_mode2.new"));
        if (row.blocked) std::filesystem::create_directories(local("/data/modes/custom_mode2.new"));
        ZemRamPara* s = startStore();
        s->mode_ram[1][2 + 2176 - 896] = 77;
        s->saver.hold(true);
        s->saver.start();
        auto call = std::async(std::launch::async, [&] { return row.call(*s); });
        struct Release {  // a failed assertion still lets the call end
            Saver& saver;
            ~Release() { saver.hold(false); }
        } release{s->saver};
        ASSERT_TRUE(eventually([&] { return s->saver.waiting() == 1; }))
            << "the job never reached the line; waiting: " << s->saver.waiting();
        EXPECT_EQ(call.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
            << "returned while the saver was held";
        EXPECT_EQ(readFile("/data/modes/custom_mode2"), modeFile(20)) << "run past the line";
        ASSERT_TRUE(s->saver.step());
        ASSERT_EQ(call.wait_for(hangBound(std::chrono::seconds(10))), std::future_status::ready);
        EXPECT_EQ(call.get(), row.result);
        if (row.brightness < 0)
            EXPECT_FALSE(exists("/data/modes/custom_mode2"));
        else
            EXPECT_EQ(readFile("/data/modes/custom_mode2"), modeFile(uint16_t(row.brightness)));
        s->saver.stop();
        std::filesystem::remove_all(local("/data/modes/custom_mode2.new"));
    }
}

TEST_F(UserModeTest, DeletingReloadsTheSlotAsMarkedForDeletion) {
    writeFile("/data/modes/custom_mode16", modeFile(1));
    ZemRamPara* s = startStore();
    ASSERT_EQ(s->ZemUserModeSaved(15), 1);
    EXPECT_EQ(s->mode_file_deal(15, 1), 0);
    EXPECT_TRUE(ran("rm  -rf  /data/modes/custom_mode16"));
    EXPECT_FALSE(ran("rm  -rf  /data/modes/MO10.json")) << "mode saved with the OSD off";
    EXPECT_FALSE(exists("/data/modes/custom_mode16"));
    EXPECT_EQ(s->mode_ram[15][0], 0xFF);
    EXPECT_EQ(s->mode_file_deal(16, 0), 0);
}

// A PC write to a slot landing during that slot's file work (a save, a request's save, a
// deletion) is kept: nothing is written over it, and only the next synchronisation files it.
TEST_F(UserModeTest, APcWriteDuringASlotsFileWorkIsKept) {
    const uint8_t deleteMarkers[2] = {0xFF, 0xFF};
    uint8_t savedSlot[4098] = {0xAA, 0xAA};
    savedSlot[2 + 2176 - 896] = 55;
    struct Row {
        const char* name;
        std::function<void(ZemRamPara&)> prepare;
        std::function<void()> start;  // the PC's register 11 that starts the file work
        const uint8_t* pc_write;
        uint16_t pc_length;
        bool file_after_work;  // the file work's own result: nothing filed from the PC's bytes
        bool file_after_next_sync;
        uint16_t current;  // RAM 866: set by a save request's take, by nothing else here
    };
    const Row rows[] = {
        {"the synchronisation's save, then the PC deletes",
         [](ZemRamPara& s) { s.mode_ram[4][0] = s.mode_ram[4][1] = 0xAA; },
         [this] { synchronise(); }, deleteMarkers, 2, true, false, 0},
        {"a save request, then the PC deletes", [](ZemRamPara&) {}, [this] { saveRequest(5); },
         deleteMarkers, 2, true, false, 5},
        {"the synchronisation's deletion, then the PC writes a saved slot",
         [](ZemRamPara& s) { s.mode_ram[4][0] = s.mode_ram[4][1] = 0xFF; },
         [this] { synchronise(); }, savedSlot, 4098, false, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFile("/data/modes/custom_mode5", modeFile(20));
        ZemRamPara* s = startStore();
        row.prepare(*s);
        uint8_t written[4098];
        s->hooks.during_slot_file_work = [&](int m) {
            if (m != 4) return;  // empty slots are deleted again at each synchronisation
            zem::MutexLocker pc(c331_manage::c331_mutex);
            ASSERT_EQ(s->ZemModeUserRamParaDeal(row.pc_write, row.pc_length, 0x5000), 0);
            std::memcpy(written, s->mode_ram[4].data(), sizeof written);
            s->hooks.during_slot_file_work = nullptr;
        };
        row.start();
        ASSERT_FALSE(s->hooks.during_slot_file_work) << "no file work ran";
        EXPECT_EQ(0, std::memcmp(written, s->mode_ram[4].data(), sizeof written)) << "written over";
        EXPECT_EQ(s->rd16(866), row.current);
        EXPECT_EQ(exists("/data/modes/custom_mode5"), row.file_after_work);

        synchronise();
        EXPECT_EQ(exists("/data/modes/custom_mode5"), row.file_after_next_sync);
        if (row.file_after_next_sync) {
            EXPECT_EQ(uint8_t(readFile("/data/modes/custom_mode5")[2 + 2176 - 896]), 55);
        }
    }
}

// A source change on the panel during a save's file work is the user's word on the current
// mode: the file work finishing after it writes nothing back into RAM 866.
TEST_F(UserModeTest, ASourceChangeDuringASaveLeavesTheCurrentModeAsTheUserSetIt) {
    ZemRamPara* s = startStore();
    saveRequest(3, 1, false);
    EXPECT_EQ(s->rd16(866), 3) << "taken at the request";
    s->ram_para_persist();  // 866 in the parameter file: a source change now ends the mode
    s->hooks.during_slot_file_work = [s](int) {
        s->hooks.during_slot_file_work = nullptr;
        s->ZemSetImageSource(0, 1, 0);
    };
    s->saver.run_waiting();
    EXPECT_FALSE(s->hooks.during_slot_file_work) << "the source changed during the save";
    EXPECT_EQ(s->ZemUserModeSaved(2), 1);
    EXPECT_EQ(s->rd16(866), 0);
}

// A PC recall (or slot write) changes two words under the C331 mutex while the main thread's
// save steps run: each step waits for it, so its file holds both words or neither.
TEST_F(UserModeTest, SavesWaitForAChangeInProgressUnderTheC331Mutex) {
    struct Row {
        const char* name;
        std::function<void(ZemRamPara&)> prepare;
        std::function<void(ZemRamPara&)> step;
        const char* file;
        int offset;  // of the first word in the file; the second follows it
        std::function<uint8_t*(ZemRamPara&)> words;
    };
    auto ramAt = [](ZemRamPara& s) { return s.ram.data() + 2176; };
    const Row rows[] = {
        {"parameter save", [](ZemRamPara&) {}, [](ZemRamPara& s) { s.ram_para_persist(); },
         kParaFile, 2 + 2176 - 768, ramAt},
        {"user-mode save",
         [](ZemRamPara& s) {
             const uint8_t request[2] = {3, 0};
             zem::MutexLocker lock(c331_manage::c331_mutex);
             s.ZemRamParaDeal(request, 2, 868, 1);  // recorded for its register 11
         },
         [](ZemRamPara& s) { s.ZemUserModeSaveRequest(); }, "/data/modes/custom_mode3",
         2 + 2176 - 896, ramAt},
        {"user-mode synchronisation",
         [](ZemRamPara& s) { s.mode_ram[4][0] = s.mode_ram[4][1] = 0xAA; },
         [](ZemRamPara& s) { s.ZemUserModeSync(); }, "/data/modes/custom_mode5", 2 + 2176 - 896,
         [](ZemRamPara& s) { return s.mode_ram[4].data() + 2 + 2176 - 896; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ZemRamPara* s = startStore();
        row.prepare(*s);
        uint8_t* words = row.words(*s);
        zem::MutexLocker recall(c331_manage::c331_mutex);
        words[0] = 0x11;  // the first half of the change
        auto step = std::async(std::launch::async, [&] { row.step(*s); });
        // A window: a thread that waits for a mutex shows nowhere a test can see (the lock
        // check proves the lock statically). A busy machine makes it miss a step that does not
        // wait, never fail one that does.
        EXPECT_EQ(step.wait_for(hangBound(std::chrono::milliseconds(100))),
                  std::future_status::timeout);
        words[2] = 0x22;
        recall.unlock();
        step.get();
        const std::string file = readFile(row.file);
        ASSERT_GT(file.size(), size_t(row.offset + 2));
        EXPECT_EQ(uint8_t(file[row.offset]), 0x11);
        EXPECT_EQ(uint8_t(file[row.offset + 2]), 0x22);
    }
}

}  // namespace
