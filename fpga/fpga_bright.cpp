// LED brightness (register 6 of both FPGAs) by hand, by a table of half-hour levels or from a
// light-sensor card, the screen's daily on/off schedule, the tables of both in FPGA 0's flash, and
// the clock command of the PC's command table.
#include <algorithm>
#include <cstring>
#include <utility>

#include "core/globals.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "platform/clock.h"

namespace {

// g_change words of this file.
enum BrightWord {
    kSensorBad = 6,
    kApplyCleared = 9,
    kApplyLinked = 12,
    kApplying = 13,
    kTaskOn = 14,
    kTaskTick = 15,
    kLevelWord = 16,
    kTableChanged = 17,
    kRepeats = 18,
    kTableLoaded = 19,
    kManualPending = 20,
    kSensorFailures = 26,
    kSensorGroup = 27,
    kSensorAddress = 28,
    kNewSample = 29,
    kExpectedReply = 30,
    kReplyState = 31,
};

constexpr uint8_t kManualMode = 16;
constexpr uint32_t kStepTicks = 1000;   // half-hour and manual steps
constexpr uint32_t kSensorTicks = 200;  // light-sensor reads
constexpr uint32_t kSensorWaitTicks = 35;
constexpr uint32_t kSensorFailureLimit = 10;
constexpr uint8_t kFullLevel = 16;  // the level without a saved table: full brightness

uint8_t from_bcd(uint8_t v) {
    return uint8_t((v >> 4) * 10 + (v & 0x0F));
}

bool raw_levels(uint32_t mode) {
    return mode == 16 || mode == 17 || mode == 2;
}

}  // namespace

uint8_t fpga_manage::bri_register_value(uint32_t mode, uint32_t level) {
    if (raw_levels(mode)) return uint8_t(std::min<uint32_t>(level, 255));
    return uint8_t(std::clamp<uint32_t>(level, 1, 16) * 16 - 1);
}

uint8_t fpga_manage::bri_request_value(uint32_t mode, uint32_t ram) {
    const uint32_t value = std::min<uint32_t>(ram, 100) * 255 / 100;
    return uint8_t(mode == 16 || mode == 17 ? value : std::max<uint32_t>(value, 15));
}

void fpga_manage::Power_ctrl_init() {
    for (int w = 21; w <= 25; ++w) g_change[w] = 0;
}

void fpga_manage::Power_ctrl_reset() {
    for (int w = 21; w <= 24; ++w) g_change[w] = 0;
}

// ---------------------------------------------------------------------------------------
// Brightness table

void fpga_manage::set_bri_level(uint8_t level) {
    write_to_register(64, 0xFF, level, 0);
    write_to_register(64, 0xFF, level, 1);
    g_change[kLevelWord] = level;
}

void fpga_manage::record_bright_change() {
    if (mirror(0, 80) != kBringUpRunning && mirror(1, 80) != kBringUpRunning) return;
    fpga_flash_access();
    uint8_t table[kBrightTableSize];
    if (flash_read(2, kBrightFlashAddr, sizeof table, table) != fpga_drv::kFlashDone ||
        table[0] != 0xAA) {
        zem::RecursiveMutexLocker lock(rmw_mutex);
        g_change[kTaskOn] = 0;
        set_bri_level(kFullLevel);
        return;
    }
    {
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        std::memcpy(MCU_RAM_CMD.data(), table, sizeof table);
    }
    Brightness_init(table);
}

// RAM 2176 as the parameter file kept it is the manual brightness the box last took from a user:
// a flash table not written yet (a stop during the bring-up, before the request reached the
// FPGAs) does not take its place. Scheduled modes keep their table.
void fpga_manage::keep_loaded_brightness() {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    const bool manual = g_change[kTaskOn] == 0 || bri_mode == 0 || bri_mode == kManualMode;
    const uint32_t mode = g_change[kTaskOn] ? bri_mode.load() : 0;
    if (manual && !ram_shows(mode, bri_register_value(mode, mirror(0, 64))))
        bri_kept_pending = true;
}

void fpga_manage::Brightness_init(const uint8_t* table) {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    bri_mode = table[8];
    half_hour_index = 255;
    g_change[kTableLoaded] = 0xFFFFFFFFu;
    g_change[kTaskOn] = 0;
    g_change[kManualPending] = 0;
    switch (table[8]) {
        case 0:
        case 16:
            set_bri_level(table[9]);
            g_change[kRepeats] = 0;
            g_change[kTaskOn] = 1;
            break;
        case 1:
        case 17:
            std::memcpy(HalfHourValue.data(), table + 9, kHalfHours);
            g_change[kTaskOn] = 1;
            break;
        case 2:
            g_change[kTaskOn] = 1;
            break;
        default:
            break;  // no automatic brightness
    }
}

void fpga_manage::save_manual_table(uint8_t level) {
    uint8_t table[kBrightTableSize] = {0xAA, 3, 0xAA, 0, 0, 0, kHalfHours + 1, 0, kManualMode};
    std::memset(table + 9, level, kHalfHours);
    save_flash_table(kBrightFlashAddr, table, sizeof table);
    // The panel's or PC's change ends a half-hour or sensor mode now, as the saved table will
    // after the next load.
    Brightness_init(table);
}

// ---------------------------------------------------------------------------------------
// The apply

// A hand-over of a write generation this side has not taken is the user's write; one of the
// generation taken is this side's own echo passed back by the apply. A user's write of the
// brightness this side last applied or echoed (a block write with the values read, a recall, a
// reset bringing it back) leaves the brightness as it is: only its generation is taken, so the
// echoes built on it land. Any other value is a manual brightness.
bool fpga_manage::take_bri_request() {
    const auto handed = user_words.take(UserWordMailbox::kBrightness);
    if (!handed || handed->gen == bri_ram_gen) return false;
    bri_ram_gen = handed->gen;
    if (handed->value == bri_ram) return false;
    bri_ram = handed->value;
    return true;
}

bool fpga_manage::ram_shows(uint32_t mode, uint8_t value) const {
    return bri_request_value(mode, bri_ram) == value || value * 100 / 255 == bri_ram;
}

// Parameter RAM 2176 follows the applied brightness so the panel shows it, unless it already
// stands for this value. The echo is built on the user's brightness last taken: a user's write
// made since wins at the store.
void fpga_manage::echo_brightness(uint32_t mode, uint8_t value) {
    if (ram_shows(mode, value)) return;
    bri_ram = uint16_t(value * 100 / 255);
    ZemRamPara::pInstance()->post_word(kRamBrightness, bri_ram, bri_ram_gen);
}

int fpga_manage::Brightness_hand_dealwith() {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    g_change[kApplyCleared] = 0;
    g_change[kApplyLinked] = 0;
    g_change[kApplying] = 1;
    const uint32_t mode = bri_mode;
    // A brightness handed over after this takes waits for the next apply.
    const bool request = take_bri_request() || std::exchange(bri_kept_pending, false);
    uint8_t value;
    if (request) {
        value = bri_request_value(mode, bri_ram);
        set_bri_level(value);
        // A value raised to the least the mode allows shows at once, as the manual mode it
        // switches to will show it.
        echo_brightness(kManualMode, value);
    } else {
        value = bri_register_value(mode, mirror(0, 64));
        echo_brightness(mode, value);
    }
    int agreed = 1;
    const bool linked = mirror(0, 128) || mirror(0, 144) || mirror(1, 128) || mirror(1, 144);
    bri_waits_for_link = linked ? 0 : 1;
    if (linked) {
        g_change[kApplyLinked] = 2;
        {
            zem::MutexLocker tables(Utils::_fpga_multicast_mutex);
            ram_para[0][256] = 1;
        }
        for (uint8_t i = 0; i < 2; ++i) {
            write_to_register(6, 0xFF, value, i);
            write_to_register(3, 0x04, 0x04, i);
        }
        read_from_register(6, 0);
        read_from_register(6, 1);
        g_change[kReplyState] = 1;
        agreed = mirror(0, 6) == mirror(1, 6) ? 1 : 0;
    }
    g_change[kApplying] = 0;
    // The user's value is kept even when the FPGAs disagree: the manual step retries it.
    if (request) save_manual_table(value);
    return agreed;
}

int fpga_manage::set_fpga_bri_val() {
    if (get_fpga_status() == 0) return 0;
    Brightness_hand_dealwith();
    return 1;
}

void fpga_manage::apply_brightness_on_link() {
    // An FPGA held in reset still shows its last status, but takes no register access.
    if (!bri_waits_for_link || rst_active[0] || rst_active[1] || get_fpga_status() != 1) return;
    if (link_word(0) || link_word(1)) Brightness_hand_dealwith();
}

void fpga_manage::Brightness_manual_apply(uint8_t mode) {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    bri_mode = mode & kManualMode;
    half_hour_index = 255;
    g_change[kManualPending] = 1;
    g_change[kTaskOn] = 1;
    if (get_fpga_status() == 1) Brightness_hand_dealwith();
}

// ---------------------------------------------------------------------------------------
// Tasks of the idle work

void fpga_manage::Extension_function() {
    if (g_change[kTableChanged].exchange(0)) record_bright_change();
    if (g_change[kTaskOn]) Brightness_task();
    if (mirror(0, 66) == 1) dealwith_onoff();
}

void fpga_manage::Brightness_task() {
    const uint32_t mode = bri_mode;
    if (Utils::getTimeSpace(g_change[kTaskTick]) < (mode == 2 ? kSensorTicks : kStepTicks)) return;
    if (mode == 2)
        Brightness_auto_change();
    else if (mode == 1 || mode == 17)
        Brightness_time_change();
    else if (mode == 0 || mode == 16)
        Brightness_hand_change();
    g_change[kTaskTick] = now_tick();
}

void fpga_manage::Brightness_hand_change() {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    if (g_change[kManualPending]) {
        g_change[kManualPending] = 0;
        g_change[kRepeats] = 0;
    } else if (g_change[kRepeats] > 4) {
        return;
    }
    const int agreed = Brightness_hand_dealwith();
    if (++g_change[kRepeats] == 5 && !agreed) g_change[kRepeats] = 0;
}

void fpga_manage::Brightness_time_change() {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    const int minute = time_record.minute + time_record.hour * 60;
    const int index = std::min(minute >= 1440 ? minute / 30 - 1 : minute / 30, kHalfHours - 1);
    if (index == half_hour_index && !g_change[kManualPending]) {
        if (g_change[kRepeats] < 2) {
            Brightness_hand_dealwith();
            ++g_change[kRepeats];
        }
        return;
    }
    set_bri_level(HalfHourValue[index]);
    Brightness_hand_dealwith();
    half_hour_index = uint8_t(index);
    g_change[kRepeats] = 0;
    g_change[kManualPending] = 0;
    Brightness_hand_dealwith();
    g_change[kRepeats] = 1;
}

// ---------------------------------------------------------------------------------------
// Light sensor

void fpga_manage::Brightness_auto_change() {
    Brightness_check_VMF();
    if (g_change[kSensorAddress]) Brightness_read_VMF_value();
    Brightness_auto_filter();
    Brightness_hand_dealwith();
}

// The first port, FPGA 0's before FPGA 1's, whose search reply marked it with a light sensor.
void fpga_manage::Brightness_check_VMF() {
    static constexpr uint16_t kPortByte[16] = {104, 106, 112, 114, 562, 566, 570, 574,
                                               642, 646, 650, 654, 658, 662, 666, 670};
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    for (uint32_t f = 0; f < 2; ++f)
        for (uint32_t p = 0; p < 16; ++p) {
            if (!ram_para[f][kPortByte[p]]) continue;
            g_change[kSensorAddress] = 0x4000 + 0x1000 * (p % 4);
            g_change[kSensorGroup] = f * 4 + p / 4 + 1;
            return;
        }
    g_change[kSensorAddress] = 0;
    g_change[kSensorGroup] = 0;
}

void fpga_manage::Brightness_read_VMF_value() {
    const uint32_t address = g_change[kSensorAddress], group = g_change[kSensorGroup];
    if (address < 0x4000 || address > 0x7000 || group < 1 || group > 8) return;
    uint8_t frame[19] = {uint8_t(address),
                         uint8_t(address >> 8),
                         0x00,
                         0xF0,
                         0x10,
                         0xBB,
                         0x03,
                         0x00,
                         0x00,
                         0x61,
                         0x00,
                         0x00,
                         0x02,
                         0x80,
                         0x80,
                         0x00,
                         0x00,
                         0x00};
    frame[18] = Utils::BCC(frame, 18);
    const uint8_t port = uint8_t(4 * ((group - 1) % 4) + (address - 0x4000) / 0x1000);
    const int fpga = group <= 4 ? 0 : 1;
    g_change[kReplyState] = 0;
    g_change[kNewSample] = 0;
    g_change[kExpectedReply] = 0x61;
    {
        // Cleared before the send: a transport thread's poll may take the reply at once.
        zem::MutexLocker lock(irq_mutex);
        answer_flag = 0;
    }
    bool good = false;
    if (Send_to_port(frame, sizeof frame, port, fpga) == 0) {
        const uint32_t start = G_timeTicks;
        const uint64_t deadline = platform::nowMs() + 10 * kSensorWaitTicks;
        while (!good && Utils::getTimeSpace(start) <= kSensorWaitTicks &&
               platform::nowMs() <= deadline) {
            {
                zem::MutexLocker lock(irq_mutex);
                reg_IRQ_Dealwith(0, 0);
                reg_IRQ_Dealwith(1, 0);
                if (answer_flag) good = take_sensor_reply();
            }
            if (!good) platform::sleepMs(2);
        }
    }
    if (good) {
        g_change[kSensorFailures] = 0;  // failures in a row
    } else {
        ++g_change[kSensorFailures];
    }
}

// Under irq_mutex, with the answer buffer filled: command byte, status byte, 128 data bytes.
bool fpga_manage::take_sensor_reply() {
    answer_flag = 0;
    if (answer_buffer[0] != g_change[kExpectedReply] || answer_buffer[1] != 0) {
        g_change[kSensorBad] = 2;
        write_to_register(85, 0xFF, uint8_t(mirror(0, 85) + 1), 0);
        return false;
    }
    std::memcpy(sensor_data, answer_buffer.data() + 2, sizeof sensor_data);
    g_change[kNewSample] = 1;
    g_change[kReplyState] = 1;
    return true;
}

void fpga_manage::Brightness_auto_filter() {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    int level = mirror(0, 64);
    if (g_change[kNewSample] && sensor_data[49] == 0xFF) {
        const int target = sensor_data[53];
        level += target > level ? 1 : target < level ? -1 : 0;
        g_change[kNewSample] = 0;
    }
    if (g_change[kSensorFailures] >= kSensorFailureLimit) {
        level = 255;
        g_change[kSensorFailures] = 0;
    }
    set_bri_level(uint8_t(level));
}

// ---------------------------------------------------------------------------------------
// On/off schedule

void fpga_manage::record_onoff_time(int device) {
    if (mirror(0, 80) != kBringUpRunning && device != 2) return;
    fpga_flash_access();
    uint8_t table[kOnOffTableSize];
    if (flash_read(2, kOnOffFlashAddr, sizeof table, table) != fpga_drv::kFlashDone ||
        table[0] != 0xAA)
        return;
    {
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        std::memcpy(MCU_RAM_CMD.data(), table, sizeof table);
    }
    OnOff_time();
    write_to_register(66, 0xFF, 1, 0);
}

void fpga_manage::OnOff_time() {
    uint8_t table[kOnOffTableSize];
    {
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        std::memcpy(table, MCU_RAM_CMD.data(), sizeof table);
    }
    zem::RecursiveMutexLocker lock(rmw_mutex);
    onoff.count = std::min<uint8_t>(table[8], 4);
    std::memset(onoff.on_armed, 0, sizeof onoff.on_armed);
    std::memset(onoff.off_armed, 0, sizeof onoff.off_armed);
    for (int k = 0; k < onoff.count; ++k) {
        const uint8_t* e = table + 9 + 4 * k;
        onoff.on_hour[k] = from_bcd(e[0]);
        onoff.on_minute[k] = from_bcd(e[1]);
        onoff.off_hour[k] = from_bcd(e[2]);
        onoff.off_minute[k] = from_bcd(e[3]);
        onoff.on_armed[k] = 1;
        onoff.off_armed[k] = 1;
    }
}

void fpga_manage::dealwith_onoff() {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    const TimeRealType now = time_record;
    // The on times first, then the off times: one entry with both the same ends black.
    for (const bool on : {true, false}) {
        for (int k = 0; k < onoff.count; ++k) {
            uint8_t& armed = on ? onoff.on_armed[k] : onoff.off_armed[k];
            const uint8_t hour = on ? onoff.on_hour[k] : onoff.off_hour[k];
            const uint8_t minute = on ? onoff.on_minute[k] : onoff.off_minute[k];
            if (!armed || hour != now.hour || minute != now.minute) continue;
            SCREEN_fpgactrl_status(on ? 1 : 0);
            armed = 0;
            onoff.off_by_schedule = on ? 0 : 1;
            Power_ctrl_reset();
        }
    }
    if (now.day != onoff.day) {
        for (int k = 0; k < onoff.count; ++k) onoff.on_armed[k] = onoff.off_armed[k] = 1;
        onoff.day = now.day;
    }
}

// ---------------------------------------------------------------------------------------
// Clock command

void fpga_manage::Checktime() {
    Utils::BcdClock bcd;
    {
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        const uint8_t* t = MCU_RAM_CMD.data() + 8;
        bcd = {t[1], t[0], t[2], t[3], t[4], t[5], t[6]};
    }
    Utils::ClockValue c;
    if (!Utils::clock_from_bcd(bcd, c)) {
        writeLogMsg(1, "fpga command table: clock setting refused (not a date the box can hold)");
        return;
    }
    Utils::system_mutex(QString("date \"%1-%2-%3 %4:%5:%6\";hwclock -wu")
                            .arg(c.year)
                            .arg(c.month)
                            .arg(c.day)
                            .arg(c.hour)
                            .arg(c.minute)
                            .arg(c.second));
    clock_record.dealwith_record_timing();
}
