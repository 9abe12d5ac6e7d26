#include "platform/own_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/box.h"

namespace platform {
namespace {

// As many links as the kernel follows in one path before it gives up (ELOOP).
constexpr int kMaxLinkHops = 40;

void toStderr(const char* line) {
    std::fprintf(stderr, "%s\n", line);
}

std::atomic<void (*)(const char*)> g_sink{toStderr};

void sayRefused(const std::string& local, const char* instead = nullptr) {
    std::string line =
        local + " is a symbolic link: refused (the box uses its own files, never through a link)";
    if (instead) line += std::string(": ") + instead;
    g_sink.load()(line.c_str());
}

bool isLink(const std::string& local) {
    struct stat st = {};
    return ::lstat(local.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string folderOf(const std::string& file) {
    const auto slash = file.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace

bool linksFollowed() {
    return onBox();
}

int openOwnFile(const std::string& local, int flags, mode_t mode) {
    if (!linksFollowed()) flags |= O_NOFOLLOW;
    const int fd = ::open(local.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    const int err = errno;
    if (err == ELOOP && (flags & O_NOFOLLOW)) sayRefused(local);
    return -err;
}

bool refuseLink(const std::string& local, const char* instead) {
    if (linksFollowed() || !isLink(local)) return false;
    sayRefused(local, instead);
    return true;
}

bool mayRead(const std::string& local, const char* instead) {
    return !refuseLink(local, instead);
}

std::string fileWritten(const std::string& local) {
    if (!linksFollowed()) return local;
    std::string at = local;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        if (!isLink(at)) return at;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), target, sizeof target - 1);
        if (n <= 0) return at;
        target[n] = '\0';
        const std::string folder = folderOf(at);
        at = target[0] == '/' ? std::string(target)
                              : (folder == "/" ? "" : folder) + "/" + std::string(target);
    }
    return local;  // a ring of links leads to no file: the rename replaces the first
}

void setRefusalSink(void (*sink)(const char* line)) {
    g_sink = sink ? sink : toStderr;
}

}  // namespace platform
