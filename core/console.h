// The console (stdout, the box's serial console) and the terminal (stderr) behind bounded
// queues, each emptied by a thread of its own: no thread of the box ever waits on a terminal
// whose reader stopped (or one paused with Ctrl-S) or on a pipe nobody reads. Only the writer
// threads wait on their descriptor; its flags stay as the starter made them (a shell or tee
// shares them), never O_NONBLOCK, and on one the starter made non-blocking the writer waits
// for it to take more (poll) as on any other.
// A text past the queue's bound is left out and counted while the descriptor takes no more;
// once it takes again one line says how many were left out, where they were. What a descriptor
// that fails (a reader that closed its end) did not take is counted with them. Texts keep their
// order on each descriptor, and are written as they stand: a text ends with its own newline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/thread_safety.h"

class ConsoleWriter {
public:
    // 2,048 texts or 128 KiB each, whichever comes first: several of the video processor's
    // dumps, and at most 256 KiB for both on the box.
    static constexpr size_t kMaxTexts = 2048;
    static constexpr size_t kMaxBytes = 128 * 1024;

    // fd stays open and is not owned; name ("stdout") is what the count line calls it.
    ConsoleWriter(int fd, const char* name, size_t maxTexts = kMaxTexts,
                  size_t maxBytes = kMaxBytes);
    // Writes what is queued, then ends its thread (tests; the program's two live to its end).
    ~ConsoleWriter();
    ConsoleWriter(const ConsoleWriter&) = delete;
    ConsoleWriter& operator=(const ConsoleWriter&) = delete;

    // Queues text, or leaves it out when the queue is full; never waits on the descriptor.
    void write(std::string text);
    // Waits until every text queued so far is written, at most until `deadline`; false when
    // some were still waiting then.
    bool flush(std::chrono::steady_clock::time_point deadline);
    // The lines queued and not yet written (a text without a newline counts as one).
    uint64_t linesWaiting() const;

    // ===== tests =====
    // Run by the writer thread before each write on its descriptor.
    std::function<void()> before_write;
    // Run by the writer thread when its descriptor takes no more, before it waits for it.
    std::function<void()> before_wait;

private:
    void run() EXCLUDES(mutex_);
    // The count line of the texts left out, put in the queue where they were left out.
    void queueLeftOutLine() REQUIRES(mutex_);

    const int fd_;
    const char* const name_;
    const size_t max_texts_, max_bytes_;
    mutable zem::Mutex mutex_;  // a leaf: taken under any other lock, with nothing under it
    zem::ConditionVariable work_cv_;
    zem::ConditionVariable written_cv_;
    struct Text {
        std::string text;
        uint64_t tells = 0;  // a count line's: the lines it tells of
    };
    std::deque<Text> queue_ GUARDED_BY(mutex_);
    size_t texts_ GUARDED_BY(mutex_) = 0;  // waiting or being written
    size_t bytes_ GUARDED_BY(mutex_) = 0;
    uint64_t lines_ GUARDED_BY(mutex_) = 0;
    uint64_t left_out_ GUARDED_BY(mutex_) = 0;  // lines left out and not yet told
    uint64_t queued_ GUARDED_BY(mutex_) = 0;
    uint64_t written_ GUARDED_BY(mutex_) = 0;
    bool ending_ GUARDED_BY(mutex_) = false;
    std::thread thread_;  // set in the constructor, joined in the destructor
};

namespace console {

enum Stream { kOut, kErr };  // stdout (the console), stderr (the terminal)

// The program's writers, started first thing in main; stdio's stdout and stderr then hand what
// printf and fprintf print (libraries, Qt's own handler) to them too, line by line. The end
// (exit) waits for them as finish() does. Until then (and in tests that do not
// start them) a text goes out at once on the caller through stdio, as a test's capture of
// stdout or stderr expects.
void start();
// Tests that start the writers in a process that goes on: what is queued is written (the
// descriptors must take it), the writers end, and texts go out through stdio again. No other
// thread may write meanwhile.
void stopForTests();
// Queues text as it stands.
void write(Stream stream, std::string text);
// Queues text and a newline.
void line(Stream stream, const std::string& text);
// A formatted text on the console, as printf would print it, of any length.
void outf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same on the terminal.
void errf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// What printf would print.
std::string format(const char* fmt, va_list args);
// The end's wait: stderr and stdout written, at most kEndWait; a descriptor that still holds
// lines then has their count said on the other one. false when some were left.
constexpr auto kEndWait = std::chrono::milliseconds(1500);
constexpr auto kEndWaitForTheCount = std::chrono::milliseconds(500);
bool finish();

}  // namespace console
