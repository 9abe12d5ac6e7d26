#include "local_command.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr char kEdidDecode[] = "/usr/bin/edid-decode";

// Runs the command through the shell; its output, and its status as pclose gives it.
std::string run(const std::string& command, int& wait_status) {
    std::string out;
    wait_status = -1;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    wait_status = ::pclose(p);
    return out;
}

}  // namespace

std::string commandOutput(const std::string& command) {
    int ignored;
    return run(command, ignored);
}

CommandResult commandResult(const std::string& command) {
    int wait_status;
    CommandResult r;
    r.output = run("(" + command + ") 2>&1", wait_status);
    if (wait_status != -1 && WIFEXITED(wait_status)) r.status = WEXITSTATUS(wait_status);
    return r;
}

bool edidDecodeAvailable() {
    return ::access(kEdidDecode, X_OK) == 0;
}

std::string edidDecodeFile(const std::string& file) {
    return commandOutput(std::string(kEdidDecode) + " --check '" + file + "' 2>&1");
}
