#include "platform/mtd.h"

#include <cerrno>

#include "platform/box.h"
#include "platform/linux/linux_mtd.h"
#include "platform/sim/sim_mtd.h"

namespace platform {

int MtdPartition::open(const std::string& device) {
    dev_.reset();
    std::unique_ptr<MtdDevice> dev;
    if (!simulated() && !onBox()) return -ENODEV;
    const int rc = simulated() ? sim::openSimMtd(device, dev) : openLinuxMtd(device, dev);
    if (rc == 0) dev_ = std::move(dev);
    return rc;
}

int MtdPartition::info(MtdInfo& out) {
    return dev_ ? dev_->info(out) : -EBADF;
}

int MtdPartition::unlock(uint32_t start, uint32_t length) {
    return dev_ ? dev_->unlock(start, length) : -EBADF;
}

int MtdPartition::erase(uint32_t start, uint32_t length) {
    return dev_ ? dev_->erase(start, length) : -EBADF;
}

ssize_t MtdPartition::pwrite(const void* data, size_t n, uint32_t offset) {
    return dev_ ? dev_->pwrite(data, n, offset) : -EBADF;
}

ssize_t MtdPartition::pread(void* out, size_t n, uint32_t offset) {
    return dev_ ? dev_->pread(out, n, offset) : -EBADF;
}

}  // namespace platform
