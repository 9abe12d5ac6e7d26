// How the program stops on Ctrl-C, SIGTERM or SIGHUP, on the box and on the simulated box alike:
// the handler only writes the signal to a pipe; the main thread then has the PC links refuse
// frames, takes the store's last requests and writes every file job waiting (within 10 s), says
// the errors held back (writeLogMsgFlush), runs the stop hooks (the simulated box removes its
// leftovers) and ends by the signal, its default action restored, so that the exit status is
// the signal's. A signal the starter ignores (SIGHUP under nohup) stays ignored.
// No step waits on the terminal: its last lines go out only when it takes them at once.
// The main thread may be busy (start-up waits, a page drawing): a stop it has not begun 2 s
// after the signal is done by the thread that reads the pipe, with the jobs already waiting.
#pragma once

namespace stop_signal {

// Installs the handlers and starts the thread that reads the pipe; once, in main, once the
// application exists (before, a signal ends the program at once, as it would by default).
void install();
// A function run at a stop by signal, from the main thread or the pipe's thread: short, and
// harmless run twice. At most four.
void addHook(void (*hook)());

}  // namespace stop_signal
