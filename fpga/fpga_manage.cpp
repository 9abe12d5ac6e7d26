// The FPGA manager's construction, its thread and the FPGA pass: reset pulses, the V-by-One
// bring-up, the start-up steps up to the lit screen and the link watch.
#include "fpga/fpga_manage.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/led_in_force.h"
#include "core/led_size_handshake.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_globals.h"
#include "fpga/rcv_job_events.h"
#include "fpga/rcv_recovery.h"
#include "platform/clock.h"
#include "platform/thread_name.h"
#include "video_io/raviksource.h"

fpga_manage* fpga_manage::p_fpga_manage = nullptr;

namespace {
// The making, the stop and the end of the manager, one at a time; p_fpga_manage itself is read
// without it (set before the threads that read it start).
zem::Mutex g_instance_mutex;

bool version_answers(uint8_t reg31) {
    return reg31 >= 25 && reg31 <= 48;
}
}  // namespace

fpga_manage* fpga_manage::pInstance() {
    zem::MutexLocker lock(g_instance_mutex);
    if (!p_fpga_manage) {
        p_fpga_manage = new fpga_manage();
        p_fpga_manage->rcv_recovery->check_file_dir("/data/smartmapping");
        p_fpga_manage->rcv_recovery->check_file_dir("/data/rcvrecovery");
        p_fpga_manage->initialize();
        c331_manage::fpga_brightness_changed = &brightness_changed;
        c331_manage::fpga_close_led_changed = &close_led_changed;
        led_size_handshake::get().wake_owner = &led_size_handshake_moved;
    }
    return p_fpga_manage;
}

fpga_manage::fpga_manage() {
    writeLogMsg(3, "====fpga_manage::fpga_manage()=====");
    drv = new fpga_drv();
    for (int i = 0; i < 2; ++i) {
        MCU_REG_func[i] = reg_mirror[i].data();
        MCU_RAM_PARA_func[i] = ram_para[i].data();
        MCU_RAM_RX_func[i] = ram_rx[i].data();
        MCU_RAM_TX_func[i] = ram_tx[i].data();
        MCU_RAM_ETH_PARA_func[i] = eth_para[i].data();
        MCU_RAM_ETH_BACK_PARA_func[i] = eth_back_para[i].data();
    }
    rcv_recovery = new rcvRecovery();
    job_events = new rcv_job_events();
    clear_state();
}

fpga_manage::~fpga_manage() {
    delete rcv_recovery;
    delete job_events;
    delete drv;
}

void fpga_manage::shutdown() {
    zem::MutexLocker lock(g_instance_mutex);
    if (!p_fpga_manage) return;
    p_fpga_manage->stop_thread();
    delete p_fpga_manage;
    p_fpga_manage = nullptr;
}

void fpga_manage::clear_state() {
    clear_bringup_state();
    clear_card_state();  // after: its lock, irq_mutex, comes before the mirror's
    take_loaded_user_words();
}

void fpga_manage::clear_bringup_state() {
    zem::MutexLocker tables(Utils::_fpga_multicast_mutex);  // before the mirror's
    zem::MutexLocker lock(mirror_mutex);
    for (int i = 0; i < 2; ++i) {
        ram_check[i] = rst_active[i] = 0;
        rst_start[i] = step_time[i] = passes_since_reset[i] = restart_tick[i] = 0;
        start_step[i] = 0;
        phy_done[i] = 0;
        vbo_step[i] = 0;
        startup_polls[i] = startup_resets[i] = vbo_resets[i] = 0;
        vbo_retry[i] = fault_polls[i] = 0;
        link_fault[i] = fault_substep[i] = rcv_pending[i] = 0;
        bringup_start[i] = now_tick();
        bringup_on[i] = 1;  // power-on: the first bring-up
        wlan_words[i] = 0;
        std::memset(reg_mirror[i].data(), 0, sizeof reg_mirror[i]);
        std::memset(ram_para[i].data(), 0, sizeof ram_para[i]);
        std::memset(eth_para[i].data(), 0, sizeof eth_para[i]);
        std::memset(eth_back_para[i].data(), 0, sizeof eth_back_para[i]);
    }
    output_status_request = 0;
    answer_ready = 0;
    reg0_bit3 = 0;
    clock_record_started = 0;
    clock_record.clear();
    time_record_tick = 0;
}

void fpga_manage::take_loaded_user_words() {
    uint32_t close_gen = 0, bri_gen = 0;
    uint16_t bri = 0;
    if (ZemRamPara* para = ZemRamPara::p_zemrampara_config) {
        // Before the FPGA thread runs, and outside rmw_mutex, which comes after the C331 mutex.
        zem::MutexLocker c331(c331_manage::c331_mutex);
        close_gen = para->word_gen(ZemRamPara::kRamCloseLed);
        bri = para->rd16(kRamBrightness);
        bri_gen = para->word_gen(kRamBrightness);
    }
    user_words.clear();
    zem::RecursiveMutexLocker rmw(rmw_mutex);
    close_led = 0;  // the load opens RAM 2116
    close_led_gen = close_gen;
    bri_ram = bri;
    bri_ram_gen = bri_gen;
    bri_kept_pending = false;
}

uint8_t fpga_manage::board_state(int fpga) {
    raviksource* source = raviksource::p_ravik_source;
    return source ? source->fpga_board_state[fpga & 1].load() : 0;
}

// ---------------------------------------------------------------------------------------
// Thread

int fpga_manage::initialize_start() {
    softinit();
    if (thread_.joinable()) return 0;
    {
        zem::MutexLocker lock(wake_mutex_);
        stop_ = false;
    }
    try {
        thread_ = std::thread([this] { fpgamanageThread(this); });
        platform::nameThread(thread_, "fpga");
    } catch (const std::system_error&) {
        writeLogMsg(1, "create check source thread failed");
        return 255;
    }
    return 0;
}

void* fpga_manage::fpgamanageThread(void* arg) {
    auto* self = static_cast<fpga_manage*>(arg);
    if (!self) return nullptr;
    for (;;) {
        self->thread_pass();
        const auto wait = std::chrono::milliseconds(self->next_pass_ms());
        zem::MutexLocker lock(self->wake_mutex_);
        self->wake_cv_.wait_for(lock, wait, [self]() REQUIRES(self->wake_mutex_) {
            return self->wake_flag_ || self->stop_;
        });
        self->wake_flag_ = false;
        if (self->stop_) return nullptr;
    }
}

void fpga_manage::thread_pass() {
    if (g_usb_grade)
        usb_upgrade_manage_deal();
    else
        fpga_manage_deal();
}

void fpga_manage::wake() {
    {
        zem::MutexLocker lock(wake_mutex_);
        wake_flag_ = true;
    }
    wake_cv_.notify_one();
}

void fpga_manage::brightness_changed(uint16_t ram, uint32_t gen) {
    fpga_manage* f = p_fpga_manage;
    if (!f) return;
    f->user_words.post(UserWordMailbox::kBrightness, ram, gen);
    f->wake();
}

void fpga_manage::close_led_changed(uint16_t closed, uint32_t gen) {
    fpga_manage* f = p_fpga_manage;
    if (!f) return;
    f->user_words.post(UserWordMailbox::kCloseLed, closed, gen);
    f->wake();
}

void fpga_manage::stop_thread() {
    {
        zem::MutexLocker lock(wake_mutex_);
        stop_ = true;
    }
    wake_cv_.notify_one();
    if (thread_.joinable()) thread_.join();
}

int fpga_manage::next_pass_ms() {
    // Only the stages that count passes (those after a reset, and the ready polls of start-up
    // step 0) need the next pass soon. Timed steps, steps that wait for a source or the other
    // FPGA, and pending requests are due on the next 10 ms tick; an idle box only runs the link
    // watches, which act at most every 10 ticks. A request (wake) cuts any wait short.
    if (counting_passes()) return 1;
    if (led_size_handshake::get().steps_due() || g_usb_grade || g_send_para[0] ||
        user_words.waiting(UserWordMailbox::kBrightness) ||
        user_words.waiting(UserWordMailbox::kCloseLed) || output_status_request || pc_cmd_valid ||
        get_fpga_status() != 1)
        return 10;
    return 100;
}

bool fpga_manage::counting_passes() {
    for (int i = 0; i < 2; ++i) {
        if (board_state(i) != 2 || rst_active[i]) continue;
        const bool linked = mirror(i, 80) == kBringUpRunning && vbo_step[i] == kVboDone;
        if (linked ? start_step[i] == 0 : passes_since_reset[i] < 301) return true;
    }
    return false;
}

void fpga_manage::softinit() {
    const uint32_t now = now_tick();
    for (int w : {32, 33, 38, 39, 3, 4, 45}) g_change[w] = now;
    g_change[34] = 15;
    g_change[35] = 15;
    for (int w : {42, 43, 44}) g_change[w] = 0;
    Power_ctrl_init();
    {
        zem::MutexLocker tables(Utils::_fpga_multicast_mutex);
        Version_to_RAM();
        PHY_status_to_RAM();
        MCU_RAM_CMD[28] = 0xFF;
        MCU_RAM_CMD[29] = 1;
        MCU_RAM_EXTEND[49] = 0x9F;
        MCU_RAM_EXTEND[50] = 0x1F;
    }
    g_send_para[0] = 0;
    g_send_para[1] = 0xFF;
    g_send_para[6] = 0;
}

// ---------------------------------------------------------------------------------------
// The pass

void fpga_manage::fpga_manage_deal() {
    check_fpga_rst();
    for (int i = 0; i < 2; ++i)
        if (board_state(i) == 2) power_up_fpga_start(1, i);
    {
        zem::MutexLocker lock(irq_mutex);
        for (int i = 0; i < 2; ++i)
            if (board_state(i) == 2) reg_IRQ_Dealwith(i, 0);
    }
    for (int i = 0; i < 2; ++i)
        if (board_state(i) == 2) power_up_check_fpga_status(i);
    // The apply takes the brightness handed over.
    if (user_words.waiting(UserWordMailbox::kBrightness)) set_fpga_bri_val();
    apply_brightness_on_link();
    take_close_led();
    if (led_size_handshake::get().state() != led_size_handshake::kIdle) set_led_para_deal();
    if (get_fpga_status() == 1 && Utils::getTimeSpace(time_record_tick) >= 26) {
        time_record_tick = now_tick();
        IT8563WE_Get(&time_record);
    }
    switch (g_send_para[0].load()) {
        case 1:
            SmartMapping_deal();
            break;
        case 2:
            rcv_recovery_check_deal(2);
            break;
        case 3:
            save_para_deal();
            break;
        case 4:
            mapping_enable_deal();
            break;
        case 5:
            rcv_recovery_check_deal(0);
            break;
        case 6:
            rcv_recovery_check_deal(1);
            break;
        default:
            Check_search_card();
            break;
    }
    // A close-LED handed over while this one is applied is taken at the next pass.
    if (output_status_request == 1 && set_output_status() == 1) output_status_request = 0;
    run_clock_record();
}

int fpga_manage::get_fpga_status() {
    for (int i = 0; i < 2; ++i) {
        // Pages and the links ask too: the mirror through its lock, the steps are atomics.
        if (mirror(i, 80) != kBringUpRunning || vbo_step[i] != kVboDone || start_step[i] != kLit ||
            (mirror(i, 0) & 8))
            return 0;
    }
    return 1;
}

void fpga_manage::run_clock_record() {
    if (get_fpga_status() != 1) return;
    if (!clock_record_started) {
        clock_record.clock_record_init();
        clock_record_started = 1;
    } else {
        clock_record.clock_record_deal();
    }
}

int fpga_manage::IT8563WE_Get(TimeRealType* out) {
    if (!out) return 1;
    zem::MutexLocker lock(Utils::_system_mutex);
    const auto t = std::time_t(platform::clock().wallSeconds());
    std::tm tm{};
    localtime_r(&t, &tm);
    out->second = uint8_t(tm.tm_sec);
    out->minute = uint8_t(tm.tm_min);
    out->hour = uint8_t(tm.tm_hour);
    out->day = uint8_t(tm.tm_mday);
    out->month = uint8_t(tm.tm_mon + 1);
    out->year = uint16_t(tm.tm_year + 1900);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Reset pulse

void fpga_manage::bringup_restarts(int i, const char* why) {
    ZEM_DEBUG("\n fpga%d bring-up starts again: %s \n", i + 1, why);
    // A retry of a bring-up under way keeps its start: its attempts are bounded from there.
    if (!bringup_on[i]) {
        bringup_start[i] = now_tick();
        bringup_on[i] = 1;
    }
    if (hooks.on_bringup_restart) hooks.on_bringup_restart(i, why);
}

bool fpga_manage::restarting(int i) const {
    if (i < 0 || i > 1 || !bringup_on[i]) return false;
    return Utils::getTimeSpace(bringup_start[i]) <= kBringUpTicks;
}

void fpga_manage::reset_fpga_rst(int i, const char* why) {
    start_reset_pulse(i, why);
    vbo_resets[i] = 0;
}

void fpga_manage::start_reset_pulse(int i, const char* why) {
    bringup_restarts(i, why);
    // The links' interrupt polls take irq_mutex too: none is half way through the FPGA when
    // its reset starts or ends, and none touches it in between.
    zem::MutexLocker lock(irq_mutex);
    drive_line(i == 0 ? fpga0_reset : fpga1_reset, 0);
    rst_active[i] = 1;
    rst_start[i] = now_tick();
}

void fpga_manage::check_fpga_rst() {
    for (int i = 0; i < 2; ++i) {
        if (!rst_active[i] || Utils::getTimeSpace(rst_start[i]) <= 50) continue;
        zem::MutexLocker irq_lock(irq_mutex);
        drive_line(i == 0 ? fpga0_reset : fpga1_reset, kLineHigh);
        {
            zem::MutexLocker lock(mirror_mutex);
            reg_mirror[i][80] = 0;
            reg_mirror[i][31] = 0;
        }
        start_step[i] = 0;
        vbo_step[i] = 0;
        passes_since_reset[i] = 0;
        vbo_retry[i] = 0;
        g_change[38 + i] = now_tick();
        rst_active[i] = 0;
    }
}

// ---------------------------------------------------------------------------------------
// V-by-One bring-up

void fpga_manage::power_up_fpga_start(int, int i) {
    if (mirror(i, 80) == kBringUpRunning && vbo_step[i] == kVboDone) return;
    if (Utils::getTimeSpace(g_change[32 + i]) <= 5) return;
    if (passes_since_reset[i] < 301) {
        ++passes_since_reset[i];
        return;
    }
    // A new bring-up reads the version itself: the mirror may hold one from before the reset.
    if (vbo_step[i] == 0 || !version_answers(mirror(i, 31))) {
        for (uint8_t reg : {31, 30, 29, 28, 7}) read_from_register(reg, i);
        vbo_step[i] = 1;
        vbo_retry[i] = 0;
        startup_polls[i] = 0;
        startup_resets[i] = 0;
        g_fpga_lcd_on = 0;
        g_change[32 + i] = now_tick();
        return;
    }
    vbo_action(i);
}

void fpga_manage::vbo_action(int i) {
    const int n = i + 1;
    switch (vbo_step[i]) {
        case 1:
            ZEM_DEBUG("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S1++++++++++++++++++++++++ !!!\n",
                      n);
            write_to_register(3, 0x40, 0x40, i);
            vbo_step[i] = 2;
            break;
        case 2:
            ZEM_DEBUG("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S2++++++++++++++++++++++++ !!!\n",
                      n);
            read_from_register(22, i);
            if (!(mirror(i, 22) & 0x08)) {
                vbo_step[i] = 3;
                break;
            }
            ZEM_DEBUG("\n +++++++++++++++++FPGA[[%d]]_VBO_INIT_S2 error!!!++++++++++++++++\n", n);
            if (++vbo_retry[i] != 5) break;  // later polls wait for the pulse to end
            if (++vbo_resets[i] < 3) {
                ZEM_DEBUG("\n +++++++++++++++++FPGA[%d]_VBO_INIT_S2 reset!!!++++++++++++++++\n", n);
                start_reset_pulse(i, "V-by-One lock lost (register 22 bit 3) for 5 polls");
            } else {
                vbo_step[i] = 3;
            }
            break;
        case 3:
            ZEM_DEBUG("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S3++++++++++++++++++++++++ !!!\n",
                      n);
            write_to_register(3, 0x80, 0x80, i);
            vbo_retry[i] = 0;
            vbo_resets[i] = 0;
            vbo_step[i] = 5;
            break;
        case 5:
            ZEM_DEBUG("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S5++++++++++++++++++++++++ !!!\n",
                      n);
            read_from_register(22, i);
            if (mirror(i, 22) & 0x10) {
                vbo_resets[i] = 0;
                write_to_register(23, 0x01, 0x00, i);
                vbo_step[i] = 6;
                break;
            }
            ZEM_DEBUG("\n +++++++++++++++++FPGA[%d]_VBO_INIT_S5 error!!!++++++++++++++++\n", n);
            if (++vbo_retry[i] > 5 && ++vbo_resets[i] >= 3) vbo_step[i] = 6;
            break;
        case 6:
            ZEM_DEBUG("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S6++++++++++++++++++++++++ !!!\n",
                      n);
            write_to_register(23, 0x01, 0x01, i);
            set_mirror(i, 80, kBringUpRunning);
            fpgainit(i);
            SCREEN_fpgactrl_status2(0, i);
            set_mirror(i, 80, kBringUpRunning);
            step_time[i] = now_tick();
            vbo_step[i] = kVboDone;
            return;  // S6 keeps the V-by-One time stamp
        default:
            return;
    }
    g_change[32 + i] = now_tick();
}

// ---------------------------------------------------------------------------------------
// Start-up steps

bool fpga_manage::waited(int i, uint32_t ticks) const {
    return Utils::getTimeSpace(step_time[i]) > ticks;
}

void fpga_manage::set_step(int i, uint8_t step) {
    start_step[i] = step;
    step_time[i] = now_tick();
}

void fpga_manage::power_up_check_fpga_status(int i) {
    if (mirror(i, 80) != kBringUpRunning || vbo_step[i] != kVboDone) return;
    startup_step(i);
}

void fpga_manage::startup_step(int i) {
    const int other = 1 - i;
    const auto past = [this](int f, uint8_t a, uint8_t b) {
        return start_step[f] == a || start_step[f] == b;
    };
    switch (start_step[i]) {
        case 0:
            if (!waited(i, 10)) return;
            read_from_register(22, i);
            if (mirror(i, 22) & 0x80) {
                set_step(i, 7);
                return;
            }
            if (++startup_polls[i] >= (startup_resets[i] + 1) * 20) {
                if (startup_resets[i] < 101) ++startup_resets[i];
                reset_fpga_rst(i, "not ready (register 22 bit 7) in start-up step 0");
                vbo_step[i] = 17;
                ZEM_DEBUG("\n fpga%d************%d\n", i + 1, mirror(i, 22));
            }
            return;
        case 7: {
            if (!waited(i, 10)) return;
            uint8_t m[8] = {};
            read_fpga_ram(m, 116, 8, 1, i);
            const int w = m[0] | m[1] << 8, h = m[2] | m[3] << 8;
            const uint32_t period =
                uint32_t(m[4]) | uint32_t(m[5]) << 8 | uint32_t(m[6]) << 16 | uint32_t(m[7]) << 24;
            // The size in force, not a PC's words still waiting for their check.
            const LedInForce::Set led = LedInForce::get().set();
            if (w >= led.width() / 2 && h >= led.height() / 2 && period >= 714286 &&
                period < 1000000) {
                write_to_register(2, 0x01, 0x01, i);
                ZEM_DEBUG("\nfpag%d.......ok(%d,%d,%d)  123................\n", i + 1, w, h,
                          int(period));
                set_step(i, 1);
            } else {
                ZEM_DEBUG("\nfpag%d.......error(%d,%d,%d)................\n", i + 1, w, h,
                          int(period));
                step_time[i] = now_tick();  // the error line every 10 ticks
            }
            return;
        }
        case 1:
            if (!waited(i, 30)) return;
            write_to_register(41, 0x01, 0x01, i);
            write_to_register(23, 0x02, 0x02, i);
            set_step(i, 8);
            return;
        case 8:
            if (!waited(i, 5)) return;
            read_from_register(23, i);
            set_step(i, (mirror(i, 23) & 0x02) ? 2 : 1);
            return;
        case 2:
            if (!waited(i, 10)) return;
            read_from_register(41, i);
            phy_done[i] = 1;
            set_step(i, 9);
            return;
        case 9:
            write_to_register(23, 0x02, 0x00, i);
            set_step(i, 10);
            return;
        case 10:
            if (!waited(i, 5)) return;
            read_from_register(23, i);
            if (mirror(i, 23) & 0x02) {
                set_step(i, 9);
            } else {
                ZEM_DEBUG(
                    "\n --------------------check_fpga%d_singal_reset  "
                    "0011------------------------- \n",
                    i + 1);
                set_step(i, 3);
            }
            return;
        case 3:
            if (!(phy_done[0] && phy_done[1])) return;
            ZEM_DEBUG("\n --------------------RAM PARA reset!!!!!!---------------------- ");
            set_step(i, 14);
            return;
        case 14:
            if (!waited(i, 10)) return;
            SCREEN_fpgactrl_status2(11, i);
            write_to_register(2, 0x01, 0x01, i);
            set_step(i, 15);
            return;
        case 15:
            if (!waited(i, 30)) return;
            set_step(i, 16);
            if (past(i, 16, kLit) && past(other, 16, kLit)) Brightness_hand_dealwith();
            SCREEN_fpgactrl_status2(4, i);
            if (past(0, 16, kLit) && past(1, 16, kLit)) {
                g_fpga_lcd_on = 1;
                ZemRamPara::pInstance()->test_signal(12);
            }
            ZEM_DEBUG("\n fpga%d over to enable lcd\n", i);
            ZEM_DEBUG("\n power_up_check_fpga_status start to OK phy (%d)!!!\n", i);
            return;
        case 16:
            if (g_source_online != 2 || !waited(i, 20)) return;
            write_to_register(2, 0x01, 0x01, i);
            // A restart (a size change, an upgrade) does not open what the owner or the
            // schedule closed.
            SCREEN_fpgactrl_status2(output_held_black() ? 0 : 1, i);
            ZEM_DEBUG("\n fpga%d last.... \n", i);
            ZEM_DEBUG("\n fpga%d start to light on \n", i);
            set_step(i, kLit);
            bringup_on[i] = 0;
            return;
        default:
            return;
    }
}

// ---------------------------------------------------------------------------------------
// Link watch and interrupt poll

uint8_t fpga_manage::check_vbo_status(int i) {
    if (Utils::getTimeSpace(g_change[3 + i]) < 10) return link_fault[i];
    if (!link_fault[i]) {
        int bad = 0;
        for (int k = 0; k < 8; ++k) {
            read_from_register(40, i);
            if ((mirror(i, 40) & 0x1C) != 0x1C) ++bad;
        }
        if (bad > 3) {
            link_fault[i] = 1;
            write_to_register(3, 0xC0, 0x00, i);
            fault_substep[i] = 0;
        }
    } else if (fault_substep[i] == 0) {
        write_to_register(3, 0x40, 0x40, i);
        fault_substep[i] = 1;
        fault_polls[i] = 0;
    } else {
        read_from_register(22, i);
        ++fault_polls[i];
        if (!(mirror(i, 22) & 0x08) || fault_polls[i] >= 1000) {
            write_to_register(3, 0x80, 0x80, i);
            link_fault[i] = 0;
        }
    }
    g_change[3 + i] = now_tick();
    return link_fault[i];
}

void fpga_manage::reg_IRQ_Dealwith(int i, int force) {
    if (i < 0 || i > 1 || !fpga_ready || rst_active[i]) return;
    // The mirror through its lock: the FPGA thread and the jobs' sends write it meanwhile.
    const uint8_t state = mirror(i, 80);
    if (state != 2 && state != kBringUpRunning) return;
    const bool due = force == 1 || (soc->read16(i == 0 ? fpga0_irq : fpga1_irq) & 1);
    if (!due) {
        rcv_pending[i] = 0;
        irq_fallback_poll(i);
        return;
    }
    rcv_pending[i] = 0;
    fallback_on[i] = 0;
    write_to_register(22, 0x20, 0x00, i);
    read_from_register(22, i);
    if (mirror(i, 22) & 0x40) {
        write_to_register(22, 0x60, 0x00, i);
        read_from_register(31, i);
        if (!version_answers(mirror(i, 31))) {
            bringup_restarts(i, "its version register stopped answering");
            set_mirror(i, 80, 0);
            restart_tick[i] = now_tick();
            // The start-up steps run again too, or the FPGA would stay black after its link
            // came back.
            start_step[i] = 0;
            phy_done[i] = 0;
        }
    }
    read_from_register(129, i);
    read_from_register(145, i);
    if ((mirror(i, 129) & 0x55) || (mirror(i, 145) & 0x55)) Rcv_data_from_eth(i);
    update_eth_state(i);
}
