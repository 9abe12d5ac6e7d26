#include "fpga/fpga_drv.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/globals.h"
#include "platform/clock.h"

namespace {
const char* const kNodes[4] = {"/dev/spidev32766.1", "/dev/spidev32766.2", "/dev/spidev32766.3",
                               "/dev/spidev32766.4"};
constexpr uint32_t kUnitSectors[3] = {1, 8, 16};
constexpr uint8_t kEraseCmd[3] = {0x20, 0x52, 0xD8};
}  // namespace

const char* fpga_drv::node(int n) {
    return kNodes[n & 3];
}

int fpga_drv::initialize_vbyne1(int n, std::unique_ptr<platform::SpiBus>& out) {
    const int rc = platform::openSpiBus(node(n), kSpeedHz, out);
    if (rc != 0) {
        std::fprintf(stderr, "can't set spi mode\n");
        writeLogMsg(1, "fpga spi node did not open");
    }
    return rc;
}

int fpga_drv::SPI_Transfer(platform::SpiBus* bus, const uint8_t* tx, uint8_t* rx, uint32_t len) {
    if (!bus) return -19;
    const int rc = bus->transfer(tx, rx, len, kSpeedHz);
    if (rc < 0) std::fprintf(stderr, "can't send spi message\n");
    return rc;
}

int fpga_drv::SPI_Transfer_Write(platform::SpiBus* bus, const uint8_t* tx, uint32_t len) {
    return SPI_Transfer(bus, tx, nullptr, len);
}

bool fpga_drv::erase_fits(uint32_t start, int type, uint32_t count) {
    if (type < 0 || type > 2) return false;
    const uint64_t end = uint64_t(start) + uint64_t(count) * kUnitSectors[type];
    return end <= kFlashSize / 4096;
}

bool fpga_drv::range_fits(uint32_t address, uint32_t length) {
    return length != 0 && address <= kFlashSize && length <= kFlashSize - address;
}

int fpga_drv::FPGA_SPI_WAIT_BUSY(platform::SpiBus* bus) {
    const uint64_t deadline = platform::nowMs() + kBusyLimitMs;
    for (int polls = 0;; ++polls) {
        uint8_t tx[2] = {0x05, 0xFF};
        uint8_t rx[2] = {0, 0};
        if (SPI_Transfer(bus, tx, rx, 2) < 0) return 0;
        if (!(rx[1] & 1)) return 1;
        if (platform::nowMs() > deadline) {
            ZEM_DEBUG("\n fpga flash busy for %llu ms, given up\n",
                      (unsigned long long)kBusyLimitMs);
            writeLogMsg(1, "fpga flash stayed busy");
            return 0;
        }
        // A page program ends within a few polls; an erase is waited for at a gentler pace.
        if (polls >= 8) platform::sleepUs(200);
    }
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(platform::SpiBus* bus, uint32_t start, int type,
                                          uint32_t count) {
    if (!erase_fits(start, type, count)) return kFlashRefused;
    if (!FPGA_SPI_WAIT_BUSY(bus)) return kFlashFailed;
    const uint32_t unit = kUnitSectors[type] * 4096;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t a = start * 4096 + k * unit;
        const uint8_t wren = 0x06;
        const uint8_t cmd[4] = {kEraseCmd[type], uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)};
        if (SPI_Transfer_Write(bus, &wren, 1) < 0 || !FPGA_SPI_WAIT_BUSY(bus)) return kFlashFailed;
        if (SPI_Transfer_Write(bus, cmd, 4) < 0 || !FPGA_SPI_WAIT_BUSY(bus)) return kFlashFailed;
    }
    return kFlashDone;
}

int fpga_drv::program_chunk(platform::SpiBus* bus, uint32_t address, const uint8_t* data,
                            uint32_t n) {
    uint8_t msg[4 + 256];
    msg[0] = 0x06;
    if (SPI_Transfer_Write(bus, msg, 1) < 0) return kFlashFailed;
    msg[0] = 0x02;
    msg[1] = uint8_t(address >> 16);
    msg[2] = uint8_t(address >> 8);
    msg[3] = uint8_t(address);
    std::memcpy(msg + 4, data, n);
    if (SPI_Transfer_Write(bus, msg, 4 + n) < 0) return kFlashFailed;
    return FPGA_SPI_WAIT_BUSY(bus) ? kFlashDone : kFlashFailed;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(platform::SpiBus* bus, uint32_t address,
                                          const uint8_t* data, uint32_t length) {
    if (!data || !range_fits(address, length)) return kFlashRefused;
    uint32_t done = 0;
    const uint32_t first = 256 - (address & 0xFF);
    if (length >= first) {  // the write reaches the end of the first page
        if (int rc = program_chunk(bus, address, data, first); rc != kFlashDone) return rc;
        done = first;
    }
    while (length - done >= 256) {
        if (int rc = program_chunk(bus, address + done, data + done, 256); rc != kFlashDone)
            return rc;
        done += 256;
    }
    if (done < length) return program_chunk(bus, address + done, data + done, length - done);
    return kFlashDone;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(platform::SpiBus* bus, uint32_t address, uint32_t length,
                                         uint8_t* out) {
    if (!out || !range_fits(address, length)) return kFlashRefused;
    std::vector<uint8_t> tx(kReadPiece + 5, 0xFF), rx(kReadPiece + 5);
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = std::min(kReadPiece, length - done);
        const uint32_t a = address + done;
        tx[0] = 0x0B;
        tx[1] = uint8_t(a >> 16);
        tx[2] = uint8_t(a >> 8);
        tx[3] = uint8_t(a);
        if (SPI_Transfer(bus, tx.data(), rx.data(), piece + 5) < 0) return kFlashFailed;
        std::memcpy(out + done, rx.data() + 5, piece);
        done += piece;
    }
    return kFlashDone;
}

int fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(platform::SpiBus* bus, uint8_t* out) {
    uint8_t tx[13] = {0x4B, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t rx[13] = {};
    if (!out) return kFlashRefused;
    if (SPI_Transfer(bus, tx, rx, 13) < 0) return kFlashFailed;
    std::memcpy(out, rx + 5, 8);
    return kFlashDone;
}
