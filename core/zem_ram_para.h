// The parameter store: the 4096-byte parameter RAM with its shadow copy, the 16 user-mode
// slots, the controller register file and the status block, the parameter file
// "/data/ram_device_info", and the refresh signal to the main thread.
#pragma once

#include <QObject>
#include <cstdint>
#include <mutex>

struct CROP_PARA {
    int para[5];  // id word (bits 0..7 source, 8..14 crop number - 1, bit 15 valid), x, y, w, h
};

extern uint8_t g_cut_source_state[30];  // crop bitmap: 40 bits per source 0..5

class ZemRamPara : public QObject {
    Q_OBJECT

public:
    static constexpr int kRamSize = 4096;
    static constexpr int kModeCount = 16;
    static constexpr int kModeSize = 4098;  // markers 0xAA 0xAA + RAM 896..4095 (+ spare)
    static constexpr int kModePayloadStart = 896;
    static constexpr int kPersistStart = 768;  // RAM 768..4095 is saved to the file
    static constexpr int kRegCount = 32;
    static constexpr int kCmdCount = 5;  // written through registers 160, 165, 162, 163, 164
    static constexpr int kStatusSize = 1024;

    static ZemRamPara* pInstance();
    static ZemRamPara* p_zemrampara_config;

    // Guards the per-source timing words (RAM 256..291) that the source thread writes.
    std::mutex mutex;
    uint8_t ram[kRamSize];
    uint8_t shadow[kRamSize];  // as last persisted
    uint8_t mode_ram[kModeCount][kModeSize];
    uint8_t reg[kRegCount + kCmdCount];
    uint8_t status[kStatusSize];

    // Little-endian 16-bit words of the RAM and the shadow.
    uint16_t rd16(int addr) const { return uint16_t(ram[addr] | ram[addr + 1] << 8); }
    uint16_t shadow16(int addr) const { return uint16_t(shadow[addr] | shadow[addr + 1] << 8); }
    void wr16(int addr, uint16_t v) {
        ram[addr] = uint8_t(v);
        ram[addr + 1] = uint8_t(v >> 8);
    }

    // Copies len bytes to RAM[addr..]; 1 (nothing copied) when that passes the end, else 0.
    int ZemRamParaDeal(const uint8_t* data, uint16_t len, uint32_t addr);
    // Emits sig_update_para(id) under Utils::_test_signal_mutex; returns 1.
    int test_signal(int id);
    void ram_para_save() { test_signal(1); }

signals:
    void sig_update_para(int id);

private:
    ZemRamPara();
};
