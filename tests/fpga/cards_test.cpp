// Receiving-card frames, the port send, the card search and its counts, with the simulated
// cards behind the ports.
#include <cerrno>
#include <functional>

#include "cards_fixture.h"
#include "platform/clock.h"

namespace {

Bytes sealed(const std::string& text) {
    Bytes f = hex(text);
    uint8_t x = 0;
    for (uint8_t v : f) x ^= v;
    f.push_back(x);
    return f;
}

struct BuilderCase {
    const char* name;
    std::function<void(fpga_manage*, uint8_t*)> build;
    Bytes expected;
    bool stores_length;
};

}  // namespace

TEST_F(CardsTest, EveryBuilderWritesItsFrameAndStoresItsLength) {
    line_type = {64, 32, 10, 20, 5, 3, 4, 1};
    set_send_para_u16(8, 2);  // card index of the position frame
    g_send_para[16] = 9;      // mapping on
    const uint8_t two[2] = {0xAA, 0xBB}, three[3] = {1, 2, 3}, user[3] = {0x55, 9, 8};
    const std::vector<BuilderCase> cases = {
        {"card position: routing 1, card 2 is column 1 of the bottom row",
         [](fpga_manage* m, uint8_t* o) { m->rcv_card_cmd_create(o, 5); },
         sealed("02 10 00 f0 10 67 01 06 00 60 80 01 00 00 04 00 00 00 4a 00 54 00"), false},
        {"write RAM to card 3 of port 5",
         [&](fpga_manage* m, uint8_t* o) {
             m->load_write_ram_cmd_create(5, 3, 0x12345678, two, 2, o, false);
         },
         sealed("03 10 00 f0 10 67 01 06 00 60 78 56 34 12 02 00 00 00 aa bb"), true},
        {"write RAM without data",
         [&](fpga_manage* m, uint8_t* o) {
             m->load_write_ram_cmd_create(0, 1, 4, two, 0, o, true);
         },
         sealed("ff 0f 00 f0 10 67 01 01 00 60 04 00 00 00 00 00 00 00"), true},
        {"broadcast register write carries 0 as port byte",
         [&](fpga_manage* m, uint8_t* o) { m->load_write_reg_cmd_create(2, 1, three, 3, o, true); },
         sealed("ff 0f 00 f0 10 67 01 00 00 a0 01 02 03"), true},
        {"user-defined frame takes its command from the data",
         [&](fpga_manage* m, uint8_t* o) {
             m->load_write_user_defined_cmd_create(1, 4, user, 3, o, false);
         },
         sealed("04 10 00 f0 10 67 01 00 00 55 09 08"), true},
        {"save to flash",
         [](fpga_manage* m, uint8_t* o) { m->save_para2flash_cmd_create(7, 0, o, false); },
         sealed("00 30 00 f0 10 67 01 00 00 81 ff 00"), true},
        {"activate firmware",
         [&](fpga_manage* m, uint8_t* o) { m->rcv_active_firmware_cmd_create(9, 2, three, 1, o); },
         sealed("02 10 00 f0 10 67 01 0a 00 b4 01"), true},
        {"reconfigure",
         [&](fpga_manage* m, uint8_t* o) { m->rcv_reconfig_cmd_create(0, 1, three, 2, o); },
         sealed("01 00 00 f0 10 67 01 01 00 84 01 02"), true},
        {"search all cards of port 6",
         [&](fpga_manage* m, uint8_t* o) { m->load_search_rxc_cmd_create(6, three, 3, o); },
         sealed("fe 2f 00 f0 10 67 01 07 00 10 01 02 03"), true},
        {"RAM reset of quick lighting",
         [](fpga_manage* m, uint8_t* o) {
             m->ram_reset_cmd_create(o, {1, 0xFFFF}, 3);
         },
         sealed("fe 3f 00 f0 10 67 01 04 00 a0 01 ff 01 ff"), true},
        {"save parameters of a port",
         [](fpga_manage* m, uint8_t* o) { m->save_para_cmd_create(o, 4); },
         sealed("ff 0f 00 f0 10 67 01 05 00 81 ff 00"), true},
        {"mapping on", [](fpga_manage* m, uint8_t* o) { m->mapping_enable_cmd_create(8, o); },
         sealed("ff 0f 00 f0 10 67 01 09 00 a0 03 0f 01 09"), true},
    };
    for (const BuilderCase& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t out[1024] = {};
        set_send_para_u16(12, 0);
        c.build(mgr, out);
        EXPECT_EQ(toHex(Bytes(out, out + c.expected.size())), toHex(c.expected));
        EXPECT_EQ(send_para_u16(12), c.stores_length ? c.expected.size() : 0u);
    }
    // Data that would not fit a transmit buffer builds nothing.
    uint8_t big[1100] = {}, out[1100] = {};
    EXPECT_EQ(mgr->load_write_reg_cmd_create(0, 0, big, 1014, out, false), 0);
    EXPECT_EQ(mgr->load_write_reg_cmd_create(0, 0, big, 1013, out, false), 1024);
}

TEST_F(CardsTest, RoutingsPlaceTheCardsInCablingOrder) {
    struct Case {
        uint8_t routing, rows, cols;
        uint16_t index;
        int col, row;  // -1: unchanged
    };
    const Case cases[] = {
        {1, 3, 4, 0, 3, 2},   {1, 3, 4, 3, 0, 2},    {1, 3, 4, 4, 0, 1},   {1, 3, 4, 11, 0, 0},
        {7, 3, 4, 3, 1, 2},   {2, 3, 4, 4, 3, 1},    {4, 3, 4, 5, 2, 1},   {10, 3, 4, 5, 1, 1},
        {9, 3, 4, 4, 3, 1},   {5, 3, 4, 3, 2, 0},    {6, 3, 4, 2, 3, 2},   {12, 3, 4, 1, 0, 1},
        {13, 2, 2, 3, 0, 0},  {16, 3, 4, 0, 3, 0},   {0, 3, 4, 0, -1, -1}, {17, 3, 4, 0, -1, -1},
        {1, 0, 4, 0, -1, -1}, {1, 3, 4, 12, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("routing " + std::to_string(c.routing) + " index " + std::to_string(c.index));
        line_type = {100, 50, 0, 0, 0, c.rows, c.cols, c.routing};
        uint16_t x = 7, y = 7;
        EXPECT_EQ(mgr->get_rcvcard_x_y(c.index, &x, &y), c.col >= 0);
        EXPECT_EQ(x, c.col >= 0 ? c.col * 100 : 7);
        EXPECT_EQ(y, c.row >= 0 ? c.row * 50 : 7);
    }
}

TEST_F(CardsTest, SendToPortWritesAreaLengthSelectAndStart) {
    struct Case {
        uint8_t port;
        size_t n;
        uint8_t len_reg, len_low, high_reg, high_shift, start_reg, start, select_reg;
    };
    const Case cases[] = {{3, 13, 134, 12, 27, 2, 130, 0x20, 132},
                          {9, 1000, 154, 0xE7, 158, 0, 146, 0x10, 148}};
    for (const Case& c : cases) {
        SCOPED_TRACE("port " + std::to_string(c.port));
        Bytes frame(c.n, 0x11);
        board->clearMessages();
        ASSERT_EQ(mgr->Send_to_port(frame.data(), uint32_t(c.n), c.port, 0), 0);
        const auto& f = board->fpga[0];
        EXPECT_EQ(f.reg(c.len_reg), c.len_low);
        EXPECT_EQ((f.reg(c.high_reg) >> c.high_shift) & 3, int((c.n - 1) >> 8));
        EXPECT_EQ(f.reg(c.select_reg), 1 << (c.port % 8));
        // The start bit goes out under mask 0xF0, the other start bits as 0.
        const auto msgs = messagesOn(0);
        bool started = false;
        for (size_t i = 0; i + 1 < msgs.size(); ++i)
            started |=
                msgs[i].tx == Bytes{0x04, 0, c.start_reg, 0xF0} && msgs[i + 1].tx == Bytes{c.start};
        EXPECT_TRUE(started);
        ASSERT_FALSE(sentOn(c.port).empty());
        EXPECT_EQ(sentOn(c.port).back(), frame);
    }
    EXPECT_EQ(mgr->Send_to_port(Bytes(13).data(), 13, 16, 0), -EINVAL);
    EXPECT_EQ(mgr->Send_to_port(Bytes(1025).data(), 1025, 0, 0), -EINVAL);
}

TEST_F(CardsTest, AStuckTransmitBufferFailsTheSendInsteadOfOverwritingIt) {
    auto fake = std::make_unique<platform::FakeClock>();
    platform::FakeClock* clock = fake.get();
    platform::installClock(std::move(fake));
    board->fpga[0].stuck_busy_pairs = 1 << 4;  // ports 8 and 9: register 145 bit 1
    board->clearMessages();
    const Bytes frame(13, 0x22);
    EXPECT_EQ(mgr->Send_to_port(frame.data(), 13, 9, 0), -EBUSY);
    EXPECT_TRUE(sentOn(9).empty());
    EXPECT_EQ(mgr->send_failures, 1u);
    EXPECT_GE(clock->sleptUs(), 3000000u);
    for (auto& m : messagesOn(0)) {
        if (m.header) {
            EXPECT_EQ(m.tx, (Bytes{0x05, 0, 145, 0}));
        }
    }
    platform::installClock(nullptr);
}

TEST_F(CardsTest, CountLookupsByPortAndFpga) {
    uint8_t* t1 = mgr->MCU_RAM_PARA_func[1];
    t1[108] = 7;  // FPGA 1, port 2
    t1[109] = 1;
    EXPECT_EQ(mgr->get_port_card_num(12), 0x107);
    EXPECT_EQ(mgr->get_port_card_num(2), 0);
    EXPECT_EQ(mgr->get_port_card_num(20), 0);
    t1[640] = 0xFF;  // port 8
    t1[641] = 0xFF;
    EXPECT_EQ(mgr->check_netport_card(1), uint16_t(0x107 + 0xFFFF));
}

TEST_F(CardsTest, SearchFindsCardsAddedAndForgetsCardsRemoved) {
    plug(0, 3);
    plug(3, 2);
    plug(8, 1);
    plug(12, 5);
    searchCycles(3);
    for (auto [port, n] : {std::pair{0, 3}, {3, 2}, {8, 1}, {12, 5}, {1, 0}}) {
        SCOPED_TRACE("port " + std::to_string(port));
        EXPECT_EQ(mgr->get_port_card_num(uint8_t(port)), n);
        EXPECT_EQ(areaCount(port), n);  // written to the FPGA too
    }
    EXPECT_EQ(mgr->total_card_count, 11);

    plug(3, 0);  // link still up, nobody answers
    plug(5, 4);
    searchCycles(3);
    EXPECT_EQ(mgr->get_port_card_num(3), 0);
    EXPECT_EQ(areaCount(3), 0);
    EXPECT_EQ(mgr->get_port_card_num(5), 4);
    EXPECT_EQ(mgr->total_card_count, 13);
}

TEST_F(CardsTest, CyclesAlternateBetweenThePortsOfAPair) {
    plug(2, 1);
    plug(3, 1);
    plug(18, 1);  // alone on FPGA 1's pair 4
    searchCycles(4);
    std::vector<int> order;
    for (auto& s : board->fpga[0].sentFrames()) order.push_back(s.port);
    ASSERT_GE(order.size(), 4u);
    for (size_t i = 1; i < order.size(); ++i) EXPECT_NE(order[i], order[i - 1]);
    EXPECT_EQ(sentOn(18).size(), order.size());
    // Port 8 re-arms its pair's receive buffer with register 147 bit 0 before each search (and
    // after each reply it releases).
    int rearms = 0;
    const auto msgs = messagesOn(1);
    for (size_t i = 0; i + 1 < msgs.size(); ++i)
        rearms += msgs[i].tx == Bytes{0x04, 0, 147, 0x01} && msgs[i + 1].tx == Bytes{0};
    EXPECT_EQ(size_t(rearms), 2 * order.size());
}

TEST_F(CardsTest, SearchStopsWhenDisabledOrBlanked) {
    plug(1, 2);
    g_change[kSearchEnableWord] = 14;
    searchCycles(2);
    EXPECT_TRUE(sentOn(1).empty());
    g_change[kSearchEnableWord] = 15;
    mgr->write_to_register(0, 0x08, 0x08, 0);  // output blanked
    searchCycles(2);
    EXPECT_TRUE(sentOn(1).empty());
}

TEST_F(CardsTest, FaultySilentAndUnlinkedPortsCountNoCards) {
    plug(1, 2);
    plug(4, 2);
    plug(6, 3);
    searchCycles(3);
    ASSERT_EQ(mgr->get_port_card_num(6), 3);
    {
        zem::MutexLocker lock(board->mutex);
        board->card(1, 1).silent = true;  // the chain still answers for the port
        board->card(4, 1).bad_check = true;
        for (auto& c : board->port(6).cards) c.silent = true;
    }
    plug(9, 2);
    board->setLink(9, false);  // cards behind a dead link
    searchCycles(3);
    EXPECT_EQ(mgr->get_port_card_num(1), 2);
    EXPECT_EQ(mgr->get_port_card_num(4), 0);  // a bad reply counts as none
    EXPECT_EQ(mgr->get_port_card_num(6), 0);
    EXPECT_EQ(mgr->get_port_card_num(9), 0);
    EXPECT_TRUE(sentOn(9).empty());
    EXPECT_EQ(mgr->total_card_count, 2);
}

TEST_F(CardsTest, AnExtraCardIsNotCountedButAnswers) {
    plug(7, 3);
    board->card(7, 2).extra = true;
    searchCycles(3);
    EXPECT_EQ(mgr->get_port_card_num(7), 2);
    board->card(7, 2).ram[0x40] = 0x5C;
    const Bytes answer =
        passThrough(cardFrame(0x0002, 0x67, 1, 8, 0x61, cat({le32(0x40), le16(1)})));
    ASSERT_EQ(answer.size(), 20u);
    EXPECT_EQ(answer[18], 0x5C);
}
