// A PC on the other end of a link: frame builders and clients that speak the wire protocol
// to the box over loopback TCP, UDP or a pseudo-terminal.
#pragma once

#include <cstdint>
#include <future>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& text);  // "a5 5a" or "a55a"
std::string toHex(const Bytes& b);

// A box-command body: destination 0xF100, source 0xF010, then cmd and data; no check byte.
Bytes body(uint8_t cmd, const Bytes& data, uint16_t dest = 0xF100, uint16_t src = 0xF010);
// The wire frame of a body (check byte appended, escaped, start and end bytes).
Bytes wire(const Bytes& body);
Bytes le32(uint32_t v);
Bytes le16(uint16_t v);
Bytes cat(std::initializer_list<Bytes> parts);
Bytes text(const std::string& s);  // its bytes, no terminator
// The box's status block, a RAM read that any link answers at once.
constexpr uint32_t kStatusBlock = 0x600880;

// A write-RAM and read-RAM body.
Bytes writeRam(uint32_t addr, const Bytes& data);
Bytes readRam(uint32_t addr, uint16_t n);
Bytes writeReg(uint8_t reg, uint8_t mask, const Bytes& values);

// Collects the replies of a link: unescaped, checked bodies (check byte removed).
class ReplyReader {
public:
    // Adds received bytes; returns the complete bodies so far.
    void add(const uint8_t* p, size_t n);
    std::vector<Bytes> bodies;
    int bad = 0;  // replies that failed their own check

private:
    Bytes acc_;
    bool in_ = false;
};

class link_session;
// A body through a link session, as a transport hands it the bytes, and then finds nothing
// more waiting (the PC waits for its reply): the last reply body (empty where none came).
Bytes askSession(link_session& session, const Bytes& body);
// The same, with more input still waiting: the session is not told it drained.
Bytes askSessionBusy(link_session& session, const Bytes& body);

// A PC on a link session of its own, with no socket, sends these bodies in turn on its own
// thread: the last reply body of each (empty where none came).
std::future<std::vector<Bytes>> sessionSends(std::vector<Bytes> bodies);

// A client over one transport; recv waits up to ms (scaled by the time factor of
// time_factor.h) for one reply body.
class Link {
public:
    virtual ~Link() = default;
    virtual void send(const Bytes& wire) = 0;
    // The next reply body, or false after ms without one.
    bool recv(Bytes& out, int ms = 10000);
    // Sends a body and waits for its reply body.
    Bytes ask(const Bytes& body, int ms = 10000);
    // Replies dropped so far because their check byte was wrong.
    int badReplies() const { return reader_.bad; }

protected:
    virtual int readSome(uint8_t* p, size_t cap, int ms) = 0;
    ReplyReader reader_;
    size_t next_ = 0;
};

class TcpLink : public Link {
public:
    // From `from`, a loopback address ("127.0.0.2"), when given: the box tells PCs apart by it.
    explicit TcpLink(uint16_t port, const char* from = nullptr);
    ~TcpLink() override;
    void send(const Bytes& wire) override;
    int fd = -1;

protected:
    int readSome(uint8_t* p, size_t cap, int ms) override;
};

// Sends datagrams to the box's UDP port; listens on its own port for the (broadcast) replies.
// From `from`, a loopback address ("127.0.0.2"), when given: the replies go to 127.0.0.1 only,
// so such a PC hears none.
class UdpLink : public Link {
public:
    explicit UdpLink(uint16_t port, const char* from = nullptr);
    ~UdpLink() override;
    void send(const Bytes& wire) override;
    int fd = -1;
    uint16_t port_;

protected:
    int readSome(uint8_t* p, size_t cap, int ms) override;
};

class PtyLink : public Link {
public:
    explicit PtyLink(const std::string& name);
    ~PtyLink() override;
    void send(const Bytes& wire) override;
    int fd = -1;

protected:
    int readSome(uint8_t* p, size_t cap, int ms) override;
};
