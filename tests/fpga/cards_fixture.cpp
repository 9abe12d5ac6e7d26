#include "cards_fixture.h"

void CardsTest::SetUp() {
    FpgaTest::SetUp();
    g_source_online = 2;
    g_passby_trans_port = 255;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(bothLit());
    board->clearMessages();
}

void CardsTest::plug(int port, int count) {
    std::lock_guard<std::mutex> lock(board->mutex);
    board->setCards(port, count);
}

void CardsTest::searchCycles(int cycles) {
    for (int c = 0; c < cycles; ++c) runTicks(81);
    runTicks(2);
}

uint16_t CardsTest::areaCount(int port) const {
    uint16_t at = 0, flag = 0;
    fpga_manage::get_port_count_addr(uint8_t(port % 10), &at, &flag);
    const auto b = board->fpga[port / 10].area(1, at, 2);
    return uint16_t(b[0] | b[1] << 8);
}

std::vector<Bytes> CardsTest::sentOn(int port) const {
    std::vector<Bytes> out;
    std::lock_guard<std::mutex> lock(board->mutex);
    for (const auto& s : board->fpga[port / 10].sentFrames())
        if (s.port == port % 10) out.push_back(s.frame);
    return out;
}

Bytes cardFrame(uint16_t dest, uint8_t kind, uint8_t mode, uint8_t port, uint8_t cmd,
                const Bytes& data) {
    Bytes f = cat({le16(dest), le16(0xF010), {0x10, kind, mode, port, 0, cmd}, data});
    uint8_t x = 0;
    for (uint8_t v : f) x ^= v;
    f.push_back(x);
    return f;
}

fpga_manage::CardAnswerFn CardsTest::keepAnswer() {
    answered_ = false;
    return [this](const uint8_t* body, uint32_t n) {
        answer_.assign(body, body + n);
        answered_ = true;
    };
}

void CardsTest::armAnswer() {
    std::lock_guard<std::mutex> lock(mgr->irq_mutex);
    mgr->pc_answer = keepAnswer();
}

Bytes CardsTest::passThrough(const Bytes& frame, int polls, int* result) {
    int rc;
    {
        std::lock_guard<std::mutex> lock(mgr->irq_mutex);
        rc = mgr->Dealwith1_PC_to_eth(uint32_t(frame.size()), frame.data(), keepAnswer());
    }
    if (result) *result = rc;
    return pollAnswer(polls);
}

Bytes CardsTest::pollAnswer(int polls) {
    for (int i = 0; i < polls; ++i) {
        std::lock_guard<std::mutex> lock(mgr->irq_mutex);
        mgr->reg_IRQ_Dealwith(0, 0);
        mgr->reg_IRQ_Dealwith(1, 0);
        if (!answered_) continue;
        answered_ = false;
        return answer_;
    }
    return {};
}
