// The handlers of the PC protocol's box commands: one function per command byte in one table.
// A handler gets the whole request body (header, data from offset 10, check byte) in a buffer
// of comm::kMaxBody bytes, rewrites the data in place as its reply and returns the number of
// reply data bytes from offset 10. Status bytes: comm::Status.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "c331/c331_manage.h"
#include "comm/link_session.h"
#include "core/thread_safety.h"
#include "core/zem_ram_para.h"

namespace comm {

enum Status : uint8_t {
    kDone = 0,
    kRefused = 1,      // out of range, bad value, or not allowed now
    kUnavailable = 2,  // the subsystem behind the command is missing or failed
    kBadLength = 3,    // the request is shorter than its command needs
    kUnknown = 0xFF,   // no handler for this command byte
};

// Protocol address map of the RAM read and write commands.
constexpr uint32_t kRamBase = 0x0;      // parameter RAM, 4096 bytes
constexpr uint32_t kModeBase = 0x1000;  // user-mode slots, 4096 addresses each
constexpr uint32_t kModeEnd = 0x11000;
constexpr uint32_t kModeSpan = 4098;             // bytes of a slot reachable from its base address
constexpr uint32_t kStatusBase = 0x600880;       // status block, 1024 bytes, read only
constexpr uint32_t kCardTotalBase = 0xA000007C;  // total receiving-card count, u32, read only
// FPGA tables: kFpgaBase | function << 16 | fpga << 12 | offset.
constexpr uint32_t kFpgaBase = 0x80000000;

// Command bytes.
enum Command : uint8_t {
    kCmdWriteRam = 0x60,
    kCmdReadRam = 0x61,
    kCmdEraseFlash = 0x70,
    kCmdWriteFlash = 0x71,
    kCmdReadFlash = 0x72,
    kCmdFileStart = 0x80,
    kCmdFileData = 0x81,
    kCmdFileEnd = 0x82,
    kCmdFileDelete = 0x83,
    kCmdDeviceInfo = 0x90,
    kCmdNetSet = 0x91,
    kCmdMacSet = 0x92,
    kCmdNetSearch = 0x93,
    kCmdBarcode = 0x94,
    kCmdRtcSet = 0x95,
    kCmdRunTime = 0x96,
    kCmdWriteReg = 0xA0,
};

// Controller registers with their own actions.
enum Register : uint8_t {
    kRegComm = 9,       // > 15 starts a PC update, <= 15 ends it
    kRegCom1 = 10,      // any of the low 7 bits starts a PC update, all clear ends it
    kRegMcu = 11,       // apply parameters, recall or sync user modes, reload the OSD menu
    kRegApp = 12,       // bit 0 install the received program, bit 1 reboot
    kRegUpdate0E = 14,  // bit 3 reload the OSD fonts into the C331 flash
};

}  // namespace comm

class message_deal {
public:
    using Handler = int (*)(uint8_t* buf, uint32_t len);

    // Picks the handler by the command byte (offset 9). An unknown command answers kUnknown.
    static int message_group_deal(uint8_t* buf, uint32_t len);
    static Handler handler(uint8_t cmd);

    // RAM over the address map.
    static int write_ram(uint8_t* buf, uint32_t len)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    static int read_ram(uint8_t* buf, uint32_t len)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    // Register file.
    static int write_register(uint8_t* buf, uint32_t len)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    static int reg_cmd_run(uint8_t reg, uint8_t changed)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    static int REG_comm_flag(uint8_t value);
    static int REG_com1_flag(uint8_t value);
    static int REG_mcu_flag(uint8_t value)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    // Register 11's work under the C331 mutex, in this order: the recall, the LED size check,
    // the link's save requests and the synchronisation taken (their count in `taken`), the
    // apply raised. A refused recall takes nothing and skips the rest.
    static int mcu_flag_locked(ZemRamPara* store, uint8_t value, bool fpgas_run, int* taken)
        REQUIRES(c331_manage::c331_mutex) EXCLUDES(ZemRamPara::pInstance()->mutex);
    static int RegUpdate0E(uint8_t value);
    static int REG_app_flag(uint8_t value);
    // C331 serial flash.
    static int cmd_erase_flash(uint8_t* buf, uint32_t len);
    static int cmd_write_flash(uint8_t* buf, uint32_t len);
    static int cmd_read_flash(uint8_t* buf, uint32_t len);
    // File transfer.
    static int write_file_start(uint8_t* buf, uint32_t len);
    static int write_file_data(uint8_t* buf, uint32_t len);
    static int write_file_end(uint8_t* buf, uint32_t len);
    static int delete_file_name(uint8_t* buf, uint32_t len);
    // Removes the "<file>.new" halves that a kill during a transfer's write left: by its exact
    // name beside each file of a fixed name (the file a link leads to, on the box), and any
    // ".new" in the folders of named files (run at start, before the links).
    static void remove_partial_transfers();
    // Device identity and network.
    static int get_device_info(uint8_t* buf, uint32_t len);
    static int net_ip_set(uint8_t* buf, uint32_t len);
    static int init_MAC_address(uint8_t* buf, uint32_t len);
    static int net_eth_search(uint8_t* buf, uint32_t len);
    static int set_barcode(uint8_t* buf, uint32_t len);
    static int write_rtc_time(uint8_t* buf, uint32_t len);
    static int Time_to_RAM(uint8_t* buf, uint32_t len);

    // Guards the file-transfer state and fileBuf_ravik against two links sending at once.
    static zem::Mutex file_mutex;
    // The link whose frame this thread handles (link_session::id): a file transfer is its.
    static thread_local LinkId calling_link;
    // Who owns that link's save requests (link_session::request_owner_of): the 868 write
    // records them for it, its register 11 takes them.
    static thread_local LinkId request_owner;
    // The short commands that change the configuration (network, MAC, barcode, clock) run under
    // the command mutex (ZemRamPara::command_mutex, beside the registers it guards), so two
    // links' changes never interleave. Long jobs (flash erase and write, dumps, font loads, file
    // writes) run outside it: a link busy with one holds up no other link's reads.
};

// The transfer's buffer (core/globals.h) is the PC's file transfer's, under its mutex.
extern uint8_t* fileBuf_ravik PT_GUARDED_BY(message_deal::file_mutex);

// Answers a single status byte at offset 10.
inline int comm_status(uint8_t* buf, uint8_t status) {
    buf[10] = status;
    return 1;
}

// The LED-size handshake of a recall (by the PC or on the panel). Whether both FPGAs run is asked
// before the C331 mutex (the FPGA side's locks come after it); then, holding it, a new LED
// screen size starts the handshake with the FPGA and C331 threads, before the apply is raised.
// With splice_too a changed splice mode (RAM 1376) hands over as well: the factory reset
// restores it with the size.
bool led_fpgas_running();
void led_size_handshake_locked(const ZemRamPara* store, bool fpgas_run, bool splice_too = false);
