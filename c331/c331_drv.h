// C331 register access: 2-byte SPI frames on "/dev/spidev32766.0", banks of 128 byte-wide
// registers, the selected bank cached so that a bank select is sent only when it changes.
//
// A register descriptor is bank << 16 | address << 8 | byte count (1..4); a channel offset
// (16k for output channel k) is added to the bank. Multi-byte fields are little-endian over
// consecutive addresses.
#pragma once

#include <cstdint>
#include <memory>

#include "core/thread_safety.h"
#include "core/utils.h"
#include "platform/soc_window.h"
#include "platform/spi_bus.h"

class c331_drv {
public:
    static constexpr const char* kNode = "/dev/spidev32766.0";
    static constexpr uint32_t kWriteHz = 10000000;
    static constexpr uint32_t kReadHz = 5000000;
    // SoC pad words of the FPGA select lines; both high route the shared bus to the C331.
    static constexpr uint32_t kFpga0Select = 0x207810;
    static constexpr uint32_t kFpga1Select = 0x207900;

    c331_drv();

    int bank GUARDED_BY(Utils::_c331_bnk_mutex);  // cached bank, -1 none known
    // Set to 0 by init_reg_acc_param, read by nothing.
    int reserved GUARDED_BY(Utils::_c331_bnk_mutex);

    // Forget the cached bank: the next access sends a bank select.
    void init_reg_acc_param();
    // Opens the node (mode 3, 8 bits, 10 MHz). The descriptor, or -1 when it did not open.
    int initialize();

    // One message: transmit-only at 10 MHz, or full duplex at 5 MHz. 0 or a negative errno.
    int SPI_Transfer_Write(int fd, const uint8_t* tx, int len);
    int SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, int len);

    // Writes the low `count` bytes of value, least significant first. 0 or a negative errno
    // (a refused descriptor: count 0 or above 4, or a field crossing address 0x7F).
    int write_C331(int fd, uint32_t descriptor, uint32_t value, uint32_t channel_offset);
    // The field's value; 0 when the descriptor is refused or a message failed.
    uint32_t read_C331(int fd, uint32_t descriptor, uint32_t channel_offset);
    // As read_C331, with the status: 0 and the value, or a negative errno.
    int read_C331_checked(int fd, uint32_t descriptor, uint32_t channel_offset, uint32_t* value);
    // (old AND NOT mask) OR (value AND mask), read and written under one bank lock. A failed
    // read writes nothing.
    int write_c331_mask(int fd, uint32_t descriptor, uint32_t value, uint32_t mask,
                        uint32_t channel_offset);
    // Polls a field until (field AND mask) == want, at most max_polls reads with pause_us
    // between them. 0 when it got there; -ETIMEDOUT (logged with `what`) when it ran out.
    int wait_field(int fd, uint32_t descriptor, uint32_t mask, uint32_t want, int max_polls,
                   uint32_t pause_us, const char* what);

    // Messages that failed since start (for the debug dump and tests); counted under the SPI
    // lock, since the raw messages take no bank lock.
    uint32_t errors GUARDED_BY(Utils::_spi_mutex);

private:
    static bool validDescriptor(uint32_t descriptor);
    int transfer(const uint8_t* tx, uint8_t* rx, int len, uint32_t speed_hz);
    int selectBankLocked(uint32_t descriptor, uint32_t channel_offset)
        REQUIRES(Utils::_c331_bnk_mutex);
    int writeLocked(uint32_t descriptor, uint32_t value, uint32_t channel_offset)
        REQUIRES(Utils::_c331_bnk_mutex);
    int readLocked(uint32_t descriptor, uint32_t channel_offset, uint32_t* value)
        REQUIRES(Utils::_c331_bnk_mutex);
    bool validFd(int fd) const { return fd >= 0 && fd == fd_ && bus_; }

    // Set by initialize, on the C331 thread before it touches the chip; fixed after.
    std::unique_ptr<platform::SpiBus> bus_;
    std::unique_ptr<platform::SocWindow> pads_;
    int fd_ = -1;
};
