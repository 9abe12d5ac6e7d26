// A reference model of what the box keeps in force, written from docs/protocol.md's rules for
// the parameter RAM, the LED size check, the save request (RAM 868), recalls, the user-mode
// modeSlots and their synchronisation, the panel's save and delete, the files, a clean stop and the
// start after it (with its fix-ups: test pattern, current mode and save request cleared, fades 60).
// It calls no code of the box: the store's model test drives both with the same steps and compares
// them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>

class StoreModel {
public:
    static constexpr int kModes = 16;
    static constexpr int kSlotSize = 4098;
    static constexpr int kFileSize = 4096;
    using Ram = std::array<uint8_t, 4096>;
    using Slot = std::array<uint8_t, kSlotSize>;
    using File = std::array<uint8_t, kFileSize>;

    // What the box holds after its start: the RAM, the modeSlots, and the parameter file's RAM
    // image (768..4095). No mode file exists yet.
    void start(const Ram& ram, const std::array<Slot, kModes>& modeSlots, const Ram& paramFile);

    // A PC's parameter RAM write (command 0x60) below 4096.
    void pcWriteRam(int addr, const uint8_t* data, int len);
    // A PC's write into user mode `mode`'s slot at offset 0.
    void pcWriteSlot(int mode, const uint8_t* data, int len);
    // Register 11: its status; the refreshes it raises come as refresh() calls.
    int register11(uint8_t value);
    // The refresh that follows an apply (id 1), or a synchronisation (id 2).
    void refresh(int id);
    // The panel's save of mode n (its request, the apply and its refresh) and delete of slot m.
    void panelSave(int n);
    void panelDelete(int m);
    // The next file job waiting is carried out; false when none waits.
    bool runJob();
    // A clean stop: the requests a refresh now would take, then every job waiting; and the
    // start that follows, from the files.
    void stopAndRestart();

    int jobsWaiting() const { return int(order_.size()); }

    Ram ram{};
    std::array<Slot, kModes> modeSlots{};
    Ram paramFile{};  // 768..4095 as the file holds them
    std::array<std::optional<File>, kModes> modeFiles{};

private:
    enum Kind { kParam, kSave, kWrite, kDelete };
    struct Job {
        Kind kind = kParam;
        int slot = 0;
        uint64_t slotVersion = 0;
        uint64_t requestVersion = 0;  // a save request's: RAM 868's at the take
        uint64_t modeVersion = 0;     // ... RAM 866's
        File image{};
    };
    uint16_t word(int addr) const { return uint16_t(ram[addr] | ram[addr + 1] << 8); }
    void setWord(int addr, uint16_t v);
    bool ledSetValid() const;
    void checkLedSize();
    Ram savedImage() const;
    bool saveDue() const;
    void takeSaveRequest();
    void synchronise();
    void post(const Job& job);
    void postParam();
    void endRequest(uint64_t version);
    Job slotJob(int m, Kind kind) const;
    void runSlotJob(const Job& job);

    std::array<uint16_t, 5> ledInForce_{};
    Ram persisted_{};  // what the last save wrote, or the RAM as the start left it
    uint64_t modeVersion_ = 0, requestVersion_ = 0, takenRequestVersion_ = 0;
    uint16_t shadowRequest_ = 0;
    std::array<uint64_t, kModes> slotVersion_{};
    std::array<std::optional<Job>, kModes> waiting_{};
    std::array<uint64_t, kModes> lineVersion_{};
    std::deque<int> order_;  // the slot of each waiting job, or -1 for the parameter file
};
