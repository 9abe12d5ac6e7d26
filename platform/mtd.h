// Raw flash partitions ("/dev/mtd8", "/dev/mtd10"): the MTD character device with MEMGETINFO,
// MEMUNLOCK, MEMERASE, pwrite and pread on the box, a file under the root on the simulated box.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The geometry MEMGETINFO reports.
struct MtdInfo {
    uint32_t size = 0;       // bytes in the partition
    uint32_t erasesize = 0;  // bytes per erase block
    uint32_t writesize = 0;  // bytes per program page
};

// What a back end does with one opened partition. Every call returns 0 (pwrite: the bytes
// written) or a negative errno.
class MtdDevice {
public:
    virtual ~MtdDevice() = default;
    virtual int info(MtdInfo& out) = 0;
    virtual int unlock(uint32_t start, uint32_t length) = 0;
    virtual int erase(uint32_t start, uint32_t length) = 0;
    virtual ssize_t pwrite(const void* data, size_t n, uint32_t offset) = 0;
    // The bytes read (fewer at the partition's end) or a negative errno.
    virtual ssize_t pread(void* out, size_t n, uint32_t offset) = 0;
};

// An opened partition, used like a descriptor: move-only, closed by close() or when dropped.
// Calls on a closed handle return -EBADF.
class MtdPartition {
public:
    MtdPartition() = default;
    MtdPartition(MtdPartition&&) = default;
    MtdPartition& operator=(MtdPartition&&) = default;
    MtdPartition(const MtdPartition&) = delete;
    MtdPartition& operator=(const MtdPartition&) = delete;

    // Opens a partition by its program path, for reading and writing with synchronous
    // access; 0 or a negative errno (the handle then stays closed).
    int open(const std::string& device);
    bool isOpen() const { return dev_ != nullptr; }
    void close() { dev_.reset(); }

    int info(MtdInfo& out);
    int unlock(uint32_t start, uint32_t length);
    int erase(uint32_t start, uint32_t length);
    ssize_t pwrite(const void* data, size_t n, uint32_t offset);
    ssize_t pread(void* out, size_t n, uint32_t offset);

private:
    std::unique_ptr<MtdDevice> dev_;
};

}  // namespace platform
