// Selecting a new simulated box (as each test case and each program start does) leaves none of
// the previous box's chip models on the buses (the FPGA board worked on the old box's SoC) and
// none of its hot-plug events.
#include <gtest/gtest.h>

#include "platform/hotplug.h"
#include "platform/i2c_bus.h"
#include "platform/sim/sim_c331.h"
#include "platform/sim/sim_fpga.h"
#include "platform/spi_bus.h"
#include "sim_fixture.h"

namespace {

class NewSimBox : public SimBoxTest {};

struct NoChip : platform::sim::I2cDevice {
    int transfer(const uint8_t*, size_t, uint8_t*, size_t) override { return 0; }
};

TEST_F(NewSimBox, KeepsNoModelOfThePreviousBox) {
    using platform::sim::SimFpgaBoard;
    const auto board = platform::sim::buildFpgaBoard();
    platform::sim::attachSimC331();
    platform::sim::attachI2cDevice(platform::kI2cNode, 0x50, std::make_shared<NoChip>());
    std::unique_ptr<platform::SpiBus> bus;
    ASSERT_EQ(platform::openSpiBus(SimFpgaBoard::kNodes[0], 1000000, bus), 0);

    platform::selectSimulated(root_);

    EXPECT_EQ(platform::sim::fpgaBoard(), nullptr);
    for (const char* node :
         {SimFpgaBoard::kNodes[0], SimFpgaBoard::kNodes[3], platform::sim::SimC331::kNode})
        EXPECT_EQ(platform::openSpiBus(node, 1000000, bus), -ENOENT) << node;
    EXPECT_EQ(platform::sim::i2cDevice(platform::kI2cNode, 0x50), nullptr);
}

TEST_F(NewSimBox, GetsNoHotplugEventOfThePreviousBox) {
    platform::sim::injectHotplug("add@/block/sda\nACTION=add\n");
    platform::selectSimulated(root_);
    platform::sim::injectHotplug("remove@/block/sdb\nACTION=remove\n");
    const auto source = platform::openHotplug();
    ASSERT_NE(source, nullptr);
    std::string event;
    ASSERT_EQ(source->wait(event, 0), 1);
    EXPECT_EQ(event, "remove@/block/sdb\nACTION=remove\n");
    EXPECT_EQ(source->wait(event, 0), 0);
}

}  // namespace
