// The USB-disk upgrade: package files on the disk carry the program, each FPGA's firmware and
// the OSD fonts. The FPGA thread runs the job one step per pass while g_usb_grade is set (start,
// list, write, end). Every package is checked whole against its file size, and each child it
// gives against its target, before anything is erased: program and firmware children come only
// from packages for this controller type, font children from any. Each child is read whole into
// memory before its flash or file is touched, so a disk pulled meanwhile tears nothing; it is
// read back after writing and counts as installed only when it reads back equal.
#include "fpga/usb_upgrade.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "c331/c331_manage.h"
#include "core/file_io.h"
#include "core/globals.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "platform/box.h"
#include "platform/clock.h"
#include "platform/mounts.h"

usb_upgrade_report* usb_upgrade_report::pInstance() {
    static auto* report = new usb_upgrade_report();  // lives as long as the process
    return report;
}

namespace {

constexpr uint16_t kControllerType = 0x9752;
constexpr uint32_t kHeaderSize = 49, kEntrySize = 21;
constexpr uint32_t kFpgaHeaderSize = 64, kFontHeaderSize = 35;
constexpr uint8_t kApp = 10, kFpga0 = 7, kFpga1 = 8, kFont = 13;
// The bitstream ends before the saved port parameters in the configuration flash.
constexpr uint32_t kFirmwareRegion = fpga_manage::kParaFlashAddr;
constexpr uint32_t kFpgaPiece = 32768, kFontPiece = 16384;
constexpr uint8_t kAppVersion[6] = {25, 9, 26, 11, 2, 0};  // year, month, date, hard, soft, fuc
const char kNewProgram[] = "/data/app/zemT57N2";

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint8_t bcd(uint8_t v) {
    return uint8_t((v >> 4) * 10 + (v & 15));
}

struct Child {
    uint8_t type;
    uint32_t len, offset;
    uint8_t version[6];
    uint32_t fpga_len = 0;      // FPGA: bitstream length from its own header
    uint32_t font_address = 0;  // font: where it goes in the C331 flash
    bool font_known = false;    // font: its coding names a place
};

struct Package {
    uint8_t publish = 0;
    uint16_t controller = 0;
    std::vector<Child> children;
};

// n bytes at off of a package file (a path on this machine); false when they could not all be
// read: the file is shorter, or the disk went.
bool readAt(const std::string& file, uint64_t off, uint32_t n, uint8_t* out) {
    zem::MutexLocker lock(Utils::_file_deal_mutex);
    return platform::readUsbDiskFile(file, off, n, out);
}

uint64_t fileSize(const std::string& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// The file is there to read (a disk pulled takes its files with it).
bool fileThere(const std::string& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0;
}

uint32_t fontAddress(uint8_t coding, uint8_t height) {
    if (height == 64) return coding == 1 ? 0x410000 : 0x450000;
    if (height == 32) return coding == 1 ? 0x000000 : 0x010000;
    return 0x000000;
}

// The program and firmware children are for one controller type only; fonts are for any.
bool forOneController(uint8_t type) {
    return type == kApp || type == kFpga0 || type == kFpga1;
}

bool taken(uint8_t type, uint16_t controller) {
    return type == kFont || (forOneController(type) && controller == kControllerType);
}

// Why a package is refused: the kind the panel shows and the words the log keeps.
struct Refusal {
    UsbFault kind = kUsbFaultNone;
    const char* why = "";
};

bool refuse(Refusal& r, UsbFault kind, const char* why) {
    r = {kind, why};
    return false;
}

// Checks one child against the file and, when it is taken, its target; false with the reason.
// table_end: where the package's header and child table end.
bool checkChild(const std::string& file, uint64_t size, uint64_t table_end, uint16_t controller,
                Child& c, Refusal& r) {
    if (!taken(c.type, controller)) return true;  // ignored whatever it holds
    if (uint64_t(c.offset) + c.len > size)
        return refuse(r, kUsbFaultDamaged, "child past the end of the file");
    if (c.type == kApp) {
        if (c.len == 0) return refuse(r, kUsbFaultDamaged, "program child empty");
        if (c.offset < table_end)
            return refuse(r, kUsbFaultDamaged, "program child overlaps the package's header");
        if (c.len > kFileBufSize)
            return refuse(r, kUsbFaultTooLarge, "program child larger than 5 MiB");
        return true;
    }
    if (c.type == kFont) {
        uint8_t h[kFontHeaderSize];
        if (c.len < kFontHeaderSize || !readAt(file, c.offset, kFontHeaderSize, h))
            return refuse(r, kUsbFaultDamaged, "font child shorter than its header");
        c.font_known = h[5] <= 1;
        c.font_address = fontAddress(h[5], h[18]);
        if (c.font_known && !c331_manage::flash_region_fits(c.font_address, c.len))
            return refuse(r, kUsbFaultTooLarge, "font child larger than its place in the flash");
        return true;
    }
    uint8_t h[kFpgaHeaderSize];
    if (c.len < kFpgaHeaderSize || !readAt(file, c.offset, kFpgaHeaderSize, h))
        return refuse(r, kUsbFaultDamaged, "firmware child shorter than its header");
    c.fpga_len = le32(h + 31);
    if (uint64_t(kFpgaHeaderSize) + c.fpga_len > c.len)
        return refuse(r, kUsbFaultDamaged, "bitstream longer than its child");
    if (c.fpga_len > kFirmwareRegion)
        return refuse(r, kUsbFaultTooLarge, "bitstream larger than the firmware area");
    // An empty bitstream would count as installed and restart the FPGA on what the flash holds.
    if (c.fpga_len == 0) return refuse(r, kUsbFaultDamaged, "firmware child without a bitstream");
    return true;
}

// Reads and checks a whole package; false with the reason when any part of it is wrong, or
// when it carries nothing this box takes (a program or firmware of another controller type,
// children of kinds it does not know): installing nothing, it would read as an empty disk.
bool readPackage(const std::string& file, Package& p, Refusal& r) {
    const uint64_t size = fileSize(file);
    uint8_t h[kHeaderSize];
    if (size < kHeaderSize || !readAt(file, 0, kHeaderSize, h))
        return refuse(r, kUsbFaultDamaged, "shorter than its header");
    p.publish = h[2];
    p.controller = le16(h + 18);
    const uint16_t count = le16(h + 47);
    ZEM_DEBUG("\n FileType = %#x \n\n FileVersion = %#x \n\n PublishType = %#x \n", h[0], h[1],
              h[2]);
    ZEM_DEBUG("\n ControllerType = %#x \n\n FileNum = %#x \n", p.controller, count);
    const uint64_t table_end = kHeaderSize + uint64_t(kEntrySize) * count;
    if (table_end > size)
        return refuse(r, kUsbFaultDamaged, "child table past the end of the file");
    bool foreign = false;
    for (uint32_t k = 0; k < count; ++k) {
        uint8_t e[kEntrySize];
        if (!readAt(file, kHeaderSize + kEntrySize * k, kEntrySize, e))
            return refuse(r, kUsbFaultDamaged, "child table unreadable");
        Child c{e[0], le32(e + 1), le32(e + 5), {}};
        std::memcpy(c.version, e + 9, 6);
        ZEM_DEBUG("\n file_type = %#x \n\n file_len = %#x \n\n file_offset = %#x \n", c.type, c.len,
                  c.offset);
        if (!checkChild(file, size, table_end, p.controller, c, r)) return false;
        if (taken(c.type, p.controller))
            p.children.push_back(c);
        else
            foreign = foreign || forOneController(c.type);
    }
    if (p.children.empty())
        return refuse(r, kUsbFaultOtherBox,
                      foreign ? "for another controller type" : "no child this box takes");
    return true;
}

void report(const char* text, int level = 2) {
    writeLogMsg(level, text);
    ZEM_DEBUG("\n %s \n", text);
}

}  // namespace

void fpga_manage::usb_upgrade_manage_deal() {
    usb_upgrade_deal();
}

void fpga_manage::usb_upgrade_deal() {
    usb_upgrade_report* r = usb_upgrade_report::pInstance();
    TimeRealType t{};
    switch (g_send_para[1].load()) {
        case 0:
            if (g_update_flag.fetch_or(kUpdateByUsb) == 0) emit r->sig_update_start();
            IT8563WE_Get(&t);
            usb_upgrade_time = QString("%1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
            usb_file_count = 0;
            usb_left_out = 0;
            usb_installed = usb_failed = usb_refused = usb_files_read = usb_not_read = 0;
            usb_fault = kUsbFaultNone;
            emit r->sig_qround_bar_update(0);
            g_send_para[1] = 1;
            break;
        case 1:
            get_usb_file_list_path();
            ZEM_DEBUG("\n usb_updata_list = %u \n", usb_file_count);
            emit r->sig_qround_bar_update(10);
            g_send_para[1] = 2;
            break;
        case 2:
            usb_upgrade_main_deal();
            g_send_para[1] = 3;
            break;
        case 3:
            IT8563WE_Get(&t);
            usb_upgrade_time += QString("    %1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
            if (g_update_flag.fetch_and(uint8_t(~kUpdateByUsb)) & kUpdateByUsb)
                emit r->sig_update_over();
            emit r->sig_qround_bar_update(100);
            emit r->sig_usb_upgrade_result(usb_installed, usb_failed, usb_refused, usb_fault,
                                           usb_files_read, usb_not_read);
            if (ZemRamPara* s = ZemRamPara::p_zemrampara_config) s->test_signal(104);
            g_send_para[1] = 0;
            g_usb_grade = 0;
            break;
        default:
            break;
    }
}

namespace {

bool endsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool upgradeName(const std::string& name) {
    return endsWith(name, ".ZEM") || endsWith(name, ".ZEMZK");
}

bool regularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A path on the disk as the terminal and the log show it: the path on the box, its bytes that
// are no UTF-8 text, and control characters, as \xNN.
std::string shownPath(const std::string& local) {
    const std::string path = platform::boxPath(local);
    const QString text = QString::fromUtf8(path.data(), int(path.size()));
    const bool utf8 = text.toUtf8() == QByteArray(path.data(), int(path.size()));
    std::string shown;
    for (const char ch : path) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b == 0x7F || (b >= 0x80 && !utf8)) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            shown += hex;
        } else {
            shown += ch;
        }
    }
    return shown;
}

// The package folder dir, "folder" in the mount: the mount as it is, the folder never through a
// link (a disk holds none: one would lead off the disk); null, after a line for a link.
DIR* openPackageFolder(const std::string& dir, std::string folder) {
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    folder.erase(0, folder.find_first_not_of('/'));
    const int mount =
        ::open(platform::path("/mnt/usb1").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mount < 0) return nullptr;
    const int fd = folder.empty() ? ::dup(mount)
                                  : ::openat(mount, folder.c_str(),
                                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st = {};
    if (fd < 0 && ::fstatat(mount, folder.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
        writeLogMsg(1,
                    ("usb upgrade: " + shownPath(dir) + " is a symbolic link: not read").c_str());
    ::close(mount);
    DIR* d = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!d && fd >= 0) ::close(fd);
    return d;
}

}  // namespace

UsbFileList usbPackageFiles() {
    UsbFileList list;
    // The folder outlives the disk (a failed mount, a program restart): not a disk to read.
    if (!platform::usbDiskMounted()) return list;
    // A network set on a PC link reloads the configuration meanwhile.
    const QString folder = Utils::configValue(&g_usb_grade_path);
    std::string dir = platform::path("/mnt/usb1/" + (folder == " " ? "" : folder.toStdString()));
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    DIR* d = openPackageFolder(dir, folder == " " ? std::string() : folder.toStdString());
    if (!d) return list;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (!upgradeName(name) || !regularFile(dir + "/" + name)) continue;
        if (name.compare(0, 2, "._") == 0)
            ++list.companions;
        else if (list.paths.size() == size_t(kUsbFileMax))
            ++list.past_limit;
        else
            list.paths.push_back(dir + "/" + name);
    }
    ::closedir(d);
    return list;
}

QStringList usbUpgradeFiles(int* left_out) {
    const UsbFileList list = usbPackageFiles();
    QStringList files;
    for (const std::string& path : list.paths) files.append(QFile::decodeName(path.c_str()));
    if (left_out) *left_out = list.past_limit;
    return files;
}

void fpga_manage::get_usb_file_list_path() {
    UsbFileList list = usbPackageFiles();
    usb_file_list = std::move(list.paths);
    usb_file_count = uint32_t(usb_file_list.size());
    usb_left_out = list.past_limit + list.companions;
    for (const std::string& file : usb_file_list) ZEM_DEBUG("\n %s \n", shownPath(file).c_str());
    if (list.past_limit > 0) {
        // Said whatever the trace switch: the files past the limit are never looked at.
        const std::string line = "usb upgrade: " + std::to_string(list.past_limit) +
                                 " files left out, at most " + std::to_string(kUsbFileMax) +
                                 " are read";
        writeLogMsg(2, line.c_str());
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

namespace {

// The box has this child already: publish type 0x80 skips it; a font child while every font
// is there.
bool alreadyThere(fpga_manage& m, const Child& c, bool same_skips)
    EXCLUDES(ZemRamPara::pInstance()->mutex) {
    if (c.type == kApp) return same_skips && std::memcmp(c.version, kAppVersion, 6) == 0;
    if (c.type == kFpga0 || c.type == kFpga1) {
        const int f = c.type == kFpga0 ? 0 : 1;
        return same_skips && bcd(m.mirror(f, 31)) == c.version[0] &&
               bcd(m.mirror(f, 30)) == c.version[1] && bcd(m.mirror(f, 29)) == c.version[2] &&
               m.mirror(f, 28) == c.version[5];
    }
    uint8_t present = 0;
    if (ZemRamPara* s = ZemRamPara::p_zemrampara_config) {
        zem::MutexLocker lock(s->mutex);
        present = s->status[6];
    }
    return (present & 0x3F) == 0x3F;
}

// The child read whole still says what its check saw (the file may have changed meanwhile):
// the place a font goes to, the length of a bitstream.
bool asChecked(const Child& c, const std::vector<uint8_t>& data) {
    if (c.type == kFont) return data[5] <= 1 && fontAddress(data[5], data[18]) == c.font_address;
    if (c.type == kFpga0 || c.type == kFpga1) return le32(data.data() + 31) == c.fpga_len;
    return true;
}

// Reads the child whole, one child in memory at a time, and only then writes it: a disk pulled
// during the read leaves the child's flash or file as it was. The UsbFault, none when installed.
int installChild(fpga_manage& m, const std::string& file, const Child& c) {
    // A firmware child's bytes past its bitstream are never written: not read either.
    const bool firmware = c.type == kFpga0 || c.type == kFpga1;
    std::vector<uint8_t> data(firmware ? kFpgaHeaderSize + c.fpga_len : c.len);
    if (!readAt(file, c.offset, uint32_t(data.size()), data.data())) return kUsbFaultDiskGone;
    if (!asChecked(c, data)) return kUsbFaultDamaged;
    bool ok = false;
    if (c.type == kApp) {
        ok = m.update_muc_file(data);
        if (ok) m.downing_mcu = 1;
    } else if (c.type == kFont) {
        ok = m.update_c331_osd_font_file(data);
        if (ok) m.downing_osd = 1;
    } else {
        const int f = c.type == kFpga0 ? 0 : 1;
        ok = m.update_txc_file(uint8_t(2 + f), data.data() + kFpgaHeaderSize, c.fpga_len);
        if (ok) (f == 0 ? m.downing_txc1 : m.downing_txc2) = 1;
    }
    return ok ? kUsbFaultNone : kUsbFaultWrite;
}

}  // namespace

void fpga_manage::usb_upgrade_main_deal() {
    if (usb_file_count == 0) return;
    downing_mcu = downing_txc1 = downing_txc2 = downing_osd = 0;
    for (uint32_t i = 0; i < usb_file_count && i < uint32_t(usb_file_list.size()); ++i) {
        const std::string& file = usb_file_list[i];
        ZEM_DEBUG("ready to downing file name  %s\n", shownPath(file).c_str());
        Package p;
        Refusal refusal;
        const bool checked = readPackage(file, p, refusal);
        // A file the disk took with it was not read: no fault of the file.
        if (!checked && !fileThere(file)) {
            ++usb_not_read;
            if (usb_fault == kUsbFaultNone) usb_fault = kUsbFaultDiskGone;
            continue;
        }
        ++usb_files_read;
        if (!checked) {
            // Said on the terminal for each: a job reads at most kUsbFileMax files.
            const std::string line = "usb upgrade: " + shownPath(file) + " refused: " + refusal.why;
            writeLogMsg(kLogEachLine, "usb upgrade: package refused", line.c_str());
            ZEM_DEBUG("\n %s \n", line.c_str());
            ++usb_refused;
            if (usb_fault == kUsbFaultNone) usb_fault = refusal.kind;
            continue;
        }
        if (hooks.on_usb_package_checked) hooks.on_usb_package_checked(int(i));
        const bool same_skips = p.publish == 0x80;
        for (const Child& c : p.children) {
            if ((c.type == kFont && !c.font_known) || alreadyThere(*this, c, same_skips)) continue;
            const int fault = installChild(*this, file, c);
            ++(fault == kUsbFaultNone ? usb_installed : usb_failed);
            if (usb_fault == kUsbFaultNone) usb_fault = fault;
        }
        emit usb_upgrade_report::pInstance()->sig_qround_bar_update(
            int(10 + 80 * (i + 1) / usb_file_count));
    }
    ZEM_DEBUG("\n downing_mcu = %#x ,downing_txc1 = %#x ,downing_osd = %#x\n", downing_mcu,
              downing_txc1, downing_osd);
    if (!downing_mcu) {
        if (downing_txc1) reset_fpga_rst(0, "its flash was upgraded");
        if (downing_txc2) reset_fpga_rst(1, "its flash was upgraded");
        c331_manage* c = c331_manage::p_c331_manage;
        if (downing_osd && c) {
            c->read_c331_font(c->fd);
            c->update_font(c->fd);
        }
        return;
    }
    if (g_app_reset_flag) return;
    file_io::installNewProgram();
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
}

bool fpga_manage::update_muc_file(const std::vector<uint8_t>& image) {
    int rc;
    {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        rc = file_io::writeFileAtomic(kNewProgram, image.data(), image.size());
    }
    file_io::syncAndSettle();
    if (rc != 0) {
        report("usb upgrade: the new program could not be written", 1);
        return false;
    }
    std::vector<uint8_t> back(image.size() + 1);
    long n;
    {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        n = file_io::readFileBytes(kNewProgram, back.data(), back.size(),
                                   "the new program is not installed");
    }
    if (n != long(image.size()) || std::memcmp(back.data(), image.data(), image.size()) != 0) {
        report("usb upgrade: the new program reads back different; not installed");
        return false;
    }
    return true;
}

namespace {

// Erases [base + from, base + from + length) in 32 KiB blocks where a whole aligned block
// lies inside, 4 KiB sectors elsewhere; erase(sector, kind) is 0 for done.
template <typename Erase>
bool eraseSpan(uint32_t base, uint32_t length, Erase erase) {
    for (uint32_t b = 0; b < length;) {
        const uint32_t sector = (base + b) / 4096;
        const bool block = sector % 8 == 0 && uint64_t(b) + 32768 <= length;
        if (!erase(sector, block ? 1 : 0)) return false;
        b += block ? 32768 : 4096;
    }
    return true;
}

// Writes length bytes in pieces, reading each back.
template <typename Write, typename Read>
bool copySpan(const uint8_t* data, uint32_t length, uint32_t piece, Write write, Read read) {
    std::vector<uint8_t> back(piece);
    for (uint32_t at = 0; at < length; at += piece) {
        const uint32_t n = std::min(piece, length - at);
        if (!write(at, data + at, n) || !read(at, back.data(), n) ||
            std::memcmp(back.data(), data + at, n) != 0)
            return false;
    }
    return true;
}

}  // namespace

bool fpga_manage::update_txc_file(uint8_t device, const uint8_t* bits, uint32_t length) {
    const bool ok =
        eraseSpan(0, length,
                  [&](uint32_t sector, int kind) {
                      return flash_erase(device, sector, kind, 1) == fpga_drv::kFlashDone;
                  }) &&
        copySpan(
            bits, length, kFpgaPiece,
            [&](uint32_t at, const uint8_t* d, uint32_t n) {
                return flash_write(device, at, d, n) == fpga_drv::kFlashDone;
            },
            [&](uint32_t at, uint8_t* out, uint32_t n) {
                return flash_read(device, at, n, out) == fpga_drv::kFlashDone;
            });
    if (!ok) report("usb upgrade: FPGA firmware not written or reads back different");
    return ok;
}

bool fpga_manage::update_c331_osd_font_file(const std::vector<uint8_t>& font) {
    c331_manage* c = c331_manage::p_c331_manage;
    if (!c || font.size() < kFontHeaderSize || font[5] > 1) return false;
    const uint32_t address = fontAddress(font[5], font[18]);
    const auto length = uint32_t(font.size());
    ZEM_DEBUG("\n osd flash_addr = %#x ,en_coding = %#x file_len = %#x\n", address, font[5],
              length);
    // A font counts as present by its header's type byte: the glyphs go first, then the rest of
    // the header, the type byte last, so a write cut short leaves the font absent.
    const auto copy = [&](uint32_t from, uint32_t n) {
        return copySpan(
            font.data() + from, n, kFontPiece,
            [&](uint32_t at, const uint8_t* d, uint32_t k) {
                return c->write_flash(c->fd, address + from + at, k, d) == 0;
            },
            [&](uint32_t at, uint8_t* out, uint32_t k) {
                return c->read_flash(c->fd, address + from + at, k, out) == 0;
            });
    };
    const bool ok = eraseSpan(address, length,
                              [&](uint32_t sector, int kind) {
                                  return c->erase_flash(c->fd, sector, 1, uint8_t(kind)) == 0;
                              }) &&
                    copy(kFontHeaderSize, length - kFontHeaderSize) &&
                    copy(1, kFontHeaderSize - 1) && copy(0, 1);
    if (!ok) report("usb upgrade: font not written or reads back different");
    return ok;
}
