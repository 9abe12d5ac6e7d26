// The parameter store: the 4096-byte parameter RAM with its records (what the refresh hub acted
// on, what the parameter file holds), the 16 user-mode slots, the controller register file and
// the status block, the parameter file "/data/ram_device_info", and the refresh signal to the
// main thread.
#pragma once

#include <QObject>
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "c331/c331_manage.h"
#include "core/saver.h"
#include "core/thread_safety.h"

struct CROP_PARA {
    int para[5];  // id word (bits 0..7 source, 8..14 crop number - 1, bit 15 valid), x, y, w, h
};

extern uint8_t g_cut_source_state[30];  // crop bitmap: 40 bits per source 0..5

// The defaults in the layout of the parameter file: markers 0xAA 0xAA, then byte k is the
// default of RAM 766 + k (k = 2..3329), then zeros.
extern const std::array<uint8_t, 4096> default_para_ramlist;
// The default of the 16-bit word at RAM addr (768..4094).
uint16_t default_ram16(int addr);

class ZemRamPara : public QObject {
    Q_OBJECT

public:
    static constexpr int kRamSize = 4096;
    static constexpr int kModeCount = 16;
    static constexpr int kModeSize = 4098;  // markers 0xAA 0xAA + RAM 896..4095 (+ spare)
    static constexpr int kModeFileSize = 4096;
    static constexpr int kModePayloadStart = 896;
    static constexpr int kModePayloadSize = kRamSize - kModePayloadStart;
    static constexpr int kPersistStart = 768;  // RAM 768..4095 is saved to the file
    static constexpr int kPersistSize = kRamSize - kPersistStart;
    static constexpr int kRegCount = 32;
    static constexpr int kCmdCount = 5;  // written through registers 160, 165, 162, 163, 164
    static constexpr int kStatusSize = 1024;
    static constexpr int kWindowCount = 6;
    static constexpr int kSourceCount = 6;
    static constexpr int kCropCount = 40;
    static constexpr int kLanguageCount = 5;

    // RAM addresses the store itself works with.
    static constexpr int kRamLanguage = 768;
    static constexpr int kRamKeyLock = 772;
    static constexpr int kRamTestPattern = 864;
    static constexpr int kRamCurrentMode = 866;
    static constexpr int kRamModeSaveRequest = 868;
    static constexpr int kRamEdid = 896;       // + 6 * source
    static constexpr int kRamGeometry = 1382;  // the apply's channel geometry, 7 words
    static constexpr int kRamCropTable = 1472;
    static constexpr int kRamCloseLed = 2116;
    static constexpr int kRamBrightness = 2176;
    static constexpr int kRamOsdOn = 2124;
    static constexpr int kRamWindow = 2272;  // + 26 * window
    static constexpr int kWindowStride = 26;
    static constexpr int kWinFlags = 0, kWinSource = 8, kWinOutFlags = 18;
    static constexpr int kRamFade = 2816;

    static constexpr const char* kParaFile = "/data/ram_device_info";

    // Not EXCLUDES: its first call (main's, before the threads) loads the store under its locks.
    static ZemRamPara* pInstance();
    // The saver's thread ends first: its jobs reach the members declared after it.
    ~ZemRamPara() override { saver.stop(); }
    // Forgets everything held and loads the store again from the box selected now, as at
    // start (tests and benchmarks that move to a fresh root in one process).
    void reload() EXCLUDES(c331_manage::c331_mutex, mutex);
    static ZemRamPara* p_zemrampara_config;

    // Guards the per-source timing words (RAM 256..291) that the source thread writes, and the
    // status block. Outside the store, a function that takes it says
    // EXCLUDES(ZemRamPara::pInstance()->mutex).
    mutable zem::Mutex mutex ACQUIRED_AFTER(c331_manage::c331_mutex);
    // The RAM, written and read under the C331 mutex, but for the timing words (RAM 256..291),
    // which have their own storage under the store's mutex: `ram`'s bytes there are never read
    // (copy_ram_out and timing16 give the words).
    std::array<uint8_t, kRamSize> ram GUARDED_BY(c331_manage::c331_mutex);
    // The refresh hub's records: `seen` is the RAM as the refresh under way copied it at its
    // start, `shadow` what the refresh before acted on. Every check of a refresh compares the
    // two, so a write landing after the copy is still a change for the next refresh. Main
    // thread only.
    uint8_t seen[kRamSize];
    uint8_t shadow[kRamSize];
    // What the parameter file holds (RAM 768..4095; below, the RAM of the last save). Written
    // and read under the C331 mutex.
    std::array<uint8_t, kRamSize> persisted GUARDED_BY(c331_manage::c331_mutex);
    std::array<std::array<uint8_t, kModeSize>, kModeCount> mode_ram
        GUARDED_BY(c331_manage::c331_mutex);
    // The controller register file. Registers 0..31: the PC's register command merges them
    // under its command mutex, which the configuration commands hold too, so that two links'
    // changes never interleave.
    static zem::Mutex command_mutex;
    std::array<uint8_t, kRegCount> reg GUARDED_BY(command_mutex);
    // The command bytes written through registers 160, 165, 162, 163, 164 (in this order):
    // stored by the PC, carried out and cleared by the C331 apply, under the C331 mutex.
    static constexpr int kCmd160 = 0, kCmd165 = 1, kCmd162 = 2, kCmd163 = 3, kCmd164 = 4;
    std::array<uint8_t, kCmdCount> command_reg GUARDED_BY(c331_manage::c331_mutex);
    std::array<uint8_t, kStatusSize> status GUARDED_BY(mutex);

    // The LED set in force (core/led_in_force.h): the five words last taken by any path that
    // checks a size (see led_size::take_or_refuse) or by the load, with their image offset. The
    // RAM's words are the PC's until their check: refusals return to this set, and the parameter
    // file and a save request save it. Changed under the C331 mutex.
    uint16_t led_in_force16(int addr) const REQUIRES(c331_manage::c331_mutex);
    // The check's take: the RAM's five words, with the RAM's offset (RAM 1382, 1384: a PC's
    // global offset too) while the RAM's channel geometry is that set's, else the offset the
    // set's panel set-up is going to write.
    void take_led_in_force() REQUIRES(c331_manage::c331_mutex);

    // Little-endian 16-bit words of the RAM and its records.
    uint16_t rd16(int addr) const REQUIRES(c331_manage::c331_mutex) {
        return word(ram.data(), addr);
    }
    uint8_t rd8(int addr) const REQUIRES(c331_manage::c331_mutex) { return ram[addr]; }
    // A word other threads write under the C331 mutex (866, 868, 2116), read under it by a
    // caller that does not hold it.
    uint16_t rd16_locked(int addr) const EXCLUDES(c331_manage::c331_mutex);
    uint8_t rd8_locked(int addr) const EXCLUDES(c331_manage::c331_mutex);
    // Copies RAM [addr, addr + len) to `to`, the timing words too (hence both mutexes); false,
    // with nothing copied, when that passes the end.
    bool copy_ram_out(uint32_t addr, uint8_t* to, uint32_t len) const
        REQUIRES(c331_manage::c331_mutex, mutex);
    // The source of window w as the RAM holds it (ZemGetImageSource of the RAM).
    int ZemGetRamImageSource(uint8_t w, int16_t* isCrop, char* cropIndex) const
        REQUIRES(c331_manage::c331_mutex) {
        return ZemGetImageSource(ram.data(), w, isCrop, cropIndex, 0);
    }
    // The source thread's timing words (RAM 256..291), kept apart from `ram` under the store's
    // mutex; a PC's write there lands in them too (pc_write). An address outside them reads 0 and
    // is not written.
    static constexpr int kRamTimings = 256, kTimingsSize = 36;
    uint16_t timing16(int addr) const REQUIRES(mutex);
    void set_timing16(int addr, uint16_t v) REQUIRES(mutex);
    uint16_t seen16(int addr) const { return word(seen, addr); }
    uint16_t shadow16(int addr) const { return word(shadow, addr); }
    uint16_t persisted16(int addr) const REQUIRES(c331_manage::c331_mutex) {
        return word(persisted.data(), addr);
    }
    // The refresh under way sees the u16 at addr, or a byte of [from, to), other than the refresh
    // before acted on.
    bool changed16(int addr) const { return seen16(addr) != shadow16(addr); }
    bool changed(int from, int to) const;
    // An internal write that counts as no one's: it bumps no write generation (put_geometry, the
    // start's fix-ups, a refusal's return to the set in force, an EDID request put back). A
    // user's write goes through user_wr16, which does. A word not wholly in the RAM is not
    // written; a log line says so.
    void wr16_no_gen_bump(int addr, uint16_t v) REQUIRES(c331_manage::c331_mutex);
    static int windowAddr(int w, int field) { return kRamWindow + kWindowStride * w + field; }
    // The write of [addr, addr + len) reaches the u16 at word.
    static bool covers(uint32_t addr, uint32_t len, int word) {
        return len > 0 && addr < uint32_t(word) + 2 && uint32_t(word) < addr + len;
    }

    // Copies len bytes to RAM[addr..]; 1 (nothing copied) when that passes the end, else 0.
    // A user's write (a PC's, a recall's, the factory reset's): it bumps the write generation of
    // every watched word it covers; no bytes change and bump nothing. A PC's write (`client`,
    // the owner of its link's requests: a TCP client, a serial port, a UDP peer's address) of
    // 1..16 into RAM 868 is that client's save request, recorded for its next register 11
    // (take_client_requests); any other write of 868 is no request, and the word keeps what it
    // read (0 once no request is open). Caller holds the C331 mutex.
    static constexpr uint64_t kNoClient = ~uint64_t(0);
    int ZemRamParaDeal(const uint8_t* data, uint16_t len, uint32_t addr,
                       uint64_t client = kNoClient) REQUIRES(c331_manage::c331_mutex);
    // A PC's write through its link (`client` as above): before it lands, a client whose
    // register 11 may never come is watched from its first request, and when the UDP addresses
    // holding requests are full, the longest-silent one's requests are carried out (with the
    // RAM as it is before the write), their count in `displaced` (the caller raises
    // refresh_after_take); then ZemRamParaDeal, and its bytes on the timing words into them
    // under the store's own mutex. Caller holds the C331 mutex.
    int pc_write(const uint8_t* data, uint16_t len, uint32_t addr, uint64_t client, int* displaced)
        REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex);

    // Write generations of the words a user (a PC or the panel) writes and the FPGA side hands
    // back (2116 close-LED, 2176 brightness): bumped under the C331 mutex by every user write of
    // the word, whatever its value, and never by a write-back. Work taken at generation g writes
    // its result only while the word is still at g, so a user's later write wins even when it
    // wrote the very same value.
    static constexpr int kWatchedWords[2] = {kRamCloseLed, kRamBrightness};
    uint32_t word_gen(int addr) const REQUIRES(c331_manage::c331_mutex);
    // A user's write of a watched word (the panel's, a recall's, a source change's); caller
    // holds the C331 mutex. Every other write of a watched word goes through write_back16.
    void user_wr16(int addr, uint16_t v) REQUIRES(c331_manage::c331_mutex);
    // The one write of a watched word that bumps no generation: the posted echoes, a save
    // request's end (868), the start's load and fix-ups. Caller holds the C331 mutex (or runs
    // before the threads start).
    void write_back16(int addr, uint16_t v) REQUIRES(c331_manage::c331_mutex) {
        wr16_no_gen_bump(addr, v);
    }
    // A word the FPGA thread hands to the RAM for the panel (RAM 2116, its register-0 close bit
    // outside a size handshake; RAM 2176, the brightness it applied), built on the user's state
    // of generation `gen` (word_gen) it last took. That thread may not take the C331 mutex: the
    // next refresh writes the word, under that mutex, only while the word is still at `gen`, so
    // a user's write made meanwhile wins whatever its value. The latest post of an address
    // replaces the one before.
    void post_word(int addr, uint16_t value, uint32_t gen);

    // Emits sig_update_para(id) under Utils::_test_signal_mutex; returns 1.
    int test_signal(int id);
    void ram_para_save() { test_signal(1); }

    // The refresh hub's pass: at its start, what it sees is the RAM now (taken under the C331
    // mutex and the store's own); at its end, what it acted on becomes what it saw.
    void refresh_begin() EXCLUDES(c331_manage::c331_mutex, mutex);
    void refresh_end();

    // Persistence, the saver's job that the refresh hub posts: writes RAM 768..4095 to the
    // parameter file when it differs from what the file holds (or an earlier save failed), then
    // records what it saved. 0 nothing to write, 1 written, -1 the write failed and is retried
    // at the next call.
    int ram_para_persist() EXCLUDES(c331_manage::c331_mutex, mutex);
    // Whether ram_para_persist has something to write: the hub posts the job only then.
    bool persist_due() const EXCLUDES(c331_manage::c331_mutex, mutex);
    // The refresh's file work: the parameter file, when due. Requests never wait for it: they
    // are taken when the box answers them. Main thread, between refresh_begin and refresh_end.
    void take_file_work() EXCLUDES(c331_manage::c331_mutex, mutex);
    // At a stop, from any thread: takes the C331 mutex (so no handler is between its answer and
    // its post), lands the posted words, posts every save request recorded and not yet taken,
    // in the order answered, and the parameter file from the RAM as it is. Touches none of the
    // refresh's records.
    void take_last_requests() EXCLUDES(c331_manage::c331_mutex, mutex);

    // User modes (slot m = 0..15 holds user mode m + 1). The slots change under the C331 mutex
    // (the PC writes and recalls them): ZemModeUserRamParaDeal and the queries expect the
    // caller to hold it where a PC may write at the same time; the file operations and the
    // refresh-hub steps take it themselves.
    int ZemModeUserRamParaDeal(const uint8_t* data, uint16_t len, uint32_t addr)
        REQUIRES(c331_manage::c331_mutex);
    int ZemUserModeSaved(int m) const REQUIRES(c331_manage::c331_mutex);
    // The copy of the OSD file saved with slot m ("/data/modes/MO" + two hex digits + ".json").
    static std::string osdCopyFile(int m);
    int ZemUserModeIndex(int cur, int dir) const REQUIRES(c331_manage::c331_mutex);
    int ZemGetCurrentModeIndex() const EXCLUDES(c331_manage::c331_mutex);
    // The current user mode as the box last set it: a save taken, a recall carried out (a
    // PC's, the panel's CALL or Invoke); 0 at start and once a source change ends it. A PC's
    // write of RAM 866 (the mode it asks to recall) does not change it, and the parameter
    // file's copy is not it. set_current_mode writes it to RAM 866 too, as a user's write; a
    // refused recall puts it back there.
    void set_current_mode(uint16_t n) REQUIRES(c331_manage::c331_mutex);
    void put_back_current_mode() REQUIRES(c331_manage::c331_mutex);
    // Slot m's file written from the slot now (op 0 copies the OSD menu beside it when the OSD
    // is on), or deleted (op 1): a job through the saver's line, returned from once it has run
    // (on the caller when the saver has no thread). mode_file_deal op 0 loads the slot from its
    // file on the caller: the load at start. 1 when the file was written or loaded.
    int mode_file_write(int m, int op) EXCLUDES(c331_manage::c331_mutex, mutex);
    int mode_file_deal(int m, int op) EXCLUDES(c331_manage::c331_mutex, mutex);
    // Requests are taken when the box answers them, under the C331 mutex: each changes the
    // slots (and RAM 866) there, and its file job goes into the saver's line before that mutex
    // is let go, so the line holds them in the order answered. The caller raises the refresh
    // that shows a take (refresh_after_take) once it has let the mutex go.
    // Register 11 of `client`, after its LED size check: the save requests it recorded, in the
    // order written, each saving RAM 896..4095 as it is now (with the LED set in force and the
    // channel geometry the apply derives from it) into its slot. Returns how many it took.
    int take_client_requests(uint64_t client) REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex);
    // A link gone (a TCP client leaving; a UDP address or serial port silent for 60 s, through
    // take_silent_clients: see core/link_activity.h) sends no register 11 any more: the save
    // requests it recorded are carried out now, as a stop would, so that RAM 868 does not wait
    // for them. Takes the C331 mutex and raises the refresh.
    void client_gone(uint64_t client) EXCLUDES(c331_manage::c331_mutex);
    // The main tick's take at silence: each of `clients`, which looked silent at `now` without
    // the C331 mutex, whose silence link_activity still tells under it has its recorded
    // requests carried out, as client_gone does.
    void take_silent_clients(const std::vector<uint64_t>& clients, uint32_t now)
        EXCLUDES(c331_manage::c331_mutex, mutex);
    // The save requests recorded and not yet taken, whatever their client: one a client and
    // mode at most (tests). Caller holds the C331 mutex.
    size_t recorded_requests() const REQUIRES(c331_manage::c331_mutex) { return recorded_.size(); }
    // Register 11 bit 2: each slot marked saved reads AA AA and has its file written from its
    // bytes now; each marked deleted reads FF FF, its OSD flag cleared, and has its files
    // deleted. Returns how many slots it took.
    int take_synchronisation() REQUIRES(c331_manage::c331_mutex);
    // Raises refresh 1, which shows what a take changed (the SAVE grid, the markers, 866 in the
    // parameter file): queued on the main thread, whose refresh would otherwise run inside the
    // key or tick that took it.
    void refresh_after_take() EXCLUDES(c331_manage::c331_mutex);
    // The save requests open: recorded and not taken yet, or taken and held up by a slot job
    // not carried out yet. RAM 868 reads 0 only at 0.
    int open_requests() const REQUIRES(c331_manage::c331_mutex);
    // The saver's word after each slot job it carried out: the save requests taken whose own
    // job, and every slot job taken before it, are carried out end, and RAM 868 reads 0 once
    // none is open. Takes the C331 mutex.
    void end_carried_out_saves() EXCLUDES(c331_manage::c331_mutex);
    // Every recorded save request, whatever its client (a stop's); then the waiting jobs run
    // when the saver has no thread. Takes the C331 mutex.
    void ZemUserModeSaveRequest() EXCLUDES(c331_manage::c331_mutex, mutex);
    // The synchronisation, taking the C331 mutex itself (tests).
    void ZemUserModeSync() EXCLUDES(c331_manage::c331_mutex, mutex);
    // The panel's SAVE of slot m, taken at the key: RAM 868 = m + 1, the request with the RAM as
    // it is, and the apply raised. Main thread; takes the C331 mutex.
    void save_mode_from_panel(int m) EXCLUDES(c331_manage::c331_mutex, mutex);
    // The panel's delete of slot m: deleted at once, its files deleted by the saver.
    void delete_mode_from_panel(int m) EXCLUDES(c331_manage::c331_mutex, mutex);
    // The apply's channel geometry (RAM 1382, 1384, ..., 1394) for the LED set the RAM holds;
    // when that is the set in force, its offset goes with it (the C331's start sets it up again).
    // Caller holds the C331 mutex.
    void put_geometry(const uint16_t words[7]) REQUIRES(c331_manage::c331_mutex);
    // The saver's run of a slot's job: its file work outside every lock, then its OSD steps and
    // the parameter file's post it carries. True when the file work was done.
    bool run_slot_job(const Saver::Job& job) EXCLUDES(c331_manage::c331_mutex, mutex);
    // The modes whose files a slot job could not write or remove are kept (under the store's
    // mutex) until one terminal line names them all: the main tick says it a minute after the
    // first of them, whatever the error-by-kind limit held back, and a stop says what is left.
    static constexpr uint32_t kFailedFilesTicks = 6000;  // a minute of 10 ms ticks
    void say_failed_files(uint32_t now_tick) EXCLUDES(mutex);
    void say_failed_files_now() EXCLUDES(mutex);
    // Whether slot m was saved when the last refresh began (or as the panel itself changed it
    // since): what the panel shows, without the lock the PC's writes hold. Main thread only.
    int ZemUserModeShown(int m) const;
    // ZemUserModeIndex over the slots as the panel shows them.
    int ZemUserModeShownIndex(int cur, int dir) const;

    // The store's file work, on its own thread once started.
    Saver saver{*this};

    // Windows, sources and crops.
    void ZemCropSourceInit() EXCLUDES(c331_manage::c331_mutex);
    int ZemGetCropID(int s, int k) const;
    int ZemAddCropID(int s) const;
    int ZemGetSourceNum(int s, int n) const REQUIRES(c331_manage::c331_mutex);
    // The crops of source s the bitmap names (after ZemCropSourceInit): what pages count and
    // list. Records with a crop number above 40 or a repeated number are not among them.
    int ZemGetCropCount(int s) const;
    int ZemGetImageSource(const uint8_t* base, uint8_t w, int16_t* isCrop, char* cropIndex,
                          uint8_t fromSlot) const;
    void ZemSetImageSource(int k, int s, int w) EXCLUDES(c331_manage::c331_mutex);
    void ZemGetCropPara(int s, int k, CROP_PARA* para, int* index) const
        EXCLUDES(c331_manage::c331_mutex);
    void ZemSetCropPara(int s, int k, const CROP_PARA* para) EXCLUDES(c331_manage::c331_mutex);
    // The rectangle as a new crop of source s, in the first free record under the lowest crop
    // number s does not use; returns the record, or -1 (no such source, or no room).
    int ZemAddNewCrop(int s, const CROP_PARA* para) EXCLUDES(c331_manage::c331_mutex);
    void ZemDeleteCrop(int s, int k) EXCLUDES(c331_manage::c331_mutex);
    // The crop of record `record` while its id word is still `id` (a refresh may have freed or
    // renumbered it meanwhile): 0 done, -1 nothing changed.
    int ZemSetCropParaAt(int record, uint16_t id, const CROP_PARA* para)
        EXCLUDES(c331_manage::c331_mutex);
    int ZemDeleteCropAt(int record, uint16_t id) EXCLUDES(c331_manage::c331_mutex);
    void ZemSetImageFreeze() EXCLUDES(c331_manage::c331_mutex);
    void ZemSetImageBlack() EXCLUDES(c331_manage::c331_mutex);
    void ZemSetEDIDPara(int s, int16_t w, int16_t h, int16_t hz) EXCLUDES(c331_manage::c331_mutex);
    int ZemLanguageChanged() EXCLUDES(c331_manage::c331_mutex);
    int ZemSourceId_is_on(int id) const REQUIRES(c331_manage::c331_mutex);

    // ===== what only tests set =====
    struct TestHooks {
        // Run during a slot's file work (after its file is written, or after its removal),
        // where a PC write may land.
        std::function<void(int m)> during_slot_file_work;
        // Run after the parameter file is written, before its record is updated.
        std::function<void()> during_para_file_work;
    };
    TestHooks hooks;

signals:
    void sig_update_para(int id);

private:
    ZemRamPara();
    void ram_para_load();
    void ram_para_write_defaults();
    void startup_fixups() EXCLUDES(c331_manage::c331_mutex, mutex);
    static uint16_t word(const uint8_t* image, int addr) {
        return uint16_t(image[addr] | image[addr + 1] << 8);
    }
    int find_crop(int s, int k) const REQUIRES(c331_manage::c331_mutex);
    bool cropStillIs(int record, uint16_t id) const REQUIRES(c331_manage::c331_mutex);
    bool write_slot_file(int m, const uint8_t* image);
    // Slot m's file job with the slot's first 4096 bytes as they are now.
    Saver::Job slot_file_job(int m, Saver::Kind kind) const REQUIRES(c331_manage::c331_mutex);
    // The slot marked deleted (FF FF, its OSD flag cleared) now; its files' job.
    Saver::Job take_deletion(int m) REQUIRES(c331_manage::c331_mutex);
    // The slot marked saved (AA AA) now; its file's job.
    Saver::Job take_slot_write(int m) REQUIRES(c331_manage::c331_mutex);
    // A save request of slot m: the slot and RAM 866 take the RAM as it is now, and its file
    // job goes into the line; the request is open until that job's key is carried out.
    void take_save_request(int m) REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex);
    // Every recorded request, whatever its client, in the order answered. Caller holds the C331
    // mutex.
    void take_every_recorded_request() REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex);
    // A write of RAM 868 that held `before`: recorded as `client`'s request, or none.
    void request_word_written(uint64_t client, uint16_t before) REQUIRES(c331_manage::c331_mutex);
    // A request of `client` about to be recorded: see pc_write. Returns the requests it took.
    int watch_client(uint64_t client) REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex);
    // A copy or removal of the slot's OSD menu copy.
    void run_osd_step(int m, Saver::OsdStep step);
    // A file of slot m removed; false, said and kept for the tick's line, when it could not be.
    bool remove_mode_file(int m, const std::string& path) EXCLUDES(mutex);
    void keep_failed_file(int m, bool removal) EXCLUDES(mutex);
    struct FailedFiles {
        uint16_t not_written = 0, not_removed = 0;  // bit m: slot m (user mode m + 1)
        uint32_t since = 0;                         // the tick of the first
    };
    FailedFiles failed_files_ GUARDED_BY(mutex);
    // The modes kept, taken off the record in one step: all of them, or with `now_tick` only
    // once a minute has passed since the first (else none).
    FailedFiles take_failed_files(const uint32_t* now_tick) EXCLUDES(mutex);
    static void sayFailed(const FailedFiles& failed);
    uint8_t shown_markers_[kModeCount][2] = {};  // main thread
    // Save requests answered and not yet taken by their client's register 11, in the order
    // answered; at most one a client and slot, and at most link_activity::kMaxAddresses UDP
    // addresses among the clients. Under the C331 mutex.
    struct RecordedRequest {
        uint64_t client;
        uint8_t slot;
    };
    std::vector<RecordedRequest> recorded_ GUARDED_BY(c331_manage::c331_mutex);
    // Save requests taken and not ended: the key of each one's own slot job, in the order taken.
    std::deque<uint64_t> open_saves_ GUARDED_BY(c331_manage::c331_mutex);
    uint16_t current_mode_ GUARDED_BY(c331_manage::c331_mutex) = 0;  // see set_current_mode
    // The LED set (in led_size::kRamWords' order) whose channel geometry RAM 1382..1394 holds.
    std::array<uint16_t, 5> geometry_of_ GUARDED_BY(c331_manage::c331_mutex) = {};
    // The five LED words the RAM holds now; whether its channel geometry is that of `words`.
    std::array<uint16_t, 5> ram_led_words() const REQUIRES(c331_manage::c331_mutex);
    bool geometry_is_of(const std::array<uint16_t, 5>& words) const
        REQUIRES(c331_manage::c331_mutex);
    // The geometry of the set in force into a RAM image, when the RAM does not hold it yet.
    void put_geometry_in_force(uint8_t* image, int image_base) const
        REQUIRES(c331_manage::c331_mutex);

    // Puts the set in force into a RAM image in place of the words waiting for their check.
    void put_led_in_force(uint8_t* image, int image_base) const REQUIRES(c331_manage::c331_mutex);
    // The RAM as the parameter file would hold it, into `image`; true when it differs from what
    // the file holds. Caller holds the C331 mutex.
    bool take_save_image(uint8_t* image) const REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex);

    std::array<uint8_t, kTimingsSize> timings_ GUARDED_BY(mutex) = {};
    // The bytes of a write of [addr, addr + len) that fall on the timing words, written there.
    void put_timings(const uint8_t* data, uint32_t len, uint32_t addr) REQUIRES(mutex);

    // A parameter save failed: retried at the next refresh.
    std::atomic<bool> save_pending_{false};
    struct PostedWord {
        int32_t addr = -1;  // -1: free
        uint16_t value = 0;
        uint32_t gen = 0;
    };
    // Taken last, under every other lock.
    zem::Mutex posted_mutex_ ACQUIRED_AFTER(c331_manage::c331_mutex, mutex);
    std::array<PostedWord, 2> posted_ GUARDED_BY(posted_mutex_);  // one an address: 2116 and 2176
    void apply_posted_words() REQUIRES(c331_manage::c331_mutex);
    // Under the C331 mutex; they only grow, so a reload keeps them.
    void bump_word_gens(uint32_t addr, uint32_t len) REQUIRES(c331_manage::c331_mutex);
    std::array<uint32_t, 2> word_gen_ GUARDED_BY(c331_manage::c331_mutex) = {};
};
