// The one seam through which the program runs shell commands. On the box it is system() and
// popen(); on the simulated box commands are recorded and nothing that changes the machine runs.
#pragma once

#include <memory>
#include <string>

namespace platform {

class Shell {
public:
    virtual ~Shell() = default;
    // Runs cmd like system(3): the raw wait status (0 on success), or -1 when it cannot start.
    virtual int run(const std::string& cmd) = 0;
    // Runs cmd like popen(cmd, "r") and collects its output into out; the raw exit status,
    // or -1 when it cannot start (out is then empty).
    virtual int capture(const std::string& cmd, std::string& out) = 0;
};

// The shell of the chosen box; before platform::selectLinux or selectSimulated, one that runs
// nothing and fails every command.
Shell& shell();
void installShell(std::unique_ptr<Shell> s);
std::unique_ptr<Shell> makeLinuxShell();

}  // namespace platform
