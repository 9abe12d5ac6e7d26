// The simulated I2C bus as the program sees it: addressed chips, register pointers, and
// errors that reach the caller instead of data.
#include "platform/i2c_bus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "platform/linux/linux_i2c.h"
#include "platform/sim/sim_i2c.h"
#include "sim_fixture.h"

class I2cBusTest : public SimBoxTest {
protected:
    void SetUp() override {
        SimBoxTest::SetUp();
        platform::sim::detachAllI2cDevices();
        chip = std::make_shared<platform::sim::SimRegisterChip>();
        platform::sim::attachI2cDevice(platform::kI2cNode, 0x21, chip);
        ASSERT_EQ(platform::openI2cBus(platform::kI2cNode, bus), 0);
    }
    std::shared_ptr<platform::sim::SimRegisterChip> chip;
    std::unique_ptr<platform::I2cBus> bus;
};

TEST_F(I2cBusTest, RegistersWrittenAndReadThroughThePointer) {
    const uint8_t data[3] = {0x11, 0x22, 0x33};
    ASSERT_EQ(bus->writeRegs(0x21, 0x10, data, 3), 0);
    EXPECT_EQ(chip->reg(0x11), 0x22);
    uint8_t back[4] = {};
    ASSERT_EQ(bus->readRegs(0x21, 0x0F, back, 4), 0);
    EXPECT_EQ(back[0], 0x00);
    EXPECT_EQ(back[1], 0x11);
    EXPECT_EQ(back[3], 0x33);
    ASSERT_EQ(chip->writes().size(), 3u);
    EXPECT_EQ(chip->writes()[2].reg, 0x12);
}

TEST_F(I2cBusTest, ErrorsAreReportedAndLeaveTheChipAlone) {
    uint8_t v = 0xAB;
    EXPECT_EQ(bus->readRegs(0x22, 0, &v, 1), -ENXIO);  // nobody at the address
    chip->fail_count = 1;
    EXPECT_EQ(bus->writeReg(0x21, 0x05, 0x77), -EIO);
    EXPECT_EQ(chip->reg(0x05), 0x00);
    EXPECT_EQ(bus->writeReg(0x21, 0x05, 0x77), 0);  // the next message gets through
    chip->fail_errno = -EREMOTEIO;
    EXPECT_EQ(bus->readRegs(0x21, 0x05, &v, 1), -EREMOTEIO);
    platform::sim::attachI2cDevice(platform::kI2cNode, 0x21, nullptr);  // chip gone
    EXPECT_EQ(bus->writeReg(0x21, 0x05, 0x01), -ENXIO);
}

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
