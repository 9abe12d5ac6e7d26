// Mailbox tasks 5, 6 and 2 on a stored receiving-card configuration, one step per FPGA pass:
// the query asks each net of each screen whether a card needs recovery (kind 0), the recovery
// replays the found card's stored operations onto it (kind 1), and the scan load replays a scan
// file's block onto all cards of the chosen port (kind 2).
#include <algorithm>

#include "core/globals.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "fpga/rcv_recovery.h"
#include "platform/mounts.h"

namespace {

using namespace send_para;

constexpr uint8_t kQueryTask = 5;
constexpr uint16_t kNoReplyYet = 65535;
constexpr uint16_t kNoCard = 255;
constexpr uint8_t kDone = 33, kError = 34, kErrorEnd = 35;
constexpr uint32_t kQueryWait = 500;

enum Kind { kQuery = 0, kRecovery = 1, kScanLoad = 2 };

void restamp_job() {
    g_change[kSearchTimeWord] = now_tick();
}

// The task first: its step cleared under it would read as a task just posted.
void mailbox_idle() {
    g_send_para[kTask] = 0;
    g_send_para[kStep] = 0;
}

QString twoDigits(int v) {
    return QString("%1").arg(v, 2, 10, QChar('0'));
}

}  // namespace

bool fpga_manage::query_running() {
    // The error end waits a second more, its outcome told.
    return g_send_para[kTask] == kQueryTask && g_send_para[kStep] < kErrorEnd;
}

void fpga_manage::recovery_fails(int outcome, const char* text) {
    ZEM_DEBUG("%s", text);
    recovery_fault = outcome;
    job_step(kError);
}

void fpga_manage::recovery_error(const char* text) {
    const bool recovering = g_send_para[kTask] == 6;
    recovery_fails(rcv_recovery->file_refused ? RecoveryOutcome::kFileRefused
                   : recovering               ? RecoveryOutcome::kRecoveryFailed
                                              : RecoveryOutcome::kQueryFailed,
                   text);
}

void fpga_manage::recovery_file_error(const char* text) {
    recovery_fails(RecoveryOutcome::kFileRefused, text);
}

void fpga_manage::rcv_recovery_check_deal(int kind) {
    const uint8_t step = g_send_para[kStep];
    const bool paused = job_paused();
    if (kind != kQuery && step > 0 && step < kDone) {
        // A replay the PC keeps pausing waits for it as long as it talks.
        replay_clock();
        if (!paused && replay_past_bound())
            return recovery_error("\n replay stopped at its time bound ");
    }
    if (paused) return;
    if (step <= 4)
        recovery_start_steps(kind, step);
    else if (step <= 15)
        recovery_walk_steps(kind, step);
    else if (step >= 17 && step <= 19)
        recovery_smart_steps(kind, step);
    else if (step >= kDone)
        recovery_end_steps(kind, step);
}

void fpga_manage::recovery_start_steps(int kind, uint8_t step) {
    rcvRecovery& r = *rcv_recovery;
    switch (step) {
        case 0:
            // Told at once, whoever posted the task: the recovery page shows a query's ring.
            job_progress(0);
            r.file_refused = false;
            if (get_fpga_status() != 1) return recovery_error("\n there is a error about fpga!!! ");
            replay_begins();
            // A job that ends before it asks a card must not report the last search's answer.
            set_send_para_u16(kCardToRecover, kNoReplyYet);
            query_nets_asked = 0;
            query_silent_nets.clear();
            job_step(1);
            ZEM_DEBUG("\n check rcv.... ");
            restamp_job();
            return;
        case 1: {
            const uint32_t t = Utils::getTimeSpace(g_change[kSearchTimeWord]);
            if (t >= 80) job_progress(int(std::min<uint32_t>(100 * t / 500, 99)));
            if (t > 240) job_step(2);
            return;
        }
        case 2:
            return kind == kScanLoad ? open_scan_file() : open_recovery_file();
        case 3:
            for (uint8_t i = 0; i < r.sub_file_count(); ++i)
                if (r.get_rcvPackedFileInfo(i)) return recovery_file_error("\n check file error ");
            job_step(4);
            restamp_job();
            return;
        case 4:
            set_send_para_u16(kCardToRecover, kNoReplyYet);
            // Without a screen sub-file there is nothing to walk.
            if (!r.has_sub_file(rcvRecovery::kScreenFile))
                return recovery_file_error("\n no file type error ");
            job_step(5);
            return;
        default:
            return;
    }
}

void fpga_manage::open_recovery_file() {
    rcvRecovery& r = *rcv_recovery;
    // None or several: no file to check the cards against, which is no all clear.
    if (r.get_dir_file("/data/rcvrecovery"))
        return recovery_fails(RecoveryOutcome::kNoFile, "\n check file error ");
    const QStringList files = r.files(true);
    if (files.isEmpty()) return recovery_fails(RecoveryOutcome::kNoFile, "\n more file error ");
    if (files.size() != 1) return recovery_file_error("\n more file error ");
    ZEM_DEBUG("\n recovery_files_nmae  %s  !/n", files.front().toLocal8Bit().constData());
    r.file_path = "/data/rcvrecovery/QZFX";
    if (r.get_rcvPackedFileNum()) return recovery_file_error("\n check file error ");
    job_step(3);
    restamp_job();
}

void fpga_manage::open_scan_file() {
    rcvRecovery& r = *rcv_recovery;
    // The disk's folder is read only while the disk is mounted there.
    const bool disk = platform::usbDiskMounted();
    if ((r.get_dir_file("/data/smartmapping") || r.files(false).isEmpty()) &&
        (!disk || r.get_dir_file("/mnt/usb1/")))
        return recovery_error("\n check file error ");
    if (!disk && g_qzfile_name.startsWith(QString(platform::kUsbMountPoint) + '/'))
        return recovery_error("\n USB disk not mounted ");
    if (r.files(false).isEmpty()) {
        ZEM_DEBUG("\n more file error ");
        return job_step(kDone);
    }
    r.init_para();
    r.file_path = g_qzfile_name;
    ZEM_DEBUG("\n smart_files_nmae  %s  !/n", g_qzfile_name.toLocal8Bit().constData());
    job_step(17);
    restamp_job();
}

void fpga_manage::recovery_walk_steps(int kind, uint8_t step) {
    rcvRecovery& r = *rcv_recovery;
    switch (step) {
        case 5:
            job_progress(5 * 100 / 35);
            ZEM_DEBUG("\n now in RECOVERY_RCV_GET_SCREEN_NUM ");
            if (r.update_rcvScreenHead()) return recovery_error("\n check screen net error ");
            if (kind == kRecovery) {
                // Only a target that the last query found, on the net where it found it.
                if (!recovery_target.valid) return recovery_error("\n no card to recover ");
                g_send_para[kScreen] = recovery_target.screen;
                g_send_para[kNet] = recovery_target.net_index;
                ZEM_DEBUG("\n now start to  recovery screen%d ,net%d \n",
                          recovery_target.screen + 1, recovery_target.net + 1);
            } else {
                g_send_para[kScreen] = 0;
            }
            return job_step(6);
        case 6:
            if (r.update_rcvScreenIDinfo(g_send_para[kScreen]))
                return recovery_error("\n check screen net error ");
            if (kind == kQuery) {
                const int screens = r.screen_head.screen_num;
                job_progress((g_send_para[kScreen] * 100 + 100) / (screens + 1));
                return job_step(8);
            }
            ZEM_DEBUG("\n now start to check file ....");
            return job_step(7);
        case 7:
            return choose_recovery_path();
        case 8:
            job_progress(8 * 100 / 35);
            if (r.update_rcvXYscreenNetnum())
                return recovery_error("\n rcv xy file screen_net num error ");
            if (kind == kQuery) g_send_para[kNet] = 0;
            ZEM_DEBUG("\n now start to recovery net_index = %#x \n", g_send_para[kNet].load());
            return job_step(9);
        case 9:
            return read_net(kind);
        case 10: {
            const uint16_t port = r.net_record.net_ledx;
            const uint16_t cards = port < 20 ? get_port_card_num(uint8_t(port)) : 0;
            if (r.update_rcvXYrcvOperateTimes(g_send_para[kStartCard], false) ||
                r.check_operations(false, false, cards))
                return recovery_error("\n rcv xy file rcv operate times error ");
            replay_bound_adds(r.bound_sum_ms);
            g_send_para[kOperation] = 0;
            return job_step(11);
        }
        case 11:
            if (r.update_rcvXYrcvOperatepara(g_send_para[kOperation], false))
                return recovery_error("\n rcv xy file rcv operate times error ");
            return begin_operation(12, r.operation_data(false, false));
        case 12:
            return run_operation(kind, 11, kDone);
        case 13:
            return send_query();
        case 14:
            return wait_query();
        case 15:
            return next_net();
        default:
            return;
    }
}

void fpga_manage::choose_recovery_path() {
    const rcvRecovery& r = *rcv_recovery;
    if (r.screen_record.rcv_para_len == 0) {
        if (r.screen_record.rcv_xy_len == 0)
            return recovery_file_error("\n screen file all len  error ");
        if (!r.has_sub_file(rcvRecovery::kXyFile))
            return recovery_file_error("\n no file type error ");
        return job_step(8);
    }
    if (!r.has_sub_file(rcvRecovery::kSmartFile))
        return recovery_file_error("\n no file type error ");
    job_step(17);
}

void fpga_manage::read_net(int kind) {
    rcvRecovery& r = *rcv_recovery;
    const uint8_t net = g_send_para[kNet];
    set_send_para_u16(kCardToRecover, kNoReplyYet);
    if (r.update_rcvXYscreenNetpara(net))
        return recovery_error("\n rcv xy file screen_net para error ");
    if (kind == kQuery) return job_step(13);
    if (recovery_target.card >= r.net_record.net_rcv_num ||
        r.net_record.net_ledx != recovery_target.net)
        return recovery_error("\n rcv xy file screen_net para error ");
    g_send_para[kStartCard] = recovery_target.card;
    job_step(10);
    job_progress(28);
}

void fpga_manage::begin_operation(uint8_t next_step, uint32_t data) {
    rcvRecovery& r = *rcv_recovery;
    r.operate_data_offset = data;
    g_send_para[kSubStep] = 20;
    ZEM_DEBUG("\n now in operate_data_offset = %#x\n", data);
    const int k = g_send_para[kOperation], n = r.rcv_operate_times;
    job_step(next_step);
    job_wait_begins((k * 100 + 100) / (n + 1), 99);
}

void fpga_manage::run_operation(int kind, uint8_t read_step, uint8_t after_last) {
    rcvRecovery& r = *rcv_recovery;
    job_tick_progress();
    if (load_rcv_xy_operate(r.file_path, r.operate_data_offset, kind == kScanLoad) != 1) return;
    const uint8_t next = uint8_t(g_send_para[kOperation] + 1);
    g_send_para[kOperation] = next;
    if (next < r.rcv_operate_times) {
        g_send_para[kSubStep] = 20;
        return job_step(read_step);
    }
    job_step(after_last);
}

void fpga_manage::send_query() {
    rcvRecovery& r = *rcv_recovery;
    const uint16_t net = r.net_record.net_ledx;
    if (net > 19) return recovery_error("\n rcv xy file screen_net para error ");
    const uint8_t flag = r.files(true).isEmpty() ? 0 : 1;
    query_config_id = r.config_id();
    check_error_rcv_search_card_cmd(uint8_t(net % 10), net / 10, r.config_id(), 0, flag);
    ZEM_DEBUG("\n fpga%d_sel, net%d ,config_id_enalbe = %#x\n", net / 10 + 1, net + 1, flag);
    ZEM_DEBUG("\n check screen_index = %#x , net_index = %#x \n", g_send_para[kScreen].load(),
              g_send_para[kNet].load());
    ++query_nets_asked;
    job_step(14);
    // Within the share of its screen, the progress rises net by net.
    const int screens = r.screen_head.screen_num + 1, nets = std::max<int>(r.screen_net_num, 1);
    const int base = g_send_para[kScreen] * 100 + 100;
    job_wait_begins((base + 100 * g_send_para[kNet] / nets) / screens,
                    std::min((base + 100) / screens - 1, 99));
}

void fpga_manage::wait_query() {
    job_tick_progress();
    const uint16_t card = send_para_u16(kCardToRecover);
    if (card != kNoReplyYet) {
        ZEM_DEBUG("\n rcv back info ...%#x\n", card);
        return job_step(card == kNoCard ? 15 : kDone);
    }
    if (Utils::getTimeSpace(send_para_u32(kStepTick)) > kQueryWait) {
        // Silence is no "none": the net's cards are unknown.
        ZEM_DEBUG("\n timeout!!! ");
        query_silent_nets << twoDigits(g_send_para[kScreen] + 1) + "/" +
                                 twoDigits(rcv_recovery->net_record.net_ledx + 1);
        job_step(15);
    }
}

void fpga_manage::next_net() {
    const rcvRecovery& r = *rcv_recovery;
    const uint8_t net = uint8_t(g_send_para[kNet] + 1);
    if (net < r.screen_net_num) {
        g_send_para[kNet] = net;
        return job_step(9);
    }
    g_send_para[kNet] = 0;
    const uint8_t screen = uint8_t(g_send_para[kScreen] + 1);
    g_send_para[kScreen] = screen;
    ZEM_DEBUG("\n current_screen_index = %#x , screen_num = %#x \n", screen,
              r.screen_head.screen_num);
    job_step(screen >= r.screen_head.screen_num ? kDone : 6);
}

void fpga_manage::recovery_smart_steps(int kind, uint8_t step) {
    rcvRecovery& r = *rcv_recovery;
    const bool scan = kind == kScanLoad;
    switch (step) {
        case 17: {
            if (r.update_smartDebugingOperateTimes(scan))
                return recovery_error("\n rcv xy file rcv operate times error ");
            const uint16_t port = scan ? line_type.port : recovery_target.net;
            const uint16_t cards = port < 20 ? get_port_card_num(uint8_t(port)) : 0;
            if (cards == 0 || (!scan && recovery_target.card >= cards))
                return recovery_error("\n rcv xy file rcv operate times error ");
            r.net_record.net_ledx = port;
            if (!scan) g_send_para[kStartCard] = recovery_target.card;
            if (r.check_operations(true, scan, cards))
                return recovery_error("\n rcv xy file rcv operate times error ");
            replay_bound_adds(r.bound_sum_ms);
            g_send_para[kOperation] = 0;
            return job_step(18);
        }
        case 18:
            if (r.update_smartDebugingOperatepara(g_send_para[kOperation], scan))
                return recovery_error("\n rcv xy file rcv operate times error ");
            ZEM_DEBUG("\n in operate_para_data_offset=%#x ,net_index = %#x \n",
                      r.operation_data(true, scan), g_send_para[kNet].load());
            return begin_operation(19, r.operation_data(true, scan));
        case 19:
            // After a screen's smart-debugging data, a recovery goes on with the card's own.
            run_operation(kind, 18, scan ? kDone : 8);
            if (!scan && g_send_para[kStep] == 8) g_send_para[kOperation] = 0;
            return;
        default:
            return;
    }
}

void fpga_manage::recovery_end_steps(int kind, uint8_t step) {
    switch (step) {
        case kDone:
            return recovery_done(kind);
        case kError:
            // Told before the final 100 closes the page's ring; a scan load has its own page.
            if (kind != kScanLoad) recovery_ends(recovery_fault);
            // No longer a running query (query_running) before the 100 is told.
            job_step(kErrorEnd);
            job_progress(100);
            restamp_job();
            return;
        case kErrorEnd:
            if (Utils::getTimeSpace(g_change[kSearchTimeWord]) <= 100) return;
            mailbox_idle();
            restamp_job();
            ZemRamPara::pInstance()->test_signal(1);
            return;
        default:
            return;
    }
}

void fpga_manage::recovery_done(int kind) {
    const uint16_t card = send_para_u16(kCardToRecover);
    ZEM_DEBUG("\n the number of rcv need to recovery is %#x \n", card);
    if (kind == kQuery && !query_done(card)) return;
    if (kind == kRecovery) recovery_replayed();
    // The mailbox idle before the 100: a page that finds a query running (query_running) may
    // count on its 100 still to come.
    const uint8_t task = g_send_para[kTask];
    mailbox_idle();
    job_progress_of(task, 100);
    ZEM_DEBUG("\n over!!! ");
}

bool fpga_manage::query_done(uint16_t card) {
    const bool found = card != kNoCard && card != kNoReplyYet;
    if (!found && query_nets_asked > 0 && query_silent_nets.size() == query_nets_asked) {
        // Not one net answered: that tells nothing about any card, least of all "none".
        recovery_fails(RecoveryOutcome::kQueryFailed, "\n no net answered ");
        return false;
    }
    // Nothing (left) to recover among the cards that answered: no later recovery may replay
    // onto a stale card.
    const bool listed = recovery_target.valid;
    recovery_target = {};
    if (found)
        recovery_target = {1,
                           g_send_para[kScreen],
                           g_send_para[kNet],
                           uint8_t(rcv_recovery->net_record.net_ledx),
                           uint8_t(card),
                           rcv_recovery->net_record.net_rcv_num};
    recovery_ends(RecoveryOutcome::kList);
    if (found || listed) ZemRamPara::pInstance()->test_signal(found ? 1 : 99);
    return true;
}

void fpga_manage::recovery_replayed() {
    // An operation that failed may have left the card as it was: it stays the target, and
    // Recovery may run again.
    if (replay_failures != replay_failures_before_)
        return recovery_ends(RecoveryOutcome::kRecoveryFailed);
    recovery_target = {};
    recovery_ends(RecoveryOutcome::kList);
    ZemRamPara::pInstance()->test_signal(99);
}

void fpga_manage::recovery_ends(int outcome) {
    RecoveryOutcome o;
    o.kind = RecoveryOutcome::Kind(outcome);
    const bool listing =
        o.kind == RecoveryOutcome::kList || o.kind == RecoveryOutcome::kRecoveryFailed;
    if (listing && recovery_target.valid) {
        const RecoveryTarget& t = recovery_target;
        o.entries << twoDigits(t.screen + 1) + "/" + twoDigits(t.net + 1) + "/" +
                         twoDigits(t.card + 1) + "/" + twoDigits(t.net_cards);
    }
    // A recovery asks no net: the nets the query before did not hear stay listed.
    if (listing)
        o.silent_nets =
            g_send_para[kTask] == 6 ? job_events->recoveryOutcome().silent_nets : query_silent_nets;
    job_events->recoveryEnded(o);
}
