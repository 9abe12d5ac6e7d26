// Both FPGAs lit with receiving cards behind their ports (plugging and search cycles come from
// SimFpgas), and PC frames for the cards handed to the pass-through as a transport would.
#pragma once

#include "fpga_fixture.h"
#include "pc_link.h"

// A PC frame for the cards (check byte appended).
Bytes cardFrame(uint16_t dest, uint8_t kind, uint8_t mode, uint8_t port, uint8_t cmd,
                const Bytes& data = {});

class CardsTest : public FpgaTest {
protected:
    void SetUp() override;

    // Hands a frame to the pass-through as a link does, then polls as the link does while it
    // waits, at most `polls` times: the answer body (check byte kept), empty for none.
    Bytes passThrough(const Bytes& frame, int polls = 20, int* result = nullptr);
    // Polls once more for an answer (as the link keeps doing).
    Bytes pollAnswer(int polls = 20);
    // Hands a PC frame to the pass-through without polling: the test injects its answer.
    void armAnswer(const Bytes& frame);

private:
    fpga_manage::CardAnswerFn keepAnswer();
    Bytes answer_;  // the last answer handed over (under mgr->irq_mutex)
    bool answered_ = false;
};
