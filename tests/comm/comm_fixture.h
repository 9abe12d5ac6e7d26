// The fixture of the protocol tests: a simulated box with its parameter store; the frame
// builders and PC-side clients are in pc_link.h.
#pragma once

#include <QObject>
#include <vector>

#include "pc_link.h"
#include "sim_fixture.h"

// A reply body's status byte (offset 10), 0xEE when the reply is too short to hold one.
uint8_t status(const Bytes& reply);
// The refresh ids the applies raised so far, taken as the C331 thread would take them.
std::vector<int> pendingApplies();

class CommTest : public SimBoxTest {
protected:
    void SetUp() override;
    // The store of the box (made once per process).
    static class ZemRamPara* store();
    // Runs one body through the handler table directly; the reply body without check byte.
    Bytes handle(const Bytes& body);
    // The process's application, made at the first call: with it, what the main thread queues
    // for itself waits for its event loop, as on the box.
    static void makeApplication();
    // Context of the test's connections to the singletons' signals: they end with the test.
    QObject scope;
};
