#include "comm/comm_hooks.h"

#include <algorithm>
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

bool card_turns::cards_free_locked() const {
    return holder_.id == 0 || std::chrono::steady_clock::now() >= holder_.deadline;
}

uint32_t card_turns::take(time_point until, window w) {
    uint32_t taken_over = 0, turn = 0;
    {
        zem::MutexLocker lock(mutex_);
        // The cards' state decides, not which wait ran out first: a waiter that wakes late
        // still takes over a holder past its window.
        while (!cards_free_locked()) {
            if (std::chrono::steady_clock::now() >= until) return 0;
            changed_.wait_until(lock, std::min(until, holder_.deadline));
        }
        taken_over = holder_.id;
        if (taken_over) take_over_locked();
        if (++last_ == 0) ++last_;  // 0 means no turn
        turn = last_;
        holder_.id = turn;
        holder_.deadline = std::chrono::steady_clock::now() + w;
    }
    if (taken_over)
        ZEM_DEBUG("\n card turn %u taken over by %u: past its window \n", taken_over, turn);
    return turn;
}

void card_turns::take_over_locked() {
    if (holder_.answered) {
        if (parked_.id != 0) ++late_;  // its link never took it
        parked_ = std::move(holder_);
    }
    holder_ = Turn{};
    changed_.notify_all();  // the holder's link finds its turn gone
}

std::optional<card_turns::time_point> card_turns::sending(uint32_t t, window w) {
    zem::MutexLocker lock(mutex_);
    if (t != holder_.id) return std::nullopt;
    holder_.deadline = std::chrono::steady_clock::now() + w;
    changed_.notify_all();  // waiters wait for the new deadline
    return holder_.deadline;
}

void card_turns::deliver(uint32_t t, const uint8_t* body, uint32_t len) {
    {
        zem::MutexLocker lock(mutex_);
        if (t == holder_.id && !holder_.answered) {
            holder_.answer.assign(body, body + len);
            holder_.answered = true;
            changed_.notify_all();
            return;
        }
        ++late_;
    }
    writeLogMsg(2, "card answer dropped: its asker no longer waits");
    ZEM_DEBUG("\n card answer of turn %u dropped: its asker no longer waits \n", t);
}

card_turns::Answer card_turns::wait_answer(uint32_t t, time_point until,
                                           std::vector<uint8_t>& out) {
    zem::MutexLocker lock(mutex_);
    changed_.wait_until(lock, until,
                        [&]() REQUIRES(mutex_) { return t != holder_.id || holder_.answered; });
    Turn* turn = t == holder_.id ? &holder_ : t == parked_.id ? &parked_ : nullptr;
    if (!turn) return Answer::Gone;
    if (!turn->answered) return Answer::Waiting;
    out.swap(turn->answer);
    turn->answered = false;
    if (turn == &parked_) parked_ = Turn{};
    return Answer::Got;
}

void card_turns::release(uint32_t t) {
    zem::MutexLocker lock(mutex_);
    if (t == parked_.id) {
        parked_ = Turn{};
        ++late_;  // answered in time, but its link left without it
    }
    if (t != holder_.id) return;
    holder_ = Turn{};
    changed_.notify_all();
}

uint32_t card_turns::late_answers() {
    zem::MutexLocker lock(mutex_);
    return late_;
}
