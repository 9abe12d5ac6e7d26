// The simulated box's shell: records every command (in memory and in "<root>/sim/shell.log"),
// runs nothing, answers with a status and output that tests can set, and carries out the file
// effects of "cp", "mv", "rm", "mkdir" inside the root only, and the mount and umount of the
// simulated USB disk.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

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

private:
    struct Reply {
        int exit_code;
        std::string output;
    };
    Reply handle(const std::string& cmd);

    mutable std::mutex mutex_;
    BoundedLog<std::string> commands_{10000};
    std::map<std::string, Reply> answers_;
};

// The simulated box's shell; only valid after platform::selectSimulated.
SimShell& simShell();

}  // namespace platform::sim
