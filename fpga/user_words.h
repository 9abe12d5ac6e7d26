// The user's close-LED (RAM 2116) and brightness (RAM 2176) on their way from the C331 apply to
// the FPGA side: each hand-over carries the value and the write generation of the word
// (ZemRamPara::word_gen) the apply took, so the FPGA side tells a user's write from its own echo
// passed back, and posts its echoes on the generation of the user's state it last took.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

#include "core/thread_safety.h"

// A small mailbox the FPGA side takes at its passes. The latest hand-over of a word replaces one
// not yet taken (the words are independent, and for each the last write wins), so it never
// grows. Its mutex is a leaf: the C331 apply posts under the C331 mutex, the FPGA side takes
// under rmw_mutex.
class UserWordMailbox {
public:
    enum Word { kCloseLed, kBrightness, kWordCount };
    struct Message {
        uint16_t value;
        uint32_t gen;
    };

    void post(Word w, uint16_t value, uint32_t gen) {
        zem::MutexLocker lock(mutex_);
        box_[w] = Message{value, gen};
    }
    std::optional<Message> take(Word w) {
        zem::MutexLocker lock(mutex_);
        std::optional<Message> m = box_[w];
        box_[w].reset();
        return m;
    }
    bool waiting(Word w) const {
        zem::MutexLocker lock(mutex_);
        return box_[w].has_value();
    }
    void clear() {
        zem::MutexLocker lock(mutex_);
        for (auto& m : box_) m.reset();
    }

private:
    mutable zem::Mutex mutex_;
    std::array<std::optional<Message>, kWordCount> box_ GUARDED_BY(mutex_);
};
