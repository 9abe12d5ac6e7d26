// A serial port of the box ("/dev/ttyS2", "/dev/ttyS1"): termios raw mode at the given speed,
// 8 data bits, no parity, 1 stop bit. On the simulated box each port is a pseudo-terminal whose
// other end's name sim::serialPeerName reports, so a test can talk to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class SerialPort {
public:
    SerialPort() = default;
    SerialPort(SerialPort&& o) noexcept : fd_(o.fd_), wake_fd_(o.wake_fd_) {
        o.fd_ = o.wake_fd_ = -1;
    }
    SerialPort& operator=(SerialPort&& o) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort() { close(); }

    // Opens a port by its program path; 0 or a negative errno.
    int open(const std::string& device, uint32_t baud);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Waits up to timeout_ms (-1 forever) for bytes; the count read, 0 on timeout, or -errno.
    // Returns 0 at once from the first interrupt() on, until the port is opened again.
    int read(uint8_t* buf, size_t cap, int timeout_ms);
    // Ends a read that waits (and every later one), from any thread: how a reader is stopped
    // without waking it periodically.
    void interrupt();
    // Waits up to timeout_ms or until interrupt(); true when interrupted.
    bool pause(int timeout_ms);
    // Writes all n bytes; 0 or -errno.
    int write(const uint8_t* buf, size_t n);

private:
    int fd_ = -1;
    int wake_fd_ = -1;  // an eventfd that interrupt() makes readable
};

namespace sim {
// The pseudo-terminal name a test opens to talk to a simulated serial device ("/dev/ttyS2");
// empty before the program opened it.
std::string serialPeerName(const std::string& device);
// Opens the program side of a simulated serial device; its descriptor or -errno.
int openSimSerial(const std::string& device);
// Closes the model's own hold on the far end, so that once the test's end closes too the
// program's side sees a hang-up (read errors) until a test attaches again.
void releaseSimSerial(const std::string& device);
}  // namespace sim

}  // namespace platform
