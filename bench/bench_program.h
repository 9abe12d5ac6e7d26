// The whole program as a child process on the simulated box with its own root, for the
// benchmarks that measure it from outside.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "comm/protocol_phy.h"
#include "tests/support/loopback_connect.h"

// Started with "--sim root", its console discarded; its ports moved up by `portOffset`
// (ZEM_SIM_PORT_OFFSET) when not 0.
inline pid_t startProgram(const std::string& root, int portOffset = 0) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (portOffset) setenv("ZEM_SIM_PORT_OFFSET", std::to_string(portOffset).c_str(), 1);
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        execl(ZEM_PROGRAM, ZEM_PROGRAM, "--sim", root.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// The port of the program's link ("tcp", "udp") from "<root>/sim/links"; 0 when it is not
// listening.
inline uint16_t linkPort(const std::string& root, const std::string& which) {
    std::ifstream in(root + "/sim/links");
    std::string link, port;
    while (in >> link >> port)
        if (link == which && port != "none") return uint16_t(std::stoi(port));
    return 0;
}
inline uint16_t tcpPort(const std::string& root) {
    return linkPort(root, "tcp");
}

// A free TCP port on loopback, written to the root's settings as the program's PC port (less
// the offset its ports are moved up by).
inline bool choosePcPort(const std::string& root, int portOffset = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    ::close(fd);
    if (!bound || ntohs(a.sin_port) <= portOffset) return false;
    std::filesystem::create_directories(root + "/data/configs");
    std::ofstream(root + "/data/configs/tcpip.ini")
        << "[config]\nTcpPort=" << ntohs(a.sin_port) - portOffset << "\n";
    return true;
}

inline bool udpPortFree(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return free;
}

// An offset that moves the program's UDP ports (5008, and 13769 of the WiFi text) to ports
// free now, clear of another box on this machine; 0 when none was found.
inline int freeUdpPortOffset() {
    std::random_device random;
    for (int tries = 0; tries < 100; ++tries) {
        const int offset = 100 + int(random() % 20000);
        if (udpPortFree(5008 + offset) && udpPortFree(13769 + offset)) return offset;
    }
    return 0;
}

// The control channel's answer to one command line ("" when the channel is not open).
inline std::string control(const std::string& root, const std::string& line) {
    const std::string file = root + "/sim/ctl";
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (file.size() >= sizeof a.sun_path) return "";
    std::memcpy(a.sun_path, file.c_str(), file.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return "";
    }
    const std::string ask = line + "\n";
    std::string answer;
    if (::send(fd, ask.data(), ask.size(), MSG_NOSIGNAL) == ssize_t(ask.size())) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, size_t(n));
    }
    ::close(fd);
    return answer;
}

// The panel answered: the page in front is in the status (the channel gives up on a panel
// that keeps it waiting for 10 s).
inline bool panelAnswers(const std::string& root) {
    return control(root, "status").find("\npage: 0 ") != std::string::npos;
}

// A PC's connection to the program's TCP port, its replies awaited 30 s at most; -1 when the
// program does not listen.
inline int connectPc(const std::string& root) {
    const uint16_t port = tcpPort(root);
    const int fd = port ? connectLoopback(port) : -1;
    if (fd >= 0) {
        const timeval tv{30, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    return fd;
}

// Sends one frame and waits for its reply's end byte (0x5A, which no escaped body holds);
// false when the link failed.
inline bool pcAsk(int fd, const std::vector<uint8_t>& frame) {
    if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size())) return false;
    uint8_t reply[512];
    for (;;) {
        const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
        if (n <= 0) return false;
        if (std::memchr(reply, 0x5A, size_t(n))) return true;
    }
}

// Sends the frames back to back, without waiting for a reply in between, then reads their
// replies; each reply's unescaped body (status at 10, data from 11) in the order sent, fewer
// than the frames when the link failed.
inline std::vector<std::vector<uint8_t>> pcAskPipelined(
    int fd, const std::vector<std::vector<uint8_t>>& frames) {
    std::vector<uint8_t> wire;
    for (const auto& f : frames) wire.insert(wire.end(), f.begin(), f.end());
    std::vector<std::vector<uint8_t>> replies;
    if (::send(fd, wire.data(), wire.size(), MSG_NOSIGNAL) != ssize_t(wire.size())) return replies;
    protocol_phy framer;
    uint8_t buf[512];
    while (replies.size() < frames.size()) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        framer.feed(buf, size_t(n),
                    [&](uint8_t* body, uint32_t len) { replies.emplace_back(body, body + len); });
    }
    return replies;
}

// Whether every reply came, each with status 0.
inline bool allAnswered0(const std::vector<std::vector<uint8_t>>& replies, size_t asked) {
    if (replies.size() != asked) return false;
    for (const auto& r : replies)
        if (r.size() <= 10 || r[10] != 0) return false;
    return true;
}

// The program on a fresh temporary root with a free PC port, once its TCP server listens and
// its panel answers: what the benchmarks that drive it from outside start with. The program is
// killed and its root removed at the end.
struct BenchBox {
    std::string root;
    pid_t pid = -1;

    // Empty when it started; else why not. `startup_s` bounds the start (sanitizer builds start
    // slowly). With `udp`, its UDP ports are moved to free ones, so that PCs on UDP reach it
    // whatever other box runs here.
    std::string start(const std::string& name, int startup_s = 60, bool udp = false) {
        const char* tmp = std::getenv("TMPDIR");
        root = std::string(tmp && *tmp ? tmp : "/tmp") + "/zem-bench-" + name + "-XXXXXX";
        const int offset = udp ? freeUdpPortOffset() : 0;
        if (udp && !offset) return "no free UDP ports";
        if (!::mkdtemp(root.data()) || !choosePcPort(root, offset)) return "no temporary root";
        pid = startProgram(root, offset);
        // Start-up: the settling sleep, the chips' bring-up, the first light-up.
        for (int waited = 0; !tcpPort(root) || !panelAnswers(root); ++waited) {
            if (waited >= 2 * startup_s) return "the program did not start";
            ::usleep(500 * 1000);
        }
        ::sleep(3);
        return "";
    }
    ~BenchBox() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        std::error_code ec;
        if (!root.empty()) std::filesystem::remove_all(root, ec);
    }
};
