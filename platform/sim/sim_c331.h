// The simulated C331 video processor behind "/dev/spidev32766.0": 256 banks of 128 byte-wide
// registers reached by 2-byte frames (bank select {0x80, bank}, write {0x80 | address, data},
// read {address, 0xFF} with the data in the second answer byte). It behaves where the program
// waits on it: the chip id, vertical-sync and field-counter status, V-by-One lock, the input
// measurement registers of an injected input signal, the 2-D engine's busy bit and the
// serial-flash engine of bank 4 with a 32 MiB flash (kept in "<root>/sim/c331-flash.bin"). It
// records every frame and the writes of each register, and injects faults.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/thread_safety.h"
#include "platform/sim/bounded_log.h"
#include "platform/sim/flash_image.h"
#include "platform/spi_bus.h"

namespace platform::sim {

// What the chip measures on one input port.
struct C331InputTiming {
    uint32_t htotal = 0;        // pixels per line
    uint32_t vtotal = 0;        // lines per frame
    uint32_t fhw = 0;           // field horizontal count
    uint32_t fvm = 0;           // memory clocks (200 MHz) per field
    uint32_t active_width = 0;  // active-width register
    int lanes = 0;              // V-by-One ports: lanes in use (1, 2, 4 or 8)
    bool locked = true;         // V-by-One ports: every lane locks

    // A signal of htotal x vtotal at fps, hact pixels active.
    static C331InputTiming video(uint32_t htotal, uint32_t vtotal, uint32_t hact, double fps,
                                 int lanes = 0);
};

class SimC331 : public SpiModel {
public:
    static constexpr const char* kNode = "/dev/spidev32766.0";
    static constexpr uint8_t kChipId = 0x24;
    static constexpr uint32_t kFlashSize = 32u << 20;

    struct Frame {
        uint8_t tx0, tx1;  // what the program sent
        uint8_t rx1;       // the answer byte
        uint32_t speed_hz;
        bool ok;  // false when the bus-error fault refused it
    };
    struct Write {
        uint8_t bank, address, value;
    };
    // One command of the 2-D engine (1 fill, 2 copy, 3 character generator) with the
    // registers it was started with; fifo holds the bytes queued to the character FIFO since
    // the previous command (the glyph-height byte first, then five bytes a character).
    struct Draw {
        uint8_t command;
        uint32_t source, target;             // 0x040D, 0x0411
        uint16_t w, h;                       // 0x041E + 1, 0x0420 + 1
        uint16_t colour;                     // 0x040B
        uint8_t src_pitch, dst_pitch, mode;  // 0x041C, 0x041B, 0x0422
        uint8_t count;                       // 0x0424: characters - 1
        std::vector<uint8_t> fifo;
    };
    struct Dma {
        uint32_t flash_address, length;
        uint8_t mode;
        uint32_t target;
    };

    SimC331();

    int transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speed_hz) override;

    // ---- Faults and switches ----
    void setAbsent(bool absent);       // no chip: every read answers 0xFF
    void setFlakyId(bool flaky);       // the chip id reads 0x00 on every other read
    void setBusError(bool error);      // every message fails with -EIO
    void setStuckBusy(bool stuck);     // the 2-D and flash engines never finish
    void setFramesStopped(bool stop);  // no vertical syncs: sync bits and field counters stay
    void setFlashProtected(bool on);   // the flash ignores erases and programs
    // The power goes after this many more programmed bytes or erases (-1: never): from then on
    // the flash keeps what it holds and takes no erase or program until this is -1 again.
    void setFlashPowerCut(int after);

    // ---- Inputs ----
    // Port 0..5 (4 and 5 are the V-by-One receivers) carries this signal.
    void setInputSignal(int port, const C331InputTiming& timing);
    void clearInputSignal(int port);

    // ---- Outputs ----
    // The picture transmitter tx (0 to FPGA 0, 1 to FPGA 1) carries: the active area of the
    // output channels routed to it, side by side. False with the chip absent, or before the
    // panel set-up wrote the routing word.
    bool transmitterPicture(int tx, uint32_t* width, uint32_t* height) const;

    // ---- Registers ----
    uint8_t reg(uint8_t bank, uint8_t address) const;
    // A little-endian field by descriptor (bank << 16 | address << 8 | count).
    uint32_t field(uint32_t descriptor, uint32_t channel_offset = 0) const;
    void poke(uint8_t bank, uint8_t address, uint8_t value);  // as the hardware would
    int selectedBank() const;

    // ---- What the program sent ----
    std::vector<Frame> frames() const;
    void clearFrames();
    // Values the program wrote to one register, oldest first (the newest 256 are kept).
    std::vector<uint8_t> writes(uint8_t bank, uint8_t address) const;
    // All register writes in order since the last clearFrames (bank selects excluded).
    std::vector<Write> writeLog() const;
    uint64_t frameCount() const;
    // Called after each register write by the program (bank selects excluded), with the chip's
    // lock released, on the writing thread: an observer learns of a write without polling the
    // chip. The node's message is still in progress, so the hook must not send on the bus.
    using WriteHook = std::function<void(uint8_t bank, uint8_t address, uint8_t value)>;
    void onWrite(WriteHook hook);  // an empty hook removes it

    // ---- Serial flash ----
    std::vector<uint8_t> flashRead(uint32_t address, uint32_t length) const;
    void flashLoad(uint32_t address, const std::vector<uint8_t>& bytes);  // as if programmed
    std::vector<Dma> dmas() const;
    // What the 2-D engine was asked to draw, oldest first.
    std::vector<Draw> draws() const;
    void clearDraws();

private:
    uint8_t readLocked(uint8_t bank, uint8_t address) REQUIRES(mutex_);
    void writeLocked(uint8_t bank, uint8_t address, uint8_t value) REQUIRES(mutex_);
    uint8_t& at(uint8_t bank, uint8_t address) REQUIRES(mutex_) {
        return regs_[bank * 128 + (address & 0x7F)];
    }
    uint8_t at(uint8_t bank, uint8_t address) const REQUIRES(mutex_) {
        return regs_[bank * 128 + (address & 0x7F)];
    }
    uint32_t fieldLocked(uint8_t bank, uint8_t address, int count) const REQUIRES(mutex_);
    void setFieldLocked(uint8_t bank, uint8_t address, int count, uint32_t value) REQUIRES(mutex_);
    void setInputLocked(int port, const C331InputTiming* timing) REQUIRES(mutex_);

    uint8_t engineStatus() REQUIRES(mutex_);
    uint8_t flashStatus() REQUIRES(mutex_);
    uint8_t flashDataControl() REQUIRES(mutex_);
    uint8_t flashReadStatus() REQUIRES(mutex_);
    uint8_t flashDataRead() REQUIRES(mutex_);
    uint8_t fieldCounter(uint8_t address) REQUIRES(mutex_);
    uint8_t syncStatus(uint8_t request_address) REQUIRES(mutex_);
    void flashCommand(uint8_t command) REQUIRES(mutex_);
    void flashAddressWritten() REQUIRES(mutex_);
    void flashProgramPending() REQUIRES(mutex_);
    uint8_t flashByte(uint32_t address) const REQUIRES(mutex_);
    // False while protected or cut off; counts down to a power cut.
    bool flashTakesWork() REQUIRES(mutex_);
    void flashProgram(uint32_t address, uint8_t value) REQUIRES(mutex_);
    void flashErase(uint32_t address, uint32_t size) REQUIRES(mutex_);
    void engineWrite(uint8_t address, uint8_t value) REQUIRES(mutex_);

    mutable zem::Mutex mutex_;
    std::vector<uint8_t> regs_ GUARDED_BY(mutex_);
    int bank_ GUARDED_BY(mutex_) = 0;
    bool absent_ GUARDED_BY(mutex_) = false;
    bool flaky_ GUARDED_BY(mutex_) = false;
    bool bus_error_ GUARDED_BY(mutex_) = false;
    bool stuck_ GUARDED_BY(mutex_) = false;
    bool frozen_ GUARDED_BY(mutex_) = false;
    uint64_t id_reads_ GUARDED_BY(mutex_) = 0;

    BoundedLog<Frame> frames_ GUARDED_BY(mutex_){1 << 18};
    BoundedLog<Write> write_log_ GUARDED_BY(mutex_){1 << 18};
    uint64_t frame_count_ GUARDED_BY(mutex_) = 0;
    // The newest 256 writes per register.
    std::map<uint16_t, BoundedLog<uint8_t>> history_ GUARDED_BY(mutex_);
    std::shared_ptr<const WriteHook> write_hook_ GUARDED_BY(mutex_);

    int engine_busy_ GUARDED_BY(mutex_) = 0;          // 2-D engine: busy polls left
    int flash_busy_ GUARDED_BY(mutex_) = 0;           // flash engine: busy polls left
    uint8_t flash_busy_bits_ GUARDED_BY(mutex_) = 0;  // which B4_SFLSTAT bits are busy
    int flash_wip_ GUARDED_BY(mutex_) = 0;            // flash: WIP polls left
    bool wel_ GUARDED_BY(mutex_) = false;
    int read_pending_ GUARDED_BY(mutex_) = 0;
    uint32_t flash_ptr_ GUARDED_BY(mutex_) = 0;   // read pointer of the data port
    uint32_t page_start_ GUARDED_BY(mutex_) = 0;  // where the buffered bytes go
    // Bytes written to the data port, not yet programmed.
    std::vector<uint8_t> page_ GUARDED_BY(mutex_);
    FlashImage flash_ GUARDED_BY(mutex_);
    std::vector<Dma> dmas_ GUARDED_BY(mutex_);
    bool flash_protected_ GUARDED_BY(mutex_) = false;
    int flash_cut_after_ GUARDED_BY(mutex_) = -1;
    std::vector<uint8_t> fifo_ GUARDED_BY(mutex_);  // character FIFO since the last 2-D command
    BoundedLog<Draw> draws_ GUARDED_BY(mutex_){1 << 14};

    std::map<uint8_t, int> field_reads_ GUARDED_BY(mutex_);  // reads per field-counter register
    std::array<uint8_t, 128> field_ GUARDED_BY(mutex_) = {};
    std::array<uint64_t, 2> sync_request_us_ GUARDED_BY(mutex_) = {
        0, 0};  // program clock at each sync request
};

// Makes a chip with the default settings and puts it behind its node.
std::shared_ptr<SimC331> attachSimC331();
// The chip attached by attachSimC331, or nullptr.
std::shared_ptr<SimC331> simC331();
// Lets go of the chip of a box being replaced (SimBox::reset): the new box has none yet.
void forgetSimC331();

}  // namespace platform::sim
