#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/box.h"

namespace platform {
namespace {

speed_t speed_of(uint32_t baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        default:
            return B115200;
    }
}

int set_raw(int fd, uint32_t baud) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return -errno;
    ::cfmakeraw(&t);
    t.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed_of(baud));
    ::cfsetospeed(&t, speed_of(baud));
    return ::tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : -errno;
}

}  // namespace

SerialPort& SerialPort::operator=(SerialPort&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        wake_fd_ = o.wake_fd_;
        o.fd_ = o.wake_fd_ = -1;
    }
    return *this;
}

int SerialPort::open(const std::string& device, uint32_t baud) {
    close();
    if (!simulated() && !onBox()) return -ENODEV;
    int fd = simulated() ? sim::openSimSerial(device)
                         : ::open(path(device).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return simulated() ? fd : -errno;
    const int rc = set_raw(fd, baud);
    if (rc != 0) {
        ::close(fd);
        return rc;
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        const int err = -errno;
        ::close(fd);
        return err;
    }
    fd_ = fd;
    wake_fd_ = wake;
    return 0;
}

void SerialPort::close() {
    if (fd_ >= 0) ::close(fd_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
    fd_ = wake_fd_ = -1;
}

void SerialPort::interrupt() {
    if (wake_fd_ < 0) return;
    const uint64_t one = 1;
    if (::write(wake_fd_, &one, sizeof one) < 0) {
        // Only a counter overflow fails, and then the port is interrupted already.
    }
}

bool SerialPort::pause(int timeout_ms) {
    pollfd p{wake_fd_, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) > 0;
}

int SerialPort::read(uint8_t* buf, size_t cap, int timeout_ms) {
    // The eventfd stays readable once written, so every later read returns at once too.
    pollfd p[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    const int r = ::poll(p, 2, timeout_ms);
    if (r < 0) return errno == EINTR ? 0 : -errno;
    if (r == 0 || p[1].revents) return 0;
    const ssize_t n = ::read(fd_, buf, cap);
    if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -errno;
    return int(n);
}

int SerialPort::write(const uint8_t* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd_, buf + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return -ETIMEDOUT;
            continue;
        }
        if (w <= 0) return -EIO;
        done += size_t(w);
    }
    return 0;
}

}  // namespace platform
