#include "platform/sim/sim_mtd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "core/thread_safety.h"
#include "platform/box.h"
#include "platform/own_files.h"

namespace platform::sim {
namespace {

// The opened device: every call goes to the shared model.
class SimMtdDevice : public MtdDevice {
public:
    explicit SimMtdDevice(std::shared_ptr<SimMtd> m) : model_(std::move(m)) {}
    int info(MtdInfo& out) override { return model_->info(out); }
    int unlock(uint32_t start, uint32_t length) override { return model_->unlock(start, length); }
    int erase(uint32_t start, uint32_t length) override { return model_->erase(start, length); }
    ssize_t pwrite(const void* data, size_t n, uint32_t offset) override {
        return model_->pwrite(data, n, offset);
    }
    ssize_t pread(void* out, size_t n, uint32_t offset) override {
        return model_->pread(out, n, offset);
    }

private:
    std::shared_ptr<SimMtd> model_;
};

zem::Mutex g_registry_mutex;
std::map<std::string, std::shared_ptr<SimMtd>> g_registry GUARDED_BY(g_registry_mutex);

std::shared_ptr<SimMtd> makeDefault(const std::string& device) {
    if (device == "/dev/mtd8") return std::make_shared<SimMtd>(device, 0x60000);
    if (device == "/dev/mtd10") return std::make_shared<SimMtd>(device, 0x500000);
    return nullptr;
}

bool covers(int64_t at, uint64_t start, uint64_t length) {
    return at >= 0 && uint64_t(at) >= start && uint64_t(at) - start < length;
}

// Reads or writes exactly n bytes of the backing file at offset; 0 or -errno.
int fileIo(const std::string& file, bool write, uint8_t* buf, size_t n, uint32_t offset) {
    // The part's own file, read or written: never through a link.
    const int fd = platform::openOwnFile(file, write ? O_WRONLY : O_RDONLY);
    if (fd < 0) return fd;
    size_t done = 0;
    int rc = 0;
    while (done < n) {
        const ssize_t k = write ? ::pwrite(fd, buf + done, n - done, offset + done)
                                : ::pread(fd, buf + done, n - done, offset + done);
        if (k <= 0) {
            rc = k < 0 ? -errno : -EIO;
            break;
        }
        done += size_t(k);
    }
    ::close(fd);
    return rc;
}

}  // namespace

SimMtd::SimMtd(std::string dev, uint32_t size, uint32_t erasesize, uint32_t writesize)
    : device(std::move(dev)),
      geometry{size, erasesize, writesize},
      root(platform::root()),
      capacity_(size) {}

std::vector<SimMtd::Op> SimMtd::ops() const {
    zem::MutexLocker lock(mutex_);
    return ops_;
}

void SimMtd::clearOps() {
    zem::MutexLocker lock(mutex_);
    ops_.clear();
}

std::vector<uint8_t> SimMtd::contents() const {
    zem::MutexLocker lock(mutex_);
    std::vector<uint8_t> bytes(capacity_);
    ensureFile();
    if (fileIo(root + device, false, bytes.data(), bytes.size(), 0) != 0) bytes.clear();
    return bytes;
}

// A fresh part is fully erased.
void SimMtd::ensureFile() const {
    const std::string file = root + device;
    if (::access(file.c_str(), F_OK) == 0) return;
    platform::makeDirs(std::filesystem::path(file).parent_path());
    const int fd = platform::openOwnFile(file, O_WRONLY | O_CREAT);
    if (fd < 0) return;
    const std::vector<uint8_t> blank(capacity_, 0xFF);
    const ssize_t k = ::write(fd, blank.data(), blank.size());
    (void)k;  // a short file reads back short; contents() then says so by being empty
    ::close(fd);
}

int SimMtd::record(Op::Kind kind, uint32_t offset, uint32_t length, int64_t result) {
    ops_.push_back(Op{kind, offset, length, result});
    return int(result);
}

int SimMtd::checkRange(uint32_t start, uint32_t length) const {
    const uint32_t es = geometry.erasesize;
    if (es == 0 || length == 0 || start % es != 0 || length % es != 0) return -EINVAL;
    if (start > capacity_ || length > capacity_ - start) return -EINVAL;
    return 0;
}

int SimMtd::info(MtdInfo& out) {
    zem::MutexLocker lock(mutex_);
    if (info_error != 0) return record(Op::Info, 0, 0, info_error);
    out = geometry;
    return record(Op::Info, 0, 0, 0);
}

int SimMtd::unlock(uint32_t start, uint32_t length) {
    zem::MutexLocker lock(mutex_);
    int rc = unlock_error;
    if (rc == 0) rc = start > capacity_ || length > capacity_ - start ? -EINVAL : 0;
    return record(Op::Unlock, start, length, rc);
}

int SimMtd::erase(uint32_t start, uint32_t length) {
    zem::MutexLocker lock(mutex_);
    int rc = checkRange(start, length);
    if (rc == 0 && covers(erase_refused_at, start, length)) rc = -EIO;
    if (rc == 0) rc = eraseFile(start, length);
    return record(Op::Erase, start, length, rc);
}

ssize_t SimMtd::pwrite(const void* data, size_t n, uint32_t offset) {
    zem::MutexLocker lock(mutex_);
    ssize_t rc;
    if (offset >= capacity_) {
        rc = -ENOSPC;  // as mtdchar: at or past the end
    } else if (geometry.writesize == 0 || offset % geometry.writesize != 0) {
        rc = -EINVAL;  // NAND programs from a page boundary only
    } else {
        size_t take = n < capacity_ - offset ? n : capacity_ - offset;
        if (covers(short_write_at, offset, take)) take = size_t(short_write_at - offset);
        std::vector<uint8_t> bytes(static_cast<const uint8_t*>(data),
                                   static_cast<const uint8_t*>(data) + take);
        if (covers(stuck_byte_at, offset, take)) bytes[size_t(stuck_byte_at - offset)] = 0xFF;
        rc = programFile(bytes.data(), take, offset);
    }
    record(Op::Write, offset, uint32_t(n), rc);
    return rc;
}

ssize_t SimMtd::pread(void* out, size_t n, uint32_t offset) {
    zem::MutexLocker lock(mutex_);
    ssize_t rc = 0;  // as mtdchar: nothing at or past the end
    if (offset < capacity_) {
        const size_t take = n < capacity_ - offset ? n : capacity_ - offset;
        ensureFile();
        const int io = fileIo(root + device, false, static_cast<uint8_t*>(out), take, offset);
        rc = io != 0 ? io : ssize_t(take);
    }
    record(Op::Read, offset, uint32_t(n), rc);
    return rc;
}

int SimMtd::eraseFile(uint32_t start, uint32_t length) {
    ensureFile();
    std::vector<uint8_t> blank(length, 0xFF);
    return fileIo(root + device, true, blank.data(), length, start);
}

// Flash bits only go from 1 to 0 when programmed: the new byte is old AND data.
ssize_t SimMtd::programFile(const uint8_t* data, size_t n, uint32_t offset) {
    if (n == 0) return 0;
    ensureFile();
    std::vector<uint8_t> cells(n);
    int rc = fileIo(root + device, false, cells.data(), n, offset);
    if (rc != 0) return rc;
    for (size_t i = 0; i < n; ++i) cells[i] &= data[i];
    rc = fileIo(root + device, true, cells.data(), n, offset);
    return rc != 0 ? rc : ssize_t(n);
}

std::shared_ptr<SimMtd> simMtd(const std::string& device) {
    zem::MutexLocker lock(g_registry_mutex);
    auto& slot = g_registry[device];
    // A model belongs to the root it was made under; a new root starts with a fresh part.
    if (!slot || slot->root != platform::root()) slot = makeDefault(device);
    return slot;
}

void attachMtd(std::shared_ptr<SimMtd> model) {
    zem::MutexLocker lock(g_registry_mutex);
    g_registry[model->device] = std::move(model);
}

int openSimMtd(const std::string& device, std::unique_ptr<MtdDevice>& out) {
    // Without a root the backing file would be the machine's own device node.
    if (platform::root().empty()) return -ENODEV;
    auto model = simMtd(device);
    if (!model) return -ENOENT;
    if (model->open_error != 0) return model->open_error;
    out = std::make_unique<SimMtdDevice>(std::move(model));
    return 0;
}

}  // namespace platform::sim
