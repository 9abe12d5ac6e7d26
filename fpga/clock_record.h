// Operating time of the LED output, kept in the configuration flash of FPGA 0 across power
// cuts: a ring of eight record groups of up to 48 hours each, a mirror copy of every group, and
// a log with one entry per run or per 48 hours. Time counts only while both FPGAs run (the FPGA
// pass calls the step) and is marked when the box's clock is set.
//
// Flash layout, in logical addresses (flash 2 address + 0x14C000), 4 KiB sectors:
//   0x480000  magic AA 5A A5
//   0x481000  record group g at + 512 g (g 0..7)
//   0x482000  mirror of record group g at + 512 g
//   0x483000  log entry n at + 4096 (n / 256) + 16 (n mod 256), n 0..15616
// A group is valid once its byte 0 is 0xAA (written last); its progress bytes count 2-minute
// steps by clearing one more bit each, so a write cut off by a power loss leaves a valid value.
#pragma once

#include <cstdint>
#include <mutex>

#include "core/thread_safety.h"

class fpga_manage;

struct ClockRecordState {
    uint8_t minute_counter;       // minutes of this run, modulo 256; steps on even values
    uint8_t progress_value;       // the last progress byte written
    uint8_t log_sector;           // n / 256 of the current log entry
    uint8_t group_index;          // 0..7; 8: wrap to 0 at the next opening
    uint8_t status;               // 0x5A after the clock was set, else the group's
    uint8_t first_group_pending;  // 1 until the run's first group is opened (minute 30)
    uint8_t running;
    uint8_t stamp[7];       // BCD: year mod 100, century, month, day, hour, minute, second
    uint32_t step_counter;  // steps written in the current group
    uint32_t sequence;      // bits 0..19 log entry, 20..23 times the log wrapped
    uint32_t group_addr;
    uint32_t mirror_addr;
    uint32_t log_addr;
    uint32_t progress_offset;
    uint32_t last_tick;  // G_timeTicks of the last counted minute
    uint32_t minutes_since_start;
    uint32_t minutes_counter;  // minutes counted in the current group beyond base_minutes
    uint32_t base_minutes;     // operating minutes before the current group
};

extern ClockRecordState g_clock_record;

class clock_record_run {
public:
    static constexpr uint32_t kMagicAddr = 0x480000;
    static constexpr uint32_t kGroupAddr = 0x481000;
    static constexpr uint32_t kMirrorAddr = 0x482000;
    static constexpr uint32_t kLogAddr = 0x483000;
    static constexpr uint32_t kFlashOffset = 0x14C000;  // logical less flash 2 address
    static constexpr uint32_t kGroupSize = 512;
    static constexpr int kGroups = 8;
    static constexpr uint32_t kProgressAt = 48;
    static constexpr uint32_t kStatusAt = 44;
    static constexpr uint32_t kGroupSteps = 1440;  // 2880 minutes
    static constexpr uint32_t kLastLogEntry = 15616;
    static constexpr uint32_t kPcRecordSize = 18;

    explicit clock_record_run(fpga_manage& owner) : mgr_(owner) {}

    void clock_record_init();
    void clock_record_deal();
    void dealwith_record_timing();
    // The record for the PC: u32 total minutes, u32 minutes of this run, the 3-byte sequence
    // and the 7-byte stamp, all little-endian; its length, or 0 before the flash was read.
    uint32_t pc_record(uint8_t* out, uint32_t cap);
    // Fresh state, as at the start of the program.
    void clear();

    // Flash 2 at logical addresses; results of the flash layer (1 done).
    int ExFlash_RD(uint32_t addr, uint32_t len, uint8_t* out);
    int ExFlash_WR(uint32_t addr, const uint8_t* data, uint32_t len);
    int ExFlash_Erase_Format(uint32_t sector);

    int check_record_sec();
    void copy_sec_data(uint32_t from_sector, uint32_t to_sector);
    void get_last_record_info(uint8_t g) REQUIRES(mutex_);
    uint32_t get_new_seq(uint32_t minutes, uint32_t seq) REQUIRES(mutex_);
    void new_record_group_init(uint8_t g) REQUIRES(mutex_);

    // g_clock_record is also read by the PC's thread and marked by the thread that sets the
    // clock; the flash sequences run under it too. One record, one lock (the FPGA manager's run).
    static zem::Mutex mutex_;

private:
    void write_byte(uint32_t addr, uint8_t value);
    void stamp_from_time_record() REQUIRES(mutex_);
    void open_first_group() REQUIRES(mutex_);
    void group_filled() REQUIRES(mutex_);
    void mark_clock_set() REQUIRES(mutex_);

    fpga_manage& mgr_;
    // The clock was set before the record was read.
    bool mark_pending_ GUARDED_BY(mutex_) = false;
    // The groups could not be read: nothing is written.
    bool flash_failed_ GUARDED_BY(mutex_) = false;
};

extern ClockRecordState g_clock_record GUARDED_BY(clock_record_run::mutex_);
