// File transfers over two links at once: each input is a sequence of steps (start, data, end
// with the right or a raw digest, delete), each step on the serial or the TCP link, sent as
// checked frames so that every step reaches the transfer's handlers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "comm/link_session.h"
#include "common/fuzz_box.h"
#include "core/md5.h"

namespace {

// The kinds the box knows, and one it does not.
const char* const kTags[] = {"ALIS", "OSDS", "MO01", "MO10", "MO11", "LOGO",
                             "FKRN", "FMCU", "SMAP", "RCVR", "XXXX"};
const char* const kNames[] = {"a.b", "qzfile", "QZFX", "..", ".", "x/y", "n.new", ""};

class Input {
public:
    Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    bool more() const { return at_ < n_; }
    uint8_t u8() { return at_ < n_ ? d_[at_++] : 0; }
    uint16_t u16() { return uint16_t(u8() | u8() << 8); }
    std::string bytes(size_t n) {
        std::string s;
        while (n-- && at_ < n_) s.push_back(char(d_[at_++]));
        return s;
    }

private:
    const uint8_t* d_;
    size_t n_;
    size_t at_ = 0;
};

// What the PC on one link believes it is sending: the file's bytes so far.
struct Pc {
    link_session link;
    std::string file;
    Pc(LinkKind kind, const char* peer) : link(kind, peer) {}
    void send(uint8_t cmd, const std::string& data) {
        const std::string wire =
            fuzz::boxFrame(cmd, reinterpret_cast<const uint8_t*>(data.data()), data.size());
        link.feed(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(),
                  [](const uint8_t*, uint32_t) {});
    }
};

std::string le32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string named(Input& in) {
    const uint8_t pick = in.u8();
    std::string name = pick & 0x80 ? in.bytes(pick & 0x3F) : kNames[pick % 8];
    return std::string(1, char(name.size())) + name;
}

void start(Pc& pc, Input& in) {
    const std::string tag = kTags[in.u8() % (sizeof kTags / sizeof kTags[0])];
    const uint32_t size = in.u16() % 2048 + (in.u8() == 0xFF ? 0x600000u : 0u);
    pc.file.assign(size < 0x10000 ? size : 0, '\0');
    pc.send(0x80, tag + le32(size) + named(in));
}

void data(Pc& pc, Input& in) {
    const uint32_t off = in.u16() % 2100;
    const std::string piece = in.bytes(in.u8() * 4u);
    if (off < pc.file.size()) {
        const size_t n = std::min(piece.size(), pc.file.size() - off);
        pc.file.replace(off, n, piece, 0, n);
    }
    std::string body = le32(off);
    body.push_back(char(piece.size()));
    body.push_back(char(piece.size() >> 8));
    pc.send(0x81, body + piece);
}

void end(Pc& pc, Input& in) {
    const uint8_t how = in.u8();
    std::string digest;
    if (how & 1) {
        MD5 m;
        m.update(pc.file.data(), unsigned(pc.file.size()));
        digest.assign(reinterpret_cast<const char*>(m.digest()), 16);
    } else {
        digest = in.bytes(how >> 3);  // short and raw digests too
    }
    pc.send(0x82, digest);
}

void erase(Pc& pc, Input& in) {
    pc.send(0x83, std::string(in.u8() & 1 ? "SMAP" : "RCVR") + named(in));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data_in, size_t size) {
    fuzz::startBox();
    static Pc* pcs[2] = {new Pc(LinkKind::Uart, "fuzz-uart"), new Pc(LinkKind::Tcp, "fuzz-tcp")};
    Input in(data_in, size);
    for (int steps = 0; in.more() && steps < 64; ++steps) {
        const uint8_t op = in.u8();
        Pc& pc = *pcs[op & 1];
        switch ((op >> 1) % 4) {
            case 0:
                start(pc, in);
                break;
            case 1:
                data(pc, in);
                break;
            case 2:
                end(pc, in);
                break;
            default:
                erase(pc, in);
                break;
        }
    }
    return 0;
}
