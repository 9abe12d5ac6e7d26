// The serial flash behind the C331, reached through the chip's bank-4 flash engine, and the OSD
// fonts it holds: erase, write and read, the check of which fonts are present, their copy into
// chip memory, and the character-mode and bitmap defaults.
//
// Every engine wait is bounded and reported. Long jobs take flash_lock unit by unit and set the
// engine up again whenever another caller had it in between.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "c331/c331_manage.h"
#include "c331/c331_reg_writer.h"
#include "core/console.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

// Flash operation traces: bit 7 of debug topic 6.
#define FLASH_TRACE(...)                                 \
    do {                                                 \
        if (prnEn[6] & 0x80) console::outf(__VA_ARGS__); \
    } while (0)

const uint32_t c331_manage::osd_char_txt[15] = {1920,     1080,     0xFF0000, 0,        0,
                                                0,        0xC0C0FF, 0x23,     0x3000,   0x10023,
                                                0x290000, 0x410023, 0xC000,   0x450023, 0xA40000};
const uint32_t c331_manage::osd_bmp_txt[4] = {0xED9800, 1920, 1080, 0x10D3C00};

namespace {

// Bank-4 flash engine registers.
constexpr uint32_t kMode = 0x044701;
constexpr uint32_t kCommand = 0x044801;  // 0 idle, 2 DMA, 4 erase, 5 single command
constexpr uint32_t kProgramOp = 0x044901;
constexpr uint32_t kReadOp = 0x044A01;
constexpr uint32_t kEraseOp = 0x044B01;
constexpr uint32_t kWriteEnableOp = 0x044C01;
constexpr uint32_t kReadStatusOp = 0x044D01;
constexpr uint32_t kAddress = 0x044E04;
constexpr uint32_t kData = 0x045301;
constexpr uint32_t kStatus = 0x045401;       // B4_SFLSTAT: bit 0 DMA, 1 write, 3 erase busy
constexpr uint32_t kDataControl = 0x045501;  // B4_SFLDTCTL: bit 5 empty, bit 7 read pending
constexpr uint32_t kFlashStatus = 0x045601;  // B4_SFLRDSR: bit 0 WIP, bit 1 WEL
constexpr uint32_t kAccess = 0x045F01;       // 1 register access, 2 DMA
constexpr uint32_t kClear = 0x046001;

// Bounds of the engine waits. Page programs poll without pause (as many rounds as the chip's
// own driver allows); erases and DMA pause between polls, for the longest block erase.
constexpr int kPagePolls = 10000;
constexpr int kErasePolls = 20000;
constexpr uint32_t kErasePauseUs = 200;
constexpr uint32_t kPage = 256;       // bytes a program command takes
constexpr uint32_t kReadUnit = 4096;  // bytes a read takes between two turns of the lock

// The places of the four fonts, then the bitmap and palette with the rest of the flash (they
// share sectors), for checking a font file before it is written. Erases and writes themselves
// may cross them: PC and factory tools erase 32 and 64 KiB blocks across a region's end.
constexpr uint32_t kRegionStarts[] = {0x000000, 0x010000, 0x410000,
                                      0x450000, 0xED9000, c331_manage::kFlashSize};

bool insideOneRegion(uint32_t address, uint32_t length) {
    if (length == 0 || address >= c331_manage::kFlashSize ||
        length > c331_manage::kFlashSize - address)
        return false;
    for (size_t i = 0; i + 1 < sizeof kRegionStarts / sizeof kRegionStarts[0]; ++i) {
        if (address >= kRegionStarts[i] && address < kRegionStarts[i + 1])
            return length <= kRegionStarts[i + 1] - address;
    }
    return false;
}

// The registers of one flash operation, with the first failure kept.
struct Engine : RegWriter {
    // As RegWriter::wait; a time-out is also traced with the chip's own line.
    void wait(uint32_t descriptor, uint32_t mask, uint32_t want, int polls, uint32_t pause_us,
              const char* what, const char* timeout_line) {
        RegWriter::wait(descriptor, mask, want, polls, pause_us, what);
        if (rc == -ETIMEDOUT) FLASH_TRACE("%s\n", timeout_line);
    }
    void pins() {
        w(0x054203, 0x55);
        w(0x053C02, 0x300);
        w(0x053E02, 0x300);
        w(0x054502, 0x3FF);
        FLASH_TRACE("GIO setting OK.\n");
    }
    // A write-enable latch left set after a program or erase is cleared (write disable).
    void clearWel() {
        if (rc != 0 || !(r(kFlashStatus) & 0x02)) return;
        FLASH_TRACE("B4_SFLRDSR WEL is 1, and have to clear WEL bit.\n");
        w(kEraseOp, 0x04);
        w(kCommand, 5);
        FLASH_TRACE("Serial Flash WRDI command process start.\n");
        wait(kFlashStatus, 0x02, 0, kPagePolls, 0, "flash WRDI",
             "B4_SFLRDSR WRDI Timeout Error!!. Please check the circumestance of Serial Flash.");
        w(kCommand, 0);
    }
    void pageDone() {
        wait(kDataControl, 0x20, 0x20, kPagePolls, 0, "flash write buffer",
             "B4_SFLDTCTL WEMPTY Timeout Error!!. Please check the circumestance of Serial Flash.");
        wait(kStatus, 0x02, 0, kPagePolls, 0, "flash write busy",
             "B4_SFLSTAT WBUSY Timeout Error!!. Please check the circumestance of Serial Flash.");
        wait(kFlashStatus, 0x01, 0, kPagePolls, 0, "flash WIP",
             "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.");
        clearWel();
    }
};

// Reads length bytes from address through the data port. Caller holds flash_lock.
void readLocked(Engine& e, uint32_t address, uint32_t length, uint8_t* out) {
    e.pins();
    e.w(kCommand, 0);
    e.w(kMode, 0x80);
    e.w(kMode, 0x31);
    e.w(kReadOp, 0x0C);
    e.w(kAccess, 1);
    e.w(kCommand, 0);
    e.w(kClear, 0);
    e.w(kAddress, address);
    e.w(kDataControl, 1);
    e.wait(kDataControl, 0x80, 0, kPagePolls, 0, "flash read",
           "B4_SFLDTCTL READ Timeout Error!!. Please check the circumestance of Serial Flash.");
    e.w(kDataControl, 0);
    for (uint32_t i = 0; i < length && e.rc == 0; ++i) {
        out[i] = uint8_t(e.r(kData));
        if ((i + 1) % 1024 == 0 || i + 1 == length)
            FLASH_TRACE("#### %8u byte of %8u byte read finish. ###\n", i + 1, length);
    }
    e.w(kAddress, address);
}

// DMA of length bytes from the flash: mode 0 into chip memory at target, 1 into the character
// FIFO, 4 into the palette from index target. Caller holds flash_lock.
void dmaLocked(Engine& e, uint32_t flash_address, uint32_t target, int mode, uint32_t length) {
    e.pins();
    e.w(0x040801, 0);  // the 2-D engine too
    e.w(kCommand, 0);
    e.w(kMode, 0x80);
    e.w(kMode, mode == 1 ? 0x37 : 0x33);
    e.w(kAccess, 2);
    e.w(kProgramOp, 0x12);
    e.w(kReadOp, 0x0C);
    e.w(kEraseOp, 0xC7);
    e.w(kWriteEnableOp, 0x06);
    e.w(kReadStatusOp, 0x05);
    e.w(kAddress, flash_address);
    e.w(0x045604, length | 0x80000000u);
    e.w(0x045A01, uint32_t(mode) & 15);
    if (mode == 0) e.w(0x041104, target);
    if (mode == 1) e.w(0x042702, target & 0xFFFF);
    if (mode == 4) e.w(0x091F01, target & 0xFF);
    e.w(kCommand, 2);
    e.wait(kStatus, 0x01, 0, kErasePolls, kErasePauseUs, "flash DMA",
           "B4_SFLSTAT DMA Timeout Error!!. Please check the circumestance of Serial Flash.");
    e.w(kCommand, 0);
}

struct FontSlot {
    uint32_t header;  // flash address of the header
    int dots;
    bool narrow;
    uint32_t mask_bit;
    uint8_t status_bits;
};
// In the order the font check reads them.
constexpr FontSlot kFontSlots[] = {{0x010000, 32, false, 1u << 0, 0x02},
                                   {0x000000, 32, true, 1u << 1, 0x01},
                                   {0x450000, 64, false, 1u << 2, 0xA8},
                                   {0x410000, 64, true, 1u << 3, 0x54}};

// A header that says 'P' and whose coding and glyph size are those of its slot.
bool fontPresent(const uint8_t* h, const FontSlot& slot) {
    if (h[0] != 'P') return false;
    const int width = h[17], height = h[18];
    const bool width_ok = width == slot.dots || (slot.narrow && width == slot.dots / 2);
    return h[5] == (slot.narrow ? 1 : 0) && height == slot.dots && width_ok;
}

}  // namespace

bool c331_manage::flash_region_fits(uint32_t address, uint32_t length) {
    return insideOneRegion(address, length);
}

namespace {

void eraseSetUp(Engine& e, uint8_t kind) {
    e.pins();
    e.w(kCommand, 0);
    e.w(kMode, 0x80);
    e.w(kMode, 0x01);
    e.w(kEraseOp, kind == 0 ? 0x20 : kind == 1 ? 0x52 : 0xD8);
    e.w(kWriteEnableOp, 0x06);
    e.w(kReadStatusOp, 0x05);
    e.w(kAccess, 1);
}

void eraseUnit(Engine& e, uint32_t address) {
    e.w(kAddress, address);
    e.w(kCommand, 4);
    e.wait(kStatus, 0x08, 0, kErasePolls, kErasePauseUs, "flash erase busy",
           "B4_SFLSTAT EBUSY Timeout Error!!. Please check the circumestance of Serial Flash.");
    if (e.rc == 0) FLASH_TRACE("B4_SFLSTAT EBUSY finish\n");
    e.wait(kFlashStatus, 0x01, 0, kErasePolls, kErasePauseUs, "flash erase WIP",
           "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.");
    if (e.rc == 0) FLASH_TRACE("B4_SFLRDSR WIP finish\n");
    e.clearWel();
    e.w(kCommand, 0);
}

// Set-up for programming from address on; its page's bytes follow.
void writeSetUp(Engine& e, uint32_t address) {
    e.pins();
    e.w(kMode, 0x80);
    e.w(kCommand, 0);
    e.w(kMode, 0x31);
    e.w(kWriteEnableOp, 0x06);
    e.w(kReadStatusOp, 0x05);
    e.w(kProgramOp, 0x12);
    e.w(kAccess, 1);
    e.w(kCommand, 0);
    e.w(kClear, 0);
    e.w(kAddress, address);
    e.w(kAddress, address);
}

}  // namespace

int c331_manage::erase_flash(int fd, uint32_t first_unit, uint32_t count, uint8_t kind) {
    const uint32_t unit = kind == 0 ? 4096u : kind == 1 ? 32768u : 65536u;
    const uint64_t start = uint64_t(first_unit) * 4096u;
    const uint64_t bytes = uint64_t(count) * unit;
    if (start % unit != 0 || start >= kFlashSize || bytes > kFlashSize - start) return -EINVAL;
    std::lock_guard<FlashLock> lock(flash_lock);
    Engine e{{drv, fd}};
    for (uint32_t u = 0; u < count && e.rc == 0; ++u) {
        if (u == 0 || flash_lock.let_waiting_in()) eraseSetUp(e, kind);
        eraseUnit(e, uint32_t(start + uint64_t(u) * unit));
    }
    return e.rc;
}

int c331_manage::write_flash(int fd, uint32_t address, uint32_t length, const uint8_t* data) {
    if (!data || length == 0 || address >= kFlashSize || length > kFlashSize - address)
        return -EINVAL;
    std::lock_guard<FlashLock> lock(flash_lock);
    Engine e{{drv, fd}};
    // Page by page: a page's bytes and the address write that programs it are never split.
    for (uint32_t at = 0; at < length && e.rc == 0;) {
        const uint32_t end = std::min(length, at + kPage - (address + at) % kPage);
        if (at == 0 || flash_lock.let_waiting_in()) writeSetUp(e, address + at);
        for (; at < end && e.rc == 0; ++at) {
            e.w(kData, data[at]);
            if ((at + 1) % 8192 == 0)
                FLASH_TRACE("#### %8u byte of %8u byte write finish. ###\n", at + 1, length);
        }
        e.w(kAddress, address + end);
        e.pageDone();
    }
    return e.rc;
}

int c331_manage::read_flash(int fd, uint32_t address, uint32_t length, uint8_t* out) {
    if (!out || length == 0 || address >= kFlashSize || length > kFlashSize - address)
        return -EINVAL;
    std::lock_guard<FlashLock> lock(flash_lock);
    Engine e{{drv, fd}};
    for (uint32_t at = 0; at < length && e.rc == 0; at += kReadUnit) {
        if (at > 0) flash_lock.let_waiting_in();
        readLocked(e, address + at, std::min(kReadUnit, length - at), out + at);
    }
    return e.rc;
}

int c331_manage::osd_write_dma_sfl(int fd, uint32_t flash_address, uint32_t target, int mode,
                                   uint32_t length) {
    std::lock_guard<FlashLock> lock(flash_lock);
    Engine e{{drv, fd}};
    dmaLocked(e, flash_address, target, mode, length);
    return e.rc;
}

int c331_manage::read_c331_font(int fd) {
    uint32_t mask = 0;
    uint8_t status = 0;
    int rc = 0;
    std::unique_lock<FlashLock> lock(flash_lock);
    for (const FontSlot& slot : kFontSlots) {
        uint8_t h[kFontHeaderSize] = {};
        Engine e{{drv, fd}};
        readLocked(e, slot.header, sizeof h, h);
        const int r = e.rc;
        if (r != 0) rc = r;
        ZEM_DEBUG("\n font %#x: type %c width %d height %d\n", slot.header, h[0], h[17], h[18]);
        if (r != 0 || !fontPresent(h, slot)) continue;
        mask |= slot.mask_bit;
        status |= slot.status_bits;
    }
    lock.unlock();
    g_osd_font_mask = mask;
    if (ZemRamPara* s = ZemRamPara::p_zemrampara_config) {
        zem::MutexLocker lock(s->mutex);
        s->status[6] = status;
    }
    ZEM_DEBUG("\n g_osd_font_mask = %#x \n", mask);
    return rc;
}

int c331_manage::update_font(int fd) {
    // Narrow 32, wide 32, narrow 64, wide 64: each wide set directly follows its narrow set,
    // which the character generator relies on.
    std::atomic<uint32_t>* const addr[4] = {&g_font_addr_32ASCII, &g_font_addr_32CHN,
                                            &g_font_addr_64ASCII, &g_font_addr_64CHN};
    const uint32_t mask_bits[4] = {1u << 1, 1u << 0, 1u << 3, 1u << 2};
    uint32_t a = uint32_t(PS_FONT_ADDR);
    int rc = 0;
    std::lock_guard<FlashLock> lock(flash_lock);
    for (int i = 0; i < 4; ++i) {
        const uint32_t source = osd_char_txt[7 + 2 * i], length = osd_char_txt[8 + 2 * i];
        *addr[i] = a;
        // A font the check did not accept is not copied; its place is kept.
        if (g_osd_font_mask & mask_bits[i]) {
            Engine e{{drv, fd}};
            dmaLocked(e, source, a, 0, length);
            if (e.rc != 0) rc = e.rc;
        }
        a += length;
    }
    return rc;
}

void c331_manage::load_char() {
    PS_BG_HACT = PS_PANEL_HW;
    PS_BG_VACT = PS_PANEL_VW;
    PS_BG_COLOR = int32_t(osd_char_txt[2]);
    PS_BG_TRANS = int32_t(osd_char_txt[3]);
    PS_CHAR_HST = int32_t(osd_char_txt[4]);
    PS_CHAR_VST = int32_t(osd_char_txt[5]);
    PS_CHAR_COLOR = int32_t(osd_char_txt[6]);
    PS_CHAR_ADDR_32ASCII = int32_t(osd_char_txt[7]);
    PS_CHAR_SIZE_32ASCII = int32_t(osd_char_txt[8]);
    PS_CHAR_ADDR_32CHN = int32_t(osd_char_txt[9]);
    PS_CHAR_SIZE_32CHN = int32_t(osd_char_txt[10]);
    PS_CHAR_ADDR_64ASCII = int32_t(osd_char_txt[11]);
    PS_CHAR_SIZE_64ASCII = int32_t(osd_char_txt[12]);
    PS_CHAR_ADDR_64CHN = int32_t(osd_char_txt[13]);
    PS_CHAR_SIZE_64CHN = int32_t(osd_char_txt[14]);
}

void c331_manage::load_bmp() {
    PS_BMP_ADDR = int32_t(osd_bmp_txt[0]);
    PS_BMP_HACT = int32_t(osd_bmp_txt[1]);
    PS_BMP_VACT = int32_t(osd_bmp_txt[2]);
    PS_BMPCP_ADDR = int32_t(osd_bmp_txt[3]);
}

// The 32-dot glyph of one character as the flash holds it, 'O' for a set dot.
void c331_manage::zemApi_debug_printf_unicode(uint32_t code, int fd) {
    ZEM_DEBUG("unicode:%x\n", code);
    uint32_t at;
    if (code >= 0x20 && code <= 0x7F) {
        at = osd_char_txt[7] + (code - 0x20) * 128;
    } else if (code >= 0x4E00 && code <= 0x9FFF) {
        at = osd_char_txt[9] + (code - 0x4E00) * 128;
    } else {
        console::outf("\t unicode:%x OOR, rang:%x - %x, return;\n", code, 0x4E00u, 0x9FFFu);
        return;
    }
    uint8_t cell[128];
    if (read_flash(fd, at, sizeof cell, cell) != 0) return;
    for (int row = 0; row < 32; ++row) {
        char line[33];
        for (int x = 0; x < 32; ++x) line[x] = (cell[row * 4 + x / 8] >> (x % 8)) & 1 ? 'O' : ' ';
        line[32] = 0;
        console::outf("%s\n", line);
    }
}
