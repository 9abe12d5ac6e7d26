// How the program stops on Ctrl-C, SIGTERM or SIGHUP, on the box and on the simulated box alike:
// the handler only writes the signal to a pipe; the thread that reads it has the PC links refuse
// every frame from then on, and wakes the main thread, which takes the store's last requests and
// writes every file job waiting (within 10 s), says the errors held back (writeLogMsgFlush),
// runs the stop hooks (the simulated box removes its leftovers), waits for the console's writers
// within their bound and ends by the signal, its default action restored, so that the exit
// status is the signal's. A signal the starter ignores (SIGHUP under nohup) stays ignored.
// The main thread may be busy (start-up waits, a page drawing): a stop it has not begun 2 s
// after the signal is done, the same way, by the thread that reads the pipe.
#pragma once

#include <functional>

#include "core/zem_ram_para.h"

namespace stop_signal {

// Installs the handlers and starts the thread that reads the pipe; once, in main, once the
// application exists (before, a signal ends the program at once, as it would by default).
// Without its pipe or its eventfd it installs nothing, and says so on the terminal.
void install();
// A function run at a stop by signal, from the main thread or the pipe's thread: short, and
// harmless run twice. At most four.
void addHook(void (*hook)());

// ===== tests =====
// The stop's own work as a signal's stop does it, on the caller's thread (any): frames refused
// from here on, the store's last requests, its drain within 10 s (its saver then refuses jobs
// until started again), the errors held back, the hooks; without the wait for the main thread
// and without the end.
void runStopWork() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
// A restart after runStopWork: frames are answered again (start the store's saver again too).
void resetAfterStopWork();
struct TestHooks {
    // Run in place of the end by the signal, on the thread that did the stop's work.
    std::function<void(int sig)> end;
    // Asked by install() before its pipe2 and its eventfd ("pipe2", "eventfd"): true has the call
    // fail as with no descriptor left.
    std::function<bool(const char* call)> fail;
};
TestHooks& hooks();
// Readable once the pipe's thread took a signal (and frames are refused): the main thread's wake.
int wakeDescriptor();

}  // namespace stop_signal
