// The simulated box's control channel: a Unix socket at "<root>/sim/ctl" (local only) through
// which a person, a script (scripts/sim-ctl.sh) or a check from outside works the simulated
// devices and the panel as a test jig works a bench box: plug a USB disk, give an input a
// signal, read an input's EDID EEPROM out, put cards behind a port and set their faults, press
// keys, touch, take a screenshot, start the mailbox jobs, and read one status line per device.
//
// A client connects, sends one command line and reads the answer until the box closes the
// connection: "ok", the status lines, or one line "error: why". Only the program started with
// --sim opens it. A line may start with "@MS ", the boot clock's millisecond by which the
// client stops waiting: the command is then dropped if it has not started by then, and its
// answer starts with a line "taken" once it has.
#pragma once

#include <QObject>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/socket_util.h"
#include "core/thread_safety.h"

class sim_control {
public:
    static sim_control* pInstance();
    static sim_control* p_sim_control;

    // Opens the socket and starts its thread; 0, or 255 when it does not open (said on stderr).
    int open();
    // 0, or 255 after an error on stderr when the socket's path under the root is too long for
    // a Unix socket: checked at start, before the box runs without its channel.
    static int checkSocketPath();
    void stop();  // tests only
    // Stops the channel and releases it (tests only).
    static void shutdown();
    void acceptThread();

    // One command line and its answer (without the final new line).
    std::string execute(const std::string& line);

    // What the USB upgrade last reported, for status (written from the FPGA thread); the
    // recovery's outcome is held by the jobs' events.
    struct JobResults {
        bool upgraded = false;
        int installed = 0, failed = 0, refused = 0, not_read = 0;
    };
    JobResults jobResults() const;

    static constexpr int kLineLimit = 512;

private:
    sim_control();
    // A client whose line the channel's thread reads, until its deadline (boot clock, ms).
    struct Client {
        int fd = -1;
        int64_t line_deadline_ms = 0;
        std::string line;
    };
    static int untilFirstDeadline(const std::vector<Client>& clients);
    void acceptClient(std::vector<Client>& clients);
    void readFrom(Client& c);
    void dropLateClients(std::vector<Client>& clients);
    static void refuseLine(int fd);
    void serve(int fd, std::string line);
    void waitFailed(const char* what, int err);

    int listen_fd_ = -1;
    comm::Waker waker_;
    std::atomic<bool> stopping_{false};
    // The pause after a failed wait, cut short by stop(). It guards no state: stopping_ is atomic,
    // and the lock only keeps a wake from falling between the check and the wait.
    zem::Mutex pause_mutex_;
    zem::ConditionVariable pause_cv_;
    bool failing_ = false;  // the channel's thread's own
    std::thread thread_;
    mutable zem::Mutex results_mutex_;
    JobResults results_ GUARDED_BY(results_mutex_);
    QObject context_;  // of the jobs' connections
};

// The command handlers (sim_control_commands.cpp): the words of a line, the answer.
using SimArgs = std::vector<std::string>;
std::string sim_control_dispatch(const SimArgs& words);
// Runs work on the main (GUI) thread, queued behind what is already waiting there, and returns
// its answer; an error once the panel has not answered for a while (the work is then dropped
// if it has not started), or when the client's deadline passed before its turn.
std::string sim_control_on_panel(const std::function<std::string()>& work);
// On the channel's thread, as a command that runs there starts: false when its client's
// deadline has passed (the command is dropped), else the client is told it is taken.
bool sim_control_take();
// The answer of a command dropped so (which no client reads any more).
constexpr const char* kSimControlDropped = "error: dropped: its client had stopped waiting";
