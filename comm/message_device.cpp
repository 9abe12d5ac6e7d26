// Device identity, network, barcode, clock and C331 flash commands of the PC protocol.
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "comm/comm_hooks.h"
#include "comm/field_reader.h"
#include "comm/message_deal.h"
#include "comm/protocol_phy.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/utils.h"

using namespace comm;

namespace {

constexpr uint8_t kFlashC331 = 4;
constexpr uint32_t kFlashEnd = 0x2000000;  // the C331 flash's address space
constexpr uint32_t kMaxText = 64;

// The data of a request as text (without the check byte), or false when it is not printable
// ASCII of 1..max bytes.
bool request_text(const uint8_t* buf, uint32_t len, uint32_t max, QString& out) {
    const uint32_t n = len - kMinBody;
    if (n == 0 || n > max) return false;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t c = buf[kHeadLen + i];
        if ((c < 0x20 || c > 0x7E) && c != 0) return false;
    }
    out = QString::fromLatin1(reinterpret_cast<const char*>(buf + kHeadLen), int(n));
    return true;
}

bool valid_mac(const QString& text) {
    if (text.size() != 17) return false;
    for (int i = 0; i < 17; ++i) {
        const QChar c = text[i];
        if (i % 3 == 2 ? c != ':' : !std::isxdigit(c.toLatin1())) return false;
    }
    return true;
}

ConfigEngine* config() {
    return ConfigEngine::p_config;
}

// Flash requests share their head: flash number, u32 address (or unit), u16 length (or count).
struct FlashHead {
    uint8_t flash;
    uint32_t addr;
    uint16_t n;
};

}  // namespace

int message_deal::get_device_info(uint8_t* buf, uint32_t) {
    uint8_t* out = buf + kHeadLen;
    out[0] = kDone;
    std::memcpy(out + 1, g_pid, 32);
    put32(out + 33, Utils::configValue(&g_port));
    const QByteArray mac = Utils::configValue(&g_str_mac).toLatin1().left(17);
    std::memset(out + 37, 0, 17);
    std::memcpy(out + 37, mac.constData(), size_t(mac.size()));
    out[54] = g_update_status;
    const QByteArray code = Utils::configValue(&g_str_barcode).toLatin1().left(kMaxText);
    out[55] = uint8_t(code.size());
    std::memcpy(out + 56, code.constData(), size_t(code.size()));
    return 56 + code.size();
}

int message_deal::net_ip_set(uint8_t* buf, uint32_t len) {
    QString text;
    if (!request_text(buf, len, 80, text)) return comm_status(buf, kRefused);
    // A C program sends its last string with its NUL.
    if (text.endsWith(QChar('\0'))) text.chop(1);
    const QStringList f = text.split(QChar('\0'));
    uint32_t port = 0;
    if (f.size() != 4 || !Utils::isDottedIPv4(f[0]) || !Utils::isDottedIPv4(f[1]) ||
        !Utils::isDottedIPv4(f[2]) || !Utils::isPort(f[3], port))
        return comm_status(buf, kRefused);
    if (!config()) return comm_status(buf, kUnavailable);
    // Address, gateway, netmask, port: the order the configuration takes them in.
    config()->write_config_variant(ConfigItem::IPAddress, f[0]);
    config()->write_config_variant(ConfigItem::GateWay, f[2]);
    config()->write_config_variant(ConfigItem::SubNetMask, f[1]);
    config()->write_config_variant(ConfigItem::TcpPort, port);
    return comm_status(buf, Utils::initIPAddress() == 0 ? kDone : kUnavailable);
}

int message_deal::init_MAC_address(uint8_t* buf, uint32_t len) {
    QString mac;
    if (!request_text(buf, len, 17, mac) || !valid_mac(mac)) return comm_status(buf, kRefused);
    if (!config()) return comm_status(buf, kUnavailable);
    config()->write_config_variant(ConfigItem::MAC, mac);
    QString ip, gateway, mask;
    {
        zem::MutexLocker lock(Utils::_config_mutex);
        g_str_mac = mac;
        ip = g_str_ip;
        gateway = g_str_gateway;
        mask = g_srt_mask;
    }
    Utils::system_mutex("ifconfig eth0 down");
    Utils::system_mutex("ifconfig eth0 hw ether " + mac);
    Utils::system_mutex("ifconfig eth0 up");
    const int rc = Utils::init_resteth(ip, gateway, mask);
    return comm_status(buf, rc == 0 ? kDone : kUnavailable);
}

int message_deal::net_eth_search(uint8_t* buf, uint32_t) {
    const std::string out = Utils::shell_exec("ifconfig eth0", 100);
    const uint32_t n = uint32_t(std::min<size_t>(out.size(), 4096));
    buf[kHeadLen] = out.empty() ? kUnavailable : kDone;
    std::memcpy(buf + kHeadLen + 1, out.data(), n);
    return 1 + int(n);
}

int message_deal::set_barcode(uint8_t* buf, uint32_t len) {
    QString code;
    if (!request_text(buf, len, kMaxText, code) || code.contains(QChar('\0')))
        return comm_status(buf, kRefused);
    if (!config()) return comm_status(buf, kUnavailable);
    config()->write_config_variant(ConfigItem::Barcode, code);
    zem::MutexLocker lock(Utils::_config_mutex);
    g_str_barcode = code;
    return comm_status(buf, kDone);
}

int message_deal::write_rtc_time(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    const uint8_t* t = r.bytes(8);
    if (r.overflow()) return comm_status(buf, kBadLength);
    // Seconds, minutes, hours, day, weekday (ignored), month, year, century.
    Utils::ClockValue c;
    if (!Utils::clock_from_bcd({t[7], t[6], t[5], t[3], t[2], t[1], t[0]}, c))
        return comm_status(buf, kRefused);
    const QString cmd = QString("date -s \"%1-%2-%3 %4:%5:%6\"")
                            .arg(c.year, 4, 10, QChar('0'))
                            .arg(c.month, 2, 10, QChar('0'))
                            .arg(c.day, 2, 10, QChar('0'))
                            .arg(c.hour, 2, 10, QChar('0'))
                            .arg(c.minute, 2, 10, QChar('0'))
                            .arg(c.second, 2, 10, QChar('0'));
    if (Utils::system_mutex(cmd) != 0) return comm_status(buf, kRefused);
    Utils::system_mutex("hwclock -w");
    if (comm_hooks::get().record_timing) comm_hooks::get().record_timing();
    return comm_status(buf, kDone);
}

int message_deal::Time_to_RAM(uint8_t* buf, uint32_t) {
    if (!comm_hooks::get().run_time) return comm_status(buf, kUnavailable);
    const uint32_t n = comm_hooks::get().run_time(buf + kHeadLen + 1, 64);
    if (n == 0) return comm_status(buf, kUnavailable);  // not read from the flash yet
    buf[kHeadLen] = kDone;
    return 1 + int(n);
}

namespace {

// A flash operation's result for the PC: refused (outside the flash) or failed.
uint8_t flash_status(int rc) {
    return rc == 0 ? kDone : rc == -EINVAL ? kRefused : kUnavailable;
}

bool flash_head(FieldReader& r, FlashHead& h) {
    h.flash = r.u8();
    h.addr = r.u32();
    h.n = r.u16();
    return !r.overflow();
}

}  // namespace

int message_deal::cmd_erase_flash(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    FlashHead h;
    const bool ok = flash_head(r, h);
    const uint8_t kind = r.u8();
    if (!ok || r.overflow()) return comm_status(buf, kBadLength);
    // Units of 4 KiB; a 32 or 64 KiB unit must start on its own boundary.
    static const uint32_t kUnit[] = {1, 8, 16};
    if (h.flash != kFlashC331 || kind > 2 || h.n == 0 || h.addr % kUnit[kind] != 0 ||
        h.addr >= kFlashEnd / 4096 || uint64_t(h.n) * kUnit[kind] > kFlashEnd / 4096 - h.addr)
        return comm_status(buf, kRefused);
    if (!comm_hooks::get().erase_flash) return comm_status(buf, kUnavailable);
    return comm_status(buf, flash_status(comm_hooks::get().erase_flash(h.addr, h.n, kind)));
}

int message_deal::cmd_write_flash(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    FlashHead h;
    const bool ok = flash_head(r, h);
    const uint8_t* data = r.bytes(h.n);
    if (!ok || r.overflow()) return comm_status(buf, kBadLength);
    if (h.flash != kFlashC331 || r.remaining() != 0 || h.n == 0 || h.addr >= kFlashEnd ||
        h.n > kFlashEnd - h.addr)
        return comm_status(buf, kRefused);
    if (!comm_hooks::get().write_flash) return comm_status(buf, kUnavailable);
    return comm_status(buf, flash_status(comm_hooks::get().write_flash(h.addr, h.n, data)));
}

int message_deal::cmd_read_flash(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    FlashHead h;
    if (!flash_head(r, h)) return comm_status(buf, kBadLength);
    if (h.flash != kFlashC331 || h.n == 0 || h.addr >= kFlashEnd || h.n > kFlashEnd - h.addr)
        return comm_status(buf, kRefused);
    if (!comm_hooks::get().read_flash) return comm_status(buf, kUnavailable);
    if (comm_hooks::get().read_flash(h.addr, h.n, buf + kHeadLen + 1) != 0)
        return comm_status(buf, kUnavailable);
    buf[kHeadLen] = kDone;
    return 1 + h.n;
}
