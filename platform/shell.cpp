#include "platform/shell.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "core/thread_safety.h"

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

// Before a back end is chosen nothing runs: a test or tool that forgot to choose the simulated
// box must not reboot or re-address the machine it runs on.
class UnselectedShell : public Shell {
public:
    int run(const std::string& cmd) override {
        std::fprintf(stderr, "shell: no box selected, not running \"%s\"\n", cmd.c_str());
        return -1;
    }
    int capture(const std::string& cmd, std::string& out) override {
        out.clear();
        return run(cmd);
    }
};

zem::Mutex g_install_mutex;
// The shell installed is kept until the next install; a caller uses the one it got.
std::unique_ptr<Shell> g_shell GUARDED_BY(g_install_mutex) = std::make_unique<UnselectedShell>();

}  // namespace

std::unique_ptr<Shell> makeLinuxShell() {
    return std::make_unique<LinuxShell>();
}

Shell& shell() {
    zem::MutexLocker lock(g_install_mutex);
    return *g_shell;
}

void installShell(std::unique_ptr<Shell> s) {
    zem::MutexLocker lock(g_install_mutex);
    g_shell = std::move(s);
}

}  // namespace platform
