#include "simctl/sim_root.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/box.h"
#include "simctl/sim_control.h"

namespace {

constexpr const char* kLock = "/sim/lock";

// The pid the holder wrote, or "" while it has not yet written it: the first line only, since a
// writer puts its pid over the one before and then cuts the file (see writePid).
std::string holderPid(int fd) {
    char buf[32] = {};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    const std::string all(buf, size_t(n > 0 ? n : 0));
    return all.substr(0, all.find_first_of("\n "));
}

// This process's pid in the lock, written over the one before and then the file cut to it: a
// reader never finds it empty (it would take the root for no start's).
void writePid(int fd, const std::string& file) {
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size()) ||
        ::ftruncate(fd, off_t(pid.size())) != 0)
        std::fprintf(stderr, "%s: the pid could not be written: %s\n", file.c_str(),
                     std::strerror(errno));
}

int refuse(int fd) {
    const std::string pid = holderPid(fd);
    const std::string box = pid.empty() ? "a box" : "a box (pid " + pid + ")";
    std::fprintf(stderr, "error: %s already runs with root %s\n", box.c_str(),
                 platform::root().c_str());
    ::close(fd);
    return 1;
}

// The descriptor of the root's lock that scripts/run-sim.sh has held since its first check and
// hands over (ZEM_SIM_LOCK_FD), or -1. Only the root's own lock file counts.
int handedOverLock(const std::string& file) {
    const char* env = std::getenv("ZEM_SIM_LOCK_FD");
    if (!env) return -1;
    const int fd = std::atoi(env);
    ::unsetenv("ZEM_SIM_LOCK_FD");
    struct stat held = {};
    struct stat lock = {};
    if (fd <= STDERR_FILENO || ::fstat(fd, &held) != 0 || ::stat(file.c_str(), &lock) != 0 ||
        held.st_dev != lock.st_dev || held.st_ino != lock.st_ino)
        return -1;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

}  // namespace

int sim_root_claim() {
    if (sim_control::checkSocketPath() != 0) return 1;
    const std::string file = platform::path(kLock);
    const int rc = platform::makeParentDirs(kLock);
    // Never closed: the lock lasts as long as the process. Not handed to any child either.
    int fd = rc == 0 ? handedOverLock(file) : -1;
    if (fd < 0 && rc == 0) fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0 && errno == EWOULDBLOCK) return refuse(fd);
        std::fprintf(stderr, "error: %s can't be locked: %s\n", file.c_str(),
                     std::strerror(rc ? -rc : errno));
        if (fd >= 0) ::close(fd);
        return 1;
    }
    writePid(fd, file);
    return 0;
}

int sim_root_refuse_machine_root(const std::string& root) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path whole = fs::absolute(root, ec);
    fs::path real = fs::weakly_canonical(whole, ec);  // a part that does not exist is lexical
    if (ec) real = whole.lexically_normal();
    if (real != "/") return 0;
    std::fprintf(stderr, "error: DIR %s is / itself: the simulated box needs a folder of its own\n",
                 root.c_str());
    return 1;
}
