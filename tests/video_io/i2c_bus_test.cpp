// The box's I2C back end: errors reach the caller instead of data.
#include "platform/i2c_bus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "platform/linux/linux_i2c.h"
#include "sim_fixture.h"

class I2cBusTest : public SimBoxTest {};

// The box's back end on a node that is not an I2C adapter (a plain file under the test's root):
// the kernel's refusal is reported, and a message too long for one transfer never goes out.
TEST_F(I2cBusTest, BoxBusReportsErrorsAndRefusesOverlongMessages) {
    writeFile("/dev/i2c-7", "");
    std::unique_ptr<platform::I2cBus> box_bus;
    ASSERT_EQ(platform::openLinuxI2cBus("/dev/i2c-7", box_bus), 0);
    uint8_t v = 0xAB;
    EXPECT_LT(box_bus->readRegs(0x50, 0, &v, 1), 0);
    EXPECT_EQ(v, 0xAB);
    std::vector<uint8_t> big(0x10000 + 1);
    EXPECT_EQ(box_bus->transfer(0x50, big.data(), big.size(), nullptr, 0), -EINVAL);
    EXPECT_EQ(box_bus->transfer(0x50, big.data(), 1, big.data(), big.size()), -EINVAL);
    EXPECT_NE(box_bus->transfer(0x50, big.data(), 0xFFFF, nullptr, 0), -EINVAL);
    std::unique_ptr<platform::I2cBus> none;
    EXPECT_EQ(platform::openLinuxI2cBus("/dev/i2c-8", none), -ENOENT);
}
