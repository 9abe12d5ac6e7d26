#include "platform/box.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/shell.h"
#include "platform/sim/sim_box.h"

namespace platform {
namespace {
Backend g_backend = Backend::Unselected;
std::string g_root;

}  // namespace

int makeDirs(const std::string& dir) {
    if (dir.empty()) return 0;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -ENOTDIR;
    const auto slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        const int rc = makeDirs(dir.substr(0, slash));
        if (rc != 0) return rc;
    }
    if (::mkdir(dir.c_str(), 0755) != 0) return errno == EEXIST ? 0 : -errno;
    // mkdir's mode is cut by the umask: the box's folders are 0755 whatever it is.
    return ::chmod(dir.c_str(), 0755) == 0 ? 0 : -errno;
}

void selectLinux() {
    g_backend = Backend::Linux;
    g_root.clear();
    installShell(makeLinuxShell());
}

void selectSimulatedRoot(const std::string& root) {
    g_backend = Backend::Simulated;
    g_root = root;
    while (g_root.size() > 1 && g_root.back() == '/') g_root.pop_back();
}

void startSimulatedBox() {
    makeDirs(g_root);
    sim::SimBox::reset();
    installShell(sim::makeSimShell());
}

void selectSimulated(const std::string& root) {
    selectSimulatedRoot(root);
    startSimulatedBox();
}

Backend backend() {
    return g_backend;
}
bool onBox() {
    return g_backend == Backend::Linux;
}

bool simulated() {
    return g_backend == Backend::Simulated;
}
const std::string& root() {
    return g_root;
}

std::string path(const std::string& absolute) {
    if (g_root.empty() || absolute.empty() || absolute[0] != '/') return absolute;
    return g_root + absolute;
}

std::string boxPath(const std::string& local) {
    const size_t n = g_root.size();
    if (n == 0 || local.size() <= n || local.compare(0, n, g_root) != 0 || local[n] != '/')
        return local;
    return local.substr(n);
}

int makeParentDirs(const std::string& absolute) {
    const std::string local = path(absolute);
    const auto slash = local.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return 0;
    return makeDirs(local.substr(0, slash));
}

}  // namespace platform
