// Simulated serial devices: the program's side is the master of a pseudo-terminal; a test
// opens the slave by the name serialPeerName reports. The model keeps one slave descriptor
// open so that the master never sees a hang-up while no test is attached.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/serial_port.h"

namespace platform::sim {
namespace {

struct Pty {
    std::string name;
    int keep = -1;  // slave held open by the model
};
std::mutex g_mutex;
std::map<std::string, Pty> g_ptys;

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
    std::lock_guard<std::mutex> lock(g_mutex);
    Pty& p = g_ptys[device];
    if (p.keep >= 0) ::close(p.keep);
    p = {name, keep};
    return master;
}

std::string serialPeerName(const std::string& device) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_ptys.find(device);
    return it == g_ptys.end() ? std::string() : it->second.name;
}

}  // namespace platform::sim
