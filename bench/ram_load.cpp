// The parameter RAM under PC load, the whole program on the simulated box. Not among the
// benchmarks the tests run: each takes a minute or more.
//
// BM_FortyPcsOnTheParameterRam: 40 TCP clients for ZEM_LOAD_SECONDS (60 by default), each
// mixing brightness applies, user-mode saves and recalls, close-LED and LED sizes the box
// refuses, while a reader keeps reading the parameter file. Reported: the requests answered,
// the file reads that held a size the box refuses (and the files that hold one at the end),
// and, in a ThreadSanitizer build, the reports the program wrote (ZEM_PROGRAM is that build's).
//
// BM_TickDuringRefusedSizeFlood: a PC starts an update and closes, so that the box ends the
// update 10 s of its ticks later, while another floods applies for up to 20 s, each with a
// refused size and a new brightness (a word the box keeps). Reported: the real time that took,
// the tick's rate against real time, and the saves made meanwhile.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
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

// The parameter file and the user-mode files that hold a size the box refuses.
// The user modes the PCs save by request (1..4): their files hold the box's RAM, so never a
// refused size; the PCs' own slot writes (modes 5..8) hold whatever the PC wrote.
constexpr int kRequestModes = 4;

int filesWithRefusedSizes(const std::string& root) {
    int bad = ledSetAllowed(fileText(root + "/data/ram_device_info"), 768) ? 0 : 1;
    for (int m = 1; m <= kRequestModes; ++m) {
        const std::string mode = fileText(root + "/data/modes/custom_mode" + std::to_string(m));
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

// One PC step of client c's mix: what a PC tool does to the parameter RAM.
bool pcStep(int fd, int c, long i) {
    const uint8_t mode = uint8_t(1 + c % kRequestModes);
    switch (i % 7) {
        case 0:
            return pcAsk(fd, pcWriteRam16(2176, uint16_t(i % 101))) && pcAsk(fd, pcWriteReg(11, 0));
        case 1:
            return pcAsk(fd, pcWriteRam16(868, mode)) && pcAsk(fd, pcWriteReg(11, 0));
        case 2:
            return pcAsk(fd, pcWriteRam16(866, mode)) && pcAsk(fd, pcWriteReg(11, 0x02));
        case 3:
            return pcAsk(fd, pcWriteRam16(2116, uint16_t(i / 6 % 2))) &&
                   pcAsk(fd, pcWriteReg(11, 0));
        case 4:
            return pcAsk(fd, pcWriteRam16(1378, 9000)) && pcAsk(fd, pcWriteReg(11, 0));
        case 5:  // the markers of a slot of its own: saved (as the slot holds it), or deleted
            return pcAsk(fd, pcWriteRam16(uint32_t(mode + kRequestModes) << 12,
                                          i / 7 % 2 ? 0xAAAA : 0xFFFF));
        default:
            return pcAsk(fd, pcWriteReg(11, 0x04));  // the slots' files synchronised
    }
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
    const std::string why = box.start("ram-load", 300);
    for (auto _ : state) {
        if (!why.empty()) {
            state.SkipWithError(why.c_str());
            break;
        }
        std::atomic<long> answered{0}, failed{0}, reads{0}, refusedReads{0};
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            while (!stop) {
                ++reads;
                if (!ledSetAllowed(fileText(box.root + "/data/ram_device_info"), 768))
                    ++refusedReads;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        std::vector<std::thread> pcs;
        const Clock::time_point t0 = Clock::now();
        for (int c = 0; c < 40; ++c) {
            pcs.emplace_back([&, c] {
                const int fd = connectPc(box.root);
                for (long i = c; fd >= 0 && secondsSince(t0) < seconds; ++i)
                    (pcStep(fd, c, i) ? answered : failed)++;
                if (fd >= 0) ::close(fd);
            });
        }
        for (std::thread& t : pcs) t.join();
        stop = true;
        reader.join();
        state.counters["requests_answered"] = double(answered.load());
        state.counters["requests_failed"] = double(failed.load());
        state.counters["file_reads"] = double(reads.load());
        state.counters["file_reads_with_refused_size"] = double(refusedReads.load());
        state.counters["panel_answers"] = panelAnswers(box.root) ? 1 : 0;
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
