// Reader of the stored receiving-card configurations: the packed file "/data/rcvrecovery/QZFX"
// (screens, their nets and each card's operations) and the scan files ("qzfile") in
// "/data/smartmapping" or on the USB disk. The jobs of the FPGA thread read one record per call
// into the members below; the pages only list the folders. The box never writes these files.
//
// Every reader returns 0 on success and 1 when the file is missing, cannot be read, or the
// record asked for lies outside what the file and its counts hold (logged once per call); the
// member keeps its old value then.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <mutex>

#include "core/thread_safety.h"

class rcvRecovery {
public:
    static constexpr int kSubFiles = 6;  // entries of the sub-file table
    enum FileType : uint8_t { kScreenFile = 10, kXyFile = 11, kSmartFile = 12 };
    enum OperateType : uint8_t {
        kWrite = 1,
        kRamToFlash = 2,
        kActiveFirmware = 3,
        kUpgradeRcv = 4,
        kReconfig = 5,
        kSleep = 6,
        kSearchRxc = 7,
        kUserDefined = 16
    };
    enum Target : uint8_t { kRam = 1, kRegister = 2, kFlash = 3 };

    struct PackedFileInfo {
        uint8_t file_type;
        uint32_t length;
        uint32_t offset;
    };
    struct ScreenHead {
        uint8_t type;
        uint32_t rcv_para_len, rcv_para_crc32, rcv_xy_len, rcv_xy_crc32;
        uint8_t screen_num;
    };
    struct ScreenRecord {
        uint32_t config_id, net_use;
        uint32_t rcv_para_offset, rcv_para_len, rcv_xy_offset, rcv_xy_len;
    };
    struct NetRecord {
        uint16_t net_ledx, net_rcv_num;
        uint32_t net_para_offset, net_para_len;
    };
    struct OperateRecord {
        uint32_t offset, dataLen, targetAddr, timeticks;
        uint8_t type, target;
    };
    // What a file may ask for: a sleep above kSleepCapMs is refused when its record is read, and
    // a block whose operations' time limits add up to more than kLimitCeilingMs when it is
    // checked.
    static constexpr uint32_t kSleepCapMs = 60000;                  // 60 s
    static constexpr uint64_t kLimitCeilingMs = 60ull * 60 * 1000;  // 60 minutes
    static constexpr uint32_t kPacketSize = 1000;                   // RAM data per frame
    // A frame left unacknowledged is sent again this many times, except a search's.
    static constexpr uint8_t kMaxResends = 3;
    // How long one frame of the operation may wait for its acknowledgement: the record's
    // limit, and for a save 1 s more for each of the port's cards, which save in turn.
    static uint32_t wait_limit_ms(const OperateRecord& op, uint16_t cards);
    // The operation's own time limit: each of its frames waiting out its limit once (a RAM
    // write has a frame a packet, a scan's firmware or reconfiguration one a card), or the
    // sleep. 0 for what is not replayed.
    static uint64_t limit_ms(const OperateRecord& op, uint16_t cards, bool scan);
    // The longest the replay of the operation can run: each send of each frame (1 + kMaxResends
    // for the frames that are sent again) waiting out its limit, and the passes that send it
    // and see the limit pass.
    static uint64_t bound_ms(const OperateRecord& op, uint16_t cards, bool scan);

    rcvRecovery() = default;
    ~rcvRecovery() = default;

    // Creates the directory (a program path) when it is missing: 0 it existed, 1 made,
    // 0 when it could not be made either (logged).
    int check_file_dir(const QString& dir);
    // 1 when the directory is missing; else 0, and for "/data/rcvrecovery" the recovery list,
    // for "/data/smartmapping" or "/mnt/usb1/" the smart list, become the names of its files.
    int get_dir_file(const QString& dir);
    // A copy of the recovery (true) or smart (false) file list.
    QStringList files(bool recovery);
    void init_para();

    uint8_t get_rcvPackedFileNum();
    uint8_t get_rcvPackedFileInfo(uint8_t i);
    uint8_t update_rcvScreenHead();
    uint8_t update_rcvScreenIDinfo(uint8_t s);
    uint8_t update_rcvXYHead();
    uint8_t update_rcvXYscreenNetnum();
    uint8_t update_rcvXYscreenNetpara(uint8_t n);
    uint8_t update_rcvXYrcvOperateTimes(uint8_t r, bool scan);
    uint8_t update_rcvXYrcvOperatepara(uint8_t k, bool scan);
    uint8_t update_smartDebugingHead();
    uint8_t update_smartDebugingOperateTimes(bool scan);
    uint8_t update_smartDebugingOperatepara(uint8_t k, bool scan);
    uint8_t update_rcvOperatedata(uint32_t position, uint8_t* buffer, uint16_t length);
    uint8_t update_rcvDealData(uint8_t* buffer, uint32_t* length);
    // Before anything of a card's (or a smart-debugging block's) operations is sent: every one
    // of the rcv_operate_times records, and its data, must lie in the file, and their limits
    // (for a port of `cards` cards) add up to at most kLimitCeilingMs, kept in limit_sum_ms;
    // their bounds add up in bound_sum_ms.
    // XY operations of the current card (smart false), or the smart-debugging block (of a scan
    // file with scan).
    uint8_t check_operations(bool smart, bool scan, uint16_t cards);
    // Absolute position of the current operation's data.
    uint32_t operation_data(bool smart, bool scan) const;

    // Offset of the last sub-file of a type in the table (0 when there is none).
    uint32_t sub_file_offset(uint8_t type) const;
    // Whether len bytes at pos lie inside the last sub-file of that type.
    bool inside(uint8_t type, uint32_t pos, uint32_t len) const;
    bool has_sub_file(uint8_t type) const;
    uint32_t config_id() const { return screen_record.config_id; }
    // Sub-files the table holds (the file head's count, at most kSubFiles).
    int sub_file_count() const { return file_head[3]; }

    QStringList recovery_file_list GUARDED_BY(lists_mutex_);
    QStringList smart_file_list GUARDED_BY(lists_mutex_);
    uint8_t file_head[4] = {};
    PackedFileInfo sub_files[kSubFiles] = {};
    QString file_path;
    uint32_t operate_data_offset = 0;
    ScreenHead screen_head = {};
    ScreenRecord screen_record = {};
    NetRecord net_record = {};
    OperateRecord operate_record = {};
    uint8_t smart_head[16] = {};
    uint8_t xy_head[16] = {};
    uint16_t screen_net_num = 0;
    uint32_t card_record_offset = 0;
    uint16_t rcv_operate_times = 0;
    uint64_t limit_sum_ms = 0;  // of the block check_operations last took
    uint64_t bound_sum_ms = 0;  // of the same block
    // A read of the file failed or a check refused it, since the job that reads it cleared this.
    bool file_refused = false;

private:
    // Reads len bytes at pos of file_path (read-only); false when the file is missing or
    // shorter, with a log line saying why.
    bool read_at(uint32_t pos, uint8_t* out, uint32_t len, const char* what);
    bool refuse(const char* what);  // logs a record outside the file's counts; true
    uint32_t net_block() const;     // start of the current net's card records
    uint32_t smart_block(bool scan) const;
    uint8_t read_count(uint32_t pos, uint16_t* out, const char* what);  // at most 255
    uint8_t read_operate(uint32_t records, uint8_t k, const char* what);

    zem::Mutex lists_mutex_;  // the GUI lists folders while the FPGA thread reads
};
