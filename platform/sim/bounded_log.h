// What a simulated chip was sent, kept for tests: the newest entries up to a capacity, so a
// simulated box that runs for days does not grow without end. The owner does the locking.
#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

namespace platform::sim {

template <typename T>
class BoundedLog {
public:
    explicit BoundedLog(size_t capacity) : capacity_(capacity) {}

    void push(T item) {
        items_.push_back(std::move(item));
        if (items_.size() > capacity_) items_.pop_front();
    }
    std::vector<T> snapshot() const { return {items_.begin(), items_.end()}; }
    void clear() { items_.clear(); }

private:
    size_t capacity_;
    std::deque<T> items_;
};

}  // namespace platform::sim
