// FPGA SPI driver: opens the four nodes (FPGA 0, FPGA 1 and their configuration flashes),
// runs single messages and holds the serial-NOR command sequences of the flashes. It owns no
// state; the FPGA manager owns the buses and the pad lines around every call.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/spi_bus.h"

class fpga_drv {
public:
    static constexpr uint32_t kSpeedHz = 10000000;
    static constexpr uint32_t kFlashSize = 0x800000;
    static constexpr uint32_t kReadPiece = 2048;
    // Results of the flash operations.
    static constexpr int kFlashRefused = 0;
    static constexpr int kFlashDone = 1;
    static constexpr int kFlashFailed = 2;  // bus error or the busy bit never cleared
    // Longest wait for the busy bit (a 64 KiB erase takes up to about 2 s).
    static constexpr uint64_t kBusyLimitMs = 3000;

    static const char* node(int n);  // n 0..3
    // Opens node n; 0, or a negative errno (printed as the node's set-up message).
    int initialize_vbyne1(int n, std::unique_ptr<platform::SpiBus>& out);

    // One message; 0 or a negative errno (printed).
    int SPI_Transfer(platform::SpiBus* bus, const uint8_t* tx, uint8_t* rx, uint32_t len);
    int SPI_Transfer_Write(platform::SpiBus* bus, const uint8_t* tx, uint32_t len);

    // Checks before anything reaches the bus.
    static bool erase_fits(uint32_t start, int type, uint32_t count);
    static bool range_fits(uint32_t address, uint32_t length);

    // 1 while not busy within the limit; 0 on time-out or bus error (logged).
    int FPGA_SPI_WAIT_BUSY(platform::SpiBus* bus);
    // start in 4 KiB sectors; type 0, 1, 2: 4, 32, 64 KiB units.
    int FPGA_SPI_FLASH_VBYONE_ERASE(platform::SpiBus* bus, uint32_t start, int type,
                                    uint32_t count);
    // Programs length bytes of data at address in page pieces; data is not changed.
    int FPGA_SPI_FLASH_VBYONE_WRITE(platform::SpiBus* bus, uint32_t address, const uint8_t* data,
                                    uint32_t length);
    int FPGA_SPI_FLASH_VBYONE_READ(platform::SpiBus* bus, uint32_t address, uint32_t length,
                                   uint8_t* out);
    // The flash's 8-byte unique id.
    int FPGA_SPI_FLASH_SSTF016B_RD_UID(platform::SpiBus* bus, uint8_t* out);

private:
    int program_chunk(platform::SpiBus* bus, uint32_t address, const uint8_t* data, uint32_t n);
};
