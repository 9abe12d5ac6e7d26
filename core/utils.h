// Shared utilities of every subsystem: the named mutexes, the XOR check byte, shell commands
// through the platform's shell seam, tick time spans and raw MTD flash erase and write.
//
// Lock order, outermost first. The PC links' command mutex (ZemRamPara::command_mutex), held
// by the configuration commands and register writes only, comes before every other: a box
// command may take any of them, and nothing holding one takes it.
// Video-processor side: the C331 mutex (c331_manage::c331_mutex), then the store's own mutex
// (ZemRamPara::mutex) or _led_para_init_mutex, then _c331_bnk_mutex, then
// _spi_mutex. _source_hdminfo_mutex is taken only outside the C331 mutex.
// FPGA side: the FPGA manager's IRQ mutex, then _spi_mutex or its mirror mutex (never both);
// the card pass-through takes the IRQ mutex outside the command mutex.
// Files: _file_deal_mutex, then _system_mutex (the "sync" that ends a save); neither is held
// under the C331 mutex. The parameter store's file work runs on its saver thread (core/saver.h),
// never on the main thread, whose tick a sync and its pause would stall; the saver's own mutex
// is a leaf (requests post into it under the C331 mutex), and its thread takes the C331 mutex
// only to end a save request (RAM 868), holding no other lock.
// RAM words other threads write (866, 868, 2116, the slots) are guarded by the C331 mutex, the
// source timings (RAM 256..291) by the store's own. The FPGA thread never takes the C331 mutex
// or the store's (register 11 holds the C331 mutex, then the size handshake's lock, whose step
// takes rmw_mutex). The user's close-LED and brightness (RAM 2116, 2176) reach it as messages:
// the C331 apply, under the C331 mutex, posts each with its word's write generation into the
// FPGA manager's mailbox (fpga/user_words.h), whose mutex is a leaf; the FPGA side takes them
// under rmw_mutex. Its echoes go to the store (ZemRamPara::post_word, under the store's posted-
// word lock, a leaf too) with the generation of the user's word they were built on, and the
// next refresh writes one under the C331 mutex only while the word is still at it. The LED size
// in force and its image offset (RAM 1378..1384) reach its bring-up from the set the store
// keeps, both in one step under the C331 mutex (core/led_in_force.h), whose mutex is a leaf too.
// _config_mutex, then the configuration engine's own mutex; nothing else is taken under them.
// The PC links' silence record (core/link_activity.h) has a leaf mutex, taken after the C331
// mutex and never held while taking it: the store asks it under the C331 mutex, the links'
// threads around each frame, the main tick to look before it takes any lock and, for an owner
// that looks silent, again under the C331 mutex.
#pragma once

#include <QString>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/thread_safety.h"
#include "platform/mtd.h"

class Utils {
public:
    // The shell seam runs one command at a time; no memory of its own.
    static zem::Mutex _system_mutex;
    // No user left; kept as one of the box's named locks.
    static zem::Mutex _usleep_mutex;
    // The LED size handshake's state (core/led_size_handshake.h).
    static zem::Mutex _led_para_init_mutex;
    // One message on the shared SPI bus, with the pad lines that route it (the C331 driver's
    // error count, the FPGA manager's select lines).
    static zem::Mutex _spi_mutex;
    // The FPGA manager's sending-card tables (fpga_manage::ram_para and the command RAM) that
    // the PC reads and writes.
    static zem::Mutex _fpga_multicast_mutex;
    // The C331's bank select (c331_drv::bank): one field with its bank.
    static zem::Mutex _c331_bnk_mutex;
    // The files of parameters, modes, recovery and transfers: one writer or reader at a time
    // (and the configuration's handle slot, ConfigEngine::fp_ram_device_info).
    static zem::Mutex _file_deal_mutex;
    // No user left; kept as one of the box's named locks.
    static zem::Mutex _source_init_mutex;
    // No user left; kept as one of the box's named locks.
    static zem::Mutex _check_nosig_mutex;
    // The sources' records (raviksource's HDMI information and its stable flag).
    static zem::Mutex _source_hdminfo_mutex;
    // The refresh signal's emitters, one at a time; no memory of its own.
    static zem::Mutex _test_signal_mutex;
    // Guards the globals that getIPAddress loads from the configuration, and g_str_mac: the
    // PC's commands change them while the main and WiFi threads read them.
    static zem::Mutex _config_mutex;

    // A copy of one of those globals, taken under _config_mutex (by address: the analysis
    // checks the read here, under the lock).
    template <typename T>
    static T configValue(const T* global) EXCLUDES(_config_mutex) {
        zem::MutexLocker lock(_config_mutex);
        return *global;
    }

    // A clock setting as the PC or the command table gives it, every field in BCD.
    struct BcdClock {
        uint8_t century, year, month, day, hour, minute, second;
    };
    struct ClockValue {
        int year, month, day, hour, minute, second;
    };
    // The plain values of a BCD clock setting, or false when a byte is not BCD, a field is out
    // of range, the calendar lacks the date (30 February), or the box can't hold the moment: its
    // kernel, "date" and "hwclock" keep the clock as signed 32-bit seconds from 1970 (UTC).
    // Nothing is built from a setting refused here.
    static bool clock_from_bcd(const BcdClock& in, ClockValue& out);

    // XOR of len bytes; 0 for len 0.
    static uint8_t BCC(const uint8_t* data, uint32_t len);

    // Runs cmd (as Latin-1) through the shell under _system_mutex. status, when not null,
    // receives the raw wait status. 0 when the command returned 0, else 255.
    static int system_mutex(const QString& cmd, int* status = nullptr);

    // Everything cmd prints, read through a line buffer of n bytes; empty when it can't start.
    static std::string shell_exec(const char* cmd, int n);

    // Ticks of G_timeTicks since start; one less when the counter wrapped.
    static uint32_t getTimeSpace(uint32_t start);

    // MTD erase of length bytes from start, in whole erase blocks (length rounded up), each
    // unlocked first when unlock is non-zero. Results: 0 done (also for length 0);
    // 8 an unlock or erase was refused (mtd is then closed); 9 nothing erased: the device
    // information could not be read, the device reports an erase size of 0, or the blocks
    // would pass the partition's end.
    static int non_region_erase(platform::MtdPartition& mtd, uint32_t start, uint32_t length,
                                int unlock);
    // MTD write of size bytes at offset in pages of the device's write size, then the tail.
    // Results: 0 done; 1 failed: the device information could not be read, the device reports
    // a write size of 0, the area passes the partition's end (nothing written), or a write
    // came up short.
    static int non_region_write(platform::MtdPartition& mtd, const uint8_t* data, uint32_t size,
                                uint32_t offset);
    // Reads size bytes at offset back and compares them with data: 0 the same; 1 they differ
    // or could not be read (logged).
    static int non_region_verify(platform::MtdPartition& mtd, const uint8_t* data, uint32_t size,
                                 uint32_t offset);

    // Loads the configuration items into their globals under _config_mutex; 0, or 255 without a
    // configuration.
    static int getIPAddress();
    // Network set-up of eth0 (address, netmask, gateway) through the shell: initIPAddress with
    // the configured values (reloading the globals), init_resteth with the ones given.
    // 0 done; 255 when eth0 is not there, or when an address or mask is not a dotted IPv4
    // address (then nothing runs at all).
    static int initIPAddress();
    static int init_resteth(const QString& ip, const QString& gateway, const QString& mask);
    // Four dot-separated decimal parts 0..255, no sign, blank or leading zero.
    static bool isDottedIPv4(const QString& text);
    // A TCP or UDP port: 1..5 decimal digits, 1..65535; the number in port.
    static bool isPort(const QString& text, uint32_t& port);
};
