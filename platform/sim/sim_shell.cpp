#include "platform/sim/sim_shell.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/box.h"
#include "platform/own_files.h"
#include "platform/sim/sim_box.h"

namespace platform::sim {
namespace fs = std::filesystem;
namespace {

std::vector<std::string> words(const std::string& cmd) {
    std::istringstream in(cmd);
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        // Output redirections change nothing the program relies on.
        if (w == "2>&1" || w.rfind(">/dev/null", 0) == 0 || w.rfind("&>/dev/null", 0) == 0 ||
            w.rfind("2>/dev/null", 0) == 0)
            continue;
        out.push_back(w);
    }
    return out;
}

// A program path as a path under the root, or empty when it could leave the root.
std::string inRoot(const std::string& p) {
    if (p.empty() || p[0] != '/' || p.find("..") != std::string::npos) return {};
    return path(p);
}

bool hasShellSyntax(const std::string& cmd) {
    return cmd.find_first_of(";|`$<") != std::string::npos || cmd.find("&&") != std::string::npos;
}

// Splits "cp -rf a b" into options and operands.
void split(const std::vector<std::string>& w, std::string& opts, std::vector<std::string>& args) {
    for (size_t i = 1; i < w.size(); ++i) {
        if (w[i].size() > 1 && w[i][0] == '-')
            opts += w[i].substr(1);
        else
            args.push_back(w[i]);
    }
}

int copyOrMove(bool move, const std::vector<std::string>& args) {
    if (args.size() != 2) return 1;
    const std::string from = inRoot(args[0]);
    std::string to = inRoot(args[1]);
    if (from.empty() || to.empty() || !fs::exists(from)) return 1;
    if (fs::is_directory(to)) to = (fs::path(to) / fs::path(from).filename()).string();
    // A copy would read or write through a link at either end; a move renames the link itself.
    if (!move && (!mayRead(from, "nothing is copied") || refuseLink(to))) return 1;
    std::error_code ec;
    if (move) {
        fs::rename(from, to, ec);
    } else {
        fs::copy(from, to, fs::copy_options::overwrite_existing | fs::copy_options::recursive, ec);
    }
    return ec ? 1 : 0;
}

int remove(const std::string& opts, const std::vector<std::string>& args) {
    const bool force = opts.find('f') != std::string::npos;
    int rc = 0;
    for (const auto& a : args) {
        const std::string p = inRoot(a);
        std::error_code ec;
        if (p.empty() || (!fs::exists(p) && !force)) {
            rc = 1;
            continue;
        }
        if (opts.find('r') != std::string::npos)
            fs::remove_all(p, ec);
        else
            fs::remove(p, ec);
        if (ec) rc = 1;
    }
    return rc;
}

int makeDirs(const std::vector<std::string>& args) {
    int rc = 0;
    for (const auto& a : args) {
        const std::string p = inRoot(a);
        if (p.empty() || platform::makeDirs(p) != 0) rc = 1;
    }
    return rc;
}

// "mount DEVICE DIR" and "umount [-l] DIR" of the simulated USB disk.
int mountEffect(const std::string& command, const std::vector<std::string>& args) {
    SimUsbDisk& disk = SimBox::get().usb_disk;
    if (command == "mount" && args.size() == 2) return disk.mount(args[0], args[1]);
    if (command == "umount" && args.size() == 1) return disk.unmount(args[0]);
    return -1;
}

// The file effects the program relies on, carried out inside the root; -1 when the command
// has none.
int fileEffect(const std::string& cmd) {
    if (hasShellSyntax(cmd)) return -1;
    const auto w = words(cmd);
    if (w.empty()) return -1;
    std::string opts;
    std::vector<std::string> args;
    split(w, opts, args);
    if (w[0] == "cp") return copyOrMove(false, args);
    if (w[0] == "mv") return copyOrMove(true, args);
    if (w[0] == "rm") return remove(opts, args);
    if (w[0] == "mkdir") return makeDirs(args);
    return mountEffect(w[0], args);
}

void appendLog(const std::string& cmd) {
    if (root().empty()) return;
    const std::string log = path("/sim/shell.log");
    if (refuseLink(log)) return;
    makeParentDirs("/sim/shell.log");
    std::ofstream(log, std::ios::app) << cmd << '\n';
}

}  // namespace

void SimShell::waitIfHeld(zem::MutexLocker& lock, const std::string& cmd) {
    if (hold_prefix_.empty() || cmd.rfind(hold_prefix_, 0) != 0) return;
    ++held_;
    held_cv_.notify_all();
    held_cv_.wait_for(lock, std::chrono::seconds(30),
                      [this]() REQUIRES(mutex_) { return hold_prefix_.empty(); });
    --held_;
}

void SimShell::hold(const std::string& prefix) {
    zem::MutexLocker lock(mutex_);
    hold_prefix_ = prefix;
}

void SimShell::release() {
    zem::MutexLocker lock(mutex_);
    hold_prefix_.clear();
    held_cv_.notify_all();
}

bool SimShell::waitHeld(int ms) {
    zem::MutexLocker lock(mutex_);
    return held_cv_.wait_for(lock, std::chrono::milliseconds(ms),
                             [this]() REQUIRES(mutex_) { return held_ > 0; });
}

SimShell::Reply SimShell::handle(const std::string& cmd) {
    Reply reply{0, {}};
    bool answered = false;
    {
        zem::MutexLocker lock(mutex_);
        commands_.push(cmd);
        size_t best = 0;
        for (const auto& [prefix, r] : answers_) {
            if (cmd.rfind(prefix, 0) == 0 && prefix.size() >= best) {
                best = prefix.size();
                reply = r;
                answered = true;
            }
        }
        appendLog(cmd);
        waitIfHeld(lock, cmd);
    }
    if (!answered) {
        const int rc = fileEffect(cmd);
        if (rc > 0) reply.exit_code = rc;
    }
    return reply;
}

int SimShell::run(const std::string& cmd) {
    return handle(cmd).exit_code << 8;
}

int SimShell::capture(const std::string& cmd, std::string& out) {
    Reply r = handle(cmd);
    out = r.output;
    return r.exit_code << 8;
}

std::vector<std::string> SimShell::commands() const {
    zem::MutexLocker lock(mutex_);
    return commands_.snapshot();
}

void SimShell::clear() {
    zem::MutexLocker lock(mutex_);
    commands_.clear();
}

void SimShell::answer(const std::string& prefix, int exit_code, const std::string& output) {
    zem::MutexLocker lock(mutex_);
    answers_[prefix] = Reply{exit_code, output};
}

std::unique_ptr<Shell> makeSimShell() {
    return std::make_unique<SimShell>();
}

SimShell& simShell() {
    return static_cast<SimShell&>(shell());
}

}  // namespace platform::sim
