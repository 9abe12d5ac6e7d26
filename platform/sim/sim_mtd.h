// Simulated raw flash partitions: a file under the root ("<root>/dev/mtd8") that erases to 0xFF
// in whole blocks and programs by AND, answering like the kernel's mtdchar device, recording
// every request, and failing on demand.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/thread_safety.h"
#include "platform/mtd.h"

namespace platform::sim {

class SimMtd {
public:
    struct Op {
        enum Kind { Info, Unlock, Erase, Write, Read } kind;
        uint32_t offset;
        uint32_t length;
        int64_t result;  // 0, bytes written or read, or a negative errno
    };

    // A 128 KiB erase block and 2 KiB page, as on the box's SPI NAND.
    static constexpr uint32_t kEraseSize = 0x20000;
    static constexpr uint32_t kWriteSize = 2048;

    SimMtd(std::string device, uint32_t size, uint32_t erasesize = kEraseSize,
           uint32_t writesize = kWriteSize);

    const std::string device;  // program path, "/dev/mtd8"
    // What MEMGETINFO reports; a test may set a broken geometry (zero sizes).
    MtdInfo geometry;

    // Faults, set before the program uses the partition.
    int info_error = 0;             // MEMGETINFO fails with this negative errno
    int unlock_error = 0;           // MEMUNLOCK fails with this negative errno
    int64_t erase_refused_at = -1;  // an erase over this byte offset fails with -EIO
    int64_t short_write_at = -1;    // a write over this byte offset stops just before it
    // A write over this byte offset reports every byte written, but that cell keeps what it
    // held (a worn cell, a bit flip on the bus).
    int64_t stuck_byte_at = -1;
    int open_error = 0;  // opening the device fails with this negative errno

    // Every request so far, in order.
    std::vector<Op> ops() const;
    void clearOps();
    // The partition's bytes as they are now.
    std::vector<uint8_t> contents() const;

    int info(MtdInfo& out);
    int unlock(uint32_t start, uint32_t length);
    int erase(uint32_t start, uint32_t length);
    ssize_t pwrite(const void* data, size_t n, uint32_t offset);
    ssize_t pread(void* out, size_t n, uint32_t offset);

    const std::string root;  // the root the model was made under

private:
    int record(Op::Kind kind, uint32_t offset, uint32_t length, int64_t result) REQUIRES(mutex_);
    int checkRange(uint32_t start, uint32_t length) const;
    // The backing file is read and written under mutex_ too.
    int eraseFile(uint32_t start, uint32_t length) REQUIRES(mutex_);
    ssize_t programFile(const uint8_t* data, size_t n, uint32_t offset) REQUIRES(mutex_);
    void ensureFile() const REQUIRES(mutex_);

    const uint32_t capacity_;  // bytes in the backing file
    mutable zem::Mutex mutex_;
    std::vector<Op> ops_ GUARDED_BY(mutex_);
};

// The model behind a program path under the current root. "/dev/mtd8" (0x60000 bytes) and
// "/dev/mtd10" (0x500000 bytes) are made on first use; other paths only when attached.
std::shared_ptr<SimMtd> simMtd(const std::string& device);
// Puts a model (made by a test, e.g. with a broken geometry) behind its device path.
void attachMtd(std::shared_ptr<SimMtd> model);

// Back end of MtdPartition::open on the simulated box.
int openSimMtd(const std::string& device, std::unique_ptr<MtdDevice>& out);

}  // namespace platform::sim
