// Simulated serial devices: the program's side is the master of a pseudo-terminal; a test
// opens the slave by the name serialPeerName reports. The model keeps one slave descriptor
// open so that the master never sees a hang-up while no test is attached.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>

#include "core/thread_safety.h"
#include "platform/box.h"
#include "platform/own_files.h"
#include "platform/serial_port.h"

namespace platform::sim {
namespace {

struct Pty {
    std::string name;
    int keep = -1;  // slave held open by the model
};
zem::Mutex g_mutex;
std::map<std::string, Pty> g_ptys GUARDED_BY(g_mutex);

// Tells a person or a tool where to attach: on the console and in "<root>/sim/serial-ports",
// one "device pseudo-terminal" line per port. Caller holds g_mutex.
void reportPorts(const std::string& device, const std::string& name) REQUIRES(g_mutex) {
    std::printf("simulated serial port %s: %s\n", device.c_str(), name.c_str());
    std::fflush(stdout);
    if (makeParentDirs("/sim/serial-ports") != 0 || refuseLink(path("/sim/serial-ports"))) return;
    std::ofstream out(path("/sim/serial-ports"), std::ios::trunc);
    for (const auto& [dev, pty] : g_ptys) out << dev << ' ' << pty.name << '\n';
}

}  // namespace

int openSimSerial(const std::string& device) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -errno;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return -EIO;
    }
    const int keep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keep >= 0) {
        termios t{};
        ::tcgetattr(keep, &t);
        ::cfmakeraw(&t);  // the far end is a plain byte pipe, no echo
        ::tcsetattr(keep, TCSANOW, &t);
    }
    zem::MutexLocker lock(g_mutex);
    Pty& p = g_ptys[device];
    if (p.keep >= 0) ::close(p.keep);
    p = {name, keep};
    reportPorts(device, name);
    return master;
}

void releaseSimSerial(const std::string& device) {
    zem::MutexLocker lock(g_mutex);
    auto it = g_ptys.find(device);
    if (it == g_ptys.end() || it->second.keep < 0) return;
    ::close(it->second.keep);
    it->second.keep = -1;
}

std::string serialPeerName(const std::string& device) {
    zem::MutexLocker lock(g_mutex);
    auto it = g_ptys.find(device);
    return it == g_ptys.end() ? std::string() : it->second.name;
}

}  // namespace platform::sim
