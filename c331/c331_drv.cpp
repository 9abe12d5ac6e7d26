// C331 register access. Lock order: Utils::_c331_bnk_mutex (one field, with its bank select),
// then Utils::_spi_mutex (one 2-byte message).
#include "c331/c331_drv.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/globals.h"
#include "core/utils.h"
#include "platform/clock.h"

namespace {
// Descriptors handed out by initialize(); each open gets its own, as open(2) would.
std::atomic<int> g_next_descriptor{3};

uint32_t bankOf(uint32_t descriptor) {
    return (descriptor >> 16) & 0xFF;
}
uint32_t addressOf(uint32_t descriptor) {
    return (descriptor >> 8) & 0xFF;
}
uint32_t countOf(uint32_t descriptor) {
    return descriptor & 0xFF;
}
}  // namespace

c331_drv::c331_drv() : bank(-1), reserved(0), errors(0) {
    writeLogMsg(3, "====c331_drv::c331_drv()=====");
}

void c331_drv::init_reg_acc_param() {
    zem::MutexLocker lock(Utils::_c331_bnk_mutex);
    bank = -1;
    reserved = 0;
}

int c331_drv::initialize() {
    std::unique_ptr<platform::SpiBus> bus;
    const int rc = platform::openSpiBus(kNode, kWriteHz, bus);
    if (rc != 0) {
        ZEM_DEBUG("\n c331: %s did not open (%d)\n", kNode, rc);
        return -1;
    }
    if (platform::openSocWindow(platform::SocWindowKind::Pads, pads_) != 0) {
        pads_.reset();
        ZEM_DEBUG("\n c331: no SoC pad window, FPGA select lines left as they are\n");
    }
    zem::MutexLocker lock(Utils::_c331_bnk_mutex);
    bus_ = std::move(bus);
    fd_ = g_next_descriptor++;
    bank = -1;
    return fd_;
}

bool c331_drv::validDescriptor(uint32_t descriptor) {
    const uint32_t count = countOf(descriptor);
    return count >= 1 && count <= 4 && addressOf(descriptor) + count - 1 <= 0x7F;
}

int c331_drv::transfer(const uint8_t* tx, uint8_t* rx, int len, uint32_t speed_hz) {
    int rc;
    {
        zem::MutexLocker lock(Utils::_spi_mutex);
        if (pads_) {
            pads_->write16(kFpga0Select, 0x10);
            pads_->write16(kFpga1Select, 0x10);
        }
        rc = bus_->transfer(tx, rx, static_cast<size_t>(len), speed_hz);
        if (rc != 0) ++errors;  // counted under the lock: the raw messages take no bank lock
    }
    if (rc != 0) {
        errno = -rc;
        std::perror("can't send spi message");
    }
    return rc;
}

int c331_drv::SPI_Transfer_Write(int fd, const uint8_t* tx, int len) {
    if (!validFd(fd) || !tx || len <= 0) return -EBADF;
    return transfer(tx, nullptr, len, kWriteHz);
}

int c331_drv::SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, int len) {
    if (!validFd(fd) || !tx || len <= 0) return -EBADF;
    return transfer(tx, rx, len, kReadHz);
}

int c331_drv::selectBankLocked(uint32_t descriptor, uint32_t channel_offset) {
    const int want = static_cast<int>((bankOf(descriptor) + channel_offset) & 0xFF);
    if (want == bank) return 0;
    const uint8_t frame[2] = {0x80, static_cast<uint8_t>(want)};
    const int rc = transfer(frame, nullptr, 2, kWriteHz);
    // After a failed select the chip's bank is unknown: select again next time.
    bank = rc == 0 ? want : -1;
    return rc;
}

int c331_drv::writeLocked(uint32_t descriptor, uint32_t value, uint32_t channel_offset) {
    int rc = selectBankLocked(descriptor, channel_offset);
    const uint32_t address = addressOf(descriptor);
    for (uint32_t i = 0; rc == 0 && i < countOf(descriptor); ++i) {
        const uint8_t frame[2] = {static_cast<uint8_t>(0x80 | (address + i)),
                                  static_cast<uint8_t>(value >> (8 * i))};
        rc = transfer(frame, nullptr, 2, kWriteHz);
        // A write to address 0 is the bank-select frame: the chip now has that bank.
        if (address + i == 0) bank = rc == 0 ? frame[1] : -1;
    }
    return rc;
}

int c331_drv::readLocked(uint32_t descriptor, uint32_t channel_offset, uint32_t* value) {
    *value = 0;
    int rc = selectBankLocked(descriptor, channel_offset);
    const uint32_t address = addressOf(descriptor);
    uint32_t result = 0;
    for (uint32_t i = 0; rc == 0 && i < countOf(descriptor); ++i) {
        const uint8_t frame[2] = {static_cast<uint8_t>((address + i) & 0x7F), 0xFF};
        uint8_t rx[2] = {0, 0};
        rc = transfer(frame, rx, 2, kReadHz);
        result |= static_cast<uint32_t>(rx[1]) << (8 * i);
    }
    if (rc == 0) *value = result;
    return rc;
}

int c331_drv::write_C331(int fd, uint32_t descriptor, uint32_t value, uint32_t channel_offset) {
    if (!validFd(fd)) return -EBADF;
    if (!validDescriptor(descriptor)) {
        ZEM_DEBUG("\n write_C331: descriptor %06x refused\n", descriptor);
        return -EINVAL;
    }
    zem::MutexLocker lock(Utils::_c331_bnk_mutex);
    return writeLocked(descriptor, value, channel_offset);
}

int c331_drv::read_C331_checked(int fd, uint32_t descriptor, uint32_t channel_offset,
                                uint32_t* value) {
    *value = 0;
    if (!validFd(fd)) return -EBADF;
    if (!validDescriptor(descriptor)) {
        ZEM_DEBUG("\n read_C331: descriptor %06x refused\n", descriptor);
        return -EINVAL;
    }
    zem::MutexLocker lock(Utils::_c331_bnk_mutex);
    return readLocked(descriptor, channel_offset, value);
}

uint32_t c331_drv::read_C331(int fd, uint32_t descriptor, uint32_t channel_offset) {
    uint32_t value = 0;
    read_C331_checked(fd, descriptor, channel_offset, &value);
    return value;
}

int c331_drv::write_c331_mask(int fd, uint32_t descriptor, uint32_t value, uint32_t mask,
                              uint32_t channel_offset) {
    if (!validFd(fd)) return -EBADF;
    if (!validDescriptor(descriptor)) {
        ZEM_DEBUG("\n write_c331_mask: descriptor %06x refused\n", descriptor);
        return -EINVAL;
    }
    // One lock across the read and the write: no other thread's field write can fall between.
    zem::MutexLocker lock(Utils::_c331_bnk_mutex);
    uint32_t old = 0;
    const int rc = readLocked(descriptor, channel_offset, &old);
    if (rc != 0) return rc;
    return writeLocked(descriptor, (old & ~mask) | (value & mask), channel_offset);
}

int c331_drv::wait_field(int fd, uint32_t descriptor, uint32_t mask, uint32_t want, int max_polls,
                         uint32_t pause_us, const char* what) {
    uint32_t value = 0;
    for (int i = 0; i < max_polls; ++i) {
        if (read_C331_checked(fd, descriptor, 0, &value) == 0 && (value & mask) == want) return 0;
        if (pause_us) platform::sleepUs(pause_us);
    }
    char text[160];
    std::snprintf(text, sizeof text, "c331: %s did not come after %d polls (%06x = %02x)",
                  what ? what : "wait", max_polls, descriptor, value);
    writeLogMsg(2, text);
    ZEM_DEBUG("\033[1m%s\033[0m\n", text);
    return -ETIMEDOUT;
}
