#include "pc_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "comm/link_session.h"
#include "comm/protocol_phy.h"
#include "time_factor.h"

Bytes hex(const std::string& text) {
    Bytes out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(uint8_t(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const Bytes& b) {
    std::string s;
    char t[4];
    for (uint8_t x : b) {
        std::snprintf(t, sizeof t, "%02x ", x);
        s += t;
    }
    return s;
}

Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
Bytes le16(uint16_t v) {
    return {uint8_t(v), uint8_t(v >> 8)};
}
Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes body(uint8_t cmd, const Bytes& data, uint16_t dest, uint16_t src) {
    Bytes b = cat({le16(dest), le16(src), {0, 0, 0, 0, 0, cmd}, data});
    return b;
}

Bytes wire(const Bytes& b) {
    Bytes with = b;
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    with.push_back(x);
    Bytes out(with.size() * 2 + 4);
    out.resize(protocol_phy::data_re_transf_meaning(out.data(), with.data(), with.size()));
    return out;
}

Bytes writeRam(uint32_t addr, const Bytes& data) {
    return body(0x60, cat({le32(addr), le16(uint16_t(data.size())), {0, 0}, data}));
}
Bytes readRam(uint32_t addr, uint16_t n) {
    return body(0x61, cat({le32(addr), le16(n)}));
}
Bytes writeReg(uint8_t reg, uint8_t mask, const Bytes& values) {
    return body(0xA0, cat({{reg, mask, uint8_t(values.size())}, values}));
}

void ReplyReader::add(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == 0xA5) {
            in_ = true;
            acc_.clear();
            continue;
        }
        if (!in_) continue;
        if (p[i] != 0x5A) {
            acc_.push_back(p[i]);
            continue;
        }
        in_ = false;
        Bytes out(acc_.size());
        const int len = protocol_phy::data_transf_meaning(out.data(), acc_.data(),
                                                          uint32_t(acc_.size()), out.size());
        uint8_t x = 0;
        for (int k = 0; k + 1 < len; ++k) x ^= out[k];
        if (len < 11 || x != out[len - 1]) {
            ++bad;
            continue;
        }
        out.resize(len - 1);
        bodies.push_back(out);
    }
}

bool Link::recv(Bytes& out, int ms) {
    uint8_t buf[65536];
    while (next_ >= reader_.bodies.size()) {
        const int n = readSome(buf, sizeof buf, hangMs(ms));
        if (n <= 0) return false;
        reader_.add(buf, size_t(n));
    }
    out = reader_.bodies[next_++];
    return true;
}

Bytes Link::ask(const Bytes& b, int ms) {
    send(wire(b));
    Bytes out;
    recv(out, ms);
    return out;
}

namespace {
int wait_readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms);
}
sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}
}  // namespace

TcpLink::TcpLink(uint16_t port, const char* from) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(port), own = loopback(0);
    const bool bound = !from || (::inet_pton(AF_INET, from, &own.sin_addr) == 1 &&
                                 ::bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own) == 0);
    if (!bound || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        fd = -1;
    }
}
TcpLink::~TcpLink() {
    if (fd >= 0) ::close(fd);
}
void TcpLink::send(const Bytes& w) {
    size_t done = 0;
    while (done < w.size()) {
        const ssize_t n = ::send(fd, w.data() + done, w.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += size_t(n);
    }
}
int TcpLink::readSome(uint8_t* p, size_t cap, int ms) {
    if (wait_readable(fd, ms) <= 0) return 0;
    return int(::recv(fd, p, cap, 0));
}

UdpLink::UdpLink(uint16_t port, const char* from) : port_(port) {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(0);
    if (from) ::inet_pton(AF_INET, from, &a.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
}
UdpLink::~UdpLink() {
    ::close(fd);
}
void UdpLink::send(const Bytes& w) {
    sockaddr_in a = loopback(port_);
    ::sendto(fd, w.data(), w.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}
int UdpLink::readSome(uint8_t* p, size_t cap, int ms) {
    if (wait_readable(fd, ms) <= 0) return 0;
    return int(::recv(fd, p, cap, 0));
}

PtyLink::PtyLink(const std::string& name) {
    fd = ::open(name.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
}
PtyLink::~PtyLink() {
    if (fd >= 0) ::close(fd);
}
void PtyLink::send(const Bytes& w) {
    size_t done = 0;
    while (done < w.size()) {
        const ssize_t n = ::write(fd, w.data() + done, w.size() - done);
        if (n <= 0) return;
        done += size_t(n);
    }
}
int PtyLink::readSome(uint8_t* p, size_t cap, int ms) {
    if (wait_readable(fd, ms) <= 0) return 0;
    return int(::read(fd, p, cap));
}

Bytes askSessionBusy(link_session& session, const Bytes& body) {
    const Bytes w = wire(body);
    ReplyReader r;
    session.feed(w.data(), w.size(), [&](const uint8_t* p, uint32_t n) { r.add(p, n); });
    return r.bodies.empty() ? Bytes{} : r.bodies.back();
}

Bytes askSession(link_session& session, const Bytes& body) {
    const Bytes reply = askSessionBusy(session, body);
    session.input_drained();
    return reply;
}

std::future<std::vector<Bytes>> sessionSends(std::vector<Bytes> bodies) {
    return std::async(std::launch::async, [bodies] {
        link_session pc(LinkKind::Tcp, "pc");
        std::vector<Bytes> replies;
        for (const Bytes& b : bodies) replies.push_back(askSession(pc, b));
        return replies;
    });
}
