#include "platform/shell.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

class LinuxShell : public Shell {
public:
    int run(const std::string& cmd) override { return std::system(cmd.c_str()); }

    int capture(const std::string& cmd, std::string& out) override {
        out.clear();
        FILE* pipe = ::popen(cmd.c_str(), "r");
        if (!pipe) return -1;
        char buf[512];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        return ::pclose(pipe);
    }
};

std::mutex g_install_mutex;
std::unique_ptr<Shell> g_shell;

}  // namespace

std::unique_ptr<Shell> makeLinuxShell() {
    return std::make_unique<LinuxShell>();
}

Shell& shell() {
    std::lock_guard<std::mutex> lock(g_install_mutex);
    if (!g_shell) g_shell = makeLinuxShell();
    return *g_shell;
}

void installShell(std::unique_ptr<Shell> s) {
    std::lock_guard<std::mutex> lock(g_install_mutex);
    g_shell = std::move(s);
}

}  // namespace platform
