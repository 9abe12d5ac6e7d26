// Replay of one stored operation onto the cards of a port, a step per call: RAM data in packets
// of 1000 bytes, each frame waiting for the card's acknowledgement within the record's time
// limit and sent again up to three times.
#include <algorithm>
#include <cstdio>

#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_recovery.h"

namespace {

using namespace send_para;

enum SubStep : uint8_t {
    kBegin = 20,
    kCards = 21,
    kChoose = 22,
    kRamPacket = 23,
    kRegister = 24,
    kFirmware = 25,
    kSave = 26,
    kReconfig = 27,
    kSleeping = 28,
    kSearch = 29,
    kUserFrame = 30,
    kWaiting = 31,
    kFinished = 32,
};

constexpr uint32_t kPacketSize = rcvRecovery::kPacketSize;
constexpr uint8_t kMaxResends = rcvRecovery::kMaxResends;
constexpr uint8_t kMaxReadRetries = 50;  // a file that went away ends the operation
// A replay may run for what its file's frames can take and this much more (the job's other
// steps), and no longer: it would hold the mailbox and every later job. Time the PC's frames
// pause it does not count.
constexpr uint32_t kReplayMarginTicks = 6000;  // 60 s

void sub_step(uint8_t s) {
    g_send_para[kSubStep] = s;
}

}  // namespace

void fpga_manage::replay_failed(const char* why) {
    ++replay_failures;
    char line[128];
    std::snprintf(line, sizeof line, "card operation of type %d on port %d failed: %s",
                  rcv_recovery->operate_record.type, rcv_recovery->net_record.net_ledx, why);
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
    sub_step(kFinished);
}

int fpga_manage::load_rcv_xy_operate(const QString& path, uint32_t position, bool scan) {
    rcvRecovery& r = *rcv_recovery;
    r.file_path = path;
    const rcvRecovery::OperateRecord& op = r.operate_record;
    const uint16_t port = r.net_record.net_ledx;
    const uint8_t sub = g_send_para[kSubStep];
    switch (sub) {
        case kBegin:
            g_send_para[kResends] = 0;
            replay_read_failures_ = 0;
            sub_step(kCards);
            return 0;
        case kCards: {
            const uint16_t n = get_port_card_num(uint8_t(port));
            set_send_para_u16(kCardCount, n);
            set_send_para_u16(kCardIndex,
                              scan ? uint16_t(n ? n - 1 : 0) : uint16_t(g_send_para[kStartCard]));
            sub_step(kChoose);
            return 0;
        }
        case kChoose:
            choose_replay();
            return 0;
        case kRamPacket:
        case kRegister:
        case kFirmware:
        case kSave:
        case kReconfig:
        case kSearch:
        case kUserFrame:
            replay_send(sub, position, scan);
            return 0;
        case kSleeping:
            // The reader refused a sleep above its cap.
            if (Utils::getTimeSpace(send_para_u32(kStepTick)) >= op.timeticks / 10)
                sub_step(kFinished);
            return 0;
        case kWaiting:
            replay_wait(scan);
            return 0;
        case kFinished:
            return 1;
        default:
            return 0;
    }
}

void fpga_manage::replay_begins() {
    replay_ran_ticks_ = 0;
    replay_failures_before_ = replay_failures;
    replay_bound_ticks_ = kReplayMarginTicks;
}

void fpga_manage::replay_clock() {
    replay_ran_ticks_ += job_ran_ticks_;
}

void fpga_manage::replay_bound_adds(uint64_t ms) {
    replay_bound_ticks_ += uint32_t(std::min<uint64_t>(ms / 10, UINT32_MAX - replay_bound_ticks_));
}

bool fpga_manage::replay_past_bound() {
    if (replay_ran_ticks_ <= replay_bound_ticks_) return false;
    ++replay_failures;
    char line[96];
    std::snprintf(line, sizeof line, "card file replay ran past its bound of %u s: stopped",
                  replay_bound_ticks_ / 100);
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
    return true;
}

void fpga_manage::choose_replay() {
    const rcvRecovery::OperateRecord& op = rcv_recovery->operate_record;
    const uint16_t cards = send_para_u16(kCardCount);
    replay_limit_ = op.timeticks;
    g_send_para[kPackets] = 1;
    g_send_para[kPacket] = 0;
    uint8_t next;
    switch (op.type) {
        case rcvRecovery::kWrite:
            if (op.target != rcvRecovery::kRam && op.target != rcvRecovery::kRegister)
                return replay_failed("target not replayable");
            next = op.target == rcvRecovery::kRam ? kRamPacket : kRegister;
            if (next == kRamPacket) {
                if (op.dataLen / kPacketSize + 1 > 255) return replay_failed("data too long");
                g_send_para[kPackets] = uint8_t(op.dataLen / kPacketSize + 1);
            }
            break;
        case rcvRecovery::kRamToFlash:
            replay_limit_ = rcvRecovery::wait_limit_ms(op, cards);  // each card saves in turn
            next = kSave;
            break;
        case rcvRecovery::kActiveFirmware:
            next = kFirmware;
            break;
        case rcvRecovery::kReconfig:
            next = kReconfig;
            break;
        case rcvRecovery::kSleep:
            set_send_para_u32(kStepTick, now_tick());
            next = kSleeping;
            break;
        case rcvRecovery::kSearchRxc:
            next = kSearch;
            break;
        case rcvRecovery::kUserDefined:
            next = kUserFrame;
            break;
        default:
            // Upgrade and unknown types have no frame: the operation ends, reported.
            return replay_failed("type not replayable");
    }
    // A single-frame operation carries at most one packet of data.
    if (next != kRamPacket && next != kSave && next != kSleeping && op.dataLen > kPacketSize)
        return replay_failed("data longer than one frame");
    ZEM_DEBUG(next == kRamPacket ? "\n send load scan write step : write ram!!1!!!,packet=%d \n"
              : next == kRegister
                  ? "\n send load scan write step : write register!!1!!!,packet=%d \n"
                  : "\n send load scan write step : error!!1!!!,packet=%d \n",
              g_send_para[kPackets].load());
    sub_step(next);
}

void fpga_manage::replay_send(uint8_t sub, uint32_t position, bool scan) {
    rcvRecovery& r = *rcv_recovery;
    const rcvRecovery::OperateRecord& op = r.operate_record;
    const uint8_t port = uint8_t(r.net_record.net_ledx), in_fpga = uint8_t(port % 10);
    const uint16_t card = send_para_u16(kCardIndex) & 0xFF;  // frames use the low byte
    const bool resending = g_send_para[kResends] != 0;
    const uint8_t packet = uint8_t(g_send_para[kPacket] + (resending ? 0 : 1));
    uint32_t len = op.dataLen, offset = 0;
    if (sub == kRamPacket) {
        len = packet < g_send_para[kPackets] ? kPacketSize : op.dataLen % kPacketSize;
        offset = kPacketSize * (packet - 1u);
    }
    uint8_t* data = replay_data_;
    const bool needs_data = sub != kSave && len;
    if (needs_data && r.update_rcvOperatedata(position + offset, data, uint16_t(len))) {
        // Tried again next call, a bounded number of times.
        set_send_para_u32(kStepTick, now_tick());
        if (++replay_read_failures_ >= kMaxReadRetries) replay_failed("data not readable");
        return;
    }
    uint8_t* frame = job_frame_;
    uint32_t n = 0;
    switch (sub) {
        case kRamPacket:
            load_write_ram_cmd_create(in_fpga, card, op.targetAddr + offset, data, uint16_t(len),
                                      frame, scan);
            ZEM_DEBUG("\n ram create in length = %d ,offset = %#x, send_len=%d\n", int(len),
                      position + offset, send_para_u16(kFrameLength));
            n = send_para_u16(kFrameLength);
            break;
        case kRegister:
            n = load_write_reg_cmd_create(in_fpga, card, data, uint16_t(len), frame, scan);
            break;
        case kFirmware:
            n = rcv_active_firmware_cmd_create(in_fpga, card, data, uint16_t(len), frame);
            break;
        case kSave:
            n = save_para2flash_cmd_create(in_fpga, card, frame, scan);
            break;
        case kReconfig:
            n = rcv_reconfig_cmd_create(in_fpga, card, data, uint16_t(len), frame);
            break;
        case kSearch:
            n = load_search_rxc_cmd_create(in_fpga, data, uint16_t(len), frame);
            break;
        default:
            n = load_write_user_defined_cmd_create(in_fpga, card, data, uint16_t(len), frame, scan);
            break;
    }
    if (n == 0) return replay_failed("frame not built");
    g_send_para[kPacket] = packet;
    replay_sub_ = sub;
    job_send(port, frame, n);
    set_send_para_u32(kStepTick, now_tick());
    sub_step(kWaiting);
}

void fpga_manage::replay_wait(bool scan) {
    const uint8_t sent = replay_sub_;
    const bool per_card = sent == kFirmware || sent == kReconfig;
    const bool last_packet = g_send_para[kPacket] >= g_send_para[kPackets];
    const uint16_t card = send_para_u16(kCardIndex);
    if (g_send_para[kAck]) {
        g_send_para[kAck] = 0;
        g_send_para[kResends] = 0;
        ZEM_DEBUG("\n rcv message back!!! ");
        if (per_card)
            next_card_or_finish(sent, scan, card);
        else
            sub_step(last_packet ? kFinished : kRamPacket);
        return;
    }
    if (Utils::getTimeSpace(send_para_u32(kStepTick)) <= replay_limit_ / 10) return;
    ZEM_DEBUG("\n timeout!!! ");
    const uint8_t resends = g_send_para[kResends];
    if (per_card) {
        if (resends < kMaxResends) {
            g_send_para[kResends] = uint8_t(resends + 1);
            sub_step(sent);
            return;
        }
        g_send_para[kResends] = 0;
        replay_failed("no acknowledgement after three resends");
        if (scan && card > 0) next_card_or_finish(sent, scan, card);
        return;
    }
    if (sent == kSearch) return sub_step(kFinished);
    if (resends < kMaxResends) {
        g_send_para[kResends] = uint8_t(resends + 1);
        sub_step(sent);
        return;
    }
    g_send_para[kResends] = 0;
    replay_failed("no acknowledgement after three resends");
    if (!last_packet) sub_step(kRamPacket);  // the RAM data goes on with the next packet
}

void fpga_manage::next_card_or_finish(uint8_t sent, bool scan, uint16_t card) {
    // Firmware and reconfiguration go to each card of a scan in turn, the last card first.
    if (scan && card > 0) {
        set_send_para_u16(kCardIndex, uint16_t(card - 1));
        sub_step(sent);
    } else {
        sub_step(kFinished);
    }
}
