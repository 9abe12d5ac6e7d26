// A simulated flash part's bytes: a file under the simulated root ("<root>/sim/..."), made
// erased (all 0xFF) when first used and mapped into memory, so what the program writes stays
// across a restart of the simulated box, as on the box. Only the pages in use are resident.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::sim {

class FlashImage {
public:
    FlashImage() = default;
    // file is a program path ("/sim/c331-flash.bin"); without a root or when the file can't be
    // made, the image lives in memory only.
    FlashImage(const std::string& file, uint32_t size);
    ~FlashImage();
    FlashImage(FlashImage&& other) noexcept;
    FlashImage& operator=(FlashImage&& other) noexcept;
    FlashImage(const FlashImage&) = delete;
    FlashImage& operator=(const FlashImage&) = delete;

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    uint8_t* begin() { return bytes_; }
    uint8_t* end() { return bytes_ + size_; }
    const uint8_t* begin() const { return bytes_; }
    const uint8_t* end() const { return bytes_ + size_; }
    uint8_t& operator[](size_t i) { return bytes_[i]; }
    uint8_t operator[](size_t i) const { return bytes_[i]; }

    // Programming only clears bits; erasing sets them all. Both are bounded by the part.
    void program(uint32_t address, uint8_t value) {
        if (address < size_) bytes_[address] &= value;
    }
    void erase(uint32_t address, uint32_t length);

private:
    void release();

    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
};

}  // namespace platform::sim
