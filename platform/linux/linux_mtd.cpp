// MTD partition on the box: the kernel's mtdchar device, opened O_RDWR | O_SYNC.
#include "platform/linux/linux_mtd.h"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/box.h"
#include "platform/own_files.h"

namespace platform {
namespace {

class LinuxMtd : public MtdDevice {
public:
    explicit LinuxMtd(int fd) : fd_(fd) {}
    ~LinuxMtd() override { ::close(fd_); }

    int info(MtdInfo& out) override {
        mtd_info_user mi{};
        if (::ioctl(fd_, MEMGETINFO, &mi) != 0) return -errno;
        out.size = mi.size;
        out.erasesize = mi.erasesize;
        out.writesize = mi.writesize;
        return 0;
    }
    int unlock(uint32_t start, uint32_t length) override {
        return request(MEMUNLOCK, start, length);
    }
    int erase(uint32_t start, uint32_t length) override { return request(MEMERASE, start, length); }
    ssize_t pwrite(const void* data, size_t n, uint32_t offset) override {
        const ssize_t rc = ::pwrite(fd_, data, n, offset);
        return rc < 0 ? -errno : rc;
    }
    ssize_t pread(void* out, size_t n, uint32_t offset) override {
        const ssize_t rc = ::pread(fd_, out, n, offset);
        return rc < 0 ? -errno : rc;
    }

private:
    int request(unsigned long req, uint32_t start, uint32_t length) {
        erase_info_user ei{start, length};
        return ::ioctl(fd_, req, &ei) == 0 ? 0 : -errno;
    }
    int fd_;
};

}  // namespace

int openLinuxMtd(const std::string& device, std::unique_ptr<MtdDevice>& out) {
    // A flash partition's own node, never a link to another device: refused on the box too.
    const int fd = openOwnFile(path(device), O_RDWR | O_SYNC | O_NOFOLLOW);
    if (fd < 0) return fd;
    out = std::make_unique<LinuxMtd>(fd);
    return 0;
}

}  // namespace platform
