#include "platform/sim/sim_c331.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "core/thread_safety.h"
#include "platform/clock.h"

namespace platform::sim {
namespace {

constexpr int kBusyPolls = 2;  // a started engine reports busy on this many polls
constexpr uint64_t kFrameHz = 60;
constexpr uint32_t kBlock = 1u << 16;

// Bank 4: the 2-D engine and the serial-flash engine.
constexpr uint8_t kEngineBank = 0x04;
constexpr uint8_t kEngineCommand = 0x08;
constexpr uint8_t kEngineStatus = 0x17;
constexpr uint8_t kEngineFifo = 0x29;
constexpr uint8_t kFlashCommand = 0x48;
constexpr uint8_t kFlashEraseOp = 0x4B;
constexpr uint8_t kFlashAddress = 0x4E;  // 4 bytes, complete with the write of 0x51
constexpr uint8_t kFlashData = 0x53;
constexpr uint8_t kFlashStatus = 0x54;       // bit 0 DMA, 1 write, 3 erase busy
constexpr uint8_t kFlashDataControl = 0x55;  // bit 5 write buffer empty, bit 7 read pending
constexpr uint8_t kFlashReadStatus = 0x56;   // read: the flash's status; write: DMA length
constexpr uint8_t kFlashDmaMode = 0x5A;
// Bank 5: vertical-sync requests (0x08 input, 0x09 output) and their status (+0x1A).
constexpr uint8_t kSyncBank = 0x05;
constexpr uint8_t kFieldBank = 0xAB;
constexpr uint8_t kIdBank = 0xB2;
constexpr uint8_t kIdAddress = 0x08;
constexpr uint8_t kLockAddress = 0x63;
constexpr uint8_t kMeasureBank = 0xAE;
constexpr uint8_t kWidthBank = 0xAF;
// Outputs: the routing word (a byte a transmitter port: the output channel it carries, two
// ports a transmitter) and each channel's active area of interest (bank 0x08 + 16 x channel).
constexpr uint8_t kRoutingBank = 0x03;
constexpr uint8_t kRouting = 0x55;
constexpr uint8_t kChannelBank = 0x08;
constexpr uint8_t kChannelStride = 16;
constexpr uint8_t kAreaHStart = 0x28, kAreaHEnd = 0x2A, kAreaVStart = 0x2C, kAreaVEnd = 0x2E;

}  // namespace

C331InputTiming C331InputTiming::video(uint32_t htotal, uint32_t vtotal, uint32_t hact, double fps,
                                       int lanes) {
    C331InputTiming t;
    t.htotal = htotal;
    t.vtotal = vtotal;
    t.fhw = htotal;
    t.fvm = fps > 0 ? static_cast<uint32_t>(std::lround(200000000.0 / fps)) : 0;
    t.active_width = hact;
    t.lanes = lanes;
    return t;
}

SimC331::SimC331() : regs_(256 * 128, 0), flash_("/sim/c331-flash.bin", kFlashSize) {
    at(kIdBank, kIdAddress) = kChipId;
    for (int port = 0; port < 6; ++port) setInputLocked(port, nullptr);
}

int SimC331::transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speed_hz) {
    zem::MutexLocker lock(mutex_);
    if (len != 2 || !tx) return -EINVAL;
    Frame frame{tx[0], tx[1], 0, speed_hz, !bus_error_};
    ++frame_count_;
    std::shared_ptr<const WriteHook> hook;
    if (frame.ok) {
        if (tx[0] & 0x80) {
            const uint8_t address = tx[0] & 0x7F;
            if (address == 0) {
                bank_ = tx[1];
            } else if (!absent_) {
                writeLocked(static_cast<uint8_t>(bank_), address, tx[1]);
                hook = write_hook_;
            }
        } else {
            frame.rx1 = absent_ ? 0xFF : readLocked(static_cast<uint8_t>(bank_), tx[0]);
        }
        if (rx) {
            rx[0] = 0;
            rx[1] = frame.rx1;
        }
    }
    frames_.push(frame);
    const uint8_t bank = static_cast<uint8_t>(bank_);
    lock.unlock();
    if (hook) (*hook)(bank, tx[0] & 0x7F, tx[1]);
    return frame.ok ? 0 : -EIO;
}

uint8_t SimC331::readLocked(uint8_t bank, uint8_t address) {
    if (bank == kIdBank && address == kIdAddress) {
        const bool bad = flaky_ && (id_reads_++ % 2 == 0);
        return bad ? 0x00 : at(bank, address);
    }
    if (bank == kEngineBank) {
        switch (address) {
            case kEngineStatus:
                return engineStatus();
            case kFlashData:
                return flashDataRead();
            case kFlashStatus:
                return flashStatus();
            case kFlashDataControl:
                return flashDataControl();
            case kFlashReadStatus:
                return flashReadStatus();
            default:
                break;
        }
    }
    if (bank == kSyncBank && (address == 0x22 || address == 0x23))
        return syncStatus(static_cast<uint8_t>(address - 0x1A));
    if (bank == kFieldBank) return fieldCounter(address);
    return at(bank, address);
}

void SimC331::writeLocked(uint8_t bank, uint8_t address, uint8_t value) {
    history_.try_emplace(static_cast<uint16_t>(bank << 8 | address), 256).first->second.push(value);
    write_log_.push({bank, address, value});
    at(bank, address) = value;

    if (bank == kEngineBank) {
        switch (address) {
            case kEngineCommand:
            case kEngineFifo:
                engineWrite(address, value);
                break;
            case kFlashCommand:
                flashCommand(value);
                break;
            case kFlashAddress + 3:
                flashAddressWritten();
                break;
            case kFlashData:
                if (page_.size() < kBlock) page_.push_back(value);
                break;
            case kFlashDataControl:
                if (value & 1) read_pending_ = 1;
                break;
            default:
                break;
        }
    } else if (bank == kSyncBank && (address == 0x08 || address == 0x09)) {
        sync_request_us_[address - 0x08] = platform::clock().nowUs();
    }
}

uint8_t SimC331::engineStatus() {
    if (stuck_) return 0x01;
    if (engine_busy_ > 0) {
        --engine_busy_;
        return 0x01;
    }
    return 0;
}

uint8_t SimC331::flashStatus() {
    if (stuck_) return 0x0B;
    if (flash_busy_ > 0) {
        --flash_busy_;
        return flash_busy_bits_;
    }
    return 0;
}

uint8_t SimC331::flashDataControl() {
    uint8_t v = stuck_ ? 0x80 : 0x20;
    if (read_pending_ > 0) {
        --read_pending_;
        v |= 0x80;
    }
    return v;
}

uint8_t SimC331::flashReadStatus() {
    uint8_t v = wel_ ? 0x02 : 0;
    if (stuck_) return v | 0x01;
    if (flash_wip_ > 0) {
        --flash_wip_;
        v |= 0x01;
    }
    return v;
}

uint8_t SimC331::flashDataRead() {
    const uint8_t v = flashByte(flash_ptr_);
    flash_ptr_ = (flash_ptr_ + 1) % kFlashSize;
    return v;
}

uint8_t SimC331::fieldCounter(uint8_t address) {
    uint8_t& f = field_[address & 0x7F];
    if (!frozen_ && ++field_reads_[address] % 2 == 0) f = (f + 1) & 3;
    return static_cast<uint8_t>(f << 2 | f);
}

// Vertical syncs come at the panel's 60 Hz on the program's clock: a requested sync is seen once
// the next frame boundary has passed. Computed on read, so an idle chip wakes nobody.
uint8_t SimC331::syncStatus(uint8_t request_address) {
    if (frozen_) return 0;
    constexpr uint64_t period = 1000000 / kFrameHz;
    const uint64_t next = (sync_request_us_[request_address - 0x08] / period + 1) * period;
    return platform::clock().nowUs() >= next ? at(kSyncBank, request_address) : 0;
}

void SimC331::flashCommand(uint8_t command) {
    const uint32_t address = fieldLocked(kEngineBank, kFlashAddress, 4) % kFlashSize;
    if (command == 2) {
        Dma dma{address, fieldLocked(kEngineBank, kFlashReadStatus, 4) & 0x7FFFFFFF,
                static_cast<uint8_t>(at(kEngineBank, kFlashDmaMode) & 15), 0};
        if (dma.mode == 0) dma.target = fieldLocked(kEngineBank, 0x11, 4);
        if (dma.mode == 1) dma.target = fieldLocked(kEngineBank, 0x27, 2);
        if (dma.mode == 4) dma.target = at(0x09, 0x1F);
        dmas_.push_back(dma);
        flash_busy_bits_ = 0x01;
        flash_busy_ = kBusyPolls;
    } else if (command == 4) {
        uint32_t size = kFlashSize;
        switch (at(kEngineBank, kFlashEraseOp)) {
            case 0x20:
                size = 4096;
                break;
            case 0x52:
                size = 32768;
                break;
            case 0xD8:
                size = kBlock;
                break;
            default:
                break;
        }
        flashErase(address & ~(size - 1), size);
        flash_busy_bits_ = 0x08;
        flash_busy_ = kBusyPolls;
        flash_wip_ = 1;
        wel_ = false;
    } else if (command == 5) {
        const uint8_t op = at(kEngineBank, kFlashEraseOp);
        if (op == 0x04) wel_ = false;
        if (op == 0x06) wel_ = true;
    }
}

void SimC331::flashAddressWritten() {
    flashProgramPending();
    page_start_ = flash_ptr_ = fieldLocked(kEngineBank, kFlashAddress, 4) % kFlashSize;
}

void SimC331::flashProgramPending() {
    if (page_.empty()) return;
    // A page program wraps inside its 256-byte page, as the flash does.
    for (size_t i = 0; i < page_.size(); ++i) {
        const uint32_t a = (page_start_ & ~0xFFu) | ((page_start_ + i) & 0xFF);
        flashProgram(a, page_[i]);
    }
    page_.clear();
    flash_busy_bits_ = 0x02;
    flash_busy_ = 1;
    flash_wip_ = 1;
}

uint8_t SimC331::flashByte(uint32_t address) const {
    return flash_[address % kFlashSize];
}

void SimC331::engineWrite(uint8_t address, uint8_t value) {
    if (address == kEngineFifo) {
        if (fifo_.size() < 4096) fifo_.push_back(value);
        return;
    }
    engine_busy_ = value ? kBusyPolls : 0;
    if (value == 0) return;
    Draw d{value,
           fieldLocked(kEngineBank, 0x0D, 4),
           fieldLocked(kEngineBank, 0x11, 4),
           static_cast<uint16_t>(fieldLocked(kEngineBank, 0x1E, 2) + 1),
           static_cast<uint16_t>(fieldLocked(kEngineBank, 0x20, 2) + 1),
           static_cast<uint16_t>(fieldLocked(kEngineBank, 0x0B, 2)),
           at(kEngineBank, 0x1C),
           at(kEngineBank, 0x1B),
           at(kEngineBank, 0x22),
           at(kEngineBank, 0x24),
           std::move(fifo_)};
    fifo_.clear();
    draws_.push(std::move(d));
}

bool SimC331::flashTakesWork() {
    if (flash_protected_ || flash_cut_after_ == 0) return false;
    if (flash_cut_after_ > 0) --flash_cut_after_;
    return true;
}

void SimC331::flashProgram(uint32_t address, uint8_t value) {
    if (flashTakesWork()) flash_.program(address % kFlashSize, value);
}

void SimC331::flashErase(uint32_t address, uint32_t size) {
    if (flashTakesWork()) flash_.erase(address, size);
}

uint32_t SimC331::fieldLocked(uint8_t bank, uint8_t address, int count) const {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) v |= static_cast<uint32_t>(at(bank, address + i)) << (8 * i);
    return v;
}

void SimC331::setFieldLocked(uint8_t bank, uint8_t address, int count, uint32_t value) {
    for (int i = 0; i < count; ++i) at(bank, address + i) = static_cast<uint8_t>(value >> (8 * i));
}

void SimC331::setInputLocked(int port, const C331InputTiming* t) {
    if (port < 0 || port > 5) return;
    // The "plus 1" counts read one less than they measure; 0xFFFF / 0xFFFFFF mean no count.
    const uint32_t ht = t ? t->htotal - 1 : 0xFFFF;
    const uint32_t vt = t ? t->vtotal : 0xFFFF;
    const uint32_t fhw = t ? t->fhw - 1 : 0xFFFF;
    const uint32_t fvm = t ? t->fvm - 1 : 0xFFFFFF;
    const uint32_t aw = t ? t->active_width : 0;
    if (port < 4) {
        setFieldLocked(kMeasureBank, 0x08 + 2 * port, 2, ht);
        setFieldLocked(kMeasureBank, 0x20 + 2 * port, 2, vt);
        setFieldLocked(kMeasureBank, 0x38 + 2 * port, 2, fhw);
        setFieldLocked(kMeasureBank, 0x50 + 3 * port, 3, fvm);
        setFieldLocked(kWidthBank, 0x08 + 2 * port, 2, aw);
        return;
    }
    const int rx = port - 4;
    setFieldLocked(kMeasureBank, 0x10 + 8 * rx, 2, ht);
    setFieldLocked(kMeasureBank, 0x28 + 8 * rx, 2, vt);
    setFieldLocked(kWidthBank, 0x10 + 8 * rx, 2, aw);
    // Lane pairs: 8 lanes use four, 4 lanes two, fewer one; unlocked lanes count nothing
    // beyond the first pair.
    const int lanes = t ? t->lanes : 0;
    const int pairs = lanes >= 8 ? 4 : lanes >= 4 ? 2 : 1;
    const int good = !t ? 0 : t->locked ? pairs : 1;
    for (int i = 0; i < 4; ++i) {
        const bool valid = i < good;
        setFieldLocked(kMeasureBank, 0x40 + 8 * rx + 2 * i, 2, valid ? fhw : 0xFFFF);
        setFieldLocked(kMeasureBank, 0x5C + 0x0C * rx + 3 * i, 3, valid ? fvm : 0xFFFFFF);
    }
    uint8_t& lock = at(kIdBank, kLockAddress);
    const uint8_t bit = static_cast<uint8_t>(1u << (5 + 2 * rx));
    lock = (t && t->locked) ? (lock | bit) : (lock & ~bit);
}

void SimC331::setAbsent(bool absent) {
    zem::MutexLocker lock(mutex_);
    absent_ = absent;
}
void SimC331::setFlakyId(bool flaky) {
    zem::MutexLocker lock(mutex_);
    flaky_ = flaky;
}
void SimC331::setBusError(bool error) {
    zem::MutexLocker lock(mutex_);
    bus_error_ = error;
}
void SimC331::setStuckBusy(bool stuck) {
    zem::MutexLocker lock(mutex_);
    stuck_ = stuck;
}
void SimC331::setFramesStopped(bool stop) {
    zem::MutexLocker lock(mutex_);
    frozen_ = stop;
}

void SimC331::setFlashProtected(bool on) {
    zem::MutexLocker lock(mutex_);
    flash_protected_ = on;
}

void SimC331::setFlashPowerCut(int after) {
    zem::MutexLocker lock(mutex_);
    flash_cut_after_ = after;
}

void SimC331::setInputSignal(int port, const C331InputTiming& timing) {
    zem::MutexLocker lock(mutex_);
    setInputLocked(port, &timing);
}
void SimC331::clearInputSignal(int port) {
    zem::MutexLocker lock(mutex_);
    setInputLocked(port, nullptr);
}

bool SimC331::transmitterPicture(int tx, uint32_t* width, uint32_t* height) const {
    zem::MutexLocker lock(mutex_);
    if (absent_ || tx < 0 || tx > 1 || !history_.count(uint16_t(kRoutingBank << 8 | kRouting)))
        return false;
    const uint32_t routing = fieldLocked(kRoutingBank, kRouting, 4);
    const uint8_t first = uint8_t(routing >> (16 * tx)) & 7;
    const uint8_t second = uint8_t(routing >> (16 * tx + 8)) & 7;
    // Ports carry channels in rising order: a second port that names no channel above the
    // first's repeats a channel (one channel a transmitter) and adds nothing to the picture.
    const uint32_t channels = second > first ? 2 : 1;
    const auto bank = uint8_t(kChannelBank + kChannelStride * first);
    const auto span = [&](uint8_t start, uint8_t end) REQUIRES(mutex_) {
        const uint32_t a = fieldLocked(bank, start, 2), b = fieldLocked(bank, end, 2);
        return b > a ? b - a : 0;
    };
    *width = channels * span(kAreaHStart, kAreaHEnd);
    *height = span(kAreaVStart, kAreaVEnd);
    return true;
}

uint8_t SimC331::reg(uint8_t bank, uint8_t address) const {
    zem::MutexLocker lock(mutex_);
    return at(bank, address);
}

uint32_t SimC331::field(uint32_t descriptor, uint32_t channel_offset) const {
    zem::MutexLocker lock(mutex_);
    const auto bank = static_cast<uint8_t>((descriptor >> 16) + channel_offset);
    return fieldLocked(bank, static_cast<uint8_t>(descriptor >> 8), descriptor & 0xFF);
}

void SimC331::poke(uint8_t bank, uint8_t address, uint8_t value) {
    zem::MutexLocker lock(mutex_);
    at(bank, address) = value;
}

int SimC331::selectedBank() const {
    zem::MutexLocker lock(mutex_);
    return bank_;
}

std::vector<SimC331::Frame> SimC331::frames() const {
    zem::MutexLocker lock(mutex_);
    return frames_.snapshot();
}

void SimC331::clearFrames() {
    zem::MutexLocker lock(mutex_);
    frames_.clear();
    write_log_.clear();
}

std::vector<uint8_t> SimC331::writes(uint8_t bank, uint8_t address) const {
    zem::MutexLocker lock(mutex_);
    auto it = history_.find(static_cast<uint16_t>(bank << 8 | address));
    if (it == history_.end()) return {};
    return it->second.snapshot();
}

std::vector<SimC331::Write> SimC331::writeLog() const {
    zem::MutexLocker lock(mutex_);
    return write_log_.snapshot();
}

void SimC331::onWrite(WriteHook hook) {
    zem::MutexLocker lock(mutex_);
    write_hook_ = hook ? std::make_shared<const WriteHook>(std::move(hook)) : nullptr;
}

uint64_t SimC331::frameCount() const {
    zem::MutexLocker lock(mutex_);
    return frame_count_;
}

std::vector<uint8_t> SimC331::flashRead(uint32_t address, uint32_t length) const {
    zem::MutexLocker lock(mutex_);
    std::vector<uint8_t> out(length);
    for (uint32_t i = 0; i < length; ++i) out[i] = flashByte((address + i) % kFlashSize);
    return out;
}

void SimC331::flashLoad(uint32_t address, const std::vector<uint8_t>& bytes) {
    zem::MutexLocker lock(mutex_);
    for (size_t i = 0; i < bytes.size(); ++i) {
        flash_[(address + i) % kFlashSize] = bytes[i];
    }
}

std::vector<SimC331::Dma> SimC331::dmas() const {
    zem::MutexLocker lock(mutex_);
    return dmas_;
}

std::vector<SimC331::Draw> SimC331::draws() const {
    zem::MutexLocker lock(mutex_);
    return draws_.snapshot();
}

void SimC331::clearDraws() {
    zem::MutexLocker lock(mutex_);
    draws_.clear();
}

namespace {
zem::Mutex g_chip_mutex;
std::shared_ptr<SimC331>& chipSlot() REQUIRES(g_chip_mutex) {
    static auto* slot = new std::shared_ptr<SimC331>();  // never destroyed: threads may use it
    return *slot;
}
}  // namespace

std::shared_ptr<SimC331> attachSimC331() {
    auto chip = std::make_shared<SimC331>();
    attachSpiModel(SimC331::kNode, chip);
    zem::MutexLocker lock(g_chip_mutex);
    chipSlot() = chip;
    return chip;
}

std::shared_ptr<SimC331> simC331() {
    zem::MutexLocker lock(g_chip_mutex);
    return chipSlot();
}

void forgetSimC331() {
    zem::MutexLocker lock(g_chip_mutex);
    chipSlot().reset();
}

}  // namespace platform::sim
