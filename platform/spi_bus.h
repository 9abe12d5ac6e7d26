// SPI bus nodes ("/dev/spidev32766.N"): spidev with SPI_IOC_MESSAGE(1) transfers on the box,
// a device model per node on the simulated box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class SpiBus {
public:
    virtual ~SpiBus() = default;
    // One full-duplex message of len bytes at speed_hz; rx may be null. 0 or a negative errno.
    virtual int transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speed_hz) = 0;
};

// Opens a node in SPI mode 3, 8 bits per word, max_speed_hz (each written and read back).
// 0 and the bus in out, or a negative errno.
int openSpiBus(const std::string& node, uint32_t max_speed_hz, std::unique_ptr<SpiBus>& out);

namespace sim {

// A chip model behind a node of the simulated box. Messages reach it one at a time, in the
// order the program sends them.
class SpiModel {
public:
    virtual ~SpiModel() = default;
    virtual int transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speed_hz) = 0;
};

// Puts a model behind a node ("/dev/spidev32766.0"); nullptr removes it. A node without a
// model does not open (-ENOENT).
void attachSpiModel(const std::string& node, std::shared_ptr<SpiModel> model);
void detachAllSpiModels();

}  // namespace sim
}  // namespace platform
