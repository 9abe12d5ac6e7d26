#include "comm/pc_update.h"

#include "comm/comm_bridge.h"
#include "comm/message_deal.h"
#include "comm/protocol_phy.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

using namespace comm;

namespace {
void refresh(int id) {
    if (ZemRamPara::p_zemrampara_config) ZemRamPara::p_zemrampara_config->test_signal(id);
}
}  // namespace

pc_update& pc_update::get() {
    static pc_update watch;
    return watch;
}

void pc_update::begin(LinkId link) {
    {
        zem::MutexLocker lock(mutex_);
        if (g_update_flag.fetch_or(kUpdateByPc) == 0)
            emit comm_bridge::pInstance()->sig_update_start();
        const uint32_t now = G_timeTicks.load();
        state_ = State::Running;
        starter_ = link;
        starter_heard_ = update_heard_ = now;
        watching_ = true;
    }
    refresh(105);
}

void pc_update::end() {
    {
        zem::MutexLocker lock(mutex_);
        finish_locked();
    }
    refresh(106);
}

void pc_update::finish_locked() {
    state_ = State::Idle;
    watching_ = false;
    if (g_update_flag.fetch_and(uint8_t(~kUpdateByPc)) & kUpdateByPc)
        emit comm_bridge::pInstance()->sig_update_over();
}

// Register 9 or 10 written, or a transfer's start, piece or end: the PC is still at its update.
bool pc_update::update_frame(const uint8_t* body, uint32_t len) {
    const uint8_t cmd = body[9];
    if (cmd == kCmdFileStart || cmd == kCmdFileData || cmd == kCmdFileEnd) return true;
    if (cmd != kCmdWriteReg || len < kMinBody + 3) return false;
    const uint32_t first = body[kHeadLen], count = body[kHeadLen + 2];
    return first <= kRegCom1 && first + count > kRegComm;
}

void pc_update::heard(LinkId link, const uint8_t* body, uint32_t len) {
    if (!watching_ || len < kMinBody) return;
    const uint32_t now = G_timeTicks.load();
    const bool update = update_frame(body, len);
    zem::MutexLocker lock(mutex_);
    if (link == starter_) starter_heard_ = now;
    if (update) update_heard_ = now;
}

void pc_update::closed(LinkId link) {
    if (!watching_) return;
    zem::MutexLocker lock(mutex_);
    if (state_ != State::Running || link != starter_) return;
    state_ = State::Closed;
    closed_at_ = G_timeTicks.load();
}

const char* pc_update::lapse_locked(uint32_t now) const {
    if (now - starter_heard_ >= kSilentTicks)
        return "PC update ended unfinished: its link sent nothing for 60 s";
    if (state_ == State::Closed && now - closed_at_ >= kClosedTicks &&
        now - update_heard_ >= kClosedTicks)
        return "PC update ended unfinished: its TCP client closed, no update frame for 10 s";
    return nullptr;
}

void pc_update::watch(uint32_t now) {
    if (!watching_) return;
    const char* why;
    {
        zem::MutexLocker lock(mutex_);
        if (state_ == State::Idle) return;
        // Cleared by no call of ours (a test's reset): nothing left to end.
        if (!(g_update_flag.load() & kUpdateByPc)) {
            state_ = State::Idle;
            watching_ = false;
            return;
        }
        why = lapse_locked(now);
        if (!why) return;
        finish_locked();
    }
    writeLogMsg(1, why);
    emit comm_bridge::pInstance()->sig_update_unfinished();
    refresh(106);
}
