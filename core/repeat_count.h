// Telling something a peer can repeat at will at most once a minute: the first at once, the
// rest as a count.
#pragma once

#include <cstdint>

// The minute of the platform clock, in ms, between two tellings of one thing (and of one kind
// of error on the terminal).
constexpr uint64_t kLogRepeatMs = 60000;

// Something a peer can repeat at will (a refused connection, an error of one kind), told
// at most once a minute of the platform clock: the first at once, the rest as a count. One
// owner, or under its owner's lock.
class RepeatCount {
public:
    // One more. True when it is to be told now: the first, or the first a minute after the last
    // telling, with *before the ones counted since.
    bool tell(uint64_t now_ms, uint32_t* before);
    // The ones counted and not told, when due now (a minute after the last telling, or at once
    // with at_end), else 0; telling them starts a new minute.
    uint32_t take(uint64_t now_ms, bool at_end = false);
    // When the counted ones fall due; 0 when none waits.
    uint64_t due_ms() const { return counted_ ? told_ms_ + kLogRepeatMs : 0; }

private:
    bool due(uint64_t now_ms) const;
    // A telling now: the count told, and a new minute begins.
    uint32_t restart(uint64_t now_ms);
    bool told_ = false;
    uint64_t told_ms_ = 0;
    uint32_t counted_ = 0;
};
