#include "core/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSettings>
#include <cerrno>

#include "core/globals.h"
#include "core/utils.h"
#include "platform/box.h"
#include "platform/clock.h"
#include "platform/own_files.h"

namespace file_io {
namespace {

int writeAll(int fd, const uint8_t* p, size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -errno;
        }
        p += n;
        len -= size_t(n);
    }
    return 0;
}

// The rename is only durable once the folder entry itself reached the disk.
void syncFolder(const std::string& local) {
    const auto slash = local.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : local.substr(0, slash ? slash : 1);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

int writeFileAtomic(const std::string& absPath, const void* data, size_t len) {
    platform::makeParentDirs(absPath);
    // On the box a link at absPath leads to the file written, and stays; on the simulated root
    // the rename replaces it, never following it.
    const std::string local = platform::fileWritten(platform::path(absPath));
    const std::string tmp = local + ".new";
    // A ".new" a kill left, or a link planted in its place, goes: the file is made anew, never
    // written through a link.
    ::unlink(tmp.c_str());
    const int fd = platform::openOwnFile(tmp, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) return fd;
    int rc = writeAll(fd, static_cast<const uint8_t*>(data), len);
    if (rc == 0 && hooks().durable && ::fsync(fd) != 0) rc = -errno;
    if (::close(fd) != 0 && rc == 0) rc = -errno;
    if (rc == 0 && ::rename(tmp.c_str(), local.c_str()) != 0) rc = -errno;
    if (rc != 0) {
        ::unlink(tmp.c_str());
        return rc;
    }
    if (hooks().durable) syncFolder(local);
    return 0;
}

TestHooks& hooks() {
    static TestHooks h;
    return h;
}

void syncAndSettle() {
    if (!hooks().durable) return;
    Utils::system_mutex("sync");
    platform::sleepMs(100);
}

void installNewProgram() {
    // Shell commands name program paths; the shell seam places them on this machine.
    Utils::system_mutex("chmod 777 -R /data/app");
    platform::sleepMs(10);
    Utils::system_mutex("mv /data/app/zemT57N2  /data/app/zemT57N");
    const std::string file = platform::path("/data/configs/led_load_config.ini");
    if (g_update_status == 0 && !platform::refuseLink(file)) {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        QSettings ini(QString::fromStdString(file), QSettings::IniFormat);
        ini.setValue("app-1/app_path", "/data/app/zemT57N -platform linuxfb");
        ini.setValue("app-1/app_name", "zemT57N");
        ini.sync();
    }
    Utils::system_mutex("sync");
}

void removeLeftover(const std::string& absPath) {
    const std::string tmp = platform::fileWritten(platform::path(absPath)) + ".new";
    if (::unlink(tmp.c_str()) != 0) return;
    const std::string line = "a cut write's leftover removed: " + platform::boxPath(tmp);
    ZEM_DEBUG("\n %s \n", line.c_str());
}

long readFileBytes(const std::string& absPath, uint8_t* buf, size_t cap, const char* instead) {
    const std::string local = platform::path(absPath);
    if (!platform::mayRead(local, instead)) return -ELOOP;
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    size_t got = 0;
    while (got < cap) {
        const ssize_t n = ::read(fd, buf + got, cap - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    ::close(fd);
    return long(got);
}

}  // namespace file_io
