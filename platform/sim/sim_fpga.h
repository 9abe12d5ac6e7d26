// Simulated FPGA board: the two FPGAs behind "/dev/spidev32766.1" and ".2", their 8 MiB
// configuration flashes behind ".3" and ".4" (kept in "<root>/sim/fpga-flash-1.bin" and
// "-2.bin"), and the SoC pad lines that route the shared bus.
// Who answers a message is decided from the pad words at the moment it arrives, so a wrong
// pad sequence shows up as an unanswered (all 0xFF) message and a count in `misrouted`.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/thread_safety.h"
#include "platform/sim/bounded_log.h"
#include "platform/sim/flash_image.h"
#include "platform/sim/sim_cards.h"
#include "platform/sim/sim_soc.h"

namespace platform::sim {

// Pad word offsets in the Pads window (high = 0x10, low = 0).
struct FpgaPads {
    static constexpr uint32_t kSelect[2] = {0x207810, 0x207900};
    static constexpr uint32_t kHeader[2] = {0x207838, 0x207954};
    static constexpr uint32_t kReset[2] = {0x207858, 0x207864};
    static constexpr uint32_t kFlashAccess[2] = {0x207860, 0x207950};
    static constexpr uint32_t kIrq[2] = {0x207908, 0x207910};
    static constexpr uint32_t kRxPowerA = 0x207940;
    static constexpr uint32_t kRxPowerB = 0x207944;
    static constexpr uint32_t kHigh = 0x10;
};

// One configuration flash: serial NOR, erases to 0xFF, programs by AND within a 256-byte page,
// needs write enable, and reports busy for a few status polls after a program or erase. Its state
// is its board's (SimFpgaBoard::flash, under the board's mutex).
class SimFpgaFlash {
public:
    static constexpr uint32_t kSize = 8u << 20;
    // The flash's bytes live in file, a program path.
    explicit SimFpgaFlash(const std::string& file);

    void transfer(const uint8_t* tx, uint8_t* rx, size_t len);

    FlashImage mem;
    std::array<uint8_t, 8> uid{};
    int busy_polls = 3;       // status polls that still read busy after a program or erase
    bool stuck_busy = false;  // fault: the busy bit never clears
    // Fault: the power goes after this many more programmed bytes or erases (-1: never); from
    // then on the flash takes no command and reads as zeros, until it is set to -1 again.
    int power_cut_after = -1;
    // Fault: worn cells in [worn_begin, worn_end) no longer change; programs and erases there
    // are taken, busy as usual, and the status register tells nothing, as on a worn-out part.
    uint32_t worn_begin = 0, worn_end = 0;
    int programs = 0;  // accepted page programs
    int erases = 0;    // accepted erases
    int ignored = 0;   // commands refused (no write enable, or busy)

private:
    bool worn(uint32_t address) const { return address >= worn_begin && address < worn_end; }
    void erase(uint32_t address, uint32_t size);

    bool wel_ = false;
    int busy_ = 0;
};

// One FPGA's register file and RAM areas, with the behaviour the bring-up waits on. Its state is
// its board's (SimFpgaBoard::fpga, under the board's mutex).
class SimFpga {
public:
    SimFpga();

    // Fault switches.
    bool never_ready = false;    // register 22 bit 7 never sets
    bool vbo_error = false;      // register 22 bit 3 set, the link never locks
    bool flapping_link = false;  // register 40 loses its lock bits on every other read

    // What the FPGA measures of its input (area 1 bytes 116..123): the picture the video
    // processor routes to it, which the board passes on when the measurement is read, and
    // 1920 x 1080 before there is one. setInput fixes a measurement for tests instead.
    void setInput(uint16_t width, uint16_t height, uint32_t period);
    void routedInput(uint32_t width, uint32_t height);
    bool readingInput() const;  // the message under way reads area 1
    // Its port links.
    void setLinks(uint8_t reg128, uint8_t reg144);
    std::array<uint8_t, 4> version = {0x20, 0x26, 0x12, 0x25};  // registers 28..31 (BCD)

    bool running() const { return running_; }
    // The interrupt line: a restart (register 22 bit 6) or bit 5 not yet acknowledged.
    bool irq() const { return running_ && (regs_[22] & 0x60); }
    int starts() const { return starts_; }
    uint8_t reg(int n) const { return regs_[n & 0xFF]; }
    std::vector<uint8_t> area(int n, int addr, int len) const;
    // Picture on the LEDs: output lit, not black, LCD output enabled.
    bool lit() const;
    // Running with its output blanked: black (register 0 bit 2) or the LCD output off
    // (register 3 bit 5 clear), whoever asked for it.
    bool blanked() const { return running_ && ((regs_[0] & 4) || !(regs_[3] & 0x20)); }
    std::vector<int> writtenRegs() const { return written_regs_.snapshot(); }
    void clearWrittenRegs() { written_regs_.clear(); }

    // Receiving cards behind the ten output ports and the port pairs' buffers
    // (sim_fpga_ports.cpp). A port carries frames only while its link bit is set.
    std::array<SimPort, 10> ports;
    uint8_t stuck_busy_pairs = 0;  // fault: transmit buffers (bit per pair) that never free
    struct Sent {
        int port;  // 0..15, the port selected when the pair started
        CardFrame frame;
    };
    std::vector<Sent> sentFrames() const { return sent_.snapshot(); }
    void clearSentFrames() { sent_.clear(); }
    int unroutedSends() const { return unrouted_sends_; }
    void setPortLink(int port, bool up);  // a change raises the interrupt
    bool portLink(int port) const;
    // Replies that late cards held back come back now.
    void releaseHeld();
    // A reply as no card of the model would make it (tests of the receive side's checks).
    void injectReply(int pair, CardFrame reply) { queueReply(pair, std::move(reply)); }

    // Bus side (the board calls these with its lock held).
    void holdReset();
    void releaseReset();
    void header(const uint8_t* h);
    void data(const uint8_t* tx, uint8_t* rx, size_t len);
    bool headerPending() const { return pending_; }

private:
    uint8_t readReg(int n);
    void writeReg(int n, uint8_t value, uint8_t mask);
    std::vector<uint8_t>& areaRef(int n);
    uint8_t portStatus(int reg) const;
    void portRegisterWritten(int reg, uint8_t bits);
    void transmit(int pair);
    void queueReply(int pair, CardFrame reply);
    void loadReceive(int pair);
    bool receivePending() const;

    bool running_ = false;
    std::atomic<int> starts_{0};  // read by tests while the FPGA thread runs
    std::array<uint8_t, 256> regs_{};
    std::map<int, std::vector<uint8_t>> areas_;
    void storeInput(uint16_t width, uint16_t height, uint32_t period);
    uint8_t input_[8] = {};
    bool input_fixed_ = false;  // setInput: the routed picture no longer counts
    uint8_t links_[2] = {};
    int reg40_reads_ = 0;
    bool pending_ = false;
    uint8_t hdr_[4] = {};
    BoundedLog<int> written_regs_{1 << 16};
    std::array<std::deque<CardFrame>, 5> rx_queue_;  // replies waiting for the receive buffer
    BoundedLog<Sent> sent_{4096};
    int unrouted_sends_ = 0;  // started with no port of the pair selected, or past port 9
};

class SimFpgaBoard : public std::enable_shared_from_this<SimFpgaBoard> {
public:
    static const char* const kNodes[4];  // FPGA 0, FPGA 1, flash 2, flash 3

    struct Message {
        int node;       // 0..3 as kNodes
        bool header;    // the node's FPGA header line was high
        bool answered;  // routed to its chip by the pads
        std::vector<uint8_t> tx;
    };

    explicit SimFpgaBoard(SimSoc& soc);

    // Puts the four node models in the SPI registry and follows the reset lines.
    void attach();

    // The two FPGAs and their flashes, the models of the board's bus: under `mutex` (a test that
    // runs no FPGA thread and no link may reach them without it).
    std::array<SimFpga, 2> fpga GUARDED_BY(mutex);
    std::array<SimFpgaFlash, 2> flash GUARDED_BY(mutex);

    // Receiving cards by output port 0..19 (10..19 are FPGA 1's ports 0..9); the caller holds
    // `mutex` while the FPGA thread or a link may run.
    // Count fresh cards, and the port's link up.
    void setCards(int port, int count) REQUIRES(mutex);
    SimPort& port(int port) REQUIRES(mutex) { return fpga[(port / 10) & 1].ports[port % 10]; }
    SimCard& card(int port, int index) REQUIRES(mutex) { return this->port(port).cards.at(index); }
    // These take `mutex` themselves and raise the interrupt line.
    void setLink(int port, bool up);
    void releaseHeld();
    void injectReply(int fpga, int pair, CardFrame reply);

    std::vector<Message> messages() const;
    void clearMessages();
    int misrouted() const;
    int protocolErrors() const;

    // The FPGA reloads itself (as after a glitch), without its reset line.
    void restartFpga(int i);

    // The node models call this.
    int transfer(int node, const uint8_t* tx, uint8_t* rx, size_t len);
    void padWritten(uint32_t offset, uint16_t value);

    mutable zem::Mutex mutex;

private:
    bool high(uint32_t offset) const { return soc_.word(offset) != 0; }
    bool routedTo(int side, bool flash) const;
    void syncIrq(int side) REQUIRES(mutex);  // the FPGA's interrupt pad follows its line
    void measureRouted(int side) REQUIRES(mutex);

    SimSoc& soc_;
    BoundedLog<Message> log_ GUARDED_BY(mutex){1 << 16};
    int misrouted_ GUARDED_BY(mutex) = 0;
    int protocol_errors_ GUARDED_BY(mutex) = 0;
};

// Builds the board on the simulated box's SoC window and attaches it; replaces an earlier one.
std::shared_ptr<SimFpgaBoard> buildFpgaBoard();
// The board last built on the box selected now (null before).
std::shared_ptr<SimFpgaBoard> fpgaBoard();
// Lets go of the board of a box being replaced (SimBox::reset): it works on that box's SoC.
void forgetFpgaBoard();

}  // namespace platform::sim
