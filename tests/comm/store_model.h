// A reference model of what docs/protocol.md promises a PC and the panel about the parameter
// RAM, the LED size check, save requests (RAM 868), recalls, the user-mode slots and their
// files, a clean stop and the start after it. It knows nothing of the box's threads or locks:
// only the order in which frames and keys were answered, time passed and file jobs ran. Every
// request changes the slots and RAM 866 when the box takes it; the files follow in the order
// taken, a later job of a slot whose job still waits taking that job's place; a save request is
// open until its own file job and every slot file job taken before it have been carried out.
// It leaves nothing to the box's timing.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class StoreModel {
public:
    static constexpr int kModes = 16;
    static constexpr int kSlotSize = 4098;
    static constexpr int kFileSize = 4096;
    // No frame for longer than this (10 ms ticks) and a UDP address's or serial port's requests
    // are taken: the model takes them on the tick after the minute, when the box surely has.
    static constexpr uint32_t kSilentTicks = 6000;
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

    // Who owns a link's save requests: a TCP connection, a serial port, a UDP address (all its
    // ports). The caller names each with a number of its own.
    enum class Owner { Tcp, Serial, Udp };
    void addLink(int link, Owner kind);

    // The box after its start.
    void start(const View& box);

    // Frames, in the order the box answered them.
    void pcWriteRam(int link, int addr, const uint8_t* data, int len);
    void pcWriteSlot(int mode, int offset, const uint8_t* data, int len);
    // Register 11 with `value`: the status the box must answer.
    int register11(int link, uint8_t value);
    bool holdsRequests(int link) const;
    // A TCP connection closed.
    void linkClosed(int link);
    // Every frame of a link, once answered: its silence starts again.
    void heard(int link);
    // `ticks` pass while `busy`'s receiver (-1: none) is on a frame: a UDP address or serial
    // port holding requests whose silence passes 60 s has them taken then. The silence that
    // receiver's frame held back counts once it is drained.
    void pass(uint32_t ticks, int busy);
    // `link`'s receiver found nothing more waiting after its frames.
    void drained(int link);
    // Ticks until the silence of the next link holding requests passes 60 s, none while
    // `busy`'s receiver is on a frame.
    std::optional<uint32_t> ticksToSilence(int busy) const;

    // The panel's keys.
    void panelSave(int n);
    void panelDelete(int n);
    void panelSource(int window, uint16_t source);
    uint16_t windowSource(int window) const;

    // The box began the file job of slot m (a deletion or a file write): where that breaks the
    // order taken, or empty. A write that failed leaves the file as it was.
    std::string jobRan(int m, bool remove, bool failed);
    // ... and has carried it out: the file changes, and the save requests it held up last end.
    void jobDone();
    // The save requests that ended since the last call: where a slot's file is not what the
    // model's file was at that request's take, or became at a later take of that slot (or a
    // failed job left), or empty.
    std::string checkEnded(const View& box);
    // Save requests open and slot jobs not carried out (a test's own cases).
    int openRequests() const;
    size_t jobsWaiting() const { return line_.size() + (running_ ? 1 : 0); }
    // The parameter file's job ran: it saved RAM 866 as it then was.
    void parameterFileSaved();
    // The slot of the first file write waiting, if any.
    std::optional<int> firstWriteWaiting() const;

    // After every step: the slots, the RAM (RAM 866 included, 868 as the requests open say) and
    // the files, exactly, but for the channel geometry the apply derives.
    std::string check(const View& box) const;
    // Once the box has run everything it was asked: also the parameter file.
    std::string checkSettled(const View& box) const;
    // A clean stop: every request recorded is taken and every file job runs (the box's order
    // among them is its own, the files end the same); then the start from the files.
    void stopTakes();
    void stopDrains();
    void restart();

private:
    using MaybeFile = std::optional<File>;
    struct Job {
        int slot;
        bool remove;
        File image{};  // a write's bytes
        // The takes it stands for: its own and those of the jobs it took the place of.
        std::vector<int> takes;
        MaybeFile outcome() const { return remove ? std::nullopt : MaybeFile(image); }
    };
    // A save request taken and not ended: the takes it waits for, and each slot's files it may
    // find once it ends.
    struct OpenSave {
        std::set<int> waitingFor;
        std::array<std::vector<MaybeFile>, kModes> files;
    };
    struct Request {
        int link;
        int mode;
    };
    struct Link {
        Owner kind;
        uint32_t silent = 0;
        uint32_t heldBack = 0;  // ticks of a receiver's frame, counted once it is drained
    };
    uint16_t word(int addr) const { return uint16_t(ram_[addr] | ram_[addr + 1] << 8); }
    void setWord(int addr, uint16_t v);
    bool ledSetValid() const;
    void checkLedSize();
    Ram savedImage() const;
    File slotImage(int m) const;
    void record(int link, int mode);
    void takeRequestsOf(int link);
    void take(int mode);
    void deleteSlot(int m);
    void synchronise();
    void post(Job job);
    OpenSave openSave() const;
    uint16_t requestWord() const;
    bool frozen(int link, int busy) const;
    std::string checkSlotsAndFiles(const View& box) const;

    Ram ram_{};
    std::array<Slot, kModes> slots_{};
    std::array<uint16_t, 5> ledInForce_{};
    Files files_{};
    std::deque<Job> line_;        // file jobs waiting, in the order taken
    std::optional<Job> running_;  // the one the box began
    bool runningFails_ = false;
    int lastTake_ = 0;
    std::vector<OpenSave> openSaves_, ended_;
    std::vector<Request> recorded_;  // save requests waiting for their take, in order
    uint16_t lastRequest_ = 0;       // the last request written (RAM 868)
    uint16_t savedMode_ = 0;         // RAM 866 as the parameter file last saved it
    uint16_t currentMode_ = 0;       // the mode the box last set: a refused recall puts it back
    std::map<int, Link> links_;
};
