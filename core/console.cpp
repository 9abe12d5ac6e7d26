#include "core/console.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/thread_name.h"

namespace {

// What the thread takes from the queue for one write: fewer system calls for a dump's many
// small texts, and a reader sees a whole line when it is one.
constexpr size_t kBatchBytes = 16 * 1024;

uint64_t linesOf(const std::string& text) {
    return std::max<uint64_t>(1, uint64_t(std::count(text.begin(), text.end(), '\n')));
}

// A text of a batch: where it ends in the batch, and the lines a count line tells of.
struct Piece {
    size_t end;
    uint64_t tells;
};

// The lines of the texts a failed write left unwritten from `written` on (a count line: the
// lines it told of; a text cut short: the lines of its rest).
uint64_t linesLost(const std::string& batch, const std::vector<Piece>& pieces, size_t written) {
    uint64_t lost = 0;
    size_t start = 0;
    for (const Piece& p : pieces) {
        if (p.end > written) {
            const size_t from = std::max(start, written);
            lost += p.tells ? p.tells : linesOf(batch.substr(from, p.end - from));
        }
        start = p.end;
    }
    return lost;
}

// Waits until fd takes more (or fails: the next write says how).
void waitUntilWritable(int fd) {
    pollfd writable{fd, POLLOUT, 0};
    while (::poll(&writable, 1, -1) < 0 && errno == EINTR) {
    }
}

// The bytes written: all unless the descriptor fails (a reader that closed its end: EPIPE, the
// signal blocked on this thread). A descriptor the starter made non-blocking is waited for.
size_t writeAll(int fd, const std::string& data, const std::function<void()>& before_wait) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (before_wait) before_wait();
            waitUntilWritable(fd);
            continue;
        }
        if (n <= 0) break;
        done += size_t(n);
    }
    return done;
}

}  // namespace

ConsoleWriter::ConsoleWriter(int fd, const char* name, size_t maxTexts, size_t maxBytes)
    : fd_(fd), name_(name), max_texts_(maxTexts), max_bytes_(maxBytes) {
    // The thread takes no signal: a process-directed one goes to a thread that runs its handler
    // (ThreadSanitizer runs it only once a blocked write returns), and SIGPIPE becomes EPIPE.
    sigset_t all, before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &before);
    thread_ = std::thread([this] { run(); });
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    platform::nameThread(thread_, name);
}

ConsoleWriter::~ConsoleWriter() {
    {
        zem::MutexLocker lock(mutex_);
        ending_ = true;
    }
    work_cv_.notify_one();
    thread_.join();
}

void ConsoleWriter::write(std::string text) {
    if (text.empty()) return;
    {
        zem::MutexLocker lock(mutex_);
        if (texts_ >= max_texts_ || (texts_ > 0 && bytes_ + text.size() > max_bytes_)) {
            left_out_ += linesOf(text);
            return;
        }
        if (left_out_) queueLeftOutLine();
        texts_ += 1;
        bytes_ += text.size();
        lines_ += linesOf(text);
        ++queued_;
        queue_.push_back({std::move(text)});
    }
    work_cv_.notify_one();
}

void ConsoleWriter::queueLeftOutLine() {
    std::string text = std::string(name_) + " took no more: " + std::to_string(left_out_) +
                       (left_out_ == 1 ? " line" : " lines") + " left out\n";
    texts_ += 1;
    bytes_ += text.size();
    lines_ += 1;
    ++queued_;
    queue_.push_back({std::move(text), left_out_});
    left_out_ = 0;
}

bool ConsoleWriter::flush(std::chrono::steady_clock::time_point deadline) {
    zem::MutexLocker lock(mutex_);
    const uint64_t target = queued_;
    return written_cv_.wait_until(lock, deadline,
                                  [&]() REQUIRES(mutex_) { return written_ >= target; });
}

uint64_t ConsoleWriter::linesWaiting() const {
    zem::MutexLocker lock(mutex_);
    return lines_ + left_out_;
}

void ConsoleWriter::run() {
    zem::MutexLocker lock(mutex_);
    for (;;) {
        work_cv_.wait(lock, [this]() REQUIRES(mutex_) { return !queue_.empty() || ending_; });
        if (queue_.empty()) return;
        // Still counted against the bound while written: the memory stays bounded.
        std::string batch;
        std::vector<Piece> pieces;
        uint64_t lines = 0;
        while (!queue_.empty() &&
               (batch.empty() || batch.size() + queue_.front().text.size() <= kBatchBytes)) {
            batch += queue_.front().text;
            pieces.push_back({batch.size(), queue_.front().tells});
            lines += linesOf(queue_.front().text);
            queue_.pop_front();
        }
        lock.unlock();
        if (before_write) before_write();
        const size_t written = writeAll(fd_, batch, before_wait);
        lock.lock();
        texts_ -= pieces.size();
        bytes_ -= batch.size();
        lines_ -= lines;
        written_ += pieces.size();
        // A failed descriptor: what it did not take is counted, and told once it takes again
        // (with the next text: a count line now would only fail again).
        if (written < batch.size())
            left_out_ += linesLost(batch, pieces, written);
        else if (queue_.empty() && left_out_)
            queueLeftOutLine();
        written_cv_.notify_all();
    }
}

namespace console {
namespace {

// Made once and never destroyed: threads still write while static destructors run.
std::atomic<ConsoleWriter*> g_writers[2] = {};
FILE* g_stdio[2] = {};  // stdio's own stdout and stderr, before start()

FILE* fileOf(Stream stream) {
    return stream == kOut ? stdout : stderr;
}

// stdio's stdout and stderr, for what prints with printf and fprintf (the libraries, Qt's own
// handler, the older code): their text goes to the queue as stdio hands it over, line by line.
ssize_t queueFromStdio(void* stream, const char* text, size_t size) {
    console::write(Stream(reinterpret_cast<intptr_t>(stream)), std::string(text, size));
    return ssize_t(size);
}

FILE* queuedStream(Stream stream) {
    cookie_io_functions_t io{};
    io.write = queueFromStdio;
    FILE* file = ::fopencookie(reinterpret_cast<void*>(intptr_t(stream)), "w", io);
    if (file) std::setvbuf(file, nullptr, _IOLBF, 4096);
    return file;
}

}  // namespace

void start() {
    if (g_writers[kOut].load()) return;
    std::fflush(stdout);
    std::fflush(stderr);
    g_writers[kErr].store(new ConsoleWriter(STDERR_FILENO, "stderr"));
    g_writers[kOut].store(new ConsoleWriter(STDOUT_FILENO, "stdout"));
    g_stdio[kOut] = stdout;
    g_stdio[kErr] = stderr;
    if (FILE* out = queuedStream(kOut)) stdout = out;
    if (FILE* err = queuedStream(kErr)) stderr = err;
    // Every end but a signal's (whose stop waits itself) and _exit: what is queued goes out.
    static const bool once = std::atexit([] { finish(); }) == 0;
    (void)once;
}

void stopForTests() {
    if (!g_writers[kOut].load()) return;
    std::fflush(stdout);
    std::fflush(stderr);
    FILE* queued[2] = {stdout, stderr};
    stdout = g_stdio[kOut];
    stderr = g_stdio[kErr];
    for (FILE* f : queued) std::fclose(f);
    for (auto& writer : g_writers) delete writer.exchange(nullptr);
}

void write(Stream stream, std::string text) {
    if (ConsoleWriter* writer = g_writers[stream].load())
        writer->write(std::move(text));
    else
        std::fputs(text.c_str(), fileOf(stream));
}

void line(Stream stream, const std::string& text) {
    write(stream, text + '\n');
}

std::string format(const char* fmt, va_list args) {
    char small[256];
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, args);
    std::string text;
    if (n < int(sizeof small)) {
        text.assign(small, size_t(std::max(n, 0)));
    } else {
        text.resize(size_t(n) + 1);
        std::vsnprintf(text.data(), text.size(), fmt, again);
        text.resize(size_t(n));
    }
    va_end(again);
    return text;
}

void outf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    write(kOut, format(fmt, args));
    va_end(args);
}

void errf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    write(kErr, format(fmt, args));
    va_end(args);
}

bool finish() {
    std::fflush(stdout);
    std::fflush(stderr);
    ConsoleWriter* out = g_writers[kOut].load();
    ConsoleWriter* err = g_writers[kErr].load();
    if (!out || !err) return true;
    const auto now = std::chrono::steady_clock::now();
    const bool errWritten = err->flush(now + kEndWait);
    const bool outWritten = out->flush(now + kEndWait);
    if (errWritten && outWritten) return true;
    // The count goes where it may still be read.
    const auto leftAtTheEnd = [](const char* name, uint64_t n) {
        return std::string(name) + " took no more: " + std::to_string(n) +
               (n == 1 ? " line" : " lines") + " left out at the end\n";
    };
    const auto later = std::chrono::steady_clock::now() + kEndWaitForTheCount;
    if (!outWritten && errWritten) {
        err->write(leftAtTheEnd("stdout", out->linesWaiting()));
        err->flush(later);
    }
    if (!errWritten && outWritten) {
        out->write(leftAtTheEnd("stderr", err->linesWaiting()));
        out->flush(later);
    }
    return false;
}

}  // namespace console
