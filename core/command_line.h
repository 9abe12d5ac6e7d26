// The program's command line: "--sim DIR" (or ZEM_SIM_ROOT) and "--help" are its own; the
// options of Qt it knows (-platform linuxfb, as the box starts it) are left for QApplication.
// Anything else that looks like an option is refused before the program touches anything.
#pragma once

#include <string>

// Takes the program's own options out of argv (Qt must not see them) and sets simRoot to DIR,
// else ZEM_SIM_ROOT, else "". -1 to start; otherwise the exit status after the usage on stdout
// (0) or one error line on stderr (1).
int readCommandLine(int& argc, char** argv, std::string& simRoot);
