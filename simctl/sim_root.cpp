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
    if (fd <= STDERR_FILENO || ::fstat(fd, &held) != 0 || ::lstat(file.c_str(), &lock) != 0 ||
        held.st_dev != lock.st_dev || held.st_ino != lock.st_ino)
        return -1;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

// The path as a shell word, for a command to paste.
std::string quoted(const std::string& path) {
    std::string word = "'";
    for (const char c : path) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// The root, made with mode 0755 when missing; 0, or 1 after an error when it is another user's
// or others may write in it: they could plant links there that lead anywhere (a sticky shared
// folder included, where they make their own entries).
int ownRoot() {
    const std::string& root = platform::root();
    int rc = platform::makeDirs(root);
    struct stat st = {};
    if (rc == 0 && ::stat(root.c_str(), &st) != 0) rc = -errno;
    if (rc != 0) {
        std::fprintf(stderr, "error: cannot make %s: %s\n", root.c_str(), std::strerror(-rc));
        return 1;
    }
    if (st.st_uid != ::geteuid()) {
        std::fprintf(stderr,
                     "error: root %s belongs to another user: the box needs a root of its own\n",
                     root.c_str());
        return 1;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        std::fprintf(stderr,
                     "error: root %s is writable by other users: the box needs a root of its own "
                     "(chmod go-w %s mends it)\n",
                     root.c_str(), quoted(root).c_str());
        return 1;
    }
    return 0;
}

int notOwn(const std::string& sim, const char* why) {
    std::fprintf(stderr, "error: %s %s: the box needs a folder of its own there\n", sim.c_str(),
                 why);
    return 1;
}

// ROOT/sim, the box's own folder, made with mode 0700 when missing; 0, or 1 after an error when
// it is a symbolic link, another user's, or writable by other users (ROOT may be under /tmp,
// where another user can plant links that lead anywhere).
int ownSimFolder() {
    const std::string sim = platform::path("/sim");
    int rc = platform::makeParentDirs("/sim");
    if (rc == 0 && ::mkdir(sim.c_str(), 0700) != 0 && errno != EEXIST) rc = -errno;
    struct stat st = {};
    if (rc == 0 && ::lstat(sim.c_str(), &st) != 0) rc = -errno;
    if (rc == 0 && !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode)) rc = -ENOTDIR;
    if (rc != 0) {
        std::fprintf(stderr, "error: cannot make %s: %s\n", sim.c_str(), std::strerror(-rc));
        return 1;
    }
    if (S_ISLNK(st.st_mode)) return notOwn(sim, "is a symbolic link");
    if (st.st_uid != ::geteuid()) return notOwn(sim, "belongs to another user");
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return notOwn(sim, "is writable by other users");
    return 0;
}

}  // namespace

int sim_root_claim() {
    if (sim_control::checkSocketPath() != 0 || ownRoot() != 0 || ownSimFolder() != 0) return 1;
    const std::string file = platform::path(kLock);
    // Never closed: the lock lasts as long as the process. Not handed to any child either.
    int fd = handedOverLock(file);
    if (fd < 0) fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno == ELOOP) {
        std::fprintf(stderr, "error: %s is a symbolic link: the box makes its own files in %s\n",
                     file.c_str(), platform::path("/sim").c_str());
        return 1;
    }
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0 && errno == EWOULDBLOCK) return refuse(fd);
        std::fprintf(stderr, "error: %s can't be locked: %s\n", file.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return 1;
    }
    writePid(fd, file);
    return 0;
}

int sim_root_resolve(std::string& root) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path whole = fs::absolute(root, ec);
    fs::path real = fs::weakly_canonical(whole, ec);  // a part that does not exist is lexical
    if (ec) real = whole.lexically_normal();
    const char* why = nullptr;
    if (real == "/")
        why = "is / itself";
    else if (fs::exists(real, ec) && !fs::is_directory(real, ec))
        why = "is not a folder";
    if (why) {
        std::fprintf(stderr, "error: DIR %s %s: the simulated box needs a folder of its own\n",
                     root.c_str(), why);
        return 1;
    }
    root = real.string();
    return 0;
}
