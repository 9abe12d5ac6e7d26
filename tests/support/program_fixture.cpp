#include "program_fixture.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "local_command.h"
#include "platform/box.h"
#include "sim_fixture.h"

using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

namespace {

// A free TCP port held for the box until TearDown: the socket stays bound, not listening, so
// that no bind to port 0 elsewhere on this machine (the server of a test run beside) is given
// the port before the box listens on it, or while it restarts. The box's bind, with
// SO_REUSEADDR as this one, shares it. -1 when none was had.
int holdFreeTcpPort(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

bool eventually(const std::function<bool()>& check, seconds limit) {
    const auto end = Clock::now() + hangBound(limit);
    while (Clock::now() < end) {
        if (check()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // unscaled: a pause
    }
    return check();
}

std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeBytes(const std::string& file, const Bytes& bytes) {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

uint8_t status(const Bytes& reply) {
    return reply.size() > 10 ? reply[10] : 0xEE;
}

void Program::SetUp() {
    root_ = makeTempDir(rootTag_);
    ASSERT_FALSE(root_.empty());
    port_hold_ = holdFreeTcpPort(port_);
    ASSERT_GE(port_hold_, 0) << std::strerror(errno);
    // A box whose PC port is held for it on this machine; every other setting takes its default.
    platform::makeDirs(root_ + "/data/configs");  // as the box makes its folders
    std::ofstream(root_ + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << port_ << "\n";
    start();
}

void Program::start() {
    int pipe_ends[2] = {-1, -1};
    if (consoleToPipe_) {
        ASSERT_EQ(::pipe2(pipe_ends, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(stop_reading_, O_CLOEXEC), 0);
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The root's tcpip.ini names a free port: an offset exported for a second box would
        // move it.
        ::unsetenv("ZEM_SIM_PORT_OFFSET");
        if (stdoutFd_ >= 0) {
            if (::dup2(stdoutFd_, STDOUT_FILENO) < 0) ::_exit(127);
        } else if (consoleToPipe_) {
            if (::dup2(pipe_ends[1], STDOUT_FILENO) < 0) ::_exit(127);
        } else if (!std::freopen((root_ + "/console.log").c_str(), "w", stdout)) {
            ::_exit(127);
        }
        if (ignoreHangUp_) ::signal(SIGHUP, SIG_IGN);
        if (umask_ >= 0) ::umask(mode_t(umask_));
        if (stderrToFile_) {
            ::unsetenv("XDG_RUNTIME_DIR");
            if (!std::freopen((root_ + "/errors.log").c_str(), "w", stderr)) ::_exit(127);
        } else if (stderrFd_ >= 0) {
            if (::dup2(stderrFd_, STDERR_FILENO) < 0) ::_exit(127);
            // The sanitizers' reports are not the program's output: they go to files beside
            // (sanitizerReports), not to a terminal that takes no more.
            for (const char* name : {"TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
                const char* before = std::getenv(name);
                const std::string options =
                    (before ? std::string(before) + " " : "") + "log_path=" + root_ + "/sanitizer";
                ::setenv(name, options.c_str(), 1);
            }
        }
        const std::string root = relativeRoot_ ? "./" + root_.substr(root_.rfind('/') + 1) : root_;
        if (relativeRoot_ && ::chdir(root_.substr(0, root_.rfind('/')).c_str()) != 0) ::_exit(127);
        const char* argv[] = {ZEM_PROGRAM_COMMAND, "--sim", root.c_str(), nullptr};
        ::execv(argv[0], const_cast<char**>(argv));
        ::_exit(127);
    }
    ASSERT_GT(pid_, 0);
    if (consoleToPipe_) {
        ::close(pipe_ends[1]);
        console_pipe_ = pipe_ends[0];
        console_reader_ = std::thread(&Program::readConsole, this);
    }
}

void Program::readConsole() {
    std::ofstream log(root_ + "/console.log", std::ios::binary | std::ios::app);
    char buf[4096];
    // bounded: the console's end or the stop pipe ends it; the fixture's stop writes that.
    for (;;) {
        pollfd p[2] = {{console_pipe_, POLLIN, 0}, {stop_reading_[0], POLLIN, 0}};
        // unscaled: the stop pipe ends the wait.
        if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
        if (p[1].revents) return;
        if (!p[0].revents) continue;
        const ssize_t n = ::read(console_pipe_, buf, sizeof buf);
        if (n <= 0) return;
        log.write(buf, n);
        log.flush();
    }
}

void Program::stopReadingConsole() {
    ASSERT_TRUE(console_reader_.joinable());
    ASSERT_EQ(::write(stop_reading_[1], "x", 1), 1);
    console_reader_.join();
    // A writer of its own (opening the pipe anew), so that the program's end keeps its flags.
    const int fill = ::open(("/proc/self/fd/" + std::to_string(console_pipe_)).c_str(),
                            O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fill, 0) << std::strerror(errno);
    const std::string block(4096, '.');
    for (size_t size : {block.size(), size_t(1)})
        while (::write(fill, block.data(), size) > 0) {
        }
    EXPECT_EQ(errno, EAGAIN);
    ::close(fill);
}

void Program::readConsoleAgain() {
    ASSERT_FALSE(console_reader_.joinable());
    char byte = 0;
    ASSERT_EQ(::read(stop_reading_[0], &byte, 1), 1);  // the stop readConsole took
    console_reader_ = std::thread(&Program::readConsole, this);
}

int Program::fullPipe() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
    full_pipes_.insert(full_pipes_.end(), {ends[0], ends[1]});
    // Filled through a descriptor of its own: the program's keeps its flags (no O_NONBLOCK).
    const int fill = ::open(("/proc/self/fd/" + std::to_string(ends[1])).c_str(),
                            O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const std::string block(4096, '.');
    for (size_t size : {block.size(), size_t(1)})
        while (::write(fill, block.data(), size) > 0) {
        }
    ::close(fill);
    return ends[1];
}

void Program::holdPanel(const std::function<std::string(const std::string&)>& send) {
    const std::string fifo = root_ + "/sim/shots/held.png";
    std::filesystem::create_directories(root_ + "/sim/shots");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    panel_fifo_ = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(panel_fifo_, 0) << std::strerror(errno);
    ASSERT_GE(::fcntl(panel_fifo_, F_SETPIPE_SZ, 4096), 0);  // a panel's picture is larger
    const std::string line = "screenshot /sim/shots/held.png";
    panel_holder_ =
        std::thread([this, send, line] { panel_hold_answer_ = send ? send(line) : ctl(line); });
    // Its first bytes: the panel's thread is in the screenshot, which ends only when read.
    pollfd p{panel_fifo_, POLLIN, 0};
    const bool began = ::poll(&p, 1, hangMs(60000)) == 1;
    panel_holder_.join();
    ASSERT_TRUE(began) << "the screenshot never began: " << panel_hold_answer_;
}

void Program::releasePanel() {
    if (panel_fifo_ < 0) return;
    ::fcntl(panel_fifo_, F_SETFL, 0);
    char buf[4096];
    while (::read(panel_fifo_, buf, sizeof buf) > 0) {
    }
    ::close(std::exchange(panel_fifo_, -1));
}

void Program::TearDown() {
    stop(SIGKILL);
    releasePanel();
    for (int fd : full_pipes_) ::close(fd);
    full_pipes_.clear();
    if (port_hold_ >= 0) ::close(std::exchange(port_hold_, -1));
    if (console_reader_.joinable()) {
        if (::write(stop_reading_[1], "x", 1) != 1) ADD_FAILURE() << "console reader not stopped";
        console_reader_.join();
    }
    for (int* fd : {&console_pipe_, &stop_reading_[0], &stop_reading_[1]})
        if (*fd >= 0) ::close(std::exchange(*fd, -1));
    keepRootIfFailed(root_);
}

void Program::stop(int sig) {
    if (pid_ > 0) {
        ::kill(pid_, sig);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

void Program::restart(int sig) {
    stop(sig);
    // The console of the first run stays beside the new one.
    std::error_code ignored;
    std::filesystem::rename(root_ + "/console.log", root_ + "/console-before-restart.log", ignored);
    start();
}

bool Program::running() {
    return ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

std::string scriptOutput(const std::string& script, const std::string& args) {
    return commandOutput(std::string(ZEM_SOURCE_DIR "/scripts/") + script + " " + args);
}

std::string programCommand() {
    std::string command;
    for (const char* word : {ZEM_PROGRAM_COMMAND}) command += std::string(" '") + word + "'";
    return command;
}

CommandResult programRun(const std::string& root, const std::string& env) {
    const std::string limit = std::to_string(hangSeconds(120));
    return commandResult("env -u ZEM_SIM_PORT_OFFSET QT_QPA_PLATFORM=offscreen " + env +
                         " timeout " + limit + programCommand() + " --sim '" + root +
                         "' </dev/null");
}

std::string Program::readyLine() const {
    return scriptOutput("sim-ready.sh", root_ + " " + std::to_string(pid_));
}

std::string Program::console() const {
    return slurp(root_ + "/console.log");
}

std::string Program::sanitizerReports() const {
    std::string reports;
    for (const auto& entry : std::filesystem::directory_iterator(root_))
        if (entry.path().filename().string().rfind("sanitizer", 0) == 0)
            reports += slurp(entry.path().string());
    return reports;
}

std::string Program::errors() const {
    return slurp(root_ + "/errors.log");
}

std::string Program::output() const {
    const std::string reports = sanitizerReports();
    return "console:\n" + console() + (stderrToFile_ ? "\nterminal:\n" + errors() : "") +
           (reports.empty() ? "" : "\nsanitizer:\n" + reports);
}

int Program::ctlConnection(bool wait) const {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string path = root_ + "/sim/ctl";
    if (path.size() >= sizeof a.sun_path) return -1;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    if (!wait) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string Program::ctl(const std::string& line) const {
    const int fd = ctlConnection(true);
    if (fd < 0) return "";
    std::string answer;
    const std::string out = line + "\n";
    if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == ssize_t(out.size())) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, size_t(n));
    }
    ::close(fd);
    return answer;
}

std::unique_ptr<TcpLink> Program::connectPc(std::chrono::seconds limit) const {
    std::unique_ptr<TcpLink> pc;
    const bool up = eventually(
        [&] {
            pc = std::make_unique<TcpLink>(port_);
            return pc->fd >= 0;
        },
        limit);
    return up ? std::move(pc) : nullptr;
}

bool Program::ctlReady() const {
    return eventually([&] { return ctl("status").rfind("fpga thread: ", 0) == 0; }, seconds(60));
}

bool Program::usbMounted() const {
    return eventually(
        [&] { return statusLine("usb disk: ").find("mounted at /mnt/usb1") != std::string::npos; },
        seconds(20));
}

bool Program::fpgaReady() const {
    return ctlReady() &&
           eventually([&] { return statusLine("fpga thread: ") == "fpga thread: ready"; },
                      seconds(60));
}

bool Program::chipsRunning() const {
    return fpgaReady() &&
           eventually([&] { return statusLine("c331: ") == "c331: running"; }, seconds(60));
}

bool Program::settled() const {
    return chipsRunning() && !screenshot("settled").empty();
}

bool Program::ctlOk(const std::string& line) const {
    return eventually([&] { return ctl(line) == "ok\n"; }, seconds(60));
}

std::string Program::statusLine(const std::string& prefix) const {
    std::istringstream in(ctl("status"));
    for (std::string l; std::getline(in, l);)
        if (l.rfind(prefix, 0) == 0) return l;
    return "";
}

void Program::shot(const std::string& state) const {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string png = screenshot(state);
    ASSERT_FALSE(png.empty()) << state;
    std::filesystem::create_directories(ZEM_SCREENSHOT_DIR);
    std::ofstream(std::string(ZEM_SCREENSHOT_DIR) + "/" + info->test_suite_name() + "." +
                      info->name() + "-" + state + ".png",
                  std::ios::binary)
        << png;
}

std::string Program::screenshot(const std::string& name) const {
    const std::string file = "/sim/shots/" + name + ".png";
    if (ctl("screenshot " + file) != "ok\n") return "";
    return slurp(root_ + file);
}
