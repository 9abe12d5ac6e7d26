// I2C on the box: i2c-dev, one I2C_RDWR ioctl per combined message.
#include "platform/linux/linux_i2c.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/box.h"
#include "platform/i2c_bus.h"

namespace platform {
namespace {

class LinuxI2cBus : public I2cBus {
public:
    explicit LinuxI2cBus(int fd) : fd_(fd) {}
    ~LinuxI2cBus() override { ::close(fd_); }
    LinuxI2cBus(const LinuxI2cBus&) = delete;
    LinuxI2cBus& operator=(const LinuxI2cBus&) = delete;

    int transfer(uint8_t addr, const uint8_t* w, size_t wlen, uint8_t* r, size_t rlen) override {
        // A message's length is 16 bits: a longer one would go out cut short yet report success.
        if (wlen > kMaxMessage || rlen > kMaxMessage) return -EINVAL;
        i2c_msg msgs[2];
        int n = 0;
        if (wlen > 0) {
            msgs[n++] = {addr, 0, static_cast<__u16>(wlen), const_cast<uint8_t*>(w)};
        }
        if (rlen > 0) msgs[n++] = {addr, I2C_M_RD, static_cast<__u16>(rlen), r};
        if (n == 0) return 0;
        i2c_rdwr_ioctl_data data{msgs, static_cast<__u32>(n)};
        if (::ioctl(fd_, I2C_RDWR, &data) < 0) return errno ? -errno : -EIO;
        return 0;
    }

private:
    static constexpr size_t kMaxMessage = 0xFFFF;
    int fd_;
};

}  // namespace

int openLinuxI2cBus(const std::string& node, std::unique_ptr<I2cBus>& out) {
    const int fd = ::open(path(node).c_str(), O_RDWR);
    if (fd < 0) return -errno;
    out = std::make_unique<LinuxI2cBus>(fd);
    return 0;
}

}  // namespace platform
