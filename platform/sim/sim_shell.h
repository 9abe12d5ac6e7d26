// The simulated box's shell: records every command (in memory and in "<root>/sim/shell.log"),
// runs nothing, answers with a status and output that tests can set, and carries out the file
// effects of "cp", "mv", "rm", "mkdir" inside the root only, and the mount and umount of the
// simulated USB disk.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/thread_safety.h"
#include "platform/shell.h"
#include "platform/sim/bounded_log.h"

namespace platform::sim {

class SimShell : public Shell {
public:
    int run(const std::string& cmd) override;
    int capture(const std::string& cmd, std::string& out) override;

    // Every command so far, exact text, in order.
    std::vector<std::string> commands() const;
    void clear();
    // A command that starts with prefix exits with exit_code and prints output, from now on;
    // the longest matching prefix wins. Without an answer a command exits 0 and prints nothing.
    void answer(const std::string& prefix, int exit_code, const std::string& output = "");
    // Fault switch: a command that starts with prefix waits, from now on, until release(), as
    // a slow one on the box would ("sync" behind a busy flash). A held command is recorded
    // before it waits; the wait gives up after 30 s so that a failing test still ends.
    void hold(const std::string& prefix);
    // Lets the held commands go and holds no more.
    void release();
    // Waits up to ms until a command is held; false when none came.
    bool waitHeld(int ms);

private:
    struct Reply {
        int exit_code;
        std::string output;
    };
    Reply handle(const std::string& cmd);
    void waitIfHeld(zem::MutexLocker& lock, const std::string& cmd) REQUIRES(mutex_);

    mutable zem::Mutex mutex_;
    zem::ConditionVariable held_cv_;
    std::string hold_prefix_ GUARDED_BY(mutex_);  // empty: nothing is held
    int held_ GUARDED_BY(mutex_) = 0;             // commands waiting in hold
    BoundedLog<std::string> commands_ GUARDED_BY(mutex_){10000};
    std::map<std::string, Reply> answers_ GUARDED_BY(mutex_);
};

// The simulated box's shell; only valid after platform::selectSimulated.
SimShell& simShell();

}  // namespace platform::sim
