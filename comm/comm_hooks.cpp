#include "comm/comm_hooks.h"

#include <cstdio>

#include "core/globals.h"

comm_hooks& comm_hooks::get() {
    static comm_hooks* hooks = new comm_hooks;  // never destroyed: link threads outlive main
    return *hooks;
}

card_turns& card_turns::get() {
    static card_turns* turns = new card_turns;  // never destroyed: link threads outlive main
    return *turns;
}

uint32_t card_turns::take(time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_until(lock, until, [this] { return holder_ == 0; })) return 0;
    if (++last_ == 0) ++last_;  // 0 means no turn
    holder_ = last_;
    answered_ = false;
    answer_.clear();
    return holder_;
}

void card_turns::deliver(uint32_t t, const uint8_t* body, uint32_t len) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (t == holder_ && !answered_) {
            answer_.assign(body, body + len);
            answered_ = true;
            changed_.notify_all();
            return;
        }
        ++late_;
    }
    writeLogMsg(2, "card answer dropped: its asker no longer waits");
    ZEM_DEBUG("\n card answer of turn %u dropped: its asker no longer waits \n", t);
}

bool card_turns::wait_answer(uint32_t t, time_point until, std::vector<uint8_t>& out) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_until(lock, until, [&] { return t != holder_ || answered_; })) return false;
    if (t != holder_) return false;
    out.swap(answer_);
    answered_ = false;
    return true;
}

void card_turns::release(uint32_t t) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (t != holder_) return;
    holder_ = 0;
    answered_ = false;
    changed_.notify_all();
}

uint32_t card_turns::late_answers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return late_;
}
