// The operating-time record in FPGA 0's flash: start of a run with the repair of the group
// sectors, the 2-minute steps, the ring of groups with its log, and the clock-set mark.
#include "fpga/clock_record.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"

ClockRecordState g_clock_record;
zem::Mutex clock_record_run::mutex_;

namespace {

constexpr uint32_t kSector = 4096;
constexpr uint8_t kMarked = 0xAA;
constexpr uint8_t kClockSet = 0x5A;
constexpr uint8_t kMagic[3] = {0xAA, 0x5A, 0xA5};
// Progress byte after 1, 2, 3 and 4 steps of its 8 minutes: one more bit cleared each time.
constexpr uint8_t kProgress[4] = {0xFD, 0xF5, 0xD5, 0x55};
constexpr uint8_t kFirstProgress[4] = {0x55, 0x55, 0x55, 0xD5};  // the run's first 30 minutes
constexpr uint32_t kFirstGroupMinutes = 30;
constexpr uint32_t kMinuteTicks = 6000;

uint32_t sector_of(uint32_t addr) {
    return addr / kSector;
}

uint32_t log_entry_addr(uint32_t n) {
    return clock_record_run::kLogAddr + kSector * (n / 256) + 16 * (n % 256);
}

uint8_t to_bcd(int v) {
    return uint8_t((v / 10) << 4 | (v % 10));
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put24(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 3; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t get24(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

// Groups marked valid from group 0 on, in one copy of the group sector.
int marked_groups(const uint8_t* sector) {
    int n = 0;
    while (n < clock_record_run::kGroups && sector[n * clock_record_run::kGroupSize] == kMarked)
        ++n;
    return n;
}

// A group with anything written besides its marker and a clock-set mark made before it opened:
// an opening cut off before it was marked.
bool group_written(const uint8_t* sector, int g) {
    const uint8_t* p = sector + g * clock_record_run::kGroupSize;
    for (uint32_t i = 1; i < clock_record_run::kGroupSize; ++i)
        if (p[i] != 0xFF && i != clock_record_run::kStatusAt) return true;
    return false;
}

// Minutes of a group from its progress bytes.
uint32_t progress_minutes(const uint8_t* group) {
    const uint8_t* p = group + clock_record_run::kProgressAt;
    for (uint32_t i = 0; i < clock_record_run::kGroupSteps / 4; ++i) {
        if (p[i] == 0x55) continue;
        const uint32_t steps = p[i] == 0xFD ? 1 : p[i] == 0xF5 ? 2 : p[i] == 0xD5 ? 3 : 0;
        return 8 * i + 2 * steps;
    }
    return 2 * clock_record_run::kGroupSteps;
}

}  // namespace

void clock_record_run::clear() {
    zem::MutexLocker lock(mutex_);
    g_clock_record = {};
    mark_pending_ = false;
    flash_failed_ = false;
}

// ---------------------------------------------------------------------------------------
// Flash access

int clock_record_run::ExFlash_RD(uint32_t addr, uint32_t len, uint8_t* out) {
    return mgr_.flash_read(2, addr - kFlashOffset, len, out);
}

int clock_record_run::ExFlash_WR(uint32_t addr, const uint8_t* data, uint32_t len) {
    return mgr_.flash_write(2, addr - kFlashOffset, data, len);
}

int clock_record_run::ExFlash_Erase_Format(uint32_t sector) {
    return mgr_.flash_erase(2, sector - kFlashOffset / kSector, 0, 1);
}

void clock_record_run::write_byte(uint32_t addr, uint8_t value) {
    ExFlash_WR(addr, &value, 1);
}

// ---------------------------------------------------------------------------------------
// Start of a run

void clock_record_run::clock_record_init() {
    zem::MutexLocker lock(mutex_);
    ClockRecordState& s = g_clock_record;
    uint8_t magic[3] = {};
    if (ExFlash_RD(kMagicAddr, 3, magic) != fpga_drv::kFlashDone ||
        std::memcmp(magic, kMagic, 3) != 0) {
        ExFlash_Erase_Format(sector_of(kMagicAddr));
        ExFlash_WR(kMagicAddr, kMagic, 3);
    }
    const int n = check_record_sec();
    if (n < 0) {
        // Unreadable groups are left alone rather than taken for an empty ring and erased.
        flash_failed_ = true;
        writeLogMsg(1, "operating time: the record groups can't be read; not counting");
        return;
    }
    s.running = 1;
    if (n == 0) {
        for (uint32_t a : {kGroupAddr, kMirrorAddr, kLogAddr}) ExFlash_Erase_Format(sector_of(a));
        s.base_minutes = 0;
        s.sequence = 0;
        s.log_sector = 0;
        s.group_index = 0;
        s.log_addr = kLogAddr;
    } else {
        s.group_index = uint8_t(n);
        get_last_record_info(uint8_t(n - 1));
    }
    mgr_.IT8563WE_Get(&mgr_.time_record);
    stamp_from_time_record();
    s.minutes_since_start = 0;
    s.minutes_counter = 0;
    s.minute_counter = 0;
    s.first_group_pending = 1;
    s.last_tick = G_timeTicks;
    if (mark_pending_) {
        mark_pending_ = false;
        mark_clock_set();
    }
}

void clock_record_run::stamp_from_time_record() {
    const TimeRealType& t = mgr_.time_record;
    const uint8_t stamp[7] = {to_bcd(t.year % 100), to_bcd(t.year / 100), to_bcd(t.month),
                              to_bcd(t.day),        to_bcd(t.hour),       to_bcd(t.minute),
                              to_bcd(t.second)};
    std::memcpy(g_clock_record.stamp, stamp, sizeof stamp);
}

// The main copy of the groups is written first and its mirror after it, so after a power cut
// one of them is whole: the copy with more valid groups is ahead (or the other was being
// rewritten) and is copied over the other; a group opening cut off before its marker is undone
// from the mirror. The number of valid groups, or -1 when the sectors can't be read.
int clock_record_run::check_record_sec() {
    std::vector<uint8_t> main(kSector), mirror(kSector);
    if (ExFlash_RD(kGroupAddr, kSector, main.data()) != fpga_drv::kFlashDone ||
        ExFlash_RD(kMirrorAddr, kSector, mirror.data()) != fpga_drv::kFlashDone)
        return -1;
    const int in_main = marked_groups(main.data());
    const int in_mirror = marked_groups(mirror.data());
    if (in_main > in_mirror) {
        copy_sec_data(sector_of(kGroupAddr), sector_of(kMirrorAddr));
        return in_main;
    }
    if (in_main < in_mirror || (in_main < kGroups && group_written(main.data(), in_main)))
        copy_sec_data(sector_of(kMirrorAddr), sector_of(kGroupAddr));
    return in_mirror;
}

// Byte 0 (group 0's marker) goes last, so a copy cut off midway leaves no valid group 0 in the
// destination and is made again at the next start.
void clock_record_run::copy_sec_data(uint32_t from_sector, uint32_t to_sector) {
    std::vector<uint8_t> data(kSector);
    if (ExFlash_RD(from_sector * kSector, kSector, data.data()) != fpga_drv::kFlashDone) return;
    const uint32_t to = to_sector * kSector;
    ExFlash_Erase_Format(to_sector);
    for (uint32_t at = 256; at < kSector; at += 256) ExFlash_WR(to + at, data.data() + at, 256);
    ExFlash_WR(to + 1, data.data() + 1, 255);
    write_byte(to, data[0]);
}

void clock_record_run::get_last_record_info(uint8_t g) {
    uint8_t group[kGroupSize];
    if (ExFlash_RD(kGroupAddr + kGroupSize * g, kGroupSize, group) != fpga_drv::kFlashDone) return;
    const uint32_t minutes = progress_minutes(group);
    g_clock_record.base_minutes = get32(group + 8) + minutes;
    g_clock_record.sequence = get_new_seq(minutes, get24(group + 13));
}

uint32_t clock_record_run::get_new_seq(uint32_t minutes, uint32_t seq) {
    ClockRecordState& s = g_clock_record;
    uint8_t field[4];
    put32(field, minutes);
    ExFlash_WR(log_entry_addr(seq & 0xFFFFF) + 8, field, 4);
    uint32_t n = (seq & 0xFFFFF) + 1;
    uint32_t wraps = (seq >> 20) & 0xF;
    if (n > kLastLogEntry) {
        n = 0;
        wraps = (wraps + 1) & 0xF;
        ExFlash_Erase_Format(sector_of(kLogAddr));
    } else if (n % 256 == 0) {
        ExFlash_Erase_Format(sector_of(kLogAddr) + n / 256);
    }
    s.log_addr = log_entry_addr(n);
    s.log_sector = uint8_t(n / 256);
    return n | wraps << 20;
}

void clock_record_run::new_record_group_init(uint8_t g) {
    ClockRecordState& s = g_clock_record;
    const bool wrap = g >= kGroups;
    if (wrap) {
        uint8_t head[2] = {0, 0};
        ExFlash_RD(kGroupAddr, 2, head);
        if (head[0] != 0xFF || head[1] != 0xFF) ExFlash_Erase_Format(sector_of(kGroupAddr));
        s.group_index = 0;
    }
    s.group_addr = kGroupAddr + kGroupSize * s.group_index;
    s.mirror_addr = kMirrorAddr + kGroupSize * s.group_index;
    uint8_t head[8];
    put32(head, s.base_minutes);
    head[4] = 0xFF;
    put24(head + 5, s.sequence);
    ExFlash_WR(s.group_addr + 1, s.stamp, 7);
    ExFlash_WR(s.group_addr + 8, head, 8);
    // A clock set while the group was about to open has marked it already.
    ExFlash_RD(s.group_addr + kStatusAt, 1, &s.status);
    write_byte(s.group_addr, kMarked);
    if (wrap) ExFlash_Erase_Format(sector_of(kMirrorAddr));
    ExFlash_WR(s.mirror_addr + 1, s.stamp, 7);
    ExFlash_WR(s.mirror_addr + 8, head, 8);
    write_byte(s.mirror_addr + kStatusAt, s.status);
    write_byte(s.mirror_addr, kMarked);
}

// ---------------------------------------------------------------------------------------
// Per-minute step

void clock_record_run::clock_record_deal() {
    zem::MutexLocker lock(mutex_);
    ClockRecordState& s = g_clock_record;
    if (s.running != 1 || Utils::getTimeSpace(s.last_tick) <= kMinuteTicks) return;
    ++s.minute_counter;
    ++s.minutes_since_start;
    ++s.minutes_counter;
    if (s.minute_counter & 1) {
        s.last_tick = G_timeTicks;
        return;
    }
    if (s.first_group_pending) {
        if (s.minutes_since_start < kFirstGroupMinutes) {
            s.last_tick = G_timeTicks;
            return;
        }
        open_first_group();
    } else {
        s.progress_offset = kProgressAt + s.step_counter / 4;
        s.progress_value = kProgress[s.step_counter % 4];
    }
    write_byte(s.group_addr + s.progress_offset, s.progress_value);
    write_byte(s.mirror_addr + s.progress_offset, s.progress_value);
    if (++s.step_counter == kGroupSteps) group_filled();
    s.last_tick = G_timeTicks;
}

// At minute 30 of a run: the group with the run's first 30 minutes, and the run's log entry.
void clock_record_run::open_first_group() {
    ClockRecordState& s = g_clock_record;
    new_record_group_init(s.group_index);
    for (uint32_t copy : {s.group_addr, s.mirror_addr}) {
        ExFlash_WR(copy + 33, s.stamp, 7);
        ExFlash_WR(copy + kProgressAt, kFirstProgress, 4);
        write_byte(copy, kMarked);
    }
    uint8_t tail[4] = {s.status};
    put24(tail + 1, s.sequence);
    ExFlash_WR(s.log_addr + 1, s.stamp, 7);
    ExFlash_WR(s.log_addr + 12, tail, 4);
    write_byte(s.log_addr, kMarked);
    s.first_group_pending = 0;
    s.step_counter = 14;
    s.progress_value = 0xD5;
    s.progress_offset = kProgressAt + 3;
}

void clock_record_run::group_filled() {
    ClockRecordState& s = g_clock_record;
    uint8_t field[4];
    put32(field, 2 * kGroupSteps);
    ExFlash_WR(s.log_addr + 8, field, 4);
    ++s.group_index;
    stamp_from_time_record();
    s.sequence = get_new_seq(2 * kGroupSteps, s.sequence);
    s.base_minutes += 2 * kGroupSteps;
    // The filled group's minutes are in the base now; counting them on would count them twice.
    s.minutes_counter = 0;
    new_record_group_init(s.group_index);
    s.step_counter = 0;
}

// ---------------------------------------------------------------------------------------
// Clock set and the PC's view

void clock_record_run::dealwith_record_timing() {
    zem::MutexLocker lock(mutex_);
    if (!g_clock_record.running) {
        // Marked once the run's record is read (unless it can't be).
        mark_pending_ = !flash_failed_;
        return;
    }
    mark_clock_set();
}

void clock_record_run::mark_clock_set() {
    ClockRecordState& s = g_clock_record;
    s.status = kClockSet;
    if (!s.first_group_pending) {
        write_byte(s.log_addr + 12, s.status);
        write_byte(kGroupAddr + kGroupSize * s.group_index + kStatusAt, s.status);
        return;
    }
    // The group about to be opened; after a full ring that is group 0 of an emptied sector.
    if (s.group_index >= kGroups) {
        uint8_t head[2] = {0, 0};
        ExFlash_RD(kGroupAddr, 2, head);
        if (head[0] != 0xFF || head[1] != 0xFF) ExFlash_Erase_Format(sector_of(kGroupAddr));
    }
    write_byte(kGroupAddr + kGroupSize * (s.group_index % kGroups) + kStatusAt, s.status);
}

uint32_t clock_record_run::pc_record(uint8_t* out, uint32_t cap) {
    zem::MutexLocker lock(mutex_);
    const ClockRecordState& s = g_clock_record;
    if (!s.running || cap < kPcRecordSize) return 0;
    put32(out, s.base_minutes + s.minutes_counter);
    put32(out + 4, s.minutes_since_start);
    put24(out + 8, s.sequence);
    std::memcpy(out + 11, s.stamp, 7);
    return kPcRecordSize;
}
