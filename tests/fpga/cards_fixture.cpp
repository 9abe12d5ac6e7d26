#include "cards_fixture.h"

void CardsTest::SetUp() {
    FpgaTest::SetUp();
    ASSERT_TRUE(light());
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

void CardsTest::armAnswer(const Bytes& frame) {
    zem::MutexLocker lock(mgr->irq_mutex);
    mgr->Dealwith1_PC_to_eth(uint32_t(frame.size()), frame.data(), keepAnswer());
}

Bytes CardsTest::passThrough(const Bytes& frame, int polls, int* result) {
    int rc;
    {
        zem::MutexLocker lock(mgr->irq_mutex);
        rc = mgr->Dealwith1_PC_to_eth(uint32_t(frame.size()), frame.data(), keepAnswer());
    }
    if (result) *result = rc;
    return pollAnswer(polls);
}

Bytes CardsTest::pollAnswer(int polls) {
    for (int i = 0; i < polls; ++i) {
        zem::MutexLocker lock(mgr->irq_mutex);
        mgr->reg_IRQ_Dealwith(0, 0);
        mgr->reg_IRQ_Dealwith(1, 0);
        if (!answered_) continue;
        answered_ = false;
        return answer_;
    }
    return {};
}
