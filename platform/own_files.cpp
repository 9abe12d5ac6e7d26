#include "platform/own_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace platform {
namespace {

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

}  // namespace

int openOwnFile(const std::string& local, int flags, mode_t mode) {
    const int fd = ::open(local.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    const int err = errno;
    if (err == ELOOP) sayRefused(local);
    return -err;
}

bool refuseLink(const std::string& local, const char* instead) {
    struct stat st = {};
    if (::lstat(local.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    sayRefused(local, instead);
    return true;
}

void setRefusalSink(void (*sink)(const char* line)) {
    g_sink = sink ? sink : toStderr;
}

}  // namespace platform
