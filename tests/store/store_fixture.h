// A simulated box with a fake clock and a freshly loaded parameter store, plus the Qt
// application that queued refreshes and the panel need.
#pragma once

#include <QApplication>
#include <cstdint>
#include <string>

#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "sim_fixture.h"

class StoreTest : public SimBoxTest {
protected:
    static constexpr const char* kParaFile = "/data/ram_device_info";

    void SetUp() override;
    void TearDown() override;

    // Builds the store anew from whatever lies under the root (as a start of the box).
    ZemRamPara* startStore();
    ZemRamPara& store() const { return *ZemRamPara::p_zemrampara_config; }
    SyncUpdate& hub() const { return *SyncUpdate::pInstance(); }

    // A parameter file in its layout: markers then RAM 768..4095 from the given RAM image.
    static std::string paraFile(const uint8_t* ram, uint8_t m0 = 0xAA, uint8_t m1 = 0xAA);
    // The RAM image the defaults give.
    static void defaultRam(uint8_t* ram);
    // u16 of a file's bytes at the place of RAM address addr.
    static uint16_t fileWord(const std::string& file, int addr);
    static void put16(uint8_t* p, int addr, uint16_t v);

    // What a PC's write of RAM 868 = n and its register 11 do to the store (link `client`):
    // the request taken with the RAM as it is, its file work run (the saver has no thread)
    // unless `run` is false.
    void saveRequest(uint16_t n, uint64_t client = 1, bool run = true);
    // What register 11 bit 2 does: the slots' file work taken and run.
    void synchronise() { store().ZemUserModeSync(); }

    // Runs queued events until none is left.
    static void drainEvents();
    static QApplication& app();
};
