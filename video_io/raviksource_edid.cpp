// The inputs' EDIDs: the EEPROM of each input is rewritten from its EDID request in the
// parameter RAM or from a table the PC uploaded, and the source is then made to read it again
// by a pulse of the input's hot-plug line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/box.h"
#include "platform/clock.h"
#include "platform/own_files.h"
#include "platform/sim/sim_receivers.h"
#include "video_io/edid.h"
#include "video_io/raviksource.h"

namespace {

using platform::sim::kEdidEepromAddr;

constexpr size_t kEepromSize = 256;
constexpr size_t kEepromPage = 8;  // bytes one write may hold without wrapping
constexpr int kEepromWriteMs = 5;  // write cycle after each page
constexpr size_t kReadChunk = 32;
constexpr uint64_t kHotPlugLowMs = 200;  // long enough for every source to notice
constexpr int kRefused = 1;              // a request that no EDID can answer

// Reads an uploaded table by its program path: at most one byte more than the EEPROM holds, so
// a larger file is seen as too large without being read whole. False when it is missing.
bool readFile(const std::string& absolute, std::vector<uint8_t>& out) {
    zem::MutexLocker lock(Utils::_file_deal_mutex);
    const std::string local = platform::path(absolute);
    if (!platform::mayRead(local, "no uploaded EDID table is used")) return false;
    std::ifstream in(local, std::ios::binary);
    if (!in) return false;
    out.resize(kEepromSize + 1);
    in.read(reinterpret_cast<char*>(out.data()), std::streamsize(out.size()));
    out.resize(size_t(in.gcount()));
    return true;
}

// A line a PC or the panel can make the box say again and again: told by its kind, a line a
// minute at most.
template <typename... Args>
void sayByKind(LogKind kind, const char* format, Args... args) {
    char line[160];
    std::snprintf(line, sizeof line, format, args...);
    writeLogMsg(1, kind, line);
}

bool validTable(const std::vector<uint8_t>& t) {
    return t.size() <= kEepromSize && edid::valid(t.data(), t.size());
}

}  // namespace

std::string raviksource::edid_table_path(int source) {
    return "/data/edidramtable/edid" + std::to_string(source) + ".bin";
}

int raviksource::edid_table_uploaded(int source) {
    if (source < 0 || source >= kSources) return -1;
    std::vector<uint8_t> table;
    if (!readFile(edid_table_path(source), table) || !validTable(table)) {
        sayByKind("EDID: uploaded table refused",
                  "source %d: uploaded EDID refused (size %zu or check byte wrong)", source,
                  table.size());
        return -1;
    }
    // The C331 apply turns a waiting table into a rewrite request.
    zem::MutexLocker lock(c331_mutex());
    edid_ram_table_from[source] = 1;
    raise_c331_apply();
    return 0;
}

void raviksource::queueUploadedTables() {
    for (int s = 0; s < kSources; ++s) {
        std::vector<uint8_t> table;
        if (readFile(edid_table_path(s), table)) edid_table_uploaded(s);
    }
}

int raviksource::readEeprom(int s, std::vector<uint8_t>& data, size_t& len) {
    data.assign(kEepromSize, 0);
    len = 0;
    for (size_t off = 0; off < kEepromSize; off += kReadChunk) {
        const int rc = bus_->readRegs(uint8_t(kEdidEepromAddr + s), uint8_t(off), data.data() + off,
                                      kReadChunk);
        if (rc != 0) return rc;
    }
    const size_t n = edid::kBlockSize * (1 + data[126]);
    if (n <= kEepromSize && edid::valid(data.data(), n)) len = n;
    return 0;
}

void raviksource::checkEeproms() {
    if (!bus_) return;
    for (int s = 0; s < kSources; ++s) {
        std::vector<uint8_t> data;
        size_t len = 0;
        const int rc = readEeprom(s, data, len);
        if (rc != 0) console::errf("source %d: EDID EEPROM not read (%d)\n", s, rc);
        setStatusBit(1, uint8_t(1u << s), len > 0);
    }
    setStatusBit(0, kStatusCheckPending, false);
    eeproms_checked_ = true;
}

void raviksource::edidPass() {
    for (int s = 0; s < kSources; ++s) {
        hotPlugPass(s);
        if (edid_rewrite[s].load() != 1) continue;
        if (edid_written[s].load() == 0) {
            setStatusBit(0, uint8_t(1u << s), true);
            if (rewriteEdid(s) == kRefused) setStatusBit(0, uint8_t(1u << s), false);
            continue;  // a written EDID is announced on the next pass
        }
        // Written: announce it by pulling the hot-plug line low for a while.
        bool announce = false;
        {
            zem::MutexLocker lock(c331_mutex());
            if (edid_rewrite[s].load() == 1 && edid_written[s].load() == 1) {
                zem::MutexLocker sys(Utils::_system_mutex);
                edid_rewrite[s] = 0;
                announce = true;
            }
        }
        if (!announce) continue;
        setStatusBit(0, uint8_t(1u << s), false);
        if (bus_ && ReceiverLink::setHotPlug(*bus_, s, false) == 0) {
            hpd_low_since_ms_[s] = platform::nowMs() + 1;  // 0 means not low
        }
    }
}

void raviksource::hotPlugPass(int s) {
    if (hpd_low_since_ms_[s] == 0 || platform::nowMs() + 1 - hpd_low_since_ms_[s] < kHotPlugLowMs) {
        return;
    }
    if (bus_ && ReceiverLink::setHotPlug(*bus_, s, true) == 0) hpd_low_since_ms_[s] = 0;
}

// The EDID for source s: the uploaded table while one waits, else one built from the RAM
// request (returned in req). kRefused when neither gives a valid EDID.
int raviksource::edidFor(int s, std::vector<uint8_t>& data, bool& from_table, uint16_t* req) {
    from_table = edid_ram_table_from[s].load() != 0;
    if (from_table) {
        if (readFile(edid_table_path(s), data) && validTable(data)) return 0;
        sayByKind("EDID: uploaded table refused when written",
                  "source %d: uploaded EDID refused, nothing written", s);
        return kRefused;
    }
    {
        zem::MutexLocker lock(c331_mutex());
        for (int i = 0; i < 3; ++i) req[i] = para_->rd16(kEdidRequestRam + 6 * s + 2 * i);
    }
    data = edid::build(req[0], req[1], req[2]);  // the RAM words are unsigned
    if (!data.empty()) return 0;
    sayByKind("EDID: request refused", "source %d: no EDID describes %ux%u at %u Hz", s,
              unsigned(req[0]), unsigned(req[1]), unsigned(req[2]));
    return kRefused;
}

// A refused request goes back to what the input announces (the defaults when its EEPROM holds no
// EDID), so that a PC reading the request back sees the refusal, and nothing impossible is kept
// or saved. A newer request that came in meanwhile is left for the next pass.
void raviksource::putBackRequest(int s, const uint16_t* refused) {
    std::vector<uint8_t> data;
    size_t len = 0;
    int mode[3] = {};
    uint16_t back[3];
    const int base = kEdidRequestRam + 6 * s;
    const bool announced = readEeprom(s, data, len) == 0 && len > 0 &&
                           edid::requestOf(data.data(), len, mode[0], mode[1], mode[2]);
    for (int i = 0; i < 3; ++i)
        back[i] = announced ? uint16_t(mode[i]) : default_ram16(base + 2 * i);
    {
        zem::MutexLocker lock(c331_mutex());
        for (int i = 0; i < 3; ++i) {
            if (para_->rd16(base + 2 * i) != refused[i]) return;
        }
        c331_manage* chip = c331_manage::p_c331_manage;
        for (int i = 0; i < 3; ++i) {
            para_->wr16_no_gen_bump(base + 2 * i, back[i]);
            // Already in effect: the apply must not take it for a new request.
            if (chip) chip->take_as_applied16(base + 2 * i);
        }
    }
    sayByKind("EDID: request put back", "source %d: EDID request put back to %ux%u at %u Hz", s,
              unsigned(back[0]), unsigned(back[1]), unsigned(back[2]));
    para_->test_signal(1);  // saved again, without the refused values
}

int raviksource::rewriteEdid(int s) {
    if (!para_ || !bus_) return -ENODEV;
    std::vector<uint8_t> data;
    bool from_table = false;
    uint16_t req[3] = {};
    int rc = edidFor(s, data, from_table, req);
    if (rc == kRefused) {
        {
            zem::MutexLocker lock(c331_mutex());
            if (from_table) edid_ram_table_from[s] = 0;
            edid_rewrite[s] = 0;
        }
        if (!from_table) putBackRequest(s, req);
    }
    if (rc != 0) return rc;
    rc = writeEeprom(s, data);
    setStatusBit(1, uint8_t(1u << s), rc == 0);
    if (rc != 0) {
        if (!edid_error_logged_[s]) {
            console::errf("source %d: EDID EEPROM write failed (%d), tried again\n", s, rc);
        }
        edid_error_logged_[s] = true;
        return rc;
    }
    edid_error_logged_[s] = false;
    // Marked written only when no newer request or table came in during the write; else the
    // next pass writes again.
    std::vector<uint8_t> table_now;
    const bool table_same =
        from_table && readFile(edid_table_path(s), table_now) && table_now == data;
    bool confirmed = false;
    {
        zem::MutexLocker lock(c331_mutex());
        if (from_table) {
            confirmed = table_same;
            if (confirmed) edid_ram_table_from[s] = 0;
        } else {
            confirmed = edid_ram_table_from[s].load() == 0;
            for (int i = 0; i < 3; ++i) {
                confirmed = confirmed && para_->rd16(kEdidRequestRam + 6 * s + 2 * i) == req[i];
            }
        }
        if (confirmed) edid_written[s] = 1;
    }
    if (table_same) {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        std::remove(platform::path(edid_table_path(s)).c_str());  // consumed
    }
    return 0;
}

int raviksource::writeEeprom(int s, const std::vector<uint8_t>& data) {
    const uint8_t addr = uint8_t(kEdidEepromAddr + s);
    for (size_t off = 0; off < data.size(); off += kEepromPage) {
        const size_t n = std::min(kEepromPage, data.size() - off);
        const int rc = bus_->writeRegs(addr, uint8_t(off), data.data() + off, n);
        if (rc != 0) return rc;
        platform::sleepMs(kEepromWriteMs);
    }
    std::vector<uint8_t> back(data.size());
    for (size_t off = 0; off < data.size(); off += kReadChunk) {
        const size_t n = std::min(kReadChunk, data.size() - off);
        const int rc = bus_->readRegs(addr, uint8_t(off), back.data() + off, n);
        if (rc != 0) return rc;
    }
    return back == data ? 0 : -EIO;
}
