// A reference model of what docs/protocol.md promises a PC and the panel about the parameter
// RAM, the LED size check, save requests (RAM 868), recalls, the user-mode slots and their
// files, a clean stop and the start after it. It knows nothing of the box's threads, lines or
// generations: only the order in which frames and keys were answered. Where the doc leaves an
// outcome to the box's timing (a recall of a mode whose save is still under way, a slot written
// without a synchronisation), it says which outcomes are allowed.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

class StoreModel {
public:
    static constexpr int kModes = 16;
    static constexpr int kSlotSize = 4098;
    static constexpr int kFileSize = 4096;
    using Ram = std::array<uint8_t, 4096>;
    using Slot = std::array<uint8_t, kSlotSize>;
    using File = std::array<uint8_t, kFileSize>;
    using Files = std::array<std::optional<File>, kModes>;

    // What the box shows from outside: its RAM, slots and files.
    struct View {
        Ram ram{};
        std::array<Slot, kModes> modeSlots{};
        Ram paramFile{};  // 768..4095 as the parameter file holds them
        Files files{};
    };

    // The box after its start.
    void start(const View& box);

    // Frames, in the order the box answered them; `client` names the PC's link.
    void pcWriteRam(int client, int addr, const uint8_t* data, int len);
    void pcWriteSlot(int client, int mode, const uint8_t* data, int len);
    // Whether a save request of the client waits for its register 11.
    bool waitsForRegister11(int client) const;
    // Register 11 with `value`: the status the box must answer.
    int register11(int client, uint8_t value);
    // The panel's keys.
    void panelSave(int n);
    void panelDelete(int m);
    int panelRecall(int n);
    // A source change, with RAM 866 as the box read it before and after: where it breaks the doc.
    std::string panelSource(int window, uint16_t source, uint16_t before, uint16_t after);

    // A recall of mode n whose slot depends on a save still under way: the box may bring the
    // slot as it was or any save of it under way (or refuse it while the slot may still read
    // unsaved). recallTook checks the box's outcome (its status, its RAM after it) against those
    // and takes it: where the box breaks the doc, or empty.
    bool recallOpen(int n) const;
    std::string recallTook(int client, int n, bool done, const Ram& box);

    // Whenever the box is looked at: where it breaks a promise, or empty.
    std::string check(const View& box);
    // Once the box has carried out everything it answered (every refresh and file job run):
    // every promise holds to the byte.
    std::string checkSettled(const View& box);
    // A clean stop: every request answered is carried out; then the start from the files. The
    // box's files decide where the doc allows either (a slot written without a synchronisation).
    void stopAndRestart(const Files& boxFiles);

private:
    struct Save {
        int mode;
        File image{};
        bool ownsMode = true;      // may still set RAM 866 when it ends
        bool slotWritten = false;  // its slot changed after its take
        size_t state = 0;          // its place in its slot's file states
        bool indistinct = false;   // the state before it is the same: its end can't be seen
    };
    uint16_t word(int addr) const { return uint16_t(ram_[addr] | ram_[addr + 1] << 8); }
    void setWord(int addr, uint16_t v);
    bool ledSetValid() const;
    void checkLedSize();
    Ram savedImage() const;
    void take(int mode);
    void userWroteMode();
    void supersede(Save& s, bool slot);
    void promise(int m, const std::optional<File>& file);
    void synchronise();
    void end(const Save& s);
    void endWritten();
    void settle();
    std::optional<size_t> stateAt(int m, const std::optional<File>& file, size_t from) const;
    std::optional<File> slotAsFile(int m) const;
    bool writtenSince(int m, const std::optional<File>& file) const;

    Ram ram_{};
    std::array<Slot, kModes> slots_{};
    std::array<uint16_t, 5> ledInForce_{};
    // Each slot's file as the requests answered so far leave it, with the states on the way
    // there since the box last settled: its file may show any of them, in order, never one
    // before what it showed last.
    std::array<std::vector<std::optional<File>>, kModes> fileHistory_{};
    std::array<size_t, kModes> fileSeen_{};
    // A PC wrote the slot after its last file request: its file may hold those bytes too.
    std::array<bool, kModes> slotDirty_{};
    std::array<std::vector<std::optional<File>>, kModes> written_{};
    std::vector<Save> open_;  // taken, not yet known to be ended, in the order taken
    // Save requests written to RAM 868 and not yet taken, each with its client, in order.
    std::deque<std::pair<int, int>> recorded_;
    // What RAM 866 may read once settled besides what the saves leave: modes of saves that may
    // have ended unseen before a later write.
    std::vector<uint16_t> modeMayRead_;
    std::vector<Save> slotMayHold_;
};
