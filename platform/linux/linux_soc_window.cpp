// SoC window on the box: "/dev/mem" mapped shared, read and write, with synchronous access.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/box.h"
#include "platform/linux/linux_devices.h"

namespace platform {
namespace {

class MappedWindow : public SocWindow {
public:
    MappedWindow(void* base, size_t size)
        : base_(static_cast<volatile uint8_t*>(base)), size_(size) {}
    ~MappedWindow() override { ::munmap(const_cast<uint8_t*>(base_), size_); }

    uint16_t read16(uint32_t offset) override {
        if (!holdsWord(offset)) return 0;
        return *reinterpret_cast<volatile uint16_t*>(base_ + offset);
    }
    void write16(uint32_t offset, uint16_t value) override {
        if (!holdsWord(offset)) return;
        *reinterpret_cast<volatile uint16_t*>(base_ + offset) = value;
    }

private:
    // An odd offset into the device mapping is a bus error on ARM, which kills the program; the
    // subtraction form keeps offsets near 2^32 from wrapping past the check.
    bool holdsWord(uint32_t offset) const {
        return offset % 2 == 0 && size_ >= 2 && offset <= size_ - 2;
    }

    volatile uint8_t* base_;
    size_t size_;
};

// The msys driver's record for request 0x5315: tag, physical address and size (returned),
// record size.
struct __attribute__((packed)) MsysWindowRecord {
    uint32_t tag;
    uint64_t address;
    uint32_t size;
    uint32_t record_size;
};
static_assert(sizeof(MsysWindowRecord) == 20, "the msys record is 20 bytes");
constexpr unsigned long kMsysRequestWindow = 0x5315;

static_assert(sizeof(off_t) == 8,
              "physical addresses need 64-bit file offsets (_FILE_OFFSET_BITS=64)");

int mapMem(uint64_t address, uint32_t size, std::unique_ptr<SocWindow>& out) {
    const int fd = ::open(path("/dev/mem").c_str(), O_RDWR | O_SYNC);
    if (fd < 0) return -errno;
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, address);
    const int err = errno;
    ::close(fd);
    if (base == MAP_FAILED) return -err;
    out = std::make_unique<MappedWindow>(base, size);
    return 0;
}

int askMsysWindow(MsysWindowRecord& record) {
    const int fd = ::open(path("/dev/msys").c_str(), O_RDWR | O_SYNC);
    if (fd < 0) return -errno;
    record = MsysWindowRecord{0x4D530100, 0, 0, sizeof(MsysWindowRecord)};
    const int rc = ::ioctl(fd, kMsysRequestWindow, &record);
    const int err = errno;
    ::close(fd);
    return rc == 0 ? 0 : -(err ? err : EIO);
}

}  // namespace

int openLinuxSocWindow(SocWindowKind kind, std::unique_ptr<SocWindow>& out) {
    if (kind == SocWindowKind::Identity) return mapMem(kSocIdentityBase, kSocIdentitySize, out);
    MsysWindowRecord record;
    const int rc = askMsysWindow(record);
    if (rc != 0) return rc;
    return mapMem(record.address, record.size, out);
}

}  // namespace platform
