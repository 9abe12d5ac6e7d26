// SPI bus on the box: a spidev node in mode 3, 8 bits per word, one SPI_IOC_MESSAGE(1) per
// transfer.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/box.h"
#include "platform/linux/linux_devices.h"
#include "platform/spi_bus.h"

namespace platform {
namespace {

class SpidevBus : public SpiBus {
public:
    explicit SpidevBus(int fd) : fd_(fd) {}
    ~SpidevBus() override { ::close(fd_); }
    SpidevBus(const SpidevBus&) = delete;
    SpidevBus& operator=(const SpidevBus&) = delete;

    int transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speed_hz) override {
        if (!tx || len == 0) return -EINVAL;
        struct spi_ioc_transfer xfer;
        std::memset(&xfer, 0, sizeof xfer);
        xfer.tx_buf = reinterpret_cast<uintptr_t>(tx);
        xfer.rx_buf = reinterpret_cast<uintptr_t>(rx);
        xfer.len = static_cast<uint32_t>(len);
        xfer.speed_hz = speed_hz;
        xfer.bits_per_word = 8;
        const int rc = ::ioctl(fd_, SPI_IOC_MESSAGE(1), &xfer);
        if (rc < 0) return -errno;
        return static_cast<size_t>(rc) == len ? 0 : -EIO;
    }

private:
    int fd_;
};

// Writes a setting and reads it back; the driver may refuse or round it.
template <typename T>
int setAndCheck(int fd, unsigned long wr, unsigned long rd, T value) {
    if (::ioctl(fd, wr, &value) < 0) return -errno;
    T back{};
    if (::ioctl(fd, rd, &back) < 0) return -errno;
    return 0;
}

}  // namespace

int openLinuxSpiBus(const std::string& node, uint32_t max_speed_hz, std::unique_ptr<SpiBus>& out) {
    const int fd = ::open(path(node).c_str(), O_RDWR);
    if (fd < 0) return -errno;
    uint8_t mode = SPI_MODE_3;
    uint8_t bits = 8;
    int rc = setAndCheck(fd, SPI_IOC_WR_MODE, SPI_IOC_RD_MODE, mode);
    if (rc == 0) rc = setAndCheck(fd, SPI_IOC_WR_BITS_PER_WORD, SPI_IOC_RD_BITS_PER_WORD, bits);
    if (rc == 0)
        rc = setAndCheck(fd, SPI_IOC_WR_MAX_SPEED_HZ, SPI_IOC_RD_MAX_SPEED_HZ, max_speed_hz);
    if (rc != 0) {
        ::close(fd);
        return rc;
    }
    out = std::make_unique<SpidevBus>(fd);
    return 0;
}

}  // namespace platform
