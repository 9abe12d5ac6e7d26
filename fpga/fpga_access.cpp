// FPGA register, RAM-area and configuration-flash access with the pad sequences that route
// the shared SPI bus, and the register mirror.
#include <cerrno>
#include <cstdio>
#include <vector>

#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_manage.h"

namespace {
constexpr uint32_t kSelect[2] = {fpga_manage::fpga0_select, fpga_manage::fpga1_select};
constexpr uint32_t kHeader[2] = {fpga_manage::fpga0_header, fpga_manage::fpga1_header};
constexpr uint32_t kFlashAccess[2] = {fpga_manage::fpga0_flash_access,
                                      fpga_manage::fpga1_flash_access};
constexpr uint32_t kUnusedPad = 0x1F1C;

bool is_fpga_reg(uint8_t reg) {
    return reg < 64 || (reg >= 128 && reg < fpga_manage::kRegCount);
}
bool is_soft_reg(uint8_t reg) {
    return reg >= 64 && reg <= 96;
}
}  // namespace

int fpga_manage::initialize() {
    fpga_ready = false;
    for (int n = 0; n < 4; ++n) drv->initialize_vbyne1(n, spi[n]);
    soc.reset();
    const int rc = platform::openSocWindow(platform::SocWindowKind::Pads, soc);
    if (rc != 0 || !soc) {
        if (rc == -ENOENT || rc == -EACCES || rc == -EPERM)
            std::printf("\n can't open /dev/msys");
        else if (rc == -ENOMEM || rc == -EFAULT)
            std::printf("\n NULL pointer!");
        else
            std::printf("\n DMEM request failed!!");
        soc.reset();
        return 255;
    }
    soc->write16(fpga1_header, kLineHigh);
    soc->write16(fpga1_flash_access, kLineHigh);
    soc->write16(receiver_power_a, 0);
    soc->write16(receiver_power_b, 0);
    soc->write16(kUnusedPad, 1);
    fpga_ready = true;
    return 0;
}

void fpga_manage::set_line(uint32_t line, bool high) {
    soc->write16(line, high ? kLineHigh : 0);
}

void fpga_manage::drive_line(uint32_t line, uint16_t value) {
    if (!fpga_ready || !soc) return;
    zem::MutexLocker lock(Utils::_spi_mutex);  // the pads route a running transfer
    soc->write16(line, value);
}

uint32_t fpga_manage::fpga_cmd_to_spi_data(uint8_t cmd, uint8_t area, uint32_t address) {
    return uint32_t(cmd) | uint32_t(area) << 8 | (address & 0xFF) << 16 |
           ((address >> 8) & 0x0F) << 24;
}

uint32_t fpga_manage::fpga_reg_cmd_to_spi_data(uint8_t cmd, uint8_t reg, uint8_t mask) {
    return uint32_t(cmd) | uint32_t(reg) << 16 | uint32_t(mask) << 24;
}

int fpga_manage::fpga_transfer(uint32_t header, const uint8_t* tx, uint8_t* rx, uint32_t len,
                               int fpga) {
    if (!fpga_ready || fpga < 0 || fpga > 1 || !spi[fpga]) return -ENODEV;
    const uint8_t head[4] = {uint8_t(header), uint8_t(header >> 8), uint8_t(header >> 16),
                             uint8_t(header >> 24)};
    zem::MutexLocker lock(Utils::_spi_mutex);
    set_line(kHeader[fpga], true);
    set_line(kSelect[fpga], false);
    set_line(kSelect[1 - fpga], true);
    int rc = drv->SPI_Transfer_Write(spi[fpga].get(), head, 4);
    set_line(kHeader[fpga], false);
    // An empty data phase is left out: the bus takes no empty messages.
    const int rc2 = len ? drv->SPI_Transfer(spi[fpga].get(), tx, rx, len) : 0;
    set_line(fpga0_select, true);
    set_line(fpga1_select, true);
    return rc < 0 ? rc : rc2;
}

int fpga_manage::read_fpga_register(uint8_t reg, uint8_t* out, uint8_t fpga) {
    const uint8_t tx = 0xFF;
    uint8_t rx = 0;
    const int rc = fpga_transfer(fpga_reg_cmd_to_spi_data(0x05, reg, 0), &tx, &rx, 1, fpga);
    if (rc >= 0 && out) *out = rx;
    return rc;
}

int fpga_manage::write_fpga_register(uint8_t reg, uint8_t value, uint8_t fpga, uint8_t mask) {
    return fpga_transfer(fpga_reg_cmd_to_spi_data(0x04, reg, mask), &value, nullptr, 1, fpga);
}

int fpga_manage::write_fpga_ram(const uint8_t* buf, uint32_t address, uint32_t length, uint8_t area,
                                uint8_t fpga) {
    if (length && !buf) return -EINVAL;
    return fpga_transfer(fpga_cmd_to_spi_data(0x02, area, address), buf, nullptr, length, fpga);
}

int fpga_manage::read_fpga_ram(uint8_t* out, uint32_t address, uint32_t length, uint8_t area,
                               uint8_t fpga) {
    if (length && !out) return -EINVAL;
    std::vector<uint8_t> tx(length, 0xFF);
    return fpga_transfer(fpga_cmd_to_spi_data(0x03, area, address), tx.data(), out, length, fpga);
}

void fpga_manage::read_from_register(uint8_t reg, uint8_t fpga) {
    if (fpga > 1 || !is_fpga_reg(reg)) return;
    uint8_t value = 0;
    if (read_fpga_register(reg, &value, fpga) < 0) return;
    zem::MutexLocker lock(mirror_mutex);
    reg_mirror[fpga][reg] = value;
}

uint8_t fpga_manage::mirror(int fpga, uint8_t reg) {
    zem::MutexLocker lock(mirror_mutex);
    return reg_mirror[fpga & 1][reg];
}

void fpga_manage::set_mirror(int fpga, uint8_t reg, uint8_t value) {
    zem::MutexLocker lock(mirror_mutex);
    reg_mirror[fpga & 1][reg] = value;
}

void fpga_manage::mirror_merge(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga,
                               uint8_t* merged) {
    uint8_t m;
    {
        zem::MutexLocker lock(mirror_mutex);
        m = uint8_t((reg_mirror[fpga][reg] & ~mask) | (value & mask));
        reg_mirror[fpga][reg] = m;
    }
    if (reg == 0) {
        ScreenState = (m & 4) ? 0 : 1;
        // The PC reads the table under its own lock, which comes before the mirror's.
        zem::MutexLocker tables(Utils::_fpga_multicast_mutex);
        MCU_RAM_EXTEND[29] = ScreenState;
    }
    if (merged) *merged = m;
}

void fpga_manage::write_to_0x00_register(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga) {
    if (fpga > 1) return;
    if (is_soft_reg(reg)) {
        mirror_merge(reg, mask, value, fpga, nullptr);
        return;
    }
    if (!is_fpga_reg(reg)) return;
    // The read, merge and send of one register run as one step, so two threads writing
    // different bits of it do not undo each other.
    zem::RecursiveMutexLocker rmw(rmw_mutex);
    read_from_register(reg, fpga);
    uint8_t merged = 0;
    mirror_merge(reg, mask, value, fpga, &merged);
    write_fpga_register(reg, merged, fpga, mask);
}

void fpga_manage::write_to_register(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga) {
    if (fpga > 1) return;
    if (is_soft_reg(reg)) {
        mirror_merge(reg, mask, value, fpga, nullptr);
        return;
    }
    if (!is_fpga_reg(reg)) return;
    uint8_t merged = 0;
    {
        zem::RecursiveMutexLocker rmw(rmw_mutex);
        read_from_register(reg, fpga);
        mirror_merge(reg, mask, value, fpga, &merged);
        // The command table's register traffic comes before the register-2 byte.
        if (reg == 2 && (merged & 4)) Dealwith_mcu_ram();
        // Register 2 bits 1 and 2 are the manager's own; the FPGA never sees them.
        const uint8_t sent = reg == 2 ? uint8_t(merged & ~0x06) : merged;
        write_fpga_register(reg, sent, fpga, mask);
        if (reg == 0 && mask == 4) close_led_follows(merged);
    }
    if (reg == 0) reg0_bit3 = (merged & 8) ? 1 : 0;
}

// Under rmw_mutex with the register write, so the echo carries the generation of the user's
// close-LED this state was built on, never one taken after it.
void fpga_manage::close_led_follows(uint8_t reg0) {
    // The black of an LED-size handshake (blanking, blanked or restart asked) is not the
    // user's: only outside one, idle, does the close-LED word follow the register.
    if (led_size_handshake::get().state() != led_size_handshake::kIdle) return;
    close_led = (reg0 & 4) ? 1 : 0;
    ZemRamPara::pInstance()->post_word(ZemRamPara::kRamCloseLed, close_led, close_led_gen);
}

int fpga_manage::run_flash(int device, const std::function<int(platform::SpiBus*)>& op) {
    if (device != 2 && device != 3) return fpga_drv::kFlashRefused;
    if (!fpga_ready || !spi[device]) return fpga_drv::kFlashFailed;
    const int side = device - 2;
    zem::MutexLocker lock(Utils::_spi_mutex);
    set_line(kSelect[1 - side], true);
    set_line(kSelect[side], false);
    set_line(kFlashAccess[side], false);
    const int rc = op(spi[device].get());
    set_line(kFlashAccess[side], true);
    set_line(fpga0_select, true);
    set_line(fpga1_select, true);
    return rc;
}

int fpga_manage::flash_erase(int device, uint32_t start_sector, int type, uint32_t count) {
    if (!fpga_drv::erase_fits(start_sector, type, count)) return fpga_drv::kFlashRefused;
    return run_flash(device, [&](platform::SpiBus* bus) {
        return drv->FPGA_SPI_FLASH_VBYONE_ERASE(bus, start_sector, type, count);
    });
}

int fpga_manage::flash_write(int device, uint32_t address, const uint8_t* data, uint32_t length) {
    if (!data || !fpga_drv::range_fits(address, length)) return fpga_drv::kFlashRefused;
    return run_flash(device, [&](platform::SpiBus* bus) {
        return drv->FPGA_SPI_FLASH_VBYONE_WRITE(bus, address, data, length);
    });
}

int fpga_manage::flash_read(int device, uint32_t address, uint32_t length, uint8_t* out) {
    if (!out || !fpga_drv::range_fits(address, length)) return fpga_drv::kFlashRefused;
    return run_flash(device, [&](platform::SpiBus* bus) {
        return drv->FPGA_SPI_FLASH_VBYONE_READ(bus, address, length, out);
    });
}

int fpga_manage::flash_uid(int device, uint8_t* out) {
    if (!out) return fpga_drv::kFlashRefused;
    return run_flash(device, [&](platform::SpiBus* bus) {
        return drv->FPGA_SPI_FLASH_SSTF016B_RD_UID(bus, out);
    });
}
