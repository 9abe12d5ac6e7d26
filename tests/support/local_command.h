// Local tools the tests run themselves (the program's own shell is simulated): each reads only
// files under a test's temporary root.
#pragma once

#include <string>

// What the command prints on its standard output ("" when it can't be started).
std::string commandOutput(const std::string& command);

// What the command prints on its standard output and error together, and its exit status (-1
// when it can't be started or did not exit).
struct CommandResult {
    std::string output;
    int status = -1;
};
CommandResult commandResult(const std::string& command);

bool edidDecodeAvailable();
// edid-decode's whole verdict (--check, errors included) on an EDID file.
std::string edidDecodeFile(const std::string& file);
