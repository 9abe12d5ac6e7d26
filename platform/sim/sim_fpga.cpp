#include "platform/sim/sim_fpga.h"

#include <algorithm>
#include <cstring>

#include "core/thread_safety.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_c331.h"
#include "platform/spi_bus.h"

namespace platform::sim {

// ---------------------------------------------------------------------------------------
// Configuration flash

SimFpgaFlash::SimFpgaFlash(const std::string& file) : mem(file, kSize) {
    for (size_t i = 0; i < uid.size(); ++i) uid[i] = uint8_t(0xC0 + i);
}

void SimFpgaFlash::transfer(const uint8_t* tx, uint8_t* rx, size_t len) {
    if (len == 0) return;
    if (power_cut_after == 0) {
        std::fill_n(rx, len, 0);
        return;
    }
    const uint8_t cmd = tx[0];
    const uint32_t addr =
        len >= 4 ? (uint32_t(tx[1]) << 16 | uint32_t(tx[2]) << 8 | tx[3]) % kSize : 0;
    if (cmd == 0x05) {
        const uint8_t status = uint8_t((busy_ > 0 || stuck_busy ? 1 : 0) | (wel_ ? 2 : 0));
        for (size_t i = 1; i < len; ++i) rx[i] = status;
        if (busy_ > 0) --busy_;
        return;
    }
    if (busy_ > 0 || stuck_busy) {
        ++ignored;  // a busy flash takes nothing but status reads
        return;
    }
    switch (cmd) {
        case 0x06:
            wel_ = true;
            return;
        case 0x04:
            wel_ = false;
            return;
        case 0x02: {
            if (!wel_ || len < 4) {
                ++ignored;
                return;
            }
            const uint32_t page = addr & ~0xFFu;
            for (size_t k = 4; k < len && power_cut_after != 0; ++k) {
                const uint32_t at = page + ((addr + (k - 4)) & 0xFF);
                if (!worn(at)) mem.program(at, tx[k]);
                if (power_cut_after > 0) --power_cut_after;
            }
            ++programs;
            break;
        }
        case 0x20:
        case 0x52:
        case 0xD8: {
            if (!wel_ || len < 4) {
                ++ignored;
                return;
            }
            const uint32_t size = cmd == 0x20 ? 0x1000 : cmd == 0x52 ? 0x8000 : 0x10000;
            erase(addr & ~(size - 1), size);
            if (power_cut_after > 0) --power_cut_after;
            ++erases;
            break;
        }
        case 0x0B:
        case 0x03: {
            const size_t first = cmd == 0x0B ? 5 : 4;
            for (size_t k = first; k < len; ++k) rx[k] = mem[(addr + (k - first)) % kSize];
            return;
        }
        case 0x4B:
            for (size_t k = 5; k < len && k < 13; ++k) rx[k] = uid[k - 5];
            return;
        default:
            ++ignored;
            return;
    }
    wel_ = false;
    busy_ = busy_polls;
}

// Erases the unit but its worn cells.
void SimFpgaFlash::erase(uint32_t address, uint32_t size) {
    const uint32_t end = address + size;
    const uint32_t worn_from = std::clamp(worn_begin, address, end);
    const uint32_t worn_to = std::clamp(std::max(worn_end, worn_from), worn_from, end);
    mem.erase(address, worn_from - address);
    mem.erase(worn_to, end - worn_to);
}

// ---------------------------------------------------------------------------------------
// FPGA

namespace {

constexpr uint16_t kUnroutedWidth = 1920, kUnroutedHeight = 1080;
constexpr uint32_t kRoutedPeriod = 833333;

}  // namespace

SimFpga::SimFpga() {
    storeInput(kUnroutedWidth, kUnroutedHeight, kRoutedPeriod);
}

void SimFpga::setInput(uint16_t width, uint16_t height, uint32_t period) {
    input_fixed_ = true;
    storeInput(width, height, period);
}

void SimFpga::routedInput(uint32_t width, uint32_t height) {
    if (input_fixed_) return;
    storeInput(uint16_t(std::min<uint32_t>(width, 0xFFFF)),
               uint16_t(std::min<uint32_t>(height, 0xFFFF)), kRoutedPeriod);
}

bool SimFpga::readingInput() const {
    return pending_ && hdr_[0] == 0x03 && hdr_[1] == 1;
}

void SimFpga::storeInput(uint16_t width, uint16_t height, uint32_t period) {
    const uint8_t bytes[8] = {uint8_t(width),        uint8_t(width >> 8),  uint8_t(height),
                              uint8_t(height >> 8),  uint8_t(period),      uint8_t(period >> 8),
                              uint8_t(period >> 16), uint8_t(period >> 24)};
    std::memcpy(input_, bytes, sizeof input_);
}

void SimFpga::setLinks(uint8_t reg128, uint8_t reg144) {
    links_[0] = reg128;
    links_[1] = reg144;
}

std::vector<uint8_t>& SimFpga::areaRef(int n) {
    auto& a = areas_[n];
    if (a.empty()) a.assign(4096, 0);
    return a;
}

std::vector<uint8_t> SimFpga::area(int n, int addr, int len) const {
    std::vector<uint8_t> out(len, 0);
    auto it = areas_.find(n);
    for (int i = 0; i < len; ++i) {
        const int a = (addr + i) & 0xFFF;
        if (n == 1 && a >= 116 && a < 124)
            out[i] = input_[a - 116];
        else if (it != areas_.end())
            out[i] = it->second[a];
    }
    return out;
}

bool SimFpga::lit() const {
    return running_ && (regs_[2] & 1) && !(regs_[0] & 4) && (regs_[3] & 0x20);
}

void SimFpga::holdReset() {
    running_ = false;
    regs_.fill(0);
    areas_.clear();
    pending_ = false;
    for (auto& q : rx_queue_) q.clear();
}

void SimFpga::releaseReset() {
    if (running_) return;
    running_ = true;
    ++starts_;
    regs_.fill(0);
    regs_[22] = 0x40;  // restarted
    reg40_reads_ = 0;
}

uint8_t SimFpga::readReg(int n) {
    if (!running_) return 0;
    const bool locked = (regs_[3] & 0x80) && !vbo_error;
    switch (n) {
        case 22: {
            const bool error = vbo_error && (regs_[3] & 0x40);
            const bool ready = locked && (regs_[23] & 1) && !never_ready;
            return uint8_t((regs_[22] & 0x67) | (error ? 0x08 : 0) | (locked ? 0x10 : 0) |
                           (ready ? 0x80 : 0));
        }
        case 28:
        case 29:
        case 30:
        case 31:
            return version[n - 28];
        case 40: {
            const bool drop = flapping_link && (reg40_reads_++ % 2 == 1);
            return locked && !drop ? 0x1C : 0;
        }
        case 129:
        case 145:
            return portStatus(n);
        case 128:
            return links_[0];
        case 144:
            return links_[1];
        default:
            return regs_[n];
    }
}

void SimFpga::writeReg(int n, uint8_t value, uint8_t mask) {
    if (!running_) return;
    written_regs_.push(n);
    if ((n >= 28 && n <= 31) || n == 40 || n == 128 || n == 144) return;  // read-only
    if (n == 22) mask &= 0x67;
    regs_[n] = uint8_t((regs_[n] & ~mask) | (value & mask));
    portRegisterWritten(n, uint8_t(value & mask));
}

void SimFpga::header(const uint8_t* h) {
    std::memcpy(hdr_, h, 4);
    pending_ = true;
}

void SimFpga::data(const uint8_t* tx, uint8_t* rx, size_t len) {
    pending_ = false;
    const uint8_t cmd = hdr_[0];
    if (cmd == 0x04 || cmd == 0x05) {
        if (len == 0) return;
        if (cmd == 0x05)
            rx[0] = readReg(hdr_[2]);
        else
            writeReg(hdr_[2], tx[0], hdr_[3]);
        return;
    }
    const int addr = hdr_[2] | (hdr_[3] & 0x0F) << 8;
    const int n = hdr_[1];
    if (cmd == 0x03) {
        const auto bytes = running_ ? area(n, addr, int(len)) : std::vector<uint8_t>(len, 0);
        std::copy(bytes.begin(), bytes.end(), rx);
    } else if (cmd == 0x02 && running_) {
        auto& a = areaRef(n);
        for (size_t i = 0; i < len; ++i) {
            const int at = (addr + int(i)) & 0xFFF;
            if (n == 1 && at >= 116 && at < 124) continue;  // the FPGA's own measurement
            a[at] = tx[i];
        }
    }
}

// ---------------------------------------------------------------------------------------
// Board

const char* const SimFpgaBoard::kNodes[4] = {"/dev/spidev32766.1", "/dev/spidev32766.2",
                                             "/dev/spidev32766.3", "/dev/spidev32766.4"};

namespace {

class FpgaNode : public SpiModel {
public:
    FpgaNode(std::weak_ptr<SimFpgaBoard> board, int node) : board_(std::move(board)), node_(node) {}
    int transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t) override {
        auto board = board_.lock();
        if (!board) return -19;  // -ENODEV
        return board->transfer(node_, tx, rx, len);
    }

private:
    std::weak_ptr<SimFpgaBoard> board_;
    int node_;
};

zem::Mutex g_board_mutex;
std::shared_ptr<SimFpgaBoard> g_board GUARDED_BY(g_board_mutex);

}  // namespace

SimFpgaBoard::SimFpgaBoard(SimSoc& soc)
    : flash{SimFpgaFlash("/sim/fpga-flash-1.bin"), SimFpgaFlash("/sim/fpga-flash-2.bin")},
      soc_(soc) {
    // Power-on pad state: bus parked, both FPGAs held in reset, flashes left to the FPGAs.
    for (int i = 0; i < 2; ++i) {
        soc_.setWord(FpgaPads::kSelect[i], FpgaPads::kHigh);
        soc_.setWord(FpgaPads::kHeader[i], 0);
        soc_.setWord(FpgaPads::kReset[i], 0);
        soc_.setWord(FpgaPads::kFlashAccess[i], FpgaPads::kHigh);
        soc_.setWord(FpgaPads::kIrq[i], 0);
    }
}

void SimFpgaBoard::attach() {
    for (int i = 0; i < 4; ++i)
        attachSpiModel(kNodes[i], std::make_shared<FpgaNode>(weak_from_this(), i));
    std::weak_ptr<SimFpgaBoard> self = weak_from_this();
    soc_.onWrite([self](uint32_t offset, uint16_t value) {
        if (auto board = self.lock()) board->padWritten(offset, value);
    });
}

bool SimFpgaBoard::routedTo(int side, bool flash) const {
    if (high(FpgaPads::kSelect[side]) || !high(FpgaPads::kSelect[1 - side])) return false;
    return flash ? !high(FpgaPads::kFlashAccess[side]) : high(FpgaPads::kFlashAccess[side]);
}

int SimFpgaBoard::transfer(int node, const uint8_t* tx, uint8_t* rx, size_t len) {
    zem::MutexLocker lock(mutex);
    std::vector<uint8_t> scratch;
    if (!rx) {
        scratch.resize(len);
        rx = scratch.data();
    }
    std::fill_n(rx, len, 0xFF);  // nobody driving the data line
    const int side = node % 2;
    const bool isFlash = node >= 2;
    Message msg{node, !isFlash && high(FpgaPads::kHeader[side]), routedTo(side, isFlash),
                std::vector<uint8_t>(tx, tx + len)};
    if (!msg.answered) {
        ++misrouted_;
    } else if (!isFlash && !fpga[side].running()) {
        // Held in reset: its pins float, the message is lost.
    } else if (isFlash) {
        flash[side].transfer(tx, rx, len);
    } else if (msg.header) {
        if (len == 4)
            fpga[side].header(tx);
        else
            ++protocol_errors_;
    } else if (!fpga[side].headerPending()) {
        ++protocol_errors_;
    } else {
        if (fpga[side].readingInput()) measureRouted(side);
        fpga[side].data(tx, rx, len);
    }
    log_.push(std::move(msg));
    if (!isFlash) syncIrq(side);
    return 0;
}

void SimFpgaBoard::syncIrq(int side) {
    soc_.setWord(FpgaPads::kIrq[side], fpga[side].irq() ? 1 : 0);
}

// FPGA side i measures what the video processor's transmitter i carries; with the chip absent
// or before its panel set-up, 1920 x 1080.
void SimFpgaBoard::measureRouted(int side) {
    uint32_t width = kUnroutedWidth, height = kUnroutedHeight;
    if (const auto chip = simC331()) chip->transmitterPicture(side, &width, &height);
    fpga[side].routedInput(width, height);
}

void SimFpgaBoard::restartFpga(int i) {
    zem::MutexLocker lock(mutex);
    fpga[i].holdReset();
    fpga[i].releaseReset();
    syncIrq(i);
}

void SimFpgaBoard::padWritten(uint32_t offset, uint16_t value) {
    zem::MutexLocker lock(mutex);
    for (int i = 0; i < 2; ++i) {
        if (offset != FpgaPads::kReset[i]) continue;
        if (value == 0)
            fpga[i].holdReset();
        else
            fpga[i].releaseReset();
        syncIrq(i);
    }
}

std::vector<SimFpgaBoard::Message> SimFpgaBoard::messages() const {
    zem::MutexLocker lock(mutex);
    return log_.snapshot();
}

void SimFpgaBoard::clearMessages() {
    zem::MutexLocker lock(mutex);
    log_.clear();
}

int SimFpgaBoard::misrouted() const {
    zem::MutexLocker lock(mutex);
    return misrouted_;
}

int SimFpgaBoard::protocolErrors() const {
    zem::MutexLocker lock(mutex);
    return protocol_errors_;
}

std::shared_ptr<SimFpgaBoard> buildFpgaBoard() {
    auto board = std::make_shared<SimFpgaBoard>(SimBox::get().soc);
    board->attach();
    zem::MutexLocker lock(g_board_mutex);
    g_board = board;
    return board;
}

std::shared_ptr<SimFpgaBoard> fpgaBoard() {
    zem::MutexLocker lock(g_board_mutex);
    return g_board;
}

void forgetFpgaBoard() {
    zem::MutexLocker lock(g_board_mutex);
    g_board.reset();
}

}  // namespace platform::sim
