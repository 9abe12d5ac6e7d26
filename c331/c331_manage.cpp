// The C331 manager: the singleton, its thread (chip probing, start-up, panel, picture, then
// apply and poll), and the compare-and-apply of parameter RAM changes in a fixed order.
//
// The thread waits for the apply flag on apply_cv and polls the inputs every kPollMs; it
// compares the RAM with `applied`, its own copy of what it last applied, and takes each word it
// applies into that copy as it reads it.
#include "c331/c331_manage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "core/console.h"
#include "core/globals.h"
#include "core/json_files.h"
#include "core/led_size.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/clock.h"
#include "platform/thread_name.h"
#include "video_io/raviksource.h"

uint8_t g_force_bkcolor = 0;

namespace {

constexpr int kPollMs = 40;            // input polling period of the running thread
constexpr int kProbeRetryMs = 10;      // pause after a chip id that did not answer
constexpr int kBlankingWaitMs = 3000;  // the FPGA side blanks in about 0.42 s
constexpr uint32_t kChipIdReg = 0xB20801;
constexpr uint8_t kChipId = 0x24;
const char kOmenuPath[] = "/data/configs/omenu.json";

// Parameter RAM addresses read here.
constexpr int kSplice = 1376, kLedW = 1378, kLedH = 1380, kOut1W = 1412, kOut1H = 1414;
constexpr int kBrightness = 2176, kContrast = 2178, kSharpness = 2180, kSaturation = 2182;
constexpr int kColourTemp = 2184, kRedGain = 2186, kGreenGain = 2188, kBlueGain = 2190;
constexpr int kPriority = 2208;
constexpr int kWindows = 2272, kWindowSize = 26, kWindowsEnd = kWindows + 6 * kWindowSize - 2;
constexpr int kFades = 2816;
constexpr int kCropTable = 1472, kCrops = 40;
constexpr int kPattern = 864;
constexpr int kEdidRequest = 896;
constexpr int kAudioWindow = 2112;
constexpr int kAudioWord = 20;  // offset in a window block
constexpr int kCloseLed = 2116;
constexpr int kOsdOn = 2124;
// Command bytes of the controller register file: registers 160, 165, 162, 163, 164.
constexpr int kReg162 = ZemRamPara::kCmd162;
constexpr int kReg163 = ZemRamPara::kCmd163;
constexpr int kReg164 = ZemRamPara::kCmd164;
constexpr int kReg165 = ZemRamPara::kCmd165;

// The making, the stop and the end of the manager, one at a time; p_c331_manage itself is read
// without it (set before the threads that read it start).
zem::Mutex g_instance_mutex;

ZemRamPara* store() {
    return ZemRamPara::p_zemrampara_config;
}

}  // namespace

c331_manage::c331_manage() {
    g_unicode_line = 0;
    thread_state = 0;
    writeLogMsg(3, "====c331_manage::c331_manage()=====");
    drv = new c331_drv();
    g_osd_font_mask = 0;
    for (int p = 0; p < 6; ++p) {
        PI_PORT_INFO[p][5] = 0;
        PI_STATE[p] = 0;
        PI_HDMI_INFO[p].nosignal = 1;
    }
}

c331_manage::~c331_manage() {
    delete drv;  // closes the chip's bus and the SoC pad window
}

c331_manage* c331_manage::pInstance() {
    zem::MutexLocker lock(g_instance_mutex);
    if (p_c331_manage) return p_c331_manage;  // made and started once
    p_c331_manage = new c331_manage();
    {
        zem::MutexLocker c331(c331_mutex);
        while (take_apply() != 0) {
        }
        // What the box loaded is the state before any change: a change raised while the chip
        // is probed or started is still a difference when the first apply runs.
        p_c331_manage->copy_ram(p_c331_manage->applied.data());
        p_c331_manage->take_handed_gens();
    }
    p_c331_manage->g_pattern_gen = 0;
    p_c331_manage->initialize();
    return p_c331_manage;
}

void c331_manage::stop_thread() {
    zem::MutexLocker instance(g_instance_mutex);
    c331_manage* self = p_c331_manage;
    if (!self) return;
    {
        zem::MutexLocker lock(c331_mutex);
        self->stop_ = true;
    }
    apply_cv.notify_all();
    if (self->thread_.joinable()) self->thread_.join();
}

void c331_manage::shutdown() {
    stop_thread();
    zem::MutexLocker instance(g_instance_mutex);
    delete p_c331_manage;
    p_c331_manage = nullptr;
    // Requests nobody took go with the manager: they must not reach the next one.
    zem::MutexLocker c331(c331_mutex);
    take_all_apply();
}

int c331_manage::initialize() {
    fd = drv->initialize();
    const uint32_t id = drv->read_C331(fd, kChipIdReg, 0);
    ZEM_DEBUG("\n c331_manage::initialize c331_id = %02x \n", id);
    try {
        thread_ = std::thread(&c331_manage::c331manageThread, this);
        platform::nameThread(thread_, "c331");
    } catch (const std::system_error&) {
        writeLogMsg(1, "create check source thread failed");
        ZEM_DEBUG("create manage thread failed\n");
        return 255;
    }
    return 0;
}

void* c331_manage::c331manageThread(void* arg) {
    if (!arg) return nullptr;
    auto* self = static_cast<c331_manage*>(arg);
    while (!self->stop_) self->run_state();
    return nullptr;
}

void c331_manage::Sleep(int ms) {
    platform::sleepMs(static_cast<uint64_t>(ms));
}

void c331_manage::run_state() {
    switch (thread_state.load()) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
            probe_chip();
            break;
        case 5:
            start_chip();
            break;
        case 6:
            start_panel();
            break;
        case 7:
            start_picture();
            break;
        default:
            c331managerdeal(this);
            break;
    }
}

void c331_manage::probe_chip() {
    uint32_t id = 0;
    const int rc = drv->read_C331_checked(fd, kChipIdReg, 0, &id);
    if (rc == 0 && id == kChipId) {
        ++thread_state;
        ZEM_DEBUG("\n ok c331_id = 0x24x ");
        return;
    }
    // A missing chip is probed every kProbeRetryMs: the console hears of it now and then.
    if (++probe_failures_ <= 10 || probe_failures_ % 100 == 0)
        ZEM_DEBUG("\n error c331_id = %02x \n", id);
    if (probe_failures_ % 500 == 1) {
        char text[96];
        std::snprintf(text, sizeof text, "c331: chip id not read (%u tries, last %02x, rc %d)",
                      probe_failures_, id, rc);
        writeLogMsg(2, text);
    }
    zem::MutexLocker lock(c331_mutex);
    apply_cv.wait_for(lock, std::chrono::milliseconds(kProbeRetryMs),
                      [this] { return stop_.load(); });
}

void c331_manage::start_chip() {
    load_system_param();
    define_param();
    drv->init_reg_acc_param();
    write_initial_setting(fd, 1);
    set_rtct(fd, 1);
    load_param();
    check_input_port(fd);
    load_char();
    read_c331_font(fd);
    update_font(fd);
    thread_state = 6;
    ZEM_DEBUG("\n ok c331_id  setup= %d \n", thread_state.load());
}

void c331_manage::init_panel_from_ram() {
    ZemRamPara* s = store();
    if (!s) return;
    zemApi_PnlInit2(s->rd16(kLedW), s->rd16(kLedH), s->rd16(kOut1W), s->rd16(kOut1H),
                    s->rd16(kSplice));
}

void c331_manage::start_panel() {
    if (g_force_bkcolor == 1) {
        for (uint32_t k = 0; k < 8; ++k) {
            drv->write_C331(fd, 0x084903, 0xFF00, 16 * k);
            drv->write_C331(fd, 0x084801, 1, 16 * k);
        }
    }
    {
        zem::MutexLocker lock(c331_mutex);
        init_panel_from_ram();
    }
    set_output(fd);
    thread_state = 7;
    g_fpga_c331_start = 1;
}

void c331_manage::colour_temp_from_ram() {
    ZemRamPara* s = store();
    // The chip takes a byte, g x 64 (128 is unity); a word above 255 counts as 255, where its low
    // byte alone would wrap (0xFF00 a gain of 0).
    const auto gain = [s](int addr)
                          REQUIRES(c331_mutex) { return std::min<uint32_t>(s->rd16(addr), 255); };
    const uint32_t word =
        s->ram[kColourTemp] | gain(kBlueGain) << 8 | gain(kGreenGain) << 16 | gain(kRedGain) << 24;
    c331_SetColorTemp(word);
}

void c331_manage::start_picture() {
    ZemRamPara* s = store();
    bool osd_on = false;
    c331_SetBrightness(50);
    if (s) {
        zem::MutexLocker lock(c331_mutex);
        c331_SetContrast(s->rd16(kContrast));
        c331_SetSharpness(s->rd16(kSharpness));
        colour_temp_from_ram();
        c331_SetSaturation(s->rd16(kSaturation));
        osd_on = s->rd16(kOsdOn) == 1;
    }
    c331_debugEnv();
    thread_state = 8;
    zemApi_forceColorDisable(fd);
    if (osd_on) {
        reload_osd_menu();
        zem::MutexLocker lock(c331_mutex);
        zemApi_OsdSet(0, 1);
        set_OSD_para();
    } else {
        ZEM_DEBUG("\n no osd file ");
    }
}

void c331_manage::reload_osd_menu() {
    get_json_omenu_para(kOmenuPath, &g_osd_list);
}

void c331_manage::c331managerdeal(void*) {
    {
        zem::MutexLocker lock(c331_mutex);
        apply_cv.wait_for(lock, std::chrono::milliseconds(kPollMs), [this]() REQUIRES(c331_mutex) {
            return apply_pending() || stop_.load();
        });
        if (stop_) return;
        if (apply_pending()) apply_changes_locked(lock);
    }
    run_deferred_debug();
    poll_inputs();
}

void c331_manage::copy_ram(uint8_t* to) {
    ZemRamPara* s = store();
    if (!s) return;
    // The source thread writes its timing words under the store's own mutex only.
    zem::MutexLocker lock(s->mutex);
    s->copy_ram_out(0, to, ZemRamPara::kRamSize);
}

bool c331_manage::changed16(int addr) const {
    const ZemRamPara* s = store();
    return s->rd16(addr) != applied16(addr);
}

void c331_manage::take_as_applied16(int addr) {
    const uint16_t v = store()->rd16(addr);
    applied[addr] = uint8_t(v);
    applied[addr + 1] = uint8_t(v >> 8);
}

bool c331_manage::take_change16(int addr) {
    if (!changed16(addr)) return false;
    take_as_applied16(addr);
    return true;
}

namespace {
int handed_index(int addr) {
    return addr == ZemRamPara::kRamCloseLed ? 0 : 1;
}
}  // namespace

void c331_manage::take_handed_gens() {
    for (int addr : {ZemRamPara::kRamCloseLed, ZemRamPara::kRamBrightness})
        handed_gen[handed_index(addr)] = store()->word_gen(addr);
}

bool c331_manage::take_user_word(int addr, const std::atomic<UserWordFn>& tell) {
    const uint32_t gen = store()->word_gen(addr);
    uint32_t& handed = handed_gen[handed_index(addr)];
    if (!take_change16(addr) && gen == handed) return false;
    handed = gen;
    if (auto fn = tell.load()) fn(store()->rd16(addr), gen);
    return true;
}

bool c331_manage::take_changes16(std::initializer_list<int> addrs) {
    bool any = false;
    for (int a : addrs) any = take_change16(a) || any;  // every word taken, none skipped
    return any;
}

bool c331_manage::wait_outputs_blanked() {
    const uint64_t deadline = platform::nowMs() + kBlankingWaitMs;
    while (led_size_handshake::get().blanking()) {
        if (platform::nowMs() >= deadline) {
            writeLogMsg(2, "c331: the outputs stayed in blanking; panel re-initialised anyway");
            ZEM_DEBUG("\033[1m c331: blanking went on for %d ms \033[0m\n", kBlankingWaitMs);
            return false;
        }
        ++counts.blanking_polls;
        // Producers may write meanwhile: the C331 mutex is not held while waiting.
        zem::MutexUnlocker unlocked(c331_mutex);
        Sleep(5);
    }
    return true;
}

led_size_handshake::Answer c331_manage::panel_verdict() {
    bool changed = false;
    for (int a : led_size::kRamWords) changed = changed || changed16(a);
    if (!changed) return led_size_handshake::kUnchanged;
    // Whatever raised the apply, a set the box can't drive goes back to the one in force, which
    // the turn's refresh saves again.
    const bool refused = led_size::take_or_refuse(store(), "c331");
    return refused ? led_size_handshake::kRefused : led_size_handshake::kApplied;
}

bool c331_manage::apply_panel() {
    led_size_handshake::Answer verdict = panel_verdict();
    // The panel is re-initialised only on blanked outputs. The words are read again after the
    // wait: a producer may have written them meanwhile, and the panel's own channel geometry
    // (RAM 1382..1394) is written after it and triggers nothing.
    if (verdict == led_size_handshake::kApplied) {
        wait_outputs_blanked();
        verdict = panel_verdict();
    }
    // The ids raised so far are answered by this turn; later ones wait for the next.
    turn_ids = take_all_apply();
    if (verdict == led_size_handshake::kApplied) {
        for (int a : led_size::kRamWords) take_as_applied16(a);
        init_panel_from_ram();
        // As every other layout change: the new channels get their windows, layers and idle
        // channels from the one output apply.
        set_output(fd);
        if (store()->rd16(kOsdOn) != 0) g_osd_update = 1;
    }
    // Every turn answers: a handshake that blanked the outputs ends in the FPGAs' restart
    // whether this turn applied, refused or found nothing changed.
    led_size_handshake::get().answer(verdict);
    return verdict == led_size_handshake::kApplied;
}

void c331_manage::apply_picture() {
    ZemRamPara* s = store();
    if (take_user_word(kBrightness, fpga_brightness_changed)) c331_SetBrightness(50);
    if (take_change16(kContrast)) c331_SetContrast(s->rd16(kContrast));
    if (take_change16(kSharpness)) c331_SetSharpness(s->rd16(kSharpness));
    if (take_change16(kSaturation)) c331_SetSaturation(s->rd16(kSaturation));
    if (take_changes16({kColourTemp, kRedGain, kGreenGain, kBlueGain})) colour_temp_from_ram();
}

void c331_manage::apply_priorities() {
    ZemRamPara* s = store();
    for (int w = 0; w < 6; ++w) {
        const int a = kPriority + 2 * w;
        const uint16_t old = applied16(a);
        if (!take_change16(a)) continue;
        ZEM_DEBUG("DIFF REG CUSTOM_INFO_IMAGE%d_PRIORITY %04x==>%04x\r\n", w + 1, old, s->rd16(a));
        // A disabled window has no record: its priority takes effect with the next rebuild.
        if (g_win_record[w] < 0) continue;
        c331_SetWinPriority(g_win_record[w], s->rd16(a));
        c331_SetWinPriority1(fd);
    }
}

// The source word of RAM window w, applied to its record (a disabled window has none: the next
// rebuild reads its word); old is the word it replaces.
void c331_manage::apply_window_source(int w, uint16_t old) {
    ZemRamPara* s = store();
    const uint16_t v = s->rd16(kWindows + kWindowSize * w + 8);
    const int r = g_win_record[w];
    if (v & 0x8000) {
        const int c = v & 0xFF;
        if (c >= kCrops) {
            char text[80];
            std::snprintf(text, sizeof text, "c331: window %d names crop %d (40 crops); ignored", w,
                          c);
            log_bad_ram(kBadCrop, w, text);
        } else if (r >= 0) {
            clear_bad_ram(kBadCrop, w);
            const int e = kCropTable + 10 * c;
            const int rect[4] = {s->rd16(e + 2), s->rd16(e + 4), s->rd16(e + 6), s->rd16(e + 8)};
            c331_SetInputsourceCrop(r, v);
            c331_SetCrop(r, 1, rect);
            c331_SetInputsource(r, s->rd16(e) & 0x0F);
        }
    } else if (r >= 0) {
        if (old & 0x8000) c331_SetCrop(r, 0, nullptr);
        c331_SetInputsource(r, v);
    }
    if (w == s->rd16(kAudioWindow)) {
        if (raviksource* src = raviksource::p_ravik_source) src->source_changed = 1;
    }
}

void c331_manage::apply_windows() {
    ZemRamPara* s = store();
    for (int a = kWindows; a <= kWindowsEnd; a += 2) {
        const int w = (a - kWindows) / kWindowSize;
        const int o = (a - kWindows) % kWindowSize;
        if (o == kAudioWord) continue;  // the source manager's, compared after
        const uint16_t old = applied16(a);
        if (!take_change16(a)) continue;
        ZEM_DEBUG("DIFF REG win[%#x] reg:%x %04x==>%04x\r\n", unsigned(w), unsigned(a - 2176), old,
                  s->rd16(a));
        const uint16_t v = s->rd16(a);
        switch (o) {
            case 0:
            case 10:
            case 12:
            case 14:
            case 16:
                // The rebuild takes every window's current RAM: nothing more to compare.
                for (int b = kWindows; b <= kWindowsEnd; b += 2)
                    if ((b - kWindows) % kWindowSize != kAudioWord) take_as_applied16(b);
                zemApi_initEnvC331();
                zemApi_MultiWinChAlloc(1);
                zemApi_MultiWinChInit();
                set_output(fd);
                return;
            case 8:
                apply_window_source(w, old);
                break;
            case 4:
            case 18:
            case 22:
                // The chip's tables are by record: a disabled window has none.
                if (g_win_record[w] < 0) break;
                if (o == 4) c331_SetWinAttr(g_win_record[w], v);
                if (o == 18) c331_SetWinOutput(fd, g_win_record[w], v);
                if (o == 22) c331_SetWinDbdMode(fd, g_win_record[w], v);
                break;
            default:
                break;
        }
    }
}

void c331_manage::apply_fades() {
    ZemRamPara* s = store();
    for (int w = 0; w < 6; ++w) {
        for (int half = 0; half < 2; ++half) {
            const int a = kFades + 4 * w + 2 * half;
            const uint16_t old = applied16(a);
            if (!take_change16(a)) continue;
            ZEM_DEBUG("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", unsigned(w),
                      unsigned(a - kFades), unsigned(kFades), old, s->rd16(a));
            if (g_win_record[w] < 0) continue;  // read again when the window is rebuilt
            (half == 0 ? PM_WIN_FADE_IN : PM_WIN_FADE_OUT)[g_win_record[w]] =
                std::min<int>(s->rd16(a), kMaxFadeFrames);
        }
    }
}

void c331_manage::apply_edid() {
    // Every source whose request changed is passed on, not only the first.
    raviksource* src = raviksource::p_ravik_source;
    for (int i = 0; i < 6; ++i) {
        const int a = kEdidRequest + 6 * i;
        if (!(take_changes16({a, a + 2, a + 4}) || edid_ram_table_from[i])) continue;
        if (src) {
            src->edid_rewrite[i] = 1;
            src->edid_written[i] = 0;
        }
    }
}

void c331_manage::apply_debug_commands() {
    ZemRamPara* const s = store();
    if (const uint8_t v = s->command_reg[kReg162]) {
        switch (__builtin_ctz(v)) {
            case 0:
                input_slidebar(fd);
                break;
            case 1:
                output_slidebar(fd);
                break;
            case 2:
                disable_slidebar(fd);
                break;
            case 3:
                vbyone_rx_ch1_seq(fd);
                break;
            case 4:
                vbyone_rx_ch2_seq(fd);
                break;
            case 5:
                read_c331_b174bug(fd);
                break;
            case 6:
                thread_state = 0;
                break;  // probe and start the chip again
            default:
                write_read_c331_b80_iacthstch5(fd);
                break;
        }
        s->command_reg[kReg162] = 0;
    }
    if (s->command_reg[kReg163]) {
        zemDbg_c331_param(s->command_reg[kReg163] - 1);
        s->command_reg[kReg163] = 0;
    }
    if (s->command_reg[kReg164]) {
        if (s->command_reg[kReg164] & 1) zemDbg_c331_print_regGrp(0);
        s->command_reg[kReg164] = 0;
    }
    // Bits 4..7 start nothing; the byte is cleared either way.
    if (const uint8_t v = s->command_reg[kReg165] & 0x0F) {
        switch (__builtin_ctz(v)) {
            case 0:
                sync_c331_device_test_input(fd);
                break;
            case 1:
                sync_c331_device_test_frame_lock(fd);
                break;
            case 2:
                sync_c331_device_test_frame_lock_vbyrx2(fd);
                break;
            default:
                sync_c331_device_test_frame_lock_vbyrx3(fd);
                break;
        }
    }
    s->command_reg[kReg165] = 0;
}

void c331_manage::apply_changes_locked(zem::MutexLocker& lock) {
    ZemRamPara* s = store();
    if (!s) {
        while (take_apply() != 0) {
        }
        return;
    }
    // A fade ramp releases the lock: each step compares the RAM as it finds it and takes what it
    // applies as applied there, so a change made meanwhile is applied by this turn or the next,
    // never by both.
    turn_lock = &lock;
    apply_panel();
    apply_picture();
    apply_priorities();
    apply_windows();
    apply_fades();
    if (s->ram[kPattern] != applied[kPattern]) {
        applied[kPattern] = s->ram[kPattern];
        c331_SetPattern(s->ram[kPattern]);
    }
    apply_edid();
    bool audio = false;
    for (int w = 0; w < 6; ++w)
        audio = take_change16(kWindows + kWindowSize * w + kAudioWord) || audio;
    if (audio) {
        if (raviksource* src = raviksource::p_ravik_source) src->source_changed = 1;
    }
    take_user_word(kCloseLed, fpga_close_led_changed);
    if (take_change16(kOsdOn)) {
        zemApi_OsdSet(0, s->rd16(kOsdOn));
        if (s->rd16(kOsdOn) != 0) g_osd_update = 1;
    }
    // The ids raised before the turn began get their refresh.
    turn_lock = nullptr;
    for (size_t id = 1; id < turn_ids.size(); ++id)
        if (turn_ids.test(id)) s->test_signal(uint8_t(id));
    turn_ids.reset();
    if (g_osd_update == 1) {
        g_osd_update = 0;
        reload_osd_menu();
        set_OSD_para();
    }
    apply_debug_commands();
}

void c331_manage::poll_inputs() {
    if (g_pattern_gen) return;
    load_hdmi();
    if (g_osd_update_request) {
        update_osd(fd);
        g_osd_update_request = 0;
    } else if (g_osd_setup_request) {
        set_osd(fd, 1);
        set_scroll(fd);
        g_osd_setup_request = 0;
    }
    check_input_port(fd);
    for (int p = 0; p < 6; ++p) {
        if (!PI_UPDATE[p]) continue;
        for (int w = 0; w < 6; ++w) {
            if (PM_INPUT[w] != p) continue;
            console::outf(
                "\n [c331_main]PI_UPDATE[%d]=%d   g_chg_hdmi[%d]=%d   PI_ACT  HST=%4d  "
                "HW=%4d  VST=%4d  VW=%4d\n",
                p, PI_UPDATE[p], p, 0, PI_ACT[p][0], PI_ACT[p][1], PI_ACT[p][2], PI_ACT[p][3]);
            g_chg_src[w] = 3;
            set_output(fd);
            g_c331_source_online = 1;
        }
        PI_UPDATE[p] = 0;
    }
}

int c331_manage::zemApi_inputCvtC331(int source) {
    static const int ports[6] = {3, 2, 1, 0, 5, 4};
    return (source >= 0 && source < 6) ? ports[source] : 255;
}
