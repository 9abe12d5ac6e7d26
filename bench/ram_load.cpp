// The parameter RAM under PC load, the whole program on the simulated box. Not among the
// benchmarks the tests run: each takes a minute or more.
//
// BM_FortyPcsOnTheParameterRam: 40 TCP clients for ZEM_LOAD_SECONDS (60 by default), each
// mixing brightness applies, pipelined user-mode save requests, recalls, close-LED and LED sizes
// the box refuses, and among them PC tools on UDP that send each frame from a fresh port (a
// save request, then its register 11 from another port of the same address), while a reader
// keeps reading the parameter file and a person works the panel through the control channel
// (pages of the main menu opened and closed, the focus moved, modes recalled through the CALL
// grid). One more UDP address (127.0.0.9, loopback like the rest) leaves a save request of a
// mode of its own just before the load (a new value in a word of its own, then RAM 868, and no
// register 11) and then goes quiet: the box carries it out once that address has been silent
// for 60 s of its tick, so ZEM_LOAD_SECONDS needs to be at least 70 for that to come within the
// load. Reported: the requests answered, the save requests the checked PCs had answered and
// whether their files hold them, whether the quiet address's file holds its value and how
// soon after its request it did, how soon RAM 868 read 0 after the load (the quiet address's
// request open until then counts), the file reads that
// held a size the box refuses (and the files that hold one at the end), the panel's rounds,
// in a ThreadSanitizer build the reports the program wrote (ZEM_PROGRAM is that build's), and in
// a build that measures lock holds (-DZEM_LOCK_HOLDS=ON) the C331 mutex's longest hold and where
// it was taken.
//
// BM_TickDuringRefusedSizeFlood: a PC starts an update and closes, so that the box ends the
// update 10 s of its ticks later, while another floods applies for up to 20 s, each with a
// refused size and a new brightness (a word the box keeps). Reported: the real time that took,
// the tick's rate against real time, and the saves made meanwhile.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_program.h"
#include "core/led_size.h"
#include "pc_frames.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether a file image (`base`: the RAM address of its byte 2) holds an LED set the box drives;
// true for a file too short to hold one.
bool ledSetAllowed(const std::string& file, int base) {
    uint16_t w[5];
    for (int k = 0; k < 5; ++k) {
        const size_t at = size_t(2 + led_size::kRamWords[k] - base);
        if (file.size() < at + 2) return true;
        w[k] = uint16_t(uint8_t(file[at]) | uint8_t(file[at + 1]) << 8);
    }
    return led_size::allowed(w[0], w[1], w[2], w[3], w[4]);
}

std::string modeFile(const std::string& root, int mode) {
    return root + "/data/modes/custom_mode" + std::to_string(mode);
}

// The parameter file and the user-mode files that hold a size the box refuses.
// The user modes the PCs save by request (1..4 shared, 6..16 each checked PC's or address's
// own, below) and the panel recalls: their files hold the box's RAM, so never a refused size;
// the PCs' own slot writes (mode 5) hold whatever the PC wrote.
constexpr int kRequestModes = 4, kSlotWriteModes = 1;

int filesWithRefusedSizes(const std::string& root) {
    int bad = ledSetAllowed(fileText(root + "/data/ram_device_info"), 768) ? 0 : 1;
    for (int m = 1; m <= 16; ++m) {
        if (m > kRequestModes && m <= kRequestModes + kSlotWriteModes) continue;
        const std::string mode = fileText(modeFile(root, m));
        if (!mode.empty() && !ledSetAllowed(mode, 896)) ++bad;
    }
    return bad;
}

// Lines "sync" in the shell's log: one per save.
int syncs(const std::string& root) {
    std::ifstream in(root + "/sim/shell.log");
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line == "sync";
    return n;
}

// The status line of the C331 mutex's holds ("" when the build does not measure them), and its
// longest hold in ms (-1 then).
std::string c331HoldLine(const std::string& root, double& longest_ms) {
    const std::string status = control(root, "status");
    const std::string key = "c331 mutex: longest hold ";
    const size_t at = status.find(key);
    longest_ms = at == std::string::npos ? -1 : std::atof(status.c_str() + at + key.size());
    return at == std::string::npos ? "" : status.substr(at, status.find('\n', at) - at);
}

int tsanReports(const std::string& root) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        if (entry.path().filename().string().rfind("tsan.", 0) != 0) continue;
        const std::string text = fileText(entry.path().string());
        for (size_t at = text.find("WARNING: ThreadSanitizer"); at != std::string::npos;
             at = text.find("WARNING: ThreadSanitizer", at + 1))
            ++n;
    }
    return n;
}

// Save requests are pipelined: 868 = s, register 11, 868 = t, register 11, sent at once. The
// first kCheckedPcs PCs save two modes of their own (8..15), each request after writing a new
// value to a word of their own that the box does not use (saved with the mode), so that each of
// those files must end with the value written before its last answered request. The other PCs
// pipeline on the shared modes. The first kCheckedUdpPcs of the PC tools on UDP save a mode of
// their own (6 and 7) the same way, the others a shared one. The quiet address saves mode 16.
constexpr int kCheckedPcs = 4, kUdpPcs = 4, kCheckedUdpPcs = 2;
constexpr int kFirstUdpMode = kRequestModes + kSlotWriteModes + 1;
constexpr int kFirstOwnMode = kFirstUdpMode + kCheckedUdpPcs;
constexpr int kQuietMode = kFirstOwnMode + 2 * kCheckedPcs;
static_assert(kQuietMode <= 16, "a user mode each");
constexpr uint32_t kSaveRequest = 868, kRecallMode = 866, kModeFirstWord = 896;
// PC c's value at 2880 + 4c, 32 bits, then the checked UDP tools', then the quiet address's
// (RAM 2880.. is not used).
constexpr uint32_t kOwnWords = 2880, kUdpOwnWords = kOwnWords + 4 * kCheckedPcs;
constexpr uint32_t kQuietWord = kUdpOwnWords + 4 * kCheckedUdpPcs;
// The quiet address: a loopback address of its own, so that the other tools' register 11s
// (from 127.0.0.1) are not its own and its silence is its own.
constexpr uint32_t kQuietAddress = 0x7F000009, kQuietValue = 0x51E47ED;

// A checked PC's requests: for each of its modes (a UDP tool's: the first only), the value
// written before its last answered request; -1 before the first, or when a reply never came
// (the file may hold either value).
struct OwnSaves {
    uint32_t word = 0;
    int mode[2] = {};
    int64_t value[2] = {-1, -1};
};

struct Load {
    std::string root;
    int seconds = 0;
    Clock::time_point t0;
    // A recall replaces the RAM the checked PCs' words are in: the PCs' and the panel's recalls
    // hold this alone, so none is answered while a checked PC's requests are under way.
    std::shared_mutex recallGate;
    std::atomic<long> answered{0}, failed{0}, savesPipelined{0};
    std::atomic<long> udpAnswered{0}, udpFailed{0}, udpSaves{0};
    uint16_t udpPort = 0;
    OwnSaves own[kCheckedPcs];
    OwnSaves udpOwn[kCheckedUdpPcs];
    OwnSaves quiet[1];
    Clock::time_point quietAsked;

    bool running() const { return secondsSince(t0) < seconds; }
};

// Whether replies [from, from + n) came, each with status 0.
bool answered0(const std::vector<std::vector<uint8_t>>& replies, size_t from, size_t n) {
    if (replies.size() < from + n) return false;
    for (size_t k = from; k < from + n; ++k)
        if (replies[k].size() <= 10 || replies[k][10] != 0) return false;
    return true;
}

bool ownSaves(int fd, OwnSaves& own, uint32_t step, Load& load) {
    std::vector<std::vector<uint8_t>> frames;
    uint32_t values[2];
    for (int k = 0; k < 2; ++k) {
        values[k] = 2 * step + uint32_t(k);
        frames.push_back(pcWriteRam(own.word, values[k], 4));
        frames.push_back(pcWriteRam16(kSaveRequest, uint16_t(own.mode[k])));
        frames.push_back(pcWriteReg(11, 0));
    }
    std::vector<std::vector<uint8_t>> replies;
    {
        std::shared_lock<std::shared_mutex> noRecall(load.recallGate);
        replies = pcAskPipelined(fd, frames);
    }
    for (int k = 0; k < 2; ++k) {
        const bool answered = answered0(replies, size_t(3 * k), 3);
        own.value[k] = answered ? int64_t(values[k]) : -1;
        load.savesPipelined += answered;
    }
    return answered0(replies, 0, frames.size());
}

bool pipelinedSaves(int fd, int c, long i, Load& load) {
    if (c < kCheckedPcs) return ownSaves(fd, load.own[c], uint32_t(i), load);
    std::vector<std::vector<uint8_t>> frames;
    for (int k = 0; k < 2; ++k) {
        frames.push_back(pcWriteRam16(kSaveRequest, uint16_t(1 + (c + k) % kRequestModes)));
        frames.push_back(pcWriteReg(11, 0));
    }
    const bool answered = answered0(pcAskPipelined(fd, frames), 0, frames.size());
    if (answered) load.savesPipelined += 2;
    return answered;
}

// One PC step of client c's mix: what a PC tool does to the parameter RAM.
bool pcStep(int fd, int c, long i, Load& load) {
    const uint8_t mode = uint8_t(1 + c % kRequestModes);
    switch (i % 7) {
        case 0:
            return pcAsk(fd, pcWriteRam16(2176, uint16_t(i % 101))) && pcAsk(fd, pcWriteReg(11, 0));
        case 1:
            return pipelinedSaves(fd, c, i, load);
        case 2: {
            if (!pcAsk(fd, pcWriteRam16(kRecallMode, mode))) return false;
            std::unique_lock<std::shared_mutex> alone(load.recallGate);
            return pcAsk(fd, pcWriteReg(11, 0x02));
        }
        case 3:
            return pcAsk(fd, pcWriteRam16(2116, uint16_t(i / 6 % 2))) &&
                   pcAsk(fd, pcWriteReg(11, 0));
        case 4:
            return pcAsk(fd, pcWriteRam16(1378, 9000)) && pcAsk(fd, pcWriteReg(11, 0));
        case 5:  // the markers of a slot of its own: saved (as the slot holds it), or deleted
            return pcAsk(fd, pcWriteRam16(uint32_t(kRequestModes + 1 + c % kSlotWriteModes) << 12,
                                          i / 7 % 2 ? 0xAAAA : 0xFFFF));
        default:
            return pcAsk(fd, pcWriteReg(11, 0x04));  // the slots' files synchronised
    }
}

// A UDP socket bound to loopback address `host` (network order) and `port` (0: a free one),
// its receives bounded by 5 s; -1 when it cannot be bound.
int udpSocket(uint32_t host, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = host;
    a.sin_port = port;
    const timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    ::close(fd);
    return -1;
}

uint16_t boundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? a.sin_port : 0;
}

// One frame from a fresh port of loopback address `from` to the program's UDP port: its reply's
// status, -1 when none came within 5 s. The box sends its replies to the broadcast address,
// 127.0.0.1 on the simulated box, at the sender's port: they are read there, from the sender's
// port on 127.0.0.1, which sends too when `from` is 127.0.0.1.
int udpAsk(uint16_t port, const std::vector<uint8_t>& frame, uint32_t from = INADDR_LOOPBACK) {
    const int rx = udpSocket(htonl(INADDR_LOOPBACK), 0);
    const int tx = rx < 0 || from == INADDR_LOOPBACK ? rx : udpSocket(htonl(from), boundPort(rx));
    int status = -1;
    if (tx >= 0) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        ::sendto(tx, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
        protocol_phy framer;
        uint8_t buf[512];
        for (ssize_t n; status < 0 && (n = ::recv(rx, buf, sizeof buf, 0)) > 0;)
            framer.feed(buf, size_t(n), [&](uint8_t* body, uint32_t len) {
                if (len > 10) status = body[10];
            });
    }
    if (tx >= 0 && tx != rx) ::close(tx);
    if (rx >= 0) ::close(rx);
    return status;
}

// A PC tool on UDP's save, each frame from a fresh port: a save request (of its own mode after
// a new value in its own word, when checked), then register 11 whatever the request's answer,
// so that no request waits for a register 11 that never comes.
bool udpSave(int u, long i, Load& load) {
    const auto ask = [&](const std::vector<uint8_t>& frame) {
        return udpAsk(load.udpPort, frame) == 0;
    };
    if (u >= kCheckedUdpPcs) {
        const bool request = ask(pcWriteRam16(kSaveRequest, uint16_t(1 + (u + i) % kRequestModes)));
        return ask(pcWriteReg(11, 0)) && request;
    }
    OwnSaves& own = load.udpOwn[u];
    const uint32_t value = uint32_t(i);
    std::shared_lock<std::shared_mutex> noRecall(load.recallGate);
    const bool written = ask(pcWriteRam(own.word, value, 4));
    const bool request = ask(pcWriteRam16(kSaveRequest, uint16_t(own.mode[0])));
    const bool answered = ask(pcWriteReg(11, 0)) && request && written;
    own.value[0] = answered ? int64_t(value) : -1;
    load.udpSaves += answered;
    return answered;
}

// The quiet address's request, before the load: its value, then RAM 868 = its mode, each from a
// fresh port, and no register 11. Left before any shared mode is saved (on the fresh root), so
// that every shared mode saved after it holds the value and no recall takes it out of the RAM
// before the box carries the request out at the address's silence.
void quietRequest(Load& load) {
    const auto ask = [&](const std::vector<uint8_t>& frame) {
        return udpAsk(load.udpPort, frame, kQuietAddress) == 0;
    };
    OwnSaves& quiet = load.quiet[0];
    load.quietAsked = Clock::now();
    const bool written = ask(pcWriteRam(quiet.word, kQuietValue, 4));
    const bool request = written && ask(pcWriteRam16(kSaveRequest, uint16_t(quiet.mode[0])));
    quiet.value[0] = request ? int64_t(kQuietValue) : -1;
}

// One step of UDP tool u's mix: a save, a brightness applied, or a poll of RAM 868.
bool udpStep(int u, long i, Load& load) {
    switch (i % 3) {
        case 0:
            return udpSave(u, i, load);
        case 1:
            return udpAsk(load.udpPort, pcWriteRam16(2176, uint16_t(i % 101))) == 0 &&
                   udpAsk(load.udpPort, pcWriteReg(11, 0)) == 0;
        default:
            return udpAsk(load.udpPort, pcReadRam16(kSaveRequest)) == 0;
    }
}

// Seconds from the end of the load until RAM 868 read 0 (every save request answered has
// ended); -1 when it did not within 120 s.
double secondsUntilSavesEnded(const std::string& root) {
    const int fd = connectPc(root);
    const Clock::time_point t0 = Clock::now();
    double took = -1;
    while (fd >= 0 && took < 0 && secondsSince(t0) < 120) {
        const auto reply = pcAskPipelined(fd, {pcReadRam16(kSaveRequest)});
        if (answered0(reply, 0, 1) && reply[0].size() > 12 && !reply[0][11] && !reply[0][12])
            took = secondsSince(t0);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (fd >= 0) ::close(fd);
    return took;
}

// Whether the mode's file is marked saved and holds `value` at RAM word `word` (32 bits).
bool fileHolds(const std::string& root, int mode, uint32_t word, int64_t value) {
    const std::string file = fileText(modeFile(root, mode));
    const size_t at = 2 + word - kModeFirstWord;
    if (file.size() < at + 4 || uint8_t(file[0]) != 0xAA || uint8_t(file[1]) != 0xAA) return false;
    uint32_t held = 0;
    for (int b = 0; b < 4; ++b) held |= uint32_t(uint8_t(file[at + size_t(b)])) << (8 * b);
    return held == value;
}

// The checked PCs' answered requests whose mode file holds the value written before them
// (carried out), and those whose file does not (lost).
template <size_t N>
void checkOwnSaves(const Load& load, const OwnSaves (&pcs)[N], long& carried, long& lost) {
    for (const OwnSaves& own : pcs)
        for (int k = 0; k < 2; ++k)
            if (own.value[k] >= 0)
                ++(fileHolds(load.root, own.mode[k], own.word, own.value[k]) ? carried : lost);
}

// The panel's side: a person's keys and touches through the control channel.
struct Touch {
    int x, y;
};
constexpr Touch kMenuPages[] = {{103, 87}, {218, 87}, {218, 172}};  // state, inputs, options
constexpr Touch kTools{305, 225}, kCallGrid{305, 143};

Touch gridCell(int slot) {
    return {51 + 63 * (slot % 4), 59 + 45 * (slot / 4)};
}

std::string touchLine(Touch t) {
    return "touch " + std::to_string(t.x) + " " + std::to_string(t.y);
}

struct PanelCounts {
    long rounds = 0, recalls = 0, refused = 0, homeLost = 0;
};

// Back until the home page is in front (a tip drops keys while it shows); false when it is not
// within 60 s.
bool panelHome(const std::string& root) {
    const Clock::time_point t0 = Clock::now();
    while (control(root, "status").find("\npage: 0 ") == std::string::npos) {
        if (secondsSince(t0) > 60) return false;
        control(root, "key Back");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// One round from the home page: a page of the main menu opened with the focus moved, then, every
// second round, a recall of a shared mode through the CALL grid, the recall gate held until the
// recall is carried out; false when the panel did not get home.
bool panelRound(Load& load, long n, PanelCounts& counts) {
    auto say = [&](const std::string& line) {
        if (control(load.root, line) != "ok\n") ++counts.refused;
    };
    for (const char* key : {"key OK", "key Left", "key Right"}) say(key);
    say(touchLine(kMenuPages[n % 3]));
    if (!panelHome(load.root)) return false;
    if (n % 2) return true;
    {
        // Held until the cell's touch is carried out, not through the check-mark tip's 3 s:
        // the PCs' saves would wait on the tip, not on the box.
        std::unique_lock<std::shared_mutex> alone(load.recallGate);
        say("key OK");
        for (Touch t : {kTools, kCallGrid, gridCell(int(n / 2 % kRequestModes))}) say(touchLine(t));
    }
    ++counts.recalls;
    return panelHome(load.root);
}

void BM_FortyPcsOnTheParameterRam(benchmark::State& state) {
    const char* env = std::getenv("ZEM_LOAD_SECONDS");
    const int seconds = env ? std::atoi(env) : 60;
    // A ThreadSanitizer build writes its reports to files of their own, counted at the end.
    char logs[] = "/tmp/zem-bench-tsan-XXXXXX";
    const bool logged = ::mkdtemp(logs) != nullptr;
    if (logged) {
        const char* before = std::getenv("TSAN_OPTIONS");
        const std::string options =
            std::string(before ? before : "") + " log_path=" + logs + "/tsan";
        setenv("TSAN_OPTIONS", options.c_str(), 1);
    }
    BenchBox box;
    const std::string why = box.start("ram-load", 300, true);
    for (auto _ : state) {
        if (!why.empty()) {
            state.SkipWithError(why.c_str());
            break;
        }
        Load load;
        load.root = box.root;
        load.seconds = seconds;
        for (int c = 0; c < kCheckedPcs; ++c) {
            load.own[c].word = kOwnWords + 4 * uint32_t(c);
            load.own[c].mode[0] = kFirstOwnMode + 2 * c;
            load.own[c].mode[1] = kFirstOwnMode + 2 * c + 1;
        }
        for (int u = 0; u < kCheckedUdpPcs; ++u) {
            load.udpOwn[u].word = kUdpOwnWords + 4 * uint32_t(u);
            load.udpOwn[u].mode[0] = kFirstUdpMode + u;
        }
        load.quiet[0].word = kQuietWord;
        load.quiet[0].mode[0] = kQuietMode;
        load.udpPort = linkPort(box.root, "udp");
        if (!load.udpPort) std::fprintf(stderr, "the program's UDP port is not open: no UDP PCs\n");
        if (load.udpPort) quietRequest(load);
        // When the quiet address's file first held its value: its request carried out.
        std::atomic<double> quietLanded{-1};
        std::atomic<bool> quietWatched{false};
        std::thread quietWatch([&] {
            while (load.quiet[0].value[0] >= 0 && !quietWatched) {
                if (fileHolds(box.root, kQuietMode, kQuietWord, kQuietValue)) {
                    quietLanded = secondsSince(load.quietAsked);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::atomic<long> reads{0}, refusedReads{0};
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            while (!stop) {
                ++reads;
                if (!ledSetAllowed(fileText(box.root + "/data/ram_device_info"), 768))
                    ++refusedReads;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        load.t0 = Clock::now();
        PanelCounts panel;
        std::thread person([&] {
            for (long n = 0; load.running(); ++n, ++panel.rounds)
                if (!panelRound(load, n, panel)) {
                    ++panel.homeLost;  // the grid may be open: no more touches
                    break;
                }
        });
        std::vector<std::thread> pcs;
        for (int c = 0; c < 40; ++c) {
            pcs.emplace_back([&, c] {
                const int fd = connectPc(box.root);
                for (long i = c; fd >= 0 && load.running(); ++i)
                    (pcStep(fd, c, i, load) ? load.answered : load.failed)++;
                if (fd >= 0) ::close(fd);
            });
        }
        for (int u = 0; load.udpPort && u < kUdpPcs; ++u) {
            pcs.emplace_back([&, u] {
                for (long i = u; load.running(); ++i) {
                    (udpStep(u, i, load) ? load.udpAnswered : load.udpFailed)++;
                    // A tool's pause between its commands: its saves hold the recall gate,
                    // which the TCP PCs' and the panel's recalls must also get.
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
        }
        for (std::thread& t : pcs) t.join();
        person.join();
        stop = true;
        reader.join();
        state.counters["requests_answered"] = double(load.answered.load());
        state.counters["requests_failed"] = double(load.failed.load());
        state.counters["save_requests_pipelined"] = double(load.savesPipelined.load());
        state.counters["udp_port_open"] = load.udpPort ? 1 : 0;
        state.counters["udp_steps_answered"] = double(load.udpAnswered.load());
        state.counters["udp_steps_failed"] = double(load.udpFailed.load());
        state.counters["udp_checked_saves_answered"] = double(load.udpSaves.load());
        state.counters["ram868_zero_after_s"] = secondsUntilSavesEnded(box.root);
        long carried = 0, lost = 0, udpCarried = 0, udpLost = 0, quietCarried = 0, quietLost = 0;
        checkOwnSaves(load, load.own, carried, lost);
        checkOwnSaves(load, load.udpOwn, udpCarried, udpLost);
        // Read as 868 read 0: the quiet address's file must hold its value by then.
        checkOwnSaves(load, load.quiet, quietCarried, quietLost);
        quietWatched = true;
        quietWatch.join();
        state.counters["quiet_request_answered"] = load.quiet[0].value[0] >= 0 ? 1 : 0;
        state.counters["quiet_request_carried_out"] = double(quietCarried);
        // Seconds from its request until its file held the value; -1 when it never did.
        state.counters["quiet_request_landed_s"] = quietLanded.load();
        state.counters["checked_saves_carried_out"] = double(carried);
        state.counters["checked_saves_lost"] = double(lost);
        state.counters["udp_checked_saves_carried_out"] = double(udpCarried);
        state.counters["udp_checked_saves_lost"] = double(udpLost);
        state.counters["file_reads"] = double(reads.load());
        state.counters["file_reads_with_refused_size"] = double(refusedReads.load());
        state.counters["panel_rounds"] = double(panel.rounds);
        state.counters["panel_recalls"] = double(panel.recalls);
        state.counters["panel_commands_refused"] = double(panel.refused);
        state.counters["panel_home_lost"] = double(panel.homeLost);
        state.counters["panel_answers"] = panelAnswers(box.root) ? 1 : 0;
        double longest_ms = -1;
        const std::string holds = c331HoldLine(box.root, longest_ms);
        state.counters["c331_longest_hold_ms"] = longest_ms;
        if (!holds.empty()) std::fprintf(stderr, "%s\n", holds.c_str());
        std::this_thread::sleep_for(std::chrono::seconds(2));  // the last saves
        state.counters["files_with_refused_size"] = filesWithRefusedSizes(box.root);
    }
    if (logged) {
        const int reports = tsanReports(logs);
        state.counters["tsan_reports"] = reports;
        std::error_code ec;
        if (reports == 0)
            std::filesystem::remove_all(logs, ec);
        else
            std::fprintf(stderr, "ThreadSanitizer's reports are kept in %s\n", logs);
    }
}
BENCHMARK(BM_FortyPcsOnTheParameterRam)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

bool updateOverlayShown(const std::string& root) {
    return control(root, "status").find("\npop-up: FirmwareUpdate") != std::string::npos;
}

void BM_TickDuringRefusedSizeFlood(benchmark::State& state) {
    BenchBox box;
    const std::string why = box.start("tick-flood");
    for (auto _ : state) {
        if (!why.empty()) {
            state.SkipWithError(why.c_str());
            break;
        }
        const int starter = connectPc(box.root);
        if (starter < 0 || !pcAsk(starter, pcWriteReg(9, 16))) {
            state.SkipWithError("the update did not start");
            break;
        }
        while (!updateOverlayShown(box.root))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int syncsBefore = syncs(box.root);
        std::atomic<bool> ended{false};
        long refusals = 0;
        std::thread flood([&] {
            const int fd = connectPc(box.root);
            const Clock::time_point t0 = Clock::now();
            for (uint16_t w = 9000; fd >= 0 && !ended && secondsSince(t0) < 20; ++w) {
                // A refused width and a slider's step: each apply changes a word the box keeps.
                if (!pcAsk(fd, pcWriteRam16(1378, w)) || !pcAsk(fd, pcWriteRam16(2176, w % 101)) ||
                    !pcAsk(fd, pcWriteReg(11, 0)))
                    break;
                ++refusals;
            }
            if (fd >= 0) ::close(fd);
        });
        ::close(starter);  // the box ends the update 10 s of ticks from here
        const Clock::time_point closed = Clock::now();
        while (updateOverlayShown(box.root) && secondsSince(closed) < 120)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const double took = secondsSince(closed);
        ended = true;
        flood.join();
        state.counters["update_end_s"] = took;
        state.counters["tick_rate"] = 10.0 / took;
        state.counters["refusals"] = double(refusals);
        state.counters["saves"] = syncs(box.root) - syncsBefore;
        state.counters["files_with_refused_size"] = filesWithRefusedSizes(box.root);
    }
}
BENCHMARK(BM_TickDuringRefusedSizeFlood)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
