// The whole program as a child process on the simulated box with its own root, for the
// benchmarks that measure it from outside.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

// Started with "--sim root", its console discarded.
inline pid_t startProgram(const std::string& root) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        execl(ZEM_PROGRAM, ZEM_PROGRAM, "--sim", root.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// The program's TCP port from "<root>/sim/links"; 0 when it is not listening.
inline uint16_t tcpPort(const std::string& root) {
    std::ifstream in(root + "/sim/links");
    std::string link, port;
    while (in >> link >> port)
        if (link == "tcp" && port != "none") return uint16_t(std::stoi(port));
    return 0;
}
