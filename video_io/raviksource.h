// The source manager: powers and watches the six video inputs, brings up the FPGA boards'
// clocks and resets, publishes each input's timing to the video processor and the parameter
// RAM, rewrites the inputs' EDIDs and routes the audio of the audio window.
//
// Lock order: c331_manage::c331_mutex (short RAM reads) and Utils::_source_hdminfo_mutex are
// never held together here; ZemRamPara::mutex only around the timing words.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "c331/c331_manage.h"
#include "core/thread_safety.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/i2c_bus.h"
#include "platform/soc_window.h"
#include "video_io/receiver_link.h"

// Timing record of one receiver, as the video processor copies it.
struct SOURCE_HDMI_INFO {
    int Hact, Hsync, Hback, Hpol, Htotal;
    int Vact, Vsync, Vback, Vpol, Vtotal;
    float pfreq;  // MHz
    int type;     // 1 the 4K receivers of sources 4 and 5, 0 the others
    int datamode;
    int lane;
    int ip;  // interlaced
    int nosignal;
    int stable;  // the record is complete; guarded by Utils::_source_hdminfo_mutex
};
static_assert(sizeof(SOURCE_HDMI_INFO) == 17 * 4, "17 words per record");

// Per source, 1 while an EDID uploaded by the PC waits to be written.
extern std::atomic<uint8_t> edid_ram_table_from[6];

class raviksource {
public:
    static constexpr int kSources = 6;
    static constexpr int kFpgas = 2;
    static constexpr int kTimingRam = 256;       // + 6 source: width, height, rate
    static constexpr int kEdidRequestRam = 896;  // + 6 source: width, height, rate
    static constexpr int kAudioWindowRam = 2112;
    // SoC pad words of the input side, driven high to power and release.
    static constexpr uint32_t kPowerA = 0x207940;
    static constexpr uint32_t kPowerB = 0x207944;
    static constexpr uint32_t kLineC = 0x2848;  // SDI transmitter
    static constexpr uint32_t kLineD = 0x207800;
    static constexpr uint32_t kFpgaReset[kFpgas] = {0x207858, 0x207864};
    static constexpr uint16_t kPadHigh = 0x10;
    // Status-block bits: byte 0 bit 7 the first EDID check is pending, bits 0..5 an EDID
    // rewrite of that source is pending; byte 1 bit s the EEPROM of source s holds a valid
    // EDID; byte 2 bit 1 the SDI-path transmitter answers, bit 2 the HDMI transmitter.
    static constexpr uint8_t kStatusCheckPending = 0x80;

    static raviksource* pInstance();
    static raviksource* p_ravik_source;

    // Opens the I2C bus and the pad window, takes g_check_source, queues uploaded EDID
    // tables and starts checksourceThread. 0, or 255 when the thread could not start.
    int initialize() EXCLUDES(c331_manage::c331_mutex);
    void checksourceThread() EXCLUDES(c331_manage::c331_mutex, para_->mutex);
    // The light-up step: at g_source_online 1 with the FPGA and C331 flags up, goes to 2,
    // writes the inputs' timings to the parameter RAM and emits refresh id 12.
    void update_vid_info_delay() EXCLUDES(para_->mutex);
    // Recomputes the record of iTE6805 receiver idx (0: source 5, 1: source 4) from its last
    // register snapshot, and prints it.
    void iTE6805_Get_Hdmi(int idx);

    // Where the PC's uploaded EDID table of a source is kept, and the call that queues it
    // once written (refused, with nothing queued, unless it is a whole valid EDID of at most
    // 256 bytes). Takes the C331 mutex: call it without holding that. 0 or -1.
    static std::string edid_table_path(int source);
    int edid_table_uploaded(int source) EXCLUDES(c331_manage::c331_mutex);

    // Stops and joins the thread (tests only; the box never stops it).
    void stop();
    // Stops the thread and releases the manager with its bus, pad window and what it learnt of
    // the inputs, so that the next pInstance() starts afresh on the box selected then (tests
    // only). The C331 and FPGA threads, which read the manager, are stopped first.
    static void shutdown();

    std::array<SOURCE_HDMI_INFO, kSources> hdminfo GUARDED_BY(Utils::_source_hdminfo_mutex);
    // Last snapshots of sources 5 and 4.
    std::array<ReceiverRegs, 2> ite6805_sys GUARDED_BY(Utils::_source_hdminfo_mutex);
    std::atomic<uint8_t> fpga_board_state[kFpgas];
    std::atomic<uint8_t> edid_rewrite[kSources];
    std::atomic<uint8_t> edid_written[kSources];
    std::atomic<uint8_t> source_changed{0};
    uint32_t check_source_mask = 0x3F;
    // I2C errors seen, per source receiver (reported, never taken as data).
    std::atomic<uint32_t> receiver_errors[kSources];

private:
    raviksource();
    void powerInputs();
    void bringUpBoards();
    void pollReceivers();
    void pollReceiver(int s);
    void publish(int s, const SOURCE_HDMI_INFO& rec);
    void edidPass() EXCLUDES(c331_manage::c331_mutex, para_->mutex);
    void hotPlugPass(int s);
    int rewriteEdid(int s) EXCLUDES(c331_manage::c331_mutex, para_->mutex);
    int edidFor(int s, std::vector<uint8_t>& data, bool& from_table, uint16_t* req)
        EXCLUDES(c331_manage::c331_mutex);
    int writeEeprom(int s, const std::vector<uint8_t>& data);
    // The EDID in source s's EEPROM: 0 with its length (0 when it holds none), or the bus error.
    int readEeprom(int s, std::vector<uint8_t>& data, size_t& len);
    void putBackRequest(int s, const uint16_t* refused) EXCLUDES(c331_manage::c331_mutex);
    void checkEeproms() EXCLUDES(para_->mutex);
    void probeTransmitters() EXCLUDES(para_->mutex);
    void audioPass();
    void setStatusBit(int byte, uint8_t bit, bool on) EXCLUDES(para_->mutex);
    void queueUploadedTables() EXCLUDES(c331_manage::c331_mutex);

    ZemRamPara* para_ = nullptr;
    std::unique_ptr<platform::I2cBus> bus_;
    std::unique_ptr<platform::SocWindow> pads_;
    std::thread thread_;
    zem::Mutex wait_mutex_;
    zem::ConditionVariable wait_cv_;
    bool stop_ GUARDED_BY(wait_mutex_) = false;
    // The source thread's own, from here down.
    bool eeproms_checked_ = false;
    ReceiverLink link_[kSources];
    uint64_t hpd_low_since_ms_[kSources] = {};
    bool audio_error_logged_ = false;
    bool edid_error_logged_[kSources] = {};
    bool clock_error_logged_[kFpgas] = {};
    // Runs f holding the C331 mutex, unless an apply holds it: the frequent steps of this
    // thread never wait behind an apply (which may wait on the LED-size handshake). false when
    // skipped this pass. The rare EDID steps take the mutex and wait.
    template <typename F>
    bool withC331Lock(F f) EXCLUDES(c331_manage::c331_mutex) {
        if (!c331_mutex().try_lock()) return false;
        zem::MutexLocker lock(c331_mutex(), std::adopt_lock);
        f();
        return true;
    }
    static zem::Mutex& c331_mutex() RETURN_CAPABILITY(c331_manage::c331_mutex);
    static void raise_c331_apply() REQUIRES(c331_manage::c331_mutex);
};
