#include "platform/sim/flash_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/box.h"
#include "platform/own_files.h"

namespace platform::sim {
namespace {

// Writes the erased part in 64 KiB steps: the page cache then holds it in pieces no larger,
// so a mapped read makes that much resident, not a whole megabyte.
bool fillErased(int fd, size_t size) {
    const std::vector<uint8_t> blank(size_t(1) << 16, 0xFF);
    for (size_t done = 0; done < size;) {
        const size_t n = std::min(blank.size(), size - done);
        const ssize_t k = ::pwrite(fd, blank.data(), n, off_t(done));
        if (k <= 0) return false;
        done += size_t(k);
    }
    return true;
}

// The backing file, made erased when missing or of another size; -1 when it can't be.
int openBacking(const std::string& file, size_t size) {
    if (platform::root().empty() || platform::makeParentDirs(file) != 0) return -1;
    const std::string local = platform::path(file);
    const int fd = platform::openOwnFile(local, O_RDWR | O_CREAT);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) == 0 && size_t(st.st_size) == size) return fd;
    if (::ftruncate(fd, 0) != 0 || !fillErased(fd, size)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

FlashImage::FlashImage(const std::string& file, uint32_t size) : size_(size) {
    const int fd = openBacking(file, size_);
    void* p = fd >= 0 ? ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                      : ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                               -1, 0);
    if (fd >= 0) ::close(fd);  // the mapping keeps the file
    if (p == MAP_FAILED) {
        size_ = 0;
        return;
    }
    bytes_ = static_cast<uint8_t*>(p);
    // Programs touch a few pages of a part: map only those, not their neighbours.
    ::madvise(p, size_, MADV_RANDOM);
    if (fd < 0) std::memset(bytes_, 0xFF, size_);
}

FlashImage::~FlashImage() {
    release();
}

FlashImage::FlashImage(FlashImage&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)) {}

FlashImage& FlashImage::operator=(FlashImage&& other) noexcept {
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void FlashImage::release() {
    if (bytes_) ::munmap(bytes_, size_);
    bytes_ = nullptr;
    size_ = 0;
}

void FlashImage::erase(uint32_t address, uint32_t length) {
    if (address >= size_) return;
    std::memset(bytes_ + address, 0xFF, std::min<size_t>(length, size_ - address));
}

}  // namespace platform::sim
