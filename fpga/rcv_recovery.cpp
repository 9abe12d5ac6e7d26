#include "fpga/rcv_recovery.h"

#include <QDir>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "core/globals.h"
#include "core/utils.h"
#include "platform/box.h"
#include "platform/own_files.h"

namespace {

uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(get16(p)) | uint32_t(get16(p + 2)) << 16;
}

constexpr uint32_t kOperateSize = 18;
constexpr uint32_t kScanBlock = 16;  // a scan file's smart-debugging block

}  // namespace

int rcvRecovery::check_file_dir(const QString& dir) {
    const std::string local = platform::path(dir.toStdString());
    std::error_code ec;
    if (std::filesystem::is_directory(local, ec)) {
        ZEM_DEBUG("\n %s exists !/n", dir.toLocal8Bit().constData());
        return 0;
    }
    if (platform::makeDirs(local) == 0) return 1;
    writeLogMsg(1, "rcvRecovery: directory could not be made");
    return 0;
}

int rcvRecovery::get_dir_file(const QString& dir) {
    const QDir d(QString::fromStdString(platform::path(dir.toStdString())));
    if (!d.exists()) return 1;
    const QStringList names = d.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    zem::MutexLocker lock(lists_mutex_);
    if (dir == "/data/rcvrecovery")
        recovery_file_list = names;
    else if (dir == "/data/smartmapping" || dir == "/mnt/usb1/")
        smart_file_list = names;
    return 0;
}

QStringList rcvRecovery::files(bool recovery) {
    zem::MutexLocker lock(lists_mutex_);
    return recovery ? recovery_file_list : smart_file_list;
}

void rcvRecovery::init_para() {
    screen_record.rcv_para_offset = screen_record.rcv_para_len = 0;
    screen_record.rcv_xy_offset = screen_record.rcv_xy_len = 0;
}

bool rcvRecovery::read_at(uint32_t pos, uint8_t* out, uint32_t len, const char* what) {
    const std::string local = platform::path(file_path.toStdString());
    zem::MutexLocker lock(Utils::_file_deal_mutex);
    if (!platform::mayRead(local, "the receiving-card file is not read")) {
        file_refused = true;
        return false;
    }
    std::FILE* f = std::fopen(local.c_str(), "rb");  // these files are only ever read
    if (!f) {
        file_refused = true;
        ZEM_DEBUG("\n can not open the file ");
        writeLogMsg(2, "receiving-card file: can not open the file");
        return false;
    }
    const bool ok = std::fseek(f, long(pos), SEEK_SET) == 0 && std::fread(out, 1, len, f) == len;
    std::fclose(f);
    if (!ok) {
        file_refused = true;
        char line[128];
        std::snprintf(line, sizeof line, "receiving-card file refused: %s at %#x lies past its end",
                      what, pos);
        writeLogMsg(2, line);
        ZEM_DEBUG("\n %s \n", line);
    }
    return ok;
}

bool rcvRecovery::refuse(const char* what) {
    file_refused = true;
    char line[128];
    std::snprintf(line, sizeof line, "receiving-card file refused: %s", what);
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
    return true;
}

uint32_t rcvRecovery::sub_file_offset(uint8_t type) const {
    uint32_t offset = 0;
    for (int i = 0; i < sub_file_count(); ++i)
        if (sub_files[i].file_type == type) offset = sub_files[i].offset;
    return offset;
}

bool rcvRecovery::inside(uint8_t type, uint32_t pos, uint32_t len) const {
    for (int i = sub_file_count() - 1; i >= 0; --i) {
        const PackedFileInfo& f = sub_files[i];
        if (f.file_type != type) continue;
        return pos >= f.offset && pos - f.offset <= f.length && len <= f.length - (pos - f.offset);
    }
    return false;
}

bool rcvRecovery::has_sub_file(uint8_t type) const {
    for (int i = 0; i < sub_file_count(); ++i)
        if (sub_files[i].file_type == type) return true;
    return false;
}

// ---------------------------------------------------------------------------------------
// Packed file: head, sub-file table, screens

uint8_t rcvRecovery::get_rcvPackedFileNum() {
    uint8_t head[4];
    if (!read_at(0, head, 4, "file head")) return 1;
    if (head[3] > kSubFiles && refuse("more sub-files than the table holds")) return 1;
    std::copy(head, head + 4, file_head);
    ZEM_DEBUG("\n pack file num = %d  \n", file_head[3]);
    return 0;
}

uint8_t rcvRecovery::get_rcvPackedFileInfo(uint8_t i) {
    if (i >= sub_file_count() && refuse("sub-file index past the table")) return 1;
    uint8_t b[12];
    if (!read_at(4 + 12u * i, b, 12, "sub-file table")) return 1;
    sub_files[i] = {b[0], get32(b + 4), get32(b + 8)};
    ZEM_DEBUG("\n packed file%d info(file_type = %#x) \n", i, b[0]);
    ZEM_DEBUG("\n packed file%d info(length = %#x) \n", i, sub_files[i].length);
    ZEM_DEBUG("\n packed file%d info(offset = %#x) \n", i, sub_files[i].offset);
    return 0;
}

uint8_t rcvRecovery::update_rcvScreenHead() {
    uint8_t b[32];
    if (!read_at(sub_file_offset(kScreenFile), b, 32, "screen head")) {
        writeLogMsg(2, "file error");
        return 1;
    }
    if (!inside(kScreenFile, sub_file_offset(kScreenFile), 32u + 52u * b[20]) &&
        refuse("more screens than the screen sub-file holds"))
        return 1;
    screen_head = {b[2], get32(b + 4), get32(b + 8), get32(b + 12), get32(b + 16), b[20]};
    ZEM_DEBUG("\n screen_num (screen_num = %#x) \n", screen_head.screen_num);
    return 0;
}

uint8_t rcvRecovery::update_rcvScreenIDinfo(uint8_t s) {
    if (screen_head.screen_num == 0 || s >= screen_head.screen_num) return 1;
    uint8_t b[52];
    if (!read_at(sub_file_offset(kScreenFile) + 32 + 52u * s, b, 52, "screen record")) return 1;
    screen_record = {get32(b),      get32(b + 4),  get32(b + 36),
                     get32(b + 40), get32(b + 44), get32(b + 48)};
    ZEM_DEBUG("\nscreen%d --config id = %#x \n", s + 1, screen_record.config_id);
    return 0;
}

// ---------------------------------------------------------------------------------------
// XY sub-file: nets and cards

uint8_t rcvRecovery::update_rcvXYHead() {
    if (!has_sub_file(kXyFile) && refuse("no XY sub-file")) return 1;
    return read_at(sub_file_offset(kXyFile), xy_head, 16, "XY head") ? 0 : 1;
}

uint8_t rcvRecovery::read_count(uint32_t pos, uint16_t* out, const char* what) {
    uint8_t b[2];
    if (!read_at(pos, b, 2, what)) return 1;
    // The walks index nets, cards and operations with one byte.
    if (get16(b) > 255 && refuse("a count above 255")) return 1;
    *out = get16(b);
    return 0;
}

uint8_t rcvRecovery::update_rcvXYscreenNetnum() {
    if (!has_sub_file(kXyFile) && refuse("no XY sub-file")) return 1;
    const uint32_t at = sub_file_offset(kXyFile) + screen_record.rcv_xy_offset;
    uint16_t nets = 0;
    if (read_count(at, &nets, "net count")) return 1;
    if (!inside(kXyFile, at, 4u + 12u * nets) && refuse("more nets than the XY sub-file holds"))
        return 1;
    screen_net_num = nets;
    ZEM_DEBUG("\n screen_net_num = %d \n", screen_net_num);
    return 0;
}

uint8_t rcvRecovery::update_rcvXYscreenNetpara(uint8_t n) {
    if (n >= screen_net_num && refuse("net index past the screen's nets")) return 1;
    uint8_t b[12];
    const uint32_t at = sub_file_offset(kXyFile) + screen_record.rcv_xy_offset + 4 + 12u * n;
    if (!read_at(at, b, 12, "net record")) return 1;
    net_record = {get16(b), get16(b + 2), get32(b + 4), get32(b + 8)};
    ZEM_DEBUG("\n net_index%d --net_ledx = %#x \n", n + 1, net_record.net_ledx);
    ZEM_DEBUG("\n net_index%d --net_rcv_num = %#x \n", n + 1, net_record.net_rcv_num);
    return 0;
}

uint32_t rcvRecovery::net_block() const {
    return sub_file_offset(kXyFile) + screen_record.rcv_xy_offset + net_record.net_para_offset;
}

uint8_t rcvRecovery::update_rcvXYrcvOperateTimes(uint8_t r, bool) {
    if (r >= net_record.net_rcv_num && refuse("card index past the net's cards")) return 1;
    // Card records follow one another: a u16 count, 2 bytes, then that many operations.
    uint32_t offset = 0;
    uint16_t n = 0;
    for (uint8_t j = 0; j < r; ++j) {
        if (read_count(net_block() + offset, &n, "card record")) return 1;
        offset += 4 + kOperateSize * n;
    }
    if (read_count(net_block() + offset, &n, "card record")) return 1;
    card_record_offset = offset;
    rcv_operate_times = n;
    ZEM_DEBUG("\t fseek_offset      = %#x \n", net_block() + offset);
    ZEM_DEBUG("\t rcv_operate_times = %#x \n", rcv_operate_times);
    writeLogMsg(3, "rcv_id = ");
    return 0;
}

uint8_t rcvRecovery::read_operate(uint32_t records, uint8_t k, const char* what) {
    if (k >= rcv_operate_times && refuse("operation index past the operation count")) return 1;
    uint8_t b[kOperateSize];
    if (!read_at(records + kOperateSize * k, b, kOperateSize, what)) return 1;
    const OperateRecord op = {get32(b), get32(b + 4), get32(b + 8), get32(b + 12), b[16], b[17]};
    if (op.type == kSleep && op.timeticks > kSleepCapMs && refuse("a sleep above 60 s")) return 1;
    operate_record = op;
    ZEM_DEBUG("\t offset        = %#x \n", operate_record.offset);
    ZEM_DEBUG("\t dataLen       = %#x \n", operate_record.dataLen);
    ZEM_DEBUG("\t targetAddr    = %#x \n", operate_record.targetAddr);
    ZEM_DEBUG("\t timeticks     = %#x \n", operate_record.timeticks);
    ZEM_DEBUG("\t type          = %#x \n", operate_record.type);
    ZEM_DEBUG("\t target        = %#x \n", operate_record.target);
    writeLogMsg(3, "operate_id = ");
    return 0;
}

uint8_t rcvRecovery::update_rcvXYrcvOperatepara(uint8_t k, bool) {
    ZEM_DEBUG("\t operate_deal_para(xy) ....");
    return read_operate(net_block() + card_record_offset + 4, k, "card operation");
}

// ---------------------------------------------------------------------------------------
// Smart-debugging blocks (packed file type 12, or a scan file's block at 16)

uint8_t rcvRecovery::update_smartDebugingHead() {
    return read_at(0, smart_head, 16, "scan file head") ? 0 : 1;
}

uint32_t rcvRecovery::smart_block(bool scan) const {
    return scan ? kScanBlock : sub_file_offset(kSmartFile) + screen_record.rcv_para_offset;
}

uint8_t rcvRecovery::update_smartDebugingOperateTimes(bool scan) {
    if (!scan && !has_sub_file(kSmartFile) && refuse("no smart-debugging sub-file")) return 1;
    if (read_count(smart_block(scan), &rcv_operate_times, "operation count")) return 1;
    card_record_offset = 0;
    ZEM_DEBUG("\n rcv_operate_times = %d \n", rcv_operate_times);
    return 0;
}

uint8_t rcvRecovery::update_smartDebugingOperatepara(uint8_t k, bool scan) {
    ZEM_DEBUG("\t operate_deal_para(smart_debug) ....");
    return read_operate(smart_block(scan) + 4, k, "smart-debugging operation");
}

uint8_t rcvRecovery::update_rcvOperatedata(uint32_t position, uint8_t* buffer, uint16_t length) {
    if (!buffer) return 1;
    return read_at(position, buffer, length, "operation data") ? 0 : 1;
}

uint8_t rcvRecovery::update_rcvDealData(uint8_t* buffer, uint32_t* length) {
    if (!buffer || !length || operate_record.dataLen > 0xFFFF) return 1;
    if (!read_at(operate_record.offset, buffer, operate_record.dataLen, "operation data")) return 1;
    *length = operate_record.dataLen;
    return 0;
}

uint32_t rcvRecovery::operation_data(bool smart, bool scan) const {
    return (smart ? smart_block(scan) : net_block()) + operate_record.offset;
}

uint32_t rcvRecovery::wait_limit_ms(const OperateRecord& op, uint16_t cards) {
    if (op.type != kRamToFlash) return op.timeticks;
    return uint32_t(std::min<uint64_t>(op.timeticks + 1000ull * cards, UINT32_MAX));
}

namespace {

// Frames of the operation that wait for an acknowledgement (a sleep counts as one).
uint32_t frame_count(const rcvRecovery::OperateRecord& op, uint16_t cards, bool scan) {
    switch (op.type) {
        case rcvRecovery::kWrite:
            if (op.target == rcvRecovery::kRam) return op.dataLen / rcvRecovery::kPacketSize + 1;
            return op.target == rcvRecovery::kRegister ? 1 : 0;
        case rcvRecovery::kActiveFirmware:
        case rcvRecovery::kReconfig:
            return scan ? std::max<uint16_t>(cards, 1) : 1;
        case rcvRecovery::kRamToFlash:
        case rcvRecovery::kSleep:
        case rcvRecovery::kSearchRxc:
        case rcvRecovery::kUserDefined:
            return 1;
        default:
            return 0;
    }
}

bool resent(const rcvRecovery::OperateRecord& op) {
    return op.type != rcvRecovery::kSleep && op.type != rcvRecovery::kSearchRxc;
}

constexpr uint64_t kPassesPerSendMs = 20;  // the pass that sends, the one that sees the limit

}  // namespace

uint64_t rcvRecovery::limit_ms(const OperateRecord& op, uint16_t cards, bool scan) {
    return uint64_t(wait_limit_ms(op, cards)) * frame_count(op, cards, scan);
}

uint64_t rcvRecovery::bound_ms(const OperateRecord& op, uint16_t cards, bool scan) {
    const uint64_t sends =
        uint64_t(frame_count(op, cards, scan)) * (resent(op) ? 1 + kMaxResends : 1);
    return sends * (wait_limit_ms(op, cards) + kPassesPerSendMs);
}

uint8_t rcvRecovery::check_operations(bool smart, bool scan, uint16_t cards) {
    const OperateRecord kept = operate_record;
    const uint32_t records = smart ? smart_block(scan) + 4 : net_block() + card_record_offset + 4;
    uint8_t last = 0;
    // A scan file is one block to its end; the packed file's blocks lie in their sub-file.
    const auto fits = [&](uint32_t pos, uint32_t len) {
        if (scan)
            return len == 0 ||
                   (len <= 0xFFFFFFFFu - pos && read_at(pos + len - 1, &last, 1, "data"));
        return inside(smart ? kSmartFile : kXyFile, pos, len);
    };
    if (!fits(records, kOperateSize * rcv_operate_times) &&
        refuse("more operations than the file holds"))
        return 1;
    uint64_t sum = 0, bound = 0;
    for (uint16_t k = 0; k < rcv_operate_times; ++k) {
        if (read_operate(records, uint8_t(k), "operation")) return 1;
        if (!fits(operation_data(smart, scan), operate_record.dataLen) &&
            refuse("operation data outside the file"))
            return 1;
        sum += limit_ms(operate_record, cards, scan);
        bound += bound_ms(operate_record, cards, scan);
    }
    if (sum > kLimitCeilingMs && refuse("time limits adding up to more than 60 minutes")) return 1;
    operate_record = kept;
    limit_sum_ms = sum;
    bound_sum_ms = bound;
    return 0;
}
