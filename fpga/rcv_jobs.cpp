// The long receiving-card jobs that pages post in the command mailbox g_send_para, one step per
// FPGA pass: the rules they share (pause while the PC talks to the cards, waits with a time
// limit, progress, the end) and tasks 1 (quick lighting), 3 (save parameters into the cards)
// and 4 (mapping on or off).
#include <algorithm>

#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"

namespace {

using namespace send_para;

constexpr uint32_t kLightingLimit = 1200;  // ticks a card has to acknowledge
constexpr uint32_t kPcPause = 80;          // ticks the PC's last frame holds the jobs

}  // namespace

// ---------------------------------------------------------------------------------------
// Rules shared by the jobs

// The jobs give way to the PC's frames to the cards: each pauses them until kPcPause ticks
// after it, and a wait's clock stands still meanwhile, so a job ends once its waits have run,
// however the PC's frames fall; restarting the waits instead would let a PC that sends more
// often than the longest wait hold a job for good. A box command never reaches the cards and
// does not pause them (pc_cmd_valid, which every PC frame sets, still holds the search).
bool fpga_manage::job_paused() {
    if (pc_cmd_valid && Utils::getTimeSpace(pc_cmd_time) > kPcPause) {
        pc_cmd_valid = 0;
        search_sent = 0;
    }
    const uint32_t now = now_tick(), since_last = now - job_seen_;
    job_seen_ = now;
    uint32_t age = UINT32_MAX;  // ticks since the PC's last card frame
    if (pc_card_frames) {
        age = now - pc_card_frame_tick;
        if (int32_t(age) < 0) age = 0;  // stamped after this pass read the tick
    }
    // The part of the time since the last pass that lies in the pause after that frame.
    const uint32_t pause_from = age > kPcPause ? age - kPcPause : 0;  // ticks ago
    const uint32_t paused_until = std::min(since_last, age);
    const uint32_t held = paused_until > pause_from ? paused_until - pause_from : 0;
    job_ran_ticks_ = since_last - held;
    g_change[kSearchTimeWord] += held;
    set_send_para_u32(kStepTick, send_para_u32(kStepTick) + held);
    return age <= kPcPause;
}

void fpga_manage::job_progress(int value) {
    job_progress_of(g_send_para[kTask], value);
}

void fpga_manage::job_progress_of(uint8_t task, int value) {
    // The ring only moves forward; 100 ends the job, and the next starts from 0.
    value = std::max(value, last_progress_);
    last_progress_ = value >= 100 ? 0 : value;
    if (task == 5 || task == 6)
        emit job_events->sig_recovery_progress(value);
    else
        emit job_events->sig_smartmapping_progress(value);
}

void fpga_manage::job_step(uint8_t step) {
    g_send_para[kStep] = step;
}

void fpga_manage::job_wait_begins(int progress, int cap) {
    progress_base_ = progress;
    progress_cap_ = cap;
    g_change[kProgressWord] = 0;
    g_change[kSearchTimeWord] = now_tick();
    set_send_para_u32(kStepTick, now_tick());
    job_progress(progress);
}

void fpga_manage::job_tick_progress() {
    if (Utils::getTimeSpace(g_change[kSearchTimeWord]) <= 100) return;
    // One more each second of waiting; it stays below 100 until the job has really ended.
    const uint32_t counter = std::min<uint32_t>(g_change[kProgressWord] + 1, 99);
    g_change[kProgressWord] = counter;
    g_change[kSearchTimeWord] = now_tick();
    job_progress(std::min(progress_base_ + int(counter), progress_cap_));
}

bool fpga_manage::job_wait(uint32_t limit) {
    job_tick_progress();
    if (g_send_para[kAck]) {
        g_send_para[kAck] = 0;
        ZEM_DEBUG("\n rcv message back!!! ");
        return true;
    }
    if (Utils::getTimeSpace(send_para_u32(kStepTick)) > limit) {
        ZEM_DEBUG("\n timeout!!! ");
        return true;
    }
    return false;
}

void fpga_manage::job_send(uint8_t port, const uint8_t* frame, uint32_t n) {
    g_send_para[kAck] = 0;  // an old acknowledgement must not end the new wait
    if (Send_to_port(frame, n, uint8_t(port % 10), port / 10) != 0)
        ZEM_DEBUG("\n job frame to port %d not sent \n", port);
}

void fpga_manage::job_end() {
    if (Utils::getTimeSpace(send_para_u32(kStepTick)) < 201) return;
    job_progress(100);
    set_send_para_u16(kTask, 0);
}

// ---------------------------------------------------------------------------------------
// Task 1: quick lighting

void fpga_manage::SmartMapping_deal() {
    if (job_paused()) return;
    const uint8_t port = g_send_para[kPort];
    const uint16_t index = send_para_u16(kCardIndex), cards = send_para_u16(kCardCount);
    uint8_t* frame = job_frame_;
    switch (g_send_para[kStep]) {
        case 0:
            set_send_para_u16(kCardIndex, 0);
            g_send_para[kPort] = line_type.port;
            job_step(1);
            ZEM_DEBUG("\n start send rcv card smartmapping!!! ");
            return;
        case 1: {
            const uint16_t n = get_port_card_num(port);
            set_send_para_u16(kCardCount, n);
            if (n == 0) {
                job_step(4);
            } else if (index >= n) {
                job_step(5);
                ZEM_DEBUG("\n no card to send rcv card smartmapping!!! write reg  ");
            } else {
                job_step(2);
                ZEM_DEBUG("\n send rcv card port : %d, index : %d!!! \n", port, index);
            }
            return;
        }
        case 2:
            rcv_card_cmd_create(frame, uint8_t(port % 10));
            job_send(port, frame, 23);
            set_send_para_u16(kCardIndex, uint16_t(index + 1));
            job_step(3);
            job_wait_begins(cards ? 90 * index / cards : 0, 89);
            return;
        case 3:
        case 6:
            if (job_wait(kLightingLimit)) job_step(g_send_para[kStep] == 3 ? 1 : 5);
            return;
        case 4:
            job_step(9);
            job_progress(90);
            set_send_para_u32(kStepTick, now_tick());
            ZEM_DEBUG("\n send rcv card smartmapping over!!! ");
            return;
        case 5:
            // After the last card the RAM reset goes out once; its index bump ends the loop.
            if (index != cards) {
                job_step(4);
                return;
            }
            ram_reset_cmd_create(frame, {1, 0xFFFF}, uint8_t(port % 10));
            job_send(port, frame, send_para_u16(kFrameLength));
            set_send_para_u16(kCardIndex, uint16_t(index + 1));
            job_step(6);
            job_wait_begins(89, 89);
            return;
        case 9:
            ZEM_DEBUG("\n send rcv card smartmapping ending !!! ");
            job_end();
            return;
        default:
            return;
    }
}

// ---------------------------------------------------------------------------------------
// Tasks 3 and 4: one frame to all cards of every port with cards

void fpga_manage::port_walk_job(bool mapping) {
    if (job_paused()) return;
    const uint8_t port = g_send_para[kPort];
    uint8_t* frame = job_frame_;
    switch (g_send_para[kStep]) {
        case 0:
            g_send_para[kPort] = 0;
            job_step(1);
            ZEM_DEBUG("\n start send save para!!! ");
            return;
        case 1: {
            if (port > 19) {
                job_step(4);
                return;
            }
            const uint16_t n = get_port_card_num(port);
            set_send_para_u16(kCardCount, n);
            if (n) {
                job_step(2);
                ZEM_DEBUG(mapping ? "\n send rcv card port : %d,card_num =%d!!! \n"
                                  : "\n send rcv card port : %d,%d!!! \n",
                          port, n);
            } else {
                g_send_para[kPort] = uint8_t(port + 1);
                ZEM_DEBUG(mapping ? "\n no card to send mapping enable para!!! "
                                  : "\n no card to send save para!!! ");
            }
            return;
        }
        case 2: {
            uint32_t n = 13;
            if (mapping) {
                mapping_enable_cmd_create(uint8_t(port % 10), frame);
                n = 15;
            } else {
                save_para_cmd_create(frame, uint8_t(port % 10));
            }
            job_send(port, frame, n);
            g_send_para[kPort] = uint8_t(port + 1);
            job_step(3);
            job_wait_begins(95 * port / 20, 94);
            return;
        }
        case 3: {
            // Each card takes its time to save: 1 s more per card.
            const uint32_t limit = mapping ? 1200 : 100u * send_para_u16(kCardCount) + 1200;
            if (job_wait(limit)) job_step(1);
            return;
        }
        case 4:
            job_step(9);
            job_progress(95);
            set_send_para_u32(kStepTick, now_tick());
            ZEM_DEBUG(mapping ? "\n send mapping over!!! \n send mapping para over!!! "
                              : "\n send save para over!!! ");
            return;
        case 9:
            job_end();
            return;
        default:
            return;
    }
}

void fpga_manage::save_para_deal() {
    port_walk_job(false);
}

void fpga_manage::mapping_enable_deal() {
    port_walk_job(true);
}
