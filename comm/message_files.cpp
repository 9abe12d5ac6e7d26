// PC file transfers (start, data, end with the MD5 check, delete) and the program install.
#include <unistd.h>

#include <QSettings>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "comm/comm_bridge.h"
#include "comm/field_reader.h"
#include "comm/message_deal.h"
#include "comm/pc_update.h"
#include "comm/protocol_phy.h"
#include "core/file_io.h"
#include "core/globals.h"
#include "core/json_files.h"
#include "core/md5.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/box.h"
#include "platform/clock.h"
#include "platform/mtd.h"

using namespace comm;

thread_local LinkId message_deal::calling_link = 0;

namespace {

enum class Sink { File, Mtd, Folder };

struct FileKind {
    char tag[5];
    Sink sink;
    const char* target;  // file, partition, or folder of named files
    uint32_t limit;      // largest accepted file
    bool update;         // a program or kernel: the upgrade overlay shows
};

const FileKind kKinds[] = {
    // The JSON files: a larger one would be written and then never read.
    {"ALIS", Sink::File, "/data/configs/alias.json", kJsonFileMax, false},
    {"OSDS", Sink::File, "/data/configs/omenu.json", kJsonFileMax, false},
    {"LOGO", Sink::Mtd, "/dev/mtd8", 0x60000, false},
    {"FKRN", Sink::Mtd, "/dev/mtd10", 0x500000, true},
    {"FMCU", Sink::File, "/data/app/zemT57N2", kFileBufSize, true},
    {"SMAP", Sink::Folder, "/data/smartmapping/", kFileBufSize, false},  // kind 13
    {"RCVR", Sink::Folder, "/data/rcvrecovery/", kFileBufSize, false},
};
// The per-mode OSD menu copies: "MO" and the mode number 01..10 in hexadecimal.
const FileKind kModeCopy = {"MO", Sink::File, "/data/modes/MO", kJsonFileMax, false};

// A transfer left this long without a piece gives way to another link's start: a PC that
// went away mid-file must not keep the box from taking files.
constexpr uint64_t kAbandonedMs = 10000;

struct Transfer {
    bool active = false;
    const FileKind* kind = nullptr;
    std::string target;
    uint32_t total = 0;
    uint32_t received = 0;
    LinkId link = 0;       // the link that started it (link_session::id)
    uint64_t last_ms = 0;  // its last start or piece
};
Transfer g_transfer GUARDED_BY(message_deal::file_mutex);

// Another link's transfer is under way: this link's start, data or end changes nothing.
bool held_by_other_link(const Transfer& t) {
    return t.active && t.link != message_deal::calling_link;
}

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The atomic writer's half-written file beside its target.
bool partial_file(const std::string& name) {
    static const std::string kSuffix = ".new";
    return name.size() >= kSuffix.size() &&
           name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

std::string folder_of(const std::string& path) {
    return path.substr(0, path.rfind('/') + 1);
}

// The kind and target of a tag (and name); null when the tag, mode number or name is bad.
const FileKind* find_kind(const uint8_t* tag, const std::string& name, std::string& target) {
    if (tag[0] == 'M' && tag[1] == 'O') {
        const int hi = hex_digit(tag[2]), lo = hex_digit(tag[3]);
        const int n = hi < 0 || lo < 0 ? 0 : hi * 16 + lo;
        if (n < 1 || n > ZemRamPara::kModeCount) return nullptr;
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", unsigned(n));
        target = std::string(kModeCopy.target) + digits + ".json";
        return &kModeCopy;
    }
    for (const FileKind& k : kKinds) {
        if (std::memcmp(k.tag, tag, 4) != 0) continue;
        target = k.target;
        if (k.sink == Sink::Folder) {
            if (name.empty() || name.size() > 64 || name == "." || name == ".." ||
                name.find('/') != std::string::npos || name.find("..") != std::string::npos ||
                name.find('\0') != std::string::npos || partial_file(name))
                return nullptr;
            target += name;
        }
        return &k;
    }
    return nullptr;
}

// Writes the buffer beside the target, syncs it and renames it over, so a power cut leaves
// either the old file or the new one.
bool write_file(const std::string& target, const uint8_t* data, uint32_t n) {
    zem::MutexLocker lock(Utils::_file_deal_mutex);
    if (file_io::writeFileAtomic(target, data, n) != 0) return false;
    file_io::syncAndSettle();
    return true;
}

// Written in place: a raw partition can't be renamed over, so a cut write leaves it erased or
// torn. The read-back makes a write the flash did not take fail, as a cut one would.
bool write_mtd(const FileKind& k, const uint8_t* data, uint32_t n) {
    platform::MtdPartition mtd;
    if (mtd.open(k.target) != 0) return false;
    // Erased without unlocking: NAND parts refuse MEMUNLOCK.
    if (Utils::non_region_erase(mtd, 0, k.limit, 0) != 0) return false;
    return Utils::non_region_write(mtd, data, n, 0) == 0 &&
           Utils::non_region_verify(mtd, data, n, 0) == 0;
}

std::string read_name(FieldReader& r) {
    const uint8_t n = r.u8();
    const uint8_t* p = r.bytes(n);
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}

void reboot_request() {
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
}

}  // namespace

int message_deal::write_file_start(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    const uint8_t* tag = r.bytes(4);
    const uint32_t total = r.u32();
    const std::string name = read_name(r);
    if (r.overflow()) return comm_status(buf, kBadLength);
    std::string target;
    const FileKind* kind = find_kind(tag, name, target);
    if (!kind || total == 0 || total > kind->limit) return comm_status(buf, kRefused);
    {
        zem::MutexLocker lock(file_mutex);
        const uint64_t now = platform::nowMs();
        if (held_by_other_link(g_transfer) && now - g_transfer.last_ms < kAbandonedMs)
            return comm_status(buf, kRefused);
        g_transfer = {true, kind, target, total, 0, calling_link, now};
        md5.reset();
    }
    if (kind->update) pc_update::get().begin(calling_link);
    return comm_status(buf, kDone);
}

int message_deal::write_file_data(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    const uint32_t offset = r.u32();
    const uint16_t n = r.u16();
    const uint8_t* data = r.bytes(n);
    if (r.overflow()) return comm_status(buf, kBadLength);
    zem::MutexLocker lock(file_mutex);
    Transfer& t = g_transfer;
    // Pieces come in order; one may be sent again, none may leave a gap or pass the length.
    if (!t.active || held_by_other_link(t) || r.remaining() != 0 || offset > t.received ||
        n > t.total - offset)
        return comm_status(buf, kRefused);
    std::memcpy(fileBuf_ravik + offset, data, n);
    if (offset + n > t.received) t.received = offset + n;
    t.last_ms = platform::nowMs();
    return comm_status(buf, kDone);
}

int message_deal::write_file_end(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    const uint8_t* sum = r.bytes(16);
    zem::MutexLocker lock(file_mutex);
    if (held_by_other_link(g_transfer)) return comm_status(buf, kRefused);
    Transfer t = g_transfer;
    g_transfer.active = false;  // every end closes it: a failed one needs a new start
    if (r.overflow()) return comm_status(buf, kBadLength);
    if (!t.active || t.received != t.total) return comm_status(buf, kRefused);
    md5.reset();
    md5.update(fileBuf_ravik, t.total);
    if (std::memcmp(md5.digest(), sum, 16) != 0) return comm_status(buf, kRefused);
    const bool ok = t.kind->sink == Sink::Mtd ? write_mtd(*t.kind, fileBuf_ravik, t.total)
                                              : write_file(t.target, fileBuf_ravik, t.total);
    lock.unlock();
    if (!ok) {
        writeLogMsg(1, "file transfer: not saved",
                    ("file transfer: " + t.target + " could not be saved").c_str());
        return comm_status(buf, kUnavailable);
    }
    if (ZemRamPara::p_zemrampara_config) ZemRamPara::p_zemrampara_config->test_signal(103);
    if (std::strcmp(t.kind->tag, "SMAP") == 0)
        emit comm_bridge::pInstance()->sig_smartmapping_written();
    return comm_status(buf, kDone);
}

int message_deal::delete_file_name(uint8_t* buf, uint32_t len) {
    FieldReader r(buf + kHeadLen, len - kMinBody);
    const uint8_t* tag = r.bytes(4);
    const std::string name = read_name(r);
    if (r.overflow()) return comm_status(buf, kBadLength);
    std::string target;
    const FileKind* kind = find_kind(tag, name, target);
    if (!kind || kind->sink != Sink::Folder) return comm_status(buf, kRefused);
    int rc;
    {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        rc = std::remove(platform::path(target).c_str());
    }
    if (rc != 0) return comm_status(buf, kRefused);
    Utils::system_mutex("sync");
    emit comm_bridge::pInstance()->sig_file_deleted(std::strcmp(kind->tag, "SMAP") == 0 ? 0 : 1);
    return comm_status(buf, kDone);
}

int message_deal::REG_app_flag(uint8_t value) {
    if (value & 0x01) {
        const std::string image = "/data/app/zemT57N2";
        if (::access(platform::path(image).c_str(), F_OK) != 0) return kRefused;
        file_io::installNewProgram();
        reboot_request();
    }
    if (value & 0x02) reboot_request();
    return kDone;
}

void message_deal::remove_partial_transfers() {
    zem::MutexLocker lock(Utils::_file_deal_mutex);
    // A file of its own name: its ".new" by that name, beside the file written.
    for (const FileKind& k : kKinds)
        if (k.sink == Sink::File) file_io::removeLeftover(k.target);
    for (int n = 1; n <= ZemRamPara::kModeCount; ++n) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", unsigned(n));
        file_io::removeLeftover(std::string(kModeCopy.target) + digits + ".json");
    }
    // A folder of named files: any ".new" there, a name no transfer may take.
    std::set<std::string> folders;
    for (const FileKind& k : kKinds)
        if (k.sink == Sink::Folder) folders.insert(folder_of(k.target));
    for (const std::string& folder : folders) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(platform::path(folder), ec)) {
            if (!e.is_regular_file(ec) || !partial_file(e.path().filename().string())) continue;
            std::filesystem::remove(e.path(), ec);
            const std::string line =
                "partial transfer removed: " + folder + e.path().filename().string();
            writeLogMsg(2, line.c_str());
            ZEM_DEBUG("\n %s \n", line.c_str());
        }
    }
}
